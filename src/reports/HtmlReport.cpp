#include "HtmlReport.h"

#include <algorithm>
#include <utility>

#include "DifferenceLines.h"
#include "RecordStore.h"
#include "Summary.h"

namespace compare {

namespace {

// The page's only style. Parts written last (a summary is known only at
// the end) are shown first through `order`; a differing cell is bold as
// well as shaded, NULL italic, so that neither needs colour to be seen.
constexpr const char* kStyle =
    "body{margin:16px;font:13px/1.35 \"Liberation Sans\",Arial,Helvetica,sans-serif;"
    "color:#1a1a1a;background:#fff}"
    ".page,.part,.pair{display:flex;flex-direction:column;gap:8px}"
    ".page>.title{order:0}.page>.overview{order:1}.page>.part,.page>.pair{order:2}"
    ".part>.summary{order:1}.part>.lines{order:2}.part>.count{order:3}.part>.records{order:4}"
    ".pair{border-top:2px solid #8a8a8a;padding-top:6px}"
    "h1{font-size:20px;margin:0}h2{font-size:16px;margin:0}h3{font-size:14px;margin:0}"
    "p,ul{margin:0}ul{padding-left:20px}"
    ".records{overflow-x:auto}.records table{width:max-content}"
    "table{border-collapse:collapse}"
    "th,td{border:1px solid #b8b8b8;padding:2px 6px;text-align:left;vertical-align:top}"
    "th{background:#e6e9ed}th.side{font-weight:normal;font-size:12px}"
    "td{white-space:pre-wrap;overflow-wrap:break-word;max-width:40em}"
    ".num{text-align:right}td.kind{white-space:nowrap}"
    "td.diff{background:#ffd98a;font-weight:bold}"
    "td.null{font-style:italic;color:#666}td.diff.null{color:#4d3800}"
    "td.absent{background:repeating-linear-gradient(135deg,#f4f4f4 0 4px,#e0e0e0 4px 8px)}"
    "tr.only-first td.kind,tr.only-second td.kind{font-style:italic}"
    "tr.total td{font-weight:bold;background:#f4f4f4}"
    ".stopped{font-weight:bold}";

QString KindClass(DifferingRecord::Kind kind) {
    switch (kind) {
        case DifferingRecord::Kind::Changed:
            return QStringLiteral("changed");
        case DifferingRecord::Kind::OnlyInFirst:
            return QStringLiteral("only-first");
        case DifferingRecord::Kind::OnlyInSecond:
            return QStringLiteral("only-second");
    }
    return {};
}

QString Element(const char* tag, const QString& cls, const QString& html) {
    const QLatin1String t(tag);
    return QString(u'<') + t +
           (cls.isEmpty() ? QString() : QStringLiteral(" class=\"") + cls + u'"') + u'>' + html +
           QStringLiteral("</") + t + u'>';
}

// The counts of the summary, a row a measure, for a reader who looks for one.
QString CountsTable(const RunSummary& s, const SideNames& names) {
    QString rows;
    const auto row = [&](const QString& measure, std::int64_t n) {
        rows += QStringLiteral("<tr><th>") + HtmlText(measure) +
                QStringLiteral("</th><td class=\"num\">") + WholeCount(n) +
                QStringLiteral("</td></tr>");
    };
    row(QStringLiteral("Records read from ") + names.first, s.firstRead);
    row(QStringLiteral("Records read from ") + names.second, s.secondRead);
    row(QStringLiteral("Compared"), s.compared);
    row(QStringLiteral("With changed fields"), s.changedRecords);
    row(QStringLiteral("Changed fields"), s.changedFields);
    row(QStringLiteral("Added"), s.added);
    row(QStringLiteral("Deleted"), s.deleted);
    row(QStringLiteral("Not unique"), s.notUnique);
    return QStringLiteral("<table class=\"counts\">") + rows + QStringLiteral("</table>");
}

}  // namespace

QString HtmlText(QStringView text) {
    // Qt's escape leaves the apostrophe, which ends a value quoted with it.
    return WithVisibleControls(text).toHtmlEscaped().replace(u'\'', QStringLiteral("&#39;"));
}

QString WholeCount(std::int64_t n) {
    QString digits = QString::number(n < 0 ? -n : n);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, u',');
    return n < 0 ? u'-' + digits : digits;
}

