#include <QRegularExpression>
#include <QTest>

#include "ErrorReport.h"
#include "Pointer.h"
#include "Tables.h"
#include "WindowFixture.h"

namespace {

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
    EXPECT_EQ(items(*registry().tableSelectionWindow().firstTables()), (QStringList{"Orders", "Orders2"}));
    EXPECT_EQ(items(*registry().tableSelectionWindow().secondTables()), (QStringList{"Orders", "Orders2"}));
    // CanConnect twice (load, then "Next >"), then one connection per list.
    ASSERT_EQ(data.opens().size(), 4u);
    EXPECT_EQ(data.opens()[0].connectionString,
              QStringLiteral("Driver={SQL Server};Server=db.example,1433;Database=testdb;Uid=tester;"
                             "Pwd=secret;"));
    EXPECT_EQ(data.openConnections(), 0);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(LoginWindow, NoAdvanceWithEmptyPasswordOrUnreachableServer) {
    storeLogin(QString());
    windows::Start(registry());
    EXPECT_TRUE(registry().loginWindow().isVisible());
    EXPECT_TRUE(data.opens().empty());  // not even an attempt
}

TEST_F(LoginWindow, UnreachableServerEndsTheLoadQuietly) {
    storeLogin();
    data.failAlways(data::Operation::Open, QStringLiteral("[FreeTDS][SQL Server]Unable to connect"));
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

TEST_F(LoginWindow, NextNeedsOnlyTheServerAndAWorkingConnection) {
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    QTest::keyClicks(f.serverEdit(), QStringLiteral("db.example"));
    f.localConnectionBox()->setChecked(true);
    f.portEdit()->setText(QStringLiteral("9999"));
    QTest::mouseClick(f.nextButton(), Qt::LeftButton);
    ASSERT_FALSE(data.opens().empty());
    // Local connection: the port is not sent.
    EXPECT_EQ(data.opens()[0].connectionString,
              QStringLiteral("Driver={SQL Server};Server=db.example;Database=;Uid=;Pwd=;"));
    EXPECT_TRUE(registry().tableSelectionWindow().isVisible());
    EXPECT_FALSE(f.isVisible());
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
    EXPECT_EQ(pointerWhileOpen, (QList<int>{app::kPointerBusy, app::kPointerBusy}));
    EXPECT_EQ(f.MousePointer(), app::kPointerNormal);
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
    EXPECT_EQ(boxes.texts(), (QStringList{report(app::kForm1LoadTag, 142, d),
                                          report(app::kForm1NextTag, 102, d),
                                          report(app::kForm1NextTag, 104, d),
                                          report(app::kForm1NextTag, 106, d)}));
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
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(QStringLiteral(
        "If you cannot establish connection to your MS SQL Server database with this program, "
        "please go to: \r\r")));
    EXPECT_TRUE(boxes.boxes[0].text.endsWith(QStringLiteral(
        "\r\rlocalhost\\SQLEXPRESS\r\rfor example, for Server.")));
    EXPECT_FALSE(boxes.boxes[0].text.contains(QLatin1Char('\n')));
    EXPECT_EQ(boxes.boxes[1].text, QStringLiteral("You must have Access 2000 or higher installed."));
    EXPECT_EQ(boxes.boxes[2].text,
              QStringLiteral("Would you like to see an image of how I connect locally?"));
    EXPECT_EQ(boxes.boxes[2].buttons, ui::Buttons::YesNo);
    EXPECT_TRUE(shell.opened.isEmpty());

    boxes.answers.push_back(ui::Answer::Yes);
    QTest::mouseClick(f.helpButton(), Qt::LeftButton);
    EXPECT_EQ(shell.opened,
              QStringList{programFolder() + QStringLiteral("/local-connection-example.jpg")});
}

}  // namespace
