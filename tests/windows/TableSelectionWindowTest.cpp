#include <QDir>
#include <QFile>
#include <QTest>

#include "ClassicLook.h"
#include "ErrorReport.h"
#include "Layout.h"
#include "Pointer.h"
#include "ProgramFiles.h"
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

class TableSelection : public WindowFixture {
protected:
    // Logs in through the login window's "Next >".
    void loginAndMoveOn() {
        windows::Start(registry());
        registry().loginWindow().serverEdit()->setText(QStringLiteral("db.example"));
        QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    }
};

TEST_F(TableSelection, CatalogueListsUserTablesWithoutSysInTheirNames) {
    data.setSchemaTables(SchemaRowset({{"Orders", "TABLE"},
                                       {"Analysis", "TABLE"},  // no "SYS" in ANALYSIS
                                       {"ANALYSYS", "TABLE"},
                                       {"mysystem", "TABLE"},
                                       {"SysLog", "TABLE"},
                                       {"Lower", "table"},
                                       {"OrderView", "VIEW"},
                                       {"sysobjects", "SYSTEM TABLE"},
                                       {"Customers", "TABLE"},
                                       {"Customers", "TABLE"},  // two schemas
                                       {"ärger", "TABLE"}}));
    loginAndMoveOn();
    const QStringList expected{"Orders", "Analysis", "Customers", "Customers", "ärger"};
    EXPECT_EQ(items(*registry().tableSelectionWindow().firstTables()), expected);
    EXPECT_EQ(items(*registry().tableSelectionWindow().secondTables()), expected);
    // The first item is selected after a fill.
    EXPECT_EQ(registry().tableSelectionWindow().firstTables()->SelectedIndex(), 1);
    EXPECT_EQ(registry().tableSelectionWindow().secondTables()->SelectedText(), QStringLiteral("Orders"));
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
    EXPECT_EQ(items(*registry().tableSelectionWindow().secondTables()), (QStringList{"Orders", "Invoices"}));
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
    EXPECT_EQ(items(*registry().tableSelectionWindow().secondTables()), (QStringList{"A", "B", "C"}));
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
    QTest::mouseClick(f2.backButton(), Qt::LeftButton);
    EXPECT_TRUE(registry().loginWindow().isVisible());
    EXPECT_FALSE(f2.isVisible());
    EXPECT_EQ(f2.secondTables()->SelectedIndex(), 2);  // kept while hidden
    QTest::mouseClick(registry().loginWindow().nextButton(), Qt::LeftButton);
    EXPECT_EQ(&registry().tableSelectionWindow(), &f2);
    EXPECT_EQ(f2.firstTables()->columnCount(), 1);
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

// The hand shows over push buttons, the normal pointer over the window, text
// boxes and lists; labels and the check box have no handler, and a busy
// window keeps its hourglass.
TEST_F(TableSelection, PointerFollowsTheMouseMoveRule) {
    QFile::copy(QStringLiteral(DORVANTIS_RESOURCES "/HAND-M.CUR"),
                programFolder() + QStringLiteral("/HAND-M.CUR"));
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    ASSERT_TRUE(f.HasMouseIcon());
    moveOver(f.nextButton());
    EXPECT_EQ(f.MousePointer(), app::kPointerHand);
    EXPECT_EQ(f.nextButton()->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(f.nextButton()->cursor().hotSpot(), QPoint(5, 0));
    moveOver(f.serverLabel());
    EXPECT_EQ(f.MousePointer(), app::kPointerHand);
    moveOver(f.localConnectionBox());
    EXPECT_EQ(f.MousePointer(), app::kPointerHand);
    moveOver(f.serverEdit());
    EXPECT_EQ(f.MousePointer(), app::kPointerNormal);
    EXPECT_EQ(f.serverEdit()->cursor().shape(), Qt::IBeamCursor);  // its own pointer again
    f.SetMousePointer(app::kPointerBusy);
    moveOver(f.testConnectionButton());
    moveOver(f.databaseEdit());
    EXPECT_EQ(f.MousePointer(), app::kPointerBusy);
    EXPECT_EQ(f.databaseEdit()->cursor().shape(), Qt::WaitCursor);
}

TEST_F(TableSelection, UnreadablePointerFileIsReportedAndTheLoadGoesOn) {
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

TEST_F(TableSelection, WithoutSkinFileTheLoginWindowKeepsItsDesignColours) {
    QDir(programFolder()).mkpath(QStringLiteral("x/o.cjs"));  // a folder of that name is no skin
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    EXPECT_FALSE(f.serverLabel()->autoFillBackground());
    EXPECT_FALSE(f.loginFrame()->autoFillBackground());
    EXPECT_EQ(f.styleSheet(), QString());
    // The other windows always take the button-face colour.
    data.setSchemaTables(SchemaRowset({{"A", "TABLE"}}));
    EXPECT_TRUE(registry().tableSelectionWindow().promptLabel()->autoFillBackground());
    EXPECT_EQ(registry().tableSelectionWindow().palette().color(QPalette::Window), windows::ButtonFaceColour());
}

TEST_F(TableSelection, SkinFileColoursTheLoginWindowAndAppliesItsStyle) {
    QDir(programFolder()).mkpath(QStringLiteral("x"));
    QFile skin(programFolder() + QStringLiteral("/x/o.cjs"));
    ASSERT_TRUE(skin.open(QIODevice::WriteOnly));
    skin.write("QPushButton { font-style: italic; }");
    skin.close();
    windows::Start(registry());
    windows::LoginWindow& f = registry().loginWindow();
    for (QWidget* w : {static_cast<QWidget*>(&f), static_cast<QWidget*>(f.loginFrame()),
                       static_cast<QWidget*>(f.serverLabel()), static_cast<QWidget*>(f.localConnectionBox())}) {
        EXPECT_TRUE(w->autoFillBackground()) << w->objectName().toStdString();
        EXPECT_EQ(w->palette().color(QPalette::Window), windows::ButtonFaceColour());
    }
    EXPECT_FALSE(f.serverEdit()->autoFillBackground());
    EXPECT_EQ(f.styleSheet(), QStringLiteral("QPushButton { font-style: italic; }"));
    EXPECT_TRUE(boxes.boxes.empty());
}

}  // namespace
