#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>
#include <cmath>
#include <limits>
#include <vector>

#include "ResultTable.h"
#include "TestValues.h"
#include "ValueRules.h"
#include "ValueText.h"

using compare::ValuesDiffer;
using data::FieldValue;
using namespace testvalues;

namespace {

// Both orders, so that no rule depends on which table a value came from.
void ExpectSame(const FieldValue& a, const FieldValue& b) {
    EXPECT_FALSE(ValuesDiffer(a, b));
    EXPECT_FALSE(ValuesDiffer(b, a));
}

void ExpectDiffer(const FieldValue& a, const FieldValue& b) {
    EXPECT_TRUE(ValuesDiffer(a, b));
    EXPECT_TRUE(ValuesDiffer(b, a));
}

}  // namespace

TEST(ValuesDifferNumbers, FiveIsFiveInEveryKind) {
    const std::vector<FieldValue> fives = {
        FieldValue::integer(5),
        FieldValue::decimal(500, 2),
        FieldValue::decimal(5, 0),
        FieldValue::currency(50000),
        FieldValue::floating(5.0),
        FieldValue::decimal(I128("50000000000000000000000000000000000000"), 37)};
    for (const FieldValue& a : fives) {
        for (const FieldValue& b : fives) ExpectSame(a, b);
    }
    ExpectDiffer(FieldValue::integer(5), FieldValue::decimal(501, 2));
    ExpectDiffer(FieldValue::currency(50001), FieldValue::decimal(5, 0));
    ExpectDiffer(FieldValue::integer(5), FieldValue::integer(6));
    ExpectDiffer(FieldValue::floating(5.0), FieldValue::currency(49999));
}

TEST(ValuesDifferNumbers, ThirtyEightDigitDecimalsCompareExactly) {
    const __int128 big = I128("12345678901234567890123456789012345678");
    ExpectSame(FieldValue::decimal(big, 10), FieldValue::decimal(big, 10));
    ExpectDiffer(FieldValue::decimal(big, 10), FieldValue::decimal(big + 1, 10));
    ExpectDiffer(FieldValue::decimal(-big, 0), FieldValue::decimal(-big - 1, 0));
    // Same digits read at another scale are another value.
    ExpectDiffer(FieldValue::decimal(big, 10), FieldValue::decimal(big, 11));
}

TEST(ValuesDifferNumbers, ScalesAreAlignedWithoutOverflow) {
    const __int128 nines = I128("99999999999999999999999999999999999999");
    const __int128 tenTo38 = I128("100000000000000000000000000000000000000");
    ExpectSame(FieldValue::integer(1), FieldValue::decimal(tenTo38, 38));
    ExpectSame(FieldValue::decimal(0, 0), FieldValue::decimal(0, 38));
    ExpectSame(FieldValue::decimal(-12, 1), FieldValue::decimal(-1200000000, 9));
    // Bringing these to the other's scale would overflow 128 bits: they still differ.
    ExpectDiffer(FieldValue::decimal(nines, 0), FieldValue::decimal(nines, 38));
    ExpectDiffer(FieldValue::decimal(-nines, 1), FieldValue::decimal(-nines, 37));
    ExpectDiffer(FieldValue::integer(std::numeric_limits<std::int64_t>::max()),
                 FieldValue::decimal(nines, 20));
    // A product that wraps around 128 bits must not pass for the other value.
    const __int128 wrapped = static_cast<__int128>(static_cast<unsigned __int128>(nines) *
                                                   static_cast<unsigned __int128>(tenTo38));
    ExpectDiffer(FieldValue::decimal(nines, 0), FieldValue::decimal(wrapped, 38));
    // The extremes of bigint, brought to scale 19.
    const __int128 minTimes1e19 = static_cast<__int128>(std::numeric_limits<std::int64_t>::min()) *
                                  I128("10000000000000000000");
    ExpectSame(FieldValue::integer(std::numeric_limits<std::int64_t>::min()),
               FieldValue::decimal(minTimes1e19, 19));
    ExpectDiffer(FieldValue::integer(std::numeric_limits<std::int64_t>::min()),
                 FieldValue::decimal(minTimes1e19 + 1, 19));
    // Scales beyond what SQL Server allows stay correct rather than wrap.
    ExpectSame(FieldValue::decimal(0, 0), FieldValue::decimal(0, 60));
    ExpectDiffer(FieldValue::decimal(1, 0), FieldValue::decimal(1, 60));
}

