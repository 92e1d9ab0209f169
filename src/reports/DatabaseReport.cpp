#include "DatabaseReport.h"

#include <QStringList>
#include <utility>

#include "DifferenceLines.h"
#include "HtmlReport.h"
#include "Summary.h"

namespace compare {

namespace {

// The kind of a pair as CSV and JSON name it.
QString KindName(PairOutcome::Kind kind) {
    using Kind = PairOutcome::Kind;
    switch (kind) {
        case Kind::Same:
            return QStringLiteral("same");
        case Kind::Differ:
            return QStringLiteral("differ");
        case Kind::NotCompared:
            return QStringLiteral("not-compared");
        case Kind::OnlyInFirst:
            return QStringLiteral("only-in-first");
        case Kind::OnlyInSecond:
            return QStringLiteral("only-in-second");
    }
    return QString();
}

QString JsonBool(bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); }

// The next record of a CSV report, without its line end: a quoted field may
// hold line breaks, so a record ends only at a line feed outside quotes.
QString NextCsvRecord(QIODevice& lines) {
    QByteArray record;
    bool quoted = false;
    char c = 0;
    while (lines.getChar(&c)) {
        if (c == '"') quoted = !quoted;
        if (c == '\n' && !quoted) break;
        record += c;
    }
    return QString::fromUtf8(record);
}

}  // namespace

QString DatabaseLabel(const connection::LoginDetails& login, Side side) {
    return login.database.isEmpty() ? QStringLiteral("the %1 database").arg(SideWord(side))
                                    : login.database;
}

QString ResultText(const PairOutcome& o) {
    using Kind = PairOutcome::Kind;
    switch (o.kind) {
        case Kind::Same:
            if (o.bothEmpty) return QStringLiteral("same (both empty)");
            return o.note.isEmpty() ? QStringLiteral("same")
                                    : QStringLiteral("same: ") + WithVisibleControls(o.note);
        case Kind::Differ: {
            const RunSummary& s = o.summary;
            QString text = QStringLiteral("differ: %1 changed (%2), %3 added, %4 deleted")
                               .arg(s.changedRecords)
                               .arg(Counted(s.changedFields, u"field"))
                               .arg(s.added)
                               .arg(s.deleted);
            if (s.notUnique > 0) text += QStringLiteral(", %1 not unique").arg(s.notUnique);
            if (o.columnsOnlyInOne > 0) {
                text += QStringLiteral(", %1 only in one table")
                            .arg(Counted(o.columnsOnlyInOne, u"column"));
            }
            if (s.stoppedAtLimit) text += QStringLiteral("; stopped at the limit");
            return text;
        }
        case Kind::NotCompared:
            return QStringLiteral("not compared: ") + WithVisibleControls(o.note);
        case Kind::OnlyInFirst:
        case Kind::OnlyInSecond:
            return QStringLiteral("only in ") + WithVisibleControls(o.note);
    }
    return QString();
}

QString PairingText(const PairOutcome& o) {
    // A table alone was paired with nothing.
    if (o.kind == PairOutcome::Kind::OnlyInFirst || o.kind == PairOutcome::Kind::OnlyInSecond) {
        return QString();
    }
    return o.byKey ? QStringLiteral("by key") : QStringLiteral("by position");
}

QString PairRow(const QString& table, const QString& pairing, const QString& result,
                qsizetype width) {
    return table.leftJustified(width) + QStringLiteral("  ") + pairing.leftJustified(11) +
           QStringLiteral("  ") + result;
}

QString PairHeaderRow(qsizetype width) {
    return PairRow(QStringLiteral("Table"), QStringLiteral("Pairing"), QStringLiteral("Result"),
                   width);
}

QString PairLine(const PairOutcome& o, qsizetype width) {
    const QString pairing = PairingText(o);
    return PairRow(WithVisibleControls(o.table), pairing.isEmpty() ? QStringLiteral("-") : pairing,
                   ResultText(o), width);
}

