// A comparison run with its options over the real data-access layer,
// unixODBC and FreeTDS, against the TDS test server: what the queries the
// options build read from real typed tables, and what a condition the
// server rejects reports.

#include <gtest/gtest.h>

#include <QStringList>
#include <optional>
#include <vector>

#include "ComparisonRun.h"
#include "DataAccess.h"
#include "ErrorReport.h"
#include "RecordingSink.h"
#include "RecordingSteps.h"
#include "TdsTestServer.h"

namespace {

using compare::Side;
using testing_support::RecordingSteps;

class Expectations final : public compare::RunObserver {
public:
    void Progress(std::int64_t, std::optional<std::int64_t> expected) override {
        expectedSeen.push_back(expected);
    }
    std::vector<std::optional<std::int64_t>> expectedSeen;
};

class ComparisonRunEndToEnd : public ::testing::Test {
protected:
    static connection::LoginDetails login() {
        return {QStringLiteral("127.0.0.1"), QString::fromLatin1(tdstest::kUser),
                QString::fromLatin1(tdstest::kPassword), QString::fromLatin1(tdstest::kDatabase),
                QString::number(tdstest::tdsTestPort())};
    }
    static catalogue::TableName table(const char* prefix, const QString& columns,
                                      const QStringList& rows) {
        const QString name = QString::fromStdString(tdstest::tdsUniqueName(prefix));
        auto c = data::OdbcDataAccess().CreateConnection();
        c->Open(QString::fromStdString(tdstest::tdsConnectionString()));
        c->Execute(QStringLiteral("create table [%1] (%2)").arg(name, columns));
        for (const QString& row : rows) {
            c->Execute(QStringLiteral("insert into [%1] values (%2)").arg(name, row));
        }
        c->Close();
        return {QStringLiteral("dbo"), name};
    }

    // The run's stages in the command's order, up to the comparison.
    void runThrough(compare::ComparisonRun& run, const catalogue::TableName& first,
                    const catalogue::TableName& second) {
        run.CreateConnections();
        run.SetMode();
        run.SetCommandTimeout();
        run.SetConnectionTimeout();
        run.SetCursorLocation();
        run.Connect(login(), login());
        stage = "plan";
        run.PlanQueries(first, second);
        stage = "send";
        run.SendQuery(Side::First, first);
        run.SendQuery(Side::Second, second);
        stage = "wait";
        run.WaitQueried(Side::First);
        run.WaitQueried(Side::Second);
        stage = "compare";
        ASSERT_TRUE(run.HasRows(Side::First));
        ASSERT_TRUE(run.HasRows(Side::Second));
        run.Compare(steps, sink, run.PositionalFields());
    }

    data::DataAccess& data = data::OdbcDataAccess();
    Expectations observer;
    RecordingSteps steps;
    testing_support::RecordingSink sink;
    const char* stage = "";  // where runThrough got to
};

QStringList names(const data::ResultTable& columns) {
    QStringList out;
    for (int k = 0; k < columns.fieldCount(); ++k) out << columns.column(k).name();
    return out;
}

// By key, the columns left out never come back from the server and the rows
// the condition leaves out never meet: a difference in either says nothing.
// The condition's quoted text holds a ";" and travels as it is.
TEST_F(ComparisonRunEndToEnd, ReadsOnlyTheChosenRowsAndColumns) {
    const QString columns = QStringLiteral(
        "id int primary key, name nvarchar(20), amount decimal(10,2), note nvarchar(50)");
    const catalogue::TableName first =
        table("run_where_a", columns,
              {"1, N'a', 5.00, N'n'", "2, N'b', 20.00, N'n'", "3, N'skip; me', 30.00, N'n'",
               "4, N'd', 40.00, N'n'", "5, N'e', 50.00, N'n'"});
    const catalogue::TableName second =
        table("run_where_b", columns + QStringLiteral(", audit datetime"),
              {"1, N'A', 5.00, N'n', '2024-01-01'", "2, N'b', 20.00, N'changed', '2024-01-02'",
               "3, N'skip; me', 31.00, N'n', '2024-01-03'", "4, N'D', 40.00, N'n', '2024-01-04'",
               "6, N'f', 60.00, N'n', '2024-01-06'"});

    compare::RunOptions options;
    options.key.columns = QStringList{QStringLiteral("ID")};
    options.ignore = QStringList{QStringLiteral("Note"), QStringLiteral("AUDIT")};
    options.where = QStringLiteral("amount >= 10 and name <> N'skip; me'");
    compare::ComparisonRun run(data, options, observer);
    runThrough(run, first, second);

    EXPECT_EQ(names(run.Columns(Side::First)), (QStringList{"id", "name", "amount"}));
    EXPECT_EQ(names(run.Columns(Side::Second)), (QStringList{"id", "name", "amount"}));
    EXPECT_EQ(sink.calls, (QStringList{"changed id=4 name d>D", "deleted id=5", "added id=6"}));
    EXPECT_TRUE(steps.failures.isEmpty()) << steps.failures.join(u'|').toStdString();
    // The whole table's estimate would promise rows the condition leaves out.
    ASSERT_FALSE(observer.expectedSeen.empty());
    EXPECT_FALSE(observer.expectedSeen.front().has_value());
}

// A condition the server cannot run fails the query of the table, with the
// server's own words, through the driver.
TEST_F(ComparisonRunEndToEnd, AConditionTheServerRejectsReportsTheServersError) {
    const catalogue::TableName first = table("run_bad_a", "id int", {"1"});
    const catalogue::TableName second = table("run_bad_b", "id int", {"1"});
    compare::RunOptions options;
    options.where = QStringLiteral("no_such_column = 1");
    compare::ComparisonRun run(data, options, observer);
    QString failure;
    try {
        runThrough(run, first, second);
    } catch (...) {
        failure = app::DescribeFailure(std::current_exception());
    }
    EXPECT_EQ(failure, "[FreeTDS][SQL Server]Invalid column name 'no_such_column'.");
    EXPECT_STREQ(stage, "wait");
    EXPECT_TRUE(sink.calls.isEmpty());
}

}  // namespace
