#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include "ErrorReport.h"
#include "Layout.h"
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
using testing_support::TextTable;
using testing_support::WindowFixture;

class TableSelection : public WindowFixture {
protected:
    // Logs in through the login window's "Next >".
    void loginAndMoveOn() {
        windows::Start(registry());
        registry().loginWindow().serverEdit()->setText(QStringLiteral("db.example"));
        QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    }
};

// Both lists show the catalogue's user tables (which ones is the
// catalogue's own test), the first item selected.
TEST_F(TableSelection, BothListsShowTheUserTablesWithTheFirstSelected) {
    data.setSchemaTables(SchemaRowset(
        {{"Orders", "TABLE"}, {"SysLog", "TABLE"}, {"OrderView", "VIEW"}, {"Customers", "TABLE"}}));
    loginAndMoveOn();
    const QStringList expected{"Orders", "Customers"};
    EXPECT_EQ(items(*registry().tableSelectionWindow().firstTables()), expected);
    EXPECT_EQ(items(*registry().tableSelectionWindow().secondTables()), expected);
    EXPECT_EQ(registry().tableSelectionWindow().firstTables()->SelectedIndex(), 1);
    EXPECT_EQ(registry().tableSelectionWindow().secondTables()->SelectedText(),
              QStringLiteral("Orders"));
}

TEST_F(TableSelection, EmptyDatabaseEmptiesTheLists) {
    data.setSchemaTables(SchemaRowset({{"Orders", "TABLE"}}));
    loginAndMoveOn();
    QTest::mouseClick(registry().tableSelectionWindow().backButton(), Qt::LeftButton);  // "< Back"
    data.setSchemaTables(SchemaRowset({{"sysusers", "SYSTEM TABLE"}}));
    QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    EXPECT_EQ(registry().tableSelectionWindow().firstTables()->topLevelItemCount(), 0);
    EXPECT_EQ(registry().tableSelectionWindow().secondTables()->topLevelItemCount(), 0);
    EXPECT_TRUE(registry().tableSelectionWindow().isVisible());
}

TEST_F(TableSelection, FailedFillKeepsPreviousItemsReportsAndMovesOn) {
    data.setSchemaTables(SchemaRowset({{"Orders", "TABLE"}}));
    loginAndMoveOn();
    QTest::mouseClick(registry().tableSelectionWindow().backButton(), Qt::LeftButton);
    data.setSchemaTables(SchemaRowset({{"Orders", "TABLE"}, {"Invoices", "TABLE"}}));
    // Connections of the next "Next >": 1 CanConnect, 2 left list, 3 right list.
    data.failOn(data::Operation::Open, QStringLiteral("Login failed for user 'tester'."), 2);
    QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    EXPECT_EQ(items(*registry().tableSelectionWindow().firstTables()), QStringList{"Orders"});
    EXPECT_EQ(items(*registry().tableSelectionWindow().secondTables()),
              (QStringList{"Orders", "Invoices"}));
    EXPECT_EQ(boxes.texts(), QStringList{app::ComposeErrorReport(
                                 QString::fromLatin1(app::kForm1NextTag), 104,
                                 QStringLiteral("Login failed for user 'tester'."))});
    EXPECT_TRUE(registry().tableSelectionWindow().isVisible());
    EXPECT_EQ(data.openConnections(), 0);
}

TEST_F(TableSelection, FailureWhileReadingTheRowsetKeepsTheNamesReadSoFar) {
    data.setSchemaTables(SchemaRowset({{"A", "TABLE"}, {"B", "TABLE"}, {"C", "TABLE"}}));
    data.failOn(data::Operation::MoveNext, QStringLiteral("Communication link failure"), 2);
    loginAndMoveOn();
    EXPECT_EQ(items(*registry().tableSelectionWindow().firstTables()), (QStringList{"A", "B"}));
    EXPECT_EQ(items(*registry().tableSelectionWindow().secondTables()),
              (QStringList{"A", "B", "C"}));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("at line 104\r\r")));
    EXPECT_EQ(data.openConnections(), 0);
}

