#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include "ClassicLook.h"
#include "ErrorReport.h"
#include "InputGuard.h"
#include "Pointer.h"
#include "Tables.h"
#include "WindowFixture.h"

namespace {

// Moves the mouse over the middle of a control the way the windowing system
// does, so that the event reaches whatever widget lies under it.
void moveOver(QWidget* control) {
    QWidget* window = control->window();
    QTest::mouseMove(window->windowHandle(), control->mapTo(window, control->rect().center()));
}

using testing_support::SchemaRowset;
using testing_support::WindowFixture;

class LoginWindow : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        data.setSchemaTables(SchemaRowset({{"Orders", "TABLE"}, {"Orders2", "TABLE"}}));
    }
    QString report(const char* tag, int line, const QString& description) {
        return app::ComposeErrorReport(QString::fromLatin1(tag), line, description);
    }
};

TEST_F(LoginWindow, FirstStartWithEmptyStoreWaitsForInput) {
    windows::Start(registry());
    windows::LoginWindow& f = *registry().existingLoginWindow();
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Dorvantis"));
    EXPECT_EQ(f.serverEdit()->text(), QString());
    EXPECT_EQ(f.userEdit()->text(), QString());
    EXPECT_EQ(f.passwordEdit()->text(), QString());
    EXPECT_EQ(f.databaseEdit()->text(), QString());
    EXPECT_EQ(f.portEdit()->text(), QStringLiteral("1433"));
    EXPECT_FALSE(f.localConnectionBox()->isChecked());
    EXPECT_TRUE(data.opens().empty());
    EXPECT_EQ(registry().existingTableSelectionWindow(), nullptr);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(LoginWindow, StoredWorkingLoginMovesOnToTheTableSelection) {
    storeLogin();
    windows::Start(registry());
    ASSERT_NE(registry().existingTableSelectionWindow(), nullptr);
    EXPECT_FALSE(registry().loginWindow().isVisible());
    EXPECT_TRUE(registry().tableSelectionWindow().isVisible());
    EXPECT_EQ(items(*registry().tableSelectionWindow().firstTables()),
              (QStringList{"Orders", "Orders2"}));
    EXPECT_EQ(items(*registry().tableSelectionWindow().secondTables()),
              (QStringList{"Orders", "Orders2"}));
    // CanConnect twice (load, then "Next >"), then one catalogue read for both lists.
    ASSERT_EQ(data.opens().size(), 3u);
    EXPECT_EQ(
        data.opens()[0].connectionString,
        QStringLiteral("Driver={SQL Server};Server=db.example,1433;Database=testdb;Uid=tester;"
                       "Pwd=secret;"));
    EXPECT_EQ(data.openConnections(), 0);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(LoginWindow, AStoredLoginWithoutPasswordIsNotTriedAtStart) {
    storeLogin(QString());
    windows::Start(registry());
    EXPECT_TRUE(registry().loginWindow().isVisible());
    EXPECT_TRUE(data.opens().empty());  // not even an attempt
}

TEST_F(LoginWindow, UnreachableServerEndsTheLoadQuietly) {
    storeLogin();
    data.failAlways(data::Operation::Open,
                    QStringLiteral("[FreeTDS][SQL Server]Unable to connect"));
    windows::Start(registry());
    EXPECT_TRUE(registry().loginWindow().isVisible());
    EXPECT_EQ(registry().loginWindow().serverEdit()->text(), QStringLiteral("db.example"));
    EXPECT_EQ(data.log().filter(QRegularExpression(QStringLiteral("^Open "))).size(), 1);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(registry().existingTableSelectionWindow(), nullptr);
}

TEST_F(LoginWindow, NextWithEmptyServerDoesNothing) {
    windows::Start(registry());
    QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    EXPECT_TRUE(data.log().isEmpty());
    EXPECT_TRUE(registry().loginWindow().isVisible());
    EXPECT_EQ(registry().existingTableSelectionWindow(), nullptr);
}

// "Next >" with a login that fails says why, as "Test Connection" does, and
// stays; the load's own "Next >" of a stored login stays without a box.
TEST_F(LoginWindow, NextWithAFailingLoginSaysWhyAndStays) {
    const QString reason = QStringLiteral("[FreeTDS][SQL Server]Login failed for user 'tester'.");
    storeLogin();
    data.failOn(data::Operation::Open, reason, 2);  // the load's try works, its "Next >" not
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(registry().existingTableSelectionWindow(), nullptr);

    data.failAlways(data::Operation::Open, reason);
    QTest::mouseClick(f.nextButton(), Qt::LeftButton);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              QStringLiteral("Could not connect. Please check with your administrator."));
    EXPECT_EQ(boxes.boxes[0].details, reason);
    EXPECT_EQ(boxes.boxes[0].icon, ui::Icon::None);
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(f.MousePointer(), windows::kPointerNormal);
    EXPECT_EQ(registry().existingTableSelectionWindow(), nullptr);
    EXPECT_EQ(data.openConnections(), 0);
}

TEST_F(LoginWindow, NextNeedsOnlyTheServerAndAWorkingConnection) {
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    QTest::keyClicks(f.serverEdit(), QStringLiteral("db.example"));
    f.localConnectionBox()->setChecked(true);
    f.portEdit()->setText(QStringLiteral("9999"));
    QTest::mouseClick(f.nextButton(), Qt::LeftButton);
    ASSERT_FALSE(data.opens().empty());
    // Local connection: the port is sent by neither connection (CanConnect,
    // then the catalogue read once for both lists).
    ASSERT_EQ(data.opens().size(), 2u);
    for (const auto& open : data.opens()) {
        EXPECT_EQ(open.connectionString,
                  QStringLiteral("Driver={SQL Server};Server=db.example;Database=;Uid=;Pwd=;"
                                 "Encryption=require;"));
    }
    EXPECT_TRUE(registry().tableSelectionWindow().isVisible());
    EXPECT_FALSE(f.isVisible());
    // "Test Connection" builds its own string: no port either.
    QTest::mouseClick(registry().tableSelectionWindow().backButton(), Qt::LeftButton);
    QTest::mouseClick(f.testConnectionButton(), Qt::LeftButton);
    ASSERT_EQ(data.opens().size(), 3u);
    EXPECT_EQ(data.opens().back().connectionString,
              QStringLiteral("Driver={SQL Server};Server=db.example;Database=;Uid=;Pwd=;"
                             "Encryption=require;"));
    f.localConnectionBox()->setChecked(false);
    QTest::mouseClick(f.testConnectionButton(), Qt::LeftButton);
    EXPECT_EQ(data.opens().back().connectionString,
              QStringLiteral("Driver={SQL Server};Server=db.example,9999;Database=;Uid=;Pwd=;"
                             "Encryption=require;"));
}

TEST_F(LoginWindow, EveryFieldChangeIsStoredAtOnce) {
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    QTest::keyClicks(f.serverEdit(), QStringLiteral("ab"));
    {
        connection::SettingsStore store;
        EXPECT_EQ(store.read(connection::kServerSetting), QStringLiteral("ab"));
    }
    QTest::keyClicks(f.passwordEdit(), QStringLiteral("p;w"));
    f.portEdit()->clear();
    QTest::mouseClick(f.localConnectionBox(), Qt::LeftButton);
    connection::SettingsStore store;
    EXPECT_EQ(store.read(connection::kPasswordSetting), QStringLiteral("p;w"));
    EXPECT_EQ(store.read(connection::kPortSetting), QString());
    EXPECT_EQ(store.read(connection::kLocalConnectionSetting), QStringLiteral("1"));
    QTest::mouseClick(f.localConnectionBox(), Qt::LeftButton);
    EXPECT_EQ(connection::SettingsStore().read(connection::kLocalConnectionSetting),
              QStringLiteral("0"));
}

// "Encrypt the connection": ticked for a new login and stored with its first
// value, put into the connection string as it stands, kept for the next
// start; a login stored before the box existed stays unencrypted.
TEST_F(LoginWindow, TheEncryptBoxReachesTheConnectionStringAndTheStore) {
    const QString plain =
        QStringLiteral("Driver={SQL Server};Server=db.example,1433;Database=;Uid=;Pwd=;");
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    EXPECT_TRUE(f.encryptBox()->isChecked());
    QTest::keyClicks(f.serverEdit(), QStringLiteral("db.example"));
    EXPECT_EQ(connection::SettingsStore().read(connection::kEncryptSetting), QStringLiteral("1"));
    QTest::mouseClick(f.testConnectionButton(), Qt::LeftButton);
    ASSERT_EQ(data.opens().size(), 1u);
    EXPECT_EQ(data.opens().back().connectionString, plain + QStringLiteral("Encryption=require;"));

    QTest::mouseClick(f.encryptBox(), Qt::LeftButton);
    EXPECT_EQ(connection::SettingsStore().read(connection::kEncryptSetting), QStringLiteral("0"));
    QTest::mouseClick(f.testConnectionButton(), Qt::LeftButton);
    EXPECT_EQ(data.opens().back().connectionString, plain);
    endProgram();
    windows::Start(registry());
    EXPECT_FALSE(registry().loginWindow().encryptBox()->isChecked());

    endProgram();
    QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).removeRecursively();
    storeLogin();  // as an older version left it: no Encrypt key
    data.failAlways(data::Operation::Open, QStringLiteral("unreachable"));
    windows::Start(registry());
    EXPECT_FALSE(registry().loginWindow().encryptBox()->isChecked());
    QTest::keyClicks(registry().loginWindow().userEdit(), QStringLiteral("x"));
    EXPECT_EQ(connection::SettingsStore().read(connection::kEncryptSetting), QStringLiteral("0"));
}

