#include <gtest/gtest.h>

#include <QString>

#include "DataError.h"
#include "ResultTable.h"

using namespace data;

namespace {

TEST(ResultTable, EveryKindKeepsItsValues) {
    ResultTable t;
    t.addColumn("i", ValueKind::Integer).append(FieldValue::integer(-9'000'000'000'000'000'000));
    const __int128 big =
        static_cast<__int128>(1'000'000'000'000'000'000) * 100'000'000'000'000'000 + 7;
    t.addColumn("d", ValueKind::Decimal).append(FieldValue::decimal(-big, 38));
    t.addColumn("m", ValueKind::Currency).append(FieldValue::currency(150'000, 4));
    t.addColumn("f", ValueKind::Float).append(FieldValue::floating(0.1));
    t.addColumn("b", ValueKind::Bit).append(FieldValue::bit(true));
    const DateTimeValue when{739'000, 863'999'999'999,
                             DateTimeValue::HasDate | DateTimeValue::HasTime};
    t.addColumn("t", ValueKind::DateTime).append(FieldValue::dateTime(when));
    t.addColumn("s", ValueKind::Text).append(FieldValue::text(u"Grüße ✓"));
    const char raw[] = {'\0', '\xff', 'a'};
    t.addColumn("y", ValueKind::Bytes).append(FieldValue::bytes(QByteArrayView(raw, 3)));

    ASSERT_EQ(t.fieldCount(), 8);
    ASSERT_EQ(t.rowCount(), 1u);
    EXPECT_EQ(t.value(0, 0).asInteger(), -9'000'000'000'000'000'000);
    EXPECT_TRUE(t.value(1, 0).unscaled() == -big);
    EXPECT_EQ(t.value(1, 0).scale(), 38);
    EXPECT_EQ(t.value(2, 0).kind(), ValueKind::Currency);
    EXPECT_TRUE(t.value(2, 0).unscaled() == 150'000);
    EXPECT_EQ(t.value(3, 0).asFloat(), 0.1);
    EXPECT_TRUE(t.value(4, 0).asBit());
    EXPECT_EQ(t.value(5, 0).asDateTime(), when);
    EXPECT_EQ(t.value(6, 0).asText(), QStringView(u"Grüße ✓"));
    EXPECT_EQ(t.value(7, 0).asBytes(), QByteArrayView(raw, 3));
}

TEST(ResultTable, NullsAreToldApartFromEmptyAndZeroValues) {
    ResultTable t;
    Column& s = t.addColumn("s", ValueKind::Text);
    Column& y = t.addColumn("y", ValueKind::Bytes);
    Column& i = t.addColumn("i", ValueKind::Integer);
    for (int r = 0; r < 130; ++r) {  // past one word of the null mask
        const bool null = r % 3 == 0 || r == 129;
        s.append(null ? FieldValue() : FieldValue::text(QStringView()));
        y.append(null ? FieldValue() : FieldValue::bytes(QByteArrayView()));
        i.append(null ? FieldValue() : FieldValue::integer(0));
    }
    for (std::size_t r = 0; r < 130; ++r) {
        const bool null = r % 3 == 0 || r == 129;
        for (int f = 0; f < 3; ++f) EXPECT_EQ(t.value(f, r).isNull(), null) << f << " " << r;
        if (!null) {
            EXPECT_EQ(t.value(0, r).kind(), ValueKind::Text);
            EXPECT_TRUE(t.value(0, r).asText().isEmpty());
            EXPECT_EQ(t.value(1, r).kind(), ValueKind::Bytes);
        }
    }
}

TEST(ResultTable, LargeTextsStayWholeAndInOrder) {
    ResultTable t;
    Column& c = t.addColumn("big", ValueKind::Text);
    std::vector<QString> texts;
    for (int r = 0; r < 5; ++r) {
        texts.push_back(QString(100'000 + r, QChar(static_cast<char16_t>(u'a' + r))));
        c.append(FieldValue::text(texts.back()));
        c.append(FieldValue());
    }
    ASSERT_EQ(c.size(), 10u);
    for (std::size_t r = 0; r < 5; ++r) {
        EXPECT_EQ(c.value(2 * r).asText(), QStringView(texts[r]));
        EXPECT_TRUE(c.value(2 * r + 1).isNull());
    }
}

TEST(ResultTable, DecimalScalesAndDateTimePartsArePerValue) {
    ResultTable t;
    Column& d = t.addColumn("d", ValueKind::Decimal);
    d.append(FieldValue::decimal(500, 2));
    d.append(FieldValue());
    d.append(FieldValue::decimal(5, 0));
    d.append(FieldValue::decimal(51, 1));
    EXPECT_EQ(d.value(0).scale(), 2);
    EXPECT_EQ(d.value(2).scale(), 0);
    EXPECT_TRUE(d.value(3).unscaled() == 51);
    EXPECT_EQ(d.value(3).scale(), 1);

    Column& w = t.addColumn("w", ValueKind::DateTime);
    w.append(FieldValue::dateTime({10, 0, DateTimeValue::HasDate}));
    w.append(FieldValue::dateTime({0, 5, DateTimeValue::HasTime}));
    EXPECT_EQ(w.value(0).asDateTime().parts, DateTimeValue::HasDate);
    EXPECT_EQ(w.value(1).asDateTime(), (DateTimeValue{0, 5, DateTimeValue::HasTime}));
}

TEST(ResultTable, RefusesValuesOfAnotherKindAndRowsItDoesNotHave) {
    ResultTable t;
    Column& c = t.addColumn("n", ValueKind::Integer);
    EXPECT_THROW(c.append(FieldValue::text(u"5")), DataError);
    EXPECT_THROW(c.append(FieldValue::decimal(5, 0)), DataError);
    EXPECT_EQ(c.size(), 0u);
    c.append(FieldValue::integer(1));
    EXPECT_THROW(c.value(1), DataError);
    EXPECT_THROW(t.column(1), std::out_of_range);
}

TEST(ResultTable, FindsColumnsByNameIgnoringCase) {
    ResultTable t;
    t.addColumn("TABLE_NAME", ValueKind::Text);
    t.addColumn("Table_Type", ValueKind::Text);
    EXPECT_EQ(t.indexOf("table_name"), 0);
    EXPECT_EQ(t.indexOf("TABLE_TYPE"), 1);
    EXPECT_EQ(t.indexOf("TABLE"), -1);
}

TEST(ResultTable, MovingKeepsValuesAndTheirStorage) {
    ResultTable t;
    t.addColumn("s", ValueKind::Text).append(FieldValue::text(u"kept"));
    const char16_t* where = t.value(0, 0).asText().utf16();
    ResultTable moved = std::move(t);
    EXPECT_EQ(moved.value(0, 0).asText(), QStringView(u"kept"));
    EXPECT_EQ(moved.value(0, 0).asText().utf16(), where);
}

TEST(DataError, KeepsDescriptionStateAndCode) {
    const DataError e(QStringLiteral("[FreeTDS][SQL Server]Login failed for user 'tester'.\nmore"),
                      QStringLiteral("42000"), 18456);
    EXPECT_EQ(e.description(), "[FreeTDS][SQL Server]Login failed for user 'tester'.\nmore");
    EXPECT_EQ(e.sqlState(), "42000");
    EXPECT_EQ(e.nativeCode(), 18456);
    EXPECT_STREQ(e.what(), "[FreeTDS][SQL Server]Login failed for user 'tester'.\nmore");
}

}  // namespace
