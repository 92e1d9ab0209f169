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
#include "DatabaseReport.h"
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
                        compare::DatabaseReportWriter& report) {
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
        compare::DatabaseReportWriter report(device, request.format, width);
        for (std::size_t k = 0; k < entries.size(); ++k) {
            if (stopSignal != 0) throw Stopped{stopSignal};
            const compare::TableEntry& e = entries[k];
            PairOutcome outcome;
            if (!e.first || !e.second) {
                outcome = compare::Alone(e, request.first, request.second);
                report.pair(outcome);
            } else {
                const QString progress = compare::PairProgressText(e.listed(), k, entries.size());
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
