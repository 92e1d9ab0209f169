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
    EXPECT_EQ(store->rowOf(RecordFilter::All, "Id=\"4\""), 3);
    EXPECT_EQ(store->rowOf(RecordFilter::OnlyInFirst, "Id=\"4\""), 1);
    EXPECT_EQ(store->rowOf(RecordFilter::Changed, "Id=\"4\""), std::nullopt);

    const QString folder = store->folder();
    EXPECT_TRUE(QDir(folder).exists());
    store.reset();
    EXPECT_FALSE(QDir(folder).exists());
}
