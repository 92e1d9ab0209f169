#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QScrollBar>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <memory>

#include "ResultListView.h"

using windows::ResultLinesModel;
using windows::ResultListView;

namespace {

QString Clipboard() { return QGuiApplication::clipboard()->text(); }

class ResultListViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        view_ = std::make_unique<ResultListView>();
        view_->linesModel()->setHeaderText(QStringLiteral("Differences"));
        for (int i = 0; i < 10; ++i) view_->linesModel()->appendLine(LineText(i));
        view_->resize(500, 400);
        view_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view_.get()));
        QCoreApplication::processEvents();
        QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
    }

    static QString LineText(int i) {
        return QStringLiteral("Record %1,Field \"A\" has changed from \"x \" to NULL").arg(i + 1);
    }
    static QString Lines(std::initializer_list<int> rows) {
        QStringList out;
        for (int r : rows) out << LineText(r);
        return out.join(u'\n');
    }

    void Click(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const QRect rect = view_->visualRect(view_->linesModel()->index(row));
        ASSERT_TRUE(rect.isValid()) << "row " << row << " not laid out";
        QTest::mouseClick(view_->viewport(), Qt::LeftButton, modifiers, rect.center());
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(view_.get(), key, modifiers);
    }
    void CtrlC() { Key(Qt::Key_C, Qt::ControlModifier); }

    std::unique_ptr<ResultListView> view_;
};

}  // namespace

TEST_F(ResultListViewTest, OneClickedLineIsCopiedExactly) {
    Click(3);
    CtrlC();
    EXPECT_EQ(Clipboard(), LineText(3));
}

TEST_F(ResultListViewTest, CtrlClickedLinesAreCopiedInListOrder) {
    Click(5);
    Click(1, Qt::ControlModifier);
    Click(8, Qt::ControlModifier);
    Click(3, Qt::ControlModifier);
    CtrlC();
    EXPECT_EQ(Clipboard(), Lines({1, 3, 5, 8}));
    // Ctrl+click again takes a line out.
    Click(5, Qt::ControlModifier);
    CtrlC();
    EXPECT_EQ(Clipboard(), Lines({1, 3, 8}));
}

TEST_F(ResultListViewTest, ShiftClickSelectsARangeEitherWay) {
    Click(7);
    Click(2, Qt::ShiftModifier);
    Click(9, Qt::ControlModifier);
    CtrlC();
    EXPECT_EQ(Clipboard(), Lines({2, 3, 4, 5, 6, 7, 9}));
}

TEST_F(ResultListViewTest, ShiftArrowsExtendTheSelection) {
    Click(4);
    Key(Qt::Key_Down, Qt::ShiftModifier);
    Key(Qt::Key_Down, Qt::ShiftModifier);
    CtrlC();
    EXPECT_EQ(Clipboard(), Lines({4, 5, 6}));
    Click(4);
    Key(Qt::Key_Up, Qt::ShiftModifier);
    Key(Qt::Key_Up, Qt::ShiftModifier);
    CtrlC();
    EXPECT_EQ(Clipboard(), Lines({2, 3, 4}));
}