qsizetype TableColumnWidth(const std::vector<TableEntry>& entries) {
    qsizetype width = 5;  // "Table"
    for (const TableEntry& e : entries) {
        width = std::max(width, WithVisibleControls(e.listed()).size());
    }
    return width;
}

void PairTotals::count(PairOutcome::Kind kind) {
    using Kind = PairOutcome::Kind;
    switch (kind) {
        case Kind::Same:
            ++same;
            break;
        case Kind::Differ:
            ++differ;
            break;
        case Kind::NotCompared:
            ++notCompared;
            break;
        case Kind::OnlyInFirst:
            ++onlyInFirst;
            break;
        case Kind::OnlyInSecond:
            ++onlyInSecond;
            break;
    }
}

QString TotalsText(const PairTotals& totals, const connection::LoginDetails& first,
                   const connection::LoginDetails& second) {
    // In one pass: a % in a database's name is no place for the counts.
    return QStringLiteral("%1: %2 the same, %3, %4 not compared, %5 only in %6, %7 only in %8.")
        .arg(Counted(totals.tables(), u"table"), QString::number(totals.same),
             QString::number(totals.differ) +
                 (totals.differ == 1 ? QStringLiteral(" differs") : QStringLiteral(" differ")),
             QString::number(totals.notCompared), QString::number(totals.onlyInFirst),
             DatabaseLabel(first, Side::First), QString::number(totals.onlyInSecond),
             DatabaseLabel(second, Side::Second));
}

QString TotalsLine(const PairTotals& totals, const connection::LoginDetails& first,
                   const connection::LoginDetails& second) {
    return QStringLiteral("Total: ") + WithVisibleControls(TotalsText(totals, first, second));
}

QString PairProgressText(const QString& table, std::size_t index, std::size_t count) {
    // In one pass: a % in a name is no place for the counts.
    return QStringLiteral("%1 (%2 of %3)")
        .arg(WithVisibleControls(table), QString::number(index + 1), QString::number(count));
}

DatabaseReportWriter::DatabaseReportWriter(QIODevice& out, ReportFormat format, qsizetype nameWidth)
    : writer_(out, ReportFormat::Text), format_(format), width_(nameWidth) {
    switch (format_) {
        case ReportFormat::Text:
            writer_.writeLine(PairHeaderRow(width_));
            break;
        case ReportFormat::Csv:
            writer_.writeLine(QStringLiteral(
                "kind,table,pairing,changed-records,changed-fields,added,deleted,not-unique,"
                "columns-only-in-one,note,record,field,from,to"));
            break;
        case ReportFormat::Json:
            break;
        case ReportFormat::Html:
            WriteHtmlStart(writer_, QStringLiteral("Two databases compared"));
            break;
    }
}

void DatabaseReportWriter::pair(const PairOutcome& o) {
    switch (format_) {
        case ReportFormat::Text:
            writer_.writeLine(PairLine(o, width_));
            break;
        case ReportFormat::Csv:
            writer_.writeLine(csvLine(o));
            break;
        case ReportFormat::Json:
            writer_.writeLine(jsonLine(o));
            break;
        case ReportFormat::Html:
            overview_.emplace_back(o, false);
            break;
    }
}

QString DatabaseReportWriter::csvLine(const PairOutcome& o) const {
    const QString pairing = PairingText(o);
    const bool counted = o.kind == PairOutcome::Kind::Differ;
    const RunSummary& s = o.summary;
    const auto count = [&](std::int64_t n) { return counted ? QString::number(n) : QString(); };
    QString note = o.note;
    if (o.bothEmpty && note.isEmpty()) note = QStringLiteral("both empty");
    if (s.stoppedAtLimit) note = QStringLiteral("stopped at the limit");
    return QStringList{KindName(o.kind),
                       CsvText(o.table),
                       pairing.isEmpty() ? QString() : pairing.mid(3),
                       count(s.changedRecords),
                       count(s.changedFields),
                       count(s.added),
                       count(s.deleted),
                       count(s.notUnique),
                       count(o.columnsOnlyInOne),
                       note.isEmpty() ? QString() : CsvText(note),
                       QString(),
                       QString(),
                       QString(),
                       QString()}
        .join(u',');
}

