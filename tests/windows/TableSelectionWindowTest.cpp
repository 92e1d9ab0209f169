#include <QFile>
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

}  // namespace
