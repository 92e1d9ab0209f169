#include "CompareDatabases.h"

#include <QRegularExpression>
#include <QTemporaryFile>
#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "DatabaseComparison.h"
#include "DatabaseReport.h"
#include "DifferenceLines.h"
#include "Failure.h"
#include "HtmlReport.h"
#include "RecordKey.h"
#include "ReportOutput.h"
#include "ReportWriter.h"
#include "SharedOptions.h"
#include "Terminal.h"

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

// A pattern that names nothing is most likely mistyped: a run over no table
// would pass for databases that hold the same data.
void RefuseUnusedPatterns(const QStringList& texts, const std::vector<QRegularExpression>& tables,
                          const compare::DatabaseComparison& comparison) {
    for (std::size_t k = 0; k < tables.size(); ++k) {
        const auto names = [&](compare::Side side) {
            const std::vector<catalogue::TableName>& listed = comparison.Listed(side).tables;
            return std::any_of(listed.begin(), listed.end(), [&](const catalogue::TableName& t) {
                return compare::PatternsName({tables[k]}, t);
            });
        };
        if (!names(compare::Side::First) && !names(compare::Side::Second)) {
            fail(QStringLiteral("--tables %1 names no table of either database")
                     .arg(texts[static_cast<qsizetype>(k)]));
        }
    }
}

// A pair's difference lines, as a report of the command's format writes
// them (a page's part of the pair with its records, for HTML), into a
// temporary file of the last attempt.
class DetailLines final : public compare::PairDetails {
public:
    explicit DetailLines(compare::ReportFormat format) : format_(format) {}
    compare::DifferenceSink& begin(const compare::SideNames& names,
                                   const compare::RecordLayout& layout) override {
        sink_.reset();
        page_.reset();
        lines = std::make_unique<QTemporaryFile>();
        if (!lines->open()) throw std::runtime_error("Cannot make a temporary file.");
        if (format_ == compare::ReportFormat::Html) return page_.emplace(*lines, layout, names);
        return sink_.emplace(*lines, format_, names.first, names.second);
    }
    void finish(const compare::RunSummary& summary) override {
        if (page_) {
            page_->Finish(summary);
        } else {
            sink_->finish(summary, false);
        }
    }
    std::unique_ptr<QTemporaryFile> lines;

private:
    compare::ReportFormat format_;
    std::optional<compare::ReportSink> sink_;
    std::optional<compare::HtmlDifferences> page_;
};

// The report written a pair at a time as each is done, a progress line on a
// terminal while a pair is compared, and a stop signal that cancels the run.
class ReportingObserver final : public compare::DatabaseObserver {
public:
    ReportingObserver(compare::DatabaseComparison& comparison,
                      compare::DatabaseReportWriter& report, std::FILE* err,
                      const DatabasesRequest& request)
        : comparison_(comparison), report_(report), err_(err), request_(request) {}

    void Waiting() override {
        if (stopSignal != 0) comparison_.Cancel();
    }
    void Progress(std::int64_t read, std::optional<std::int64_t> expected) override {
        if (progress_) progress_->update(read, expected);
    }
    void PairStarting(const compare::TableEntry& entry, std::size_t index,
                      std::size_t count) override {
        if (stopSignal != 0) comparison_.Cancel();
        progress_.reset();
        details_.reset();
        if (!entry.first || !entry.second) return;  // a table alone is not read
        progress_.emplace(err_);
        progress_->begin(compare::PairProgressText(entry.listed(), index, count));
        // A page shows each pair's records whether asked or not: it is read by a person.
        if (request_.details || request_.format == compare::ReportFormat::Html) {
            details_.emplace(request_.format);
        }
    }
    compare::PairDetails* Details() override { return details_ ? &*details_ : nullptr; }
    void PairDone(const PairOutcome& outcome) override {
        if (progress_) progress_->clear();
        report_.pair(outcome);
        if (details_ && details_->lines && outcome.kind == PairOutcome::Kind::Differ) {
            report_.details(*details_->lines, outcome.table);
        }
    }

private:
    compare::DatabaseComparison& comparison_;
    compare::DatabaseReportWriter& report_;
    std::FILE* err_;
    const DatabasesRequest& request_;
    std::optional<ProgressLine> progress_;
    std::optional<DetailLines> details_;
};

void DescribeDatabases(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Compares every table of the first database with the table of the same schema and\n"
        "name in the second (--right-database or --right-server says which), one line a\n"
        "pair, totals last (see dorvantis --help for the logins and passwords).\n"
        "Exit status: 0 all the same, 1 anything differs or a table is in one database\n"
        "only, 2 a pair could not be compared, 130 stopped by SIGINT."));
    parser.addPositionalArgument(QStringLiteral("compare-databases"),
                                 QStringLiteral("The command."));
    AddSharedOptions(parser, false);
    AddDatabasesOptions(parser);
}

