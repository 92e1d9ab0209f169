// What the server makes of client SQL and RPC requests.
#include "Tsql.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>

#include "Bytes.h"
#include "Rpc.h"
#include "Store.h"

namespace {

using namespace tds;

std::string rewrite(std::string_view sql, std::set<std::string> schemas = {}) {
    return rewriteTsql(sql, {"testdb", std::move(schemas)}).sql;
}

TEST(Rewrite, TurnsTsqlLiteralsIntoSqlite) {
    EXPECT_EQ(rewrite("insert into t values (N'Gr\xc3\xbc\xc3\x9f"
                      "e', 0x0A0b, 0xF)"),
              "insert into t values ('Gr\xc3\xbc\xc3\x9f"
              "e', X'0A0b', X'0F')");
    EXPECT_EQ(rewrite("create table t (a nvarchar(max), b VARBINARY ( MAX ), c varchar(10))"),
              "create table t (a nvarchar(-1), b VARBINARY(-1), c varchar(10))");
    EXPECT_EQ(rewrite("select 'N''x', max(a) from t -- N'comment'"),
              "select 'N''x', max(a) from t -- N'comment'");
    EXPECT_EQ(rewrite("begin tran"), "BEGIN IMMEDIATE TRANSACTION");
    EXPECT_EQ(rewrite("values (0x, 0x00FF)"), "values (X'', X'00FF')");
    // Computed columns read as SQLite's generated columns.
    EXPECT_EQ(rewrite("create table T (a int, [Total] AS ([a] * [b]))"),
              "create table T (a int, \"Total\" AS (\"a\" * \"b\"))");
}

// A database of the test's own; each query runs rewritten, as sessions run
// it, on a new connection, and gives its first column: texts whole (NUL
// included), NULL as "NULL", each row followed by ';', then the error that
// ended it, if any.
class Scratch {
public:
    explicit Scratch(bool caseInsensitive = false) {
        catalog_ = Catalog::create({{"testdb", {}, caseInsensitive}}, error_);
        EXPECT_NE(catalog_, nullptr) << error_;
    }
    [[nodiscard]] ::testing::AssertionResult run(std::string_view script) {
        Connection db = connect();
        if (runScript(db.get(), *catalog_->first(), script, error_))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << error_;
    }
    std::string column(std::string_view query) {
        Connection db = connect();
        const Database& database = *catalog_->first();
        const std::string sql = rewriteTsql(query, {"testdb", {}, database.caseInsensitive()}).sql;
        sqlite3_stmt* stmt = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db.get()) << " in " << sql;
        std::string out;
        int rc = SQLITE_DONE;
        while (stmt && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            out += text ? std::string(text, size_t(sqlite3_column_bytes(stmt, 0))) : "NULL";
            out += ";";
        }
        if (rc != SQLITE_DONE) out += std::string("error ") + sqlite3_errmsg(db.get()) + ";";
        sqlite3_finalize(stmt);
        return out;
    }

private:
    using Connection = std::unique_ptr<sqlite3, int (*)(sqlite3*)>;
    Connection connect() {
        sqlite3* db = catalog_->first()->open(error_);
        EXPECT_NE(db, nullptr) << error_;
        return Connection(db, sqlite3_close);
    }
    std::string error_;
    std::unique_ptr<Catalog> catalog_;
};

TEST(Rewrite, PlusJoinsTextsAndNcharGivesTheCharacterOfACodeUnit) {
    // A + is a join when a text literal, NCHAR() or a cast to text is beside it.
    EXPECT_EQ(rewrite("select N'a' + NCHAR(10) + [b] + 'c', 1 + 2, [n] + 1.5e+07"),
              "select 'a' || NCHAR(10) || \"b\" || 'c', 1 + 2, \"n\" + 1.5e+07");
    EXPECT_EQ(rewrite("select CAST(N'' AS nvarchar(max)) + [t], convert(varchar(5), x) + y, "
                      "cast(x as int) + 1, f(N'a') + 1"),
              "select CAST('' AS nvarchar(-1)) || \"t\", tds_text(5, x) || y, "
              "tds_integer(4, x) + 1, f('a') + 1");

    Scratch db;
    ASSERT_TRUE(
        db.run("create table T (id int, n nchar(3), v nvarchar(max));\n"
               "insert into T values (1, N'a', CAST(N'' AS nvarchar(max)) + N'it''s' + "
               "NCHAR(0) + NCHAR(10) + N'\u00e9' + NCHAR(233));\n"));
    EXPECT_EQ(db.column("select v from T"), std::string("it's\0\n\u00e9\u00e9;", 11));
    EXPECT_EQ(db.column("select cast(N'ab' as nchar(5)) + N'|' + NCHAR(0x263A)"), "ab|\u263a;");
    // A lone surrogate is stored as one sent by a client is: U+FFFD; no code
    // unit beyond 65535, nor NULL, gives a character.
    EXPECT_EQ(db.column("select NCHAR(55357) + NCHAR(65535)"), "\ufffd\uffff;");
    EXPECT_EQ(db.column("select NCHAR(65536)"), "NULL;");
    EXPECT_EQ(db.column("select NCHAR(NULL) + N'x'"), "NULL;");
    EXPECT_EQ(db.column("select 40 + 2"), "42;");
}

TEST(Rewrite, DateAndTimeColumnsCompareAndSortByValue) {
    EXPECT_EQ(rewrite("create table D (a date, b datetime2(7) not null, c varchar(5), "
                      "d datetime collate Latin1_General_BIN2, e time(3))"),
              "create table D (a date COLLATE DATETIMEVALUE, b datetime2(7) COLLATE "
              "DATETIMEVALUE not null, c varchar(5), d datetime collate UTF16BIN "
              "/*Latin1_General_BIN2*/, e time(3) "
              "COLLATE DATETIMEVALUE)");
    EXPECT_EQ(
        rewriteTsql("create table D (s smalldatetime, t nvarchar(5))", {"testdb", {}, true}).sql,
        "create table D (s smalldatetime COLLATE DATETIMEVALUE, t nvarchar(5) COLLATE "
        "NOCASEPAD)");

    Scratch db;
    ASSERT_TRUE(
        db.run("create table D (id int, w datetime2(7) primary key, d date, t time);\n"
               "insert into D values (1, '2024-02-29 13:45:30.9970000', '2024-02-29', "
               "'13:45:30.1234567');\n"
               "insert into D values (2, '2024-02-29 09:00:00', '2023-12-31', '09:00:00');\n"
               "insert into D values (3, '2024-02-29', '2024-03-01', '23:59:59.9');\n"
               "insert into D values (4, 'not a date', '2024-01-01', '9:00');\n"));
    EXPECT_EQ(db.column("select id from D where w = '2024-02-29T13:45:30.997'"), "1;");
    EXPECT_EQ(db.column("select id from D where w = '2024-02-29T00:00:00'"), "3;");
    EXPECT_EQ(db.column("select id from D where d = '2024-02-29T00:00:00.000'"), "1;");
    EXPECT_EQ(db.column("select id from D where t = '13:45:30.12345670'"), "1;");
    EXPECT_EQ(db.column("select id from D where w > '2024-02-29T09:00:00' order by w"), "1;4;");
    EXPECT_EQ(db.column("select id from D order by w"), "3;2;1;4;");
    EXPECT_EQ(db.column("select id from D order by d desc"), "3;1;4;2;");
    // Values read back as they were written.
    EXPECT_EQ(db.column("select w from D where id = 1"), "2024-02-29 13:45:30.9970000;");
}

