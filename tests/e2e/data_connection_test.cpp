// Logins, statements, the schema rowset and large results through unixODBC
// and FreeTDS against the TDS test server.

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <string>
#include <utility>

#include "DataAccess.h"
#include "OdbcHandles.h"
#include "data_server.h"

using namespace data;
using data_e2e::connectionString;
using data_e2e::openConnection;
using data_e2e::uniqueName;

namespace {

class Connections : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(odbc::liveHandles(SQL_HANDLE_DBC).load(), 0);
        EXPECT_EQ(odbc::liveHandles(SQL_HANDLE_STMT).load(), 0);
    }
};

DataError openFails(const QString& cs) {
    auto conn = OdbcDataAccess().CreateConnection();
    try {
        conn->Open(cs);
    } catch (const DataError& e) {
        EXPECT_EQ(conn->State(), adStateClosed);
        return e;
    }
    ADD_FAILURE() << "opened " << cs.toStdString();
    return DataError(QString());
}

TEST_F(Connections, LoginOpensAndCloses) {
    auto conn = OdbcDataAccess().CreateConnection();
    EXPECT_EQ(conn->State(), adStateClosed);
    conn->Open(connectionString());
    EXPECT_EQ(conn->State(), adStateOpen);
    EXPECT_THROW(conn->Open(connectionString()), DataError);
    conn->Close();
    EXPECT_EQ(conn->State(), adStateClosed);
    conn->Close();
    conn->Open(connectionString());  // a closed connection opens again
    EXPECT_EQ(conn->State(), adStateOpen);
}

TEST_F(Connections, RefusedLoginsKeepTheDriversRecords) {
    DataError e = openFails(connectionString(tdstest::kUser, "wrong"));
    EXPECT_EQ(e.sqlState(), "42000");
    EXPECT_EQ(e.nativeCode(), 18456);
    EXPECT_EQ(e.description(),
              "[FreeTDS][SQL Server]Login failed for user 'tester'.\n"
              "[FreeTDS][SQL Server]Unable to connect to data source");

    e = openFails(connectionString(tdstest::kUser, tdstest::kPassword, "nosuchdb"));
    EXPECT_EQ(e.nativeCode(), 18456);
    EXPECT_EQ(e.description(),
              "[FreeTDS][SQL Server]Login failed for user 'tester'.\n"
              "[FreeTDS][SQL Server]Cannot open database \"nosuchdb\" requested by the login. The "
              "login failed.\n"
              "[FreeTDS][SQL Server]Unable to connect to data source");
}

// Logins of tds-fixture.sh whose values FreeTDS 1.3.17 reads only in the
// program's grammar (ConnectionString.h): braced for ";" or a leading "{", a
// "}" or "}}" inside kept as it is, blanks and "=" kept.
TEST_F(Connections, PasswordsWithBracesAndSemicolonsLogIn) {
    const std::pair<std::string, std::string> logins[] = {
        {tdstest::kSemiUser, tdstest::kSemiPassword},  // Pwd={pa;ss}word};
        {"{lead;er}", "{pa}ss"},                       // Uid={{lead;er}};Pwd={{pa}ss};
        {"tail", " a=b; c}}"},                         // Pwd={ a=b; c}}};
    };
    for (const auto& [user, password] : logins) {
        auto conn = OdbcDataAccess().CreateConnection();
        EXPECT_NO_THROW(conn->Open(connectionString(user, password))) << user;
        EXPECT_EQ(conn->State(), adStateOpen) << user;
    }
}

// The driver ends a braced value at the first "};" and reads on: braced as it
// stands, this password would log in as tester with "secret", which nobody
// typed. So the builder refuses it before any login.
TEST_F(Connections, PasswordTheDriverCannotReadBackIsRefused) {
    const std::string typed = "x};Pwd=secret;";
    auto naive = OdbcDataAccess().CreateConnection();
    naive->Open(QStringLiteral("Driver={SQL Server};Server=127.0.0.1,%1;Database=testdb;"
                               "Uid=tester;Pwd={%2};")
                    .arg(tdstest::tdsTestPort())
                    .arg(QString::fromStdString(typed)));
    EXPECT_EQ(naive->State(), adStateOpen);
    try {
        connectionString(tdstest::kUser, typed);
        ADD_FAILURE() << "built a connection string for " << typed;
    } catch (const DataError& e) {
        EXPECT_TRUE(e.description().contains(QStringLiteral("\"};\""))) << e.what();
    }
}

