// The TDS test server against the real driver manager and FreeTDS driver,
// through the ODBC C API (wide functions), as the product will use them.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "SqlNames.h"
#include "TableQuery.h"
#include "TdsTestServer.h"
#include "data_loopback.h"

namespace {

using tdstest::tdsConnectionString;
using tdstest::tdsUniqueName;

// --- text -------------------------------------------------------------------

std::u16string widen(const std::string& s) { return QString::fromStdString(s).toStdU16String(); }

std::string narrow(const std::u16string& s) { return QString::fromStdU16String(s).toStdString(); }

SQLWCHAR* sqlw(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

// --- ODBC plumbing ----------------------------------------------------------

struct Diag {
    std::string state;
    long native;
    std::string text;
};

std::vector<Diag> diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
    std::vector<Diag> out;
    for (SQLSMALLINT i = 1;; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR text[2048] = {};
        SQLSMALLINT len = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, text, 2048, &len);
        if (!SQL_SUCCEEDED(rc)) break;
        out.push_back({narrow(std::u16string(reinterpret_cast<char16_t*>(state), 5)), long(native),
                       narrow(std::u16string(reinterpret_cast<char16_t*>(text),
                                             size_t(std::min<int>(len, 2047))))});
    }
    return out;
}

std::string describe(const std::vector<Diag>& diags) {
    std::string out;
    for (const Diag& d : diags)
        out += d.state + "/" + std::to_string(d.native) + " " + d.text + "\n";
    return out;
}

bool hasNative(const std::vector<Diag>& diags, long native) {
    for (const Diag& d : diags)
        if (d.native == native) return true;
    return false;
}

SQLHENV environment() {
    // The driver reads TDSVER when the environment is allocated.
    static SQLHENV env = [] {
        setenv("TDSVER", "7.4", 1);
        SQLHENV h = SQL_NULL_HENV;
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h);
        SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        return h;
    }();
    return env;
}

struct Column {
    std::string name;
    SQLSMALLINT type;
    SQLULEN size;
    SQLSMALLINT digits;
    SQLSMALLINT nullable;
};

using Row = std::vector<std::optional<std::string>>;

struct Result {
    std::vector<Column> columns;
    std::vector<Row> rows;
};

class Connection {
public:
    Connection() { SQLAllocHandle(SQL_HANDLE_DBC, environment(), &dbc_); }
    ~Connection() {
        if (connected_) SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // True on success; otherwise the driver's records are in diags().
    bool connect(const std::string& connectionString) {
        SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(10), 0);
        std::u16string w = widen(connectionString);
        SQLRETURN rc = SQLDriverConnectW(dbc_, nullptr, sqlw(w), SQL_NTS, nullptr, 0, nullptr,
                                         SQL_DRIVER_NOPROMPT);
        connected_ = SQL_SUCCEEDED(rc);
        if (!connected_) diags_ = diagnostics(SQL_HANDLE_DBC, dbc_);
        return connected_;
    }
    const std::vector<Diag>& diags() const { return diags_; }
    SQLHDBC handle() const { return dbc_; }

    std::string info(SQLUSMALLINT what) {
        SQLWCHAR buf[256] = {};
        SQLSMALLINT len = 0;
        SQLGetInfoW(dbc_, what, buf, sizeof buf, &len);
        return narrow(std::u16string(reinterpret_cast<char16_t*>(buf), size_t(len) / 2));
    }

private:
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    bool connected_ = false;
    std::vector<Diag> diags_;
};

class Statement {
public:
    explicit Statement(Connection& c) { SQLAllocHandle(SQL_HANDLE_STMT, c.handle(), &stmt_); }
    ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    SQLHSTMT handle() const { return stmt_; }

    SQLRETURN execute(const std::string& sql) {
        std::u16string w = widen(sql);
        return SQLExecDirectW(stmt_, sqlw(w), SQL_NTS);
    }
    std::vector<Diag> diags() const { return diagnostics(SQL_HANDLE_STMT, stmt_); }

    std::vector<Column> columns() {
        SQLSMALLINT n = 0;
        SQLNumResultCols(stmt_, &n);
        std::vector<Column> out;
        for (SQLUSMALLINT i = 1; i <= SQLUSMALLINT(n); ++i) {
            SQLWCHAR name[256] = {};
            SQLSMALLINT nameLen = 0;
            Column c{};
            SQLDescribeColW(stmt_, i, name, 256, &nameLen, &c.type, &c.size, &c.digits,
                            &c.nullable);
            c.name = narrow(std::u16string(reinterpret_cast<char16_t*>(name), size_t(nameLen)));
            out.push_back(c);
        }
        return out;
    }

    // One field as text through SQL_C_WCHAR, read in pieces; nullopt for NULL.
    std::optional<std::string> text(SQLUSMALLINT column) {
        std::u16string value;
        SQLWCHAR buf[1024];
        for (;;) {
            SQLLEN ind = 0;
            SQLRETURN rc = SQLGetData(stmt_, column, SQL_C_WCHAR, buf, sizeof buf, &ind);
            if (rc == SQL_NO_DATA) break;
            if (!SQL_SUCCEEDED(rc)) {
                ADD_FAILURE() << "SQLGetData: " << describe(diags());
                return std::nullopt;
            }
            if (ind == SQL_NULL_DATA) return std::nullopt;
            size_t chars =
                (ind == SQL_NO_TOTAL || size_t(ind) >= sizeof buf) ? 1023 : size_t(ind) / 2;
            value.append(reinterpret_cast<char16_t*>(buf), chars);
            if (rc == SQL_SUCCESS) break;
        }
        return narrow(value);
    }

