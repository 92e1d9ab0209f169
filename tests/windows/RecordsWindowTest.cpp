// The records side by side over more records than its model's window: the
// grid reaches every record, by the bar, by the keys and by F8, while the
// views are never given more than the window's rows.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include "Layout.h"
#include "RecordStore.h"
#include "RecordsWindow.h"
#include "RunProgressBar.h"
#include "Tables.h"

namespace {

using compare::DifferingRecord;

// Records 0 .. n-1 of one field: every fifth only in the first table, the
// others changed.
std::shared_ptr<compare::RecordStore> Store(int n) {
    static const auto rows = testing_support::TextTable({"Id"}, {{"x"}});
    auto store = std::make_shared<compare::RecordStore>(
        compare::RecordLayout({{0, 0, QStringLiteral("Id")}}, {}));
    const compare::ValueFormatter formatter;
    std::int64_t fieldLines = 0, recordLines = 0;
    for (int i = 0; i < n; ++i) {
        const bool deleted = i % 5 == 4;
        const QString name = QString::number(i);
        const std::vector<bool> differs{!deleted};
        store->TakeRows(
            {deleted ? DifferingRecord::Kind::OnlyInFirst : DifferingRecord::Kind::Changed,
             name,
             {&rows, 0},
             deleted ? compare::RecordRow{} : compare::RecordRow{&rows, 0},
             differs,
             fieldLines,
             recordLines},
            store->layout(), formatter);
        (deleted ? recordLines : fieldLines) += 1;
    }
    store->Finish();
    return store;
}

QString NameAt(const windows::RecordsWindow& w, std::int64_t record) {
    const QModelIndex index = w.grid()->currentIndex();
    return record == w.currentRecord() && index.isValid() ? w.model()->record(index.row())->name
                                                          : QStringLiteral("not current");
}

}  // namespace