TEST(ValuesDifferNumbers, NegativeValues) {
    ExpectSame(FieldValue::integer(-5), FieldValue::decimal(-500, 2));
    ExpectSame(FieldValue::currency(-1), FieldValue::decimal(-1, 4));
    ExpectSame(FieldValue::decimal(-12345, 3), FieldValue::floating(-12.345));
    ExpectDiffer(FieldValue::integer(-5), FieldValue::decimal(500, 2));
    ExpectDiffer(FieldValue::floating(-1.5), FieldValue::floating(1.5));
    ExpectDiffer(FieldValue::currency(-1), FieldValue::currency(1));
}

TEST(ValuesDifferNumbers, BitIsOneOrZero) {
    ExpectSame(FieldValue::bit(true), FieldValue::integer(1));
    ExpectSame(FieldValue::bit(false), FieldValue::integer(0));
    ExpectSame(FieldValue::bit(true), FieldValue::decimal(100, 2));
    ExpectSame(FieldValue::bit(true), FieldValue::floating(1.0));
    ExpectSame(FieldValue::bit(false), FieldValue::currency(0));
    ExpectDiffer(FieldValue::bit(true), FieldValue::integer(0));
    ExpectDiffer(FieldValue::bit(false), FieldValue::integer(1));
    ExpectDiffer(FieldValue::bit(true), FieldValue::integer(2));
    ExpectDiffer(FieldValue::bit(true), FieldValue::bit(false));
    ExpectSame(FieldValue::bit(true), FieldValue::bit(true));
}

TEST(ValuesDifferNumbers, FloatAgainstExactComparesAsDouble) {
    ExpectSame(FieldValue::floating(0.1), FieldValue::decimal(1, 1));
    ExpectSame(FieldValue::floating(0.3), FieldValue::decimal(3, 1));
    ExpectDiffer(FieldValue::floating(0.1 + 0.2), FieldValue::decimal(3, 1));
    // 0.10000000000000001 and 0.1 are the same double.
    ExpectSame(FieldValue::floating(0.1), FieldValue::decimal(I128("10000000000000001"), 17));
    // Too many digits for the quick conversion: still correctly rounded.
    const __int128 big = I128("12345678901234567890123456789012345678");
    const double nearest = 12345678.901234567890123456789012345678;
    ExpectSame(FieldValue::floating(nearest), FieldValue::decimal(big, 30));
    ExpectDiffer(FieldValue::floating(std::nextafter(nearest, 0.0)), FieldValue::decimal(big, 30));
    // Dividing the rounded digits by a rounded power of ten would give 69716160.795567572.
    ExpectSame(FieldValue::floating(69716160.795567557),
               FieldValue::decimal(I128("69716160795567564209287083703548263022"), 30));
    ExpectDiffer(FieldValue::floating(69716160.795567572),
                 FieldValue::decimal(I128("69716160795567564209287083703548263022"), 30));
    // 20 digits are more than a double holds exactly, even at a small scale.
    ExpectSame(FieldValue::floating(8002.5819203408846),
               FieldValue::decimal(I128("80025819203408850162"), 16));
    ExpectDiffer(FieldValue::floating(8002.5819203408855),
                 FieldValue::decimal(I128("80025819203408850162"), 16));
    ExpectSame(FieldValue::floating(-1e18), FieldValue::integer(-1'000'000'000'000'000'000));
    // Against a float, a bigint is only as precise as a double.
    ExpectSame(FieldValue::floating(9007199254740992.0), FieldValue::integer(9007199254740993));
    ExpectSame(FieldValue::floating(2.5), FieldValue::floating(2.5));
    ExpectDiffer(FieldValue::floating(2.5), FieldValue::floating(2.25));
    ExpectSame(FieldValue::floating(0.0), FieldValue::floating(-0.0));
}

