// A table reader's thread against the in-memory layer, with calls held inside
// the layer as a slow server would hold them: a cancel ends whatever the
// reader waits in, and the reader goes without waiting for the server.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "MemoryDataAccess.h"
#include "RecordKey.h"
#include "TableQuery.h"
#include "TableReader.h"
#include "TableShapes.h"
#include "Tables.h"

namespace compare {
// Stages by name in failure messages.
void PrintTo(TableReader::Stage stage, std::ostream* out) {
    static const char* const kNames[] = {"Connecting", "Querying", "Reading",
                                         "Finished",   "Failed",   "Cancelled"};
    *out << kNames[static_cast<int>(stage)];
}
}  // namespace compare

namespace {

using namespace std::chrono_literals;
using compare::TableReader;
using Stage = TableReader::Stage;

// Generous: a prompt end takes milliseconds, a hold lasts until released.
constexpr auto kBound = 2s;
constexpr int kBoundMs = 2000;

const catalogue::TableName kOrders{QStringLiteral("dbo"), QStringLiteral("Orders")};

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds bound = 5s) {
    const auto until = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class Reader : public ::testing::Test {
protected:
    Reader() {
        data.addTable(
            QStringLiteral("Orders"),
            testing_support::TextTable(
                {"Id", "Name"}, {{"1", "a"}, {"2", "b"}, {"3", "c"}, {"4", "d"}, {"5", "e"}}));
        data::ResultTable count;
        count.addColumn(QString(), data::ValueKind::Integer).append(data::FieldValue::integer(5));
        data.setQuery(compare::RowCountEstimateQuery(kOrders), count);
        data.setPrimaryKey(QStringLiteral("Orders"), {QStringLiteral("Id")});
    }
    ~Reader() override {
        data.releaseQueries();
        data.setReadGate(true);
        // A thread let go ends within the test, not after it.
        EXPECT_TRUE(eventually([&] { return data.liveConnections() == 0; }));
    }

    std::unique_ptr<TableReader> started() {
        auto reader =
            std::make_unique<TableReader>(data.CreateConnection(), QStringLiteral("memory"));
        reader->Start();
        return reader;
    }

    // Destroys the reader on another thread; true when that ended within the
    // bound. whileHeld runs before the holds are released, so that a
    // destructor stuck in a join fails the test instead of hanging it.
    bool destroyedPromptly(std::unique_ptr<TableReader>& reader,
                           const std::function<void()>& whileHeld = {}) {
        auto destroyed = std::async(std::launch::async, [&] { reader.reset(); });
        const bool prompt = destroyed.wait_for(kBound) == std::future_status::ready;
        if (whileHeld) whileHeld();
        data.releaseQueries();
        data.setReadGate(true);
        destroyed.wait();
        return prompt;
    }

    data::MemoryDataAccess data;
};

// Each stage a reader can wait in for the server, held there until the
// cancel: the reader ends as Cancelled (not Failed), and its destructor
// finds the thread ended and joins it (the connection is closed by then).
TEST_F(Reader, ACancelEndsEveryStageItWaitsInAndTheReaderGoesAtOnce) {
    const QString select = compare::SelectAllFrom(kOrders);
    const QString estimate = compare::RowCountEstimateQuery(kOrders);
    struct Case {
        const char* stage;
        std::function<void()> hold;
        std::function<void(TableReader&)> drive;
        std::function<bool()> waiting;
        bool asked;
    };
    const auto held = [&] { return data.heldQueries() == 1; };
    const std::vector<Case> cases = {
        {"row-count estimate", [&] { data.holdQueries(QStringLiteral("sys.partitions")); },
         [&](TableReader& r) { r.Query(select, estimate); }, held, false},
        {"asked column description", [&] { data.holdQueries(QStringLiteral("where 1 = 0")); },
         [&](TableReader& r) {
             r.Ask([select](data::Connection& c) { c.FetchQuery(select + " where 1 = 0"); });
         },
         held, true},
        {"asked key look-up", [&] { data.holdQueries(QStringLiteral("sp_pkeys")); },
         [&](TableReader& r) {
             r.Ask([](data::Connection& c) { c.PrimaryKeyColumns(QString(), "Orders"); });
         },
         held, true},
        {"query before its first row", [&] { data.holdQueries(QStringLiteral("[Orders]")); },
         [&](TableReader& r) { r.Query(select, QString()); }, held, false},
        {"a block", [&] { data.setReadGate(false); },
         [&](TableReader& r) { r.Query(select, estimate); },
         [&] { return data.waitingReads() == 1; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stage);
        c.hold();
        std::unique_ptr<TableReader> reader = started();
        c.drive(*reader);
        ASSERT_TRUE(eventually(c.waiting)) << "never held";

        reader->Cancel();
        EXPECT_EQ(reader->WaitPast(Stage::Finished, kBoundMs), Stage::Cancelled);
        if (c.asked) {
            try {
                reader->Answered(0);
                ADD_FAILURE() << "answered";
            } catch (const data::DataError& e) {
                ADD_FAILURE() << "the cancel counted as the work's failure: " << e.what();
            } catch (const std::runtime_error&) {
            }
        }
        EXPECT_TRUE(destroyedPromptly(reader));
        EXPECT_EQ(data.liveConnections(), 0) << "the thread was not joined";
        EXPECT_EQ(data.heldQueries(), 0);
        data.releaseQueries();
        data.setReadGate(true);
    }
}

// A server that never answers the cancel, and a connect that nothing can
// interrupt: the destructor lets the thread go and returns; the thread ends
// alone once the server answers, touching only what it owns.
TEST_F(Reader, AThreadTheServerHoldsIsLetGoAndEndsAlone) {
    struct Case {
        const char* stage;
        std::function<void()> hold;
    };
    const std::vector<Case> cases = {
        {"connect", [&] { data.holdOpens(); }},
        {"query", [&] { data.holdQueries(QStringLiteral("[Orders]"), true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stage);
        c.hold();
        std::unique_ptr<TableReader> reader = started();
        reader->Query(compare::SelectAllFrom(kOrders), QString());
        ASSERT_TRUE(eventually([&] { return data.heldQueries() == 1; })) << "never held";

        EXPECT_TRUE(destroyedPromptly(reader, [&] {
            EXPECT_EQ(data.heldQueries(), 1) << "the destructor did not wait for the server";
            EXPECT_EQ(data.liveConnections(), 1);
        }));
        EXPECT_TRUE(eventually([&] { return data.liveConnections() == 0; }))
            << "the let-go thread kept its connection";
        EXPECT_EQ(data.openConnections(), 0);
    }
}

// Esc while both tables' columns are being learnt: the cancel interrupts the
// work at once, and the caller's own stop ends the wait, not the readers'
// error (which the window would report as a failure).
TEST_F(Reader, ACancelWhileLearningTheKeyEndsThroughTheCallersStop) {
    data.holdQueries(QStringLiteral("where 1 = 0"));
    std::unique_ptr<TableReader> first = started();
    std::unique_ptr<TableReader> second = started();
    struct Stop {};
    bool escPressed = false;
    const auto whileWaiting = [&] {
        if (escPressed) throw Stop{};
        if (data.heldQueries() < 2) return;
        // Esc, as the window sees it while painting.
        escPressed = true;
        first->Cancel();
        second->Cancel();
    };
    EXPECT_THROW(
        compare::DescribeTables(*first, *second, kOrders, kOrders, {true, false}, {}, whileWaiting),
        Stop);
    EXPECT_TRUE(escPressed);
    EXPECT_TRUE(destroyedPromptly(first));
    EXPECT_TRUE(destroyedPromptly(second));
}

}  // namespace