// With the tables' columns known: an N'...' compared with a varchar under a
// SQL_ collation keeps the index out (SQL Server converts the column), a
// value given to it does not, a varchar literal still seeks; a char(n) cast
// to text keeps its blanks.
TEST(Rewrite, ColumnsOfTheTablesNamedShapeComparisonsAndCasts) {
    const TableColumns t{{"k", {"varchar(10)", "SQL_Latin1_General_CP1_CI_AS"}},
                         {"w", {"varchar(10)", "Latin1_General_CI_AS"}},
                         {"c", {"char(3)", "Latin1_General_CS_AS"}}};
    RewriteContext context{"testdb", {}};
    context.tableColumns = [&](const std::string& table) { return table == "t" ? &t : nullptr; };
    EXPECT_EQ(rewriteTsql("update [T] set [k] = N'a', [w] = N'b' where [k] = N'a' and [w] >= N'b' "
                          "and [k] <= 'c'",
                          context)
                  .sql,
              "update \"T\" set \"k\" = 'a', \"w\" = 'b' where +\"k\" = 'a' and \"w\" >= "
              "'b' and \"k\" <= 'c'");
    EXPECT_EQ(rewriteTsql("select cast([c] as nvarchar(3)) as [c] from [T]", context).sql,
              "select cast((\"c\" || substr(printf('%*s', 3, ''), 1, max(0, 3 - length(\"c\")))) "
              "as nvarchar(3)) as \"c\" from \"T\"");
    // A column named by a cast is described as the cast's type, as SQL
    // Server describes it (SQLite has no type for an expression).
    EXPECT_EQ(rewriteTsql("select cast([c] as nvarchar(3)) as [c], cast([k] as nvarchar(max)) as "
                          "[k] from [T]",
                          context)
                  .castTypes,
              (std::map<std::string, std::string>{{"c", "nvarchar(3)"}}));
}

TEST(Rewrite, BracketedNamesWithDoubledClosingBracketsBecomeSqliteIdentifiers) {
    EXPECT_EQ(rewrite("select * from [Odd]]Name]"), "select * from \"Odd]Name\"");
    EXPECT_EQ(rewrite("select * from [say \"x\"]"), "select * from \"say \"\"x\"\"\"");
    EXPECT_EQ(rewrite("select * from [Order Lines] where [a b] = 1"),
              "select * from \"Order Lines\" where \"a b\" = 1");
}

TEST(Rewrite, StoresSchemaQualifiedTablesUnderOneName) {
    EXPECT_EQ(rewrite("create table [sales].[Orders] (id int)"),
              "create table \"sales.Orders\" (id int)");
    EXPECT_EQ(rewrite("select * from sales.Orders"), "select * from \"sales.Orders\"");
    EXPECT_EQ(rewrite("select sales.Orders.id from x", {"sales"}),
              "select \"sales.Orders\".\"id\" from x");
    EXPECT_EQ(rewrite("select * from [dbo].[Orders]"), "select * from \"Orders\"");
    EXPECT_EQ(rewrite("select * from testdb..Orders"), "select * from \"Orders\"");
    EXPECT_EQ(rewrite("select * from TESTDB.sales.Orders"), "select * from \"sales.Orders\"");
    // Aliases and unknown qualifiers outside table positions stay as written.
    EXPECT_EQ(rewrite("select o.id from Orders o where o.id = 1"),
              "select o.id from Orders o where o.id = 1");
    EXPECT_EQ(rewrite("select * from otherdb.dbo.T"), "select * from otherdb.dbo.T");
}

TEST(Rewrite, CaseInsensitiveDatabasesGiveNewTextColumnsNocase) {
    const std::string sql =
        "create table [sales].[T] ([Name] nvarchar(max) not null primary key, n int,\n"
        "  c char(3) collate Latin1_General_BIN, constraint text unique (n))\n"
        "create table U (t text);\nselect * from U order by t collate SQL_Latin1_General_CP1_CI_AS";
    EXPECT_EQ(
        rewriteTsql(sql, {"testdb", {}, true}).sql,
        "create table \"sales.T\" (\"Name\" nvarchar(-1) COLLATE NOCASEPAD not null primary "
        "key, n int,\n  c char(3) collate BINARY /*Latin1_General_BIN*/, constraint text unique "
        "(n))\n"
        "create table U (t text COLLATE NOCASEPAD);\nselect * from U order by t collate "
        "NOCASEPAD /*SQL_Latin1_General_CP1_CI_AS*/");
    // Binary databases keep the columns as declared.
    EXPECT_EQ(rewrite("create table U (t text, n nvarchar(5) collate nocase)"),
              "create table U (t text, n nvarchar(5) collate nocase)");
}