TEST_F(TableSelection, BackKeepsListsAndLoadRunsOnceWithOneColumnEach) {
    data.setSchemaTables(SchemaRowset({{"Orders", "TABLE"}, {"Invoices", "TABLE"}}));
    loginAndMoveOn();
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    EXPECT_EQ(f2.windowTitle(), QStringLiteral("Dorvantis"));
    EXPECT_EQ(f2.firstTables()->headerItem()->text(0), QStringLiteral("Similar Table #1"));
    EXPECT_EQ(f2.secondTables()->headerItem()->text(0), QStringLiteral("Similar Table #2"));
    EXPECT_EQ(f2.firstTables()->columnWidth(0), windows::Twips(4000));
    f2.secondTables()->Select(2);
    f2.firstTables()->setColumnWidth(0, windows::Twips(5000));  // the user widens the column
    QTest::mouseClick(f2.backButton(), Qt::LeftButton);
    EXPECT_TRUE(registry().loginWindow().isVisible());
    EXPECT_FALSE(f2.isVisible());
    EXPECT_EQ(f2.secondTables()->SelectedIndex(), 2);  // kept while hidden
    QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    EXPECT_EQ(&registry().tableSelectionWindow(), &f2);
    // The load did not run again: the header is not added anew and keeps the user's width.
    EXPECT_EQ(f2.firstTables()->columnCount(), 1);
    EXPECT_EQ(f2.firstTables()->headerItem()->text(0), QStringLiteral("Similar Table #1"));
    EXPECT_EQ(f2.firstTables()->columnWidth(0), windows::Twips(5000));
    EXPECT_EQ(f2.secondTables()->SelectedIndex(), 1);  // a refill selects the first item again
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(TableSelection, ListsAreSingleSelectionAndKeepASelection) {
    data.setSchemaTables(SchemaRowset({{"A", "TABLE"}, {"B", "TABLE"}, {"C", "TABLE"}}));
    loginAndMoveOn();
    windows::TableListView& list = *registry().tableSelectionWindow().firstTables();
    EXPECT_EQ(list.selectionMode(), QAbstractItemView::SingleSelection);
    const QRect second = list.visualItemRect(list.topLevelItem(1));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
    EXPECT_EQ(list.SelectedIndex(), 2);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, second.center());
    EXPECT_EQ(list.selectedItems().size(), 1);
    EXPECT_EQ(list.SelectedIndex(), 2);
}

TEST_F(TableSelection, ClosingAnyWindowEndsTheProgram) {
    data.setSchemaTables(SchemaRowset({{"A", "TABLE"}}));
    loginAndMoveOn();
    registry().tableSelectionWindow().close();
    EXPECT_EQ(endCalls, 1);
    registry().loginWindow().close();  // the program has ended: nothing runs again
    EXPECT_EQ(endCalls, 1);
    EXPECT_FALSE(registry().loginWindow().isVisible());
    EXPECT_FALSE(registry().tableSelectionWindow().isVisible());
    EXPECT_TRUE(registry().ended());
}