TEST(ValuesDifferDates, DatesArePointsInTime) {
    ExpectSame(DateOnly(2024, 3, 7), DateTime(2024, 3, 7, 0, 0, 0));
    ExpectDiffer(DateOnly(2024, 3, 7), DateTime(2024, 3, 7, 0, 0, 0, 1));
    ExpectDiffer(DateOnly(2024, 3, 7), DateOnly(2024, 3, 8));
    ExpectSame(DateTime(2024, 3, 7, 13, 4, 5, 1234567), DateTime(2024, 3, 7, 13, 4, 5, 1234567));
    // 100 ns apart.
    ExpectDiffer(DateTime(2024, 3, 7, 13, 4, 5, 1234567), DateTime(2024, 3, 7, 13, 4, 5, 1234568));
    ExpectDiffer(DateTime(2024, 3, 7, 13, 4, 5), DateTime(2024, 3, 8, 13, 4, 5));
}

TEST(ValuesDifferDates, TimeOnlyStandsOnTheFirstOfJanuary1900) {
    ExpectSame(TimeOnly(13, 0, 0), TimeOnly(13, 0, 0));
    ExpectDiffer(TimeOnly(13, 0, 0), TimeOnly(13, 0, 0, 1));
    ExpectSame(TimeOnly(13, 0, 0), DateTime(1900, 1, 1, 13, 0, 0));
    ExpectDiffer(TimeOnly(13, 0, 0), DateTime(2024, 3, 7, 13, 0, 0));
    ExpectSame(TimeOnly(0, 0, 0), DateOnly(1900, 1, 1));
}

TEST(ValuesDifferTexts, CodeUnitByCodeUnit) {
    const QString abc = QStringLiteral("abc");
    const QString abcCopy = QStringLiteral("abc");
    const QString upper = QStringLiteral("ABC");
    const QString trailing = QStringLiteral("abc ");
    const QString composed = QString::fromUtf8("\xC3\xA9");     // é
    const QString decomposed = QString::fromUtf8("e\xCC\x81");  // e + combining acute
    const QString empty;
    ExpectSame(FieldValue::text(abc), FieldValue::text(abcCopy));
    ExpectDiffer(FieldValue::text(abc), FieldValue::text(upper));
    ExpectDiffer(FieldValue::text(abc), FieldValue::text(trailing));
    ExpectDiffer(FieldValue::text(composed), FieldValue::text(decomposed));
    ExpectSame(FieldValue::text(empty), FieldValue::text(QStringView(u"")));
    ExpectDiffer(FieldValue::text(empty), FieldValue::text(QStringView(u" ")));
}

TEST(ValuesDifferBytes, ByteByByte) {
    const QByteArray a("\x00\xAB\x1F", 3);
    const QByteArray aCopy("\x00\xAB\x1F", 3);
    const QByteArray lastDiffers("\x00\xAB\x20", 3);
    const QByteArray prefix("\x00\xAB", 2);
    ExpectSame(FieldValue::bytes(a), FieldValue::bytes(aCopy));
    ExpectDiffer(FieldValue::bytes(a), FieldValue::bytes(lastDiffers));
    ExpectDiffer(FieldValue::bytes(a), FieldValue::bytes(prefix));
    ExpectSame(FieldValue::bytes(QByteArrayView()), FieldValue::bytes(QByteArray("")));
}

TEST(ValuesDifferKinds, DifferentKindsAlwaysDiffer) {
    const QString twelve = QStringLiteral("12");
    const QString twelveAndAHalf = QStringLiteral("12.5");
    const QString date = QStringLiteral("2024-03-07");
    const QByteArray bytes("12", 2);
    ExpectDiffer(FieldValue::integer(12), FieldValue::text(twelve));
    ExpectDiffer(FieldValue::decimal(125, 1), FieldValue::text(twelveAndAHalf));
    ExpectDiffer(FieldValue::floating(12), FieldValue::text(twelve));
    ExpectDiffer(FieldValue::bit(true), FieldValue::text(QStringView(u"True")));
    ExpectDiffer(DateOnly(2024, 3, 7), FieldValue::text(date));
    ExpectDiffer(DateOnly(1, 1, 1), FieldValue::integer(0));
    ExpectDiffer(TimeOnly(0, 0, 0), FieldValue::floating(0));
    ExpectDiffer(FieldValue::bytes(bytes), FieldValue::text(twelve));
    ExpectDiffer(FieldValue::bytes(QByteArrayView()), FieldValue::integer(0));
    ExpectDiffer(FieldValue::bytes(QByteArrayView()), DateOnly(1, 1, 1));
}