// Under ci, texts compare as SQL Server's CI collations do: without case,
// the shorter one padded with blanks; a binary database keeps both apart.
TEST(Rewrite, CaseInsensitiveTextsIgnoreTrailingBlanks) {
    const std::string table =
        "create table C (k nvarchar(10) not null primary key, n int);\n"
        "insert into C values (N'a', 1), (N'B  ', 2), (N'a' + NCHAR(9), 3), (N'ab', 4);\n";
    Scratch ci(true);
    ASSERT_TRUE(ci.run(table));
    EXPECT_EQ(ci.column("select n from C where k = N'A   '"), "1;");
    EXPECT_EQ(ci.column("select n from C where k = N'b'"), "2;");
    // Padded, not trimmed: 'a' + TAB sorts before 'a' (TAB < blank).
    EXPECT_EQ(ci.column("select n from C order by k"), "3;1;4;2;");
    EXPECT_FALSE(ci.run("insert into C values (N'A ', 5);"));  // the key clashes
    EXPECT_EQ(ci.column("select n from C where k = N'a' collate Latin1_General_BIN2"), "1;");

    Scratch binary;
    ASSERT_TRUE(binary.run(table));
    EXPECT_EQ(binary.column("select n from C where k = N'a '"), "");
    EXPECT_EQ(binary.column("select n from C where k = N'A ' collate Latin1_General_CI_AS"), "1;");
}

// CAST to varbinary/binary gives a text's UTF-16LE bytes, as SQL Server does
// for nvarchar, so a script tells 'a' from 'A' and 'a ' where = cannot;
// DATALENGTH counts bytes. Both work in the WHERE of every statement.
TEST(Rewrite, BinaryCastsAndDatalengthPickOneRowAmongEqualTexts) {
    Scratch db(true);
    ASSERT_TRUE(
        db.run("create table K (n int, k nvarchar(10), b varbinary(10));\n"
               "insert into K values (1, N'a', 0x01), (2, N'a ', 0x0100), (3, N'A', 0x), "
               "(4, N'\u00e9\U0001F600', NULL), (5, NULL, 0x02);\n"));
    const std::string exact = "CAST(CAST([k] AS nvarchar(max)) AS varbinary(max)) = 0x6100";
    EXPECT_EQ(db.column("select n from K where [k] = N'a' order by n"), "1;2;3;");
    EXPECT_EQ(db.column("select n from K where [k] = N'a' AND " + exact), "1;");
    EXPECT_EQ(db.column("select hex(CAST(k AS varbinary(max))) from K where n >= 2 order by n"),
              "61002000;4100;E9003DD800DE;;");
    EXPECT_EQ(db.column("select hex(cast(k as binary(4))) || '|' || hex(cast(k as varbinary(1))) "
                        "|| '|' || hex(cast(b as binary(3))) || '|' || hex(cast(258 as binary(4))) "
                        "from K where n = 1"),
              "61000000|61|010000|00000102;");
    EXPECT_EQ(db.column("select DATALENGTH(k) || ',' || ifnull(DATALENGTH(b), 'NULL') from K "
                        "order by n"),
              "2,1;4,2;2,0;6,NULL;NULL;");

    ASSERT_TRUE(db.run("UPDATE [K] SET [b] = 0x0A WHERE [k] = N'a' AND " + exact + ";\n" +
                       "DELETE FROM [K] WHERE [b] = 0x0100 AND DATALENGTH([b]) = 2;\n"));
    EXPECT_EQ(db.column("select n || ':' || hex(b) from K where b is not null order by n"),
              "1:0A;3:;5:02;");
}

// The row encoding of the checksum method: each column's field as SQL
// Server gives its bytes, whatever the value's storage here. The chain of
// + joins bytes, never adds numbers or turns blobs into text.
TEST(Checksums, EachTypeEncodesAsSqlServerGivesItsBytes) {
    Scratch db;
    ASSERT_TRUE(db.run(
        "create table E (n int, i int, b bigint, f float, r real, d decimal(10,2), m money, "
        "dt datetime, da date, t time, v varchar(10), w nvarchar(10), x varbinary(8), "
        "g uniqueidentifier, l nvarchar(40));\n"
        "insert into E values (1, -1, 1099511627776, 1, 0.5, -0.5, 12.34, "
        "'2024-02-29T13:45:30.997', '2024-02-29', '13:45:30.1234567', 'ab', N'\u00e9', 0x0102, "
        "'6F9619FF-8B86-D011-B42D-00C04FC964FF', N'abcdefghi\u00e9\U0001F600jklmnopq');\n"
        "insert into E (n) values (2);\n"));
    auto field = [&](const std::string& typed, const std::string& column) {
        return db.column("select hex(cast(0x as varbinary(max)) + case when [" + column +
                         "] is null then 0x00 else 0x01 + " + typed + " end) from E order by n");
    };
    const std::string integer = "cast(cast([c] as bigint) as binary(8))";
    const std::string real = "cast(cast([c] as float) as binary(8))";
    const std::string exact =
        "cast(convert(varchar(41), cast([c] as decimal(38, 4))) as varbinary(41)) + 0x00";
    const std::string moment =
        "cast(convert(varchar(27), cast([c] as datetime2(7)), 121) as varbinary(27)) + 0x00";
    const std::string text =
        "cast(datalength(cast([c] as nvarchar(max))) as binary(4)) + "
        "cast(cast([c] as nvarchar(max)) as varbinary(max))";
    const std::string bytes = "cast(datalength([c]) as binary(4)) + cast([c] as varbinary(max))";
    auto in = [](std::string e, const std::string& column) {
        for (size_t at; (at = e.find("[c]")) != std::string::npos;)
            e.replace(at, 3, "[" + column + "]");
        return e;
    };
    auto hexOf = [](std::string_view s) {
        std::string out;
        for (unsigned char c : s)
            out += "0123456789ABCDEF"[c >> 4], out += "0123456789ABCDEF"[c & 15];
        return out;
    };
    EXPECT_EQ(field(in(integer, "i"), "i"), "01FFFFFFFFFFFFFFFF;00;");
    EXPECT_EQ(field(in(integer, "b"), "b"), "010000010000000000;00;");
    EXPECT_EQ(field(in(real, "f"), "f"), "013FF0000000000000;00;");
    EXPECT_EQ(field(in(real, "r"), "r"), "013FE0000000000000;00;");
    EXPECT_EQ(field(in(exact, "d"), "d"), "01" + hexOf("-0.5000") + "00;00;");
    EXPECT_EQ(field(in(exact, "m"), "m"), "01" + hexOf("12.3400") + "00;00;");
    EXPECT_EQ(field(in(moment, "dt"), "dt"),
              "01" + hexOf("2024-02-29 13:45:30.9970000") + "00;00;");
    EXPECT_EQ(field(in(moment, "da"), "da"),
              "01" + hexOf("2024-02-29 00:00:00.0000000") + "00;00;");
    EXPECT_EQ(field(in(moment, "t"), "t"), "01" + hexOf("1900-01-01 13:45:30.1234567") + "00;00;");
    EXPECT_EQ(field(in(text, "v"), "v"), "010000000461006200;00;");
    EXPECT_EQ(field(in(text, "w"), "w"), "0100000002E900;00;");
    EXPECT_EQ(field(in(bytes, "x"), "x"), "01000000020102;00;");
    EXPECT_EQ(field(in(text, "l"), "l"),
              "0100000028610062006300640065006600670068006900E9003DD800DE"
              "6A006B006C006D006E006F0070007100;00;");
    EXPECT_EQ(field("cast([g] as binary(16))", "g"), "01FF19966F868B11D0B42D00C04FC964FF;00;");
    // Two columns: one field after the other, behind the empty start.
    EXPECT_EQ(db.column("select hex(cast(0x as varbinary(max)) + case when [n] is null then 0x00 "
                        "else 0x01 + " +
                        in(integer, "n") +
                        " end + case when [x] is null then 0x00 "
                        "else 0x01 + " +
                        in(bytes, "x") + " end) from E order by n"),
              "010000000000000001"
              "01000000020102;010000000000000002"
              "00;");
}