TEST_F(ResultListViewTest, CtrlASelectsEveryLine) {
    Click(2);
    Key(Qt::Key_A, Qt::ControlModifier);
    CtrlC();
    EXPECT_EQ(Clipboard(), Lines({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_FALSE(Clipboard().contains(QStringLiteral("Differences")));
}

TEST_F(ResultListViewTest, CopyWithNothingSelectedLeavesTheClipboardAlone) {
    CtrlC();
    EXPECT_EQ(Clipboard(), "untouched");
    view_->findChild<QAction*>(QStringLiteral("copyAction"))->trigger();
    EXPECT_EQ(Clipboard(), "untouched");
    Click(1);
    Click(1, Qt::ControlModifier);  // selected, then taken out again
    CtrlC();
    EXPECT_EQ(Clipboard(), "untouched");
}

TEST_F(ResultListViewTest, ContextMenuCopiesTheSelectionOrAll) {
    Click(4);
    QStringList shown;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        for (QAction* a : menu->actions()) {
            shown << a->text() + (a->isEnabled() ? QString() : QStringLiteral(" (off)"));
        }
        menu->actions().first()->trigger();
        menu->close();
    });
    const QPoint pos = view_->visualRect(view_->linesModel()->index(4)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, view_->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(view_->viewport(), &event);
    EXPECT_EQ(shown, QStringList({"Copy", "Copy All", "", "Show Records Side by Side",
                                  QStringLiteral("Save As\u2026")}));
    EXPECT_EQ(Clipboard(), LineText(4));
    // Window tests reach the actions by name.
    view_->findChild<QAction*>(QStringLiteral("copyAllAction"))->trigger();
    EXPECT_EQ(Clipboard(), Lines({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(ResultListViewTest, CtrlAActsOnTheListWithTheFocus) {
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    auto* left = new ResultListView;
    auto* right = new ResultListView;
    layout->addWidget(left);
    layout->addWidget(right);
    left->linesModel()->appendLine(QStringLiteral("left"));
    right->linesModel()->appendLine(QStringLiteral("right 1"));
    right->linesModel()->appendLine(QStringLiteral("right 2"));
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    right->setFocus();
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_C, Qt::ControlModifier);
    EXPECT_FALSE(left->selectionModel()->hasSelection());
    EXPECT_EQ(Clipboard(), "right 1\nright 2");
}

TEST_F(ResultListViewTest, ColumnIsWiderThanTheViewAndScrolls) {
    view_->setLineColumnWidth(1500);
    QCoreApplication::processEvents();
    EXPECT_GT(view_->horizontalScrollBar()->maximum(), 0);
}

// A line longer than the list, in a column narrower than the list, as the
// results window lays it out: scrolling sideways reaches its end.
TEST_F(ResultListViewTest, TheEndOfALongLineIsReachedByScrolling) {
    const QString line = QStringLiteral("Record 11,Field \"A\" has changed from \"%1\" to \"new\"")
                             .arg(QString(200, u'w'));
    view_->setLineColumnWidth(275);
    view_->linesModel()->appendLine(line);
    QCoreApplication::processEvents();
    view_->scrollToBottom();
    QCoreApplication::processEvents();
    const QScrollBar& bar = *view_->horizontalScrollBar();
    EXPECT_GE(bar.maximum() + view_->viewport()->width(),
              view_->fontMetrics().horizontalAdvance(line));
    EXPECT_EQ(view_->lineColumnWidth(), 275);  // the layout stays
}

TEST(ResultListUnpublished, CopyAndSelectAllSeeLinesAppendedJustNow) {
    ResultListView view;
    view.show();
    QCoreApplication::processEvents();
    view.linesModel()->appendLine(QStringLiteral("a"));
    view.linesModel()->appendLine(QStringLiteral("b"));
    // No event loop in between: the comparison may still be running.
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Clipboard(), "a\nb");
    view.linesModel()->appendLine(QStringLiteral("c"));
    view.selectAll();  // as a window might, straight after filling the list
    view.copySelection();
    EXPECT_EQ(Clipboard(), "a\nb\nc");
    view.linesModel()->appendLine(QStringLiteral("d"));
    view.copyAll();
    EXPECT_EQ(Clipboard(), "a\nb\nc\nd");
}

// ---------------------------------------------------------------------------

TEST(ResultLinesModel, LinesAreThereAsSoonAsAppended) {
    ResultLinesModel model;
    model.appendLine(QStringLiteral("first"));
    model.appendLine(QString());
    model.appendLine(QStringView(u"third \"q\" "));
    EXPECT_EQ(model.lineCount(), 3);
    EXPECT_EQ(model.line(0), "first");
    EXPECT_EQ(model.line(1), "");
    EXPECT_EQ(model.line(2), "third \"q\" ");
    QCoreApplication::processEvents();
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(2)).toString(), "third \"q\" ");
    EXPECT_FALSE(model.flags(model.index(0)) & Qt::ItemIsEditable);
}

TEST(ResultLinesModel, ViewsLearnOfNewRowsInBatches) {
    ResultLinesModel model;
    int insertions = 0;
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&] { ++insertions; });
    for (int i = 0; i < 1000; ++i) model.appendLine(QString::number(i));
    EXPECT_EQ(model.lineCount(), 1000);
    QCoreApplication::processEvents();
    EXPECT_EQ(model.rowCount(), 1000);
    EXPECT_EQ(insertions, 1);
    model.appendLine(QStringLiteral("more"));
    model.publishPending();
    EXPECT_EQ(model.rowCount(), 1001);
    EXPECT_EQ(insertions, 2);
}

