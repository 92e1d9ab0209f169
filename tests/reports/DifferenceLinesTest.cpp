#include <gtest/gtest.h>

#include <QLocale>
#include <QString>
#include <algorithm>
#include <stdexcept>

#include "CompareOptions.h"
#include "DatabaseReport.h"
#include "DifferenceLines.h"
#include "Summary.h"
#include "TestValues.h"

using namespace compare;
using data::FieldValue;

TEST(FieldChangedLine, QuotesValuesAndWritesNullBare) {
    EXPECT_EQ(FieldChangedLine(3, u"Price", FieldValue::integer(10), FieldValue::integer(12)),
              "Record 3,Field \"Price\" has changed from \"10\" to \"12\"");
    EXPECT_EQ(FieldChangedLine(2, u"Price", FieldValue(), FieldValue::integer(12)),
              "Record 2,Field \"Price\" has changed from NULL to \"12\"");
    EXPECT_EQ(FieldChangedLine(2, u"Price", FieldValue::integer(12), FieldValue()),
              "Record 2,Field \"Price\" has changed from \"12\" to NULL");
    EXPECT_EQ(FieldChangedLine(1, u"Flag", FieldValue::bit(true), FieldValue::text(u"")),
              "Record 1,Field \"Flag\" has changed from \"True\" to \"\"");
}

TEST(FieldChangedLine, QuotationMarksInsideStayAsTheyAre) {
    const QString before = QStringLiteral("say \"hi\"");
    EXPECT_EQ(FieldChangedLine(1, u"Na\"me", FieldValue::text(before), FieldValue()),
              "Record 1,Field \"Na\"me\" has changed from \"say \"hi\"\" to NULL");
}

// A value with a line feed must not split its line: a copied piece would
// otherwise read like a result line of its own.
TEST(FieldChangedLine, ControlCharactersShowAsVisibleSymbolsSoALineStaysOne) {
    const QString evil = QStringLiteral("a\nRecord 99 added from Evil");
    const QString line = FieldChangedLine(1, u"Note", FieldValue::text(evil),
                                          FieldValue::text(QStringView(u"t\tc\rn\0d\x7f", 8)));
    EXPECT_EQ(
        line,
        QStringLiteral("Record 1,Field \"Note\" has changed from "
                       "\"a\u240ARecord 99 added from Evil\" to \"t\u2409c\u240Dn\u2400d\u2421\""));
    EXPECT_EQ(
        FieldChangedLine(2, u"N\nx", std::optional<QString>(QStringLiteral("\x1f")), std::nullopt),
        QStringLiteral("Record 2,Field \"N\u240Ax\" has changed from \"\u241F\" to NULL"));
    EXPECT_EQ(RecordAddedLine(3, u"odd\nname"),
              QStringLiteral("Record 3 added from odd\u240Aname"));
    EXPECT_EQ(WithVisibleControls(u"plain é"), QStringLiteral("plain é"));
    // Reordering what follows, or breaking the line, unseen.
    EXPECT_EQ(RecordAddedLine(4, u"a\u202Eb\u2066c\u200F\u0085\u2028"),
              QStringLiteral("Record 4 added from a<U+202E>b<U+2066>c<U+200F><U+0085><U+2028>"));
}

TEST(FieldChangedLine, ValuesInTheFormattersLocale) {
    const ValueFormatter german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FieldChangedLine(4, u"Rate", FieldValue::decimal(1250, 2), FieldValue::floating(0.5),
                               german),
              "Record 4,Field \"Rate\" has changed from \"12,5\" to \"0,5\"");
    EXPECT_EQ(FieldChangedLine(4, u"Day", testvalues::DateOnly(2024, 3, 7),
                               testvalues::DateTime(2024, 3, 7, 13, 4, 5), german),
              "Record 4,Field \"Day\" has changed from \"07.03.2024\" to \"07.03.2024 13:04:05\"");
}

TEST(RecordLines, DeletedAndAdded) {
    EXPECT_EQ(RecordDeletedLine(7, u"dbo.Orders"), "Record 7 deleted from dbo.Orders");
    EXPECT_EQ(RecordAddedLine(7, u"dbo.Orders"), "Record 7 added from dbo.Orders");
}

TEST(RecordNumbers, PlainDigitsInAnyLocale) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString nine = FieldChangedLine(9, u"A", FieldValue(), FieldValue::integer(1));
    const QString ten = FieldChangedLine(10, u"A", FieldValue(), FieldValue::integer(1));
    const QString big = RecordAddedLine(1234567, u"T");
    QLocale::setDefault(saved);
    EXPECT_TRUE(nine.startsWith("Record 9,Field")) << nine.toStdString();
    EXPECT_TRUE(ten.startsWith("Record 10,Field")) << ten.toStdString();
    EXPECT_EQ(big, "Record 1234567 added from T");
    EXPECT_EQ(RecordDeletedLine(9223372036854775807LL, u"T"),
              "Record 9223372036854775807 deleted from T");
    EXPECT_THROW(RecordDeletedLine(0, u"T"), std::invalid_argument);
    EXPECT_THROW(FieldChangedLine(-1, u"A", FieldValue(), FieldValue()), std::invalid_argument);
}

// A count of one takes its noun in the singular, where the summaries and the
// totals are written.
TEST(Counts, OneIsSingular) {
    RunSummary s;
    s.firstRead = s.secondRead = s.compared = s.changedRecords = s.changedFields = 1;
    EXPECT_EQ(SummaryText(s, QStringLiteral("A"), QStringLiteral("B")),
              "Summary: 1 record read from A and 1 from B; 1 compared, 1 with changed fields "
              "(1 field); 0 added, 0 deleted, 0 not unique; 0.000 s.");
    PairTotals totals;
    totals.differ = 1;
    connection::LoginDetails first, second;
    first.database = QStringLiteral("x");
    second.database = QStringLiteral("y");
    EXPECT_EQ(TotalsText(totals, first, second),
              "1 table: 0 the same, 1 differs, 0 not compared, 0 only in x, 0 only in y.");
}

// A pair reads as --map takes it and the summary writes it back the same way:
// brackets where a name holds "=" or ",", "]]" for a "]" inside them.
TEST(ColumnNames, AMappingSplitsAtTheEqualsSignOutsideBrackets) {
    RunOptions options;
    options.map = {{"cust_id", "CustomerID"}, {"a=b", "c,d"}, {"x]y", "z"}};
    for (const char* text : {" cust_id = CustomerID ", "[a=b]=[c,d]", "[x]]y] =z"}) {
        EXPECT_NE(std::find(options.map.begin(), options.map.end(),
                            ColumnMapping::FromText(QString::fromLatin1(text))),
                  options.map.end())
            << text;
    }
    for (const char* bad : {"a", "=b", "a=", "a=b=c", "a=b,c", "[a=b", "a=[b", "[a]x=b", ""}) {
        EXPECT_FALSE(ColumnMapping::FromText(QString::fromLatin1(bad))) << bad;
    }
    EXPECT_EQ(OptionsText(options), "columns mapped: cust_id=CustomerID, [a=b]=[c,d], x]y=z");
}

TEST(ColumnNames, BracketsQuoteACommaAsTSqlDoes) {
    EXPECT_EQ(ColumnNamesFromText(QStringLiteral(" [a,b] , [x]]y],c d")),
              (QStringList{"a,b", "x]y", "c d"}));
    for (const char* bad : {"[a,b", "[a]b", "a,", "[]"}) {
        EXPECT_FALSE(ColumnNamesFromText(QString::fromLatin1(bad))) << bad;
    }
}
