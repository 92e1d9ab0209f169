// The comparison engine on its own: no window, no application object.

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <deque>
#include <stdexcept>

#include "RecordKey.h"
#include "RecordingSink.h"
#include "RecordingSteps.h"
#include "TableComparison.h"
#include "Tables.h"
#include "WholeTable.h"

namespace {

using testing_support::WholeTable;

using testing_support::RecordingSink;
using testing_support::TextTable;

class TableComparisonTest : public ::testing::Test {
protected:
    // Runs the engine on two text tables; lastField defaults to the smaller field count - 1.
    QStringList run(const data::ResultTable& first, const data::ResultTable& second,
                    int lastField = -2) {
        if (lastField == -2) lastField = std::min(first.fieldCount(), second.fieldCount()) - 1;
        names.clear();
        for (int f = 0; f < first.fieldCount(); ++f) names.push_back(first.column(f).name());
        names.emplace_back();
        testing_support::RecordingSteps& trap = steps;
        WholeTable a(first), b(second);
        compare::TableComparison(lastField, names, first, second).Run(trap, a, b, sink);
        return sink.calls;
    }

    // The step numbers of the failures reported, in order.
    std::vector<int> reportedLines() const {
        std::vector<int> lines;
        for (const QString& f : steps.failures) lines.push_back(f.section(u' ', 0, 0).toInt());
        return lines;
    }

