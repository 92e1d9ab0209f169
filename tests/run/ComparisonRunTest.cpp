#include <gtest/gtest.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QStringList>
#include <chrono>
#include <functional>
#include <thread>

#include "ComparisonRun.h"
#include "ErrorReport.h"
#include "FixScriptSession.h"
#include "MemoryDataAccess.h"
#include "RecordingSink.h"
#include "RecordingSteps.h"
#include "Summary.h"
#include "TableComparison.h"
#include "TableQuery.h"
#include "Tables.h"

namespace {

using compare::Side;
using testing_support::RecordingSteps;
using testing_support::TextTable;

class Watcher final : public compare::RunObserver {
public:
    void Waiting() override {
        if (onWaiting) onWaiting();
    }
    std::function<void()> onWaiting;
};

// A whole run against the in-memory layer, its stages called in order as the
// command calls them; each way it can end comes out as one word and a reason.
class Run : public ::testing::Test {
protected:
    void SetUp() override {
        data.addTable(QStringLiteral("A"), TextTable({"Id", "Name"}, rows(6, {})));
        data.addTable(QStringLiteral("B"), TextTable({"Id", "Name"}, rows(7, {3})));
    }

    // n rows "1".."n" with the name "x", but "changed" in the rows listed.
    static std::vector<QStringList> rows(int n, std::vector<int> changed) {
        std::vector<QStringList> out;
        for (int i = 1; i <= n; ++i) {
            const bool c = std::find(changed.begin(), changed.end(), i) != changed.end();
            out.push_back(
                {QString::number(i), c ? QStringLiteral("changed") : QStringLiteral("x")});
        }
        return out;
    }

    QString runAll(const QString& second = QStringLiteral("B")) {
        const catalogue::TableName a{QString(), QStringLiteral("A")};
        const catalogue::TableName b{QString(), second};
        compare::ComparisonRun run(data, options, watcher);
        current = &run;
        QString ended = QStringLiteral("compared");
        QString stage;
        try {
            // The stages in the order every run takes them, named by what they do.
            compare::FirstRows rows;
            compare::OpenRun(run, {{}, a}, {{}, b}, withScript, rows,
                             [&](compare::OpenStage s, const std::function<void()>& fn) {
                                 using S = compare::OpenStage;
                                 stage = s <= S::Connect       ? QStringLiteral("connect")
                                         : s == S::PlanQueries ? QStringLiteral("plan")
                                         : s <= S::WaitSecond  ? QStringLiteral("query")
                                                               : QStringLiteral("read");
                                 fn();
                                 return true;
                             });
            if (!rows.first || !rows.second) ended = "no data";
            // A script's header is written once it is planned; a refused
            // one keeps its reason.
            if (withScript) {
                script.clear();
                QBuffer out(&script);
                out.open(QIODevice::WriteOnly);
                try {
                    compare::FixScriptSession(run, run.PositionalFields(), {{}, b},
                                              {QStringLiteral("A"), second}, out);
                } catch (const compare::OptionProblem& refused) {
                    script = refused.message().toUtf8();
                }
            }
            if (ended == "compared") run.Compare(steps, sink, run.PositionalFields());
            summary = compare::SummaryText(run.Summary(), QStringLiteral("A"), second);
        } catch (const compare::RunCancelled&) {
            ended = QStringLiteral("cancelled at %1").arg(stage);
        } catch (const compare::ReadFailed& failed) {
            ended = QStringLiteral("%1 read failed: %2")
                        .arg(failed.side == Side::First ? "first" : "second",
                             app::DescribeFailure(failed.cause));
        } catch (...) {
            ended = QStringLiteral("%1 failed: %2")
                        .arg(stage, app::DescribeFailure(std::current_exception()));
        }
        current = nullptr;
        return ended;
    }

