// Values as the literals a script writes: each must read back as the very
// value, and no text may break out of its quotes or its line.
#include <gtest/gtest.h>

#include <QByteArray>
#include <cstdlib>
#include <limits>

#include "SqlLiteral.h"
#include "TestValues.h"

namespace {

using compare::SqlLiteral;
using data::FieldValue;
using namespace testvalues;

TEST(SqlLiteral, TextsStayInsideTheirQuotesAndOnTheirLine) {
    const QString text =
        QStringLiteral("it's\r\n") + QChar(0) + QStringLiteral("\U0001F600") + QChar(0xD800) + u'x';
    EXPECT_EQ(SqlLiteral(FieldValue::text(text)),
              QStringLiteral("N'it''s' + NCHAR(13) + NCHAR(10) + NCHAR(0) + N'\U0001F600' + "
                             "NCHAR(55296) + N'x'"));
    EXPECT_EQ(SqlLiteral(FieldValue::text(QString())), QStringLiteral("N''"));
    // No "$(" inside a literal: sqlcmd would read a variable there.
    EXPECT_EQ(SqlLiteral(FieldValue::text(QStringLiteral("price $(HOME) ok $$((x"))),
              QStringLiteral("N'price $' + N'(HOME) ok $$' + N'((x'"));
    // Joined pieces of a long text start from nvarchar(max), or the join stops at 4000.
    const QString longText = QString(4000, u'a') + u'\n';
    EXPECT_TRUE(SqlLiteral(FieldValue::text(longText))
                    .startsWith(QStringLiteral("CAST(N'' AS nvarchar(max)) + N'aaa")));
    EXPECT_EQ(SqlLiteral(FieldValue()), QStringLiteral("NULL"));
}

TEST(SqlLiteral, NumbersKeepEveryDigitAndFloatsReadBackTheSameDouble) {
    EXPECT_EQ(SqlLiteral(FieldValue::decimal(-12, 4)), QStringLiteral("-0.0012"));
    EXPECT_EQ(SqlLiteral(FieldValue::decimal(I128("99999999999999999999999999999999999999"), 10)),
              QStringLiteral("9999999999999999999999999999.9999999999"));
    EXPECT_EQ(SqlLiteral(FieldValue::currency(-922337203685477580)),
              QStringLiteral("-92233720368547.7580"));
    EXPECT_EQ(SqlLiteral(FieldValue::integer(std::numeric_limits<std::int64_t>::min())),
              QStringLiteral("-9223372036854775808"));
    EXPECT_EQ(SqlLiteral(FieldValue::bit(true)), QStringLiteral("1"));
    for (const double v : {0.1, -1.0 / 3, 1e308, 4.9e-324, 123456789.0}) {
        const QByteArray literal = SqlLiteral(FieldValue::floating(v)).toLatin1();
        EXPECT_TRUE(literal.contains('e')) << literal.constData();  // a float, not a decimal
        EXPECT_EQ(std::strtod(literal.constData(), nullptr), v) << literal.constData();
    }
}

TEST(SqlLiteral, DatesAndBytesInFormsNoSessionSettingRereads) {
    EXPECT_EQ(SqlLiteral(DateOnly(1, 1, 1)), QStringLiteral("'0001-01-01'"));
    EXPECT_EQ(SqlLiteral(DateTime(9999, 12, 31, 23, 59, 59, 9'999'999)),
              QStringLiteral("'9999-12-31T23:59:59.9999999'"));
    // datetime takes three digits at most: trailing zeros go.
    EXPECT_EQ(SqlLiteral(DateTime(2024, 2, 29, 13, 45, 30, 9'970'000)),
              QStringLiteral("'2024-02-29T13:45:30.997'"));
    EXPECT_EQ(SqlLiteral(DateTime(2024, 2, 29, 0, 0, 0)), QStringLiteral("'2024-02-29T00:00:00'"));
    EXPECT_EQ(SqlLiteral(TimeOnly(7, 5, 3, 1)), QStringLiteral("'07:05:03.0000001'"));
    EXPECT_EQ(SqlLiteral(FieldValue::bytes(QByteArrayView())), QStringLiteral("0x"));
    EXPECT_EQ(SqlLiteral(FieldValue::bytes(QByteArrayView("\x00\xff", 2))),
              QStringLiteral("0x00FF"));
}

}  // namespace