TEST_F(LoginWindow, EnteringAFieldSelectsItsWholeText) {
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    QApplication::setActiveWindow(&f);
    f.userEdit()->setText(QStringLiteral("tester"));
    f.serverEdit()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(&f, Qt::Key_Tab);  // Text1 -> Text9
    QTest::keyClick(&f, Qt::Key_Tab);  // Text9 -> Text2
    ASSERT_TRUE(f.userEdit()->hasFocus());
    EXPECT_EQ(f.userEdit()->selectedText(), QStringLiteral("tester"));
    QTest::keyClicks(f.userEdit(), QStringLiteral("sa"));
    EXPECT_EQ(f.userEdit()->text(), QStringLiteral("sa"));
}

TEST_F(LoginWindow, TestConnectionShowsTheOutcomeWithTheHourglassUntilDismissed) {
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    f.serverEdit()->setText(QStringLiteral("db.example"));
    QList<int> pointerWhileOpen;
    boxes.onShow = [&] { pointerWhileOpen << f.MousePointer(); };
    QTest::mouseClick(f.testConnectionButton(), Qt::LeftButton);
    data.failAlways(data::Operation::Open, QStringLiteral("refused"));
    QTest::mouseClick(f.testConnectionButton(), Qt::LeftButton);
    EXPECT_EQ(boxes.texts(),
              (QStringList{"Connection successful.",
                           "Could not connect. Please check with your administrator."}));
    EXPECT_EQ(pointerWhileOpen, (QList<int>{windows::kPointerBusy, windows::kPointerBusy}));
    EXPECT_EQ(f.MousePointer(), windows::kPointerNormal);
    EXPECT_EQ(boxes.boxes[0].title, QString());  // the application title
    EXPECT_EQ(data.openConnections(), 0);
}

