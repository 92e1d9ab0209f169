// The HTML page of a comparison: hostile names and values escaped, NULL
// apart from the text 'NULL', the bound on the records shown, and the same
// page from a live run and from the store.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QRegularExpression>

#include "HtmlReport.h"
#include "RecordStore.h"
#include "RecordingSteps.h"
#include "TableComparison.h"
#include "WholeTable.h"

namespace {

using testing_support::WholeTable;

using data::FieldValue;

// Id int, then two text columns whose names are hostile too; a null
// QString() is NULL.
data::ResultTable Table(const std::vector<QStringList>& rows) {
    data::ResultTable t;
    t.addColumn(QStringLiteral("Id"), data::ValueKind::Integer);
    t.addColumn(QStringLiteral("<b>Name</b>"), data::ValueKind::Text);
    t.addColumn(QStringLiteral("Note \"'"), data::ValueKind::Text);
    for (const QStringList& row : rows) {
        t.column(0).append(FieldValue::integer(row[0].toInt()));
        for (int f = 1; f < 3; ++f) {
            t.column(f).append(row[f].isNull() ? FieldValue() : FieldValue::text(row[f]));
        }
    }
    return t;
}

struct Compared {
    QString page;
    compare::RunSummary summary;
    std::unique_ptr<compare::RecordStore> store;
};

// The tables compared by key Id into a page showing at most `shown`
// records, and into a store.
Compared Compare(std::int64_t shown) {
    const auto first = Table({{"1", "<script>alert(1)</script>", "&amp;"},
                              {"2", "a\nb", QString()},
                              {"3", "same", "gone"}});
    const auto second =
        Table({{"1", "x", "&amp;"}, {"2", "a\nb", "NULL"}, {"4", "\"q\" 'r'", "new"}});
    compare::TableComparison comparison(2, {"Id", "<b>Name</b>", "Note \"'", ""});
    const compare::RecordKey key{{0}, {0}, {QStringLiteral("Id")}};
    comparison.PairRecordsBy(key);
    const compare::RecordLayout layout(comparison.Pairs(), key);
    const compare::SideNames names{QStringLiteral("dbo.<A>"), QStringLiteral("B&B")};
    Compared out;
    out.store = std::make_unique<compare::RecordStore>(layout);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    compare::HtmlReport page(buffer, layout, names, shown);
    testing_support::RecordingSteps steps;
    WholeTable a(first), b(second);
    out.summary = comparison.Run(steps, a, b, page.differences());
    // The same comparison again into a store, as the results window keeps it.
    compare::DifferingRecordSink toStore(layout, *out.store);
    WholeTable a2(first), b2(second);
    comparison.Run(steps, a2, b2, toStore);
    out.store->Finish();
    page.differences().AddLine(QStringLiteral("Field \"<i>\" only in dbo.<A>"));
    page.Finish(out.summary);
    out.page = QString::fromUtf8(buffer.data());
    return out;
}

QString Body(const QString& page) {
    return page.mid(
        page.indexOf(QStringLiteral("<tbody>")),
        page.indexOf(QStringLiteral("</tbody>")) - page.indexOf(QStringLiteral("<tbody>")));
}

}  // namespace

