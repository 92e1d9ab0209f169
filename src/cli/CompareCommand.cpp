#include "CompareCommand.h"

#include <QCommandLineParser>
#include <cstdint>
#include <functional>
#include <optional>

#include "ComparisonRun.h"
#include "DifferenceLines.h"
#include "Failure.h"
#include "FixScriptSession.h"
#include "HtmlReport.h"
#include "QuerySides.h"
#include "ReportOutput.h"
#include "ReportWriter.h"
#include "SharedOptions.h"
#include "SideNames.h"
#include "Summary.h"
#include "TableCatalogue.h"
#include "TableQuery.h"
#include "Terminal.h"

namespace cli {

namespace {

// side: which database's list, when the sides are in two.
catalogue::CatalogueRead ReadCatalogue(data::DataAccess& data,
                                       const connection::LoginDetails& login,
                                       std::optional<compare::Side> side) {
    catalogue::CatalogueRead catalogue;
    try {
        // A view is read as a table is, so it may be named too.
        catalogue = catalogue::ReadTableCatalogue(login, data, true);
    } catch (...) {
        failWith(std::current_exception(),
                 ListingFailureText(side, login, std::current_exception()));
    }
    if (catalogue.failure) {
        failWith(catalogue.failure, ListingFailureText(side, login, catalogue.failure));
    }
    return catalogue;
}

// database: which database's list, when the sides are in two.
catalogue::TableName FindTable(const catalogue::CatalogueRead& read, const QString& listed,
                               const QString& database) {
    for (const catalogue::TableName& t : read.tables) {
        if (t.listed() == listed) return t;
    }
    // The name as the lines would show it: a line feed in it is no line break.
    const QString shown = compare::WithVisibleControls(listed);
    if (!database.isNull()) {
        fail(QStringLiteral("There is no table %1 in the table list of the database %2.")
                 .arg(shown, database));
    }
    fail(QStringLiteral("There is no table %1 in the database's table list.").arg(shown));
}

// The two tables of one comparison and the names the lines give them.
struct Sides {
    compare::SideTable first, second;
    compare::SideNames names;
};

Sides FindTables(data::DataAccess& data, const connection::LoginDetails& leftLogin,
                 const SideSource& left, const connection::LoginDetails& rightLogin,
                 const SideSource& right) {
    const bool oneDatabase = compare::SameDatabase(leftLogin, rightLogin);
    // A query side reads no list: its query names what it reads.
    std::optional<catalogue::CatalogueRead> leftCatalogue;
    std::optional<catalogue::CatalogueRead> rightCatalogue;
    if (!left.isQuery()) {
        leftCatalogue = ReadCatalogue(
            data, leftLogin, oneDatabase ? std::nullopt : std::optional(compare::Side::First));
    }
    if (!right.isQuery()) {
        rightCatalogue =
            oneDatabase && leftCatalogue
                ? leftCatalogue
                : ReadCatalogue(data, rightLogin,
                                oneDatabase ? std::nullopt : std::optional(compare::Side::Second));
    }
    const auto where = [&](const connection::LoginDetails& login) {
        if (oneDatabase) return QString();
        return QStringLiteral("%1 on server %2").arg(login.database, compare::ServerName(login));
    };
    const auto table = [&](const SideSource& side,
                           const std::optional<catalogue::CatalogueRead>& read,
                           const connection::LoginDetails& login) {
        return side.isQuery() ? side.query : FindTable(*read, side.table, where(login));
    };
    Sides sides{{leftLogin, table(left, leftCatalogue, leftLogin)},
                {rightLogin, table(right, rightCatalogue, rightLogin)},
                {}};
    if (compare::SameQuery(sides.first, sides.second)) fail(compare::SameQueryText());
    if (compare::SameTable(sides.first, sides.second)) {
        fail(QStringLiteral("Please select 2 different tables to compare."));
    }
    sides.names = compare::NameSides(sides.first, sides.second);
    return sides;
}

// A script makes a table hold what another table holds: refused before any
// server is asked anything.
void RefuseScriptFromQuery(const SideSources& sources, const SharedRequest& request) {
    if (request.format) return;
    for (const SideSource* side : {&sources.first, &sources.second}) {
        if (!side->isQuery()) continue;
        fail(compare::ScriptFromQueryRefusal(compare::WithVisibleControls(side->query.name)));
    }
}

// Refusals that need the sides found, said before any row is read.
void RefuseForSides(const Sides& sides, const SharedRequest& request) {
    const catalogue::TableName& first = sides.first.table;
    if (request.options.key.automatic && (first.view || first.isQuery())) {
        fail(QStringLiteral("The records cannot be paired by key: %1 is a %2, which has no "
                            "primary key. Name the key's columns with --key COLS.")
                 .arg(compare::WithVisibleControls(sides.names.first),
                      first.view ? QStringLiteral("view") : QStringLiteral("query")));
    }
}

// By position, a query's records come in its own order: without an ORDER
// BY the server chooses it, which may change from run to run.
void WarnOfUnorderedQueries(const Sides& sides, const SharedRequest& request, std::FILE* err) {
    if (request.options.key.pairsByKey()) return;
    for (const auto& [side, name] : {std::pair{&sides.first, &sides.names.first},
                                     std::pair{&sides.second, &sides.names.second}}) {
        if (!side->table.isQuery() || compare::CheckedQuery(side->table).ordered()) continue;
        std::fprintf(err,
                     "dorvantis: %s has no ORDER BY: its records are paired by position in the "
                     "order the server chooses, which may change from run to run.\n",
                     compare::AtSentenceStart(compare::WithVisibleControls(*name))
                         .toLocal8Bit()
                         .constData());
    }
}

// A step that fails inside the comparison: the windows would report it and
// go on; a command must not present a result it could not fully work out, so
// the run ends there.
class CommandSteps final : public compare::Steps {
protected:
    void failed(int, const std::exception_ptr& failure) override {
        failWith(failure, describe(failure));
    }
};

// What the command shows while the run waits: a progress line on a
// terminal; and a stop signal cancels the run.
class CommandObserver final : public compare::RunObserver {
public:
    explicit CommandObserver(std::FILE* progressTo) : progress(progressTo) {}
    void Waiting() override {
        if (stopSignal != 0 && run != nullptr) run->Cancel();
    }
    void Progress(std::int64_t read, std::optional<std::int64_t> expected) override {
        progress.update(read, expected);
    }
    compare::ComparisonRun* run = nullptr;
    ProgressLine progress;
};

// A stage of a run: what it throws becomes the command's one-line failure
// (or Stopped), naming the tables as the lines do.
class Stage {
public:
    explicit Stage(const compare::SideNames& names) : names_(names) {}
    void operator()(const std::function<void()>& fn, const QString& what = QString()) const {
        try {
            fn();
        } catch (const compare::RunCancelled&) {
            throw Stopped{stopSignal};
        } catch (const Failure&) {
            throw;
        } catch (...) {
            failWith(std::current_exception(),
                     compare::RunFailureText(std::current_exception(), names_, what));
        }
    }

private:
    const compare::SideNames& names_;
};

// What a comparison left: the differences written and what the run counted.
struct Compared {
    std::int64_t differences = 0;
    compare::RunSummary summary;
};

// How the differences of a run are taken once both tables gave rows: the
// body compares (run.Compare) into a sink of its own under stage, and
// returns the differences it took.
using CompareBody =
    std::function<std::int64_t(compare::ComparisonRun&, compare::Steps&, const Stage&)>;

// One comparison, from creating its connections to the last difference.
// learnFills: the second table's column fills are learnt (for a script;
// by key on two tables they always are).
// Throws Failure (a table without rows among them) or Stopped.
Compared RunComparison(data::DataAccess& data, std::FILE* err, const Sides& sides,
                       const compare::RunOptions& options, bool learnFills,
                       const CompareBody& body) {
    CommandObserver observer(err);
    compare::ComparisonRun run(data, options, observer);
    observer.run = &run;
    // A failure is one line: the tables named in it as the lines name them.
    const compare::SideNames shown{compare::WithVisibleControls(sides.names.first),
                                   compare::WithVisibleControls(sides.names.second)};
    const Stage stage(shown);
    // By key on two tables, as in the windows: what the server sets (period
    // columns) or keeps from the logins is learnt with the fills.
    learnFills = learnFills || (options.key.pairsByKey() && !sides.first.table.isQuery() &&
                                !sides.second.table.isQuery());
    const compare::FirstRows rows =
        compare::OpenRun(run, sides.first, sides.second, shown, learnFills, stage);
    // One side without rows cannot be compared; two hold the same (no) data,
    // as compare-databases says of such a pair.
    const bool neither = !rows.first && !rows.second;
    if (!neither && !rows.first) fail(run.NoRowsText(compare::Side::First, shown.first));
    if (!neither && !rows.second) fail(run.NoRowsText(compare::Side::Second, shown.second));

    CommandSteps steps;
    const std::int64_t differences = body(run, steps, stage);
    observer.progress.clear();
    if (neither) {
        const QString said = run.condition(compare::Side::First).isEmpty() &&
                                     run.condition(compare::Side::Second).isEmpty()
                                 ? QStringLiteral("same (both empty)")
                                 : QStringLiteral("same: ") +
                                       run.NoRowsText(compare::Side::First, shown.first) + u' ' +
                                       run.NoRowsText(compare::Side::Second, shown.second);
        std::fprintf(err, "dorvantis: %s\n", said.toLocal8Bit().constData());
    }
    return {differences, run.Summary()};
}

// The comparison, its report in a format (none: a script that makes the
// second table hold what the first holds) into out; withSummary: the report
// ends with the run's summary (a page always does).
Compared CompareTables(data::DataAccess& data, std::FILE* err, const Sides& sides, QIODevice& out,
                       std::optional<compare::ReportFormat> format,
                       const compare::RunOptions& options, bool withSummary, bool allowCascades) {
    if (format == compare::ReportFormat::Html) {
        return RunComparison(
            data, err, sides, options, false,
            [&](compare::ComparisonRun& run, compare::Steps& steps, const Stage& stage) {
                std::optional<compare::HtmlReport> page;
                stage([&] {
                    page.emplace(
                        out,
                        compare::RecordLayout(run.FieldPairs(run.PositionalFields()), run.Key()),
                        sides.names);
                    run.Compare(steps, page->differences(), run.PositionalFields());
                    page->Finish(run.Summary());
                });
                return page->differences().differenceCount();
            });
    }
    if (format) {
        return RunComparison(
            data, err, sides, options, false,
            [&](compare::ComparisonRun& run, compare::Steps& steps, const Stage& stage) {
                compare::ReportSink report(out, *format, sides.names.first, sides.names.second);
                stage([&] {
                    run.Compare(steps, report, run.PositionalFields());
                    report.finish(run.Summary(), withSummary);
                });
                return report.differences();
            });
    }
    return RunComparison(
        data, err, sides, options, true,
        [&](compare::ComparisonRun& run, compare::Steps& steps, const Stage& stage) {
            std::optional<compare::FixScriptSession> script;
            stage([&] {
                script.emplace(run, run.PositionalFields(), sides.second, sides.names, out,
                               allowCascades);
                run.Compare(steps, script->sink(), run.PositionalFields());
                script->Finish(run.Summary());
            });
            // What the script says at its end, the command says too.
            if (const QString refusal = script->refusal(); !refusal.isEmpty()) fail(refusal);
            return script->differences();
        });
}

void DescribeCompare(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Compares two SQL Server tables record by record and field by field: LEFT, the\n"
        "first, with RIGHT, the second (see dorvantis --help for the logins and passwords).\n"
        "Exit status: 0 the tables hold the same data, 1 differences found, 2 failure,\n"
        "130 stopped by SIGINT."));
    parser.addPositionalArgument(QStringLiteral("compare"), QStringLiteral("The command."));
    parser.addPositionalArgument(QStringLiteral("LEFT"),
                                 QStringLiteral("The first table, as the table lists show it."));
    parser.addPositionalArgument(QStringLiteral("RIGHT"),
                                 QStringLiteral("The second table, as the table lists show it."));
    AddSharedOptions(parser);
    AddQueryOptions(parser);
    AddScriptOptions(parser);
}

}  // namespace