QString DatabaseReportWriter::jsonLine(const PairOutcome& o) const {
    using Kind = PairOutcome::Kind;
    const QString pairing = PairingText(o);
    QString json =
        QStringLiteral("{\"kind\":\"%1\",\"table\":%2").arg(KindName(o.kind), JsonText(o.table));
    if (!pairing.isEmpty()) json += QStringLiteral(",\"pairing\":\"%1\"").arg(pairing.mid(3));
    const RunSummary& s = o.summary;
    switch (o.kind) {
        case Kind::Differ:
            json += QStringLiteral(
                        ",\"changedRecords\":%1,\"changedFields\":%2,\"added\":%3,"
                        "\"deleted\":%4,\"notUnique\":%5,\"columnsOnlyInOne\":%6,"
                        "\"stoppedAtLimit\":%7")
                        .arg(s.changedRecords)
                        .arg(s.changedFields)
                        .arg(s.added)
                        .arg(s.deleted)
                        .arg(s.notUnique)
                        .arg(o.columnsOnlyInOne)
                        .arg(JsonBool(s.stoppedAtLimit));
            break;
        case Kind::Same:
            json += QStringLiteral(",\"bothEmpty\":%1").arg(JsonBool(o.bothEmpty));
            if (!o.note.isEmpty()) json += QStringLiteral(",\"note\":") + JsonText(o.note);
            break;
        case Kind::NotCompared:
            json += QStringLiteral(",\"reason\":") + JsonText(o.note);
            break;
        case Kind::OnlyInFirst:
        case Kind::OnlyInSecond:
            json += QStringLiteral(",\"database\":") + JsonText(o.note);
            break;
    }
    return json + u'}';
}

void DatabaseReportWriter::details(QIODevice& lines, const QString& table) {
    lines.seek(0);
    if (format_ == ReportFormat::Html) {
        if (overview_.empty()) return;
        overview_.back().second = true;
        writer_.writeLine(QStringLiteral("<section class=\"pair\" id=\"pair-%1\"><h2>%2</h2>")
                              .arg(QString::number(overview_.size()), HtmlText(table)));
        writer_.writeLine(QStringLiteral("<p class=\"result\">") +
                          HtmlText(ResultText(overview_.back().first)) + QStringLiteral("</p>"));
        while (!lines.atEnd()) {
            QByteArray line = lines.readLine();
            if (line.endsWith('\n')) line.chop(1);
            writer_.writeLine(QString::fromUtf8(line));
        }
        writer_.writeLine(QStringLiteral("</section>"));
        return;
    }
    bool header = format_ == ReportFormat::Csv;
    while (!lines.atEnd()) {
        // Text and JSON lines hold no line break of a value; CSV fields may.
        QString line;
        if (format_ == ReportFormat::Csv) {
            line = NextCsvRecord(lines);
        } else {
            line = QString::fromUtf8(lines.readLine());
            if (line.endsWith(u'\n')) line.chop(1);
        }
        if (std::exchange(header, false)) continue;
        switch (format_) {
            case ReportFormat::Text:
                writer_.writeLine(QStringLiteral("    ") + WithVisibleControls(table) +
                                  QStringLiteral(": ") + line);
                break;
            case ReportFormat::Csv: {
                // kind,record,... -> kind,table,<eight empty>,record,...; the
                // kind is a bare word, so its comma is the first.
                const qsizetype comma = line.indexOf(u',');
                writer_.writeLine(line.left(comma) + u',' + CsvText(table) +
                                  QStringLiteral(",,,,,,,,") + line.mid(comma));
                break;
            }
            case ReportFormat::Json:
                writer_.writeLine(QStringLiteral("{\"pair\":") + JsonText(table) + u',' +
                                  line.mid(1));
                break;
            case ReportFormat::Html:
                break;
        }
    }
}

