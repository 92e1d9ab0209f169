#include "LoginWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <optional>
#include <stdexcept>

#include "ApplicationTitle.h"
#include "CanConnect.h"
#include "ClassicLook.h"
#include "ErrorTrap.h"
#include "InputGuard.h"
#include "Layout.h"
#include "Pointer.h"
#include "ProgramFiles.h"
#include "SideNames.h"
#include "TableCatalogue.h"
#include "TableSelectionWindow.h"
#include "WhilePainting.h"
#include "WindowRegistry.h"

namespace windows {

using connection::BuildConnectionString;
using connection::LoginDetails;
using connection::SettingKey;

namespace {

constexpr char kDownloadPage[] = "https://www.sqlmanager.net/products/mssql/manager/download";

// Opens and closes a connection with the details: the driver's reason when
// it cannot be opened, nothing when it opened. Creating the connection
// object may throw (no data layer): that failure is the calling step's.
std::optional<QString> ConnectFailure(const LoginDetails& details, data::DataAccess& data) {
    const std::unique_ptr<data::Connection> connection = data.CreateConnection();
    try {
        connection->Open(BuildConnectionString(details));
    } catch (...) {
        return app::DescribeFailure(std::current_exception());
    }
    try {
        connection->Close();
    } catch (...) {
    }
    return std::nullopt;
}

}  // namespace

QString HelpText() {
    const QString cr(QLatin1Char('\r'));
    return QStringLiteral(
               "If you cannot establish connection to your MS SQL Server database with "
               "this program, please go to: ") +
           cr + cr + QString::fromLatin1(kDownloadPage) + cr + cr +
           QStringLiteral(
               "Download and install the EMS SQL Manager 2005 Lite for SQL Server. Try "
               "to connect to ") +
           QStringLiteral(
               "the same database (with the same login information you are using "
               "here). This will determine if ") +
           QStringLiteral("the login you are using is correct.") + cr + cr +
           QStringLiteral(
               "If you are using Microsoft SQL Server Express Edition and connecting "
               "locally, you may need to use") +
           cr + cr + QStringLiteral("localhost\\SQLEXPRESS") + cr + cr +
           QStringLiteral("for example, for Server.");
}

LoginWindow::Tags LoginWindow::TagsFor(compare::Side side) {
    if (side == compare::Side::First) {
        return {app::kForm1HelpTag, app::kForm1NextTag, app::kForm1TestConnectionTag,
                app::kForm1LoadTag};
    }
    return {app::kForm4HelpTag, app::kForm4NextTag, app::kForm4TestConnectionTag,
            app::kForm4LoadTag};
}

LoginWindow::LoginWindow(WindowRegistry& registry, compare::Side side)
    : Window(registry),
      side_(side),
      keys_(side == compare::Side::First ? connection::kFirstLoginSettings
                                         : connection::kSecondLoginSettings),
      tags_(TagsFor(side)) {
    setFont(ArialFont(9, true));
    setFixedSize(Twips(8040), Twips(3960));

    Frame1 = Place(new QGroupBox(QStringLiteral("MS SQL Server Login"), this), "Frame1", 120, 120,
                   7800, 3195);
    Label2 = Place(new QLabel(QStringLiteral("Server:"), Frame1), "Label2", 240, 405, 1095, 255);
    Text1 = Place(new QLineEdit(Frame1), "Text1", 1320, 360, 4575, 345);
    Label9 = Place(new QLabel(QStringLiteral("Port:"), Frame1), "Label9", 6120, 405, 495, 255);
    Text9 = Place(new QLineEdit(Frame1), "Text9", 6600, 360, 975, 345);
    Label1 = Place(new QLabel(QStringLiteral("Username:"), Frame1), "Label1", 240, 885, 1095, 255);
    Text2 = Place(new QLineEdit(Frame1), "Text2", 1320, 840, 6255, 345);
    Label4 = Place(new QLabel(QStringLiteral("Password:"), Frame1), "Label4", 240, 1365, 1095, 255);
    Text3 = Place(new QLineEdit(Frame1), "Text3", 1320, 1320, 6255, 345);
    Label3 = Place(new QLabel(QStringLiteral("Database:"), Frame1), "Label3", 240, 1845, 975, 255);
    Text4 = Place(new QLineEdit(Frame1), "Text4", 1320, 1800, 6255, 345);
    Check7 = Place(new QCheckBox(QStringLiteral("Local Connection"), Frame1), "Check7", 1320, 2250,
                   1950, 255);
    // Beside "Local Connection", over "Help": the window keeps its size.
    Check8 = Place(new QCheckBox(QStringLiteral("Encrypt the connection"), Frame1), "Check8", 3960,
                   2250, 3600, 255);
    Check8->setToolTip(
        QStringLiteral("Every packet in TLS, or no connection. Unticked, the driver encrypts the "
                       "login only, unless the server requires more."));
    PushButton5 = Place(new QPushButton(QStringLiteral("Test Connection"), Frame1), "PushButton5",
                        240, 2610, 3600, 405);
    PushButton2 = Place(new QPushButton(QStringLiteral("Help"), Frame1), "PushButton2", 3960, 2610,
                        3600, 405);
    PushButton3 =
        Place(new QPushButton(QStringLiteral("Next >"), this), "PushButton3", 120, 3440, 7800, 405);

    // Every character of the password shows as "*".
    Text3->setEchoMode(QLineEdit::Password);
    Text3->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    for (QPushButton* b : {PushButton5, PushButton2, PushButton3}) {
        b->setFont(ArialFont(11.25, true));
        b->setAutoDefault(false);
    }

    setTabOrder(Text1, Text9);
    setTabOrder(Text9, Text2);
    setTabOrder(Text2, Text3);
    setTabOrder(Text3, Text4);
    setTabOrder(Text4, PushButton5);
    setTabOrder(PushButton5, PushButton2);
    setTabOrder(PushButton2, Check7);
    setTabOrder(Check7, Check8);
    setTabOrder(Check8, PushButton3);
    Text1->setFocus();

    connectControls();
}

void LoginWindow::storeOnChange(QLineEdit* field, const SettingKey& key) {
    connect(field, &QLineEdit::textChanged, this,
            [this, &key](const QString& text) { store(key, text); });
    field->installEventFilter(this);
}

void LoginWindow::store(const SettingKey& key, const QString& text) {
    // What the load puts in the fields came from the store: writing it back
    // could only replace a file that could not be read.
    if (loadingStored_) return;
    settings_.write(key, text);
    // A new login's ticked box is a choice too: stored with its first value,
    // or the next start would take the login for an older version's.
    if (settings_.read(keys_.encrypt).isEmpty()) {
        settings_.write(keys_.encrypt,
                        Check8->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    }
}

bool LoginWindow::eventFilter(QObject* watched, QEvent* event) {
    // Entering a field selects its whole text, so that typing replaces it.
    if (event->type() == QEvent::FocusIn) {
        if (auto* field = qobject_cast<QLineEdit*>(watched)) field->selectAll();
    }
    return Window::eventFilter(watched, event);
}

LoginDetails LoginWindow::CurrentLoginDetails() const {
    return LoginDetails{Text1->text(), Text2->text(),       Text3->text(),      Text4->text(),
                        Text9->text(), Check7->isChecked(), Check8->isChecked()};
}

void LoginWindow::Form_Load() {
    ErrorTrap trap(registry().boxes(), tags_.load);
    trap.step(100, [&] { ApplySkin(*this, registry().programFolder()); });
    if (side_ == compare::Side::First) {
        trap.step(104, [&] { setWindowTitle(QString::fromLatin1(app::kProductName)); });
    } else {
        trap.step(104, [&] { setWindowTitle(QStringLiteral("Second table: log in")); });
    }
    trap.step(104, [&] { setWindowIcon(ProgramIcon()); });
    if (side_ == compare::Side::First) trap.step(104, [&] { app::ApplyApplicationTitle(); });
    LoadPointerFile(trap, 124, 126);
    loadingStored_ = true;
    trap.step(128, [&] { Text1->setText(settings_.read(keys_.server)); });
    trap.step(130, [&] { Text2->setText(settings_.read(keys_.user)); });
    trap.step(132, [&] { Text3->setText(settings_.read(keys_.password)); });
    trap.step(134, [&] { Text4->setText(settings_.read(keys_.database)); });
    trap.step(136, [&] { Text9->setText(settings_.read(keys_.port)); });
    trap.step(138, [&] {
        Check7->setChecked(connection::IsTicked(settings_.read(keys_.localConnection)));
        Check8->setChecked(connection::EncryptionStored(settings_.read(keys_.encrypt),
                                                        settings_.read(keys_.server)));
    });
    loadingStored_ = false;
    // The second login is asked for when the user chooses another server: the
    // first window has already said what there was to say about the file.
    if (side_ == compare::Side::Second) return;
    // Said once: the user must know why the fields are empty, or that changes are not kept.
    const QString file = settings_.fileName();
    if (settings_.access() == connection::SettingsStore::Access::Unreadable) {
        registry().boxes().show(
            QStringLiteral("The stored login details could not be read from %1. The file is "
                           "left as it is until you change a field.")
                .arg(file),
            QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
    } else if (settings_.access() == connection::SettingsStore::Access::ReadOnly) {
        registry().boxes().show(
            QStringLiteral("The login details are not stored: %1 is read-only.").arg(file),
            QString(), ui::Buttons::Ok, ui::Icon::Information);
    }
    if (trap.test(140, [&] {
            return !Text1->text().isEmpty() && !Text2->text().isEmpty() &&
                   !Text3->text().isEmpty() && !Text4->text().isEmpty();
        })) {
        // A stored login is tried before the window shows: when the server is
        // slow to answer, the window shows itself meanwhile, busy.
        const InputGuard ignoreInput;
        const auto showBusy = [&] {
            Show();
            SetMousePointer(kPointerBusy);
        };
        const bool reached = trap.test(142, [&] {
            const LoginDetails details = CurrentLoginDetails();
            data::DataAccess& data = registry().data();
            return WhilePainting([&] { return connection::CanConnect(details, data); }, showBusy);
        });
        if (MousePointer() == kPointerBusy) SetMousePointer(kPointerNormal);
        if (reached) {
            trap.step(144, [&] { PushButton3_Click(true); });
        }
    }
}

void LoginWindow::PushButton5_Click() {
    const InputGuard ignoreInput;  // the connect waits while the windows paint
    ErrorTrap trap(registry().boxes(), tags_.testConnection);
    std::unique_ptr<data::Connection> connection;
    trap.step(100, [&] { connection = registry().data().CreateConnection(); });
    // From here on a failure is answered by the could-not-connect message, not the report.
    bool failed = false;
    QString reason;
    try {
        SetMousePointer(kPointerBusy);  // 102
        if (!connection) throw std::runtime_error("No connection object");
        LoginDetails details = CurrentLoginDetails();
        details.localConnection = Check7->isChecked();  // 104
        const QString connectionString = BuildConnectionString(details);
        data::Connection& opening = *connection;
        WhilePainting([&] { opening.Open(connectionString); });             // 106 / 108
        registry().boxes().show(QStringLiteral("Connection successful."));  // 110
        SetMousePointer(kPointerNormal);                                    // 112
    } catch (...) {
        failed = true;
        reason = app::DescribeFailure(std::current_exception());
    }
    if (failed) {  // 114
        // The driver's reason goes behind "Show Details...": wrong password,
        // unknown database and no server each say what they are.
        registry().boxes().show(
            QStringLiteral("Could not connect. Please check with your administrator."),  // 116
            QString(), ui::Buttons::Ok, ui::Icon::None, reason);
        SetMousePointer(kPointerNormal);  // 118
    }
    connection.reset();  // releasing the object closes the connection
}

void LoginWindow::PushButton3_Click(bool quietFailure) {
    // The server is asked on another thread while the windows paint; a second
    // click meanwhile would fill the lists again inside this fill.
    const InputGuard ignoreInput;
    ErrorTrap trap(registry().boxes(), tags_.next);
    if (!trap.test(100, [&] { return !Text1->text().isEmpty(); })) return;
    const LoginDetails details = CurrentLoginDetails();
    data::DataAccess& data = registry().data();
    SetMousePointer(kPointerBusy);
    const auto read = [&](const LoginDetails& login) {
        const bool withViews = registry().tableSelectionWindow().showsViews();
        return WhilePainting([&] { return catalogue::ReadTableCatalogue(login, data, withViews); });
    };
    QString reason;
    const bool reached = trap.test(102, [&] {
        return WhilePainting([&] {
            const std::optional<QString> failure = ConnectFailure(details, data);
            if (failure) reason = *failure;
            return !failure;
        });
    });
    if (!reached) {
        SetMousePointer(kPointerNormal);
        // The window stays; the driver's reason says what to change.
        if (!quietFailure) {
            trap.step(112, [&] {
                registry().boxes().show(
                    QStringLiteral("Could not connect. Please check with your administrator."),
                    QString(), ui::Buttons::Ok, ui::Icon::None, reason);
            });
        }
        return;
    }
    TableSelectionWindow& tables = registry().tableSelectionWindow();
    if (side_ == compare::Side::First) {
        // Both lists show the same catalogue when the second table comes from
        // this database: one whole read serves both; a read that failed is
        // tried again for the second list.
        std::optional<catalogue::CatalogueRead> whole;
        trap.step(104, [&] {
            const catalogue::CatalogueRead first = read(details);
            if (!first.failure) whole = first;
            tables.FillTableList(compare::Side::First, first);
        });
        trap.step(106, [&] {
            tables.ForgetServerDatabases();  // the login may name another server now
            const LoginDetails second = tables.SecondSideLogin();
            const bool shared = whole && compare::SameDatabase(second, details);
            tables.FillTableList(compare::Side::Second, shared ? *whole : read(second));
        });
    } else {
        // Only the second list changes; a login whose catalogue cannot be
        // opened keeps this window, as one that cannot connect does.
        std::optional<catalogue::CatalogueRead> second;
        if (!trap.step(106, [&] { second = read(details); })) {
            SetMousePointer(kPointerNormal);
            return;
        }
        trap.step(106, [&] { tables.UseSecondLogin(*second); });
    }
    SetMousePointer(kPointerNormal);
    trap.step(108, [&] { tables.Show(); });
    trap.step(110, [&] { Hide(); });
}

void LoginWindow::closeEvent(QCloseEvent* event) {
    if (side_ == compare::Side::First) return Window::closeEvent(event);
    // Closing the second login gives up another server: back to the table
    // selection, whose second list keeps the tables it had.
    event->accept();
    hide();
    TableSelectionWindow& tables = registry().tableSelectionWindow();
    tables.SecondLoginAbandoned();
    tables.Show();
}

void LoginWindow::PushButton2_Click() {
    ErrorTrap trap(registry().boxes(), tags_.help);
    ui::MessageBoxes& boxes = registry().boxes();
    trap.step(114, [&] { boxes.show(HelpText()); });
    trap.step(
        116, [&] { boxes.show(QStringLiteral("You must have Access 2000 or higher installed.")); });
    if (trap.test(118, [&] {
            return boxes.show(
                       QStringLiteral("Would you like to see an image of how I connect locally?"),
                       QString(), ui::Buttons::YesNo) == ui::Answer::Yes;
        })) {
        trap.step(120, [&] {
            registry().shell().openFile(
                app::InstalledProgramFile(registry().programFolder(), app::kHelpPicture));
        });
    }
}

// Each control's pointer, what it stores as it changes, and its handler.
void LoginWindow::connectControls() {
    for (QWidget* w : {static_cast<QWidget*>(Frame1), static_cast<QWidget*>(Text1),
                       static_cast<QWidget*>(Text2), static_cast<QWidget*>(Text3),
                       static_cast<QWidget*>(Text4), static_cast<QWidget*>(Text9)}) {
        AddPointerHandler(w, PointerHandler::Normal);
    }
    for (QPushButton* b : {PushButton2, PushButton3, PushButton5}) {
        AddPointerHandler(b, PointerHandler::Hand);
    }
    for (QWidget* w : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2),
                       static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4),
                       static_cast<QWidget*>(Label9), static_cast<QWidget*>(Check7),
                       static_cast<QWidget*>(Check8)}) {
        AddNoPointerHandler(w);
    }

    storeOnChange(Text1, keys_.server);
    storeOnChange(Text2, keys_.user);
    storeOnChange(Text3, keys_.password);
    storeOnChange(Text4, keys_.database);
    storeOnChange(Text9, keys_.port);
    connect(Check7, &QCheckBox::toggled, this, [this](bool ticked) {
        store(keys_.localConnection, ticked ? QStringLiteral("1") : QStringLiteral("0"));
    });
    connect(Check8, &QCheckBox::toggled, this, [this](bool ticked) {
        store(keys_.encrypt, ticked ? QStringLiteral("1") : QStringLiteral("0"));
    });

    connect(PushButton5, &QPushButton::clicked, this, [this] { PushButton5_Click(); });
    connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
}

}  // namespace windows
