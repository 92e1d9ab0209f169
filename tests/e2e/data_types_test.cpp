// Every SQL Server type the program meets, through unixODBC and FreeTDS into
// the columnar result: kind, ODBC type and value as stored.

#include <gtest/gtest.h>

#include <QString>

#include "DataAccess.h"
#include "OdbcHandles.h"
#include "data_server.h"

using namespace data;
using data_e2e::openConnection;
using data_e2e::uniqueName;

namespace {

class Types : public ::testing::Test {
protected:
    void TearDown() override {
        conn.reset();
        EXPECT_EQ(odbc::liveHandles(SQL_HANDLE_DBC).load(), 0);
        EXPECT_EQ(odbc::liveHandles(SQL_HANDLE_STMT).load(), 0);
    }
    // Creates a one-column table, inserts the literals (one row each, in
    // order) and reads it back whole.
    ResultTable roundTrip(const QString& type, const QStringList& literals) {
        if (!conn) conn = openConnection();
        const QString t = uniqueName("types");
        conn->Execute(QStringLiteral("create table %1 (v %2)").arg(t, type));
        for (const QString& l : literals) {
            conn->Execute(QStringLiteral("insert into %1 (v) values (%2)").arg(t, l));
        }
        ResultTable r = conn->FetchQuery("select * from " + t);
        EXPECT_EQ(r.fieldCount(), 1);
        EXPECT_EQ(r.rowCount(), static_cast<std::size_t>(literals.size()));
        EXPECT_EQ(r.column(0).name(), "v");
        return r;
    }
    std::unique_ptr<Connection> conn;
};

__int128 exact(const char* digits) {
    __int128 v = 0;
    bool negative = *digits == '-';
    for (const char* p = digits + (negative ? 1 : 0); *p; ++p) v = v * 10 + (*p - '0');
    return negative ? -v : v;
}

TEST_F(Types, IntegersOfEverySize) {
    struct Case {
        const char* type;
        int sqlType;
        std::int64_t low, high;
    };
    for (const Case& c :
         {Case{"tinyint", SQL_TINYINT, 0, 255}, Case{"smallint", SQL_SMALLINT, -32768, 32767},
          Case{"int", SQL_INTEGER, -2147483648LL, 2147483647},
          Case{"bigint", SQL_BIGINT, INT64_MIN + 1, INT64_MAX}}) {
        const ResultTable r =
            roundTrip(c.type, {QString::number(c.low), QString::number(c.high), "NULL", "0"});
        SCOPED_TRACE(c.type);
        EXPECT_EQ(r.column(0).kind(), ValueKind::Integer);
        EXPECT_EQ(r.column(0).sqlType(), c.sqlType);
        EXPECT_EQ(r.value(0, 0).asInteger(), c.low);
        EXPECT_EQ(r.value(0, 1).asInteger(), c.high);
        EXPECT_TRUE(r.value(0, 2).isNull());
        EXPECT_FALSE(r.value(0, 3).isNull());
        EXPECT_EQ(r.value(0, 3).asInteger(), 0);
    }
}

// The test server keeps decimals in SQLite as doubles, so the values here have
// at most 15 significant digits; 38-digit parsing is covered by the unit tests.
TEST_F(Types, ExactNumbersKeepEveryDigit) {
    ResultTable r = roundTrip("decimal(38,10)", {"-12345.0123456789", "0.5", "NULL"});
    EXPECT_EQ(r.column(0).kind(), ValueKind::Decimal);
    EXPECT_EQ(r.column(0).sqlType(), SQL_NUMERIC);
    EXPECT_TRUE(r.value(0, 0).unscaled() == exact("-123450123456789"));
    EXPECT_EQ(r.value(0, 0).scale(), 10);
    EXPECT_TRUE(r.value(0, 1).unscaled() == 5'000'000'000);
    EXPECT_TRUE(r.value(0, 2).isNull());

    r = roundTrip("numeric(5,0)", {"-99999", "7"});
    EXPECT_EQ(r.column(0).kind(), ValueKind::Decimal);
    EXPECT_TRUE(r.value(0, 0).unscaled() == -99999);
    EXPECT_EQ(r.value(0, 0).scale(), 0);

    r = roundTrip("money", {"-92233720368.5477", "15", "NULL"});
    EXPECT_EQ(r.column(0).kind(), ValueKind::Currency);
    EXPECT_TRUE(r.value(0, 0).unscaled() == exact("-922337203685477"));
    EXPECT_EQ(r.value(0, 0).scale(), 4);
    EXPECT_TRUE(r.value(0, 1).unscaled() == 150000);
    EXPECT_TRUE(r.value(0, 2).isNull());

    r = roundTrip("smallmoney", {"214748.3647", "-0.0001"});
    EXPECT_EQ(r.column(0).kind(), ValueKind::Currency);
    EXPECT_TRUE(r.value(0, 0).unscaled() == 2147483647);
    EXPECT_TRUE(r.value(0, 1).unscaled() == -1);
}

TEST_F(Types, FloatsAndBits) {
    ResultTable r = roundTrip("float", {"3.141592653589793", "-1e300", "NULL"});
    EXPECT_EQ(r.column(0).kind(), ValueKind::Float);
    EXPECT_EQ(r.column(0).sqlType(), SQL_DOUBLE);
    EXPECT_EQ(r.value(0, 0).asFloat(), 3.141592653589793);
    EXPECT_EQ(r.value(0, 1).asFloat(), -1e300);
    EXPECT_TRUE(r.value(0, 2).isNull());

    r = roundTrip("real", {"1.5", "0.1"});
    EXPECT_EQ(r.column(0).sqlType(), SQL_REAL);
    EXPECT_EQ(r.value(0, 0).asFloat(), 1.5);
    EXPECT_EQ(r.value(0, 1).asFloat(), static_cast<double>(0.1f));

    r = roundTrip("bit", {"1", "0", "NULL"});
    EXPECT_EQ(r.column(0).kind(), ValueKind::Bit);
    EXPECT_TRUE(r.value(0, 0).asBit());
    EXPECT_FALSE(r.value(0, 1).asBit());
    EXPECT_FALSE(r.value(0, 1).isNull());
    EXPECT_TRUE(r.value(0, 2).isNull());
}

TEST_F(Types, DatesAndTimes) {
    constexpr std::int64_t kSecond = 10'000'000;
    const auto at = [](int h, int m, int s) { return ((h * 60LL + m) * 60 + s) * kSecond; };
    using P = DateTimeValue::Parts;
    const std::uint8_t both = P::HasDate | P::HasTime;

    ResultTable r = roundTrip("date", {"'0001-01-01'", "'2024-02-29'", "NULL"});
    EXPECT_EQ(r.column(0).kind(), ValueKind::DateTime);
    EXPECT_EQ(r.value(0, 0).asDateTime(), (DateTimeValue{0, 0, P::HasDate}));
    EXPECT_EQ(r.value(0, 1).asDateTime(), (DateTimeValue{738'944, 0, P::HasDate}));
    EXPECT_TRUE(r.value(0, 2).isNull());

    r = roundTrip("time", {"'23:59:59.1234567'", "'00:00:00'"});
    EXPECT_EQ(r.column(0).sqlType(), -154);
    EXPECT_EQ(r.value(0, 0).asDateTime(),
              (DateTimeValue{0, at(23, 59, 59) + 1'234'567, P::HasTime}));
    EXPECT_EQ(r.value(0, 1).asDateTime(), (DateTimeValue{0, 0, P::HasTime}));

    r = roundTrip("datetime", {"'2024-02-29 13:45:30.997'"});
    EXPECT_EQ(r.column(0).sqlType(), SQL_TYPE_TIMESTAMP);
    EXPECT_EQ(r.value(0, 0).asDateTime(),
              (DateTimeValue{738'944, at(13, 45, 30) + 9'970'000, both}));

    r = roundTrip("datetime2", {"'9999-12-31 23:59:59.9999999'"});
    EXPECT_EQ(r.value(0, 0).asDateTime(),
              (DateTimeValue{3'652'058, at(23, 59, 59) + 9'999'999, both}));

    r = roundTrip("smalldatetime", {"'2024-01-02 03:04:00'"});
    EXPECT_EQ(r.value(0, 0).asDateTime(), (DateTimeValue{738'886, at(3, 4, 0), both}));
}

TEST_F(Types, TextsKeepNullEmptyBlanksAndNonAscii) {
    ResultTable r = roundTrip("nvarchar(50)", {"N'Grüße ✓ 日本'", "N''", "NULL", "N'a  '"});
    EXPECT_EQ(r.column(0).kind(), ValueKind::Text);
    EXPECT_EQ(r.column(0).sqlType(), SQL_WVARCHAR);
    EXPECT_EQ(r.value(0, 0).asText(), QStringView(u"Grüße ✓ 日本"));
    EXPECT_FALSE(r.value(0, 1).isNull());
    EXPECT_TRUE(r.value(0, 1).asText().isEmpty());
    EXPECT_TRUE(r.value(0, 2).isNull());
    EXPECT_EQ(r.value(0, 3).asText(), QStringView(u"a  "));

    r = roundTrip("varchar(20)", {"'café'", "''", "NULL"});
    EXPECT_EQ(r.column(0).sqlType(), SQL_VARCHAR);
    EXPECT_EQ(r.value(0, 0).asText(), QStringView(u"café"));
    EXPECT_TRUE(r.value(0, 1).asText().isEmpty());
    EXPECT_FALSE(r.value(0, 1).isNull());
    EXPECT_TRUE(r.value(0, 2).isNull());

    r = roundTrip("char(4)", {"'ab'"});
    EXPECT_EQ(r.column(0).sqlType(), SQL_CHAR);
    EXPECT_EQ(r.value(0, 0).asText(), QStringView(u"ab  "));

    r = roundTrip("nchar(3)", {"N'é'"});
    EXPECT_EQ(r.column(0).sqlType(), SQL_WCHAR);
    EXPECT_EQ(r.value(0, 0).asText(), QStringView(u"é  "));

    r = roundTrip("uniqueidentifier", {"'6F9619FF-8B86-D011-B42D-00C04FC964FF'", "NULL"});
    EXPECT_EQ(r.column(0).kind(), ValueKind::Text);
    EXPECT_EQ(r.column(0).sqlType(), SQL_GUID);
    EXPECT_EQ(r.value(0, 0).asText(), QStringView(u"6F9619FF-8B86-D011-B42D-00C04FC964FF"));
    EXPECT_TRUE(r.value(0, 1).isNull());
}

TEST_F(Types, LongTextsComeWholeInPieces) {
    QString big;
    for (int i = 0; i < 100'000; ++i) big += QChar(static_cast<char16_t>(u'a' + i % 26));
    const QString wide = big.left(50'000) + QStringLiteral("✓日本") + big.left(50'000);
    ResultTable r = roundTrip("nvarchar(max)", {"N'" + wide + "'", "N''", "NULL", "N'short'"});
    EXPECT_EQ(r.column(0).kind(), ValueKind::Text);
    EXPECT_EQ(r.value(0, 0).asText().size(), wide.size());
    EXPECT_TRUE(r.value(0, 0).asText() == wide);
    EXPECT_TRUE(r.value(0, 1).asText().isEmpty());
    EXPECT_FALSE(r.value(0, 1).isNull());
    EXPECT_TRUE(r.value(0, 2).isNull());
    EXPECT_EQ(r.value(0, 3).asText(), QStringView(u"short"));

    r = roundTrip("varchar(max)", {"'" + big + "'", "NULL"});
    EXPECT_TRUE(r.value(0, 0).asText() == big);
    EXPECT_TRUE(r.value(0, 1).isNull());
}

TEST_F(Types, BytesShortAndLong) {
    ResultTable r = roundTrip("varbinary(10)", {"0x00FF10", "zeroblob(0)", "NULL"});
    EXPECT_EQ(r.column(0).kind(), ValueKind::Bytes);
    EXPECT_EQ(r.column(0).sqlType(), SQL_VARBINARY);
    EXPECT_EQ(r.value(0, 0).asBytes(), QByteArrayView("\x00\xff\x10", 3));
    EXPECT_TRUE(r.value(0, 1).asBytes().isEmpty());
    EXPECT_FALSE(r.value(0, 1).isNull());
    EXPECT_TRUE(r.value(0, 2).isNull());

    r = roundTrip("binary(4)", {"0x0102"});
    EXPECT_EQ(r.column(0).sqlType(), SQL_BINARY);
    EXPECT_EQ(r.value(0, 0).asBytes(), QByteArrayView("\x01\x02\x00\x00", 4));

    QByteArray blob(100'000, '\0');
    for (int i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>(i * 7);
    r = roundTrip("varbinary(max)", {"0x" + QString::fromLatin1(blob.toHex()), "NULL"});
    EXPECT_TRUE(r.value(0, 0).asBytes() == QByteArrayView(blob));
    EXPECT_TRUE(r.value(0, 1).isNull());
}

}  // namespace
