#include <gtest/gtest.h>

#include "CanConnect.h"
#include "MemoryDataAccess.h"

namespace {

connection::LoginDetails Login(const QString& password = QStringLiteral("secret")) {
    return {QStringLiteral("db.example"), QStringLiteral("sa"),   password,
            QStringLiteral("Sales"),      QStringLiteral("1433"), false};
}

// The answer is whether the connection opens: a string that cannot be built
// or a refused open is false, a failing close afterwards still true; nothing
// stays open either way.
TEST(CanConnect, AnswersWhetherTheConnectionOpened) {
    data::MemoryDataAccess layer;
    EXPECT_TRUE(connection::CanConnect(Login(), layer));

    layer.failOn(data::Operation::Close, QStringLiteral("Communication link failure"));
    EXPECT_TRUE(connection::CanConnect(Login(), layer));

    layer.failOn(data::Operation::Open, QStringLiteral("Login failed for user 'sa'."));
    EXPECT_FALSE(connection::CanConnect(Login(), layer));

    EXPECT_FALSE(connection::CanConnect(Login(QStringLiteral("pa};ss")), layer));
    EXPECT_EQ(layer.openConnections(), 0);
}

}  // namespace
