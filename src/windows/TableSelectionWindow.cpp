#include "TableSelectionWindow.h"

#include <optional>

#include "ApplicationTitle.h"
#include "ClassicLook.h"
#include "ComparisonOptionsDialog.h"
#include "ErrorTrap.h"
#include "InputGuard.h"
#include "Layout.h"
#include "LoginWindow.h"
#include "Pointer.h"
#include "RecordKey.h"
#include "Settings.h"
#include "SideNames.h"
#include "TableCatalogue.h"
#include "TableShapes.h"
#include "WhilePainting.h"
#include "WindowRegistry.h"

namespace windows {

namespace {

// The stored choice: "This database", "Another server", or a database of the
// login's server after a prefix (a database may be called "This database").
const QString kThisDatabase = QStringLiteral("This database");
const QString kAnotherServer = QStringLiteral("Another server");
const QString kDatabasePrefix = QStringLiteral("Database:");

// A table's column names, asked of its server without reading a row.
QStringList ColumnNames(data::Connection& connection, const QString& connectionString,
                        const catalogue::TableName& table) {
    connection.Open(connectionString);
    const data::ResultTable shape = compare::DescribeTable(connection, table, {}).columns;
    connection.Close();
    QStringList names;
    for (int k = 0; k < shape.fieldCount(); ++k) names << shape.column(k).name();
    return names;
}

}  // namespace

void OnDemandComboBox::showPopup() {
    if (beforePopup) beforePopup();
    QComboBox::showPopup();
}

TableSelectionWindow::TableSelectionWindow(WindowRegistry& registry) : Window(registry) {
    setFont(ArialFont(9, true));
    // One row below the buttons holds the comparison's options, the next
    // where the second list's tables come from, the last the comparison of
    // all tables.
    setFixedSize(Twips(7080), Twips(6000));

    Label1 = Place(new QLabel(QStringLiteral(" Which 2 tables would you like to compare?"), this),
                   "Label1", 120, 120, 3735, 255);
    ListView1 = Place(new TableListView(this), "ListView1", 120, 480, 3360, 2640);
    ListView2 = Place(new TableListView(this), "ListView2", 3600, 480, 3360, 2640);
    // Under each list, the query read in place of its table.
    QueryButton1 = Place(new QPushButton(QStringLiteral("Query\u2026"), this), "QueryButton1", 120,
                         3180, 1260, 345);
    QueryButton2 = Place(new QPushButton(QStringLiteral("Query\u2026"), this), "QueryButton2", 3600,
                         3180, 1260, 345);
    for (QPushButton* b : {QueryButton1, QueryButton2}) b->setAutoDefault(false);
    querySources_ = new QuerySources(*this, *ListView1, *QueryButton1, *ListView2, *QueryButton2);
    ProgressBar1 = Place(new QProgressBar(this), "ProgressBar1", 120, 3660, 6840, 405);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    PushButton2 =
        Place(new QPushButton(QStringLiteral("< Back"), this), "PushButton2", 120, 4200, 3360, 405);
    PushButton3 = Place(new QPushButton(QStringLiteral("Next >"), this), "PushButton3", 3585, 4200,
                        3360, 405);
    for (QPushButton* b : {PushButton2, PushButton3}) {
        b->setFont(ArialFont(11.25));
        b->setAutoDefault(false);
    }
    PairByName = Place(new QCheckBox(QStringLiteral("Pair fields by name"), this), "PairByName",
                       120, 4700, 3360, 300);
    PairByKey = Place(new QCheckBox(QStringLiteral("Pair records by key"), this), "PairByKey", 3600,
                      4700, 2040, 300);
    Options = Place(new QPushButton(QStringLiteral("Options\u2026"), this), "Options", 5700, 4665,
                    1260, 345);
    Options->setAutoDefault(false);
    // Each option as the user last left it, stored as it changes.
    const auto storedOption = [this](QCheckBox* box, const connection::SettingKey& key) {
        box->setChecked(connection::SettingsStore().read(key) == QStringLiteral("1"));
        connect(box, &QCheckBox::toggled, this, [&key](bool ticked) {
            connection::SettingsStore().write(key,
                                              ticked ? QStringLiteral("1") : QStringLiteral("0"));
        });
    };
    storedOption(PairByName, connection::kPairFieldsByNameSetting);
    storedOption(PairByKey, connection::kPairRecordsByKeySetting);
    Label2 = Place(new QLabel(QStringLiteral("Second table from:"), this), "Label2", 120, 5145,
                   3360, 255);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Combo1 = Place(new OnDemandComboBox(this), "Combo1", 3600, 5100, 3360, 345);
    Combo1->addItem(QStringLiteral("This database"), static_cast<int>(Origin::ThisDatabase));
    Combo1->addItem(QStringLiteral("Another server\u2026"),
                    static_cast<int>(Origin::AnotherServer));
    Label2->setBuddy(Combo1);
    restoreOrigin();
    Combo1->beforePopup = [this] { listServerDatabases(); };
    AllTables = Place(new QPushButton(QStringLiteral("Compare all tables"), this), "AllTables",
                      3600, 5520, 3360, 345);
    AllTables->setAutoDefault(false);
    ShowViews =
        Place(new QCheckBox(QStringLiteral("Show views"), this), "ShowViews", 120, 5550, 3360, 300);
    storedOption(ShowViews, connection::kShowViewsSetting);

    QWidget* order[] = {ListView1,  QueryButton1, ListView2, QueryButton2, PushButton3, PushButton2,
                        PairByName, PairByKey,    Options,   Combo1,       ShowViews,   AllTables};
    for (std::size_t k = 1; k < std::size(order); ++k) setTabOrder(order[k - 1], order[k]);

    connectControls();
}

// The pointer each control shows, and the handlers behind the controls.
void TableSelectionWindow::connectControls() {
    for (QWidget* w :
         {static_cast<QWidget*>(Label1), ListView1->viewport(), ListView2->viewport()}) {
        AddPointerHandler(w, PointerHandler::Normal);
    }
    AddPointerHandler(PushButton2, PointerHandler::Hand);
    AddPointerHandler(PushButton3, PointerHandler::Hand);
    for (QWidget* w : std::initializer_list<QWidget*>{ProgressBar1, PairByName, PairByKey, Options,
                                                      Label2, Combo1, ShowViews, AllTables,
                                                      QueryButton1, QueryButton2}) {
        AddNoPointerHandler(w);
    }

    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
    connect(Options, &QPushButton::clicked, this, [this] { Options_Click(); });
    connect(AllTables, &QPushButton::clicked, this, [this] { AllTables_Click(); });
    // Stored first (storedOption's connection), then the lists follow.
    connect(ShowViews, &QCheckBox::clicked, this, [this] { ShowViews_Click(); });
    // Only the user's choices: the window's own changes of the choice run nothing.
    connect(Combo1, &QComboBox::activated, this, [this](int index) { Combo1_Click(index); });
}

void TableSelectionWindow::Form_Load() {
    ErrorTrap trap(registry().boxes(), app::kForm2LoadTag);
    trap.step(104, [&] { ApplyClassicColours(*this); });
    trap.step(104, [&] { setWindowIcon(ProgramIcon()); });
    LoadPointerFile(trap, 108, 110);
    trap.step(112, [&] { setWindowTitle(QString::fromLatin1(app::kProductName)); });
    trap.step(114, [&] { ListView1->AddColumnHeader(QStringLiteral("Similar Table #1")); });
    trap.step(116, [&] { ListView1->SetColumnWidth(Twips(4000)); });
    trap.step(118, [&] { ListView2->AddColumnHeader(QStringLiteral("Similar Table #2")); });
    trap.step(120, [&] { ListView2->SetColumnWidth(Twips(4000)); });
}

void TableSelectionWindow::PushButton2_Click() {
    ErrorTrap trap(registry().boxes(), app::kForm2BackTag);
    trap.step(100, [&] { registry().loginWindow().Show(); });
    trap.step(102, [&] { Hide(); });
}

void TableSelectionWindow::FillTableList(compare::Side side, const catalogue::CatalogueRead& read) {
    catalogue::FillTableList(side == compare::Side::First ? *ListView1 : *ListView2, read);
}

TableSelectionWindow::Origin TableSelectionWindow::originAt(int index) const {
    return static_cast<Origin>(Combo1->itemData(index).toInt());
}

void TableSelectionWindow::restoreOrigin() {
    const QString stored = connection::SettingsStore().read(connection::kSecondTableOriginSetting);
    if (stored == kAnotherServer) {
        originIndex_ = Combo1->count() - 1;
    } else if (stored.startsWith(kDatabasePrefix) && stored.size() > kDatabasePrefix.size()) {
        Combo1->insertItem(1, stored.mid(kDatabasePrefix.size()),
                           static_cast<int>(Origin::Database));
        originIndex_ = 1;
    }
    Combo1->setCurrentIndex(originIndex_);
}

// The second list now shows the choice at index: remembered, and stored.
void TableSelectionWindow::settleOrigin(int index) {
    originIndex_ = index;
    Combo1->setCurrentIndex(index);
    QString stored = kThisDatabase;
    if (originAt(index) == Origin::AnotherServer) stored = kAnotherServer;
    if (originAt(index) == Origin::Database) stored = kDatabasePrefix + Combo1->itemText(index);
    connection::SettingsStore().write(connection::kSecondTableOriginSetting, stored);
}

connection::LoginDetails TableSelectionWindow::SecondSideLogin() const {
    switch (originAt(originIndex_)) {
        case Origin::AnotherServer:
            return registry().secondLoginWindow().CurrentLoginDetails();
        case Origin::Database: {
            connection::LoginDetails login = registry().loginWindow().CurrentLoginDetails();
            login.database = Combo1->itemText(originIndex_);
            return login;
        }
        case Origin::ThisDatabase:
            break;
    }
    return registry().loginWindow().CurrentLoginDetails();
}

void TableSelectionWindow::ForgetServerDatabases() { databasesListed_ = false; }

// The server's other databases, asked for when the choice opens (the first
// time after each login), so that a user who never opens it costs the server
// nothing. A server that cannot list them leaves the choice as it is.
void TableSelectionWindow::listServerDatabases() {
    if (databasesListed_) return;
    const connection::LoginDetails login = registry().loginWindow().CurrentLoginDetails();
    data::DataAccess& data = registry().data();
    QStringList names;
    {
        const InputGuard ignoreInput;
        SetMousePointer(kPointerBusy);
        try {
            names = WhilePainting([&] { return catalogue::ReadServerDatabases(login, data); });
            databasesListed_ = true;
        } catch (...) {
        }
        SetMousePointer(kPointerNormal);
    }
    if (!databasesListed_) return;
    const bool chosenDatabase = originAt(originIndex_) == Origin::Database;
    const QString chosen = chosenDatabase ? Combo1->itemText(originIndex_) : QString();
    while (Combo1->count() > 2) Combo1->removeItem(1);
    QStringList databases;
    for (const QString& name : names) {
        if (name.compare(login.database, Qt::CaseInsensitive) != 0) databases << name;
    }
    if (chosenDatabase && !databases.contains(chosen, Qt::CaseInsensitive)) {
        databases << chosen;
        databases.sort(Qt::CaseInsensitive);
    }
    for (int i = 0; i < databases.size(); ++i) {
        Combo1->insertItem(1 + i, databases[i], static_cast<int>(Origin::Database));
    }
    if (chosenDatabase) originIndex_ = 1 + static_cast<int>(databases.indexOf(chosen));
    if (originAt(originIndex_) == Origin::AnotherServer || originIndex_ >= Combo1->count()) {
        originIndex_ = Combo1->count() - 1;
    }
    Combo1->setCurrentIndex(originIndex_);
}

void TableSelectionWindow::Combo1_Click(int index) {
    ErrorTrap trap(registry().boxes(), app::kForm2OriginTag);
    if (originAt(index) == Origin::AnotherServer) {
        // The second login's "Next >" brings the tables and settles the choice.
        trap.step(100, [&] { registry().secondLoginWindow().Show(); });
        trap.step(102, [&] { Hide(); });
        return;
    }
    if (index == originIndex_) return;
    connection::LoginDetails login = registry().loginWindow().CurrentLoginDetails();
    if (originAt(index) == Origin::Database) login.database = Combo1->itemText(index);
    data::DataAccess& data = registry().data();
    const InputGuard ignoreInput;
    SetMousePointer(kPointerBusy);
    std::optional<catalogue::CatalogueRead> read;
    // A database that cannot be opened leaves the list, and the choice, as they were.
    if (!trap.step(104, [&] {
            read = WhilePainting(
                [&] { return catalogue::ReadTableCatalogue(login, data, ShowViews->isChecked()); });
        })) {
        Combo1->setCurrentIndex(originIndex_);
        SetMousePointer(kPointerNormal);
        return;
    }
    settleOrigin(index);
    trap.step(106, [&] { FillTableList(compare::Side::Second, *read); });
    SetMousePointer(kPointerNormal);
}

// Both lists read again, with or without the views; a list whose database
// cannot be read keeps what it showed.
void TableSelectionWindow::ShowViews_Click() {
    ErrorTrap trap(registry().boxes(), app::kForm2ShowViewsTag);
    const connection::LoginDetails first = registry().loginWindow().CurrentLoginDetails();
    const connection::LoginDetails second = SecondSideLogin();
    const bool withViews = ShowViews->isChecked();
    data::DataAccess& data = registry().data();
    const InputGuard ignoreInput;
    SetMousePointer(kPointerBusy);
    const auto read = [&](const connection::LoginDetails& login) {
        return WhilePainting([&] { return catalogue::ReadTableCatalogue(login, data, withViews); });
    };
    std::optional<catalogue::CatalogueRead> whole;
    trap.step(100, [&] {
        const catalogue::CatalogueRead read1 = read(first);
        if (!read1.failure) whole = read1;
        FillTableList(compare::Side::First, read1);
    });
    trap.step(102, [&] {
        const bool shared = whole && compare::SameDatabase(second, first);
        FillTableList(compare::Side::Second, shared ? *whole : read(second));
    });
    SetMousePointer(kPointerNormal);
}

TablePair TableSelectionWindow::ChosenPair() const {
    const compare::SideNames names = compare::NameSides(
        {registry().loginWindow().CurrentLoginDetails(), ListView1->SelectedTable()},
        {SecondSideLogin(), ListView2->SelectedTable()});
    return {names.first, names.second};
}

OptionChoices TableSelectionWindow::ChosenPairOptions() const {
    const TablePair pair = ChosenPair();
    const auto set = pairOptions_.find({pair.first, pair.second});
    return set != pairOptions_.end() ? set->second : StoredPairOptions(pair);
}

// The options belong to the chosen pair; both tables' columns are asked for
// now (no rows: cheap whatever their size), each on its side's connection,
// while the windows paint. Esc gives up at once, even on a connect that
// cannot be interrupted: the question is then left to end alone.
void TableSelectionWindow::Options_Click() {
    if (ListView1->Count() == 0 || ListView2->Count() == 0) {
        registry().boxes().show(QStringLiteral("Please select a table from each."));
        return;
    }
    const TablePair pair = ChosenPair();
    const struct {
        connection::LoginDetails login;
        catalogue::TableName table;
        QString listed;
    } sides[] = {
        {registry().loginWindow().CurrentLoginDetails(), ListView1->SelectedTable(), pair.first},
        {SecondSideLogin(), ListView2->SelectedTable(), pair.second},
    };
    constexpr int kDescribeTimeoutSeconds = 30;
    std::optional<QStringList> columns[2];
    QString failure;
    QString unread;  // the table whose columns could not be read
    bool givenUp = false;
    {
        std::shared_ptr<data::Connection> connection;  // the one being asked
        const InputGuard ignoreInput([&] {
            givenUp = true;
            if (connection) connection->Cancel();
        });
        SetMousePointer(kPointerBusy);
        for (std::size_t k = 0; k < std::size(sides) && !givenUp && failure.isEmpty(); ++k) {
            const QString connectionString = connection::BuildConnectionString(sides[k].login);
            const catalogue::TableName table = sides[k].table;
            try {
                connection = registry().data().CreateConnection();
                connection->CommandTimeout = kDescribeTimeoutSeconds;
                columns[k] = WhilePaintingUnlessGivenUp(
                    [connection, connectionString, table] {
                        return ColumnNames(*connection, connectionString, table);
                    },
                    [&] { return givenUp; });
            } catch (const data::DataError& e) {
                failure = e.description();
            } catch (const std::exception& e) {
                failure = QString::fromUtf8(e.what());
            }
            if (!failure.isEmpty()) unread = sides[k].listed;
        }
        SetMousePointer(kPointerNormal);
    }
    if (givenUp) return;
    if (!failure.isEmpty()) {
        registry().boxes().show(
            QStringLiteral("The columns of %1 could not be read:\r\r%2").arg(unread, failure),
            QString(), ui::Buttons::Ok, ui::Icon::Exclamation);
        return;
    }
    auto* dialog = new ComparisonOptionsDialog(pair, {*columns[0], *columns[1]},
                                               {PairByKey->isChecked(), PairByName->isChecked()},
                                               ChosenPairOptions(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowIcon(ProgramIcon());
    optionsDialog_ = dialog;
    connect(dialog, &QDialog::accepted, this, [this, dialog, pair] {
        const OptionChoices chosen = dialog->options();
        pairOptions_[{pair.first, pair.second}] = chosen;
        StorePairOptions(pair, chosen);
    });
    dialog->open();
}

void TableSelectionWindow::UseSecondLogin(const catalogue::CatalogueRead& read) {
    settleOrigin(Combo1->count() - 1);
    FillTableList(compare::Side::Second, read);
}

void TableSelectionWindow::SecondLoginAbandoned() { Combo1->setCurrentIndex(originIndex_); }

}  // namespace windows