TEST_F(Connections, TwoConnectionsAtOnce) {
    auto a = openConnection();
    auto b = openConnection();
    const QString t = uniqueName("both");
    a->Execute(QStringLiteral("create table %1 (n int)").arg(t));
    b->Execute(QStringLiteral("insert into %1 (n) values (42)").arg(t));
    const ResultTable fromA = a->FetchQuery("select * from " + t);
    const ResultTable fromB = b->FetchQuery("select * from " + t);
    ASSERT_EQ(fromA.rowCount(), 1u);
    EXPECT_EQ(fromA.value(0, 0).asInteger(), 42);
    EXPECT_EQ(fromB.value(0, 0).asInteger(), 42);
}

TEST_F(Connections, SchemaRowsetListsTablesWithTheirType) {
    auto conn = openConnection();
    const QString first = uniqueName("schema_a"), second = uniqueName("schema_b");
    conn->Execute(QStringLiteral("create table %1 (n int)").arg(first));
    conn->Execute(QStringLiteral("create table %1 (s nvarchar(5))").arg(second));

    const ResultTable rowset = conn->FetchSchemaTables();
    QStringList names;
    for (int f = 0; f < rowset.fieldCount(); ++f) names << rowset.column(f).name();
    EXPECT_EQ(names,
              (QStringList{"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "TABLE_TYPE", "REMARKS"}));

    auto rs = conn->OpenSchemaTables();
    QStringList found;
    while (!rs->Eof()) {
        const Fields f = rs->GetFields();
        const QString name = f.Item("TABLE_NAME").Value().asText().toString();
        if (name == first || name == second) {
            found << name + ":" + f.Item("table_type").Value().asText().toString();
        }
        rs->MoveNext();
    }
    found.sort();
    EXPECT_EQ(found, (QStringList{first + ":TABLE", second + ":TABLE"}));
}

TEST_F(Connections, FailingStatementsKeepTheConnectionUsable) {
    auto conn = openConnection();
    try {
        conn->FetchQuery("select * from nosuch");
        ADD_FAILURE();
    } catch (const DataError& e) {
        EXPECT_EQ(e.sqlState(), "42S02");
        EXPECT_EQ(e.nativeCode(), 208);
        EXPECT_EQ(e.description(), "[FreeTDS][SQL Server]Invalid object name 'nosuch'.");
    }
    // A text longer than the first buffer for diagnostics comes whole.
    const QString longName = "t" + QString(900, u'x');
    try {
        conn->FetchQuery("select * from " + longName);
        ADD_FAILURE();
    } catch (const DataError& e) {
        EXPECT_TRUE(e.description().contains(longName)) << e.description().size();
    }
    EXPECT_THROW(conn->Execute("create tabel oops (n int)"), DataError);
    const QString t = uniqueName("after");
    conn->Execute(QStringLiteral("create table %1 (n bigint)").arg(t));
    conn->Execute(QStringLiteral("insert into %1 values (1), (2), (3000000000), (4)").arg(t));
    // An error after rows comes as a record of a "success with info" fetch:
    // the server's error, not the rows before it.
    try {
        conn->FetchQuery("select cast(n as int) from " + t);
        ADD_FAILURE();
    } catch (const DataError& e) {
        EXPECT_EQ(e.nativeCode(), 8115);
        EXPECT_EQ(e.description(),
                  "[FreeTDS][SQL Server]Arithmetic overflow error converting "
                  "expression to data type int.");
    }
    EXPECT_EQ(conn->FetchQuery("select * from " + t).rowCount(), 4u);
}

TEST_F(Connections, HundredThousandRowsComeWholeAndInOrder) {
    auto conn = openConnection();
    const QString t = uniqueName("big");
    conn->Execute(
        QStringLiteral("create table %1 (id int, name nvarchar(20), amount decimal(12,2), "
                       "flag bit)")
            .arg(t));
    constexpr int kRows = 100'000;
    for (int start = 0; start < kRows; start += 1000) {
        QStringList values;
        for (int i = start; i < start + 1000; ++i) {
            values << (i % 10 == 0
                           ? QStringLiteral("(%1, NULL, NULL, NULL)").arg(i)
                           : QStringLiteral("(%1, N'name %1', %1.25, %2)").arg(i).arg(i % 2));
        }
        conn->Execute(QStringLiteral("insert into %1 (id, name, amount, flag) values %2")
                          .arg(t, values.join(u',')));
    }
    Recordset rs;
    rs.Open("select * from " + t, *conn);
    const ResultTable r = rs.GetRows();
    ASSERT_EQ(r.rowCount(), static_cast<std::size_t>(kRows));
    int mismatches = 0;
    for (int i = 0; i < kRows; ++i) {
        const auto row = static_cast<std::size_t>(i);
        bool ok = r.value(0, row).asInteger() == i;
        if (i % 10 == 0) {
            ok = ok && r.value(1, row).isNull() && r.value(2, row).isNull() &&
                 r.value(3, row).isNull();
        } else {
            ok = ok && r.value(1, row).asText() == QStringLiteral("name %1").arg(i) &&
                 r.value(2, row).unscaled() == static_cast<__int128>(i) * 100 + 25 &&
                 r.value(2, row).scale() == 2 && r.value(3, row).asBit() == (i % 2 == 1);
        }
        if (!ok && ++mismatches < 5) ADD_FAILURE() << "row " << i;
    }
    EXPECT_EQ(mismatches, 0);
}

// The server delays every reply, its answer to the driver's cancel too, so
// the timed-out connection is not reused: a fresh one shows that 0 means none.
TEST_F(Connections, CommandTimeoutBoundsAStatementAndZeroMeansNoLimit) {
    tdstest::PrivateServer slow({"--delay-ms", "1500"});
    auto conn = OdbcDataAccess().CreateConnection();
    conn->ConnectionTimeout = 30;
    conn->Open(QString::fromStdString(slow.connectionString()));
    conn->CommandTimeout = 1;
    try {
        conn->Execute("create table slow_t (n int)");
        ADD_FAILURE() << "no time-out";
    } catch (const DataError& e) {
        EXPECT_EQ(e.sqlState(), "HYT00") << e.what();
        EXPECT_TRUE(e.description().startsWith("[FreeTDS][SQL Server]Timeout expired")) << e.what();
    }
    auto patient = OdbcDataAccess().CreateConnection();
    patient->ConnectionTimeout = 30;
    patient->CommandTimeout = 0;
    patient->Open(QString::fromStdString(slow.connectionString()));
    patient->Execute("create table slow_u (n int)");
    EXPECT_EQ(patient->FetchQuery("select * from slow_u").fieldCount(), 1);
}

TEST_F(Connections, ConnectionDroppedWhileFetchingFails) {
    tdstest::PrivateServer dropping({"--drop-after-rows", "1500"});
    auto conn = OdbcDataAccess().CreateConnection();
    conn->Open(QString::fromStdString(dropping.connectionString()));
    conn->Execute("create table many (n int)");
    for (int start = 0; start < 3000; start += 1000) {
        QStringList values;
        for (int i = start; i < start + 1000; ++i) values << QStringLiteral("(%1)").arg(i);
        conn->Execute("insert into many (n) values " + values.join(u','));
    }
    EXPECT_THROW(conn->FetchQuery("select * from many"), DataError);
    conn->Close();
}

// A table's primary key through the driver's SQLPrimaryKeys, in key order
// (not column order), for a table of another schema too; none without a key.
TEST_F(Connections, PrimaryKeyColumnsComeInKeyOrder) {
    auto c = openConnection();
    const QString keyed = uniqueName("Keyed");
    const QString loose = uniqueName("Loose");
    c->Execute(
        QStringLiteral("create table [%1] (A int, B int, C nvarchar(10), primary key (B, A))")
            .arg(keyed));
    c->Execute(QStringLiteral("create table [%1] (A int)").arg(loose));
    c->Execute(QStringLiteral("create table [sales].[%1] (Id int primary key, N int)").arg(keyed));
    EXPECT_EQ(c->PrimaryKeyColumns(QStringLiteral("dbo"), keyed), (QStringList{"B", "A"}));
    EXPECT_EQ(c->PrimaryKeyColumns(QString(), keyed), (QStringList{"B", "A"}));
    EXPECT_EQ(c->PrimaryKeyColumns(QStringLiteral("sales"), keyed), QStringList{"Id"});
    EXPECT_EQ(c->PrimaryKeyColumns(QStringLiteral("dbo"), loose), QStringList());
    EXPECT_EQ(c->PrimaryKeyColumns(QStringLiteral("dbo"), uniqueName("Missing")), QStringList());
    c->Close();
}

}  // namespace
