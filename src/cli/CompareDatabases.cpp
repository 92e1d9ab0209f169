#include "CompareDatabases.h"

#include <QHash>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "CommandParts.h"
#include "DatabaseComparison.h"
#include "DifferenceLines.h"
#include "ReportWriter.h"

namespace cli {

namespace {

using compare::PairOutcome;

std::vector<QRegularExpression> Patterns(const QStringList& texts) {
    std::vector<QRegularExpression> out;
    for (const QString& t : texts) {
        std::optional<QRegularExpression> p = compare::ShellPattern(t);
        if (!p) fail(QStringLiteral("'%1' is no shell pattern: a [ is not closed").arg(t));
        out.push_back(*p);
    }
    return out;
}

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

// The report: a line a pair as it is done (for a person: aligned columns;
// CSV and JSON for scripts), each pair's difference lines under it when
// asked for, the totals last.
class DatabasesReport {
public:
    DatabasesReport(QIODevice& out, compare::ReportFormat format, qsizetype nameWidth)
        : writer_(out, compare::ReportFormat::Text), format_(format), width_(nameWidth) {
        switch (format_) {
            case compare::ReportFormat::Text:
                writer_.writeLine(compare::PairHeaderRow(width_));
                break;
            case compare::ReportFormat::Csv:
                writer_.writeLine(QStringLiteral(
                    "kind,table,pairing,changed-records,changed-fields,added,deleted,not-unique,"
                    "columns-only-in-one,note,record,field,from,to"));
                break;
            case compare::ReportFormat::Json:
                break;
        }
    }

    void pair(const PairOutcome& o) {
        const QString pairing = compare::PairingText(o);
        switch (format_) {
            case compare::ReportFormat::Text:
                writer_.writeLine(compare::PairLine(o, width_));
                break;
            case compare::ReportFormat::Csv: {
                const bool counted = o.kind == PairOutcome::Kind::Differ;
                const compare::RunSummary& s = o.summary;
                const auto count = [&](std::int64_t n) {
                    return counted ? QString::number(n) : QString();
                };
                QString note = o.note;
                if (o.bothEmpty && note.isEmpty()) note = QStringLiteral("both empty");
                if (s.stoppedAtLimit) note = QStringLiteral("stopped at the limit");
                writer_.writeLine(QStringList{
                    KindName(o.kind), compare::CsvText(o.table),
                    pairing.isEmpty() ? QString() : pairing.mid(3), count(s.changedRecords),
                    count(s.changedFields), count(s.added), count(s.deleted), count(s.notUnique),
                    count(o.columnsOnlyInOne), note.isEmpty() ? QString() : compare::CsvText(note),
                    QString(), QString(), QString(), QString()}
                                      .join(u','));
                break;
            }
            case compare::ReportFormat::Json: {
                QString json = QStringLiteral("{\"kind\":\"%1\",\"table\":%2")
                                   .arg(KindName(o.kind), compare::JsonText(o.table));
                if (!pairing.isEmpty()) {
                    json += QStringLiteral(",\"pairing\":\"%1\"").arg(pairing.mid(3));
                }
                const compare::RunSummary& s = o.summary;
                if (o.kind == PairOutcome::Kind::Differ) {
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
                                .arg(s.stoppedAtLimit ? QStringLiteral("true")
                                                      : QStringLiteral("false"));
                }
                if (o.kind == PairOutcome::Kind::Same) {
                    json +=
                        QStringLiteral(",\"bothEmpty\":%1")
                            .arg(o.bothEmpty ? QStringLiteral("true") : QStringLiteral("false"));
                    if (!o.note.isEmpty())
                        json += QStringLiteral(",\"note\":") + compare::JsonText(o.note);
                }
                if (o.kind == PairOutcome::Kind::NotCompared) {
                    json += QStringLiteral(",\"reason\":") + compare::JsonText(o.note);
                }
                if (o.kind == PairOutcome::Kind::OnlyInFirst ||
                    o.kind == PairOutcome::Kind::OnlyInSecond) {
                    json += QStringLiteral(",\"database\":") + compare::JsonText(o.note);
                }
                writer_.writeLine(json + u'}');
                break;
            }
        }
    }

    // A pair's difference lines as a report of the format wrote them (its
    // header aside), each naming the table.
    void details(QIODevice& lines, const QString& table) {
        lines.seek(0);
        bool header = format_ == compare::ReportFormat::Csv;
        while (!lines.atEnd()) {
            QString line = QString::fromUtf8(lines.readLine());
            if (line.endsWith(u'\n')) line.chop(1);
            if (std::exchange(header, false)) continue;
            switch (format_) {
                case compare::ReportFormat::Text:
                    writer_.writeLine(QStringLiteral("    ") + compare::WithVisibleControls(table) +
                                      QStringLiteral(": ") + line);
                    break;
                case compare::ReportFormat::Csv: {
                    // kind,record,... -> kind,table,<eight empty>,record,...
                    const qsizetype comma = line.indexOf(u',');
                    writer_.writeLine(line.left(comma) + u',' + compare::CsvText(table) +
                                      QStringLiteral(",,,,,,,,") + line.mid(comma));
                    break;
                }
                case compare::ReportFormat::Json:
                    writer_.writeLine(QStringLiteral("{\"pair\":") + compare::JsonText(table) +
                                      u',' + line.mid(1));
                    break;
            }
        }
    }

