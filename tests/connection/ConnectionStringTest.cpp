#include <gtest/gtest.h>

#include "LoginDetails.h"

namespace {

using connection::BuildConnectionString;
using connection::LoginDetails;

LoginDetails details(bool local, QString port = QStringLiteral("1433")) {
    return LoginDetails{QStringLiteral("db.example"), QStringLiteral("sa"), QStringLiteral("secret"),
                        QStringLiteral("Sales"), port, local};
}

TEST(ConnectionString, PortForm) {
    EXPECT_EQ(BuildConnectionString(details(false)),
              QStringLiteral("Driver={SQL Server};Server=db.example,1433;Database=Sales;Uid=sa;Pwd=secret;"));
}

TEST(ConnectionString, LocalFormIgnoresThePort) {
    EXPECT_EQ(BuildConnectionString(details(true, QStringLiteral("9999"))),
              QStringLiteral("Driver={SQL Server};Server=db.example;Database=Sales;Uid=sa;Pwd=secret;"));
}

TEST(ConnectionString, EmptyPortKeepsTheComma) {
    EXPECT_TRUE(BuildConnectionString(details(false, QString()))
                    .contains(QStringLiteral("Server=db.example,;Database=Sales;")));
}

TEST(ConnectionString, ValuesGoInUntrimmedAndEmptyValuesStay) {
    LoginDetails d{QStringLiteral(" host "), QString(), QStringLiteral(" pw "), QString(),
                   QStringLiteral("1433"), false};
    EXPECT_EQ(BuildConnectionString(d),
              QStringLiteral("Driver={SQL Server};Server= host ,1433;Database=;Uid=;Pwd= pw ;"));
}

// The driver's reading: a braced value ends at the first "};", and "}}" stays "}}".
TEST(ConnectionString, ValuesTheDriverWouldCutOrUnbraceAreBraced) {
    LoginDetails d = details(false);
    d.password = QStringLiteral("pa;ss}word");
    d.userName = QStringLiteral("{odd}");
    d.database = QStringLiteral("a}b{");
    EXPECT_EQ(BuildConnectionString(d),
              QStringLiteral("Driver={SQL Server};Server=db.example,1433;Database=a}b{;"
                             "Uid={{odd}};Pwd={pa;ss}word};"));
    // The server and its port form one attribute value, braced as a whole.
    d.server = QStringLiteral("h;x");
    EXPECT_TRUE(BuildConnectionString(d).contains(QStringLiteral("Server={h;x,1433};")));
    d.password = QStringLiteral("ends;in}");
    EXPECT_TRUE(BuildConnectionString(d).endsWith(QStringLiteral(";Pwd={ends;in}};")));
}

}  // namespace