TEST(HtmlReportTest, EscapesEverythingAndMarksDifferingCellsAndNulls) {
    const Compared c = Compare(compare::kHtmlRecordsShown);
    const QString& page = c.page;
    EXPECT_TRUE(page.startsWith(
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">")));
    // No markup of a name or value gets through, and nothing is fetched or run.
    for (const char* raw : {"<script", "<b>", "<i>", "<A>", "B&B", "src=", "href="}) {
        EXPECT_FALSE(page.contains(QLatin1String(raw))) << raw;
    }
    EXPECT_TRUE(page.contains(
        QStringLiteral("<th class=\"field\" colspan=\"2\">&lt;b&gt;Name&lt;/b&gt;</th>")));
    EXPECT_TRUE(page.contains(QStringLiteral(">Note &quot;&#39;</th>")));
    EXPECT_TRUE(page.contains(
        QStringLiteral("<th class=\"side\">dbo.&lt;A&gt;</th><th class=\"side\">B&amp;B</th>")));
    EXPECT_TRUE(page.contains(
        QStringLiteral("<li>Field &quot;&lt;i&gt;&quot; only in dbo.&lt;A&gt;</li>")));

    const QStringList rows = Body(page).split(u'\n', Qt::SkipEmptyParts).mid(1);
    ASSERT_EQ(rows.size(), 4) << page.toStdString();
    // Changed: the differing cells marked on both sides, the others not.
    EXPECT_EQ(
        rows[0],
        QStringLiteral(
            "<tr class=\"changed\"><td class=\"key\">1</td><td class=\"kind\">Changed</td>"
            "<td>1</td><td>1</td>"
            "<td class=\"diff\">&lt;script&gt;alert(1)&lt;/script&gt;</td><td class=\"diff\">x</td>"
            "<td>&amp;amp;</td><td>&amp;amp;</td></tr>"));
    // NULL against the text 'NULL'; a line feed shown as the lines show it.
    EXPECT_EQ(rows[1],
              QStringLiteral(
                  "<tr class=\"changed\"><td class=\"key\">2</td><td class=\"kind\">Changed</td>"
                  "<td>2</td><td>2</td><td>a\u240Ab</td><td>a\u240Ab</td>"
                  "<td class=\"diff null\">NULL</td><td class=\"diff\">NULL</td></tr>"));
    // A record one side lacks: that side's cells empty, the row marked by kind.
    EXPECT_EQ(
        rows[2],
        QStringLiteral("<tr class=\"only-first\"><td class=\"key\">3</td>"
                       "<td class=\"kind\">Only in the first table</td>"
                       "<td>3</td><td class=\"absent\"></td><td>same</td><td class=\"absent\"></td>"
                       "<td>gone</td><td class=\"absent\"></td></tr>"));
    EXPECT_TRUE(
        rows[3].startsWith(QStringLiteral("<tr class=\"only-second\"><td class=\"key\">4</td>")));
    EXPECT_TRUE(rows[3].endsWith(
        QStringLiteral("<td class=\"absent\"></td><td>&quot;q&quot; &#39;r&#39;</td>"
                       "<td class=\"absent\"></td><td>new</td></tr>")));
    EXPECT_TRUE(page.contains(QStringLiteral("All 4 differing records are shown.")));
    EXPECT_TRUE(page.contains(QStringLiteral(
        "<p class=\"summary-text\">Summary: 3 records read from dbo.&lt;A&gt; and 3 from B&amp;B; "
        "2 compared, 2 with changed fields (2 fields); 1 added, 1 deleted, 0 not unique; 0.000 "
        "s.</p>")));
    EXPECT_TRUE(page.endsWith(QStringLiteral("</div></body></html>\n")));
}

// At most `shown` records, the rest counted, the numbers whole; a page from
// the store after the run is the page the run wrote.
TEST(HtmlReportTest, BoundsTheRecordsShownAndWritesTheSamePageFromTheStore) {
    const Compared bounded = Compare(2);
    EXPECT_EQ(Body(bounded.page).count(QStringLiteral("<tr ")), 2);
    EXPECT_TRUE(
        bounded.page.contains(QStringLiteral("The first 2 of 4 differing records are shown.")));

    const Compared whole = Compare(compare::kHtmlRecordsShown);
    for (const std::int64_t shown : {std::int64_t{2}, compare::kHtmlRecordsShown}) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        compare::WriteHtmlReport(
            buffer, *whole.store, {QStringLiteral("dbo.<A>"), QStringLiteral("B&B")},
            {QStringLiteral("Field \"<i>\" only in dbo.<A>")}, whole.summary, shown);
        EXPECT_EQ(QString::fromUtf8(buffer.data()), shown == 2 ? bounded.page : whole.page);
    }

    compare::RunSummary many = whole.summary;
    many.changedRecords = 1234565;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    compare::WriteHtmlReport(buffer, *whole.store, {QStringLiteral("A"), QStringLiteral("B")}, {},
                             many, 1000);
    EXPECT_TRUE(
        QString::fromUtf8(buffer.data())
            .contains(QStringLiteral("The first 1,000 of 1,234,567 differing records are shown.")));
}