void AddScriptOptions(QCommandLineParser& parser) {
    parser.addOption(QCommandLineOption(
        QStringLiteral("allow-cascades"),
        QStringLiteral("--format sql: keep DELETEs that other tables' foreign keys act on "
                       "(cascade, set null, set default); without it such a script undoes "
                       "itself and the command fails.")));
}

int RunCompare(const QStringList& arguments, data::DataAccess& data, std::FILE* out,
               std::FILE* err) {
    QCommandLineParser parser;
    DescribeCompare(parser);
    if (!ParseArguments(parser, arguments, out)) return 0;
    const QStringList args = parser.positionalArguments();
    if (parser.value(QStringLiteral("format")) == QStringLiteral("sql") &&
        !parser.isSet(QStringLiteral("key"))) {
        usageError(QStringLiteral(
            "--format sql needs records paired by key (--key): a script names each record by "
            "its key"));
    }
    SharedRequest request;
    ReadSharedOptions(parser, request);
    const SideSources sources = ReadSideSources(parser, args.mid(1));
    RefuseScriptFromQuery(sources, request);

    const Sides sides =
        FindTables(data, request.first, sources.first, request.second, sources.second);
    RefuseForSides(sides, request);
    WarnOfUnorderedQueries(sides, request, err);
    // From here a stop signal cancels the run, so that the report's
    // temporary file goes with it.
    watching = 1;
    // The summary ends a report that replaces a file; standard output, and
    // a device or a pipe (/dev/stdout, a FIFO), carry the difference lines only.
    Compared compared;
    WriteReport(request.output, out, [&](QIODevice& device, bool replacesAFile) {
        compared = CompareTables(data, err, sides, device, request.format, request.options,
                                 replacesAFile, parser.isSet(QStringLiteral("allow-cascades")));
    });
    if (request.summary) {
        std::fprintf(err, "%s\n",
                     compare::SummaryText(compared.summary, sides.names.first, sides.names.second)
                         .toLocal8Bit()
                         .constData());
    }
    // A run stopped at its limit found differences, and may have left more.
    return compared.differences == 0 && !compared.summary.stoppedAtLimit ? 0 : 1;
}

}  // namespace cli
