// How stored values travel: type mapping, exact decimals, money, dates, GUIDs, text.
#include "Values.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>

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
    EXPECT_EQ(encode("decimal(5,2)", text("123.456")), (Bytes{5, 1, 0x3A, 0x30, 0, 0}));  // 12346
    EXPECT_EQ(encode("decimal(5,2)", text("-0.005")), (Bytes{5, 0, 1, 0, 0, 0}));         // -0.01
    EXPECT_EQ(encode("decimal(5,2)", text("-0.004")), (Bytes{5, 1, 0, 0, 0, 0}));  // 0, not -0
    EXPECT_EQ(encode("decimal(10,2)", integer(7)),
              (Bytes{9, 1, 0xBC, 0x02, 0, 0, 0, 0, 0, 0}));  // 700
    EXPECT_EQ(encode("decimal(10,2)", text("1.5e2")),
              (Bytes{9, 1, 0x98, 0x3A, 0, 0, 0, 0, 0, 0}));  // 15000
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

// A stored double travels as its shortest spelling rounded at the scale; the
// encoder takes a shortcut without text when it can. Both ways must agree.
TEST(Decimals, DoublesTravelAsTheirShortestSpelling) {
    std::mt19937_64 rng(20240229);
    std::vector<double> values = {0.0,
                                  -0.0,
                                  2.675,
                                  -2.675,
                                  0.125,
                                  0.5,
                                  1.5,
                                  2.5,
                                  0.00005,
                                  0.00015,
                                  1e-5,
                                  9.99995,
                                  99999999999999.9999,
                                  4503599627370495.0,
                                  1e15,
                                  1e16,
                                  1e17,
                                  123456789.12345,
                                  0.1 + 0.2,
                                  1.0 / 3,
                                  std::nextafter(1.0, 2.0),
                                  std::nextafter(0.0001, 0.0),
                                  5e-324,
                                  1e300,
                                  -1e-300};
    for (int k = 0; k < 20000; ++k) {
        // Short decimals as SQLite stores them, and doubles of any bits.
        int64_t units = int64_t(rng() % 2000000000000ULL) - 1000000000000LL;
        values.push_back(double(units) / std::pow(10.0, double(rng() % 12)));
        double any;
        uint64_t bits = rng();
        std::memcpy(&any, &bits, 8);
        if (std::isfinite(any)) values.push_back(any);
        values.push_back(std::ldexp(double(rng() % (1ULL << 53)), int(rng() % 80) - 70));
    }
    for (const char* declared :
         {"decimal(38,0)", "decimal(18,4)", "decimal(38,10)", "decimal(5,2)", "money"}) {
        for (double d : values) {
            char chars[64];
            auto [end, ec] = std::to_chars(chars, chars + sizeof chars, d);
            std::string spelled(chars, end);
            ByteBuffer viaDouble, viaText;
            auto e1 = encodeValue(viaDouble, type(declared), real(d));
            auto e2 = encodeValue(viaText, type(declared), text(spelled));
            ASSERT_EQ(e1.has_value(), e2.has_value()) << declared << " " << spelled;
            if (e1) {
                EXPECT_EQ(e1->number, e2->number) << declared << " " << spelled;
            } else {
                ASSERT_EQ(viaDouble.data(), viaText.data()) << declared << " " << spelled;
            }
        }
    }
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
    EXPECT_EQ(encode("money", text("-1.0001")),
              (Bytes{8, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0xD8, 0xFF, 0xFF}));
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
    EXPECT_EQ(encode("datetime", text("1899-12-31T23:59:59.999")),
              (Bytes{8, 0, 0, 0, 0, 0, 0, 0, 0}));
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
    Bytes expected = {16,   0xFF, 0x19, 0x96, 0x6F, 0x86, 0x8B, 0x11, 0xD0,
                      0xB4, 0x2D, 0x00, 0xC0, 0x4F, 0xC9, 0x64, 0xFF};
    EXPECT_EQ(encode("uniqueidentifier", text("6F9619FF-8B86-D011-B42D-00C04FC964FF")), expected);
    EXPECT_EQ(encode("uniqueidentifier", text("{6f9619ff-8b86-d011-b42d-00c04fc964ff}")), expected);
    const char raw[] = "\x6F\x96\x19\xFF\x8B\x86\xD0\x11\xB4\x2D\x00\xC0\x4F\xC9\x64\xFF";
    EXPECT_EQ(encode("uniqueidentifier", {Storage::Blob, 0, 0, std::string_view(raw, 16)}),
              expected);
    EXPECT_EQ(failure("uniqueidentifier", text("6F9619FF-8B86")), 8169);
}