void WriteHtmlStart(ReportWriter& out, const QString& title) {
    out.writeLine(QStringLiteral("<!DOCTYPE html>"));
    out.writeLine(QStringLiteral("<html lang=\"en\"><head><meta charset=\"utf-8\">"));
    out.writeLine(QStringLiteral("<meta name=\"viewport\" content=\"width=device-width\">"));
    out.writeLine(QStringLiteral("<title>") + HtmlText(title) + QStringLiteral("</title>"));
    out.writeLine(QStringLiteral("<style>") + QLatin1String(kStyle) + QStringLiteral("</style>"));
    out.writeLine(QStringLiteral("</head><body><div class=\"page\">"));
    out.writeLine(Element("h1", QStringLiteral("title"), HtmlText(title)));
}

void WriteHtmlEnd(ReportWriter& out) { out.writeLine(QStringLiteral("</div></body></html>")); }

HtmlDifferences::HtmlDifferences(QIODevice& out, RecordLayout layout, SideNames names,
                                 std::int64_t shown)
    : out_(out, ReportFormat::Text),
      layout_(layout),
      names_(std::move(names)),
      shown_(shown),
      records_(std::move(layout), *this) {}

void HtmlDifferences::FieldChanged(const RecordName& record, const QString& fieldName,
                                   const data::FieldValue& first, const data::FieldValue& second) {
    ++differences_;
    if (wanted()) records_.FieldChanged(record, fieldName, first, second);
}

void HtmlDifferences::RecordDeleted(const RecordName& record) {
    ++differences_;
    if (wanted()) records_.RecordDeleted(record);
}

void HtmlDifferences::RecordAdded(const RecordName& record) {
    ++differences_;
    if (wanted()) records_.RecordAdded(record);
}

void HtmlDifferences::RecordNotUnique(const RecordName& record, bool inFirstTable) {
    ++differences_;
    AddLine(RecordNotUniqueLine(record, inFirstTable ? names_.first : names_.second));
}

void HtmlDifferences::FieldOnlyIn(const QString& fieldName, bool inFirstTable) {
    ++differences_;
    AddLine(FieldOnlyInLine(fieldName, inFirstTable ? names_.first : names_.second));
}

void HtmlDifferences::RecordsDiffer(const RecordRow& first, const RecordRow& second) {
    if (wanted()) records_.RecordsDiffer(first, second);
}

void HtmlDifferences::AddLine(const QString& line) {
    if (lineCount_++ < shown_) lines_ << line;
}

void HtmlDifferences::open() {
    if (std::exchange(opened_, true)) return;
    out_.writeLine(QStringLiteral("<div class=\"part\">"));
}

void HtmlDifferences::openTable() {
    open();
    tableOpened_ = true;
    const QString twoRows = QStringLiteral(" rowspan=\"2\"");
    QString top = QStringLiteral("<thead><tr>");
    if (layout_.byKey()) {
        for (const QString& k : layout_.keyNames) {
            top += QStringLiteral("<th class=\"key\"") + twoRows + u'>' + HtmlText(k) +
                   QStringLiteral("</th>");
        }
    } else {
        top += QStringLiteral("<th class=\"key\"") + twoRows + QStringLiteral(">Record</th>");
    }
    top += QStringLiteral("<th class=\"kind\"") + twoRows + QStringLiteral(">Kind</th>");
    QString sides = QStringLiteral("<tr>");
    const QString first = HtmlText(names_.first), second = HtmlText(names_.second);
    for (const FieldPairing& f : layout_.fields) {
        top += QStringLiteral("<th class=\"field\" colspan=\"2\">") + HtmlText(f.name) +
               QStringLiteral("</th>");
        sides += QStringLiteral("<th class=\"side\">") + first +
                 QStringLiteral("</th><th class=\"side\">") + second + QStringLiteral("</th>");
    }
    out_.writeLine(QStringLiteral("<div class=\"records\"><table>"));
    out_.writeLine(top + QStringLiteral("</tr>"));
    out_.writeLine(sides + QStringLiteral("</tr></thead><tbody>"));
}

QString HtmlDifferences::cell(const ValueCell& value, bool differs, bool absent) const {
    QStringList classes;
    if (differs) classes << QStringLiteral("diff");
    if (absent) {
        classes << QStringLiteral("absent");
    } else if (!value) {
        classes << QStringLiteral("null");
    }
    return Element("td", classes.join(u' '),
                   absent ? QString() : (value ? HtmlText(*value) : QStringLiteral("NULL")));
}