    testing_support::RecordingSteps steps;
    RecordingSink sink;
    std::vector<QString> names;
};

data::ResultTable Rows(int count, const QStringList& columns = {QStringLiteral("Id"),
                                                                QStringLiteral("Price")}) {
    std::vector<QStringList> rows;
    for (int r = 1; r <= count; ++r) {
        QStringList row;
        for (int f = 0; f < columns.size(); ++f) row << QStringLiteral("%1.%2").arg(r).arg(f);
        rows.push_back(row);
    }
    return TextTable(columns, rows);
}

TEST_F(TableComparisonTest, PairsRecordsAndFieldsByPositionAndReportsInOrder) {
    const QStringList cols{QStringLiteral("Id"), QStringLiteral("Price"), QStringLiteral("Note")};
    const auto first = TextTable(cols, {{"1", "10", "a"}, {"2", "20", "b"}, {"3", "30", "c"}});
    const auto second = TextTable(cols, {{"1", "12", "a"}, {"2", "20", "B"}, {"3", "31", "x"}});
    EXPECT_EQ(run(first, second), (QStringList{"changed 1 Price 10>12", "changed 2 Note b>B",
                                               "changed 3 Price 30>31", "changed 3 Note c>x"}));
    EXPECT_TRUE(steps.failures.isEmpty());
}

TEST_F(TableComparisonTest, RecordsBeyondTheOtherTableAreAddedOrDeletedAfterTheFieldChanges) {
    // 3 against 5: the two extra records of the second table are added, after any change.
    auto second = Rows(5);
    EXPECT_EQ(run(Rows(3), second), (QStringList{"added 4", "added 5"}));
    sink.calls.clear();
    // 5 against 3: records 4 and 5 of the first table are deleted, in record order.
    auto changed = TextTable({"Id", "Price"}, {{"1.0", "1.1"}, {"2.0", "x"}, {"3.0", "3.1"}});
    EXPECT_EQ(run(Rows(5), changed),
              (QStringList{"changed 2 Price 2.1>x", "deleted 4", "deleted 5"}));
    EXPECT_TRUE(steps.failures.isEmpty());
}

// The positions past the shorter table's last field are fields only the
// longer one has, reported before the records.
TEST_F(TableComparisonTest, OnlyTheFieldPositionsBothTablesHaveAreCompared) {
    const QStringList four{"A", "B", "C", "D"};
    const QStringList six{"A", "B", "C", "D", "E", "F"};
    auto first = TextTable(four, {{"1", "2", "3", "4"}});
    auto second = TextTable(six, {{"1", "2", "3", "x", "5", "6"}});
    EXPECT_EQ(run(first, second),
              (QStringList{"only E in second", "only F in second", "changed 1 D 4>x"}));
    sink.calls.clear();
    EXPECT_EQ(run(second, first),
              (QStringList{"only E in first", "only F in first", "changed 1 D x>4"}));
    EXPECT_TRUE(steps.failures.isEmpty());
}

TEST_F(TableComparisonTest, NullAgainstAValueDiffersAndTwoNullsAreEqual) {
    auto first = TextTable({"A", "B"}, {{QString(), QString()}, {"v", QString()}});
    auto second = TextTable({"A", "B"}, {{QString(), "w"}, {QString(), QString()}});
    EXPECT_EQ(run(first, second), (QStringList{"changed 1 B NULL>w", "changed 2 A v>NULL"}));
}

TEST_F(TableComparisonTest, AFailingStepIsReportedAndTheLoopGoesOn) {
    // A last field beyond the second table's fields: reading the missing cell
    // fails the value test at 218, which (as a failed test) goes on to 220,
    // whose own read fails too; the run then goes on with the next record.
    auto first = TextTable({"A", "B"}, {{"1", "2"}, {"3", "4"}});
    auto second = TextTable({"A"}, {{"1"}, {"x"}});
    EXPECT_EQ(run(first, second, 1), QStringList{"changed 2 A 3>x"});
    EXPECT_EQ(reportedLines(), (std::vector<int>{218, 220, 218, 220}));
    EXPECT_EQ(steps.failures.front(), QStringLiteral("218 Subscript out of range"));

    // A sink that cannot take a line fails step 220 for each change, and every
    // record is still visited: the added record after them is reported.
    steps.failures.clear();
    sink.calls.clear();
    sink.failFieldChanges = true;
    auto longer = TextTable({"A", "B"}, {{"1", "x"}, {"3", "y"}, {"5", "6"}});
    EXPECT_EQ(run(first, longer), QStringList{"added 3"});
    EXPECT_EQ(reportedLines(), (std::vector<int>{220, 220}));
}

// Rows in blocks: a table as a list of blocks of the given sizes, and a
// failure when asked for the block after `failAfter` blocks.
class Blocks : public compare::RowBlocks {
public:
    Blocks(const data::ResultTable& rows, std::vector<int> sizes, int failAfter = -1)
        : failAfter_(failAfter) {
        std::size_t r = 0;
        for (int n : sizes) {
            data::ResultTable block;
            for (int f = 0; f < rows.fieldCount(); ++f) {
                block.addColumn(rows.column(f).name(), rows.column(f).kind());
            }
            for (int i = 0; i < n; ++i, ++r) {
                for (int f = 0; f < rows.fieldCount(); ++f)
                    block.column(f).append(rows.value(f, r));
            }
            blocks_.push_back(std::move(block));
        }
    }
    const data::ResultTable* Next() override {
        if (given_ == failAfter_) throw std::runtime_error("Communication link failure");
        return given_ < static_cast<int>(blocks_.size()) ? &blocks_[given_++] : nullptr;
    }

private:
    std::deque<data::ResultTable> blocks_;
    int given_ = 0;
    int failAfter_;
};

TEST_F(TableComparisonTest, BlocksOfAnySizePairTheSameRecords) {
    const QStringList cols{"Id", "Price"};
    const auto first =
        TextTable(cols, {{"1", "a"}, {"2", "b"}, {"3", "c"}, {"4", "d"}, {"5", "e"}});
    const auto second = TextTable(
        cols, {{"1", "a"}, {"2", "x"}, {"3", "c"}, {"4", "y"}, {"5", "e"}, {"6", "f"}, {"7", "g"}});
    const QStringList whole = run(first, second);
    ASSERT_EQ(whole,
              (QStringList{"changed 2 Price b>x", "changed 4 Price d>y", "added 6", "added 7"}));
    names = {"Id", "Price", ""};
    for (const auto& [sizesA, sizesB] :
         {std::pair{std::vector<int>{2, 3}, std::vector<int>{3, 3, 1}},
          std::pair{std::vector<int>{1, 1, 1, 1, 1}, std::vector<int>{7}},
          std::pair{std::vector<int>{5}, std::vector<int>{1, 2, 4}}}) {
        sink.calls.clear();
        Blocks a(first, sizesA), b(second, sizesB);
        testing_support::RecordingSteps& trap = steps;
        compare::TableComparison(1, names).Run(trap, a, b, sink);
        EXPECT_EQ(sink.calls, whole);
    }
    EXPECT_TRUE(steps.failures.isEmpty());
}

// A block that cannot be read is no step of the run: the failure leaves Run
// (for the caller to report and end the run) instead of being reported as a
// failed test and taken for "no more rows".
TEST_F(TableComparisonTest, AReadFailureLeavesTheRun) {
    const QStringList cols{"Id"};
    const auto rows = TextTable(cols, {{"1"}, {"2"}, {"3"}, {"4"}});
    names = {"Id", ""};
    for (const bool firstFails : {true, false}) {
        Blocks a(rows, {2, 2}, firstFails ? 1 : -1), b(rows, {2, 2}, firstFails ? -1 : 1);
        testing_support::RecordingSteps& trap = steps;
        EXPECT_THROW(compare::TableComparison(0, names).Run(trap, a, b, sink), std::runtime_error);
    }
    EXPECT_TRUE(sink.calls.isEmpty());
    EXPECT_TRUE(steps.failures.isEmpty());
}

// Fields by name: the same columns in another order pair up (names without
// case), a field only one table has is reported once, before the records.
TEST_F(TableComparisonTest, FieldsByNamePairAcrossOrderAndReportTheUnpaired) {
    const auto first =
        TextTable({"Id", "Region", "Amount"}, {{"1", "North", "10"}, {"2", "S", "20"}});
    const auto second = TextTable({"AMOUNT", "id", "Extra"},
                                  {{"10", "1", "e"}, {"21", "2", "f"}, {"30", "3", "g"}});
    testing_support::RecordingSteps& trap = steps;
    WholeTable a(first), b(second);
    compare::TableComparison::ByName(first, second).Run(trap, a, b, sink);
    EXPECT_EQ(sink.calls, (QStringList{"only Region in first", "only Extra in second",
                                       "changed 2 Amount 20>21", "added 3"}));
    EXPECT_TRUE(steps.failures.isEmpty());

    // Names equal but for case are two columns where a table has both.
    const auto cased = TextTable({"Id", "Total", "TOTAL"}, {{"1", "5", "6"}});
    const auto swapped = TextTable({"TOTAL", "Id", "Total"}, {{"6", "1", "7"}});
    WholeTable c(cased), d(swapped);
    sink.calls.clear();
    compare::TableComparison::ByName(cased, swapped).Run(trap, c, d, sink);
    EXPECT_EQ(sink.calls, (QStringList{"changed 1 Total 5>7"}));
}

// Records by key: both tables in key order merged in one pass, wherever the
// blocks end -- a key repeated across a block's end is still seen as repeated.
TEST_F(TableComparisonTest, RecordsByKeyMergeInKeyOrderWhereverBlocksEnd) {
    const QStringList cols{"Id", "Price"};
    const auto first =
        TextTable(cols, {{"1", "a"}, {"2", "b"}, {"2", "b"}, {"4", "d"}, {"6", "f"}});
    const auto second =
        TextTable(cols, {{"1", "a"}, {"3", "c"}, {"4", "x"}, {"4", "d"}, {"6", "f"}});
    names = {"Id", "Price", ""};
    const QStringList expected{
        "deleted Id=\"2\"", "not unique Id=\"2\" in first", "deleted Id=\"2\"",
        "added Id=\"3\"",   "changed Id=\"4\" Price d>x",   "not unique Id=\"4\" in second",
        "added Id=\"4\""};
    for (const auto& [sizesA, sizesB] :
         {std::pair{std::vector<int>{5}, std::vector<int>{5}},
          std::pair{std::vector<int>{2, 3}, std::vector<int>{3, 2}},
          std::pair{std::vector<int>{1, 1, 1, 1, 1}, std::vector<int>{1, 1, 1, 1, 1}}}) {
        sink.calls.clear();
        Blocks a(first, sizesA), b(second, sizesB);
        testing_support::RecordingSteps& trap = steps;
        compare::TableComparison comparison(1, names);
        comparison.PairRecordsBy({{0}, {0}, {QStringLiteral("Id")}});
        comparison.Run(trap, a, b, sink);
        EXPECT_EQ(sink.calls, expected);
    }
    EXPECT_TRUE(steps.failures.isEmpty());
}

// A key of several columns names the record with all of them; a table whose
// keys go back (the server ordered by another rule) stops the run instead of
// pairing the wrong records, also where a block ends.
TEST_F(TableComparisonTest, RecordsByKeyNeedKeysInOrder) {
    const QStringList cols{"Customer", "Order", "Note"};
    const auto first = TextTable(cols, {{"5", "1", "x"}, {"5", "2", "y"}, {"6", "1", "z"}});
    const auto second = TextTable(cols, {{"5", "1", "x"}, {"5", "2", "w"}, {"6", "0", "z"}});
    names = {"Customer", "Order", "Note", ""};
    const compare::RecordKey key{
        {0, 1}, {0, 1}, {QStringLiteral("Customer"), QStringLiteral("Order")}};
    {
        testing_support::RecordingSteps& trap = steps;
        WholeTable a(first), b(second);
        compare::TableComparison comparison(2, names);
        comparison.PairRecordsBy(key);
        comparison.Run(trap, a, b, sink);
        EXPECT_EQ(sink.calls, (QStringList{"changed (Customer=\"5\",Order=\"2\") Note y>w",
                                           "added (Customer=\"6\",Order=\"0\")",
                                           "deleted (Customer=\"6\",Order=\"1\")"}));
    }
    const auto backwards = TextTable(cols, {{"5", "1", "x"}, {"6", "1", "y"}, {"5", "9", "z"}});
    for (const std::vector<int>& sizes : {std::vector<int>{3}, std::vector<int>{2, 1}}) {
        sink.calls.clear();
        Blocks a(first, {3}), b(backwards, sizes);
        testing_support::RecordingSteps& trap = steps;
        compare::TableComparison comparison(2, names);
        comparison.PairRecordsBy(key);
        try {
            comparison.Run(trap, a, b, sink);
            ADD_FAILURE() << "keys out of order were paired";
        } catch (const compare::KeyOrderBroken& broken) {
            EXPECT_FALSE(broken.inFirstTable());
            EXPECT_EQ(
                broken.message(QStringLiteral("B")),
                QStringLiteral(
                    "The records of B do not come in the order of their key "
                    "((Customer=\"5\",Order=\"9\") came after (Customer=\"6\",Order=\"1\")), so "
                    "they cannot be paired by key."));
        }
    }
    EXPECT_TRUE(steps.failures.isEmpty());
}

// A table's columns without rows, as the key is resolved from.
compare::TableShape Shape(std::initializer_list<std::pair<const char*, data::ValueKind>> columns) {
    compare::TableShape shape;
    for (const auto& [name, kind] : columns) {
        shape.columns.addColumn(QString::fromLatin1(name), kind);
    }
    return shape;
}

// Key columns pair by value: numbers of any type with each other, but a
// number never equals a text (nor a date, nor bytes), so such a key is
// refused before any record is read rather than every record coming out
// both deleted and added.
TEST(RecordKeyTest, KeyColumnsPairAcrossNumberTypesButNotAcrossKinds) {
    using data::ValueKind;
    const compare::KeyChoice byId{false, {QStringLiteral("id")}};
    const auto a = Shape({{"Id", ValueKind::Integer}, {"Note", ValueKind::Text}});
    for (const ValueKind number : {ValueKind::Integer, ValueKind::Decimal, ValueKind::Currency,
                                   ValueKind::Float, ValueKind::Bit}) {
        const auto b = Shape({{"Note", ValueKind::Text}, {"ID", number}});
        const compare::RecordKey key = compare::ResolveRecordKey(byId, "A", a, "B", b);
        EXPECT_EQ(key.first, std::vector<int>{0});
        EXPECT_EQ(key.second, std::vector<int>{1});
        EXPECT_EQ(key.names, std::vector<QString>{QStringLiteral("Id")});
    }

    const auto refusal = [&](const compare::TableShape& first, const compare::TableShape& second,
                             const compare::KeyChoice& choice) {
        try {
            compare::ResolveRecordKey(choice, "A", first, "B", second);
        } catch (const compare::KeyProblem& problem) {
            return problem.message();
        }
        return QStringLiteral("paired");
    };
    const auto textId = Shape({{"id", ValueKind::Text}});
    EXPECT_EQ(refusal(a, textId, byId),
              QStringLiteral("The records cannot be paired by key: the key column \"Id\" is a "
                             "number in A and a text in B."));
    EXPECT_EQ(refusal(textId, a, byId),
              QStringLiteral("The records cannot be paired by key: the key column \"id\" is a "
                             "text in A and a number in B."));
    // Dates, texts and bytes pair only with their own kind, in any column of the key.
    const compare::KeyChoice twoColumns{false, {QStringLiteral("Id"), QStringLiteral("At")}};
    const auto dated = Shape({{"Id", ValueKind::Integer}, {"At", ValueKind::DateTime}});
    EXPECT_EQ(refusal(dated, dated, twoColumns), QStringLiteral("paired"));
    EXPECT_TRUE(
        refusal(dated, Shape({{"Id", ValueKind::Bit}, {"At", ValueKind::Integer}}), twoColumns)
            .endsWith(QStringLiteral("\"At\" is a date in A and a number in B.")));
    const auto bytes = Shape({{"Id", ValueKind::Bytes}});
    EXPECT_EQ(refusal(bytes, bytes, byId), QStringLiteral("paired"));
    EXPECT_TRUE(refusal(bytes, textId, byId)
                    .endsWith(QStringLiteral("is a byte string in A and a text in B.")));
}

}  // namespace