TEST(Text, CharactersUseCp1252OrUtf16AndTheDeclaredLength) {
    EXPECT_EQ(encode("varchar(10)", text("\xe2\x82\xac\xc3\xa9\xe2\x9c\x93")),
              (Bytes{3, 0, 0x80, 0xE9, '?'}));
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

// Texts are converted straight into the output; the reference is the
// conversion of the whole text, then cut and padded to the declared length.
TEST(Text, DirectConversionMatchesConvertingTheWholeText) {
    const std::string samples[] = {
        "",
        "a",
        "exactly8",
        "seventeen chars!!",
        "plain ASCII that is longer than forty characters, for the word loop",
        "caf\xc3\xa9 \xe2\x82\xac 12",               // 2- and 3-byte characters, CP1252 euro
        "abcdefgh\xc3\xbc",                          // non-ASCII right after a word
        "\xf0\x9d\x84\x9e clef",                     // a surrogate pair first
        "1234567\xf0\x9d\x84\x9e",                   // a pair across the 8-unit cut
        "\xe2\x9c\x93\xe2\x80\x9c\xc5\x93\xcb\x9c",  // CP1252 0x80..0x9F and unmapped
        "bad \x80 continuation",
        "cut \xe2\x82",  // truncated sequence at the end
        "overlong \xc0\xaf and surrogate \xed\xa0\x80",
        "\xff\xfe invalid lead bytes",
    };
    for (const std::string& sample : samples) {
        for (uint32_t n : {1u, 2u, 7u, 8u, 9u, 16u, 40u}) {
            for (const char* family : {"nvarchar", "nchar", "varchar", "char"}) {
                std::string declared = std::string(family) + "(" + std::to_string(n) + ")";
                Bytes expected;
                if (family[0] == 'n') {
                    std::u16string units = utf8ToUtf16(sample);
                    if (units.size() > n) {
                        units.resize(n);
                        if (units.back() >= 0xD800 && units.back() < 0xDC00) units.pop_back();
                    }
                    if (family[1] == 'c') units.resize(n, u' ');
                    expected = {uint8_t(units.size() * 2), uint8_t(units.size() * 2 >> 8)};
                    for (char16_t u : units) {
                        expected.push_back(uint8_t(u));
                        expected.push_back(uint8_t(u >> 8));
                    }
                } else {
                    std::string bytes = utf8ToCp1252(sample);
                    if (bytes.size() > n) bytes.resize(n);
                    if (family[0] == 'c') bytes.resize(n, ' ');
                    expected = {uint8_t(bytes.size()), uint8_t(bytes.size() >> 8)};
                    expected.insert(expected.end(), bytes.begin(), bytes.end());
                }
                EXPECT_EQ(encode(declared.c_str(), text(sample)), expected)
                    << declared << " <- " << sample;
            }
        }
        // (max): the whole text, in one chunk.
        std::u16string units = utf8ToUtf16(sample);
        std::string narrow = utf8ToCp1252(sample);
        Bytes wide = encode("nvarchar(max)", text(sample));
        Bytes plain = encode("varchar(max)", text(sample));
        ASSERT_EQ(wide.size(), units.empty() ? 12u : 16u + 2 * units.size()) << sample;
        ASSERT_EQ(plain.size(), narrow.empty() ? 12u : 16u + narrow.size()) << sample;
        if (!narrow.empty()) {
            EXPECT_EQ(std::string(plain.begin() + 12, plain.end() - 4), narrow) << sample;
        }
        for (size_t k = 0; k < units.size(); ++k) {
            EXPECT_EQ(char16_t(wide[12 + 2 * k] | wide[13 + 2 * k] << 8), units[k])
                << sample << " unit " << k;
        }
    }
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