TEST_F(LoginWindow, TestConnectionWithoutDataLayerReportsStep100ThenCannotConnect) {
    windows::Start(registry());
    data.failAlways(data::Operation::CreateConnection, QStringLiteral("Class not registered"));
    QTest::mouseClick(registry().loginWindow().testConnectionButton(), Qt::LeftButton);
    EXPECT_EQ(boxes.texts(),
              (QStringList{report(app::kForm1TestConnectionTag, 100, "Class not registered"),
                           "Could not connect. Please check with your administrator."}));
}

TEST_F(LoginWindow, DataLayerMissingAtStartReportsEachStepAndStillMovesOn) {
    storeLogin();
    data.failAlways(data::Operation::CreateConnection, QStringLiteral("Class not registered"));
    windows::Start(registry());
    const QString d = QStringLiteral("Class not registered");
    EXPECT_EQ(
        boxes.texts(),
        (QStringList{report(app::kForm1LoadTag, 142, d), report(app::kForm1NextTag, 102, d),
                     report(app::kForm1NextTag, 104, d), report(app::kForm1NextTag, 106, d)}));
    ASSERT_NE(registry().existingTableSelectionWindow(), nullptr);
    EXPECT_TRUE(registry().tableSelectionWindow().isVisible());
    EXPECT_FALSE(registry().loginWindow().isVisible());
    EXPECT_EQ(registry().tableSelectionWindow().firstTables()->topLevelItemCount(), 0);
    EXPECT_EQ(registry().tableSelectionWindow().secondTables()->topLevelItemCount(), 0);
}

