// CanConnect when no driver is registered under the name the connection
// string asks for: this binary runs with a driver registration without it.

#include <gtest/gtest.h>

#include "CanConnect.h"
#include "DataAccess.h"
#include "OdbcHandles.h"
#include "TdsTestServer.h"

namespace {

TEST(CanConnectWithoutDriver, UnregisteredDriverNameIsFalse) {
    const connection::LoginDetails details{QStringLiteral("127.0.0.1"),
                                           QStringLiteral("tester"),
                                           QStringLiteral("secret"),
                                           QStringLiteral("testdb"),
                                           QString::number(tdstest::tdsTestPort()),
                                           false};
    EXPECT_FALSE(connection::CanConnect(details, data::OdbcDataAccess()));
    EXPECT_EQ(data::odbc::liveHandles(SQL_HANDLE_DBC), 0);
    EXPECT_EQ(data::odbc::liveHandles(SQL_HANDLE_STMT), 0);
    // The same layer and server with the driver named explicitly do connect.
    auto c = data::OdbcDataAccess().CreateConnection();
    EXPECT_THROW(c->Open(QString::fromStdString(tdstest::tdsConnectionString())), data::DataError);
}

}  // namespace
