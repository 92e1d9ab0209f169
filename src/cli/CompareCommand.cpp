#include "CompareCommand.h"

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <optional>
#include <stdexcept>

#include "ApplicationTitle.h"
#include "CommandParts.h"
#include "CompareDatabases.h"
#include "ComparisonRun.h"
#include "DataAccess.h"
#include "DatabaseComparison.h"
#include "DifferenceLines.h"
#include "FixScriptSession.h"
#include "LoginDetails.h"
#include "ReportFormat.h"
#include "ReportWriter.h"
#include "SideNames.h"
#include "Summary.h"
#include "TableCatalogue.h"
#include "TableQuery.h"

namespace cli {

namespace {

// database: which database's list, when the sides are in two.
catalogue::TableName findTable(const catalogue::CatalogueRead& read, const QString& listed,
                               const QString& database = QString()) {
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

Sides findTables(data::DataAccess& data, const connection::LoginDetails& leftLogin,
                 const QString& left, const connection::LoginDetails& rightLogin,
                 const QString& right) {
    const bool oneDatabase = compare::SameDatabase(leftLogin, rightLogin);
    const catalogue::CatalogueRead leftCatalogue =
        readCatalogue(data, leftLogin, oneDatabase ? QString() : QStringLiteral("First"));
    const catalogue::CatalogueRead rightCatalogue =
        oneDatabase ? leftCatalogue : readCatalogue(data, rightLogin, QStringLiteral("Second"));
    const auto where = [&](const connection::LoginDetails& login) {
        if (oneDatabase) return QString();
        return QStringLiteral("%1 on server %2").arg(login.database, compare::ServerName(login));
    };
    Sides sides{{leftLogin, findTable(leftCatalogue, left, where(leftLogin))},
                {rightLogin, findTable(rightCatalogue, right, where(rightLogin))},
                {}};
    if (compare::SameTable(sides.first, sides.second)) {
        fail(QStringLiteral("Please select 2 different tables to compare."));
    }
    sides.names = compare::NameSides(sides.first, sides.second);
    return sides;
}

// What the command writes: a report in a format, or (none) a script that
// makes the second table hold what the first holds.
using Output = std::optional<compare::ReportFormat>;

// The comparison, its report (or script) into out; withSummary: the report
// ends with the run's summary.
Compared compareTables(data::DataAccess& data, std::FILE* err, const Sides& sides, QIODevice& out,
                       Output format, const compare::RunOptions& options, bool withSummary) {
    const QString& left = sides.names.first;
    const QString& right = sides.names.second;
    if (format) {
        return runComparison(
            data, err, sides, options, false,
            [&](compare::ComparisonRun& run, compare::Steps& steps, const Stage& stage) {
                compare::ReportSink report(out, *format, left, right);
                stage([&] {
                    run.Compare(steps, report, run.PositionalFields());
                    report.finish(run.Summary(), withSummary);
                });
                return report.differences();
            });
    }
    return runComparison(
        data, err, sides, options, true,
        [&](compare::ComparisonRun& run, compare::Steps& steps, const Stage& stage) {
            std::optional<compare::FixScriptSession> script;
            stage([&] {
                script.emplace(run, run.PositionalFields(), sides.second, sides.names, out);
                run.Compare(steps, script->sink(), run.PositionalFields());
                script->finish(run.Summary());
            });
            // What the script says at its end, the command says too.
            if (const QString refusal = script->refusal(); !refusal.isEmpty()) fail(refusal);
            return script->differences();
        });
}

}  // namespace

bool IsCommandLine(int argc, char** /*argv*/) { return argc > 1; }

int RunCommandLine(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(app::kProductName).toLower());
    QCoreApplication::setApplicationVersion(QStringLiteral(DORVANTIS_VERSION));
    watchStopSignals();
    return RunCommand(QCoreApplication::arguments(), data::OdbcDataAccess(), stdout, stderr);
}

int RunCommand(const QStringList& arguments, data::DataAccess& data, std::FILE* out,
               std::FILE* err) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Compares two SQL Server tables record by record and field by field.\n"
        "Without arguments the program opens its windows. The login details are the "
        "stored\n"
        "ones of the login window unless given here; the password comes from "
        "--password-file,\n"
        "else from the environment variable DORVANTIS_PASSWORD, else from the stored "
        "ones.\n"
        "The second table is in the same database unless the second table's options say\n"
        "where: each defaults to the first side's value (--right-database Sales_Restore "
        "alone\n"
        "compares across two databases of one server); its password comes from\n"
        "--right-password-file, else DORVANTIS_RIGHT_PASSWORD, else the first side's.\n"
        "Standard output carries the difference lines only (and, with --limit, the line "
        "that\n"
        "says the run stopped there); a report written with --output ends with the run's\n"
        "summary, which --summary also writes on standard error.\n"
        "Exit status: 0 the tables hold the same data, 1 differences found, 2 failure,\n"
        "130 stopped by SIGINT.\n"
        "compare-databases compares every table of the first database with the table of "
        "the\n"
        "same schema and name in the second (--right-database or --right-server says "
        "which),\n"
        "one line a pair, totals last; exit status 0 all the same, 1 anything differs or "
        "a\n"
        "table is in one database only, 2 a pair could not be compared."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("compare"),
                                 QStringLiteral("The command: compare, or compare-databases "
                                                "(no tables named)."));
    parser.addPositionalArgument(QStringLiteral("LEFT"),
                                 QStringLiteral("The first table, as the table lists show it."));
    parser.addPositionalArgument(QStringLiteral("RIGHT"),
                                 QStringLiteral("The second table, as the table lists show it."));
    const LoginOptions firstLogin(QString(), QStringLiteral("The first table's "));
    const LoginOptions secondLogin(QStringLiteral("right-"),
                                   QStringLiteral("The second table's (default: the first's) "));
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral("text (default), csv, json, or sql: a script that makes the second table "
                       "hold what the first holds (with --key)."),
        QStringLiteral("FORMAT"), QStringLiteral("text"));
    const QCommandLineOption output(
        QStringLiteral("output"), QStringLiteral("Write the report to FILE, not standard output."),
        QStringLiteral("FILE"));
    const QCommandLineOption fields(
        QStringLiteral("fields"),
        QStringLiteral("Pair fields by-position (default) or by-name (without case)."),
        QStringLiteral("PAIRING"), QStringLiteral("by-position"));
    const QCommandLineOption key(
        QStringLiteral("key"),
        QStringLiteral("Pair records by key, not by position: auto (the first table's primary "
                       "key) or the key's columns, separated by commas."),
        QStringLiteral("COLUMNS"));
    const QCommandLineOption tables(
        QStringLiteral("tables"),
        QStringLiteral("compare-databases: only the tables the shell PATTERN names (may be "
                       "repeated)."),
        QStringLiteral("PATTERN"));
    const QCommandLineOption exclude(
        QStringLiteral("exclude"),
        QStringLiteral("compare-databases: not the tables the shell PATTERN names (may be "
                       "repeated)."),
        QStringLiteral("PATTERN"));
    const QCommandLineOption detailLines(
        QStringLiteral("details"),
        QStringLiteral("compare-databases: each pair's difference lines under its line."));
    const ComparisonOptions comparison;
    parser.addOptions(firstLogin.all() + secondLogin.all());
    parser.addOptions({format, output, fields, key});
    parser.addOptions(comparison.all());
    parser.addOptions({tables, exclude, detailLines});

    const auto usageError = [&](const QString& message) {
        std::fprintf(err, "dorvantis: %s\nTry 'dorvantis --help'.\n",
                     message.toLocal8Bit().constData());
        return 2;
    };
    if (!parser.parse(arguments)) return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), out);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::fprintf(out, "dorvantis %s\n", DORVANTIS_VERSION);
        return 0;
    }
    const QStringList args = parser.positionalArguments();
    const bool databases = !args.isEmpty() && args[0] == QStringLiteral("compare-databases");
    if (args.isEmpty() || (args[0] != QStringLiteral("compare") && !databases)) {
        return usageError(args.isEmpty() ? QStringLiteral("no command given")
                                         : QStringLiteral("unknown command '%1'").arg(args[0]));
    }
    if (databases && args.size() != 1) {
        return usageError(QStringLiteral("compare-databases takes no table names"));
    }
    if (!databases && args.size() != 3) {
        return usageError(QStringLiteral("compare needs two table names"));
    }
    for (const QCommandLineOption* only : {&tables, &exclude, &detailLines}) {
        if (!databases && parser.isSet(*only)) {
            return usageError(QStringLiteral("--%1 is an option of compare-databases")
                                  .arg(only->names().constFirst()));
        }
    }
    for (const QString& pattern : parser.values(tables) + parser.values(exclude)) {
        if (!compare::ShellPattern(pattern)) {
            return usageError(QStringLiteral("'%1' is no shell pattern").arg(pattern));
        }
    }
    if (databases && parser.value(format) == QStringLiteral("sql")) {
        return usageError(
            QStringLiteral("compare-databases writes no script: compare a pair "
                           "with --format sql"));
    }
    for (const LoginOptions* side : {&firstLogin, &secondLogin}) {
        const QString problem = side->problem(parser);
        if (!problem.isEmpty()) return usageError(problem);
    }
    const bool script = parser.value(format) == QStringLiteral("sql");
    const Output chosen = script ? Output() : compare::ReportFormatNamed(parser.value(format));
    if (!chosen && !script)
        return usageError(QStringLiteral("unknown format '%1'").arg(parser.value(format)));
    const QString pairing = parser.value(fields);
    if (pairing != QStringLiteral("by-position") && pairing != QStringLiteral("by-name")) {
        return usageError(QStringLiteral("--fields takes by-position or by-name"));
    }
    if (script && !parser.isSet(key)) {
        return usageError(
            QStringLiteral("--format sql needs records paired by key (--key): a script "
                           "names each record by its "
                           "key"));
    }
    compare::RunOptions options;
    options.fieldsByName = pairing == QStringLiteral("by-name");
    if (parser.isSet(key)) {
        const std::optional<compare::KeyChoice> chosenKey =
            compare::KeyChoice::FromOption(parser.value(key));
        if (!chosenKey) {
            return usageError(
                QStringLiteral("--key takes auto or column names separated by commas"));
        }
        options.key = *chosenKey;
    }
    if (databases && parser.isSet(key) && !options.key.automatic) {
        return usageError(QStringLiteral(
            "compare-databases takes --key auto: each table by its own primary key"));
    }
    const QString optionsProblem = comparison.read(parser, options);
    if (!optionsProblem.isEmpty()) return usageError(optionsProblem);

    try {
        // The stored details, read only: the command writes nothing to the settings.
        connection::LoginDetails details = StoredLoginDetails();
        firstLogin.apply(parser, "DORVANTIS_PASSWORD", details);
        connection::LoginDetails right = details;
        secondLogin.apply(parser, "DORVANTIS_RIGHT_PASSWORD", right);

        if (databases) {
            if (compare::SameDatabase(details, right)) {
                return usageError(
                    QStringLiteral("compare-databases needs a second database: --right-database or "
                                   "--right-server"));
            }
            DatabasesRequest request{details,
                                     right,
                                     options,
                                     *chosen,
                                     std::nullopt,
                                     parser.values(tables),
                                     parser.values(exclude),
                                     parser.isSet(detailLines)};
            if (parser.isSet(output)) request.output = parser.value(output);
            request.summary = parser.isSet(comparison.summary);
            return CompareDatabases(request, data, out, err);
        }

        const Sides sides = findTables(data, details, args[1], right, args[2]);

        // From here a stop signal cancels the run, so that the report's
        // temporary file goes with it.
        watching = 1;
        // The summary ends a report that replaces a file; standard output, and
        // a device or a pipe (/dev/stdout, a FIFO), carry the difference lines only.
        Compared compared;
        WriteReport(parser.isSet(output) ? std::optional(parser.value(output)) : std::nullopt, out,
                    [&](QIODevice& device, bool replacesAFile) {
                        compared =
                            compareTables(data, err, sides, device, chosen, options, replacesAFile);
                    });
        if (parser.isSet(comparison.summary)) {
            std::fprintf(
                err, "%s\n",
                compare::SummaryText(compared.summary, sides.names.first, sides.names.second)
                    .toLocal8Bit()
                    .constData());
        }
        // A run stopped at its limit found differences, and may have left more.
        return compared.differences == 0 && !compared.summary.stoppedAtLimit ? 0 : 1;
    } catch (const Stopped& stopped) {
        // A reader let go may still be inside the driver: the process ends
        // now, without the exit handlers that would pull its connection away.
        std::fflush(nullptr);
        ::_exit(stoppedStatus(stopped.signal));
    } catch (const Failure& f) {
        printFailure(err, f.message);
    } catch (...) {
        printFailure(err, describe(std::current_exception()));
    }
    return 2;
}

}  // namespace cli