    // SQLFetch's answer plus the row, when there is one.
    SQLRETURN fetch(Row& row) {
        SQLRETURN rc = SQLFetch(stmt_);
        row.clear();
        if (!SQL_SUCCEEDED(rc)) return rc;
        SQLSMALLINT n = 0;
        SQLNumResultCols(stmt_, &n);
        for (SQLUSMALLINT i = 1; i <= SQLUSMALLINT(n); ++i) row.push_back(text(i));
        return rc;
    }

private:
    SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

// Runs a statement of a test's setup; ASSERT_TRUE(exec(...)) stops the test when it fails.
[[nodiscard]] ::testing::AssertionResult exec(Connection& c, const std::string& sql) {
    Statement s(c);
    SQLRETURN rc = s.execute(sql);
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << sql << "\n" << describe(s.diags());
}

Result query(Connection& c, const std::string& sql) {
    Statement s(c);
    Result r;
    SQLRETURN rc = s.execute(sql);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << sql << "\n" << describe(s.diags());
    if (!SQL_SUCCEEDED(rc)) return r;
    r.columns = s.columns();
    Row row;
    while (SQL_SUCCEEDED(rc = s.fetch(row))) r.rows.push_back(row);
    EXPECT_EQ(rc, SQL_NO_DATA) << describe(s.diags());
    return r;
}

std::vector<Diag> failure(Connection& c, const std::string& sql) {
    Statement s(c);
    SQLRETURN rc = s.execute(sql);
    EXPECT_FALSE(SQL_SUCCEEDED(rc)) << sql << " should have failed";
    return s.diags();
}

std::unique_ptr<Connection> connectTest(const std::string& database = tdstest::kDatabase) {
    auto c = std::make_unique<Connection>();
    EXPECT_TRUE(c->connect(tdsConnectionString(database))) << describe(c->diags());
    return c;
}

// --- login ------------------------------------------------------------------

TEST(TdsLogin, AcceptsTheTestLoginAndReportsServerAndDatabase) {
    Connection c;
    ASSERT_TRUE(c.connect(tdsConnectionString())) << describe(c.diags());
    EXPECT_EQ(c.info(SQL_DATABASE_NAME), "testdb");
    EXPECT_EQ(c.info(SQL_DBMS_NAME), "Microsoft SQL Server");
}

TEST(TdsLogin, AcceptsAPasswordHoldingSemicolonAndBrace) {
    Connection c;
    EXPECT_TRUE(c.connect(
        tdsConnectionString(tdstest::kDatabase, tdstest::kSemiUser, tdstest::kSemiPassword)))
        << describe(c.diags());
}

TEST(TdsLogin, RefusesAWrongPasswordAsSqlServerDoes) {
    Connection c;
    ASSERT_FALSE(c.connect(tdsConnectionString(tdstest::kDatabase, tdstest::kUser, "wrong")));
    bool found = false;
    for (const Diag& d : c.diags())
        if (d.native == 18456 &&
            d.text.find("Login failed for user 'tester'.") != std::string::npos)
            found = true;
    EXPECT_TRUE(found) << describe(c.diags());
}

TEST(TdsLogin, RefusesAnUnknownDatabaseWith4060) {
    Connection c;
    ASSERT_FALSE(c.connect(tdsConnectionString("nosuchdb")));
    EXPECT_TRUE(hasNative(c.diags(), 4060)) << describe(c.diags());
    EXPECT_TRUE(hasNative(c.diags(), 18456)) << describe(c.diags());
}

TEST(TdsLogin, FailsOnAClosedPort) {
    Connection c;
    ASSERT_FALSE(c.connect(tdstest::tdsConnectionStringAt(data_e2e::closedPort())));
    ASSERT_FALSE(c.diags().empty());
    EXPECT_EQ(c.diags().back().state, "08001") << describe(c.diags());
}

TEST(TdsLogin, DatabasesAreSeparate) {
    auto other = connectTest(tdstest::kOtherDatabase);
    std::string table = tdsUniqueName("OnlyOther");
    ASSERT_TRUE(exec(*other, "create table " + table + " (id int)"));
    auto test = connectTest();
    EXPECT_TRUE(hasNative(failure(*test, "select * from " + table), 208));
    EXPECT_EQ(query(*other, "select * from " + table).columns.size(), 1u);
}

// --- catalogue and names ----------------------------------------------------

struct TableRow {
    std::string cat, schema, name, type;
};

std::vector<TableRow> tables(Connection& c, const char* typeFilter) {
    Statement s(c);
    std::u16string types = widen(typeFilter ? typeFilter : "");
    SQLRETURN rc = SQLTablesW(s.handle(), nullptr, 0, nullptr, 0, nullptr, 0,
                              typeFilter ? sqlw(types) : nullptr, typeFilter ? SQL_NTS : 0);
    EXPECT_TRUE(SQL_SUCCEEDED(rc)) << describe(s.diags());
    std::vector<Column> cols = s.columns();
    EXPECT_GE(cols.size(), 4u);
    if (cols.size() >= 4) {
        EXPECT_EQ(cols[0].name, "TABLE_CAT");
        EXPECT_EQ(cols[1].name, "TABLE_SCHEM");
        EXPECT_EQ(cols[2].name, "TABLE_NAME");
        EXPECT_EQ(cols[3].name, "TABLE_TYPE");
    }
    std::vector<TableRow> out;
    Row row;
    while (SQL_SUCCEEDED(s.fetch(row))) out.push_back({*row[0], *row[1], *row[2], *row[3]});
    return out;
}

bool contains(const std::vector<TableRow>& rows, const TableRow& want) {
    for (const TableRow& r : rows)
        if (r.cat == want.cat && r.schema == want.schema && r.name == want.name &&
            r.type == want.type)
            return true;
    return false;
}

TEST(TdsCatalog, ListsTablesViewsAndSystemTablesWithOwners) {
    auto c = connectTest();
    std::string table = tdsUniqueName("Orders"), schema = tdsUniqueName("sales"),
                view = tdsUniqueName("OrderView");
    ASSERT_TRUE(exec(*c, "create table [" + table + "] (id int)"));
    ASSERT_TRUE(exec(*c, "create table [" + schema + "].[" + table + "] (id int)"));
    ASSERT_TRUE(exec(*c, "create view " + view + " as select id from " + table));

    std::vector<TableRow> all = tables(*c, nullptr);
    EXPECT_TRUE(contains(all, {"testdb", "dbo", table, "TABLE"}));
    EXPECT_TRUE(contains(all, {"testdb", schema, table, "TABLE"}));
    EXPECT_TRUE(contains(all, {"testdb", "dbo", view, "VIEW"}));
    EXPECT_TRUE(contains(all, {"testdb", "sys", "sysobjects", "SYSTEM TABLE"}));

    std::vector<TableRow> onlyTables = tables(*c, "TABLE");
    EXPECT_TRUE(contains(onlyTables, {"testdb", schema, table, "TABLE"}));
    for (const TableRow& r : onlyTables) EXPECT_EQ(r.type, "TABLE") << r.name;
    std::vector<TableRow> onlyViews = tables(*c, "VIEW");
    EXPECT_TRUE(contains(onlyViews, {"testdb", "dbo", view, "VIEW"}));
    for (const TableRow& r : onlyViews) EXPECT_EQ(r.type, "VIEW") << r.name;
}

TEST(TdsCatalog, SchemaQualifiedNamesReachTheirOwnTable) {
    auto c = connectTest();
    std::string table = tdsUniqueName("Items"), schema = tdsUniqueName("sales");
    ASSERT_TRUE(exec(*c, "create table " + table + " (v nvarchar(10))"));
    ASSERT_TRUE(exec(*c, "insert into " + table + " values (N'dbo')"));
    ASSERT_TRUE(exec(*c, "create table [" + schema + "].[" + table + "] (v nvarchar(10))"));
    ASSERT_TRUE(exec(*c, "insert into " + schema + "." + table + " values (N'other')"));
    for (std::string name : {table, "dbo." + table, "[dbo].[" + table + "]"}) {
        Result r = query(*c, "select * from " + name);
        ASSERT_EQ(r.rows.size(), 1u) << name;
        EXPECT_EQ(r.rows[0][0], "dbo") << name;
    }
    for (std::string name : {schema + "." + table, "[" + schema + "].[" + table + "]",
                             "testdb." + schema + "." + table}) {
        Result r = query(*c, "select * from " + name);
        ASSERT_EQ(r.rows.size(), 1u) << name;
        EXPECT_EQ(r.rows[0][0], "other") << name;
    }
}

// The row-count estimate the program asks for, and a name as it quotes one.
std::string rowCountQuery(const std::string& schema, const std::string& name) {
    return compare::RowCountEstimateQuery(
               {QString::fromStdString(schema), QString::fromStdString(name)})
        .toStdString();
}
std::string quotedName(const std::string& name) {
    return compare::QuotedIdentifier(QString::fromStdString(name)).toStdString();
}

TEST(TdsCatalog, RowCountEstimateIsTheTablesCountOrNull) {
    auto c = connectTest();
    std::string schema = tdsUniqueName("sales"), odd = tdsUniqueName("It's]x");
    std::string plain = tdsUniqueName("Plain");
    std::string oddName = quotedName(schema) + "." + quotedName(odd);
    ASSERT_TRUE(exec(*c, "create table " + oddName + " (id int)"));
    ASSERT_TRUE(exec(
        *c,
        "with recursive n(x) as (select 1 union all select x + 1 from n where x < 1234) insert "
        "into " +
            oddName + " select x from n"));
    ASSERT_TRUE(
        exec(*c, "create table " + plain + " (id int); insert into " + plain + " values (1), (2)"));

    Result r = query(*c, rowCountQuery(schema, odd));
    ASSERT_EQ(r.columns.size(), 1u);
    EXPECT_EQ(r.columns[0].name, "");
    EXPECT_EQ(r.columns[0].type, SQL_BIGINT);
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0].at(0), "1234");
    EXPECT_EQ(query(*c, rowCountQuery("dbo", plain)).rows.at(0).at(0), "2");
    // The same name under dbo, and a table that is not there: NULL, not an error.
    for (const auto& [inSchema, name] :
         {std::pair<std::string, std::string>{"dbo", odd}, {schema, "Missing"}}) {
        Result none = query(*c, rowCountQuery(inSchema, name));
        ASSERT_EQ(none.rows.size(), 1u) << inSchema << "." << name;
        EXPECT_EQ(none.rows[0].at(0), std::nullopt) << inSchema << "." << name;
    }
    // The reading connection goes on to the table itself.
    EXPECT_EQ(query(*c, "select * from " + oddName).rows.size(), 1234u);
}

// A view, in the default schema or another, reads as a table does: its
// columns keep their types, bracketed and schema-qualified names reach it,
// and it has no row-count estimate (no partitions of its own).
TEST(TdsCatalog, ViewsAreCreatedAndReadLikeTables) {
    auto c = connectTest();
    const std::string table = tdsUniqueName("Base"), schema = tdsUniqueName("sales");
    const std::string view = tdsUniqueName("Seen]v");
    ASSERT_TRUE(exec(*c, "create table " + table +
                             " (id int primary key, name nvarchar(10), amount decimal(10,2))"));
    ASSERT_TRUE(exec(*c, "insert into " + table + " values (1, N'a', 1.5), (2, N'b', 2.25)"));
    ASSERT_TRUE(exec(*c, "CREATE VIEW [dbo]." + quotedName(view) +
                             " AS SELECT id, name, amount FROM " + table + " WHERE id > 1"));
    ASSERT_TRUE(
        exec(*c, "create view [" + schema + "].[V] as select id, name from [dbo].[" + table + "]"));

    const Result r = query(*c, "select * from " + quotedName(view) + " order by id");
    ASSERT_EQ(r.columns.size(), 3u);
    EXPECT_EQ(r.columns[0].type, SQL_INTEGER);
    EXPECT_EQ(r.columns[1].type, SQL_WVARCHAR);
    EXPECT_EQ(r.columns[2].type, SQL_NUMERIC);
    EXPECT_EQ(r.rows, (std::vector<Row>{{"2", "b", "2.25"}}));
    EXPECT_EQ(query(*c, "select name from [" + schema + "].[V] order by id").rows,
              (std::vector<Row>{{"a"}, {"b"}}));
    EXPECT_EQ(query(*c, rowCountQuery("dbo", view)).rows.at(0).at(0), std::nullopt);
    EXPECT_EQ(query(*c, rowCountQuery(schema, "V")).rows.at(0).at(0), std::nullopt);
    // A name a table has already is refused as SQL Server refuses it.
    EXPECT_TRUE(hasNative(failure(*c, "create view " + table + " as select 1 as x"), 2714));
}

// --- types ------------------------------------------------------------------

struct TypeCase {
    const char* declared;
    const char* literal;
    SQLSMALLINT odbcType;
    SQLULEN size;
    SQLSMALLINT digits;
    const char* text;  // as SQLGetData(SQL_C_WCHAR) returns it
};

