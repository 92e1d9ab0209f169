#include <gtest/gtest.h>

#include "QueryPlan.h"

namespace {

using compare::PlanQueryText;

compare::TableShapes Shapes(const std::vector<std::pair<QString, data::ValueKind>>& first,
                            const std::vector<std::pair<QString, data::ValueKind>>& second,
                            const QStringList& primaryKey = {}) {
    compare::TableShapes shapes;
    for (const auto& [name, kind] : first) shapes.first.columns.addColumn(name, kind);
    for (const auto& [name, kind] : second) shapes.second.columns.addColumn(name, kind);
    shapes.first.primaryKey = primaryKey;
    return shapes;
}

const catalogue::TableName kA{QStringLiteral("dbo"), QStringLiteral("A")};
const catalogue::TableName kB{QStringLiteral("sales"), QStringLiteral("B]x")};

// The queries a run sends, without a server: the columns kept, each table's
// condition, the key's order (texts in code unit order) and the key found
// among the fields read once columns are left out.
TEST(QueryPlan, ReadsWhatIsComparedInTheKeysOrder) {
    compare::RunOptions options;
    options.where = QStringLiteral("Id > 1");
    options.rightWhere = QString();
    compare::QueryPlan plan = PlanQueryText(options, kA, kB, nullptr);
    EXPECT_EQ(plan.queries[0], QStringLiteral("select * from [dbo].[A] where (Id > 1)"));
    EXPECT_EQ(plan.queries[1], QStringLiteral("select * from [sales].[B]]x]"));
    EXPECT_FALSE(plan.key);

    options.key.automatic = true;
    options.ignore = {QStringLiteral("note")};
    const compare::TableShapes shapes =
        Shapes({{"Note", data::ValueKind::Text},
                {"Name", data::ValueKind::Text},
                {"Id", data::ValueKind::Integer}},
               {{"Id", data::ValueKind::Integer}, {"Name", data::ValueKind::Text}},
               {QStringLiteral("Name"), QStringLiteral("Id")});
    plan = PlanQueryText(options, kA, kB, &shapes);
    EXPECT_EQ(plan.queries[0],
              QStringLiteral("select [Name], [Id] from [dbo].[A] where (Id > 1) order by "
                             "cast([Name] as nvarchar(max)) collate Latin1_General_BIN2, [Id]"));
    EXPECT_EQ(plan.queries[1],
              QStringLiteral("select * from [sales].[B]]x] order by cast([Name] as "
                             "nvarchar(max)) collate Latin1_General_BIN2, [Id]"));
    ASSERT_TRUE(plan.key);
    EXPECT_EQ(plan.key->first, (std::vector<int>{0, 1}));
    EXPECT_EQ(plan.key->second, (std::vector<int>{1, 0}));
}

TEST(QueryPlan, RefusesWhatCannotBeHadBeforeAnythingIsRead) {
    const compare::TableShapes shapes =
        Shapes({{"Id", data::ValueKind::Integer}}, {{"Id", data::ValueKind::Integer}});
    const auto refused = [&](const compare::RunOptions& options, const QString& said) {
        try {
            PlanQueryText(options, kA, kA, &shapes);
            ADD_FAILURE() << "not refused: " << said.toStdString();
        } catch (const compare::KeyProblem& p) {
            EXPECT_TRUE(p.message().contains(said)) << p.message().toStdString();
        }
    };
    compare::RunOptions options;
    options.ignore = {QStringLiteral("Missing")};
    refused(options, QStringLiteral("has a column \"Missing\" to leave out"));
    options.ignore = {QStringLiteral("ID")};
    refused(options, QStringLiteral("Every column of A is left out"));
    options.key.columns = {QStringLiteral("Id")};
    refused(options, QStringLiteral("the key column \"Id\" is left out"));
}

}  // namespace