TEST(ResultLinesModel, OneColumnBeforeAndAfterClear) {
    ResultLinesModel model;
    model.setHeaderText(QStringLiteral("Table 1"));
    EXPECT_EQ(static_cast<QAbstractItemModel&>(model).columnCount(), 1);
    model.appendLine(QStringLiteral("x"));
    model.publishPending();
    model.clear();
    EXPECT_EQ(static_cast<QAbstractItemModel&>(model).columnCount(), 1);
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.lineCount(), 0);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Table 1");
    model.appendLine(QStringLiteral("y"));
    QCoreApplication::processEvents();
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.line(0), "y");
}

// A huge line is shown shortened (its beginning, then how much more there
// is), while copying gives it whole.
TEST(ResultLinesModel, HugeLinesAreShownShortenedAndCopiedWhole) {
    ResultListView view;
    ResultLinesModel& model = *view.linesModel();
    const QString big = QString(999'999, u'x') + QStringLiteral("\nEND");
    model.appendFieldChange(1, QStringLiteral("Note"), QStringView(big), QStringView(u"y"));
    model.appendLine(QStringLiteral("short"));
    const QString whole = model.line(0);
    ASSERT_EQ(whole.size(), 48 + big.size());
    EXPECT_TRUE(whole.endsWith(QStringLiteral("x\u240AEND\" to \"y\"")));
    const QString shown = model.shownLine(0);
    EXPECT_EQ(shown.left(2000), whole.left(2000));
    EXPECT_EQ(shown.mid(2000),
              QStringLiteral("\u2026 (%1 more characters)").arg(whole.size() - 2000));
    EXPECT_EQ(model.shownLine(1), QStringLiteral("short"));
    QCoreApplication::processEvents();
    EXPECT_EQ(model.data(model.index(0), Qt::DisplayRole).toString(), shown);
    EXPECT_EQ(model.data(model.index(0), Qt::ToolTipRole).toString(), shown);
    view.selectAll();
    EXPECT_EQ(view.selectedLinesText(), whole + QStringLiteral("\nshort"));
}

TEST(ResultLinesModel, AMillionLinesInOrder) {
    ResultListView view;  // attached, hidden: the window while the comparison runs
    ResultLinesModel& model = *view.linesModel();
    constexpr int kLines = 1'000'000;
    for (int i = 1; i <= kLines; ++i) {
        model.appendLine(QStringLiteral("Record ") + QString::number(i) +
                         QStringLiteral(" added from dbo.T"));
    }
    ASSERT_EQ(model.lineCount(), kLines);
    EXPECT_EQ(model.line(0), "Record 1 added from dbo.T");
    EXPECT_EQ(model.line(499'999), "Record 500000 added from dbo.T");
    EXPECT_EQ(model.line(kLines - 1), "Record 1000000 added from dbo.T");
    QCoreApplication::processEvents();
    ASSERT_EQ(model.rowCount(), kLines);
    EXPECT_EQ(model.data(model.index(kLines - 1)).toString(), "Record 1000000 added from dbo.T");
    view.selectAll();
    const QString all = view.selectedLinesText();
    EXPECT_EQ(all.count(u'\n'), kLines - 1);
    EXPECT_TRUE(all.startsWith(QStringLiteral("Record 1 added from dbo.T\nRecord 2 added")));
    EXPECT_TRUE(all.endsWith(QStringLiteral("\nRecord 1000000 added from dbo.T")));
}
