#include <gtest/gtest.h>

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <limits>

#include "TestValues.h"
#include "ValueRules.h"
#include "ValueText.h"

using compare::ValueFormatter;
using compare::ValueText;
using data::FieldValue;
using namespace testvalues;

namespace {

const QLocale kUs(QLocale::English, QLocale::UnitedStates);
const QLocale kDe(QLocale::German, QLocale::Germany);

QString Us(const FieldValue& v) { return ValueText(v, kUs); }
QString De(const FieldValue& v) { return ValueText(v, kDe); }

}  // namespace

TEST(ValueTextLocaleFree, IntegersBitsBytesTextsAndNull) {
    EXPECT_EQ(De(FieldValue::integer(0)), "0");
    EXPECT_EQ(De(FieldValue::integer(-42)), "-42");
    EXPECT_EQ(De(FieldValue::integer(1234567)), "1234567");
    EXPECT_EQ(De(FieldValue::integer(std::numeric_limits<std::int64_t>::max())),
              "9223372036854775807");
    EXPECT_EQ(De(FieldValue::integer(std::numeric_limits<std::int64_t>::min())),
              "-9223372036854775808");
    EXPECT_EQ(De(FieldValue::bit(true)), "True");
    EXPECT_EQ(De(FieldValue::bit(false)), "False");
    const QByteArray bytes("\x00\xAB\x1F\xff", 4);
    EXPECT_EQ(Us(FieldValue::bytes(bytes)), "0x00AB1FFF");
    EXPECT_EQ(Us(FieldValue::bytes(QByteArrayView())), "0x");
    const QString text = QStringLiteral("  say \"hi\"\t ");
    EXPECT_EQ(Us(FieldValue::text(text)), text);
    EXPECT_EQ(Us(FieldValue::text(QString())), "");
    EXPECT_EQ(Us(FieldValue()), "");
}

TEST(ValueTextDecimals, ExactDigitsWithoutTrailingZeros) {
    EXPECT_EQ(Us(FieldValue::decimal(500, 2)), "5");
    EXPECT_EQ(Us(FieldValue::currency(50000)), "5");
    EXPECT_EQ(Us(FieldValue::decimal(1250, 2)), "12.5");
    EXPECT_EQ(De(FieldValue::decimal(1250, 2)), "12,5");
    EXPECT_EQ(Us(FieldValue::decimal(-1250, 2)), "-12.5");
    EXPECT_EQ(De(FieldValue::decimal(-1250, 2)), "-12,5");
    EXPECT_EQ(Us(FieldValue::decimal(5, 3)), "0.005");
    EXPECT_EQ(Us(FieldValue::decimal(-5, 3)), "-0.005");
    EXPECT_EQ(Us(FieldValue::decimal(0, 4)), "0");
    EXPECT_EQ(Us(FieldValue::decimal(1200, 0)), "1200");
    EXPECT_EQ(Us(FieldValue::currency(123456789)), "12345.6789");
    EXPECT_EQ(De(FieldValue::currency(-12345678901234LL)), "-1234567890,1234");
    EXPECT_EQ(Us(FieldValue::decimal(I128("99999999999999999999999999999999999999"), 0)),
              "99999999999999999999999999999999999999");
    EXPECT_EQ(Us(FieldValue::decimal(I128("-12345678901234567890123456789012345678"), 38)),
              "-0.12345678901234567890123456789012345678");
    EXPECT_EQ(De(FieldValue::decimal(I128("12345678901234567890123456789012345670"), 20)),
              "123456789012345678,9012345678901234567");
}

TEST(ValueTextFloats, ShortestRoundTrip) {
    EXPECT_EQ(Us(FieldValue::floating(5.0)), "5");
    EXPECT_EQ(Us(FieldValue::floating(0.1)), "0.1");
    EXPECT_EQ(De(FieldValue::floating(0.1)), "0,1");
    EXPECT_EQ(De(FieldValue::floating(-12.5)), "-12,5");
    EXPECT_EQ(Us(FieldValue::floating(1234567.0)), "1234567");
    EXPECT_EQ(Us(FieldValue::floating(0.1 + 0.2)), "0.30000000000000004");
    for (double d : {1.0 / 3, -2.0 / 7, 6.02214076e23, 1e-300, 123456.789}) {
        bool ok = false;
        EXPECT_EQ(kDe.toDouble(De(FieldValue::floating(d)), &ok), d);
        EXPECT_TRUE(ok);
    }
}

