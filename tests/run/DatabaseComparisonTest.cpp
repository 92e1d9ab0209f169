#include <gtest/gtest.h>

#include <QStringList>
#include <vector>

#include "DatabaseComparison.h"
#include "MemoryDataAccess.h"
#include "Tables.h"

namespace {

using catalogue::TableName;
using compare::PairOutcome;
using testing_support::SchemaRowset;
using testing_support::TextTable;

bool Matches(const QString& pattern, const QString& name) {
    const std::optional<QRegularExpression> p = compare::ShellPattern(pattern);
    return p && p->match(name).hasMatch();
}

// Patterns choose as a shell would, over the whole name and without case; a
// name's line break is a character like any other.
TEST(ShellPattern, MatchesWholeNamesAsAShellWould) {
    for (const auto& [pattern, name] : {std::pair{"Order*", "orders2024"},
                                        {"?", "A"},
                                        {"[A-C]*", "customers"},
                                        {"[!x]*", "Orders"},
                                        {"[]]", "]"},
                                        {"a.b", "a.b"},
                                        {"odd?name", "odd\nname"}}) {
        EXPECT_TRUE(Matches(QString::fromUtf8(pattern), QString::fromUtf8(name))) << pattern;
    }
    for (const auto& [pattern, name] : {std::pair{"Order", "Orders"},
                                        {"?", "AB"},
                                        {"[!x]*", "xs"},
                                        {"a.b", "axb"},
                                        {"a+", "aa"}}) {
        EXPECT_FALSE(Matches(QString::fromUtf8(pattern), QString::fromUtf8(name))) << pattern;
    }
    // A set not closed, or a range backwards, is no pattern.
    EXPECT_FALSE(compare::ShellPattern(QStringLiteral("[ab")));
    EXPECT_FALSE(compare::ShellPattern(QStringLiteral("[z-a]")));
}

TEST(ShellPattern, NamesATableAsListedOrWithItsSchema) {
    const std::vector<QRegularExpression> dbo{*compare::ShellPattern(QStringLiteral("dbo.Ord*"))};
    EXPECT_TRUE(compare::PatternsName(dbo, {QString(), QStringLiteral("Orders")}));
    EXPECT_FALSE(compare::PatternsName(dbo, {QStringLiteral("sales"), QStringLiteral("Orders")}));
    const std::vector<QRegularExpression> sales{*compare::ShellPattern(QStringLiteral("sales.*"))};
    EXPECT_TRUE(compare::PatternsName(sales, {QStringLiteral("Sales"), QStringLiteral("Orders")}));
}

// Tables pair by schema and name without case (no schema is dbo): the
// first's in its order, then the second's alone; the choice holds on both.
TEST(PairTables, PairsBySchemaAndNameThenListsTheSecondsAlone) {
    const std::vector<TableName> first{
        {QString(), "Orders"}, {"sales", "Orders"}, {"dbo", "Notes"}};
    const std::vector<TableName> second{
        {"SALES", "orders"}, {"dbo", "Archive"}, {"dbo", "ORDERS"}, {"dbo", "Skipped"}};
    const auto entries = compare::PairTables(
        first, second, [](const TableName& t) { return t.name != QStringLiteral("Skipped"); });
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].second, second[2]);
    EXPECT_EQ(entries[1].second, second[0]);
    EXPECT_FALSE(entries[2].second);
    EXPECT_FALSE(entries[3].first);
    EXPECT_EQ(entries[3].listed(), QStringLiteral("Archive"));
}

// In a case-sensitive database names that differ by case are two tables:
// they pair exactly, and without case only where that is one pair.
TEST(PairTables, NamesThatDifferOnlyByCasePairExactlyFirst) {
    const std::vector<TableName> first{{"dbo", "Total"}, {"dbo", "TOTAL"}, {"dbo", "Mixed"}};
    const std::vector<TableName> second{
        {"dbo", "TOTAL"}, {"dbo", "MIXED"}, {"dbo", "Total"}, {"dbo", "mixed"}};
    const auto entries = compare::PairTables(first, second, [](const TableName&) { return true; });
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].second, second[2]);
    EXPECT_EQ(entries[1].second, second[0]);
    EXPECT_FALSE(entries[2].second);
    EXPECT_FALSE(entries[3].first);
    EXPECT_FALSE(entries[4].first);
}

// What the observer is told of a run over two in-memory databases.
class WholeDatabases : public ::testing::Test, public compare::DatabaseObserver {
protected:
    void SetUp() override {
        const data::ResultTable one = TextTable({"Id"}, {{"1"}, {"2"}});
        for (const char* db : {"Sales", "Copy"}) data.addTable("Same", one, db);
        data.addTable("Differ", one, "Sales");
        data.addTable("Differ", TextTable({"Id"}, {{"1"}, {"3"}}), "Copy");
        data.setSchemaTables(
            SchemaRowset({{"Same", "TABLE"}, {"Differ", "TABLE"}, {"Mine", "TABLE"}}), "Sales");
        data.setSchemaTables(SchemaRowset({{"Differ", "TABLE"}, {"Same", "TABLE"}}), "Copy");
        first.server = second.server = QStringLiteral("db.example");
        first.database = QStringLiteral("Sales");
        second.database = QStringLiteral("Copy");
    }
    void PairStarting(const compare::TableEntry& e, std::size_t i, std::size_t n) override {
        told << QStringLiteral("%1 %2/%3").arg(e.listed()).arg(i).arg(n);
        if (cancelAt == i) comparison->Cancel();
    }
    void PairDone(const PairOutcome& o) override { told << compare::ResultText(o); }

    data::MemoryDataAccess data;
    connection::LoginDetails first, second;
    compare::DatabaseComparison* comparison = nullptr;
    std::size_t cancelAt = 99;
    QStringList told;
};

TEST_F(WholeDatabases, TellsEachPairAsItStartsAndEndsAndCountsThem) {
    compare::DatabaseComparison run(data, first, second, {});
    run.List();
    const compare::DatabaseResult result = run.Run(*this);
    EXPECT_EQ(told, (QStringList{"Same 0/3", "same", "Differ 1/3",
                                 "differ: 1 changed (1 field), 0 added, 0 deleted", "Mine 2/3",
                                 "only in Sales"}));
    EXPECT_EQ(result.outcomes.size(), 3u);
    EXPECT_EQ(result.totals.same, 1);
    EXPECT_EQ(result.totals.differ, 1);
    EXPECT_EQ(result.totals.onlyInFirst, 1);
}

// A cancel ends the run with no result: no pair starts after it.
TEST_F(WholeDatabases, ACancelEndsTheRunBeforeAnotherPair) {
    compare::DatabaseComparison run(data, first, second, {});
    comparison = &run;
    cancelAt = 1;
    run.List();
    EXPECT_THROW(run.Run(*this), compare::RunCancelled);
    EXPECT_EQ(told, (QStringList{"Same 0/3", "same", "Differ 1/3"}));
    EXPECT_EQ(data.openConnections(), 0);
}

TEST_F(WholeDatabases, AListThatCannotBeReadNamesItsSide) {
    data.failOn(data::Operation::OpenSchema, QStringLiteral("Login failed"), 2);
    compare::DatabaseComparison run(data, first, second, {});
    try {
        run.List();
        ADD_FAILURE() << "listed";
    } catch (const compare::ListingFailed& failed) {
        EXPECT_EQ(failed.side, compare::Side::Second);
    }
}

}  // namespace