const TypeCase kTypes[] = {
    {"int", "-2147483648", SQL_INTEGER, 10, 0, "-2147483648"},
    {"bigint", "9223372036854775807", SQL_BIGINT, 19, 0, "9223372036854775807"},
    {"smallint", "-32768", SQL_SMALLINT, 5, 0, "-32768"},
    {"tinyint", "255", SQL_TINYINT, 3, 0, "255"},
    {"bit", "1", SQL_BIT, 1, 0, "1"},
    // SQLite keeps non-integral decimals as REAL: exact up to 15 significant digits.
    {"decimal(18,4)", "'12345678901.2345'", SQL_NUMERIC, 18, 4, "12345678901.2345"},
    {"decimal(5,3)", "-0.0005", SQL_NUMERIC, 5, 3, "-0.001"},
    {"decimal(10,2)", "12.5", SQL_NUMERIC, 10, 2, "12.50"},
    {"numeric(38,0)", "-9223372036854775807", SQL_NUMERIC, 38, 0, "-9223372036854775807"},
    {"money", "-922337203685.4775", SQL_DECIMAL, 19, 4, "-922337203685.4775"},
    {"smallmoney", "214748.3647", SQL_DECIMAL, 10, 4, "214748.3647"},
    {"float", "3.141592653589793", SQL_DOUBLE, 53, 0, "3.1415926535897931"},
    {"real", "1.5", SQL_REAL, 24, 0, "1.5"},
    {"date", "'2024-02-29'", SQL_TYPE_DATE, 10, 0, "2024-02-29"},
    {"time", "'13:45:30.1234567'", -154, 16, 7, "13:45:30.1234567"},
    {"datetime", "'2024-02-29 13:45:30.997'", SQL_TYPE_TIMESTAMP, 23, 3, "2024-02-29 13:45:30.997"},
    {"datetime2", "'9999-12-31 23:59:59.9999999'", SQL_TYPE_TIMESTAMP, 27, 7,
     "9999-12-31 23:59:59.9999999"},
    {"smalldatetime", "'2024-02-29 13:45:30'", SQL_TYPE_TIMESTAMP, 16, 0, "2024-02-29 13:46:00"},
    {"char(5)", "'ab'", SQL_CHAR, 5, 0, "ab   "},
    {"varchar(20)", "'caf\xc3\xa9 \xe2\x82\xac'", SQL_VARCHAR, 20, 0, "caf\xc3\xa9 \xe2\x82\xac"},
    {"nchar(3)", "N'\xc3\xbc'", SQL_WCHAR, 3, 0, "\xc3\xbc  "},
    {"nvarchar(30)",
     "N'Gr\xc3\xbc\xc3\x9f"
     "e \xe2\x9c\x93 \xf0\x9d\x84\x9e'",
     SQL_WVARCHAR, 30, 0,
     "Gr\xc3\xbc\xc3\x9f"
     "e \xe2\x9c\x93 \xf0\x9d\x84\x9e"},
    {"varchar(max)", "'plain'", SQL_VARCHAR, 0, 0, "plain"},
    {"nvarchar(max)", "N'\xd0\x96'", SQL_WVARCHAR, 0, 0, "\xd0\x96"},
    {"binary(4)", "0x0102", SQL_BINARY, 4, 0, "01020000"},
    {"varbinary(10)", "X'00FF10'", SQL_VARBINARY, 10, 0, "00FF10"},
    {"varbinary(max)", "0xCAFE", SQL_VARBINARY, 0, 0, "CAFE"},
    {"uniqueidentifier", "'6F9619FF-8B86-D011-B42D-00C04FC964FF'", SQL_GUID, 36, 0,
     "6F9619FF-8B86-D011-B42D-00C04FC964FF"},
};

TEST(TdsTypes, EveryColumnTypeKeepsItsOdbcTypeAndValue) {
    auto c = connectTest();
    std::string table = tdsUniqueName("AllTypes");
    std::string create = "create table " + table + " (id int not null";
    std::string values = "insert into " + table + " values (1";
    std::string nulls = "insert into " + table + " values (2";
    for (size_t i = 0; i < std::size(kTypes); ++i) {
        create += ", c" + std::to_string(i) + " " + kTypes[i].declared;
        values += std::string(", ") + kTypes[i].literal;
        nulls += ", NULL";
    }
    ASSERT_TRUE(exec(*c, create + ")"));
    ASSERT_TRUE(exec(*c, values + ")"));
    ASSERT_TRUE(exec(*c, nulls + ")"));
    Result r = query(*c, "select * from " + table + " order by id");
    ASSERT_EQ(r.columns.size(), std::size(kTypes) + 1);
    ASSERT_EQ(r.rows.size(), 2u);
    EXPECT_EQ(r.columns[0].nullable, SQL_NO_NULLS);
    for (size_t i = 0; i < std::size(kTypes); ++i) {
        const TypeCase& t = kTypes[i];
        const Column& col = r.columns[i + 1];
        SCOPED_TRACE(t.declared);
        EXPECT_EQ(col.name, "c" + std::to_string(i));
        EXPECT_EQ(col.type, t.odbcType);
        if (t.odbcType != SQL_DOUBLE && t.odbcType != SQL_REAL) {
            EXPECT_EQ(col.size, t.size);
            EXPECT_EQ(col.digits, t.digits);
        }
        EXPECT_EQ(col.nullable, SQL_NULLABLE);
        ASSERT_TRUE(r.rows[0][i + 1].has_value());
        std::string got = *r.rows[0][i + 1];
        if (t.odbcType == SQL_BINARY || t.odbcType == SQL_VARBINARY) {
            for (char& ch : got) ch = char(std::toupper(static_cast<unsigned char>(ch)));
        }
        EXPECT_EQ(got, t.text);
        EXPECT_FALSE(r.rows[1][i + 1].has_value()) << "NULL expected";
    }
}

TEST(TdsTypes, EmptyTextIsNotNull) {
    auto c = connectTest();
    std::string table = tdsUniqueName("Empty");
    ASSERT_TRUE(
        exec(*c, "create table " + table +
                     " (id int, v varchar(10), n nvarchar(10), m nvarchar(max), b varbinary(10))"));
    ASSERT_TRUE(exec(*c, "insert into " + table + " values (1, '', N'', N'', X'')"));
    ASSERT_TRUE(exec(*c, "insert into " + table + " values (2, NULL, NULL, NULL, NULL)"));
    Result r = query(*c, "select v, n, m, b from " + table + " order by id");
    ASSERT_EQ(r.rows.size(), 2u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(r.rows[0][i], std::optional<std::string>("")) << i;
        EXPECT_EQ(r.rows[1][i], std::nullopt) << i;
    }
}

TEST(TdsTypes, LongTextArrivesWhole) {
    auto c = connectTest();
    std::string table = tdsUniqueName("Long");
    ASSERT_TRUE(exec(*c, "create table " + table + " (n nvarchar(max), v varchar(max))"));
    ASSERT_TRUE(
        exec(*c, "insert into " + table +
                     " values (replace(hex(zeroblob(10000)), '00', N'\xc3\xa9\xe2\x9c\x93'), "
                     "replace(hex(zeroblob(20000)), '00', 'ab'))"));
    Result r = query(*c, "select n, v from " + table);
    ASSERT_EQ(r.rows.size(), 1u);
    std::string expectedN, expectedV;
    for (int i = 0; i < 10000; ++i) expectedN += "\xc3\xa9\xe2\x9c\x93";
    for (int i = 0; i < 20000; ++i) expectedV += "ab";
    EXPECT_EQ(r.rows[0][0], expectedN);
    EXPECT_EQ(r.rows[0][1], expectedV);
}

TEST(TdsTypes, ExpressionsTakeTheirTypeFromTheValue) {
    auto c = connectTest();
    Result r = query(*c, "select 1 + 1 as i, 1.5 as f, N'x' as t, X'01' as b");
    ASSERT_EQ(r.columns.size(), 4u);
    EXPECT_EQ(r.columns[0].type, SQL_BIGINT);
    EXPECT_EQ(r.columns[1].type, SQL_DOUBLE);
    EXPECT_EQ(r.columns[2].type, SQL_WVARCHAR);
    EXPECT_EQ(r.columns[3].type, SQL_VARBINARY);
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0][0], "2");
    EXPECT_EQ(r.rows[0][2], "x");
}

// --- queries as sides: derived tables, CTEs, views -------------------------

// A query side runs inside a derived table, with its own TOP or ORDER BY ...
// OFFSET, its CTEs ahead of the outer select.
TEST(TdsQueries, DerivedTablesCtesAndViewsInJoins) {
    auto c = connectTest();
    const std::string table = tdsUniqueName("Q"), view = tdsUniqueName("QView");
    ASSERT_TRUE(exec(*c, "create table " + table +
                             " (id int primary key, name nvarchar(10), amount decimal(10,2))"));
    ASSERT_TRUE(
        exec(*c, "insert into " + table + " values (1, N'a', 1.5), (2, N'b', 2), (3, N'c', 3)"));
    ASSERT_TRUE(exec(*c, "create view " + view + " as select id, name from " + table));
    auto rows = [&](const std::string& sql) { return query(*c, sql).rows; };
    EXPECT_EQ(rows("select * from (select id, name from " + table + ") as [q] order by id desc"),
              (std::vector<Row>{{"3", "c"}, {"2", "b"}, {"1", "a"}}));
    EXPECT_EQ(rows("select [name] from (select top 2 id, name from " + table +
                   " order by id desc) as [q] where (id < 3) order by [name]"),
              (std::vector<Row>{{"b"}}));
    EXPECT_EQ(rows("select [id] from (select id from " + table +
                   " order by amount offset 0 rows) as [q] where (id > 1) order by [id]"),
              (std::vector<Row>{{"2"}, {"3"}}));
    EXPECT_EQ(rows("with c as (select id, amount from " + table +
                   "), d (x, y) as (select id, name from " + table +
                   ") select * from (select c.id, d.y from c join d on c.id = d.x where c.amount "
                   ">= 2) as [q] order by id"),
              (std::vector<Row>{{"2", "b"}, {"3", "c"}}));
    EXPECT_EQ(rows("select t.id, v.name from " + table + " t join " + view +
                   " v on v.id = t.id where t.amount = 1.5"),
              (std::vector<Row>{{"1", "a"}}));
}

// How the program learns a query's columns: no rows, the names and types
// the query gives when it has rows.
TEST(TdsQueries, DescribingAQueryGivesItsColumnsWithoutRows) {
    auto c = connectTest();
    const std::string table = tdsUniqueName("Described");
    ASSERT_TRUE(exec(*c, "create table " + table + " (id int, name nvarchar(10))"));
    ASSERT_TRUE(exec(*c, "insert into " + table + " values (1, N'a')"));
    const Result r = query(*c,
                           "select * from (select id, id + 1 as next, cast(name as "
                           "nvarchar(20)) as label, N'x' as lit, 2.5 as half from " +
                               table + ") as q where 1 = 0");
    EXPECT_TRUE(r.rows.empty());
    ASSERT_EQ(r.columns.size(), 5u);
    const std::vector<std::pair<std::string, SQLSMALLINT>> expected = {{"id", SQL_INTEGER},
                                                                       {"next", SQL_BIGINT},
                                                                       {"label", SQL_WVARCHAR},
                                                                       {"lit", SQL_WVARCHAR},
                                                                       {"half", SQL_DOUBLE}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(r.columns[i].name, expected[i].first);
        EXPECT_EQ(r.columns[i].type, expected[i].second) << expected[i].first;
    }
}

