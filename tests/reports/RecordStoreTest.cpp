// Differing records put together from the engine's calls and kept on disk:
// what the records side by side and the HTML report read back.

#include <gtest/gtest.h>

#include <QDir>

#include "RecordStore.h"
#include "RecordingSteps.h"
#include "TableComparison.h"
#include "Tables.h"
#include "WholeTable.h"

namespace {

using testing_support::WholeTable;

using compare::DifferingRecord;
using compare::RecordFilter;
using testing_support::TextTable;

QString Cells(const std::vector<compare::ValueCell>& cells) {
    QStringList out;
    for (const auto& c : cells) out << c.value_or(QStringLiteral("<null>"));
    return out.join(u'|');
}

// One record as "kind name key: first / second / differing fields".
QString Described(const DifferingRecord& r) {
    QString differs;
    for (bool d : r.differs) differs += d ? u'x' : u'.';
    return QStringLiteral("%1 %2 %3: %4 / %5 / %6")
        .arg(static_cast<int>(r.kind))
        .arg(r.name, Cells(r.key), Cells(r.first), Cells(r.second), differs);
}

std::unique_ptr<compare::RecordStore> Compared(compare::TableComparison comparison,
                                               const data::ResultTable& first,
                                               const data::ResultTable& second,
                                               const std::optional<compare::RecordKey>& key) {
    auto store =
        std::make_unique<compare::RecordStore>(compare::RecordLayout(comparison.Pairs(), key));
    compare::DifferingRecordSink sink(store->layout(), *store);
    if (key) comparison.PairRecordsBy(*key);
    testing_support::RecordingSteps steps;
    WholeTable a(first), b(second);
    comparison.Run(steps, a, b, sink);
    store->Finish();
    return store;
}

}  // namespace

// Both sides' values of each differing record, NULLs kept apart from the
// text 'NULL', a difference within the options' tolerance not marked, the
// records one side has alone with the other side empty, by position and by
// key; counts per kind and per field, pages and the row of a named record
// under each filter.
TEST(RecordStoreTest, KeepsWholeRecordsByPositionAndByKey) {
    const QStringList cols{"Id", "Name", "Note"};
    const auto first =
        TextTable(cols, {{"1", "ab  ", "x"}, {"2", "b", QString()}, {"3", "c", "z"}});
    const auto second = TextTable(cols, {{"1", "AB", "x"}, {"2", "b", "NULL"}});
    compare::ValueOptions loose;
    loose.trim = true;
    loose.ignoreCase = true;
    compare::TableComparison byPosition(2, {"Id", "Name", "Note", ""});
    byPosition.CompareValuesUnder(loose);
    auto store = Compared(byPosition, first, second, std::nullopt);
    ASSERT_EQ(store->count(RecordFilter::All), 2);
    auto all = store->records(RecordFilter::All, 0, 10);
    ASSERT_EQ(all.size(), 2U);
    EXPECT_EQ(Described(all[0]), "0 2 : 2|b|<null> / 2|b|NULL / ..x");
    EXPECT_EQ(Described(all[1]), "1 3 : 3|c|z /  / ...");
    EXPECT_EQ(store->changedCount(2), 1);
    EXPECT_EQ(store->changedCount(1), 0);

    const auto keyed =
        TextTable(cols, {{"0", "n", "m"}, {"1", "a", "x"}, {"2", "b", "y"}, {"4", "d", "w"}});
    const auto other = TextTable(cols, {{"1", "a", "x"}, {"2", "B", "y"}, {"3", "c", "v"}});
    store = Compared(compare::TableComparison(2, {"Id", "Name", "Note", ""}), keyed, other,
                     compare::RecordKey{{0}, {0}, {QStringLiteral("Id")}});
    EXPECT_EQ(store->count(RecordFilter::Changed), 1);
    EXPECT_EQ(store->count(RecordFilter::OnlyInFirst), 2);
    EXPECT_EQ(store->count(RecordFilter::OnlyInSecond), 1);
    all = store->records(RecordFilter::All, 1, 3);
    ASSERT_EQ(all.size(), 3U);
    EXPECT_EQ(Described(all[0]), "0 Id=\"2\" 2: 2|b|y / 2|B|y / .x.");
    EXPECT_EQ(Described(all[1]), "2 Id=\"3\" 3:  / 3|c|v / ...");
    const auto deleted = store->records(RecordFilter::OnlyInFirst, 1, 5);
    ASSERT_EQ(deleted.size(), 1U);
    EXPECT_EQ(deleted[0].name, "Id=\"4\"");
    // The record behind a line: Id=4's deletion is the record list's third
    // line, Id=2's change the field list's first.
    EXPECT_EQ(store->rowOf(RecordFilter::All, false, 2), 3);
    EXPECT_EQ(store->rowOf(RecordFilter::OnlyInFirst, false, 2), 1);
    EXPECT_EQ(store->rowOf(RecordFilter::Changed, false, 2), std::nullopt);
    EXPECT_EQ(store->rowOf(RecordFilter::Changed, true, 0), 0);
    EXPECT_EQ(store->rowOf(RecordFilter::All, true, 1), std::nullopt);

    const QString folder = store->folder();
    EXPECT_TRUE(QDir(folder).exists());
    store.reset();
    EXPECT_FALSE(QDir(folder).exists());
}

// Many records of mixed kinds, read across the store's pages, before and
// after more are kept: each filter's rows in order, and the record behind
// a line of either list.
TEST(RecordStoreTest, PagesOfManyRecordsReadBackInOrder) {
    const auto rows = TextTable({"Id"}, {{"x"}});
    compare::RecordStore store(compare::RecordLayout({{0, 0, QStringLiteral("Id")}}, {}));
    const compare::ValueFormatter formatter;
    std::int64_t fieldLines = 0, recordLines = 0;
    const auto keep = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            // Every third record only in the second table, the others changed.
            const bool added = i % 3 == 2;
            const QString name = QString::number(i);
            const std::vector<bool> differs{!added};
            store.TakeRows(
                {added ? DifferingRecord::Kind::OnlyInSecond : DifferingRecord::Kind::Changed,
                 name,
                 added ? compare::RecordRow{} : compare::RecordRow{&rows, 0},
                 {&rows, 0},
                 differs,
                 fieldLines,
                 recordLines},
                store.layout(), formatter);
            (added ? recordLines : fieldLines) += 1;
        }
    };
    const auto names = [&](RecordFilter filter, std::int64_t from, int n) {
        QStringList out;
        for (const DifferingRecord& r : store.records(filter, from, n)) out << r.name;
        return out.join(u',');
    };
    keep(0, 1000);
    EXPECT_EQ(names(RecordFilter::All, 62, 4), "62,63,64,65");
    keep(1000, 3000);  // after a read, the pages half-written then go on
    store.Finish();
    EXPECT_EQ(store.count(RecordFilter::OnlyInSecond), 1000);
    EXPECT_EQ(names(RecordFilter::All, 62, 4), "62,63,64,65");
    EXPECT_EQ(names(RecordFilter::OnlyInSecond, 510, 4), "1532,1535,1538,1541");
    EXPECT_EQ(names(RecordFilter::Changed, 1998, 5), "2997,2998");
    EXPECT_EQ(store.rowOf(RecordFilter::All, true, 1500), 2250);
    EXPECT_EQ(store.rowOf(RecordFilter::Changed, true, 1500), 1500);
    EXPECT_EQ(store.rowOf(RecordFilter::OnlyInSecond, false, 700), 700);
    EXPECT_EQ(store.rowOf(RecordFilter::All, false, 1000), std::nullopt);
}