// The server computes each field of that shape in one call: the same bytes
// as the encoding spelled out step by step (which a parenthesis keeps).
TEST(Checksums, OneCallPerFieldGivesTheBytesOfTheSpelledOutEncoding) {
    Scratch db;
    ASSERT_TRUE(db.run(
        "create table F (n int, i bigint, f real, d decimal(38,10), m smallmoney, dt datetime2, "
        "da date, v varchar(10), w nvarchar(10), x varbinary(8), g uniqueidentifier);\n"
        "insert into F values (1, -9223372036854775808, -3.25, "
        "'-1234567890123456789012345678.0123456789', -0.0001, '0001-01-01 00:00:00', "
        "'9999-12-31', '', N'\U0001F600\u00e9', 0x, '00000000-0000-0000-0000-0000000000FF');\n"
        "insert into F values (2, 0, 0, 0, 214748.3647, '2024-02-29T23:59:59.9999999', "
        "'2000-01-01', ' a ', N'x', 0x00, 'ffffffff-ffff-ffff-ffff-ffffffffffff');\n"
        "insert into F (n) values (3);\n"));
    const std::pair<const char*, const char*> fields[] = {
        {"cast(cast([c] as bigint) as binary(8))", "i"},
        {"cast(cast([c] as bigint) as binary(8))", "n"},
        {"cast(cast([c] as float) as binary(8))", "f"},
        {"cast(convert(varchar(41), cast([c] as decimal(38, 10))) as varbinary(41)) + 0x00", "d"},
        {"cast(convert(varchar(41), cast([c] as decimal(38, 4))) as varbinary(41)) + 0x00", "m"},
        {"cast(convert(varchar(27), cast([c] as datetime2(7)), 121) as varbinary(27)) + 0x00",
         "dt"},
        {"cast(convert(varchar(27), cast([c] as datetime2(7)), 121) as varbinary(27)) + 0x00",
         "da"},
        {"cast(datalength(cast([c] as nvarchar(max))) as binary(4)) + cast(cast([c] as "
         "nvarchar(max)) as varbinary(max))",
         "v"},
        {"cast(datalength(cast([c] as nvarchar(max))) as binary(4)) + cast(cast([c] as "
         "nvarchar(max)) as varbinary(max))",
         "w"},
        {"cast(datalength([c]) as binary(4)) + cast([c] as varbinary(max))", "x"},
        {"cast([c] as binary(16))", "g"}};
    for (const auto& [typed, column] : fields) {
        std::string encoding = typed;
        for (size_t at; (at = encoding.find("[c]")) != std::string::npos;)
            encoding.replace(at, 3, std::string("[") + column + "]");
        const std::string test = std::string("case when [") + column + "] is null then 0x00 else ";
        const std::string oneCall = test + "0x01 + " + encoding + " end";
        const std::string spelled = test + "(0x01 + " + encoding + ") end";
        EXPECT_NE(rewrite("select " + oneCall).find(kChecksumFieldFunction), std::string::npos)
            << column;
        EXPECT_EQ(rewrite("select " + spelled).find(kChecksumFieldFunction), std::string::npos);
        const std::string expected = db.column("select hex(" + spelled + ") from F order by n");
        EXPECT_EQ(db.column("select hex(" + oneCall + ") from F order by n"), expected) << column;
        EXPECT_EQ(std::count(expected.begin(), expected.end(), ';'), 3) << column;
    }
}

// HASHBYTES of a whole row encoding is one call: the digest of what the
// encoding spelled out gives (a trailing empty binary keeps it spelled out),
// for every kind and algorithm, and the same failure for a value that does
// not convert.
TEST(Checksums, OneCallPerRowGivesTheDigestOfTheEncodingSpelledOut) {
    Scratch db;
    ASSERT_TRUE(db.run(
        "create table R (n int, d decimal(38,10), dt datetime2, w nvarchar(10), x varbinary(8), "
        "g uniqueidentifier, f real, t varchar(10));\n"
        "insert into R values (1, -0.5, '2024-02-29T23:59:59.9999999', N'\U0001F600\u00e9', "
        "0x0102, 'ffffffff-ffff-ffff-ffff-ffffffffffff', -3.25, '12');\n"
        "insert into R values (2, 0, '9999-12-31', N'', 0x, "
        "'00000000-0000-0000-0000-0000000000FF', 0, NULL);\n"
        "insert into R (n) values (3);\n"));
    auto field = [](const std::string& column, const std::string& typed) {
        return " + case when [" + column + "] is null then 0x00 else 0x01 + " + typed + " end";
    };
    auto text = [](const std::string& c) {
        return "cast(datalength(cast([" + c + "] as nvarchar(max))) as binary(4)) + cast(cast([" +
               c + "] as nvarchar(max)) as varbinary(max))";
    };
    const std::string row =
        "cast(0x as varbinary(max))" + field("n", "cast(cast([n] as bigint) as binary(8))") +
        field("d",
              "cast(convert(varchar(41), cast([d] as decimal(38, 10))) as varbinary(41)) + 0x00") +
        field("dt",
              "cast(convert(varchar(27), cast([dt] as datetime2(7)), 121) as varbinary(27)) + "
              "0x00") +
        field("w", text("w")) +
        field("x", "cast(datalength([x]) as binary(4)) + cast([x] as varbinary(max))") +
        field("g", "cast([g] as binary(16))") +
        field("f", "cast(cast([f] as float) as binary(8))") + field("t", text("t"));
    for (const std::string algorithm : {"SHA2_256", "sha2_512", "SHA1", "MD5", "SHA3"}) {
        const std::string oneCall =
            "select hex(hashbytes('" + algorithm + "', " + row + ")) from R order by n";
        const std::string spelled =
            "select hex(hashbytes('" + algorithm + "', " + row + " + 0x)) from R order by n";
        EXPECT_NE(rewrite(oneCall).find(kRowHashFunction), std::string::npos);
        EXPECT_EQ(rewrite(spelled).find(kRowHashFunction), std::string::npos);
        const std::string expected = db.column(spelled);
        EXPECT_EQ(db.column(oneCall), expected) << algorithm;
        EXPECT_EQ(std::count(expected.begin(), expected.end(), ';'), 3) << algorithm;
    }
    // A text that is no number, read as an integer field.
    const std::string wrong = "cast(0x as varbinary(max))" +
                              field("n", "cast(cast([n] as bigint) as binary(8))") +
                              field("w", "cast(cast([w] as bigint) as binary(8))");
    const std::string failed =
        db.column("select hex(hashbytes('SHA2_256', " + wrong + ")) from R order by n");
    EXPECT_NE(failed.find("245"), std::string::npos) << failed;
    EXPECT_EQ(db.column("select hex(hashbytes('SHA2_256', " + wrong + " + 0x)) from R order by n"),
              failed);
}