// What SQL Server refuses to compile arrives with its number and text, and
// no statement of the batch runs.
TEST(TdsQueries, RefusalsStopTheWholeBatchWithSqlServersErrors) {
    auto c = connectTest();
    const std::string table = tdsUniqueName("Refused"), copy = tdsUniqueName("Copy");
    std::vector<Diag> d =
        failure(*c, "create table " + table + " (a int); select * from (select a from " + table +
                        " order by a) as q");
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].native, 1033);
    EXPECT_NE(d[0].text.find("The ORDER BY clause is invalid in views, inline functions, derived "
                             "tables, subqueries, and common table expressions, unless TOP, "
                             "OFFSET or FOR XML is also specified."),
              std::string::npos)
        << d[0].text;
    EXPECT_TRUE(hasNative(failure(*c, "select * from " + table), 208));

    d = failure(*c, "select * from (select 1 as a)");
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].native, 102);
    EXPECT_NE(d[0].text.find("Incorrect syntax near ')'."), std::string::npos) << d[0].text;

    EXPECT_FALSE(failure(*c, "select 1 as a into " + copy).empty());
    EXPECT_TRUE(hasNative(failure(*c, "select * from " + copy), 208));
    EXPECT_EQ(query(*c, "select 9").rows.at(0).at(0), "9");
}

// --- statements and errors --------------------------------------------------

TEST(TdsStatements, MissingTableGives208AndTheConnectionStaysUsable) {
    auto c = connectTest();
    std::vector<Diag> d = failure(*c, "select * from nosuch_table");
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].native, 208);
    EXPECT_EQ(d[0].state, "42S02");
    EXPECT_NE(d[0].text.find("Invalid object name 'nosuch_table'."), std::string::npos)
        << d[0].text;
    d = failure(*c, "select * from [dbo].[nosuch_table]");
    ASSERT_FALSE(d.empty());
    EXPECT_NE(d[0].text.find("Invalid object name 'dbo.nosuch_table'."), std::string::npos)
        << d[0].text;
    EXPECT_EQ(query(*c, "select 7").rows.at(0).at(0), "7");
}

TEST(TdsStatements, SyntaxErrorGives102) {
    auto c = connectTest();
    std::vector<Diag> d = failure(*c, "selec 1");
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].native, 102);
    EXPECT_NE(d[0].text.find("Incorrect syntax near 'selec'."), std::string::npos) << d[0].text;
    EXPECT_EQ(query(*c, "select 8").rows.at(0).at(0), "8");
}

// As under QUOTED_IDENTIFIER ON: "Bob" names a column, never a string.
TEST(TdsStatements, DoubleQuotesNameAColumnAndNeverAString) {
    auto c = connectTest();
    const std::vector<Diag> d = failure(*c, "select 1 as n where N'Bob' = \"Bob\"");
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].native, 207);
    EXPECT_NE(d[0].text.find("Invalid column name 'Bob'."), std::string::npos) << d[0].text;
    EXPECT_EQ(query(*c, "select \"n\" from (select 5 as n) as t").rows.at(0).at(0), "5");
}

TEST(TdsStatements, SeveralStatementsInOneBatchAndRowCounts) {
    auto c = connectTest();
    std::string table = tdsUniqueName("Batch");
    ASSERT_TRUE(exec(*c, "create table " + table + " (id int); insert into " + table +
                             " values (1); insert into " + table + " values (2)"));
    Statement s(*c);
    ASSERT_TRUE(SQL_SUCCEEDED(s.execute("update " + table + " set id = id + 10")))
        << describe(s.diags());
    SQLLEN count = -1;
    SQLRowCount(s.handle(), &count);
    EXPECT_EQ(count, 2);
    Result r = query(*c, "select id from " + table + " order by id");
    ASSERT_EQ(r.rows.size(), 2u);
    EXPECT_EQ(r.rows[0][0], "11");
    EXPECT_EQ(r.rows[1][0], "12");
}

TEST(TdsStatements, PreparedStatementsWithParameters) {
    auto c = connectTest();
    std::string table = tdsUniqueName("Params");
    ASSERT_TRUE(exec(*c, "create table " + table + " (id int, name nvarchar(20))"));
    ASSERT_TRUE(exec(
        *c, "insert into " + table + " values (1, N'one'), (2, N'two'), (3, N'thr\xc3\xa9\x65')"));
    Statement s(*c);
    std::u16string sql = widen("select name from " + table + " where id = ?");
    ASSERT_TRUE(SQL_SUCCEEDED(SQLPrepareW(s.handle(), sqlw(sql), SQL_NTS))) << describe(s.diags());
    SQLINTEGER id = 0;
    SQLLEN ind = 0;
    SQLBindParameter(s.handle(), 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, &ind);
    for (int wanted : {2, 3}) {
        id = wanted;
        ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(s.handle()))) << describe(s.diags());
        Row row;
        ASSERT_TRUE(SQL_SUCCEEDED(s.fetch(row))) << describe(s.diags());
        EXPECT_EQ(row[0], wanted == 2 ? "two" : "thr\xc3\xa9\x65");
        EXPECT_EQ(s.fetch(row), SQL_NO_DATA);
        SQLFreeStmt(s.handle(), SQL_CLOSE);
    }
}

// --- fix scripts -----------------------------------------------------------

// Runs a script as client tools do: batches split at lines holding only GO,
// each sent whole and read to its end. Gives the errors the batches reported.
std::vector<Diag> runBatches(Connection& c, const std::string& script) {
    std::vector<Diag> errors;
    auto send = [&](const std::string& batch) {
        if (batch.find_first_not_of(" \t\r\n") == std::string::npos) return;
        Statement s(c);
        SQLRETURN rc = s.execute(batch);
        for (int results = 0; rc != SQL_NO_DATA && results < 1000; ++results) {
            if (rc == SQL_ERROR) {
                const std::vector<Diag> d = s.diags();
                errors.insert(errors.end(), d.begin(), d.end());
            }
            rc = SQLMoreResults(s.handle());
        }
    };
    std::istringstream lines(script);
    std::string batch;
    for (std::string line; std::getline(lines, line);) {
        if (line == "GO") {
            send(batch);
            batch.clear();
        } else {
            batch += line + "\n";
        }
    }
    send(batch);
    return errors;
}

TEST(TdsScripts, BatchesCommitTogetherAndAnErrorUnderXactAbortUndoesThemAll) {
    const std::string name = tdsUniqueName("Fix]x");
    const std::string table = "[dbo]." + quotedName(name);
    {
        auto other = connectTest(tdstest::kOtherDatabase);
        ASSERT_TRUE(exec(*other, "create table " + table +
                                     " ([ID] int identity(1,1) primary key, [Amount] "
                                     "decimal(10,2), [Note] nvarchar(max), [When] datetime, "
                                     "[Other] int, [B] varbinary(10));"
                                     "insert into " +
                                     table +
                                     " values (7, 1, N'a', '2024-02-29 13:45:30.9970000', NULL, "
                                     "0x01), (8, 2, N'b', '2024-01-01 00:00:00', NULL, NULL)"));
    }
    // Connected elsewhere, as a script that names its database is run.
    const std::string header = "-- fix\nSET XACT_ABORT ON;\nSET NOCOUNT ON;\nUSE [" +
                               std::string(tdstest::kOtherDatabase) +
                               "];\nBEGIN TRANSACTION;\nSET IDENTITY_INSERT " + table +
                               " ON;\nGO\n";
    const std::string guard = "IF @@TRANCOUNT = 0 SET NOEXEC ON;\n";
    {
        auto c = connectTest();
        EXPECT_EQ(describe(runBatches(
                      *c, header + guard + "UPDATE " + table +
                              " SET [Amount] = -12.50, [Note] = N'it''s' + NCHAR(10) + N'x', [B] "
                              "= 0x WHERE [When] = '2024-02-29T13:45:30.997' AND [Other] IS NULL;\n"
                              "INSERT INTO " +
                              table +
                              " ([ID], [Amount], [Note], [When], [Other], [B]) VALUES (9, "
                              "1.5e-07, N'new', '2024-02-29T00:00:00', 3, 0x00FF);\n"
                              "DELETE FROM " +
                              table + " WHERE [ID] = 8;\nGO\n" + guard + "SET IDENTITY_INSERT " +
                              table + " OFF;\nCOMMIT TRANSACTION;\nGO\nSET NOEXEC OFF;\n")),
                  "");
    }
    auto other = connectTest(tdstest::kOtherDatabase);
    const std::string read = "select [ID], [Amount], [Note], [When], [B] from " + table;
    const std::vector<Row> committed = {{"7", "-12.50", "it's\nx", "2024-02-29 13:45:30.997", ""},
                                        {"9", "0.00", "new", "2024-02-29 00:00:00.000", "00ff"}};
    EXPECT_EQ(query(*other, read + " order by [ID]").rows, committed);

    // The duplicate key rolls back the update before it; the guard keeps the
    // last batch's update and COMMIT from running outside any transaction.
    auto c = connectTest();
    std::vector<Diag> errors = runBatches(
        *c, header + guard + "UPDATE " + table + " SET [Note] = N'lost' WHERE [ID] = 7;\n" +
                "INSERT INTO " + table + " ([ID]) VALUES (9);\nUPDATE " + table +
                " SET [Note] = N'never' WHERE [ID] = 9;\nGO\n" + guard + "UPDATE " + table +
                " SET [Note] = N'late' WHERE [ID] = 9;\nCOMMIT TRANSACTION;\nGO\n"
                "SET NOEXEC OFF;\n");
    ASSERT_EQ(errors.size(), 1u) << describe(errors);
    EXPECT_EQ(errors[0].native, 2627);
    EXPECT_EQ(query(*other, read + " order by [ID]").rows, committed);
    // SET NOEXEC OFF let the session run statements again.
    EXPECT_EQ(query(*c, "select count(*) from " + table).rows.at(0).at(0), "2");

    // Without XACT_ABORT only the failing statement is undone.
    ASSERT_TRUE(
        exec(*other, "BEGIN TRANSACTION; UPDATE " + table + " SET [Other] = 1 WHERE [ID] = 7"));
    EXPECT_TRUE(hasNative(failure(*other, "INSERT INTO " + table + " ([ID]) VALUES (9)"), 2627));
    ASSERT_TRUE(exec(*other, "COMMIT TRANSACTION"));
    EXPECT_EQ(query(*other, "select [Other] from " + table + " where [ID] = 7").rows.at(0).at(0),
              "1");
}

