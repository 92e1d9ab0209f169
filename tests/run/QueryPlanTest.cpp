#include <gtest/gtest.h>

#include "QueryPlan.h"
#include "UserQuery.h"

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
                             "cast([Name] as nvarchar(max)) collate Latin1_General_BIN2, "
                             "datalength(cast([Name] as nvarchar(max))), [Id]"));
    EXPECT_EQ(plan.queries[1],
              QStringLiteral("select * from [sales].[B]]x] order by cast([Name] as "
                             "nvarchar(max)) collate Latin1_General_BIN2, "
                             "datalength(cast([Name] as nvarchar(max))), [Id]"));
    ASSERT_TRUE(plan.key);
    EXPECT_EQ(plan.key->first, (std::vector<int>{0, 1}));
    EXPECT_EQ(plan.key->second, (std::vector<int>{1, 0}));
}

// char, varchar and text columns are read as the server converts them,
// under their own names; the key's order stays on the column itself.
TEST(QueryPlan, ReadsTextsOfACodePageConvertedByTheServer) {
    compare::TableShapes shapes;
    for (data::ResultTable* t : {&shapes.first.columns, &shapes.second.columns}) {
        t->addColumn(QStringLiteral("Id"), data::ValueKind::Integer, 4, 10);
        t->addColumn(QStringLiteral("Code"), data::ValueKind::Text, 12, 20);          // varchar
        t->addColumn(QStringLiteral("Note"), data::ValueKind::Text, -1, 2147483647);  // text
        t->addColumn(QStringLiteral("Long"), data::ValueKind::Text, 12, 8000);        // varchar
        t->addColumn(QStringLiteral("Name"), data::ValueKind::Text, -9, 20);          // nvarchar
    }
    compare::RunOptions options;
    options.key.columns = {QStringLiteral("Code")};
    EXPECT_EQ(PlanQueryText(options, kA, kA, &shapes).queries[0],
              QStringLiteral("select [Id], cast([Code] as nvarchar(20)) as [Code], cast([Note] "
                             "as nvarchar(max)) as [Note], cast([Long] as nvarchar(max)) as "
                             "[Long], [Name] from [dbo].[A] order by cast([Code] as "
                             "nvarchar(max)) collate Latin1_General_BIN2, "
                             "datalength(cast([Code] as nvarchar(max)))"));
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

// A user's query is one select that only reads; anything else is refused
// with its reason, whatever quotes and comments it hides behind.
TEST(UserQuery, OnlyASingleSelectIsTaken) {
    const std::vector<std::pair<const char*, const char*>> refused{
        {"select 1 as a; select 2 as a", "more than one statement"},
        {"select * into Copy from A", "INTO"},
        {"update A set Name = 'x'", "starts with update"},
        {"select * from A -- x\n; drop table A", "more than one statement"},
        {"select 1 /* /* */ drop table A", "comment (/*) is not closed"},
        {"select 1 as x) as q; drop table A; select * from (select 1 as x", "never opened"},
        {"with c as (select 1 as a) delete from c", "starts with delete"},
        {"select 1into Copy from A", "INTO"},
        {"select * from A where {fn user()} = 'x'", "escape"},
        {"select * from openquery(S, 'select 1')", "OPENQUERY"},
        {"select 'open", "quoted text"},
        {" ; ", "empty"},
        {"values (1)", "not a select"},
    };
    for (const auto& [sql, reason] : refused) {
        const compare::UserQuery q = compare::UserQuery::Read(QString::fromUtf8(sql));
        EXPECT_TRUE(q.problem().contains(QLatin1String(reason)))
            << sql << " -> " << q.problem().toStdString();
    }
    // Words inside quotes and brackets are names and texts, not statements.
    const compare::UserQuery quoted =
        compare::UserQuery::Read(QStringLiteral("select [into], 'a; drop -- x' as [s;] from A;"));
    EXPECT_EQ(quoted.problem(), QString());
    EXPECT_EQ(
        quoted.Around(QStringLiteral("*"), QString()),
        QStringLiteral("select * from (select [into], 'a; drop -- x' as [s;] from A) as [q]"));
}

// What is sent: comments gone; always one derived table, a WITH before it
// all; its own ORDER BY inside only where it picks rows, and outside where
// it gives the order.
TEST(UserQuery, RunsInsideADerivedTable) {
    const compare::UserQuery with = compare::UserQuery::Read(QStringLiteral(
        "with c as (select 1 as a), d (b) as (select 2) /* note */ select * from c, d "
        "order by a -- last"));
    ASSERT_EQ(with.problem(), QString());
    EXPECT_TRUE(with.ordered());
    EXPECT_EQ(with.Around(QStringLiteral("[a]"), QStringLiteral(" where (a > 0)")),
              QStringLiteral("with c as (select 1 as a), d (b) as (select 2) select [a] from "
                             "(select * from c, d) as [q] where (a > 0)"));
    EXPECT_EQ(with.InItsOrder(), QStringLiteral("with c as (select 1 as a), d (b) as (select 2) "
                                                "select * from (select * from c, d) as [q] "
                                                "order by a"));

    const compare::UserQuery top =
        compare::UserQuery::Read(QStringLiteral("select top 5 * from A order by Id"));
    EXPECT_EQ(
        top.InItsOrder(),
        QStringLiteral("select * from (select top 5 * from A order by Id) as [q] order by Id"));
    // Outside, an expression would be read against other names.
    for (const char* order : {"A.Id", "len(Name)", "1.5", "Id desc, @v"}) {
        const compare::UserQuery q =
            compare::UserQuery::Read(QStringLiteral("select * from A order by ") + order);
        EXPECT_EQ(q.problem(), QString());
        EXPECT_FALSE(q.orderProblem().isEmpty()) << order;
        // By key it stays inside, for the server to read.
        EXPECT_TRUE(q.Around(QStringLiteral("*"), QString())
                        .endsWith(QStringLiteral("%1 offset 0 rows) as [q]").arg(order)));
    }

    // By position the select around an ordered query orders; by key it is
    // read in the key's order like a table.
    catalogue::TableName query;
    query.name = QStringLiteral("the first query");
    query.query = QStringLiteral("select Id from A order by Id desc");
    compare::RunOptions options;
    EXPECT_EQ(PlanQueryText(options, query, kA, nullptr).queries[0],
              QStringLiteral("select * from (select Id from A) as [q] order by Id desc"));
    options.where = QStringLiteral("Id > 1");
    EXPECT_THROW(PlanQueryText(options, query, kA, nullptr), compare::OptionProblem);
    options.key.columns = {QStringLiteral("Id")};
    const compare::TableShapes shapes =
        Shapes({{"Id", data::ValueKind::Integer}}, {{"Id", data::ValueKind::Integer}});
    EXPECT_EQ(
        PlanQueryText(options, query, kA, &shapes).queries[0],
        QStringLiteral("select * from (select Id from A) as [q] where (Id > 1) order by [Id]"));
}