TEST_F(LoginWindow, HelpShowsThreeBoxesAndOpensThePictureOnlyOnYes) {
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    QTest::mouseClick(f.helpButton(), Qt::LeftButton);  // answered No
    ASSERT_EQ(boxes.boxes.size(), 3u);
    EXPECT_EQ(boxes.boxes[0].text,
              QStringLiteral(
                  "If you cannot establish connection to your MS SQL Server database with this "
                  "program, please go to: \r\r"
                  "https://www.sqlmanager.net/products/mssql/manager/download\r\r"
                  "Download and install the EMS SQL Manager 2005 Lite for SQL Server. Try to "
                  "connect to the same database (with the same login information you are using "
                  "here). This will determine if the login you are using is correct.\r\r"
                  "If you are using Microsoft SQL Server Express Edition and connecting locally, "
                  "you may need to use\r\rlocalhost\\SQLEXPRESS\r\rfor example, for Server."));
    EXPECT_EQ(boxes.boxes[1].text,
              QStringLiteral("You must have Access 2000 or higher installed."));
    EXPECT_EQ(boxes.boxes[2].text,
              QStringLiteral("Would you like to see an image of how I connect locally?"));
    EXPECT_EQ(boxes.boxes[2].buttons, ui::Buttons::YesNo);
    EXPECT_TRUE(shell.opened.isEmpty());

    boxes.answers.push_back(ui::Answer::Yes);
    QTest::mouseClick(f.helpButton(), Qt::LeftButton);
    EXPECT_EQ(shell.opened,
              QStringList{programFolder() + QStringLiteral("/local-connection-example.jpg")});
}