// A fix script as the program writes it: one transaction over batches, each
// later batch rolling back unless the one before it ran to its end (told by
// CONTEXT_INFO), and stopping once the transaction is gone.
std::string guardedScript(const std::vector<std::string>& batches) {
    auto number = [](size_t n) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08zX", n);
        return std::string(hex);
    };
    std::string script = "SET XACT_ABORT ON;\nSET NOCOUNT ON;\nUSE [" +
                         std::string(tdstest::kDatabase) + "];\nSET CONTEXT_INFO " + number(0) +
                         ";\nBEGIN TRANSACTION;\n";
    for (size_t i = 0; i < batches.size(); ++i) {
        if (i > 0)
            script += "IF @@TRANCOUNT > 0 AND ISNULL(SUBSTRING(CONTEXT_INFO(), 1, 4), 0x) <> " +
                      number(i) + " ROLLBACK TRANSACTION;\nIF @@TRANCOUNT = 0 SET NOEXEC ON;\n";
        script += batches[i];
        script += i + 1 < batches.size() ? "SET CONTEXT_INFO " + number(i + 1) + ";\nGO\n"
                                         : "COMMIT TRANSACTION;\nGO\nSET NOEXEC OFF;\n";
    }
    return script;
}

// SQL Server compiles a batch before it runs it: a syntax error or an unknown
// column skips the batch and, even under XACT_ABORT, leaves the transaction
// open. The next batch's guard must then roll it back.
TEST(TdsScripts, ACompileErrorInAMiddleBatchLeavesNothingCommitted) {
    auto c = connectTest();
    auto setUp = [&](const std::string& table) {
        EXPECT_TRUE(exec(*c, "create table " + table +
                                 " ([id] int primary key, [note] nvarchar(20), [gone] int); "
                                 "insert into " +
                                 table + " values (1, N'a', 0), (2, N'b', 0)"));
    };
    auto script = [](const std::string& table, const std::string& middle) {
        return guardedScript({"UPDATE " + table + " SET [note] = N'one' WHERE [id] = 1;\n",
                              "UPDATE " + table + " SET [note] = N'two' WHERE [id] = 2;\n" + middle,
                              "INSERT INTO " + table + " ([id], [note]) VALUES (3, N'three');\n"});
    };
    const std::vector<Row> untouched = {{"1", "a"}, {"2", "b"}};
    auto rows = [&](const std::string& table) {
        return query(*c, "select [id], [note] from " + table + " order by [id]").rows;
    };

    // The comparison saw [gone]; it is dropped before the script runs.
    const std::string dropped = quotedName(tdsUniqueName("Dropped"));
    setUp(dropped);
    ASSERT_TRUE(exec(*c, "ALTER TABLE " + dropped + " DROP COLUMN [gone]"));
    std::vector<Diag> errors =
        runBatches(*c, script(dropped, "UPDATE " + dropped + " SET [gone] = 1 WHERE [id] = 1;\n"));
    ASSERT_EQ(errors.size(), 1u) << describe(errors);
    EXPECT_EQ(errors[0].native, 207);
    EXPECT_EQ(rows(dropped), untouched);
    auto tranCount = [&] { return query(*c, "select @@TRANCOUNT").rows.at(0).at(0); };
    EXPECT_EQ(tranCount(), "0");
    // Alone, the compile error leaves the transaction open; a run-time error
    // ends it.
    ASSERT_TRUE(exec(*c, "SET XACT_ABORT ON; BEGIN TRANSACTION"));
    EXPECT_TRUE(
        hasNative(failure(*c, "insert into " + dropped + " ([id], [gone]) values (4, 1)"), 207));
    EXPECT_EQ(tranCount(), "1");
    EXPECT_TRUE(hasNative(failure(*c, "insert into " + dropped + " ([id]) values (1)"), 2627));
    EXPECT_EQ(tranCount(), "0");

    const std::string syntax = quotedName(tdsUniqueName("Syntax"));
    setUp(syntax);
    errors = runBatches(*c, script(syntax, "UPDATE " + syntax + " SET [note] = WHERE [id] = 1;\n"));
    ASSERT_EQ(errors.size(), 1u) << describe(errors);
    EXPECT_EQ(errors[0].native, 102);
    EXPECT_EQ(rows(syntax), untouched);

    // The same script on a table that kept its column commits every batch.
    const std::string kept = quotedName(tdsUniqueName("Kept"));
    setUp(kept);
    EXPECT_EQ(describe(runBatches(
                  *c, script(kept, "UPDATE " + kept + " SET [gone] = 1 WHERE [id] = 1;\n"))),
              "");
    EXPECT_EQ(rows(kept), (std::vector<Row>{{"1", "one"}, {"2", "two"}, {"3", "three"}}));
    EXPECT_EQ(query(*c, "select [gone] from " + kept + " where [id] = 1").rows.at(0).at(0), "1");
}

// CONTEXT_INFO belongs to the session: NULL at first, 128 bytes once set;
// NOEXEC keeps a SET from running, and an IF whose condition is false or NULL
// passes its statement over.
TEST(TdsScripts, ContextInfoAndIfFollowTheSession) {
    auto c = connectTest();
    auto info = [&] { return query(*c, "select CONTEXT_INFO()").rows.at(0).at(0); };
    EXPECT_EQ(info(), std::nullopt);
    ASSERT_TRUE(exec(*c, "set context_info 0x0102"));
    const std::string padded = "0102" + std::string(252, '0');
    EXPECT_EQ(info(), padded);
    ASSERT_TRUE(exec(*c, "SET NOEXEC ON;\nSET CONTEXT_INFO 0x09;\nSET NOEXEC OFF;"));
    EXPECT_EQ(info(), padded);
    ASSERT_TRUE(exec(*c,
                     "IF NULL = 1 SET CONTEXT_INFO 0x07;\n"
                     "if not (substring(context_info(), 1, 2) = 0x0102 or 1 = 0)\n"
                     "  set context_info 0x06;\n"
                     "IF DATALENGTH(CONTEXT_INFO()) = 128 AND @@TRANCOUNT = 0\n"
                     "  SET CONTEXT_INFO 0x05;"));
    EXPECT_EQ(info(), "05" + std::string(254, '0'));
    EXPECT_TRUE(hasNative(failure(*c, "SET CONTEXT_INFO N'x'"), 257));
}

TEST(TdsScripts, JoinedTextsComeBackWholeWithNulAndAstralCharacters) {
    auto c = connectTest();
    const std::string table = tdsUniqueName("Joined");
    ASSERT_TRUE(exec(*c, "create table " + table + " (id int, v nvarchar(max))"));
    ASSERT_TRUE(exec(*c, "insert into " + table +
                             " values (1, CAST(N'' AS nvarchar(max)) + N'a' + NCHAR(0) + N'b' + "
                             "NCHAR(13) + NCHAR(10) + N'\xf0\x9f\x98\x80' + NCHAR(9786))"));
    Result r = query(*c, "select v from " + table);
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0][0], std::string("a\0b\r\n\xf0\x9f\x98\x80\xe2\x98\xba", 12));
}

TEST(TdsScripts, ColumnPropertiesTellIdentityComputedAndType) {
    auto c = connectTest();
    const std::string name = tdsUniqueName("Props]x"), schema = tdsUniqueName("sales");
    const std::string table = "[dbo]." + quotedName(name);
    ASSERT_TRUE(exec(*c, "create table " + table +
                             " ([ID] int identity(1,1) primary key, [a] int, [b] int, [Total] AS "
                             "([a] * [b]), [rv] rowversion, [w] datetime2(7), [n] nvarchar(max), "
                             "[g] uniqueidentifier, [m] money)"));
    ASSERT_TRUE(exec(*c, "SET IDENTITY_INSERT " + table + " ON; insert into " + table +
                             " ([ID], [a], [b]) values (5, 3, 4)"));
    Result all = query(*c, "select * from " + table);
    ASSERT_EQ(all.rows.size(), 1u);
    ASSERT_EQ(all.rows[0].size(), 9u);
    EXPECT_EQ(all.rows[0][0], "5");
    EXPECT_EQ(all.rows[0][3], "12");

    auto properties = [&](const std::string& object) {
        return query(*c,
                     "select name, is_identity, is_computed, system_type_id, collation_name\n FROM "
                     "sys.columns where object_id = OBJECT_ID(N'" +
                         object + "') order by column_id;");
    };
    Result r = properties("[dbo]." + quotedName(name));
    ASSERT_EQ(r.columns.size(), 5u);
    EXPECT_EQ(r.columns[0].name, "name");
    EXPECT_EQ(r.columns[1].type, SQL_BIT);
    EXPECT_EQ(r.columns[3].type, SQL_TINYINT);
    const std::nullopt_t none = std::nullopt;
    const std::vector<Row> expected = {{"ID", "1", "0", "56", none},
                                       {"a", "0", "0", "56", none},
                                       {"b", "0", "0", "56", none},
                                       {"Total", "0", "1", "0", none},
                                       {"rv", "0", "0", "189", none},
                                       {"w", "0", "0", "42", none},
                                       {"n", "0", "0", "231", "Latin1_General_CS_AS"},
                                       {"g", "0", "0", "36", none},
                                       {"m", "0", "0", "60", none}};
    EXPECT_EQ(r.rows, expected);
    EXPECT_EQ(properties(quotedName(name)).rows, expected);

    ASSERT_TRUE(exec(*c, "create table [" + schema + "].[T] (k nvarchar(10))"));
    EXPECT_EQ(properties("[" + schema + "].[T]").rows,
              (std::vector<Row>{{"k", "0", "0", "231", "Latin1_General_CS_AS"}}));
    EXPECT_TRUE(properties("[dbo].[NoSuchTable]").rows.empty());
}