// CAST(SUBSTRING(x, start, length) AS int) and the other integers read the
// slice in place, with the result and failures of the slice taken as a value
// of its own (which a computed start keeps): binaries, texts of several
// bytes a character, numbers, NULL, slices past the end.
TEST(Checksums, IntegerOfASliceIsThatOfTheSliceTakenFirst) {
    Scratch db;
    for (const char* value : {"0x00FFFFFFFE01", "0x01", "N'12345678901'", "N'\u00e97\U0001F600 8'",
                              "'  42 '", "123456", "-1.5", "NULL"}) {
        for (const char* type : {"tinyint", "smallint", "int", "bigint"}) {
            for (const auto& [start, length] :
                 {std::pair{"1", "4"}, {"2", "4"}, {"3", "2"}, {"7", "1"}, {"1", "11"}}) {
                const std::string slice = std::string("select cast(substring(") + value + ", " +
                                          start + ", " + length + ") as " + type + ")";
                const std::string kept = std::string("select cast(substring(") + value + ", " +
                                         start + " + 0, " + length + ") as " + type + ")";
                ASSERT_NE(rewrite(slice).find(kIntegerSliceFunction), std::string::npos);
                ASSERT_EQ(rewrite(kept).find(kIntegerSliceFunction), std::string::npos);
                EXPECT_EQ(db.column(slice), db.column(kept)) << slice;
            }
        }
    }
    EXPECT_EQ(db.column("select cast(substring(N'x12345', 2, 3) as int)"), "123;");
    EXPECT_EQ(db.column("select cast(substring(0x0000000100000002, 5, 4) as int)"), "2;");
}

// Decimals spell exactly their scale, with a 0 before the point and no sign
// for zero; dates round to the digits asked for.
TEST(Checksums, ConvertSpellsDecimalsAndDatesAsSqlServer) {
    Scratch db;
    EXPECT_EQ(db.column("select convert(varchar(41), cast(-0.004 as decimal(38, 2))) || '|' || "
                        "convert(varchar(41), cast(-0.5 as decimal(38, 2))) || '|' || "
                        "convert(varchar(41), cast(7 as decimal(38, 0))) || '|' || "
                        "convert(varchar(41), cast('123456789012345678901234567890.12' as "
                        "decimal(38, 3)))"),
              "0.00|-0.50|7|123456789012345678901234567890.120;");
    EXPECT_EQ(db.column("select convert(varchar(27), cast('2023-12-31 23:59:59.99999996' as "
                        "datetime2(7)), 121) || '|' || convert(varchar(27), cast('2023-12-31 "
                        "23:59:59.9999996' as datetime2(6)), 121)"),
              "2023-12-31 23:59:59.9999999|2024-01-01 00:00:00.000000;");
}

// HASHBYTES hashes a varchar's single bytes and an nvarchar's UTF-16LE;
// binary(4) reads back as a big-endian int from any slice of the digest.
TEST(Checksums, HashbytesAndItsSlicesReadBackAsSqlServer) {
    Scratch db;
    EXPECT_EQ(db.column("select lower(hex(hashbytes('SHA2_256', 'abc')))"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad;");
    EXPECT_EQ(
        db.column("select hashbytes('SHA2_256', N'abc') = hashbytes('SHA2_256', 0x610062006300)"),
        "1;");
    EXPECT_EQ(db.column("select hashbytes('SHA2_256', cast(null as varbinary(max)))"), "NULL;");
    // Numbers pad and cut on the left, texts on the right.
    EXPECT_EQ(db.column("select hex(cast(cast(-2 as int) as binary(8))) || '|' || "
                        "hex(cast(cast(258 as bigint) as binary(1))) || '|' || "
                        "hex(cast('ab' as binary(3))) || '|' || hex(cast(N'ab' as varbinary(3)))"),
              "00000000FFFFFFFE|02|616200|610062;");
    EXPECT_EQ(
        db.column("select cast(cast(substring(0x00FFFFFFFE01, 2, 4) as int) as bigint) || '|' || "
                  "cast(0x0000000100000002 as int) || '|' || cast(0xFF as smallint) || '|' || "
                  "count_big(*)"),
        "-2|2|255|1;");
}

// _BIN2 collations order by UTF-16 code unit, where U+FF21 comes after the
// surrogate pair of U+1D538; plain text and other binary collations keep
// code point order. Each connection runs its own statement, as sessions do.
TEST(Rewrite, Bin2CollationsOrderTextsByUtf16CodeUnit) {
    std::string error;
    std::unique_ptr<Catalog> catalog = Catalog::create({{"testdb", {}, false}}, error);
    ASSERT_NE(catalog, nullptr) << error;
    Database& database = *catalog->first();
    auto connect = [&] {
        sqlite3* db = database.open(error);
        EXPECT_NE(db, nullptr) << error;
        return std::unique_ptr<sqlite3, int (*)(sqlite3*)>(db, sqlite3_close);
    };
    ASSERT_TRUE(runScript(connect().get(), database,
                          "create table T (t nvarchar(10), k nvarchar(10) collate "
                          "Latin1_General_BIN2 primary key);\n"
                          "insert into T values (N'\uFF21', N'\uFF21');\n"
                          "insert into T values (N'\U0001D538x', N'\U0001D538x');\n"
                          "insert into T values (N'b', N'b');\n",
                          error))
        << error;
    auto ordered = [&](std::string_view query) {
        auto db = connect();
        std::string out;
        sqlite3_stmt* stmt = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db.get(), rewrite(query).c_str(), -1, &stmt, nullptr),
                  SQLITE_OK)
            << sqlite3_errmsg(db.get());
        while (stmt && sqlite3_step(stmt) == SQLITE_ROW)
            out += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)) + std::string(";");
        sqlite3_finalize(stmt);
        return out;
    };
    const std::string unitOrder = "b;\U0001D538x;\uFF21;", pointOrder = "b;\uFF21;\U0001D538x;";
    EXPECT_EQ(ordered("select t from T order by cast(t as nvarchar(max)) collate "
                      "Latin1_General_BIN2"),
              unitOrder);
    EXPECT_EQ(ordered("select t from T order by t collate latin1_general_100_bin2"), unitOrder);
    EXPECT_EQ(ordered("select k from T order by k"), unitOrder);  // the column's own collation
    EXPECT_EQ(ordered("select t from T order by t"), pointOrder);
    EXPECT_EQ(ordered("select t from T order by t collate Latin1_General_BIN"), pointOrder);
}

