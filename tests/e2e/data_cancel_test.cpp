// A connection's cancel through unixODBC and FreeTDS, against a test server
// that holds chosen requests until the client cancels them (--stall-query):
// a server slow to answer, as one held up by another session's lock.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "DataAccess.h"
#include "OdbcHandles.h"
#include "data_server.h"

using namespace data;
using namespace std::chrono_literals;

namespace {

// Generous: a cancelled statement ends within one round trip.
constexpr auto kBound = 10s;

// The row-count estimate as the program asks for it, held by its text.
const QString kEstimate = QStringLiteral(
    "select sum(rows) from sys.partitions where object_id = object_id(N'[dbo].[plain]') and "
    "index_id in (0, 1)");

// The server, with the texts it holds: the estimate's, a marker in a SELECT,
// and (from a --config file) the driver's key look-up.
class StallingServer {
public:
    StallingServer() {
        char dir[] = "/tmp/dorvantis-stall-XXXXXX";
        if (::mkdtemp(dir) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = dir;
        config_ = dir_ + "/stall.conf";
        if (std::FILE* f = std::fopen(config_.c_str(), "w")) {
            std::fputs("# the key look-up comes as a procedure call\nstall-query SP_PKEYS\n", f);
            std::fclose(f);
        }
        server_ = std::make_unique<tdstest::PrivateServer>(std::vector<std::string>{
            "--stall-query", "SYS.partitions", "--stall-query=held_by_lock", "--config", config_});
    }
    ~StallingServer() {
        server_.reset();
        std::remove(config_.c_str());
        ::rmdir(dir_.c_str());
    }
    tdstest::PrivateServer& server() { return *server_; }

    std::unique_ptr<Connection> connect() {
        auto c = OdbcDataAccess().CreateConnection();
        c->ConnectionTimeout = 30;
        c->CommandTimeout = 0;  // no limit: only a cancel ends a held statement
        c->Open(QString::fromStdString(server_->connectionString()));
        return c;
    }

private:
    std::string dir_, config_;
    std::unique_ptr<tdstest::PrivateServer> server_;
};

class Cancel : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(odbc::liveHandles(SQL_HANDLE_DBC).load(), 0);
        EXPECT_EQ(odbc::liveHandles(SQL_HANDLE_STMT).load(), 0);
    }

    // Runs call on a thread of its own and cancels the connection from this
    // one once the server has held it a while. The error the call threw; a
    // call the cancel did not end within the bound fails the test and is
    // ended by stopping the server.
    DataError cancelled(Connection& c, const std::function<void()>& call) {
        auto running = std::async(std::launch::async, [&]() -> std::optional<DataError> {
            try {
                call();
            } catch (const DataError& e) {
                return e;
            }
            return std::nullopt;
        });
        if (running.wait_for(300ms) != std::future_status::timeout) {
            ADD_FAILURE() << "the server did not hold the call";
            return running.get().value_or(DataError(QString()));
        }
        c.Cancel();
        if (running.wait_for(kBound) != std::future_status::ready) {
            ADD_FAILURE() << "the cancel did not end the call";
            server.server().stop();
        }
        const std::optional<DataError> error = running.get();
        if (!error) {
            ADD_FAILURE() << "the cancelled call returned normally";
            return DataError(QString());
        }
        return *error;
    }

    StallingServer server;
};

// Each statement the reader runs, held by the server until the cancel: it
// throws the driver's cancel, and once the cancel is lifted the same
// connection runs a query, so the server's answer to the cancel left it in
// step. A cancel that finds nothing running refuses the next statement.
TEST_F(Cancel, ACancelFromAnotherThreadEndsAHeldStatementAndTheConnectionGoesOn) {
    auto c = server.connect();
    c->Execute("create table plain (n int primary key)");
    c->Execute("insert into plain (n) values (1), (2), (3)");
    const auto stillRuns = [&] {
        c->ResetCancel();
        EXPECT_EQ(c->FetchQuery("select * from plain").rowCount(), 3u);
    };

    struct Case {
        const char* statement;
        std::function<void()> call;
    };
    const std::vector<Case> cases = {
        {"row-count estimate", [&] { c->FetchQuery(kEstimate); }},
        {"query before its first row",
         [&] { c->OpenRowStream("select n as held_by_lock from plain"); }},
        {"key look-up", [&] { c->PrimaryKeyColumns(QStringLiteral("dbo"), "plain"); }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.statement);
        const DataError e = cancelled(*c, k.call);
        EXPECT_EQ(e.sqlState(), "HY008") << e.what();
        EXPECT_TRUE(e.description().startsWith("[FreeTDS]")) << "not the driver's cancel";
        stillRuns();
    }

    c->Cancel();  // nothing running: the next statement is refused at once
    try {
        c->FetchQuery("select * from plain");
        ADD_FAILURE() << "a statement after the cancel ran";
    } catch (const DataError& e) {
        EXPECT_EQ(e.sqlState(), messages::kCanceledState);
    }
    stillRuns();
    c->Close();
}

// The server stops cleanly (SIGTERM) while it holds a statement; the held
// call then fails instead of waiting.
TEST_F(Cancel, TheServerStopsWhileItHoldsAStatement) {
    auto c = server.connect();
    auto running =
        std::async(std::launch::async, [&] { EXPECT_THROW(c->FetchQuery(kEstimate), DataError); });
    ASSERT_EQ(running.wait_for(300ms), std::future_status::timeout) << "not held";
    const int status = server.server().stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(running.wait_for(kBound), std::future_status::ready);
    running.get();
}

}  // namespace