// Foreign keys act as SQL Server's do, and the catalogue names the keys that
// reference a table (with what a DELETE does through them) and its triggers.
TEST(TdsScripts, ForeignKeysActAndTheCatalogueNamesThemWithTriggers) {
    auto c = connectTest();
    const std::string parent = quotedName(tdsUniqueName("Parent")),
                      child = quotedName(tdsUniqueName("Child")),
                      trigger = quotedName(tdsUniqueName("Kept"));
    ASSERT_TRUE(exec(*c, "create table " + parent + " (Id int primary key)"));
    ASSERT_TRUE(exec(*c, "create table " + child + " (Id int primary key, P int references " +
                             parent + "(Id) on delete cascade, Q int references " + parent +
                             "(Id) on delete set null)"));
    ASSERT_TRUE(exec(*c, "insert into " + parent + " values (1); insert into " + parent +
                             " values (2); insert into " + child + " values (10, 1, 2)"));
    ASSERT_TRUE(exec(
        *c, "create trigger " + trigger + " after delete on " + parent + " begin select 1; end"));
    // A child naming no parent is refused; a deleted parent takes its child.
    EXPECT_FALSE(exec(*c, "insert into " + child + " values (11, 3, NULL)"));
    ASSERT_TRUE(exec(*c, "delete from " + parent + " where Id = 2"));
    EXPECT_EQ(query(*c, "select Id, P, Q from " + child).rows,
              (std::vector<Row>{{"10", "1", std::nullopt}}));
    ASSERT_TRUE(exec(*c, "delete from " + parent + " where Id = 1"));
    EXPECT_TRUE(query(*c, "select Id from " + child).rows.empty());

    const Result keys =
        query(*c,
              "select name, object_schema_name(parent_object_id), object_name(parent_object_id), "
              "delete_referential_action, update_referential_action from sys.foreign_keys where "
              "referenced_object_id = object_id(N'[dbo]." +
                  parent + "') order by name");
    ASSERT_EQ(keys.rows.size(), 2u);
    EXPECT_EQ(keys.columns[3].type, SQL_TINYINT);
    std::vector<std::string> actions;
    for (const Row& row : keys.rows) {
        EXPECT_EQ(row[1], "dbo");
        EXPECT_EQ("[" + row[2].value_or("") + "]", child);
        actions.push_back(row[3].value_or("") + row[4].value_or(""));
    }
    std::sort(actions.begin(), actions.end());
    EXPECT_EQ(actions, (std::vector<std::string>{"10", "20"}));
    EXPECT_TRUE(query(*c,
                      "select name, object_schema_name(parent_object_id), "
                      "object_name(parent_object_id), delete_referential_action, "
                      "update_referential_action from sys.foreign_keys where "
                      "referenced_object_id = object_id(N'" +
                          child + "') order by name")
                    .rows.empty());
    const Result triggers = query(*c,
                                  "select name from sys.triggers where parent_id = "
                                  "object_id(N'" +
                                      parent + "') and is_disabled = 0 order by name");
    ASSERT_EQ(triggers.rows.size(), 1u);
    EXPECT_EQ("[" + triggers.rows[0][0].value_or("") + "]", trigger);
}

// Period columns take the server's values and refuse explicit ones (13536);
// the catalogue names them, and tells a memory-optimized table.
TEST(TdsScripts, PeriodColumnsAreTheServersAndMemoryOptimizedTablesAreTold) {
    auto c = connectTest();
    const std::string name = quotedName(tdsUniqueName("Temporal")),
                      memory = quotedName(tdsUniqueName("InMemory"));
    ASSERT_TRUE(exec(*c, "create table " + name +
                             " (Id int primary key, V int, ValidFrom datetime2 GENERATED ALWAYS "
                             "AS ROW START HIDDEN, ValidTo datetime2 GENERATED ALWAYS AS ROW END, "
                             "PERIOD FOR SYSTEM_TIME (ValidFrom, ValidTo)) WITH "
                             "(SYSTEM_VERSIONING = ON)"));
    ASSERT_TRUE(exec(*c, "insert into " + name + " (Id, V) values (1, 1)"));
    ASSERT_TRUE(exec(*c, "update " + name + " set V = 2 where Id = 1"));
    EXPECT_EQ(query(*c, "select V, ValidTo from " + name).rows,
              (std::vector<Row>{{"2", "9999-12-31 23:59:59.9999999"}}));
    for (const std::string& write :
         {"insert into " + name + " (Id, V, ValidFrom) values (2, 2, '2024-01-01')",
          "update " + name + " set ValidTo = '2024-01-01' where Id = 1"}) {
        std::vector<Diag> d = failure(*c, write);
        ASSERT_FALSE(d.empty()) << write;
        EXPECT_EQ(d[0].native, 13536) << d[0].text;
    }
    const auto periods = [&](const std::string& object) {
        return query(*c, "select name from sys.columns where object_id = object_id(N'" + object +
                             "') and generated_always_type <> 0 order by column_id")
            .rows;
    };
    EXPECT_EQ(periods(name), (std::vector<Row>{{"ValidFrom"}, {"ValidTo"}}));
    EXPECT_TRUE(query(*c, "select name from sys.triggers where parent_id = object_id(N'" + name +
                              "') and is_disabled = 0 order by name")
                    .rows.empty());

    ASSERT_TRUE(exec(*c, "create table " + memory +
                             " (Id int primary key, V int) WITH (MEMORY_OPTIMIZED = ON)"));
    EXPECT_TRUE(periods(memory).empty());
    const auto optimized = [&](const std::string& object) {
        return query(*c,
                     "select is_memory_optimized from sys.tables where object_id = "
                     "object_id(N'" +
                         object + "')")
            .rows;
    };
    EXPECT_EQ(optimized(memory), (std::vector<Row>{{"1"}}));
    EXPECT_EQ(optimized(name), (std::vector<Row>{{"0"}}));
    // Alone a statement takes it; inside an explicit transaction none does.
    ASSERT_TRUE(exec(*c, "insert into " + memory + " values (1, 1)"));
    std::vector<Diag> d = failure(*c, "begin transaction; update " + memory + " set V = 2");
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0].native, 41368) << d[0].text;
    EXPECT_TRUE(exec(*c, "if @@trancount > 0 rollback transaction"));
    EXPECT_EQ(query(*c, "select V from " + memory).rows, (std::vector<Row>{{"1"}}));
}

// --- streaming and concurrency ----------------------------------------------

class TdsBigTable : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        table_ = tdsUniqueName("Big");
        auto c = connectTest();
        ASSERT_TRUE(exec(*c, "create table " + table_ + " (id int not null, label nvarchar(40))"));
        ASSERT_TRUE(
            exec(*c,
                 "with recursive n(x) as (select 1 union all select x + 1 from n where x < 100000) "
                 "insert into " +
                     table_ + " select x, 'row ' || x from n"));
    }
    static std::string table_;
};
std::string TdsBigTable::table_;

TEST_F(TdsBigTable, HundredThousandRowsStreamInOrder) {
    auto c = connectTest();
    Statement s(*c);
    ASSERT_TRUE(SQL_SUCCEEDED(s.execute("select id, label from " + table_ + " order by id")))
        << describe(s.diags());
    SQLINTEGER id = 0;
    SQLWCHAR label[64];
    SQLLEN idInd = 0, labelInd = 0;
    SQLBindCol(s.handle(), 1, SQL_C_SLONG, &id, 0, &idInd);
    SQLBindCol(s.handle(), 2, SQL_C_WCHAR, label, sizeof label, &labelInd);
    long rows = 0;
    bool inOrder = true;
    std::string last;
    SQLRETURN rc;
    while (SQL_SUCCEEDED(rc = SQLFetch(s.handle()))) {
        ++rows;
        if (id != rows) inOrder = false;
        if (rows == 100000)
            last = narrow(std::u16string(reinterpret_cast<char16_t*>(label), size_t(labelInd) / 2));
    }
    EXPECT_EQ(rc, SQL_NO_DATA) << describe(s.diags());
    EXPECT_EQ(rows, 100000);
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(last, "row 100000");
}

TEST_F(TdsBigTable, ClosingAResultEarlyLeavesTheConnectionUsable) {
    auto c = connectTest();
    for (int round = 0; round < 3; ++round) {
        Statement s(*c);
        ASSERT_TRUE(SQL_SUCCEEDED(s.execute("select * from " + table_))) << describe(s.diags());
        Row row;
        ASSERT_TRUE(SQL_SUCCEEDED(s.fetch(row)));
        // Closing with rows unread makes the driver cancel the rest.
        ASSERT_TRUE(SQL_SUCCEEDED(SQLFreeStmt(s.handle(), SQL_CLOSE))) << describe(s.diags());
        EXPECT_EQ(query(*c, "select count(*) from " + table_).rows.at(0).at(0), "100000");
    }
}

TEST_F(TdsBigTable, TwoConnectionsWorkAtOnceOnTheSameData) {
    auto a = connectTest();
    auto b = connectTest();
    // a holds a half-read result while b writes and reads.
    Statement s(*a);
    ASSERT_TRUE(SQL_SUCCEEDED(s.execute("select id from " + table_ + " order by id")))
        << describe(s.diags());
    Row row;
    ASSERT_TRUE(SQL_SUCCEEDED(s.fetch(row)));
    EXPECT_EQ(row[0], "1");

    std::string shared = tdsUniqueName("Shared");
    ASSERT_TRUE(exec(*b, "create table " + shared + " (v int)"));
    ASSERT_TRUE(exec(*b, "insert into " + shared + " values (42)"));
    EXPECT_EQ(query(*b, "select v from " + shared).rows.at(0).at(0), "42");

    long rows = 1;
    while (SQL_SUCCEEDED(s.fetch(row))) ++rows;
    EXPECT_EQ(rows, 100000);
    EXPECT_EQ(query(*a, "select v from " + shared).rows.at(0).at(0), "42");
}

// --- robustness -------------------------------------------------------------

// Sends raw bytes and reports whether the server then closed the connection.
bool serverCloses(const std::vector<uint8_t>& bytes) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(tdstest::tdsTestPort()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        ADD_FAILURE() << "cannot connect";
        return false;
    }
    timeval tv{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;  // the server may close before all is sent
        sent += size_t(n);
    }
    char buf[4096];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, 0)) > 0) {
    }
    bool closed = n == 0 || (n < 0 && errno == ECONNRESET);
    close(fd);
    return closed;
}

