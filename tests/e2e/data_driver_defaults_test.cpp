// The driver defaults the data layer sets on FreeTDS, seen from the wire:
// where a login goes, and how long a silent server can hold it. No TDS
// server is needed: loopback listeners stand in for the misbehaving ones.

#include <gtest/gtest.h>

#include <QString>
#include <cstdlib>

#include "DataAccess.h"
#include "OdbcHandles.h"
#include "data_loopback.h"

using namespace data;
using data_e2e::BrowserResponder;
using data_e2e::Listener;

namespace {

// Every path gives back the connection and statement handles it took.
class DriverDefaults : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(data::odbc::liveHandles(SQL_HANDLE_DBC).load(), 0);
        EXPECT_EQ(data::odbc::liveHandles(SQL_HANDLE_STMT).load(), 0);
    }
};

QString login(const QString& server) {
    return QStringLiteral("Driver={SQL Server};Server=%1;Database=testdb;Uid=tester;Pwd=secret;")
        .arg(server);
}

// Opens and returns the DataError (the listeners never let a login succeed).
DataError failedOpen(const QString& connectionString, int connectionTimeout = 2) {
    auto conn = OdbcDataAccess().CreateConnection();
    conn->ConnectionTimeout = connectionTimeout;
    try {
        conn->Open(connectionString);
    } catch (const DataError& e) {
        EXPECT_EQ(conn->State(), adStateClosed);
        return e;
    }
    ADD_FAILURE() << "opened " << connectionString.toStdString();
    return DataError(QString());
}

// One case binds 1433 (TCP) and 1434 (UDP), so that no other case of the run
// competes for them.
TEST_F(DriverDefaults, EachFormOfServerNameReachesItsPort) {
    Listener standard(Listener::HangUp, 1433);
    Listener other(Listener::HangUp);
    Listener instance(Listener::HangUp);
    BrowserResponder browser("DORV", instance.port());

    // A plain host goes where SQL Server's own clients go.
    failedOpen(login("127.0.0.1"));
    EXPECT_GE(standard.accepted(), 1);
    EXPECT_EQ(std::getenv("TDSPORT"), nullptr) << "the default must not outlive the login";

    // An explicit port is not overridden.
    int before = standard.accepted();
    failedOpen(login(QStringLiteral("127.0.0.1,%1").arg(other.port())));
    EXPECT_GE(other.accepted(), 1);
    EXPECT_EQ(standard.accepted(), before);

    // A named instance still asks the SQL Server Browser for its port.
    before = standard.accepted();
    failedOpen(login("127.0.0.1\\DORV"));
    EXPECT_GE(browser.requests(), 1);
    EXPECT_GE(instance.accepted(), 1);
    EXPECT_EQ(standard.accepted(), before);
}

TEST_F(DriverDefaults, SilentServerFailsAfterTheConnectionTimeout) {
    Listener silent(Listener::Silent);
    const DataError e = failedOpen(login(QStringLiteral("127.0.0.1,%1").arg(silent.port())), 2);
    EXPECT_EQ(e.sqlState(), "HYT00");
    EXPECT_TRUE(e.description().contains("Timeout expired")) << e.what();
    // The version is pinned: no second, older login that would hang past the time-out.
    EXPECT_EQ(silent.accepted(), 1);
}

TEST_F(DriverDefaults, SilentServerFailsAfterTheDefaultLoginTimeout) {
    Listener silent(Listener::Silent);
    const DataError e = failedOpen(login(QStringLiteral("127.0.0.1,%1").arg(silent.port())), 0);
    EXPECT_EQ(e.sqlState(), "HYT00");
}

// One attempt only (the version is pinned), so the record is not repeated.
TEST_F(DriverDefaults, ClosedPortGivesEveryRecordOfTheDriver) {
    const DataError e =
        failedOpen(login(QStringLiteral("127.0.0.1,%1").arg(data_e2e::closedPort())));
    EXPECT_EQ(e.sqlState(), "08S01");
    EXPECT_EQ(e.nativeCode(), 20009);
    EXPECT_EQ(e.description(),
              "[FreeTDS][SQL Server]Unable to connect: Adaptive Server is unavailable or does not "
              "exist\n"
              "[FreeTDS][SQL Server]Unable to connect to data source");
}

TEST_F(DriverDefaults, UnknownHostAndUnknownDriverFail) {
    DataError e = failedOpen(login("nosuchhost.invalid,1433"));
    EXPECT_TRUE(e.description().contains("[FreeTDS][SQL Server]Unknown host machine name."))
        << e.what();
    EXPECT_TRUE(e.description().contains("Unable to connect to data source")) << e.what();

    e = failedOpen("Driver={No Such Driver};Server=127.0.0.1,1433;Uid=u;Pwd=p;");
    EXPECT_EQ(e.sqlState(), "01000");
    EXPECT_TRUE(e.description().contains("No Such Driver")) << e.what();
}

}  // namespace