// The hand shows over push buttons, the normal pointer over the window, text
// boxes and lists; labels and the check box have no handler, and a busy
// window keeps its hourglass.
TEST_F(LoginWindow, PointerFollowsTheMouseMoveRule) {
    QFile::copy(QStringLiteral(DORVANTIS_RESOURCES "/HAND-M.CUR"),
                programFolder() + QStringLiteral("/HAND-M.CUR"));
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    ASSERT_TRUE(f.HasMouseIcon());
    moveOver(f.nextButton());
    EXPECT_EQ(f.MousePointer(), windows::kPointerHand);
    EXPECT_EQ(f.nextButton()->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(f.nextButton()->cursor().hotSpot(), QPoint(5, 0));
    moveOver(f.serverLabel());
    EXPECT_EQ(f.MousePointer(), windows::kPointerHand);
    moveOver(f.localConnectionBox());
    EXPECT_EQ(f.MousePointer(), windows::kPointerHand);
    moveOver(f.serverEdit());
    EXPECT_EQ(f.MousePointer(), windows::kPointerNormal);
    EXPECT_EQ(f.serverEdit()->cursor().shape(), Qt::IBeamCursor);  // its own pointer again
    f.SetMousePointer(windows::kPointerBusy);
    moveOver(f.testConnectionButton());
    moveOver(f.databaseEdit());
    EXPECT_EQ(f.MousePointer(), windows::kPointerBusy);
    EXPECT_EQ(f.databaseEdit()->cursor().shape(), Qt::WaitCursor);
}

TEST_F(LoginWindow, UnreadablePointerFileIsReportedAndTheLoadGoesOn) {
    QFile bad(programFolder() + QStringLiteral("/HAND-M.CUR"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a cursor");
    bad.close();
    windows::Start(registry());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("Form1.Form_Load at line 126\r\r")));
    EXPECT_EQ(registry().loginWindow().windowTitle(), QStringLiteral("Dorvantis"));
    EXPECT_FALSE(registry().loginWindow().HasMouseIcon());
}

TEST_F(LoginWindow, WithoutSkinFileTheLoginWindowKeepsItsDesignColours) {
    QDir(programFolder()).mkpath(QStringLiteral("x/o.cjs"));  // a folder of that name is no skin
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    EXPECT_FALSE(f.serverLabel()->autoFillBackground());
    EXPECT_FALSE(f.loginFrame()->autoFillBackground());
    EXPECT_EQ(f.styleSheet(), QString());
    // The other windows always take the button-face colour.
    data.setSchemaTables(SchemaRowset({{"A", "TABLE"}}));
    EXPECT_TRUE(registry().tableSelectionWindow().promptLabel()->autoFillBackground());
    EXPECT_EQ(registry().tableSelectionWindow().palette().color(QPalette::Window),
              windows::ButtonFaceColour());
}

TEST_F(LoginWindow, SkinFileColoursTheLoginWindowAndAppliesItsStyle) {
    QDir(programFolder()).mkpath(QStringLiteral("x"));
    QFile skin(programFolder() + QStringLiteral("/x/o.cjs"));
    ASSERT_TRUE(skin.open(QIODevice::WriteOnly));
    skin.write("QPushButton { font-style: italic; }");
    skin.close();
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    for (QWidget* w :
         {static_cast<QWidget*>(&f), static_cast<QWidget*>(f.loginFrame()),
          static_cast<QWidget*>(f.serverLabel()), static_cast<QWidget*>(f.localConnectionBox())}) {
        EXPECT_TRUE(w->autoFillBackground()) << w->objectName().toStdString();
        EXPECT_EQ(w->palette().color(QPalette::Window), windows::ButtonFaceColour());
    }
    EXPECT_FALSE(f.serverEdit()->autoFillBackground());
    EXPECT_EQ(f.styleSheet(), QStringLiteral("QPushButton { font-style: italic; }"));
    EXPECT_TRUE(boxes.boxes.empty());
}

// A skin that is there but cannot be applied fails the load's step 100, and
// the window keeps none of it; the load goes on.
TEST_F(LoginWindow, SkinThatCannotBeAppliedIsReportedAtItsStep) {
    QDir(programFolder()).mkpath(QStringLiteral("x"));
    for (const QByteArray& contents : {QByteArray("QPushButton { font-style: italic; "),
                                       QByteArray("QLabel { color: red; }\xff\xfe")}) {
        SCOPED_TRACE(contents.toStdString());
        WindowFixture::TearDown();
        boxes.boxes.clear();
        QFile skin(programFolder() + QStringLiteral("/x/o.cjs"));
        ASSERT_TRUE(skin.open(QIODevice::WriteOnly | QIODevice::Truncate));
        skin.write(contents);
        skin.close();
        windows::Start(registry());
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_TRUE(
            boxes.boxes[0].text.contains(QStringLiteral("Form1.Form_Load at line 100\r\r")));
        EXPECT_TRUE(boxes.boxes[0].text.startsWith(QStringLiteral("Cannot apply the skin file ")));
        EXPECT_EQ(registry().loginWindow().styleSheet(), QString());
        EXPECT_EQ(registry().loginWindow().windowTitle(),
                  QStringLiteral("Dorvantis"));  // step 104 ran
    }
}

// The catalogue lets events run while it reads; a click that arrives
// meanwhile (a double-click) is dropped, not replayed into the fill.
TEST_F(LoginWindow, ASecondClickDuringTheCatalogueFillIsIgnored) {
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    f.serverEdit()->setText(QStringLiteral("db.example"));
    const QPointF at = QRectF(f.nextButton()->rect()).center();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QCoreApplication::postEvent(
            f.nextButton(), new QMouseEvent(type, at, f.nextButton()->mapToGlobal(at),
                                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    }
    QTest::mouseClick(f.nextButton(), Qt::LeftButton);
    QCoreApplication::processEvents();  // whatever was left is delivered now, after the run
    const QStringList both{"Orders", "Orders2"};
    EXPECT_EQ(items(*registry().tableSelectionWindow().firstTables()), both);
    EXPECT_EQ(items(*registry().tableSelectionWindow().secondTables()), both);
    EXPECT_EQ(data.opens().size(), 2u);  // CanConnect and one catalogue read, once
    EXPECT_FALSE(windows::InputGuard::active());
}

// Stored details that cannot be read are left alone, and the user is told
// once where they are; a file the user made read-only is never written.
TEST_F(LoginWindow, StoredDetailsThatCannotBeReadOrWrittenAreNotDestroyed) {
    storeLogin();
    connection::SettingsStore().write(connection::kPortSetting, QStringLiteral("46719"));
    const QString file = connection::SettingsStore().fileName();
    const auto contents = [&] {
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray stored = contents();

    QFile::setPermissions(file, QFile::Permissions());
    data.failAlways(data::Operation::Open, QStringLiteral("unreachable"));
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(boxes.boxes[0].text.contains(file)) << boxes.boxes[0].text.toStdString();
    EXPECT_EQ(f.portEdit()->text(), QStringLiteral("1433"));  // the default, shown only
    EXPECT_EQ(contents(), stored);
    QFile::setPermissions(file, QFile::Permissions());
    QTest::keyClicks(f.userEdit(), QStringLiteral("x"));  // the user's own change is stored
    EXPECT_NE(contents(), stored);

    WindowFixture::TearDown();
    boxes.boxes.clear();
    storeLogin();
    connection::SettingsStore().write(connection::kPortSetting, QStringLiteral("46719"));
    const QByteArray readOnly = contents();
    QFile::setPermissions(file, QFile::ReadOwner);
    windows::Start(registry());
    windows::LoginWindow& again = registry().loginWindow();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("read-only")));
    EXPECT_EQ(again.portEdit()->text(), QStringLiteral("46719"));
    QTest::keyClicks(again.serverEdit(), QStringLiteral("x"));
    EXPECT_EQ(QFileInfo(file).permissions() & QFile::WriteOwner, QFile::Permissions());
    EXPECT_EQ(contents(), readOnly);
}

}  // namespace
