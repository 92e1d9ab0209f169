// How stored values travel: type mapping, exact decimals, money, dates, GUIDs, text.
#include <gtest/gtest.h>

#include "Values.h"

namespace {

using namespace tds;
using Bytes = std::vector<uint8_t>;

ColumnType type(const char* declared) {
    std::optional<ColumnType> t = parseDeclaredType(declared);
    EXPECT_TRUE(t.has_value()) << declared;
    return t.value_or(ColumnType{});
}

SqlValue text(std::string_view s) { return {Storage::Text, 0, 0, s}; }
SqlValue integer(int64_t v) { return {Storage::Integer, v, 0, {}}; }
SqlValue real(double v) { return {Storage::Real, 0, v, {}}; }

Bytes encode(const char* declared, const SqlValue& v) {
    ByteBuffer out;
    std::optional<ConversionError> error = encodeValue(out, type(declared), v);
    EXPECT_FALSE(error.has_value()) << declared << ": " << (error ? error->message : "");
    return out.data();
}

int failure(const char* declared, const SqlValue& v) {
    ByteBuffer out;
    std::optional<ConversionError> error = encodeValue(out, type(declared), v);
    EXPECT_TRUE(out.data().empty()) << "nothing may be written on failure";
    return error ? error->number : 0;
}

Bytes typeInfo(const char* declared) {
    ByteBuffer out;
    writeTypeInfo(out, type(declared));
    return out.data();
}

TEST(DeclaredTypes, MapToTheSqlServerWireTypes) {
    EXPECT_EQ(typeInfo("int"), (Bytes{0x26, 4}));
    EXPECT_EQ(typeInfo("BIGINT"), (Bytes{0x26, 8}));
    EXPECT_EQ(typeInfo("int identity(1,1)"), (Bytes{0x26, 4}));
    EXPECT_EQ(typeInfo("bit"), (Bytes{0x68, 1}));
    EXPECT_EQ(typeInfo("decimal(10,2)"), (Bytes{0x6A, 9, 10, 2}));
    EXPECT_EQ(typeInfo("numeric(38,4)"), (Bytes{0x6C, 17, 38, 4}));
    EXPECT_EQ(typeInfo("decimal"), (Bytes{0x6A, 9, 18, 0}));
    EXPECT_EQ(typeInfo("smallmoney"), (Bytes{0x6E, 4}));
    EXPECT_EQ(typeInfo("float(24)"), (Bytes{0x6D, 4}));
    EXPECT_EQ(typeInfo("float"), (Bytes{0x6D, 8}));
    EXPECT_EQ(typeInfo("date"), (Bytes{0x28}));
    EXPECT_EQ(typeInfo("time(3)"), (Bytes{0x29, 3}));
    EXPECT_EQ(typeInfo("datetime2"), (Bytes{0x2A, 7}));
    EXPECT_EQ(typeInfo("smalldatetime"), (Bytes{0x6F, 4}));
    EXPECT_EQ(typeInfo("nvarchar(10)"), (Bytes{0xE7, 20, 0, 0x09, 0x04, 0xD0, 0x00, 0x34}));
    EXPECT_EQ(typeInfo("nvarchar(-1)"), (Bytes{0xE7, 0xFF, 0xFF, 0x09, 0x04, 0xD0, 0x00, 0x34}));
    EXPECT_EQ(typeInfo("varchar(max)"), (Bytes{0xA7, 0xFF, 0xFF, 0x09, 0x04, 0xD0, 0x00, 0x34}));
    EXPECT_EQ(typeInfo("char"), (Bytes{0xAF, 1, 0, 0x09, 0x04, 0xD0, 0x00, 0x34}));
    EXPECT_EQ(typeInfo("binary(4)"), (Bytes{0xAD, 4, 0}));
    EXPECT_EQ(typeInfo("varbinary(max)"), (Bytes{0xA5, 0xFF, 0xFF}));
    EXPECT_EQ(typeInfo("uniqueidentifier"), (Bytes{0x24, 16}));
    EXPECT_FALSE(parseDeclaredType("geography").has_value());
    EXPECT_FALSE(parseDeclaredType("decimal(40,2)").has_value());
}

TEST(DeclaredTypes, ExpressionsFollowTheStoredValue) {
    EXPECT_EQ(typeForStorage(Storage::Integer), type("bigint"));
    EXPECT_EQ(typeForStorage(Storage::Real), type("float"));
    EXPECT_EQ(typeForStorage(Storage::Text), type("nvarchar(max)"));
    EXPECT_EQ(typeForStorage(Storage::Blob), type("varbinary(max)"));
}

TEST(Nulls, UseTheMarkerOfEachTypeFamily) {
    EXPECT_EQ(encode("int", {}), (Bytes{0}));
    EXPECT_EQ(encode("decimal(10,2)", {}), (Bytes{0}));
    EXPECT_EQ(encode("nvarchar(10)", {}), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(encode("nvarchar(max)", {}), (Bytes(8, 0xFF)));
}

TEST(Integers, CheckRangesAndConvertText) {
    EXPECT_EQ(encode("int", integer(-2)), (Bytes{4, 0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(encode("tinyint", text(" 42 ")), (Bytes{1, 42}));
    EXPECT_EQ(encode("smallint", real(-3.9)), (Bytes{2, 0xFD, 0xFF}));
    EXPECT_EQ(failure("tinyint", integer(256)), 8115);
    EXPECT_EQ(failure("int", integer(int64_t(1) << 31)), 8115);
    EXPECT_EQ(failure("int", text("abc")), 245);
    EXPECT_EQ(encode("bit", text("TRUE")), (Bytes{1, 1}));
    EXPECT_EQ(encode("bit", integer(7)), (Bytes{1, 1}));
    EXPECT_EQ(failure("bit", text("maybe")), 245);
}

TEST(Decimals, AreExactAtTheDeclaredScale) {
    EXPECT_EQ(encode("decimal(5,2)", text("123.456")), (Bytes{5, 1, 0x3A, 0x30, 0, 0}));      // 12346
    EXPECT_EQ(encode("decimal(5,2)", text("-0.005")), (Bytes{5, 0, 1, 0, 0, 0}));             // -0.01
    EXPECT_EQ(encode("decimal(5,2)", text("-0.004")), (Bytes{5, 1, 0, 0, 0, 0}));             // 0, not -0
    EXPECT_EQ(encode("decimal(10,2)", integer(7)), (Bytes{9, 1, 0xBC, 0x02, 0, 0, 0, 0, 0, 0}));  // 700
    EXPECT_EQ(encode("decimal(10,2)", text("1.5e2")), (Bytes{9, 1, 0x98, 0x3A, 0, 0, 0, 0, 0, 0}));  // 15000
    // A double: its shortest spelling is what was inserted, so 2.675 rounds up.
    EXPECT_EQ(encode("decimal(5,2)", real(2.675)), (Bytes{5, 1, 0x0C, 0x01, 0, 0}));  // 268
    EXPECT_EQ(encode("decimal(5,2)", real(0.1)), (Bytes{5, 1, 10, 0, 0, 0}));
    // 38 nines need all 16 bytes and survive exactly from text.
    Bytes nines = encode("decimal(38,0)", text("99999999999999999999999999999999999999"));
    ASSERT_EQ(nines.size(), 18u);
    unsigned __int128 v = 0;
    for (int k = 17; k >= 2; --k) v = (v << 8) | nines[size_t(k)];
    unsigned __int128 expected = 0;
    for (int k = 0; k < 38; ++k) expected = expected * 10 + 9;
    EXPECT_TRUE(v == expected);
    EXPECT_EQ(failure("decimal(5,2)", text("1000")), 8115);
    EXPECT_EQ(failure("decimal(5,2)", text("12a")), 8114);
}

TEST(Decimals, ParseScaledRoundsHalfAwayFromZero) {
    Scaled s;
    ASSERT_TRUE(parseScaled("2.5", 0, s));
    EXPECT_TRUE(s.magnitude == 3 && !s.negative);
    ASSERT_TRUE(parseScaled("-2.5", 0, s));
    EXPECT_TRUE(s.magnitude == 3 && s.negative);
    ASSERT_TRUE(parseScaled("0.00049", 3, s));
    EXPECT_TRUE(s.magnitude == 0);
    EXPECT_FALSE(parseScaled("", 2, s));
    EXPECT_FALSE(parseScaled("1e", 2, s));
    EXPECT_FALSE(parseScaled("1e40", 0, s));
}

TEST(Money, TravelsAsTenThousandthsHighWordFirst) {
    EXPECT_EQ(encode("money", integer(15)), (Bytes{8, 0, 0, 0, 0, 0xF0, 0x49, 0x02, 0}));
    EXPECT_EQ(encode("money", text("-1.0001")), (Bytes{8, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0xD8, 0xFF, 0xFF}));
    EXPECT_EQ(encode("smallmoney", text("-214748.3648")), (Bytes{4, 0, 0, 0, 0x80}));
    EXPECT_EQ(failure("smallmoney", text("214748.3648")), 8115);
}

TEST(Dates, CountDaysAndTicksAsSqlServerDoes) {
    EXPECT_EQ(daysSinceYearOne(1, 1, 1), 0);
    EXPECT_EQ(daysSinceYearOne(2024, 2, 29), 738944);
    EXPECT_EQ(encode("date", text("2024-02-29")), (Bytes{3, 0x80, 0x46, 0x0B}));
    // 45349 days after 1900-01-01; 13:45:30 is 14859000 ticks, .997 adds 299.
    EXPECT_EQ(encode("datetime", text("2024-02-29 13:45:30.997")),
              (Bytes{8, 0x25, 0xB1, 0, 0, 0x23, 0xBC, 0xE2, 0}));
    EXPECT_EQ(encode("datetime", text("1899-12-31T23:59:59.999")), (Bytes{8, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(encode("datetime", text("1900-01-01")), (Bytes{8, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(encode("smalldatetime", text("1900-01-01 00:00:29.998")), (Bytes{4, 0, 0, 0, 0}));
    EXPECT_EQ(encode("smalldatetime", text("1900-01-01 00:00:29.999")), (Bytes{4, 0, 0, 1, 0}));
    EXPECT_EQ(failure("datetime", text("1752-12-31")), 242);
    EXPECT_EQ(failure("date", text("2023-02-29")), 241);
    EXPECT_EQ(failure("date", integer(5)), 241);
}

TEST(Dates, TimeAndDatetime2UseTheColumnScale) {
    // 13:45:30.1234567 = 495301234567 hundred-nanoseconds.
    EXPECT_EQ(encode("time", text("13:45:30.1234567")), (Bytes{5, 0x87, 0x0F, 0x41, 0x52, 0x73}));
    EXPECT_EQ(encode("time(0)", text("00:00:01.5")), (Bytes{3, 2, 0, 0}));
    EXPECT_EQ(encode("time(2)", text("2024-01-01")), (Bytes{3, 0, 0, 0}));
    // Rounding past midnight moves datetime2 to the next day.
    EXPECT_EQ(encode("datetime2(0)", text("0001-01-01 23:59:59.6")), (Bytes{6, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(failure("datetime2(0)", text("9999-12-31 23:59:59.6")), 242);
}

TEST(Guids, TravelWithTheFirstGroupsLittleEndian) {
    Bytes expected = {16, 0xFF, 0x19, 0x96, 0x6F, 0x86, 0x8B, 0x11, 0xD0,
                      0xB4, 0x2D, 0x00, 0xC0, 0x4F, 0xC9, 0x64, 0xFF};
    EXPECT_EQ(encode("uniqueidentifier", text("6F9619FF-8B86-D011-B42D-00C04FC964FF")), expected);
    EXPECT_EQ(encode("uniqueidentifier", text("{6f9619ff-8b86-d011-b42d-00c04fc964ff}")), expected);
    const char raw[] = "\x6F\x96\x19\xFF\x8B\x86\xD0\x11\xB4\x2D\x00\xC0\x4F\xC9\x64\xFF";
    EXPECT_EQ(encode("uniqueidentifier", {Storage::Blob, 0, 0, std::string_view(raw, 16)}), expected);
    EXPECT_EQ(failure("uniqueidentifier", text("6F9619FF-8B86")), 8169);
}

TEST(Text, CharactersUseCp1252OrUtf16AndTheDeclaredLength) {
    EXPECT_EQ(encode("varchar(10)", text("\xe2\x82\xac\xc3\xa9\xe2\x9c\x93")), (Bytes{3, 0, 0x80, 0xE9, '?'}));
    EXPECT_EQ(encode("char(4)", text("ab")), (Bytes{4, 0, 'a', 'b', ' ', ' '}));
    EXPECT_EQ(encode("nvarchar(3)", text("abcd")), (Bytes{6, 0, 'a', 0, 'b', 0, 'c', 0}));
    EXPECT_EQ(encode("nchar(2)", text("\xc3\xbc")), (Bytes{4, 0, 0xFC, 0, ' ', 0}));
    // A surrogate pair is never cut in half.
    EXPECT_EQ(encode("nvarchar(2)", text("a\xf0\x9d\x84\x9e")), (Bytes{2, 0, 'a', 0}));
    EXPECT_EQ(encode("binary(3)", text("\x01")), (Bytes{3, 0, 1, 0, 0}));
    EXPECT_EQ(encode("nvarchar(max)", text("")), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    Bytes plp = encode("varchar(max)", text("hi"));
    EXPECT_EQ(plp, (Bytes{2, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 'h', 'i', 0, 0, 0, 0}));
}

TEST(Text, LongValuesAreChunked) {
    std::string big(70000, 'x');
    Bytes plp = encode("varbinary(max)", {Storage::Blob, 0, 0, big});
    // total length, then chunks of 32768 + 32768 + 4464, then the terminator
    ASSERT_EQ(plp.size(), 8 + 3 * 4 + 70000 + 4u);
    EXPECT_EQ(plp[8] | plp[9] << 8 | plp[10] << 16, 32768);
    EXPECT_EQ(plp[8 + 4 + 32768 + 4 + 32768] | plp[8 + 4 + 32768 + 4 + 32768 + 1] << 8, 4464);
}

}  // namespace