    data::MemoryDataAccess data;
    compare::RunOptions options;
    Watcher watcher;
    RecordingSteps steps;
    testing_support::RecordingSink sink;
    compare::ComparisonRun* current = nullptr;
    bool withScript = false;  // the run learns what a script needs, and plans one
    QByteArray script;        // its header, or why it was refused
    QString summary;
};

TEST_F(Run, EndsInEachWayWithItsReason) {
    EXPECT_EQ(runAll(), "compared");
    EXPECT_EQ(sink.calls, (QStringList{"changed 3 Name x>changed", "added 7"}));
    EXPECT_TRUE(steps.failures.isEmpty()) << steps.failures.join(u'|').toStdString();

    data.failOn(data::Operation::Open, QStringLiteral("Login failed for user 'u'."), 2);
    EXPECT_EQ(runAll(), "connect failed: Login failed for user 'u'.");

    EXPECT_TRUE(runAll(QStringLiteral("Missing")).startsWith("query failed: "));

    data.failOn(data::Operation::ReadBlock, QStringLiteral("Connection reset"), 2,
                QStringLiteral("select * from [A]"));
    EXPECT_EQ(runAll(), "first read failed: Connection reset");

    EXPECT_EQ(data.openConnections(), 0);
}

// Cancel, from the caller's turn or from another thread, ends whatever the
// run waits on, and the run frees its connections.
TEST_F(Run, CancelEndsAReadThatWaits) {
    data.setReadGate(false);
    data.passBlocks(1);
    watcher.onWaiting = [&] {
        if (data.waitingReads() == 2) current->Cancel();
    };
    EXPECT_EQ(runAll(), "cancelled at read");

    std::thread canceller;
    watcher.onWaiting = [&] {
        if (data.waitingReads() == 2 && !canceller.joinable()) {
            canceller = std::thread([run = current] { run->Cancel(); });
        }
    };
    EXPECT_EQ(runAll(), "cancelled at read");
    canceller.join();
    EXPECT_TRUE(sink.calls.isEmpty());
    data.setReadGate(true);
    EXPECT_EQ(data.openConnections(), 0);
}

// Esc while both queries wait inside the data layer, on a server that never
// answers a cancel: the run ends at once, lets its readers go, and they end
// on their own once the server lets them.
TEST_F(Run, ACancelledRunLetsGoOfQueriesTheServerHolds) {
    data.holdQueries(QStringLiteral("select * from"), /*ignoresCancel=*/true);
    watcher.onWaiting = [&] {
        if (data.heldQueries() == 2) current->Cancel();
    };
    QElapsedTimer took;
    took.start();
    // Held while its columns are described.
    EXPECT_EQ(runAll(), "cancelled at plan");
    EXPECT_LT(took.elapsed(), 2000);       // held for ever otherwise: the test's time-out
    EXPECT_EQ(data.liveConnections(), 2);  // let go, not waited for
    data.releaseQueries();
    for (QElapsedTimer waited; data.liveConnections() > 0;) {
        if (!waited.isValid()) waited.start();
        ASSERT_LT(waited.elapsed(), 10000) << "a reader let go never ended";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(sink.calls.isEmpty());
}

// The options that shape the queries: what each query reads, and what is
// refused before any table is read.
class ComparisonRunOptions : public Run {
protected:
    // The texts of the queries sent, but the columns' description (a run
    // that learns the columns asks "... where 1 = 0" first).
    QStringList readQueries() const {
        QStringList sent;
        for (const QString& q : data.queries()) {
            if (!q.endsWith(QStringLiteral(" where 1 = 0"))) sent << q;
        }
        sent.sort();
        return sent;
    }
    static QString estimateOf(const char* table) {
        return compare::RowCountEstimateQuery({QString(), QString::fromLatin1(table)});
    }
    static QStringList sorted(QStringList texts) {
        texts.sort();
        return texts;
    }
    static QString byId(const QString& select) {
        return select + QStringLiteral(
                            " order by cast([Id] as nvarchar(max)) collate Latin1_General_BIN2, "
                            "datalength(cast([Id] as nvarchar(max)))");
    }
};

TEST_F(ComparisonRunOptions, WithoutOptionsTheQueriesAreTodays) {
    EXPECT_EQ(runAll(), "compared");
    EXPECT_EQ(readQueries(), (QStringList{"select * from [A]", "select * from [B]", estimateOf("A"),
                                          estimateOf("B")}));
    EXPECT_FALSE(data.queries().filter(QStringLiteral("where 1 = 0")).isEmpty())
        << "the columns are described first, so that varchar is read converted";

    // By key: the order the merge needs, every column read.
    data.setQuery(byId(QStringLiteral("select * from [A]")),
                  TextTable({"Id", "Name"}, rows(6, {})));
    data.setQuery(byId(QStringLiteral("select * from [B]")),
                  TextTable({"Id", "Name"}, rows(7, {3})));
    options.key.columns = QStringList{QStringLiteral("Id")};
    const auto before = data.queries().size();
    EXPECT_EQ(runAll(), "compared");
    EXPECT_EQ(sink.calls.mid(2),
              (QStringList{"changed Id=\"3\" Name x>changed", "added Id=\"7\""}));
    QStringList sent = data.queries().mid(before);
    sent.sort();
    EXPECT_EQ(sent, sorted({"select * from [A] where 1 = 0", byId("select * from [A]"),
                            "select * from [B] where 1 = 0", byId("select * from [B]"),
                            estimateOf("A"), estimateOf("B")}));
}

// What a script needs of the catalogue (canned answers here): period
// columns the server sets leave the comparison and the script; records a
// security policy hides or values masked from a login are said in the
// summary and refuse the script, as a sql_variant does; a server without
// these views has none of them.
TEST_F(ComparisonRunOptions, AScriptLearnsWhatTheServerSetsOrHides) {
    withScript = true;
    options.key.columns = QStringList{QStringLiteral("Id")};
    data.addTable(QStringLiteral("A"),
                  TextTable({"Id", "Name", "ValidTo"}, {{"1", "x", "2024"}, {"2", "y", "2024"}}));
    data.addTable(QStringLiteral("B"),
                  TextTable({"Id", "Name", "ValidTo"}, {{"1", "x", "2025"}, {"2", "z", "2025"}}));
    data.setQuery(byId(QStringLiteral("select [Id], [Name] from [A]")),
                  TextTable({"Id", "Name"}, {{"1", "x"}, {"2", "y"}}));
    data.setQuery(byId(QStringLiteral("select [Id], [Name] from [B]")),
                  TextTable({"Id", "Name"}, {{"1", "x"}, {"2", "z"}}));
    const compare::GuardQueries a = compare::GuardQueriesFor({QString(), QStringLiteral("A")});
    const compare::GuardQueries b = compare::GuardQueriesFor({QString(), QStringLiteral("B")});
    // B's columns as sys.columns gives them, Name of the type given.
    const auto fillsOf = [](int nameType) {
        data::ResultTable fills;
        fills.addColumn(QStringLiteral("name"), data::ValueKind::Text);
        fills.addColumn(QStringLiteral("is_identity"), data::ValueKind::Bit);
        fills.addColumn(QStringLiteral("is_computed"), data::ValueKind::Bit);
        fills.addColumn(QStringLiteral("system_type_id"), data::ValueKind::Integer);
        fills.addColumn(QStringLiteral("collation_name"), data::ValueKind::Text);
        for (const auto& [name, type] :
             {std::pair{"Id", 56}, {"Name", nameType}, {"ValidTo", 42}}) {
            fills.column(0).append(data::FieldValue::text(QString::fromLatin1(name)));
            fills.column(1).append(data::FieldValue::bit(false));
            fills.column(2).append(data::FieldValue::bit(false));
            fills.column(3).append(data::FieldValue::integer(type));
            fills.column(4).append(data::FieldValue());
        }
        return fills;
    };
    data.setQuery(compare::ColumnFillsQuery({QString(), QStringLiteral("B")}), fillsOf(231));
    data.setQuery(b.periodColumns, TextTable({"name"}, {{"ValidTo"}}));
    EXPECT_EQ(runAll(), "compared");
    EXPECT_EQ(sink.calls, QStringList{"changed Id=\"2\" Name y>z"});
    EXPECT_TRUE(script.contains("so neither compared nor written: ValidTo\n")) << script.data();
    EXPECT_FALSE(summary.contains(QStringLiteral("security"))) << summary.toStdString();

    const auto count = [](int n) {
        data::ResultTable t;
        t.addColumn(QStringLiteral("n"), data::ValueKind::Integer)
            .append(data::FieldValue::integer(n));
        return t;
    };
    data.setQuery(a.rowFilter, count(1));
    EXPECT_EQ(runAll(), "compared");
    EXPECT_TRUE(summary.contains(
        QStringLiteral("a security policy shows the login only some records of A")))
        << summary.toStdString();
    EXPECT_TRUE(script.startsWith("No script can make B hold what A holds: a security policy"))
        << script.data();

    data.setQuery(a.rowFilter, count(0));
    data.setQuery(b.masked, TextTable({"name"}, {{"Name"}}));
    EXPECT_EQ(runAll(), "compared");
    EXPECT_TRUE(summary.contains(QStringLiteral("B masks Name from the login")))
        << summary.toStdString();
    EXPECT_TRUE(script.contains("B masks Name from the login: the script would write the masks"))
        << script.data();

    // A sql_variant is read as the text of its value: 1 and N'1' alike.
    data.setQuery(b.masked, TextTable({"name"}, {}));
    data.setQuery(compare::ColumnFillsQuery({QString(), QStringLiteral("B")}), fillsOf(98));
    EXPECT_EQ(runAll(), "compared");
    EXPECT_TRUE(script.contains("the column \"Name\" is a sql_variant")) << script.data();

    // A memory-optimized table takes no statement in the script's transaction.
    data.setQuery(compare::ColumnFillsQuery({QString(), QStringLiteral("B")}), fillsOf(231));
    data::ResultTable memory;
    memory.addColumn(QStringLiteral("is_memory_optimized"), data::ValueKind::Bit)
        .append(data::FieldValue::bit(true));
    data.setQuery(b.memoryOptimized, memory);
    EXPECT_EQ(runAll(), "compared");
    EXPECT_TRUE(script.contains("memory-optimized table")) << script.data();
}

// Columns left out are never read: the queries list the columns kept, by
// the names the tables give them, whatever the case the user wrote; a name
// only one table has leaves only that one.
TEST_F(ComparisonRunOptions, ColumnsLeftOutLeaveTheQuery) {
    std::vector<QStringList> stamped = rows(7, {3});
    for (QStringList& row : stamped) row << QStringLiteral("2024-05-01");
    data.addTable(QStringLiteral("B"), TextTable({"Id", "Name", "Stamp"}, stamped));
    options.ignore = QStringList{QStringLiteral("NAME"), QStringLiteral("stamp")};
    EXPECT_EQ(runAll(), "compared");
    EXPECT_EQ(sink.calls, (QStringList{"added 7"}));
    EXPECT_EQ(readQueries(), sorted({"select [Id] from [A]", "select [Id] from [B]",
                                     estimateOf("A"), estimateOf("B")}));

    // By key, with the key after a column left out: the engine must find it
    // among the fields read, not among the table's.
    data.addTable(QStringLiteral("A"), TextTable({"Note", "Id", "Name"}, {}));
    data.addTable(QStringLiteral("B"), TextTable({"Note", "Id", "Name"}, {}));
    data.setQuery(byId(QStringLiteral("select [Id], [Name] from [A]")),
                  TextTable({"Id", "Name"}, rows(6, {})));
    data.setQuery(byId(QStringLiteral("select [Id], [Name] from [B]")),
                  TextTable({"Id", "Name"}, rows(7, {3})));
    options.ignore = QStringList{QStringLiteral("note")};
    options.key.columns = QStringList{QStringLiteral("id")};
    sink.calls.clear();
    EXPECT_EQ(runAll(), "compared");
    EXPECT_EQ(sink.calls, (QStringList{"changed Id=\"3\" Name x>changed", "added Id=\"7\""}));
}

TEST_F(ComparisonRunOptions, WhatCannotBeLeftOutIsRefusedBeforeAnyTableIsRead) {
    const auto refused = [&](QStringList ignore, QStringList key, bool automatic = false) {
        options.ignore = std::move(ignore);
        options.key = compare::KeyChoice{automatic, std::move(key)};
        const QString ended = runAll();
        EXPECT_TRUE(readQueries().isEmpty()) << readQueries().join(u'|').toStdString();
        return ended;
    };
    EXPECT_EQ(refused({"Name", "foo"}, {}),
              "plan failed: Neither A nor B has a column \"foo\" to leave out.");
    const auto described = data.queries().size();
    EXPECT_EQ(refused({"id"}, {"Id"}),
              "plan failed: The records cannot be paired by key: the key column \"Id\" is left "
              "out of the comparison.");
    EXPECT_EQ(data.queries().size(), described) << "a named key needs no description to refuse";
    data.setPrimaryKey(QStringLiteral("A"), {QStringLiteral("Id")});
    EXPECT_EQ(refused({"ID"}, {}, true),
              "plan failed: The records cannot be paired by key: the key column \"Id\" is left "
              "out of the comparison.");
    EXPECT_EQ(refused({"name", "id"}, {}),
              "plan failed: Every column of A is left out: nothing of it is left to compare.");
    EXPECT_TRUE(sink.calls.isEmpty());
}

// In a case-sensitive database "Total" and "TOTAL" are two columns: a name
// written exactly finds its own, and one that finds both only without case
// is refused rather than taken for either.
TEST_F(ComparisonRunOptions, ColumnsWhoseNamesDifferOnlyByCaseAreTwo) {
    for (const char* table : {"A", "B"}) {
        data.addTable(QString::fromLatin1(table),
                      TextTable({"Id", "Total", "TOTAL"}, {{"1", "5", "6"}}));
    }
    options.ignore = QStringList{QStringLiteral("TOTAL")};
    EXPECT_EQ(runAll(), "compared");
    EXPECT_EQ(readQueries(),
              sorted({"select [Id], [Total] from [A]", "select [Id], [Total] from [B]",
                      estimateOf("A"), estimateOf("B")}));
    options.ignore = QStringList{QStringLiteral("total")};
    EXPECT_EQ(runAll(),
              "plan failed: A has several columns named \"total\" but for case: name the column "
              "to leave out as it is written.");
    options.ignore.clear();
    options.key.columns = QStringList{QStringLiteral("total")};
    EXPECT_EQ(runAll(),
              "plan failed: The records cannot be paired by key: A has several columns named "
              "\"total\" but for case: name the key's column as it is written.");
}

// A condition goes into its table's query, as one condition; the estimate of
// a table with a condition is not asked (it would count rows that never come).
TEST_F(ComparisonRunOptions, ConditionsGoIntoTheirTablesQueries) {
    const QString whereA = QStringLiteral("select * from [A] where (Id > '2' or Name = 'a;b')");
    const QString whereB = QStringLiteral("select * from [B] where (Id > '2' or Name = 'a;b')");
    data.setQuery(whereA, TextTable({"Id", "Name"}, rows(6, {})));
    data.setQuery(whereB, TextTable({"Id", "Name"}, {}));
    options.where = QStringLiteral("Id > '2' or Name = 'a;b'");
    EXPECT_EQ(runAll(), "no data");
    EXPECT_EQ(readQueries(), (QStringList{whereA, whereB}));

    // The second table's own condition, there only; by key it comes before the order.
    options.rightWhere = QStringLiteral("Id <> '7'");
    options.where.clear();
    options.key.columns = QStringList{QStringLiteral("Id")};
    const QString secondOnly = byId(QStringLiteral("select * from [B] where (Id <> '7')"));
    data.setQuery(byId(QStringLiteral("select * from [A]")),
                  TextTable({"Id", "Name"}, rows(6, {})));
    data.setQuery(secondOnly, TextTable({"Id", "Name"}, rows(6, {3})));
    const auto before = data.queries().size();
    EXPECT_EQ(runAll(), "compared");
    EXPECT_EQ(sink.calls, (QStringList{"changed Id=\"3\" Name x>changed"}));
    QStringList sent = data.queries().mid(before).filter(QStringLiteral(" from [B]"));
    sent.sort();
    EXPECT_EQ(sent, sorted({"select * from [B] where 1 = 0", secondOnly}));
    EXPECT_TRUE(data.queries().mid(before).contains(estimateOf("A")));

    // A condition that would not stay one: refused before anything is sent.
    const auto before2 = data.queries().size();
    options.rightWhere = QStringLiteral("1=1; drop table T");
    EXPECT_EQ(runAll(),
              "plan failed: The second table's row condition \"1=1; drop table T\" cannot go into "
              "the query: \";\" would end the statement.");
    options.rightWhere.reset();
    options.where = QStringLiteral("x = 1) or (1=1");
    EXPECT_EQ(runAll(),
              "plan failed: The row condition \"x = 1) or (1=1\" cannot go into the query: a "
              "\")\" closes more than was opened.");
    EXPECT_EQ(data.queries().size(), before2);
}

}  // namespace