// TOP and OFFSET ... FETCH limit the query they belong to, however deep it
// stands; the program's own shape puts a query with ORDER BY ... OFFSET 0
// ROWS inside a derived table.
TEST(RowLimits, TopAndOffsetLimitTheirOwnQueryAtAnyDepth) {
    Scratch db;
    ASSERT_TRUE(
        db.run("create table N (n int);\ninsert into N values (1), (2), (3), (4), (5), (6);\n"));
    EXPECT_EQ(db.column("select top 2 n from N order by n desc"), "6;5;");
    EXPECT_EQ(db.column("select distinct TOP (1 + 1) n % 2 from N order by 1"), "0;1;");
    EXPECT_EQ(db.column("select * from (select top 2 n from N order by n desc) as [q] order by n"),
              "5;6;");
    EXPECT_EQ(db.column("select n from N where n in (select top 2 n from N order by n) order by n"),
              "1;2;");
    EXPECT_EQ(db.column("with c as (select top 3 n from N order by n desc) select n from c "
                        "order by n"),
              "4;5;6;");
    EXPECT_EQ(db.column("select n from N order by n OFFSET 4 ROWS"), "5;6;");
    EXPECT_EQ(db.column("select n from N order by n offset (1) row fetch next (1 + 1) rows only"),
              "2;3;");
    EXPECT_EQ(db.column("select * from (select n from N order by n desc offset 0 rows fetch first "
                        "1 row only) as q"),
              "6;");
    EXPECT_EQ(db.column("select [n] from (select n from N order by n offset 0 rows) as [q] where "
                        "(n > 4) order by [n]"),
              "5;6;");
    // Each statement of a batch ends its own limit.
    EXPECT_EQ(rewrite("select top 1 a from t; select top (2) b from u"),
              "select  a from t LIMIT 1; select  b from u LIMIT (2)");
}

TEST(RowLimits, RefusesWhatSqlServerRefusesAndWhatThisServerCannotRun) {
    auto refusal = [](std::string_view sql) {
        const std::optional<Refusal> r = rewriteTsql(sql, {"testdb", {}}).refusal;
        return r ? std::to_string(r->number) + " " + r->text : std::string();
    };
    const std::string orderBy =
        "1033 The ORDER BY clause is invalid in views, inline functions, derived tables, "
        "subqueries, and common table expressions, unless TOP, OFFSET or FOR XML is also "
        "specified.";
    for (const char* sql : {"select * from (select n from N order by n) as q",
                            "select n from N where exists (select n from N order by n)",
                            "with c as (select n from N order by n) select * from c",
                            "create view V as select n from N order by n"})
        EXPECT_EQ(refusal(sql), orderBy) << sql;
    EXPECT_EQ(refusal("select * from (select n from N)"), "102 Incorrect syntax near ')'.");
    EXPECT_EQ(refusal("select * from N a join (select n from N) WHERE 1 = 1"),
              "102 Incorrect syntax near the keyword 'WHERE'.");
    EXPECT_EQ(refusal("select top 1 n from N order by n offset 1 rows"),
              "10741 A TOP can not be used in the same query or sub-query as a OFFSET.");
    EXPECT_EQ(refusal("select n into Copy from N"),
              "50000 SELECT ... INTO is not supported by this server.");
    EXPECT_EQ(refusal("select top 10 percent n from N"),
              "50000 TOP ... PERCENT is not supported by this server.");

    for (const char* sql :
         {"select n from N order by n", "select * from (select n from N) q order by n",
          "select * from N a, (select n from N) as [b]",
          "select * from (select top 1 n from N order by n) q",
          "select row_number() over (partition by n order by n) from (select n from N) x",
          "select string_agg(n, ',') within group (order by n) from N",
          "insert into N select top 1 n from N order by n",
          "with c as (select n from N), d (x, y) as (select n, n from N) select * from (select "
          "c.n, d.y from c join d on c.n = d.x) as [q] order by n"})
        EXPECT_EQ(refusal(sql), "") << sql;
}

TEST(Rewrite, RemembersNamesAsWrittenForMessages) {
    Rewritten r =
        rewriteTsql("select * from [dbo].[Missing]; select * from sales.Gone", {"testdb", {}});
    EXPECT_EQ(r.writtenNames["missing"], "dbo.Missing");
    EXPECT_EQ(r.writtenNames["sales.gone"], "sales.Gone");
}

