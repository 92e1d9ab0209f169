#include <gtest/gtest.h>

#include "ConnectionString.h"
#include "DataError.h"
#include "LoginDetails.h"

namespace {

using connection::BuildConnectionString;
using connection::LoginDetails;

LoginDetails details(bool local, QString port = QStringLiteral("1433")) {
    return LoginDetails{QStringLiteral("db.example"),
                        QStringLiteral("sa"),
                        QStringLiteral("secret"),
                        QStringLiteral("Sales"),
                        port,
                        local};
}

TEST(LoginConnectionString, PortForm) {
    EXPECT_EQ(BuildConnectionString(details(false)),
              QStringLiteral(
                  "Driver={SQL Server};Server=db.example,1433;Database=Sales;Uid=sa;Pwd=secret;"));
}

TEST(LoginConnectionString, LocalFormIgnoresThePort) {
    EXPECT_EQ(
        BuildConnectionString(details(true, QStringLiteral("9999"))),
        QStringLiteral("Driver={SQL Server};Server=db.example;Database=Sales;Uid=sa;Pwd=secret;"));
}

TEST(LoginConnectionString, EmptyPortKeepsTheComma) {
    EXPECT_TRUE(BuildConnectionString(details(false, QString()))
                    .contains(QStringLiteral("Server=db.example,;Database=Sales;")));
}

TEST(LoginConnectionString, ValuesGoInUntrimmedAndEmptyValuesStay) {
    LoginDetails d{QStringLiteral(" host "), QString(), QStringLiteral(" pw "), QString(),
                   QStringLiteral("1433"),   false};
    EXPECT_EQ(BuildConnectionString(d),
              QStringLiteral("Driver={SQL Server};Server= host ,1433;Database=;Uid=;Pwd= pw ;"));
}

// The driver's reading (ConnectionString.h): a braced value ends at the first
// "};", and "}}" stays "}}".
TEST(LoginConnectionString, ValuesTheDriverWouldCutOrUnbraceAreBraced) {
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

// Each field read back as the driver reads it is the field as typed, and a
// value the driver would read as something else stops the login being built.
TEST(LoginConnectionString, FieldsReadBackAsTypedOrTheBuildFails) {
    const LoginDetails d{QStringLiteral("{h;x}"),   QStringLiteral(" {u}} "),
                         QStringLiteral("a}b;c}}"), QStringLiteral("x=y"),
                         QStringLiteral("1"),       false};
    const QString cs = BuildConnectionString(d);
    EXPECT_EQ(data::connectionStringValue(cs, u"Server"), QStringLiteral("{h;x},1"));
    EXPECT_EQ(data::connectionStringValue(cs, u"Uid"), d.userName);
    EXPECT_EQ(data::connectionStringValue(cs, u"Pwd"), d.password);
    EXPECT_EQ(data::connectionStringValue(cs, u"Database"), d.database);
    LoginDetails cut = d;
    cut.password = QStringLiteral("x};Uid=sa");
    EXPECT_THROW(BuildConnectionString(cut), data::DataError);
}

}  // namespace