// The pointer file beside the program: the table selection and results
// windows load it too (their own steps report a file that is no cursor), show
// the hand over their buttons and the normal pointer over their lists.
TEST_F(TableSelection, TheOtherWindowsLoadThePointerFileAtTheirOwnSteps) {
    QFile bad(programFolder() + QStringLiteral("/HAND-M.CUR"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a cursor");
    bad.close();
    data.setSchemaTables(SchemaRowset({{"A", "TABLE"}}));
    loginAndMoveOn();
    registry().resultsWindow();
    QStringList steps;
    static const QRegularExpression at(QStringLiteral("(Form\\d\\.Form_Load at line \\d+)\r\r"));
    for (const QString& text : boxes.texts()) steps << at.match(text).captured(1);
    EXPECT_EQ(steps, (QStringList{"Form1.Form_Load at line 126", "Form2.Form_Load at line 110",
                                  "Form3.Form_Load at line 108"}));

    WindowFixture::TearDown();
    QFile::remove(programFolder() + QStringLiteral("/HAND-M.CUR"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(DORVANTIS_RESOURCES "/HAND-M.CUR"),
                            programFolder() + QStringLiteral("/HAND-M.CUR")));
    loginAndMoveOn();
    windows::TableSelectionWindow& f2 = registry().tableSelectionWindow();
    windows::ResultsWindow& f3 = registry().resultsWindow();
    f3.Show();
    for (windows::Window* w :
         {static_cast<windows::Window*>(&f2), static_cast<windows::Window*>(&f3)}) {
        ASSERT_TRUE(w->HasMouseIcon()) << w->objectName().toStdString();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    }
    for (QWidget* button :
         {static_cast<QWidget*>(f2.nextButton()), static_cast<QWidget*>(f2.backButton())}) {
        moveOver(f2.firstTables()->viewport());
        EXPECT_EQ(f2.MousePointer(), windows::kPointerNormal);
        moveOver(button);
        EXPECT_EQ(f2.MousePointer(), windows::kPointerHand);
        EXPECT_EQ(button->cursor().shape(), Qt::BitmapCursor);
    }
    for (QWidget* button :
         {static_cast<QWidget*>(f3.backButton()), static_cast<QWidget*>(f3.exitButton())}) {
        moveOver(f3.recordDifferences()->viewport());
        EXPECT_EQ(f3.MousePointer(), windows::kPointerNormal);
        moveOver(button);
        EXPECT_EQ(f3.MousePointer(), windows::kPointerHand);
    }
    moveOver(f3.fieldDifferences()->viewport());
    EXPECT_EQ(f3.MousePointer(), windows::kPointerNormal);
}

// Where the second list's tables come from: the other databases of the
// login's server, listed when the choice opens; the choice is stored under a
// key of its own and brings the same database back at the next start.
class SecondOrigin : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        data.setSchemaTables(SchemaRowset({{"Orders", "TABLE"}, {"Invoices", "TABLE"}}));
        data.setQuery(QStringLiteral("select name from sys.databases"),
                      TextTable({"name"}, {{"master"}, {"Sales_Restore"}, {"sales"}, {"Archive"}}));
    }

    windows::TableSelectionWindow& loggedIn() {
        storeLogin();
        connection::SettingsStore().write(connection::kDatabaseSetting, QStringLiteral("Sales"));
        windows::Start(registry());
        return registry().tableSelectionWindow();
    }

    static QStringList choices(const QComboBox& box) {
        QStringList out;
        for (int i = 0; i < box.count(); ++i) out << box.itemText(i);
        return out;
    }

    // The database each catalogue read since `from` asked for.
    QStringList databasesOpened(std::size_t from) const {
        QStringList out;
        static const QRegularExpression db(QStringLiteral("Database=([^;]*);"));
        for (std::size_t i = from; i < data.opens().size(); ++i) {
            out << db.match(data.opens()[i].connectionString).captured(1);
        }
        return out;
    }

    static QString storedFile() {
        QFile file(connection::SettingsStore().fileName());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
};

TEST_F(SecondOrigin, AnotherDatabaseIsChosenStoredAndRestored) {
    windows::TableSelectionWindow& f2 = loggedIn();
    QComboBox& origin = *f2.secondOriginBox();
    // Nothing asked of the server, and nothing stored, until the user chooses.
    EXPECT_EQ(choices(origin), (QStringList{"This database", "Another server\u2026"}));
    EXPECT_FALSE(data.queries().contains(QStringLiteral("select name from sys.databases")));
    EXPECT_FALSE(storedFile().contains(QStringLiteral("Second")));

    origin.showPopup();
    origin.hidePopup();
    EXPECT_EQ(choices(origin), (QStringList{"This database", "Archive", "master", "Sales_Restore",
                                            "Another server\u2026"}));
    const std::size_t before = data.opens().size();
    emit origin.activated(3);  // "Sales_Restore"
    EXPECT_EQ(databasesOpened(before), QStringList{"Sales_Restore"});
    EXPECT_EQ(items(*f2.secondTables()), (QStringList{"Orders", "Invoices"}));
    EXPECT_EQ(connection::SettingsStore().read(connection::kSecondTableOriginSetting),
              QStringLiteral("Database:Sales_Restore"));
    EXPECT_EQ(connection::SettingsStore().read(connection::kDatabaseSetting),
              QStringLiteral("Sales"));
    EXPECT_EQ(f2.SecondSideLogin().database, QStringLiteral("Sales_Restore"));
    EXPECT_EQ(f2.SecondSideLogin().server, QStringLiteral("db.example"));
    EXPECT_TRUE(boxes.boxes.empty());

    // The next start: the first list from the login's database, the second from the stored one.
    WindowFixture::TearDown();
    const std::size_t start = data.opens().size();
    windows::TableSelectionWindow& again = loggedIn();
    EXPECT_EQ(again.secondOriginBox()->currentText(), QStringLiteral("Sales_Restore"));
    EXPECT_EQ(databasesOpened(start), (QStringList{"Sales", "Sales", "Sales", "Sales_Restore"}));
    EXPECT_TRUE(again.isVisible());

    // Back to "This database": both lists from one read again, as before any choice.
    emit again.secondOriginBox()->activated(0);
    EXPECT_EQ(connection::SettingsStore().read(connection::kSecondTableOriginSetting),
              QStringLiteral("This database"));
    EXPECT_EQ(again.SecondSideLogin().database, QStringLiteral("Sales"));
}

// "Another server…" opens the second login window: the login window's fields
// and buttons under its own title, its values under keys of their own.
TEST_F(SecondOrigin, AnotherServerAsksForASecondLoginStoredApart) {
    windows::TableSelectionWindow& f2 = loggedIn();
    QComboBox& origin = *f2.secondOriginBox();
    emit origin.activated(origin.count() - 1);
    ASSERT_NE(registry().existingSecondLoginWindow(), nullptr);
    windows::LoginWindow& second = registry().secondLoginWindow();
    EXPECT_TRUE(second.isVisible());
    EXPECT_FALSE(f2.isVisible());
    EXPECT_EQ(second.windowTitle(), QStringLiteral("Second table: log in"));
    EXPECT_EQ(second.serverEdit()->text(), QString());
    EXPECT_EQ(second.portEdit()->text(), QStringLiteral("1433"));

    // Closing it gives up: back to the table selection with the choice it had.
    second.close();
    EXPECT_TRUE(f2.isVisible());
    EXPECT_EQ(origin.currentIndex(), 0);
    EXPECT_EQ(endCalls, 0);

    emit origin.activated(origin.count() - 1);
    QTest::keyClicks(second.serverEdit(), QStringLiteral("db2.example"));
    QTest::keyClicks(second.userEdit(), QStringLiteral("auditor"));
    QTest::keyClicks(second.passwordEdit(), QStringLiteral("pw2"));
    QTest::keyClicks(second.databaseEdit(), QStringLiteral("Sales"));
    second.portEdit()->setText(QStringLiteral("14330"));
    connection::SettingsStore store;
    EXPECT_EQ(store.read(connection::kSecondLoginSettings.server), QStringLiteral("db2.example"));
    EXPECT_EQ(store.read(connection::kSecondLoginSettings.user), QStringLiteral("auditor"));
    EXPECT_EQ(store.read(connection::kSecondLoginSettings.password), QStringLiteral("pw2"));
    EXPECT_EQ(store.read(connection::kSecondLoginSettings.port), QStringLiteral("14330"));
    EXPECT_EQ(store.read(connection::kSecondLoginSettings.encrypt), QStringLiteral("1"));
    EXPECT_EQ(store.read(connection::kServerSetting), QStringLiteral("db.example"));
    EXPECT_EQ(store.read(connection::kUserSetting), QStringLiteral("tester"));
    EXPECT_EQ(store.read(connection::kPasswordSetting), QStringLiteral("secret"));
    EXPECT_EQ(store.read(connection::kPortSetting), QStringLiteral("1433"));
    // The second password is kept as the first is: in a file of its owner's only.
    EXPECT_EQ(QFileInfo(store.fileName()).permissions() & 0x00FF, 0);

    // A login that fails says why and stays; one that works fills the second list.
    data.failOn(data::Operation::Open, QStringLiteral("Login failed for user 'auditor'."), 1,
                QStringLiteral("Driver={SQL Server};Server=db2.example,14330;Database=Sales;"
                               "Uid=auditor;Pwd=pw2;Encryption=require;"));
    QTest::mouseClick(second.nextButton(), Qt::LeftButton);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].details, QStringLiteral("Login failed for user 'auditor'."));
    EXPECT_TRUE(second.isVisible());
    const std::size_t before = data.opens().size();
    QTest::mouseClick(second.nextButton(), Qt::LeftButton);
    EXPECT_FALSE(second.isVisible());
    EXPECT_TRUE(f2.isVisible());
    ASSERT_EQ(data.opens().size(), before + 2);  // the connect, then the catalogue
    EXPECT_TRUE(data.opens().back().connectionString.contains(QStringLiteral("db2.example,14330")));
    EXPECT_EQ(origin.currentIndex(), origin.count() - 1);
    EXPECT_EQ(store.read(connection::kSecondTableOriginSetting), QStringLiteral("Another server"));
    EXPECT_EQ(f2.SecondSideLogin().userName, QStringLiteral("auditor"));
    EXPECT_EQ(boxes.boxes.size(), 1u);
}

}  // namespace