namespace {

// The counts a run's summary holds, in one comparable line.
QString Counts(const compare::RunSummary& s) {
    return QStringLiteral(
               "read %1/%2 compared %3 changed %4 (%5 fields) added %6 deleted %7 "
               "not unique %8%9")
        .arg(s.firstRead)
        .arg(s.secondRead)
        .arg(s.compared)
        .arg(s.changedRecords)
        .arg(s.changedFields)
        .arg(s.added)
        .arg(s.deleted)
        .arg(s.notUnique)
        .arg(s.stoppedAtLimit ? QStringLiteral(" stopped") : QString());
}

}  // namespace

// The value options reach every pair of fields, also those whose stored
// cells already differ (the fast path must not decide for them), and the
// summary counts what the lines say, by position and by key.
TEST_F(TableComparisonTest, OptionsReachEveryFieldAndTheSummaryCountsTheLines) {
    const QStringList cols{"Id", "Name", "Note"};
    const auto first =
        TextTable(cols, {{"1", "ab  ", "x"}, {"2", "b", "y"}, {"3", "c", "z"}, {"4", "d", "w"}});
    const auto second =
        TextTable(cols, {{"1", "AB", "X"}, {"2", "q", "r"}, {"2", "q", "r"}, {"5", "e", "v"}});
    compare::ValueOptions loose;
    loose.trim = true;
    loose.ignoreCase = true;
    names = {"Id", "Name", "Note", ""};
    {
        testing_support::RecordingSteps& trap = steps;
        Blocks a(first, {3, 1}), b(second, {1, 3});
        compare::TableComparison comparison(2, names);
        comparison.CompareValuesUnder(loose);
        const compare::RunSummary s = comparison.Run(trap, a, b, sink);
        EXPECT_EQ(sink.calls,
                  (QStringList{"changed 2 Name b>q", "changed 2 Note y>r", "changed 3 Id 3>2",
                               "changed 3 Name c>q", "changed 3 Note z>r", "changed 4 Id 4>5",
                               "changed 4 Name d>e", "changed 4 Note w>v"}));
        EXPECT_EQ(Counts(s),
                  QStringLiteral("read 4/4 compared 4 changed 3 (8 fields) added 0 deleted 0 "
                                 "not unique 0"));
    }
    sink.calls.clear();
    {
        testing_support::RecordingSteps& trap = steps;
        Blocks a(first, {2, 2}), b(second, {4});
        compare::TableComparison comparison(2, names);
        comparison.PairRecordsBy({{0}, {0}, {QStringLiteral("Id")}});
        comparison.CompareValuesUnder(loose);
        const compare::RunSummary s = comparison.Run(trap, a, b, sink);
        EXPECT_EQ(sink.calls,
                  (QStringList{"changed Id=\"2\" Name b>q", "changed Id=\"2\" Note y>r",
                               "not unique Id=\"2\" in second", "added Id=\"2\"",
                               "deleted Id=\"3\"", "deleted Id=\"4\"", "added Id=\"5\""}));
        EXPECT_EQ(Counts(s),
                  QStringLiteral("read 4/4 compared 2 changed 1 (2 fields) added 2 deleted 2 "
                                 "not unique 1"));
    }
    EXPECT_TRUE(steps.failures.isEmpty());
}