TEST(ValuesDifferNulls, NullOnlyEqualsNull) {
    ExpectSame(FieldValue(), FieldValue());
    const QString empty;
    const std::vector<FieldValue> values = {
        FieldValue::integer(0),  FieldValue::decimal(0, 2), FieldValue::currency(0),
        FieldValue::floating(0), FieldValue::bit(false),    DateOnly(1, 1, 1),
        TimeOnly(0, 0, 0),       FieldValue::text(empty),   FieldValue::bytes(QByteArrayView())};
    for (const FieldValue& v : values) ExpectDiffer(FieldValue(), v);
}

// The comparison reads cells as stored where that tells equality at once; it
// must never answer otherwise than the value rules would.
TEST(StoredComparison, AgreesWithTheValueRulesWheneverItAnswers) {
    using data::FieldValue;
    using data::ValueKind;
    const auto dt = [](std::int32_t days, std::int64_t ticks, std::uint8_t parts) {
        data::DateTimeValue v;
        v.days = days;
        v.ticks = ticks;
        v.parts = parts;
        return FieldValue::dateTime(v);
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::pair<ValueKind, std::vector<FieldValue>>> pools{
        {ValueKind::Integer, {FieldValue::integer(5), FieldValue::integer(-5), FieldValue()}},
        {ValueKind::Bit, {FieldValue::bit(true), FieldValue::bit(false), FieldValue()}},
        {ValueKind::Float,
         {FieldValue::floating(0.0), FieldValue::floating(-0.0), FieldValue::floating(nan),
          FieldValue::floating(1.5)}},
        {ValueKind::Decimal,
         {FieldValue::decimal(500, 2), FieldValue::decimal(5, 0), FieldValue::decimal(501, 2),
          FieldValue()}},
        {ValueKind::Currency, {FieldValue::currency(50000), FieldValue::currency(50001)}},
        {ValueKind::DateTime,
         {dt(10, 0, data::DateTimeValue::HasDate),
          dt(10, 0, data::DateTimeValue::HasDate | data::DateTimeValue::HasTime),
          dt(0, 5, data::DateTimeValue::HasTime),
          dt(0, 5, data::DateTimeValue::HasDate | data::DateTimeValue::HasTime),
          dt(10, 5, data::DateTimeValue::HasDate | data::DateTimeValue::HasTime)}},
        {ValueKind::Text,
         {FieldValue::text(u"a"), FieldValue::text(u"A"), FieldValue::text(u"a "),
          FieldValue::text(u""), FieldValue()}},
        {ValueKind::Bytes,
         {FieldValue::bytes(QByteArrayView("\x01\x02", 2)),
          FieldValue::bytes(QByteArrayView("\x01", 1)), FieldValue::bytes(QByteArrayView())}},
    };
    // One column per kind, each holding its pool; every cell against every cell.
    data::ResultTable table;
    for (const auto& [kind, values] : pools) {
        data::Column& c = table.addColumn(QStringLiteral("c"), kind);
        for (const FieldValue& v : values) c.append(v);
    }
    int answered = 0;
    for (int fa = 0; fa < table.fieldCount(); ++fa) {
        for (int fb = 0; fb < table.fieldCount(); ++fb) {
            const data::Column& a = table.column(fa);
            const data::Column& b = table.column(fb);
            for (std::size_t ra = 0; ra < a.size(); ++ra) {
                for (std::size_t rb = 0; rb < b.size(); ++rb) {
                    const auto stored = data::CompareStored(a, ra, b, rb);
                    if (stored == data::StoredComparison::Unknown) continue;
                    ++answered;
                    EXPECT_EQ(stored == data::StoredComparison::Different,
                              compare::ValuesDiffer(a.value(ra), b.value(rb)))
                        << "field " << fa << " row " << ra << " against field " << fb << " row "
                        << rb;
                }
            }
        }
    }
    EXPECT_GT(answered, 100);
}

// Keys are merged by CompareKeyValues: a sorted list of values of every kind
// must come out in that order against each other, equal exactly where the
// comparison of fields finds no difference.
TEST(CompareKeyValues, OrdersEveryKindAsTheComparisonOfFieldsAgrees) {
    const __int128 tenTo38 = I128("100000000000000000000000000000000000000");
    // Byte values are views: their bytes must outlive them.
    const QByteArray one("\x01", 1), oneZero("\x01\x00", 2), two("\x02", 1);
    const std::vector<std::vector<FieldValue>> ascending = {
        {FieldValue()},
        {FieldValue::decimal(-tenTo38 + 1, 0)},
        {FieldValue::integer(-1), FieldValue::floating(-1.0)},
        {FieldValue::integer(0), FieldValue::bit(false), FieldValue::decimal(0, 38)},
        {FieldValue::decimal(1, 38)},
        {FieldValue::decimal(999, 3), FieldValue::currency(9990)},
        {FieldValue::integer(1), FieldValue::decimal(tenTo38, 38), FieldValue::bit(true)},
        {FieldValue::integer(5), FieldValue::decimal(500, 2), FieldValue::floating(5.0)},
        {FieldValue::decimal(tenTo38 - 1, 0)},
        {FieldValue::dateTime({1, 0, data::DateTimeValue::HasDate})},
        {FieldValue::text(u"B")},
        {FieldValue::text(u"a\t")},  // padded, a tab comes before the blank
        {FieldValue::text(u"a")},
        {FieldValue::text(u"a ")},  // equal to "a" padded: the shorter first
        {FieldValue::text(u"ab")},
        {FieldValue::text(u"a\u00A0")},
        {FieldValue::text(u"\uFFFD")},
        {FieldValue::bytes(one)},
        {FieldValue::bytes(oneZero)},
        {FieldValue::bytes(two)},
    };
    for (std::size_t i = 0; i < ascending.size(); ++i) {
        for (std::size_t j = 0; j < ascending.size(); ++j) {
            for (const FieldValue& a : ascending[i]) {
                for (const FieldValue& b : ascending[j]) {
                    const int order = compare::CompareKeyValues(a, b);
                    const int expected = i < j ? -1 : i > j ? 1 : 0;
                    EXPECT_EQ(order, expected) << "group " << i << " against group " << j;
                    EXPECT_EQ(order == 0, !ValuesDiffer(a, b)) << "group " << i << "/" << j;
                }
            }
        }
    }
}

namespace {

compare::ValueOptions WithTolerance(const char* text) {
    compare::ValueOptions options;
    options.tolerance = compare::Tolerance::FromText(QString::fromLatin1(text));
    EXPECT_TRUE(options.tolerance.has_value()) << text;
    return options;
}

// Under options, both orders too.
bool DifferUnder(const FieldValue& a, const FieldValue& b, const compare::ValueOptions& o) {
    const bool ab = compare::ValuesDifferUnder(a, b, o);
    EXPECT_EQ(ab, compare::ValuesDifferUnder(b, a, o));
    return ab;
}

}  // namespace

// A tolerance holds exact numbers to it digit for digit (where a double
// would blur the last digits of a decimal(38)), floats as doubles, and never
// makes a number equal to anything but a number.
TEST(ValueOptions, ToleranceBetweenNumbersOfAnyKinds) {
    const auto cent = WithTolerance("0.01");
    EXPECT_FALSE(DifferUnder(FieldValue::floating(1.005), FieldValue::decimal(100, 2), cent));
    EXPECT_TRUE(DifferUnder(FieldValue::floating(1.02), FieldValue::decimal(100, 2), cent));
    EXPECT_FALSE(DifferUnder(FieldValue::integer(7), FieldValue::currency(70100), cent));
    EXPECT_TRUE(DifferUnder(FieldValue::integer(7), FieldValue::currency(70101), cent));
    const FieldValue big = FieldValue::decimal(I128("12345678901234567890123456789012345667"), 2);
    const FieldValue bigger =
        FieldValue::decimal(I128("12345678901234567890123456789012345668"), 2);
    EXPECT_FALSE(DifferUnder(big, bigger, cent));
    EXPECT_TRUE(DifferUnder(big, bigger, WithTolerance("0.005")));
    // Opposite signs at the limits: the difference must not overflow into "equal".
    const FieldValue most = FieldValue::decimal(I128("99999999999999999999999999999999999999"), 0);
    const FieldValue least =
        FieldValue::decimal(I128("-99999999999999999999999999999999999999"), 0);
    EXPECT_TRUE(DifferUnder(most, least, WithTolerance("1")));
    EXPECT_FALSE(
        DifferUnder(FieldValue::floating(1e-7), FieldValue::integer(0), WithTolerance("1e-6")));
    EXPECT_TRUE(DifferUnder(FieldValue::integer(1), FieldValue::text(u"1"), WithTolerance("5")));
    EXPECT_TRUE(DifferUnder(FieldValue::integer(1), FieldValue(), WithTolerance("5")));
    for (const char* bad : {"", ".", "-1", "+1", " 1", "1,5", "nan", "inf", "1e400", "0x10"}) {
        EXPECT_FALSE(compare::Tolerance::FromText(QString::fromLatin1(bad))) << bad;
    }
}

// Case folding is Unicode's simple folding code point by code point (so the
// final sigma and letters beyond the BMP fold, while "ß" stays apart from
// "ss"); trimming takes only trailing blanks; NULL equals the empty text,
// and a text of blanks once trimmed, but nothing else.
TEST(ValueOptions, TextsUnderCaseTrimAndNullRules) {
    compare::ValueOptions caseless;
    caseless.ignoreCase = true;
    EXPECT_FALSE(DifferUnder(FieldValue::text(u"ΣΊΣΥΦΟΣ"), FieldValue::text(u"σίσυφος"), caseless));
    EXPECT_FALSE(
        DifferUnder(FieldValue::text(u"\U00010400x"), FieldValue::text(u"\U00010428X"), caseless));
    EXPECT_TRUE(DifferUnder(FieldValue::text(u"STRASSE"), FieldValue::text(u"straße"), caseless));
    EXPECT_TRUE(DifferUnder(FieldValue::text(u"ab "), FieldValue::text(u"AB"), caseless));

    compare::ValueOptions trim;
    trim.trim = true;
    EXPECT_FALSE(DifferUnder(FieldValue::text(u"ab   "), FieldValue::text(u"ab"), trim));
    EXPECT_TRUE(DifferUnder(FieldValue::text(u" ab"), FieldValue::text(u"ab"), trim));
    EXPECT_TRUE(DifferUnder(FieldValue::text(u"ab\t"), FieldValue::text(u"ab"), trim));
    EXPECT_TRUE(DifferUnder(FieldValue::text(u"AB "), FieldValue::text(u"ab"), trim));
    EXPECT_TRUE(DifferUnder(FieldValue::text(u""), FieldValue(), trim));

    compare::ValueOptions empty;
    empty.nullEqualsEmpty = true;
    EXPECT_FALSE(DifferUnder(FieldValue(), FieldValue::text(u""), empty));
    EXPECT_FALSE(DifferUnder(FieldValue(), FieldValue(), empty));
    EXPECT_TRUE(DifferUnder(FieldValue(), FieldValue::text(u"  "), empty));
    EXPECT_TRUE(DifferUnder(FieldValue(), FieldValue::integer(0), empty));
    EXPECT_TRUE(DifferUnder(FieldValue(), FieldValue::bytes(QByteArrayView()), empty));
    empty.trim = true;
    EXPECT_FALSE(DifferUnder(FieldValue(), FieldValue::text(u"  "), empty));
}
