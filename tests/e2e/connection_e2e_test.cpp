// CanConnect over the real layer and driver: every way a connection can fail
// is an answer of false, nothing is shown and no ODBC handle stays behind.

#include <gtest/gtest.h>

#include "CanConnect.h"
#include "DataAccess.h"
#include "OdbcHandles.h"
#include "TdsTestServer.h"
#include "data_loopback.h"

namespace {

using connection::LoginDetails;

// The real layer, with a login time-out of the test's choosing on every connection.
class ShortLoginTimeout : public data::DataAccess {
public:
    explicit ShortLoginTimeout(int seconds) : seconds_(seconds) {}
    std::unique_ptr<data::Connection> CreateConnection() override {
        auto c = data::OdbcDataAccess().CreateConnection();
        c->ConnectionTimeout = seconds_;
        return c;
    }

private:
    int seconds_;
};

LoginDetails login(const QString& server, int port, bool local = false) {
    return LoginDetails{server,
                        QStringLiteral("tester"),
                        QStringLiteral("secret"),
                        QStringLiteral("testdb"),
                        QString::number(port),
                        local};
}

// Handles of connections and statements alive now (the environment stays).
int liveConnectionHandles() {
    return data::odbc::liveHandles(SQL_HANDLE_DBC) + data::odbc::liveHandles(SQL_HANDLE_STMT);
}

TEST(CanConnect, TrueOnlyForAServerThatAcceptsTheLogin) {
    const int before = liveConnectionHandles();
    const LoginDetails fixture = login(QStringLiteral("127.0.0.1"), tdstest::tdsTestPort());
    EXPECT_TRUE(connection::CanConnect(fixture, data::OdbcDataAccess()));
    // A password with ";" and "}" reaches the server as typed.
    LoginDetails semi = fixture;
    semi.userName = QString::fromLatin1(tdstest::kSemiUser);
    semi.password = QString::fromLatin1(tdstest::kSemiPassword);
    EXPECT_TRUE(connection::CanConnect(semi, data::OdbcDataAccess()));

    LoginDetails wrongPassword = fixture;
    wrongPassword.password = QStringLiteral("wrong");
    EXPECT_FALSE(connection::CanConnect(wrongPassword, data::OdbcDataAccess()));
    LoginDetails unknownDatabase = fixture;
    unknownDatabase.database = QStringLiteral("nosuchdb");
    EXPECT_FALSE(connection::CanConnect(unknownDatabase, data::OdbcDataAccess()));
    EXPECT_FALSE(connection::CanConnect(login(QStringLiteral("127.0.0.1"), data_e2e::closedPort()),
                                        data::OdbcDataAccess()));
    EXPECT_FALSE(connection::CanConnect(login(QStringLiteral("no-such-host.invalid"), 1433),
                                        data::OdbcDataAccess()));
    EXPECT_EQ(liveConnectionHandles(), before);
}

TEST(CanConnect, SilentServerIsFalseOnceTheLoginTimeOutPasses) {
    data_e2e::Listener silent(data_e2e::Listener::Silent);
    ShortLoginTimeout layer(2);
    const int before = liveConnectionHandles();
    EXPECT_FALSE(connection::CanConnect(login(QStringLiteral("127.0.0.1"), silent.port()), layer));
    EXPECT_GE(silent.accepted(), 1);
    EXPECT_EQ(liveConnectionHandles(), before);
}

}  // namespace