// A limit stops the run once that many records differ, wherever the blocks
// end, and says whether anything was left unread: stopping on the very last
// record leaves nothing behind.
TEST_F(TableComparisonTest, ALimitStopsAfterThatManyDifferingRecords) {
    const auto first = Rows(6);
    const auto second = TextTable({"Id", "Price"}, {{"1.0", "1.1"},
                                                    {"x", "2.1"},
                                                    {"3.0", "x"},
                                                    {"4.0", "4.1"},
                                                    {"x", "x"},
                                                    {"6.0", "6.1"},
                                                    {"7.0", "7.1"}});
    names = {"Id", "Price", ""};
    struct Case {
        std::int64_t limit;
        std::vector<int> sizes;
        QStringList lines;
        QString counts;
    };
    const std::vector<Case> cases{
        {2,
         {3, 3},
         {"changed 2 Id 2.0>x", "changed 3 Price 3.1>x"},
         "read 3/3 compared 3 changed 2 (2 fields) added 0 deleted 0 not unique 0 stopped"},
        {2,
         {2, 1, 3},
         {"changed 2 Id 2.0>x", "changed 3 Price 3.1>x"},
         "read 3/3 compared 3 changed 2 (2 fields) added 0 deleted 0 not unique 0 stopped"},
        {3,
         {5, 1},
         {"changed 2 Id 2.0>x", "changed 3 Price 3.1>x", "changed 5 Id 5.0>x",
          "changed 5 Price 5.1>x"},
         "read 5/5 compared 5 changed 3 (4 fields) added 0 deleted 0 not unique 0 stopped"},
        {4,
         {6},
         {"changed 2 Id 2.0>x", "changed 3 Price 3.1>x", "changed 5 Id 5.0>x",
          "changed 5 Price 5.1>x", "added 7"},
         "read 6/7 compared 6 changed 3 (4 fields) added 1 deleted 0 not unique 0"},
    };
    for (const Case& c : cases) {
        sink.calls.clear();
        testing_support::RecordingSteps& trap = steps;
        Blocks a(first, c.sizes), b(second, {static_cast<int>(second.rowCount())});
        compare::TableComparison comparison(1, names);
        comparison.StopAfter(c.limit);
        const compare::RunSummary s = comparison.Run(trap, a, b, sink);
        EXPECT_EQ(sink.calls, c.lines) << c.limit;
        EXPECT_EQ(Counts(s), c.counts) << c.limit;
        EXPECT_EQ(s.limit, c.limit);
    }
    EXPECT_TRUE(steps.failures.isEmpty());
}
