#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QStringList>
#include <chrono>
#include <functional>
#include <thread>

#include "ComparisonRun.h"
#include "ErrorReport.h"
#include "MemoryDataAccess.h"
#include "RecordingSink.h"
#include "TableComparison.h"
#include "Tables.h"

namespace {

using compare::Side;
using testing_support::TextTable;

class FailureList final : public compare::Steps {
public:
    QStringList failures;

protected:
    void failed(int line, const std::exception_ptr& failure) override {
        failures << QStringLiteral("%1 %2").arg(line).arg(app::DescribeFailure(failure));
    }
};

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
            stage = "connect";
            run.CreateConnections();
            run.SetMode();
            run.SetCommandTimeout();
            run.SetConnectionTimeout();
            run.SetCursorLocation();
            run.Connect({}, {});
            stage = "plan";
            run.PlanKey(a, b);
            stage = "query";
            run.SendQuery(Side::First, a);
            run.SendQuery(Side::Second, b);
            run.WaitQueried(Side::First);
            run.WaitQueried(Side::Second);
            stage = "read";
            if (!run.HasRows(Side::First) || !run.HasRows(Side::Second)) ended = "no data";
            if (ended == "compared") run.Compare(steps, sink, run.PositionalFields());
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
    FailureList steps;
    testing_support::RecordingSink sink;
    compare::ComparisonRun* current = nullptr;
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
    EXPECT_EQ(runAll(), "cancelled at query");
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

}  // namespace
