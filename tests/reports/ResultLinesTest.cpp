#include <gtest/gtest.h>

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "DifferenceLines.h"
#include "ReportFormat.h"
#include "ResultLines.h"

using compare::ResultLines;

namespace {

TEST(ResultLines, LongLinesBetweenShortOnes) {
    ResultLines lines;
    const QString longLine(700'000, u'L');
    const QString mid(200'000, u'M');
    lines.appendLine(QStringLiteral("before"));
    lines.appendLine(longLine);
    lines.appendLine(mid);
    for (int i = 0; i < 10; ++i) lines.appendLine(mid);  // spills over into new blocks
    lines.appendLine(QStringLiteral("after"));
    ASSERT_EQ(lines.lineCount(), 14);
    EXPECT_EQ(lines.line(0), "before");
    EXPECT_EQ(lines.line(1), longLine);
    EXPECT_EQ(lines.line(12), mid);
    EXPECT_EQ(lines.line(13), "after");
    EXPECT_EQ(lines.joinedLines({{13, 13}, {0, 0}}), "before\nafter");
}

// Differences are kept as their parts and put together when shown: the text
// must be exactly the difference line, whatever the values hold.
TEST(ResultLines, DifferencesReadBackAsTheirLines) {
    ResultLines lines;
    const QString odd = QStringLiteral("ä €") + QString::fromUcs4(U"\U0001F600", 1) +
                        QChar(0xD800) /* a lone surrogate */ + QStringLiteral("\"q\"");
    const QString big(300'000, u'B');
    struct Change {
        std::int64_t record;
        QString field;
        std::optional<QString> before, after;
    };
    const std::vector<Change> changes{{3, "Price", "10", "12"},
                                      {4, "Note", std::nullopt, ""},
                                      {5, "Näme", odd, std::nullopt},
                                      {9'000'000'000, "Price", big, "x"},
                                      {6, "Price", "", ""}};
    for (const Change& c : changes) {
        lines.appendFieldChange(c.record, c.field,
                                c.before ? std::optional<QStringView>(*c.before) : std::nullopt,
                                c.after ? std::optional<QStringView>(*c.after) : std::nullopt);
    }
    lines.appendRecordDeleted(7, QStringLiteral("sales.Orders"));
    lines.appendRecordAdded(12, QStringLiteral("Orders2"));
    ASSERT_EQ(lines.lineCount(), 7);
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const Change& c = changes[i];
        EXPECT_EQ(lines.line(static_cast<qsizetype>(i)),
                  compare::FieldChangedLine(c.record, c.field, c.before, c.after));
    }
    EXPECT_EQ(lines.line(1), "Record 4,Field \"Note\" has changed from NULL to \"\"");
    EXPECT_EQ(lines.line(5), "Record 7 deleted from sales.Orders");
    EXPECT_EQ(lines.line(6), "Record 12 added from Orders2");
    EXPECT_THROW(lines.appendRecordAdded(0, QStringLiteral("T")), std::invalid_argument);

    // Records named by key keep their key, as a line and as a saved difference.
    const auto key = compare::RecordName::Keyed(QStringLiteral("(CustomerID=5,Name=a\nb)"));
    lines.appendFieldChange(key, QStringLiteral("Note"), QStringView(u"x"), std::nullopt);
    lines.appendRecordNotUnique(compare::RecordName::Keyed(QStringLiteral("Id=7")),
                                QStringLiteral("Orders2\u2028\u2029\u0085"), false);
    EXPECT_EQ(lines.line(7),
              QStringLiteral("Record (CustomerID=5,Name=a\u240Ab),Field \"Note\" has changed from "
                             "\"x\" to NULL"));
    EXPECT_EQ(lines.line(8), "Record Id=7 is not unique in Orders2<U+2028><U+2029><U+0085>");
    EXPECT_EQ(compare::FormatDifference(lines.difference(7), compare::ReportFormat::Csv),
              QStringLiteral("changed,\"(CustomerID=5,Name=a\nb)\",\"Note\",\"x\","));
    EXPECT_EQ(compare::FormatDifference(lines.difference(8), compare::ReportFormat::Json),
              "{\"kind\":\"not-unique\",\"record\":\"Id=7\",\"table\":"
              "\"Orders2\\u2028\\u2029\\u0085\"}");

    // Values of two kinds that read the same keep their kinds, for the line
    // and a saved report to name them.
    lines.appendFieldChange(compare::RecordName(1), QStringLiteral("c"),
                            data::FieldValue::text(u"1"), data::FieldValue::integer(1),
                            compare::ValueFormatter());
    EXPECT_EQ(lines.line(9),
              "Record 1,Field \"c\" has changed from \"1\" (text) to \"1\" (integer)");
    EXPECT_EQ(compare::FormatDifference(lines.difference(9), compare::ReportFormat::Csv),
              "changed,1,\"c\",\"1 (text)\",\"1 (integer)\"");
}

// A field change of short values costs a few dozen bytes, not its text's.
TEST(ResultLines, AMillionChangesStayCompact) {
    ResultLines lines;
    constexpr int kLines = 1'000'000;
    for (int i = 1; i <= kLines; ++i) {
        const QString before = QString::number(i * 3) + QStringLiteral(".2500");
        const QString after = QString::number(i * 3 + 1) + QStringLiteral(".2500");
        lines.appendFieldChange(i, QStringLiteral("Amount"), before, after);
    }
    EXPECT_LE(lines.storedBytes() / kLines, 48u);
    EXPECT_EQ(lines.line(kLines - 1),
              "Record 1000000,Field \"Amount\" has changed from \"3000000.2500\" to "
              "\"3000001.2500\"");
}

TEST(ResultLines, JoinedLinesTakesEachLineOnceInOrder) {
    ResultLines lines;
    for (int i = 0; i < 10; ++i) lines.appendLine(QString::number(i));
    EXPECT_EQ(lines.joinedLines({{7, 8}, {1, 2}, {2, 3}, {8, 8}}), "1\n2\n3\n7\n8");
    EXPECT_EQ(lines.joinedLines({{5, 5}, {6, 6}}), "5\n6");
    EXPECT_EQ(lines.joinedLines({{8, 20}}), "8\n9");
    EXPECT_EQ(lines.joinedLines({}), "");
}

}  // namespace