QString DatabaseReportWriter::totals(const PairTotals& counts,
                                     const connection::LoginDetails& first,
                                     const connection::LoginDetails& second) {
    const QString text = TotalsText(counts, first, second);
    switch (format_) {
        case ReportFormat::Text:
            writer_.writeLine(TotalsLine(counts, first, second));
            break;
        case ReportFormat::Csv:
            writer_.writeLine(QStringLiteral("total,,,,,,,,,%1,,,,").arg(CsvText(text)));
            break;
        case ReportFormat::Json:
            writer_.writeLine(QStringLiteral("{\"kind\":\"total\",\"tables\":%1,\"same\":%2,"
                                             "\"differ\":%3,\"notCompared\":%4,"
                                             "\"onlyInFirst\":%5,\"onlyInSecond\":%6}")
                                  .arg(counts.tables())
                                  .arg(counts.same)
                                  .arg(counts.differ)
                                  .arg(counts.notCompared)
                                  .arg(counts.onlyInFirst)
                                  .arg(counts.onlyInSecond));
            break;
        case ReportFormat::Html:
            htmlOverview(counts, first, second);
            break;
    }
    return text;
}

void DatabaseReportWriter::htmlOverview(const PairTotals& counts,
                                        const connection::LoginDetails& first,
                                        const connection::LoginDetails& second) {
    using Kind = PairOutcome::Kind;
    const auto cell = [](const QString& cls, const QString& html) {
        return (cls.isEmpty() ? QStringLiteral("<td>")
                              : QStringLiteral("<td class=\"") + cls + QStringLiteral("\">")) +
               html + QStringLiteral("</td>");
    };
    const auto number = [&](std::int64_t n) { return cell(QStringLiteral("num"), WholeCount(n)); };
    writer_.writeLine(QStringLiteral(
        "<section class=\"overview\"><h2>Tables</h2><table><thead><tr><th>Table</th>"
        "<th>Pairing</th><th>Result</th><th class=\"num\">Changed</th>"
        "<th class=\"num\">Added</th><th class=\"num\">Deleted</th>"
        "<th class=\"num\">Columns only in one table</th><th class=\"num\">Time (s)</th>"
        "</tr></thead><tbody>"));
    RunSummary sum;
    std::int64_t columns = 0, ms = 0;
    for (std::size_t k = 0; k < overview_.size(); ++k) {
        const auto& [o, section] = overview_[k];
        const QString name = HtmlText(o.table);
        QString row =
            QStringLiteral("<tr class=\"") + KindName(o.kind) + QStringLiteral("\">") +
            cell(QStringLiteral("table"), section ? QStringLiteral("<a href=\"#pair-%1\">%2</a>")
                                                        .arg(QString::number(k + 1), name)
                                                  : name) +
            cell({}, HtmlText(PairingText(o))) +
            cell(QStringLiteral("result"), HtmlText(ResultText(o)));
        if (o.kind == Kind::Same || o.kind == Kind::Differ) {
            const RunSummary& s = o.summary;
            row += number(s.changedRecords) + number(s.added) + number(s.deleted) +
                   number(o.columnsOnlyInOne) +
                   cell(QStringLiteral("num"),
                        QString::number(static_cast<double>(s.elapsedMs) / 1000.0, 'f', 3));
            sum.changedRecords += s.changedRecords;
            sum.added += s.added;
            sum.deleted += s.deleted;
            columns += o.columnsOnlyInOne;
            ms += s.elapsedMs;
        } else {
            row += QStringLiteral("<td></td><td></td><td></td><td></td><td></td>");
        }
        writer_.writeLine(row + QStringLiteral("</tr>"));
    }
    writer_.writeLine(
        QStringLiteral("</tbody><tfoot><tr class=\"total\">") + cell({}, QStringLiteral("Total")) +
        cell({}, QString()) +
        cell(QStringLiteral("result"), HtmlText(TotalsText(counts, first, second))) +
        number(sum.changedRecords) + number(sum.added) + number(sum.deleted) + number(columns) +
        cell(QStringLiteral("num"), QString::number(static_cast<double>(ms) / 1000.0, 'f', 3)) +
        QStringLiteral("</tr></tfoot></table></section>"));
    WriteHtmlEnd(writer_);
}

}  // namespace compare