// The options compare-databases cannot use, refused before anything is read.
void RefuseWhatDoesNotApply(const QCommandLineParser& parser) {
    if (parser.positionalArguments().size() != 1) {
        usageError(QStringLiteral("compare-databases takes no table names"));
    }
    for (const QString& pattern :
         parser.values(QStringLiteral("tables")) + parser.values(QStringLiteral("exclude"))) {
        if (!compare::ShellPattern(pattern)) {
            usageError(QStringLiteral("'%1' is no shell pattern").arg(pattern));
        }
    }
    if (parser.value(QStringLiteral("format")) == QStringLiteral("sql")) {
        usageError(
            QStringLiteral("compare-databases writes no script: compare a pair with --format sql"));
    }
    if (parser.isSet(QStringLiteral("map"))) {
        usageError(QStringLiteral(
            "compare-databases takes no --map: it pairs the columns of two tables (compare)"));
    }
    const std::optional<compare::KeyChoice> key =
        compare::KeyChoice::FromOption(parser.value(QStringLiteral("key")));
    if (parser.isSet(QStringLiteral("key")) && key && !key->automatic) {
        usageError(QStringLiteral(
            "compare-databases takes --key auto: each table by its own primary key"));
    }
}

}  // namespace

void AddDatabasesOptions(QCommandLineParser& parser) {
    parser.addOptions({
        QCommandLineOption(QStringLiteral("tables"),
                           QStringLiteral("compare-databases: only the tables the shell PATTERN "
                                          "names (may be repeated)."),
                           QStringLiteral("PATTERN")),
        QCommandLineOption(QStringLiteral("exclude"),
                           QStringLiteral("compare-databases: not the tables the shell PATTERN "
                                          "names (may be repeated)."),
                           QStringLiteral("PATTERN")),
        QCommandLineOption(
            QStringLiteral("details"),
            QStringLiteral("compare-databases: each pair's difference lines under its line.")),
        QCommandLineOption(
            QStringLiteral("views"),
            QStringLiteral("compare-databases: views are paired by name too, as tables are.")),
    });
}

int RunCompareDatabases(const QStringList& arguments, data::DataAccess& data, std::FILE* out,
                        std::FILE* err) {
    QCommandLineParser parser;
    DescribeDatabases(parser);
    if (!ParseArguments(parser, arguments, out)) return 0;
    RefuseWhatDoesNotApply(parser);
    SharedRequest shared;
    ReadSharedOptions(parser, shared);
    if (compare::SameDatabase(shared.first, shared.second)) {
        usageError(QStringLiteral(
            "compare-databases needs a second database: --right-database or --right-server"));
    }
    DatabasesRequest request{shared.first,
                             shared.second,
                             shared.options,
                             *shared.format,
                             shared.output,
                             parser.values(QStringLiteral("tables")),
                             parser.values(QStringLiteral("exclude")),
                             parser.isSet(QStringLiteral("details")),
                             shared.summary,
                             parser.isSet(QStringLiteral("views"))};
    return CompareDatabases(request, data, out, err);
}

int CompareDatabases(const DatabasesRequest& request, data::DataAccess& data, std::FILE* out,
                     std::FILE* err) {
    const std::vector<QRegularExpression> tables = Patterns(request.tables);
    const std::vector<QRegularExpression> exclude = Patterns(request.exclude);
    compare::DatabaseComparison comparison(data, request.first, request.second, request.options);
    try {
        comparison.List(
            [&](const catalogue::TableName& t) {
                return (tables.empty() || compare::PatternsName(tables, t)) &&
                       !compare::PatternsName(exclude, t);
            },
            {}, request.views);
    } catch (const compare::ListingFailed& listing) {
        failWith(
            listing.cause,
            ListingFailureText(
                listing.side, listing.side == compare::Side::First ? request.first : request.second,
                listing.cause));
    }
    RefuseUnusedPatterns(request.tables, tables, comparison);
    const qsizetype width = compare::TableColumnWidth(comparison.Entries());

    watching = 1;
    compare::PairTotals totals;
    QString totalsText;
    WriteReport(request.output, out, [&](QIODevice& device, bool) {
        compare::DatabaseReportWriter report(device, request.format, width);
        ReportingObserver observer(comparison, report, err, request);
        try {
            totals = comparison.Run(observer).totals;
        } catch (const compare::RunCancelled&) {
            throw Stopped{stopSignal};
        }
        totalsText = report.totals(totals, request.first, request.second);
    });
    if (request.summary) {
        std::fprintf(err, "Total: %s\n",
                     compare::WithVisibleControls(totalsText).toLocal8Bit().constData());
    }
    if (totals.notCompared > 0) return 2;
    return totals.same == totals.tables() ? 0 : 1;
}

}  // namespace cli