    // Writes the totals; returns them as the text line says them.
    QString totals(const compare::PairTotals& counts, const connection::LoginDetails& first,
                   const connection::LoginDetails& second) {
        const QString text = compare::TotalsText(counts, first, second);
        switch (format_) {
            case compare::ReportFormat::Text:
                writer_.writeLine(compare::TotalsLine(counts, first, second));
                break;
            case compare::ReportFormat::Csv:
                writer_.writeLine(
                    QStringLiteral("total,,,,,,,,,%1,,,,").arg(compare::CsvText(text)));
                break;
            case compare::ReportFormat::Json:
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
        }
        return text;
    }

private:
    compare::ReportWriter writer_;
    compare::ReportFormat format_;
    qsizetype width_;
};

// A pair's difference lines, as a report of the command's format writes
// them, into a temporary file of the last attempt.
class DetailLines final : public compare::PairDetails {
public:
    explicit DetailLines(compare::ReportFormat format) : format_(format) {}
    compare::DifferenceSink& begin(const compare::SideNames& names) override {
        sink_.reset();
        lines = std::make_unique<QTemporaryFile>();
        if (!lines->open()) throw std::runtime_error("Cannot make a temporary file.");
        sink_.emplace(*lines, format_, names.first, names.second);
        return *sink_;
    }
    void finish(const compare::RunSummary& summary) override { sink_->finish(summary, false); }
    std::unique_ptr<QTemporaryFile> lines;

private:
    compare::ReportFormat format_;
    std::optional<compare::ReportSink> sink_;
};

// One pair compared, and its line (and its difference lines, when asked for)
// in the report.
PairOutcome ComparePair(const DatabasesRequest& request, data::DataAccess& data, std::FILE* err,
                        const compare::TableEntry& entry, const QString& progress,
                        DatabasesReport& report) {
    CommandObserver observer(err);
    observer.progress.begin(progress);
    DetailLines details(request.format);
    PairOutcome outcome;
    try {
        outcome = compare::ComparePair(
            data, {request.first, *entry.first}, {request.second, *entry.second}, request.options,
            observer, [&](compare::ComparisonRun* run) { observer.run = run; },
            request.details ? &details : nullptr);
    } catch (const compare::RunCancelled&) {
        throw Stopped{stopSignal};
    }
    observer.progress.clear();
    report.pair(outcome);
    if (details.lines && outcome.kind == PairOutcome::Kind::Differ) {
        report.details(*details.lines, outcome.table);
    }
    return outcome;
}

}  // namespace

int CompareDatabases(const DatabasesRequest& request, data::DataAccess& data, std::FILE* out,
                     std::FILE* err) {
    const catalogue::CatalogueRead firstList =
        readCatalogue(data, request.first, QStringLiteral("First"));
    const catalogue::CatalogueRead secondList =
        readCatalogue(data, request.second, QStringLiteral("Second"));
    const std::vector<QRegularExpression> tables = Patterns(request.tables);
    const std::vector<QRegularExpression> exclude = Patterns(request.exclude);
    const auto chosen = [&](const catalogue::TableName& t) {
        return (tables.empty() || compare::PatternsName(tables, t)) &&
               !compare::PatternsName(exclude, t);
    };
    const std::vector<compare::TableEntry> entries =
        compare::PairTables(firstList.tables, secondList.tables, chosen);
    // A pattern that names nothing is most likely mistyped: a run over no
    // table would pass for databases that hold the same data.
    for (qsizetype k = 0; k < request.tables.size(); ++k) {
        const auto names = [&](const catalogue::CatalogueRead& list) {
            return std::any_of(
                list.tables.begin(), list.tables.end(), [&](const catalogue::TableName& t) {
                    return compare::PatternsName({tables[static_cast<std::size_t>(k)]}, t);
                });
        };
        if (!names(firstList) && !names(secondList)) {
            fail(QStringLiteral("--tables %1 names no table of either database")
                     .arg(request.tables[k]));
        }
    }
    const qsizetype width = compare::TableColumnWidth(entries);

    watching = 1;
    compare::PairTotals counts;
    QString totalsText;
    WriteReport(request.output, out, [&](QIODevice& device, bool) {
        DatabasesReport report(device, request.format, width);
        for (std::size_t k = 0; k < entries.size(); ++k) {
            if (stopSignal != 0) throw Stopped{stopSignal};
            const compare::TableEntry& e = entries[k];
            PairOutcome outcome;
            if (!e.first || !e.second) {
                outcome = compare::Alone(e, request.first, request.second);
                report.pair(outcome);
            } else {
                // In one pass: a % in a name is no place for the counts.
                const QString progress =
                    QStringLiteral("%1 (%2 of %3)")
                        .arg(compare::WithVisibleControls(e.listed()), QString::number(k + 1),
                             QString::number(entries.size()));
                outcome = ComparePair(request, data, err, e, progress, report);
            }
            counts.count(outcome.kind);
        }
        totalsText = report.totals(counts, request.first, request.second);
    });
    if (request.summary) {
        std::fprintf(err, "Total: %s\n",
                     compare::WithVisibleControls(totalsText).toLocal8Bit().constData());
    }
    if (counts.notCompared > 0) return 2;
    return counts.same == std::int64_t(entries.size()) ? 0 : 1;
}

}  // namespace cli