TEST(ValueTextNumbers, DecimalsAndFloatsAgreeOnEachLocalesForm) {
    // Two separate paths (own digits for decimals, Qt's for floats) must give
    // the same text wherever both values are the same number.
    for (const char* name : {"en_US", "de_DE", "fi_FI", "fr_CH", "ar_EG", "fa_IR"}) {
        const QLocale locale(QString::fromLatin1(name));
        SCOPED_TRACE(name);
        EXPECT_EQ(ValueText(FieldValue::decimal(-1250, 2), locale),
                  ValueText(FieldValue::floating(-12.5), locale));
        EXPECT_EQ(ValueText(FieldValue::decimal(25, 2), locale),
                  ValueText(FieldValue::floating(0.25), locale));
        EXPECT_EQ(ValueText(FieldValue::currency(1234560000), locale),
                  ValueText(FieldValue::floating(123456), locale));
    }
}

TEST(ValueTextDates, ShortDateAndTimeWithSeconds) {
    EXPECT_EQ(Us(DateOnly(2024, 3, 7)), "3/7/2024");
    EXPECT_EQ(De(DateOnly(2024, 3, 7)), "07.03.2024");
    EXPECT_EQ(Us(DateTime(2024, 3, 7, 0, 0, 0)), "3/7/2024");
    EXPECT_EQ(Us(DateTime(2024, 3, 7, 13, 4, 5)), "3/7/2024 1:04:05 PM");
    EXPECT_EQ(De(DateTime(2024, 3, 7, 13, 4, 5)), "07.03.2024 13:04:05");
    EXPECT_EQ(Us(DateTime(2024, 3, 7, 0, 0, 1)), "3/7/2024 12:00:01 AM");
}

// A short format with a two-digit year would make centuries read alike.
TEST(ValueTextDates, TheYearKeepsItsCentury) {
    EXPECT_EQ(Us(DateOnly(1, 1, 1)), "1/1/0001");
    EXPECT_EQ(Us(DateOnly(2001, 1, 1)), "1/1/2001");
    EXPECT_EQ(De(DateOnly(1901, 12, 31)), "31.12.1901");
}

TEST(ValueTextDates, FractionOfASecondWhenNotZero) {
    EXPECT_EQ(Us(DateTime(2024, 3, 7, 13, 4, 5, 5000000)), "3/7/2024 1:04:05.5 PM");
    EXPECT_EQ(De(DateTime(2024, 3, 7, 13, 4, 5, 2500000)), "07.03.2024 13:04:05,25");
    EXPECT_EQ(De(DateTime(2024, 3, 7, 13, 4, 5, 1)), "07.03.2024 13:04:05,0000001");
    // Midnight and a tick is not midnight.
    EXPECT_EQ(De(DateTime(2024, 3, 7, 0, 0, 0, 1)), "07.03.2024 00:00:00,0000001");
}

TEST(ValueTextDates, TimeOnlyIsTheTimeAlone) {
    EXPECT_EQ(Us(TimeOnly(13, 4, 5)), "1:04:05 PM");
    EXPECT_EQ(De(TimeOnly(13, 4, 5)), "13:04:05");
    EXPECT_EQ(Us(TimeOnly(0, 0, 0)), "12:00:00 AM");
    EXPECT_EQ(De(TimeOnly(8, 0, 0, 1230000)), "08:00:00,123");
}

TEST(ValueTextDefaultLocale, FollowsQLocaleDefault) {
    const QLocale saved;
    QLocale::setDefault(kDe);
    const QString decimal = ValueText(FieldValue::decimal(1250, 2));
    const QString date = ValueText(DateOnly(2024, 3, 7));
    const QString viaFormatter = ValueFormatter().text(FieldValue::floating(0.5));
    QLocale::setDefault(kUs);
    const QString decimalUs = ValueText(FieldValue::decimal(1250, 2));
    QLocale::setDefault(saved);
    EXPECT_EQ(decimal, "12,5");
    EXPECT_EQ(date, "07.03.2024");
    EXPECT_EQ(viaFormatter, "0,5");
    EXPECT_EQ(decimalUs, "12.5");
}