TEST(RecordsWindowTest, EveryRecordIsReachedThroughAWindowOfRows) {
    windows::RecordsWindow w(Store(10'000), QStringLiteral("A"), QStringLiteral("B"));
    w.show();
    const windows::DifferingRecordsModel& m = *w.model();
    EXPECT_EQ(m.total(), 10'000);
    EXPECT_EQ(m.rowCount(), windows::DifferingRecordsModel::kWindowRows);

    // Far down, by the record: the window moves, the current cell is that record's.
    w.showRecord(9'000);
    EXPECT_GT(m.offset(), 0);
    EXPECT_EQ(NameAt(w, 9'000), "9000");
    // F8 to the next difference, the next record; Shift+F8 back.
    QTest::keyClick(w.grid(), Qt::Key_F8);
    EXPECT_EQ(NameAt(w, 9'001), "9001");
    QTest::keyClick(w.grid(), Qt::Key_F8, Qt::ShiftModifier);
    EXPECT_EQ(NameAt(w, 9'000), "9000");

    // Down past the window's end, a key at a time.
    w.showRecord(500);
    w.showRecord(m.offset() + m.rowCount() - 2);
    const std::int64_t from = w.currentRecord();
    for (int k = 0; k < 5; ++k) QTest::keyClick(w.grid(), Qt::Key_Down);
    EXPECT_EQ(NameAt(w, from + 5), QString::number(from + 5));

    // The bar spans every record; moved to its end, the last one shows.
    auto* bar = w.findChild<QScrollBar*>(QStringLiteral("RecordScroll"));
    ASSERT_NE(bar, nullptr);
    bar->setValue(bar->maximum());
    const int top = w.grid()->verticalScrollBar()->value();
    EXPECT_EQ(
        m.offset() + top +
            (w.grid()->viewport()->height() / w.grid()->verticalHeader()->defaultSectionSize()),
        m.total());
    bar->setValue(0);
    EXPECT_EQ(m.offset() + w.grid()->verticalScrollBar()->value(), 0);

    // The filter of records only in the first table: 2,000, within one window.
    w.setFilter(compare::RecordFilter::OnlyInFirst);
    EXPECT_EQ(m.total(), 2'000);
    w.showRecord(1'999);
    EXPECT_EQ(NameAt(w, 1'999), "9999");
}

// A million differences: the keys that go by pages and to the ends reach
// every record, not only the model's window; the counts read alike.
TEST(RecordsWindowTest, AMillionRecordsAreReachedByTheKeys) {
    windows::RecordsWindow w(Store(1'000'000), QStringLiteral("A"), QStringLiteral("B"));
    w.show();
    const windows::DifferingRecordsModel& m = *w.model();
    QTest::keyClick(w.grid(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(NameAt(w, 999'999), "999999");
    auto* bar = w.findChild<QScrollBar*>(QStringLiteral("RecordScroll"));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->value(), bar->maximum());
    QTest::keyClick(w.grid(), Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(NameAt(w, 0), "0");
    // Page Down past the window's end, as far as one key goes each time.
    w.showRecord(m.offset() + m.rowCount() - 3);
    const std::int64_t from = w.currentRecord();
    QTest::keyClick(w.grid(), Qt::Key_PageDown);
    QTest::keyClick(w.grid(), Qt::Key_PageDown);
    EXPECT_GT(w.currentRecord(), from + 2);
    EXPECT_EQ(NameAt(w, w.currentRecord()), QString::number(w.currentRecord()));

    const QString million = windows::GroupedNumber(1'000'000);
    ASSERT_NE(million, "1000000");
    EXPECT_TRUE(w.filterButton(compare::RecordFilter::All)->text().contains(million));
    EXPECT_TRUE(m.headerData(m.columnOf(0, true), Qt::Horizontal, Qt::DisplayRole)
                    .toString()
                    .contains(windows::GroupedNumber(800'000)));
}

// A long value on one side: both columns of its field as wide, the value
// elided in the cell and whole in its hint and by "Copy value".
TEST(RecordsWindowTest, ALongValueIsWholeInItsHintAndItsFieldsColumnsAlike) {
    const QString longValue = QString(3'000, u'w') + QStringLiteral("end");
    static const auto rows =
        testing_support::TextTable({"Id", "Note"}, {{"1", longValue}, {"1", "short"}});
    auto store = std::make_shared<compare::RecordStore>(
        compare::RecordLayout({{0, 0, QStringLiteral("Id")}, {1, 1, QStringLiteral("Note")}}, {}));
    store->TakeRows({DifferingRecord::Kind::Changed,
                     QStringLiteral("1"),
                     {&rows, 0},
                     {&rows, 1},
                     std::vector<bool>{false, true},
                     0,
                     0},
                    store->layout(), compare::ValueFormatter());
    store->Finish();
    windows::RecordsWindow w(store, QStringLiteral("A"), QStringLiteral("B"));
    w.show();
    const windows::DifferingRecordsModel& m = *w.model();
    const int first = m.columnOf(1, true), second = m.columnOf(1, false);
    EXPECT_EQ(w.grid()->columnWidth(first), w.grid()->columnWidth(second));
    EXPECT_LT(w.grid()->columnWidth(first), 400);
    const QString hint = m.index(0, first).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(QString(hint).remove(u'\n').contains(longValue)) << hint.toStdString();
    w.grid()->setCurrentIndex(m.index(0, first));
    w.copyValueAction()->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), longValue);
}

// The symbols that stand for control characters in names and values are
// drawn in the windows' fonts (a fallback for them), not as the box of a
// glyph no font has: a line feed, a NUL and a tab must look apart.
TEST(ControlSymbolsTest, AreDrawnAndTellControlsApart) {
    // Bold too: the results' lines and the grid's changed cells are.
    QFont boldGrid = QApplication::font();
    boldGrid.setBold(true);
    for (const QFont& font :
         {windows::ArialFont(9), windows::ArialFont(9, false), QApplication::font(), boldGrid}) {
        const auto drawn = [&font](const QString& text) {
            QLabel label(text);
            label.setFont(font);
            label.resize(60, 30);
            return label.grab().toImage();
        };
        // U+0378 is unassigned: no font draws it, so it shows as the box.
        const QImage box = drawn(QStringLiteral("x\u0378x"));
        const QImage lineFeed = drawn(QStringLiteral("x\u240Ax"));
        EXPECT_NE(lineFeed, box) << font.toString().toStdString();
        EXPECT_NE(drawn(QStringLiteral("x\u2400x")), lineFeed);
        EXPECT_NE(drawn(QStringLiteral("x\u2409x")), lineFeed);
    }
}

// A server's estimate of no rows at all (a table filled since its counts
// were taken) must not divide the bar's steps by zero.
TEST(RunProgressBarTest, AnEstimateOfNoRowsIsABusyBar) {
    QProgressBar bar;
    windows::RunProgressBar observer(bar);
    observer.Progress(500, 0);
    EXPECT_EQ(bar.maximum(), 0);
    observer.Progress(500, 1000);
    EXPECT_EQ(bar.value(), 500);
}