std::vector<uint8_t> packet(uint8_t type, uint8_t status, uint16_t length, size_t payload) {
    std::vector<uint8_t> p = {type, status, uint8_t(length >> 8), uint8_t(length), 0, 0, 1, 0};
    p.resize(p.size() + payload, 0x41);
    return p;
}

TEST(TdsRobustness, BadPacketsCloseOnlyTheirConnection) {
    auto survivor = connectTest();
    EXPECT_TRUE(serverCloses(packet(0x12, 1, 4, 0))) << "length below the header size";
    EXPECT_TRUE(serverCloses(packet(0x12, 1, 0xFFFF, 100))) << "length beyond the packet limit";
    EXPECT_TRUE(serverCloses(packet(0x02, 1, 108, 100))) << "a TDS 5.0 login";
    EXPECT_TRUE(serverCloses(packet(0x10, 1, 20, 12))) << "a truncated LOGIN7";
    {
        std::vector<uint8_t> flood;
        for (int i = 0; i < 1300; ++i) {
            std::vector<uint8_t> p = packet(0x12, 0, 4096, 4088);
            flood.insert(flood.end(), p.begin(), p.end());
        }
        EXPECT_TRUE(serverCloses(flood)) << "a message beyond the size limit";
    }
    EXPECT_EQ(query(*survivor, "select 5").rows.at(0).at(0), "5");
    auto fresh = connectTest();
    EXPECT_EQ(query(*fresh, "select 6").rows.at(0).at(0), "6");
}

// --- fault options, on a server of the test's own -----------------------------

TEST(TdsFaults, DropAfterRowsCutsTheConnectionMidResultAndSigtermStopsCleanly) {
    tdstest::PrivateServer server({"--drop-after-rows", "5"});
    {
        Connection c;
        ASSERT_TRUE(c.connect(server.connectionString())) << describe(c.diags());
        ASSERT_TRUE(exec(c, "create table t (id int)"));
        ASSERT_TRUE(exec(
            c,
            "with recursive n(x) as (select 1 union all select x + 1 from n where x < 50) insert "
            "into t select x from n"));
        Statement s(c);
        ASSERT_TRUE(SQL_SUCCEEDED(s.execute("select id from t"))) << describe(s.diags());
        Row row;
        int rows = 0;
        SQLRETURN rc;
        while (SQL_SUCCEEDED(rc = s.fetch(row))) ++rows;
        EXPECT_EQ(rc, SQL_ERROR);
        EXPECT_EQ(rows, 5);
        // A new connection still works: only the one connection was cut.
        Connection again;
        ASSERT_TRUE(again.connect(server.connectionString())) << describe(again.diags());
    }
    int status = server.stop();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// What the checksum method asks of the catalogue: the columns that lead an
// index (primary key, unique constraint, CREATE INDEX of either kind) and
// each text column's collation.
TEST(TdsCatalog, IndexLeadersAndCollationsOfColumns) {
    auto c = connectTest();
    const std::string table = tdsUniqueName("Ix"), rowid = tdsUniqueName("Rowid");
    ASSERT_TRUE(exec(*c, "create table " + table +
                             " (a int not null, b nvarchar(10) collate Latin1_General_CI_AS, "
                             "c varchar(5), d int not null, e int, primary key clustered (a, d));"
                             "create index IX_" +
                             table + "_e on [dbo].[" + table +
                             "] (e, a);"
                             "create unique nonclustered index UX_" +
                             table + " on " + table + " (c)"));
    ASSERT_TRUE(exec(*c, "create table " + rowid + " (id integer primary key, x int)"));
    auto indexes = [&](const std::string& name) {
        return query(*c,
                     "select i.is_unique, ic.key_ordinal, col_name(ic.object_id, ic.column_id) "
                     "from sys.indexes as i join sys.index_columns as ic on ic.object_id = "
                     "i.object_id and ic.index_id = i.index_id where i.object_id = "
                     "object_id(N'[dbo].[" +
                         name + "]') and ic.key_ordinal > 0 order by i.index_id, ic.key_ordinal")
            .rows;
    };
    // Each index's columns in key order, the unique ones marked.
    std::vector<Row> got = indexes(table);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(
        got,
        (std::vector<Row>{
            {"0", "1", "e"}, {"0", "2", "a"}, {"1", "1", "a"}, {"1", "1", "c"}, {"1", "2", "d"}}));
    EXPECT_EQ(indexes(rowid), (std::vector<Row>{{"1", "1", "id"}}));
    EXPECT_EQ(indexes("NoSuchTable"), std::vector<Row>{});
    EXPECT_EQ(query(*c,
                    "select name, collation_name, scale from sys.columns where object_id = "
                    "object_id(N'[dbo].[" +
                        table + "]') order by column_id")
                  .rows,
              (std::vector<Row>{{"a", std::nullopt, "0"},
                                {"b", "Latin1_General_CI_AS", "0"},
                                {"c", "Latin1_General_CS_AS", "0"},
                                {"d", std::nullopt, "0"},
                                {"e", std::nullopt, "0"}}));
}

// --- checksums computed inside the server ----------------------------------------

// The segment query of the checksum method, for a table whose columns are
// an int key, an int, a decimal and a text, over the keys in (lo, hi].
std::string segmentQuery(const std::string& table, int lo, int hi) {
    auto field = [](const std::string& column, const std::string& typed) {
        return " + case when [" + column + "] is null then 0x00 else 0x01 + " + typed + " end";
    };
    return "select count_big(*), sum(cast(cast(substring(h, 1, 4) as int) as bigint)), "
           "sum(cast(cast(substring(h, 5, 4) as int) as bigint)) from (select "
           "hashbytes('SHA2_256', cast(0x as varbinary(max))" +
           field("k", "cast(cast([k] as bigint) as binary(8))") +
           field("i", "cast(cast([i] as bigint) as binary(8))") +
           field(
               "d",
               "cast(convert(varchar(41), cast([d] as decimal(38, 2))) as varbinary(41)) + 0x00") +
           field("t",
                 "cast(datalength(cast([t] as nvarchar(max))) as binary(4)) + "
                 "cast(cast([t] as nvarchar(max)) as varbinary(max))") +
           ") as h from [dbo].[" + table + "] where ([k] > " + std::to_string(lo) +
           " and [k] <= " + std::to_string(hi) + ") and (1 = 1)) as [s]";
}

// The same rows under other declared types hash alike; a changed value, a
// value moved to the next column, or a NULL for an empty text does not.
TEST(TdsChecksums, SegmentsOfTheSameRowsAgreeAcrossTypesAndDifferOnAnyChange) {
    auto c = connectTest();
    const std::string narrow = tdsUniqueName("HashA"), wide = tdsUniqueName("HashB");
    const std::string rows =
        " values (1, -5, -0.5, N'\u00e9t\u00e9'), (2, NULL, 12.25, N''), "
        "(3, 2147483647, NULL, NULL), (4, 0, 0, N'x')";
    ASSERT_TRUE(exec(*c, "create table " + narrow +
                             " (k int primary key, i int, d decimal(10,2), t nvarchar(40));"
                             "insert into " +
                             narrow + rows));
    ASSERT_TRUE(exec(*c, "create table " + wide +
                             " (k bigint primary key, i bigint, d decimal(18,2), t varchar(40));"
                             "insert into " +
                             wide + rows));
    const Result a = query(*c, segmentQuery(narrow, 0, 3));
    ASSERT_EQ(a.rows.size(), 1u);
    ASSERT_EQ(a.columns.size(), 3u);
    for (const Column& col : a.columns) EXPECT_EQ(col.type, SQL_BIGINT);
    EXPECT_EQ(a.rows[0][0], "3");
    EXPECT_NE(a.rows[0][1], a.rows[0][2]);
    EXPECT_EQ(query(*c, segmentQuery(wide, 0, 3)).rows, a.rows);
    // The fourth row is outside the range; an empty range counts nothing.
    EXPECT_EQ(query(*c, segmentQuery(narrow, 0, 4)).rows[0][0], "4");
    EXPECT_EQ(query(*c, segmentQuery(narrow, 10, 20)).rows[0][0], "0");

    for (const char* change :
         {"set d = 12.26 where k = 2", "set t = NULL where k = 2",
          "set i = -5, d = NULL where k = 3", "set t = N'\u00c9t\u00e9' where k = 1"}) {
        ASSERT_TRUE(exec(*c, "update " + wide + " " + change));
        EXPECT_NE(query(*c, segmentQuery(wide, 0, 3)).rows, a.rows) << change;
        ASSERT_TRUE(exec(*c, "delete from " + wide + "; insert into " + wide + rows));
        EXPECT_EQ(query(*c, segmentQuery(wide, 0, 3)).rows, a.rows) << change;
    }
}

// Boundaries: every n-th key in key order, also of a text key in UTF-16
// order; a bigint sum that overflows fails as SQL Server's does.
TEST(TdsChecksums, BoundariesAreEveryNthKeyAndSumsDoNotWrap) {
    auto c = connectTest();
    const std::string table = tdsUniqueName("Bounds");
    ASSERT_TRUE(
        exec(*c, "create table " + table +
                     " (a int not null, b nvarchar(10) not null, big bigint, "
                     "primary key (a, b));"
                     "insert into " +
                     table +
                     " values (1, N'b', 9223372036854775807), (1, N'a', 1), (2, N'\uff21', 0), "
                     "(2, N'\U0001D538', 0), (3, N'z', 0), (0, N'q', 0), (3, N'y', 0)"));
    const Result r = query(*c,
                           "select [a], [b] from (select [a], [b], row_number() over (order by "
                           "[a], [b]) as rn from [dbo].[" +
                               table + "] where (1 = 1)) as [s] where rn % 3 = 0 order by rn");
    EXPECT_EQ(r.rows, (std::vector<Row>{{"1", "b"}, {"3", "y"}}));
    const Result inRange = query(
        *c,
        "select [a], [b] from (select [a], [b], row_number() over (order by [a], cast([b] as "
        "nvarchar(max)) collate Latin1_General_BIN2) as rn from [dbo].[" +
            table +
            "] where ([a] > 1 or ([a] = 1 and [b] > N'a'))) as [s] where rn % 2 = 0 order by rn");
    EXPECT_EQ(inRange.rows, (std::vector<Row>{{"2", "\U0001D538"}, {"3", "y"}}));
    EXPECT_TRUE(hasNative(failure(*c, "select sum(big) from " + table), 8115));
    EXPECT_TRUE(hasNative(failure(*c, "select cast(3000000000 as int)"), 8115));
}

// --bandwidth: a result of known size takes at least its size over the rate
// (a lower bound the limit itself sets), and a cancel while the server waits
// on the limit still ends the statement: the result it cuts short would
// take far longer than the test may run.
TEST(TdsFaults, BandwidthLimitsWhatLeavesAndACancelStillEndsTheStatement) {
    constexpr long kRate = 200000;
    tdstest::PrivateServer server({"--bandwidth", std::to_string(kRate)});
    Connection c;
    ASSERT_TRUE(c.connect(server.connectionString())) << describe(c.diags());
    const std::string rows =
        "with recursive n(x) as (select 1 union all select x + 1 from n where "
        "x < %N%) select x, N'" +
        std::string(100, 'x') + "' from n";
    auto withRows = [&](long n) {
        std::string sql = rows;
        sql.replace(sql.find("%N%"), 3, std::to_string(n));
        return sql;
    };
    // 2,000 rows of at least 200 bytes each: 400,000 bytes, 2 s at the rate.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(query(c, withRows(2000)).rows.size(), 2000u);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 0.75 * 2000 * 200 / kRate);

    // 500,000 rows: more than 500 s at the rate.
    Statement s(c);
    ASSERT_TRUE(SQL_SUCCEEDED(s.execute(withRows(500000)))) << describe(s.diags());
    Row row;
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(SQL_SUCCEEDED(s.fetch(row))) << describe(s.diags());
    EXPECT_TRUE(SQL_SUCCEEDED(SQLCancel(s.handle()))) << describe(s.diags());
    EXPECT_FALSE(SQL_SUCCEEDED(s.fetch(row)));
    EXPECT_EQ(query(c, "select 6").rows.at(0).at(0), "6");
}

// The first column of every row, in order.
std::vector<std::optional<std::string>> firstColumn(const Result& r) {
    std::vector<std::optional<std::string>> out;
    for (const Row& row : r.rows) out.push_back(row.at(0));
    return out;
}

TEST(TdsCollation, CiComparesAndSortsTextWithoutCaseBinaryByCodePoint) {
    using Keys = std::vector<std::optional<std::string>>;
    const std::string columns = " (k nvarchar(20) not null primary key, n int)";
    const std::string rows =
        " values (N'apricot', 1), (N'Banana', 2), (N'cherry', 3), (N'Apple', 4)";
    {
        auto c = connectTest();  // the fixture's server: binary
        std::string table = tdsUniqueName("Keys");
        ASSERT_TRUE(exec(*c, "create table " + table + columns + "; insert into " + table + rows));
        EXPECT_EQ(firstColumn(query(*c, "select k from " + table + " order by k")),
                  (Keys{"Apple", "Banana", "apricot", "cherry"}));
        EXPECT_TRUE(query(*c, "select n from " + table + " where k = N'BANANA'").rows.empty());
    }
    tdstest::PrivateServer server({"--collation", "ci"});
    Connection c;
    ASSERT_TRUE(c.connect(server.connectionString())) << describe(c.diags());
    ASSERT_TRUE(exec(c, "create table keys" + columns + "; insert into keys" + rows));
    EXPECT_EQ(firstColumn(query(c, "select k from keys order by k")),
              (Keys{"Apple", "apricot", "Banana", "cherry"}));
    EXPECT_EQ(firstColumn(query(c, "select n from keys where k = N'BANANA'")), (Keys{"2"}));
    EXPECT_TRUE(hasNative(failure(c, "insert into keys values (N'APPLE', 5)"), 2627));
    EXPECT_EQ(
        query(c,
              "select name, collation_name, scale from sys.columns where object_id = "
              "object_id(N'[dbo].[keys]') order by column_id")
            .rows,
        (std::vector<Row>{{"k", "SQL_Latin1_General_CP1_CI_AS", "0"}, {"n", std::nullopt, "0"}}));
    // A binary collation named in the query still sorts by code point.
    EXPECT_EQ(firstColumn(query(c, "select k from keys order by k collate Latin1_General_BIN2")),
              (Keys{"Apple", "Banana", "apricot", "cherry"}));
}

}  // namespace