void HtmlDifferences::Take(const DifferingRecord& record) {
    if (taken_++ >= shown_) return;
    if (!tableOpened_) openTable();
    QString row = QStringLiteral("<tr class=\"") + KindClass(record.kind) + QStringLiteral("\">");
    if (layout_.byKey()) {
        for (const ValueCell& k : record.key) {
            row += Element("td", k ? QStringLiteral("key") : QStringLiteral("key null"),
                           k ? HtmlText(*k) : QStringLiteral("NULL"));
        }
    } else {
        row += Element("td", QStringLiteral("key num"), HtmlText(record.name));
    }
    row += Element("td", QStringLiteral("kind"), HtmlText(KindWord(record.kind)));
    const bool hasFirst = record.has(true), hasSecond = record.has(false);
    for (std::size_t k = 0; k < layout_.fields.size(); ++k) {
        const bool differs = k < record.differs.size() && record.differs[k];
        row += cell(hasFirst ? record.first[k] : ValueCell(), differs, !hasFirst);
        row += cell(hasSecond ? record.second[k] : ValueCell(), differs, !hasSecond);
    }
    out_.writeLine(row + QStringLiteral("</tr>"));
}

void HtmlDifferences::Finish(const RunSummary& s) {
    open();
    if (tableOpened_) out_.writeLine(QStringLiteral("</tbody></table></div>"));
    // The summary's counts, which a run stopped at its limit counts as far as it got.
    const std::int64_t records = s.differingRecords();
    QString count;
    if (records == 0) {
        count = QStringLiteral("No differing records.");
    } else if (records <= shown_) {
        count =
            records == 1
                ? QStringLiteral("The 1 differing record is shown.")
                : QStringLiteral("All %1 differing records are shown.").arg(WholeCount(records));
    } else {
        count = QStringLiteral("The first %1 of %2 differing records are shown.")
                    .arg(WholeCount(shown_), WholeCount(records));
    }
    out_.writeLine(Element("p", QStringLiteral("count"), count));
    if (lineCount_ > 0) {
        out_.writeLine(QStringLiteral("<section class=\"lines\"><h3>Other differences</h3><ul>"));
        for (const QString& line : std::as_const(lines_))
            out_.writeLine(Element("li", {}, HtmlText(line)));
        out_.writeLine(QStringLiteral("</ul>"));
        if (lineCount_ > shown_) {
            out_.writeLine(Element("p", QStringLiteral("count"),
                                   QStringLiteral("The first %1 of %2 other lines are shown.")
                                       .arg(WholeCount(shown_), WholeCount(lineCount_))));
        }
        out_.writeLine(QStringLiteral("</section>"));
    }
    out_.writeLine(QStringLiteral("<section class=\"summary\"><h3>Summary</h3>"));
    if (s.stoppedAtLimit) {
        out_.writeLine(
            Element("p", QStringLiteral("stopped"), HtmlText(StoppedAtLimitText(s.limit))));
    }
    out_.writeLine(Element("p", QStringLiteral("summary-text"),
                           HtmlText(SummaryText(s, names_.first, names_.second))));
    out_.writeLine(CountsTable(s, names_));
    out_.writeLine(
        Element("p", QStringLiteral("options"),
                QStringLiteral("Options: ") +
                    (s.options.isEmpty() ? QStringLiteral("none") : HtmlText(s.options))));
    out_.writeLine(QStringLiteral("</section></div>"));
}

HtmlReport::HtmlReport(QIODevice& out, const RecordLayout& layout, const SideNames& names,
                       std::int64_t shown)
    : page_(out, ReportFormat::Text), differences_(out, layout, names, shown) {
    WriteHtmlStart(page_, QStringLiteral("%1 compared with %2").arg(names.first, names.second));
}

void HtmlReport::Finish(const RunSummary& summary) {
    differences_.Finish(summary);
    WriteHtmlEnd(page_);
}

void WriteHtmlReport(QIODevice& out, const RecordStore& store, const SideNames& names,
                     const QStringList& otherLines, const RunSummary& summary, std::int64_t shown) {
    HtmlReport page(out, store.layout(), names, shown);
    for (const QString& line : otherLines) page.differences().AddLine(line);
    const std::int64_t wanted = std::min(store.count(RecordFilter::All), shown);
    constexpr int kPage = 256;
    for (std::int64_t from = 0; from < wanted; from += kPage) {
        const int n = static_cast<int>(std::min<std::int64_t>(kPage, wanted - from));
        for (const DifferingRecord& r : store.records(RecordFilter::All, from, n)) {
            page.differences().Take(r);
        }
    }
    page.Finish(summary);
}

}  // namespace compare