TEST(RowCount, RecognisesTheEstimateQueryAndTheTableItNames) {
    // As the rewriting passes it on, followed by another statement.
    std::string sql = rewrite(
        "select sum(rows) from sys.partitions where object_id = object_id(N'[sales].[It''s]]x]') "
        "and index_id in (0, 1); select 1");
    std::optional<RowCountQuery> q = matchRowCountQuery(sql, 0);
    ASSERT_TRUE(q);
    EXPECT_EQ(q->objectName, "[sales].[It's]]x]");
    EXPECT_EQ(sql.substr(skipBlank(sql, q->end)), "select 1");
    const RewriteContext context{"testdb", {}};
    EXPECT_EQ(storedNameOfObject(q->objectName, context), "sales.It's]x");
    EXPECT_EQ(storedNameOfObject("[dbo].[T]", context), "T");
    EXPECT_EQ(storedNameOfObject("testdb..T", context), "T");
    EXPECT_EQ(storedNameOfObject("otherdb.dbo.T", context), std::nullopt);
    EXPECT_EQ(storedNameOfObject("[dbo].[T", context), std::nullopt);

    q = matchRowCountQuery(
        "SELECT SUM([rows])FROM [sys].[partitions]\nWHERE index_id IN (1,0)\n  AND "
        "object_id=OBJECT_ID('T')\nselect 2",
        0);
    ASSERT_TRUE(q);
    EXPECT_EQ(q->objectName, "T");
    // Other questions to sys.partitions are not this one.
    for (const char* other :
         {"select sum(rows) from sys.partitions where object_id = 5 and index_id in (0, 1)",
          "select sum(rows) from sys.partitions where object_id = object_id('T') and index_id in "
          "(0, 1, 2)",
          "select sum(rows) from sys.partitions where object_id = object_id('T') and index_id in "
          "(0, 1) group by object_id"})
        EXPECT_FALSE(matchRowCountQuery(other, 0)) << other;
}

TEST(Statements, RecognisesTheColumnPropertiesQueryAndIfStatements) {
    std::string sql = rewrite(
        "SELECT name,is_identity , IS_COMPUTED, system_type_id, collation_name\n FROM "
        "[sys].[columns] WHERE "
        "object_id = OBJECT_ID(N'[sales].[Odd]]Name]') ORDER BY column_id; select 1");
    std::optional<ColumnPropertiesQuery> q = matchColumnPropertiesQuery(sql, 0);
    ASSERT_TRUE(q);
    EXPECT_EQ(q->objectName, "[sales].[Odd]]Name]");
    EXPECT_EQ(sql.substr(skipBlank(sql, q->end)), "select 1");
    for (const char* other :
         {"select name, is_identity, is_computed from sys.columns where object_id = "
          "object_id('T') order by column_id",
          "select name, is_identity, is_computed, system_type_id, collation_name from "
          "sys.columns where object_id = object_id('T') order by column_id, name",
          "select name, is_identity, is_computed, system_type_id, collation_name from "
          "sys.columns where object_id = 5 order by column_id"})
        EXPECT_FALSE(matchColumnPropertiesQuery(other, 0)) << other;

    // The index and collation look-ups: any aliases, AS optional, used as given.
    sql = rewrite(
        "select x.is_unique, y.key_ordinal, col_name(y.object_id, y.column_id) from sys.indexes "
        "x join sys.index_columns as y on y.object_id = x.object_id and y.index_id = x.index_id "
        "where x.object_id = object_id(N'[dbo].[T]') and y.key_ordinal > 0 order by x.index_id, "
        "y.key_ordinal; select 1");
    q = matchIndexColumnsQuery(sql, 0);
    ASSERT_TRUE(q);
    EXPECT_EQ(q->objectName, "[dbo].[T]");
    EXPECT_EQ(sql.substr(skipBlank(sql, q->end)), "select 1");
    EXPECT_FALSE(matchIndexColumnsQuery(
        "select i.is_unique, ic.key_ordinal, col_name(ic.object_id, ic.column_id) from "
        "sys.indexes as i join sys.index_columns as ic on ic.object_id = i.object_id and "
        "ic.index_id = i.index_id where i.object_id = object_id('T') and ic.key_ordinal > 1 "
        "order by i.index_id, ic.key_ordinal",
        0));
    EXPECT_FALSE(matchIndexColumnsQuery(
        "select i.is_unique, ic.key_ordinal, col_name(ic.object_id, ic.column_id) from "
        "sys.indexes as i join sys.index_columns as ic on ix.object_id = i.object_id and "
        "ic.index_id = i.index_id where i.object_id = object_id('T') and ic.key_ordinal > 0 "
        "order by i.index_id, ic.key_ordinal",
        0));
    EXPECT_TRUE(matchColumnCollationsQuery(
        rewrite("SELECT name, collation_name, scale FROM sys.columns WHERE object_id = "
                "object_id(N'T') ORDER BY column_id"),
        0));
    // A stored table keeps the collations as written.
    EXPECT_EQ(
        columnCollations(rewriteTsql("create table T (a nvarchar(5) collate "
                                     "Latin1_General_CI_AS, [b c] nvarchar(5), d int, "
                                     "constraint x unique (d))",
                                     {"testdb", {}, true})
                             .sql),
        (std::map<std::string, std::string>{{"a", "Latin1_General_CI_AS"}, {"b c", "NOCASEPAD"}}));

    // IF: the condition runs to the first word outside parentheses that
    // starts a statement.
    auto condition = [](const std::string& text, const IfStatement& b) {
        return text.substr(b.conditionBegin, b.conditionEnd - b.conditionBegin);
    };
    sql = rewrite("if  @@TranCount=0 set NOEXEC on;UPDATE T SET a = 1");
    std::optional<IfStatement> branch = matchIf(sql, 0);
    ASSERT_TRUE(branch);
    EXPECT_EQ(condition(sql, *branch), "tds_trancount()=0");
    EXPECT_EQ(sql.substr(branch->statementBegin), "set NOEXEC on;UPDATE T SET a = 1");
    sql = rewrite(
        "IF @@TRANCOUNT > 0 AND ISNULL(SUBSTRING(CONTEXT_INFO(), 1, 4), 0x) <> 0x00000001\n"
        "  rollback TRANSACTION;\nIF @@TRANCOUNT = 0 SET NOEXEC ON;");
    branch = matchIf(sql, 0);
    ASSERT_TRUE(branch);
    EXPECT_EQ(condition(sql, *branch),
              "tds_trancount() > 0 AND ifnull(SUBSTRING(CONTEXT_INFO(), 1, 4), X'') <> "
              "X'00000001'");
    EXPECT_EQ(sql.substr(branch->statementBegin, 20), "rollback TRANSACTION");
    sql =
        "if exists (select 1 from T where a = 1) and case when b = 1 then 1 else 0 end = 1 "
        "delete from T";
    branch = matchIf(sql, 0);
    ASSERT_TRUE(branch);
    EXPECT_EQ(sql.substr(branch->statementBegin), "delete from T");
    for (const char* other : {"IF @@TRANCOUNT = 0", "IF SET NOEXEC ON", "IF a = 1; SET NOEXEC ON",
                              "IF (a = 1 SET NOEXEC ON)", "select 1"})
        EXPECT_FALSE(matchIf(other, 0)) << other;
}