namespace {

// --- session options --------------------------------------------------------

// A text's length in characters; binaries come as hex digits, two a byte.
std::vector<size_t> lengths(const Result& r) {
    std::vector<size_t> out;
    for (const std::optional<std::string>& v : r.rows.at(0))
        out.push_back(v ? QString::fromStdString(*v).size() : 0);
    return out;
}

TEST(TdsSession, SetOptionsArePerSessionAndTextsizeCutsOnlyMaxValues) {
    const std::string settings =
        "select @@TEXTSIZE, SESSIONPROPERTY('QUOTED_IDENTIFIER'), SESSIONPROPERTY('ARITHABORT'), "
        "SESSIONPROPERTY('ANSI_WARNINGS'), @@LOCK_TIMEOUT";
    auto c = connectTest();
    auto other = connectTest();
    // An ODBC login's defaults: the ANSI options on, ARITHABORT off, no cut.
    EXPECT_EQ(query(*c, settings).rows.at(0), (Row{"2147483647", "1", "0", "1", "-1"}));
    const std::string table = tdsUniqueName("Cut");
    ASSERT_TRUE(exec(*c, "create table " + table +
                             " (n nvarchar(max), v varchar(max), b varbinary(max), s "
                             "nvarchar(4000))"));
    ASSERT_TRUE(exec(*c, "insert into " + table +
                             " values (replace(hex(zeroblob(5000)), '00', N'\xc3\xa9'), "
                             "replace(hex(zeroblob(5000)), '00', 'x'), zeroblob(5000), "
                             "replace(hex(zeroblob(2000)), '00', N'e'))"));
    const std::string read = "select n, v, s from " + table;
    ASSERT_TRUE(exec(*c,
                     "SET TEXTSIZE 100\nSET QUOTED_IDENTIFIER OFF; SET ARITHABORT, ANSI_WARNINGS "
                     "ON\nSET LOCK_TIMEOUT 30000"));
    EXPECT_EQ(query(*c, settings).rows.at(0), (Row{"100", "0", "1", "1", "30000"}));
    // 100 bytes: 50 UTF-16 units, 100 one-byte characters, 100 bytes (200
    // hex digits); a column that is not (max) whole.
    EXPECT_EQ(lengths(query(*c, read)), (std::vector<size_t>{50, 100, 2000}));
    EXPECT_EQ(lengths(query(*c, "select b from " + table)), (std::vector<size_t>{200}));
    // Another session keeps its own.
    EXPECT_EQ(query(*other, settings).rows.at(0), (Row{"2147483647", "1", "0", "1", "-1"}));
    EXPECT_EQ(lengths(query(*other, read)), (std::vector<size_t>{5000, 5000, 2000}));
    // 0 is not "no limit" but the default of 4,096 bytes.
    ASSERT_TRUE(exec(*c, "SET TEXTSIZE 0"));
    EXPECT_EQ(lengths(query(*c, read)), (std::vector<size_t>{2048, 4096, 2000}));

    // A server started as a "text size" line in freetds.conf would leave it.
    tdstest::PrivateServer server({"--textsize", "4096", "--quoted-identifier", "off"});
    Connection p;
    ASSERT_TRUE(p.connect(server.connectionString())) << describe(p.diags());
    EXPECT_EQ(query(p, settings).rows.at(0), (Row{"4096", "0", "0", "1", "-1"}));
}

// A request held as if behind another session's lock waits LOCK_TIMEOUT
// and then fails with 1222; the session goes on.
TEST(TdsSession, AFiniteLockTimeoutEndsAHeldRequestWith1222) {
    tdstest::PrivateServer server({"--stall-query", "from held"});
    Connection c;
    ASSERT_TRUE(c.connect(server.connectionString())) << describe(c.diags());
    ASSERT_TRUE(exec(c, "create table held (n int); SET LOCK_TIMEOUT 300"));
    QElapsedTimer waited;
    waited.start();
    const std::vector<Diag> timedOut = failure(c, "select n from held");
    EXPECT_GE(waited.elapsed(), 300);
    EXPECT_TRUE(hasNative(timedOut, 1222)) << describe(timedOut);
    EXPECT_EQ(query(c, "select @@LOCK_TIMEOUT").rows, (std::vector<Row>{{"300"}}));
}

TEST(TdsSession, SnapshotIsolationIsRefusedAtTheFirstReadWhereTheDatabaseDoesNotAllowIt) {
    tdstest::PrivateServer server({"--database", "snapdb", "--snapshot-isolation", "snapdb"});
    for (const char* database : {"testdb", "snapdb"}) {
        Connection c;
        ASSERT_TRUE(c.connect(tdstest::tdsConnectionStringAt(server.port(), database)))
            << describe(c.diags());
        ASSERT_TRUE(exec(c, "create table t (n int); insert into t values (1)"));
        ASSERT_TRUE(exec(c, "SET TRANSACTION ISOLATION LEVEL SNAPSHOT"));
        EXPECT_EQ(query(c, "select @@TEXTSIZE").rows.size(), 1u);  // reads no table
        if (std::string(database) == "snapdb") {
            EXPECT_EQ(query(c, "select n from t").rows, (std::vector<Row>{{"1"}}));
            continue;
        }
        const std::vector<Diag> refused = failure(c, "select n from t");
        EXPECT_TRUE(hasNative(refused, 3952)) << describe(refused);
        EXPECT_NE(describe(refused).find("database 'testdb'"), std::string::npos);
        ASSERT_TRUE(exec(c, "SET TRANSACTION ISOLATION LEVEL READ COMMITTED"));
        EXPECT_EQ(query(c, "select n from t").rows, (std::vector<Row>{{"1"}}));
    }
}

}  // namespace