TEST(Statements, LeadingWordsAndOneLineStatements) {
    std::string sql = "  /* c */ SET NOCOUNT ON\nselect 1; use x;";
    size_t start = skipBlank(sql, 0);
    EXPECT_EQ(sql.substr(start, 3), "SET");
    EXPECT_EQ(leadingWords(sql, start, 2), (std::vector<std::string>{"set", "nocount"}));
    size_t end = lineStatementEnd(sql, start);
    EXPECT_EQ(sql.substr(end, 8), "select 1");
    size_t use = sql.find("use");
    EXPECT_EQ(lineStatementEnd(sql, use), sql.size());
}

TEST(Names, StoredNamesSplitIntoOwnerAndName) {
    EXPECT_EQ(splitStoredName("sales.Orders"),
              (std::pair<std::string, std::string>{"sales", "Orders"}));
    EXPECT_EQ(splitStoredName("Orders"), (std::pair<std::string, std::string>{"dbo", "Orders"}));
}

TEST(Names, LikePatternsAsSpTablesUsesThem) {
    EXPECT_TRUE(likeMatch("%", "anything"));
    EXPECT_TRUE(likeMatch("cust%", "Customers"));
    EXPECT_TRUE(likeMatch("c_st%rs", "customers"));
    EXPECT_FALSE(likeMatch("cust", "customers"));
    EXPECT_FALSE(likeMatch("%x", "customers"));
    EXPECT_TRUE(likeMatch("%o%e%", "Orders2024"));
}

// RPC payload helpers: name, flags, then parameters.
void nvarcharParam(ByteBuffer& b, std::string_view name, std::string_view value) {
    b.bVarchar(name);
    b.u8(0);
    size_t bytes = 2 * utf16Length(value);
    b.u8(0xE7);
    b.u16le(uint16_t(bytes));
    const uint8_t collation[] = {0x09, 0x04, 0xD0, 0x00, 0x34};
    b.write(collation, 5);
    b.u16le(uint16_t(bytes));
    b.utf16(value);
}

TEST(Rpc, ReadsProcedureNamesAndParameters) {
    ByteBuffer b;
    b.usVarchar("[testdb]..sp_tables");
    b.u16le(0);
    nvarcharParam(b, "@table_name", "Ord%");
    nvarcharParam(b, "@table_type", "'TABLE','VIEW'");
    RpcRequest req = parseRpc(b.data().data(), b.size());
    EXPECT_EQ(req.name, "[testdb]..sp_tables");
    ASSERT_EQ(req.params.size(), 2u);
    EXPECT_EQ(req.params[0].name, "@table_name");
    EXPECT_EQ(req.params[0].bytes, "Ord%");
    EXPECT_EQ(req.params[1].bytes, "'TABLE','VIEW'");
}

TEST(Rpc, ReadsPrepexecWithIntNtextAndNulls) {
    ByteBuffer b;
    b.u16le(0xFFFF);
    b.u16le(13);
    b.u16le(0);
    // handle: INTN output, NULL
    b.bVarchar("");
    b.u8(1);
    b.u8(0x26);
    b.u8(4);
    b.u8(0);
    // declarations: NTEXT NULL
    b.bVarchar("");
    b.u8(0);
    b.u8(0x63);
    b.u32le(0x7FFFFFFF);
    const uint8_t collation[] = {0x09, 0x04, 0xD0, 0x00, 0x34};
    b.write(collation, 5);
    b.u32le(0xFFFFFFFF);
    // statement: NTEXT
    b.bVarchar("");
    b.u8(0);
    b.u8(0x63);
    b.u32le(0x7FFFFFFF);
    b.write(collation, 5);
    b.u32le(2 * 8);
    b.utf16("select 1");
    // a value: INTN 4 = -5
    b.bVarchar("@P1");
    b.u8(0);
    b.u8(0x26);
    b.u8(4);
    b.u8(4);
    b.i32le(-5);
    RpcRequest req = parseRpc(b.data().data(), b.size());
    EXPECT_EQ(req.procId, 13);
    EXPECT_EQ(req.name, "sp_prepexec");
    ASSERT_EQ(req.params.size(), 4u);
    EXPECT_TRUE(req.params[0].output);
    EXPECT_EQ(req.params[0].storage, Storage::Null);
    EXPECT_EQ(req.params[1].storage, Storage::Null);
    EXPECT_EQ(req.params[2].bytes, "select 1");
    EXPECT_EQ(req.params[3].storage, Storage::Integer);
    EXPECT_EQ(req.params[3].integer, -5);
}

TEST(Rpc, RejectsTruncatedAndUnknownParameters) {
    ByteBuffer b;
    b.usVarchar("sp_x");
    b.u16le(0);
    b.bVarchar("@p");
    b.u8(0);
    b.u8(0xF1);  // xml: not read by this server
    EXPECT_THROW(parseRpc(b.data().data(), b.size()), UnsupportedParameter);

    ByteBuffer t;
    t.usVarchar("sp_x");
    t.u16le(0);
    nvarcharParam(t, "@p", "abcdef");
    EXPECT_THROW(parseRpc(t.data().data(), t.size() - 3), ProtocolError);
}

TEST(Rpc, AllHeadersAreSkippedByTheirLength) {
    std::vector<uint8_t> payload = {0x16, 0, 0, 0, 0x12, 0, 0, 0, 2, 0, 0,   0,
                                    0,    0, 0, 0, 0,    0, 1, 0, 0, 0, 'x', 0};
    EXPECT_EQ(skipAllHeaders(payload), 22u);
    payload[0] = 0x40;
    EXPECT_THROW(skipAllHeaders(payload), ProtocolError);
}

TEST(Rpc, DatesPrintFromDayCounts) {
    EXPECT_EQ(dateText(0), "0001-01-01");
    EXPECT_EQ(dateText(738944), "2024-02-29");
    EXPECT_EQ(dateText(daysSinceYearOne(9999, 12, 31)), "9999-12-31");
}

}  // namespace
