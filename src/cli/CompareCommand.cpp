#include "CompareCommand.h"

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryFile>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "ApplicationTitle.h"
#include "ComparisonRun.h"
#include "DataAccess.h"
#include "ErrorReport.h"
#include "FixScript.h"
#include "LoginDetails.h"
#include "RecordKey.h"
#include "ReportFile.h"
#include "ReportFormat.h"
#include "ReportWriter.h"
#include "Settings.h"
#include "SideNames.h"
#include "TableCatalogue.h"
#include "TableComparison.h"
#include "TableQuery.h"

namespace cli {

namespace {

// A failure that ends the command: its message goes to standard error.
struct Failure {
    QString message;
};

[[noreturn]] void fail(const QString& message) { throw Failure{message}; }

QString describe(const std::exception_ptr& e) { return app::DescribeFailure(e); }

// A step that fails inside the comparison: the windows would report it and
// go on; a command must not present a result it could not fully work out, so
// the run ends there.
class CommandSteps final : public compare::Steps {
protected:
    void failed(int, const std::exception_ptr& failure) override { fail(describe(failure)); }
};

// SIGINT or SIGTERM, once the comparison watches for it (before, nothing is
// under way that needs undoing, and the signal ends the program at once).
volatile std::sig_atomic_t stopSignal = 0;
volatile std::sig_atomic_t watching = 0;

// The exit status for a comparison stopped by a signal: 130 for SIGINT, as
// shells expect of a program stopped with Ctrl+C; a failure (2) for SIGTERM.
int stoppedStatus(int signal) { return signal == SIGINT ? 130 : 2; }

extern "C" void onStopSignal(int signal) {
    if (watching == 0) ::_exit(stoppedStatus(signal));
    stopSignal = signal;
}

void watchStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM}) ::sigaction(signal, &action, nullptr);
}

// Thrown when a signal stopped the comparison.
struct Stopped {
    int signal;
};

// A progress line on a terminal's standard error, a few times a second.
class ProgressLine {
public:
    explicit ProgressLine(std::FILE* to) : to_(to), shown_(::isatty(::fileno(to)) == 1) {
        timer_.start();
    }
    void update(std::int64_t read, std::optional<std::int64_t> expected) {
        if (!shown_ || timer_.elapsed() - last_ < 500) return;
        last_ = timer_.elapsed();
        const double seconds = std::max<double>(timer_.elapsed() / 1000.0, 0.001);
        const double rate = read / seconds;
        QString line = QStringLiteral("\r%1 records read, %2 records/s")
                           .arg(read)
                           .arg(static_cast<qint64>(rate));
        if (expected && *expected > read && rate > 0) {
            line += QStringLiteral(", about %1 s left")
                        .arg(static_cast<qint64>((*expected - read) / rate) + 1);
        }
        std::fputs(line.leftJustified(width_).toLocal8Bit().constData(), to_);
        width_ = std::max<qsizetype>(width_, line.size());
    }
    void clear() {
        if (shown_ && width_ > 0) {
            std::fputs(("\r" + QString(width_, u' ') + "\r").toLocal8Bit().constData(), to_);
        }
    }

private:
    std::FILE* to_;
    bool shown_;
    QElapsedTimer timer_;
    qint64 last_ = -1000;
    qsizetype width_ = 0;
};

// A TCP port: digits only, 1 to 65535.
bool IsPortNumber(const QString& text) {
    bool number = false;
    const uint value = text.toUInt(&number, 10);
    return number && !text.startsWith(u'+') && value >= 1 && value <= 65535;
}

QString readPassword(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("Cannot read the password file %1: %2").arg(path, file.errorString()));
    }
    QString text = QString::fromUtf8(file.readAll());
    // The first line: editors end files with a line feed that is no part of it.
    const qsizetype end = text.indexOf(QLatin1Char('\n'));
    if (end >= 0) text.truncate(end > 0 && text[end - 1] == u'\r' ? end - 1 : end);
    return text;
}

// database: which database's list, when the sides are in two.
catalogue::TableName findTable(const catalogue::CatalogueRead& read, const QString& listed,
                               const QString& database = QString()) {
    for (const catalogue::TableName& t : read.tables) {
        if (t.listed() == listed) return t;
    }
    if (!database.isNull()) {
        fail(QStringLiteral("There is no table %1 in the table list of the database %2.")
                 .arg(listed, database));
    }
    fail(QStringLiteral("There is no table %1 in the database's table list.").arg(listed));
}

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

// The two tables, each as its database's table list names it, and the
// names the lines give them.
struct Sides {
    compare::SideTable first, second;
    compare::SideNames names;
};

// side: which side's catalogue it is, for the message, when the sides are
// in two databases (the driver's reason alone would not say which refused).
catalogue::CatalogueRead readCatalogue(data::DataAccess& data,
                                       const connection::LoginDetails& login,
                                       const QString& side = QString()) {
    const QString which =
        side.isEmpty() ? QString() : compare::SideLocation(side, login) + QStringLiteral(": ");
    catalogue::CatalogueRead catalogue;
    try {
        catalogue = catalogue::ReadTableCatalogue(login, data);
    } catch (...) {
        fail(which + describe(std::current_exception()));
    }
    if (catalogue.failure) fail(which + describe(catalogue.failure));
    return catalogue;
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

// What a comparison left: the differences written and what the run counted.
struct Compared {
    std::int64_t differences = 0;
    compare::RunSummary summary;
};

// What the command writes: a report in a format, or (none) a script that
// makes the second table hold what the first holds.
using Output = std::optional<compare::ReportFormat>;

// The comparison, its report (or script) into out; withSummary: the report
// ends with the run's summary.
Compared compareTables(data::DataAccess& data, std::FILE* err, const Sides& sides, QIODevice& out,
                       Output format, const compare::RunOptions& options, bool withSummary) {
    const QString& left = sides.names.first;
    const QString& right = sides.names.second;
    CommandObserver observer(err);
    compare::ComparisonRun run(data, options, observer);
    observer.run = &run;
    const auto stage = [&](auto&& fn, const QString& what = QString()) {
        try {
            fn();
        } catch (const compare::RunCancelled&) {
            throw Stopped{stopSignal};
        } catch (const compare::KeyProblem& problem) {
            fail(problem.message());
        } catch (const compare::KeyOrderBroken& broken) {
            fail(broken.message(broken.inFirstTable() ? left : right));
        } catch (const compare::ReadFailed& failed) {
            fail(QStringLiteral("%1 could not be read: %2")
                     .arg(failed.side == compare::Side::First ? left : right,
                          describe(failed.cause)));
        } catch (const Failure&) {
            throw;
        } catch (...) {
            fail(what + describe(std::current_exception()));
        }
    };
    stage([&] {
        run.CreateConnections();
        run.SetMode();
        run.SetCommandTimeout();
        run.SetConnectionTimeout();
        run.SetCursorLocation();
        run.Connect(sides.first.login, sides.second.login);
        if (!format) run.LearnColumnFills();
        run.PlanQueries(sides.first.table, sides.second.table);
        run.SendQuery(compare::Side::First, sides.first.table);
        run.SendQuery(compare::Side::Second, sides.second.table);
    });
    stage([&] { run.WaitQueried(compare::Side::First); },
          left + QStringLiteral(" could not be read: "));
    stage([&] { run.WaitQueried(compare::Side::Second); },
          right + QStringLiteral(" could not be read: "));
    bool firstRows = false, secondRows = false;
    stage([&] { firstRows = run.HasRows(compare::Side::First); });
    if (!firstRows) fail(run.NoRowsText(compare::Side::First, left));
    stage([&] { secondRows = run.HasRows(compare::Side::Second); });
    if (!secondRows) fail(run.NoRowsText(compare::Side::Second, right));

    CommandSteps steps;
    if (!format) {
        std::optional<compare::FixScriptSink> script;
        stage([&] {
            const connection::LoginDetails& second = sides.second.login;
            const compare::ScriptOrigin origin{
                .firstName = left,
                .secondName = right,
                .secondPlace = QStringLiteral("database %1 on server %2")
                                   .arg(second.database, compare::ServerName(second)),
                .madeBy = QStringLiteral("dorvantis " DORVANTIS_VERSION),
                .madeAt = QDateTime::currentDateTimeUtc(),
                .options = compare::OptionsText(options)};
            script.emplace(out,
                           compare::ScriptPlan::For(run, run.PositionalFields(), sides.second.table,
                                                    sides.second.login.database, left, right),
                           origin);
            run.Compare(steps, *script, run.PositionalFields());
            script->finish(run.Summary());
        });
        observer.progress.clear();
        // What the script says at its end, the command says too: such a
        // script undoes itself, and must not pass for a mend.
        if (!script->problems().isEmpty()) {
            fail(QStringLiteral("The script would not make %1 hold what %2 holds: %3")
                     .arg(right, left, script->problems().constFirst()));
        }
        return {script->differences(), run.Summary()};
    }
    compare::ReportSink report(out, *format, left, right);
    stage([&] {
        run.Compare(steps, report, run.PositionalFields());
        report.finish(run.Summary(), withSummary);
    });
    observer.progress.clear();
    return {report.differences(), run.Summary()};
}

// The whole report onto standard output, or a failure saying why not (a
// closed or full standard output must not pass for a report written).
void writeAll(FILE* to, QIODevice& from) {
    const auto failed = [] {
        fail(QStringLiteral("Cannot write the report to standard output: %1")
                 .arg(QString::fromLocal8Bit(std::strerror(errno))));
    };
    from.seek(0);
    char buffer[65536];
    for (qint64 n; (n = from.read(buffer, sizeof buffer)) > 0;) {
        // A big report onto a slow pipe: a stop signal still answers.
        if (stopSignal != 0) throw Stopped{stopSignal};
        if (std::fwrite(buffer, 1, static_cast<std::size_t>(n), to) !=
            static_cast<std::size_t>(n)) {
            failed();
        }
    }
    if (std::fflush(to) != 0) failed();
}

// The login options of one side: --server, --port, ... for the first table,
// --right-server, --right-port, ... for the second, whose values default to
// the first side's.
struct LoginOptions {
    explicit LoginOptions(const QString& prefix, const QString& whose)
        : server(prefix + QStringLiteral("server"), whose + QStringLiteral("server name."),
                 QStringLiteral("NAME")),
          port(prefix + QStringLiteral("port"), whose + QStringLiteral("port."),
               QStringLiteral("PORT")),
          database(prefix + QStringLiteral("database"), whose + QStringLiteral("database."),
                   QStringLiteral("NAME")),
          user(prefix + QStringLiteral("user"), whose + QStringLiteral("user name."),
               QStringLiteral("NAME")),
          local(prefix + QStringLiteral("local"),
                whose + QStringLiteral("local connection: the server name alone.")),
          noLocal(QStringLiteral("no-") + prefix + QStringLiteral("local"),
                  whose + QStringLiteral("connection to server,port.")),
          passwordFile(prefix + QStringLiteral("password-file"),
                       whose + QStringLiteral("password, from the first line of FILE."),
                       QStringLiteral("FILE")) {}

    QList<QCommandLineOption> all() const {
        return {server, port, database, user, local, noLocal, passwordFile};
    }

    // What is wrong with the options given, or nothing.
    QString problem(const QCommandLineParser& parser) const {
        if (parser.isSet(local) && parser.isSet(noLocal)) {
            return QStringLiteral("--%1 and --%2 exclude each other")
                .arg(local.names().constFirst(), noLocal.names().constFirst());
        }
        if (parser.isSet(port) && !IsPortNumber(parser.value(port))) {
            return QStringLiteral("--%1 takes a number from 1 to 65535, not '%2'")
                .arg(port.names().constFirst(), parser.value(port));
        }
        return QString();
    }

    // The options given, over details; the password from the file, else the
    // environment variable.
    void apply(const QCommandLineParser& parser, const char* passwordVariable,
               connection::LoginDetails& details) const {
        if (parser.isSet(server)) details.server = parser.value(server);
        if (parser.isSet(port)) details.port = parser.value(port);
        if (parser.isSet(database)) details.database = parser.value(database);
        if (parser.isSet(user)) details.userName = parser.value(user);
        if (parser.isSet(local)) details.localConnection = true;
        if (parser.isSet(noLocal)) details.localConnection = false;
        if (parser.isSet(passwordFile)) {
            details.password = readPassword(parser.value(passwordFile));
        } else if (qEnvironmentVariableIsSet(passwordVariable)) {
            details.password = qEnvironmentVariable(passwordVariable);
        }
    }

    QCommandLineOption server, port, database, user, local, noLocal, passwordFile;
};

// The options that narrow or loosen a comparison: columns left out, the rows
// taken, what counts as equal, and where the run stops.
struct ComparisonOptions {
    ComparisonOptions()
        : ignore(QStringLiteral("ignore"),
                 QStringLiteral("Leave the columns out of both tables (names without case, "
                                "separated by commas; may be repeated)."),
                 QStringLiteral("COLUMNS")),
          where(QStringLiteral("where"),
                QStringLiteral("Compare only the rows of both tables for which the SQL condition "
                               "holds."),
                QStringLiteral("CONDITION")),
          rightWhere(QStringLiteral("right-where"),
                     QStringLiteral("The second table's condition, when it differs from the "
                                    "first's (1=1 for all its rows)."),
                     QStringLiteral("CONDITION")),
          trim(QStringLiteral("trim"), QStringLiteral("Ignore trailing blanks of texts.")),
          ignoreCase(QStringLiteral("ignore-case"),
                     QStringLiteral("Compare texts without regard to case.")),
          nullEqualsEmpty(QStringLiteral("null-equals-empty"),
                          QStringLiteral("Take NULL and an empty text as equal.")),
          tolerance(QStringLiteral("tolerance"),
                    QStringLiteral("Take numbers that differ by at most X as equal."),
                    QStringLiteral("X")),
          limit(QStringLiteral("limit"),
                QStringLiteral("Stop after N differing records; the report then says so."),
                QStringLiteral("N")),
          summary(QStringLiteral("summary"),
                  QStringLiteral("After the report, the run's counts in one line on standard "
                                 "error.")) {}

    QList<QCommandLineOption> all() const {
        return {ignore,          where,     rightWhere, trim,   ignoreCase,
                nullEqualsEmpty, tolerance, limit,      summary};
    }

    // The options given, into options; what is wrong with them, or nothing.
    QString read(const QCommandLineParser& parser, compare::RunOptions& options) const {
        // Given twice, one of the two would be dropped without a word.
        for (const QCommandLineOption* once : {&where, &rightWhere, &tolerance, &limit}) {
            if (parser.values(*once).size() > 1) {
                return QStringLiteral("--%1 may be given once").arg(once->names().constFirst());
            }
        }
        for (const QString& list : parser.values(ignore)) {
            for (const QString& part : list.split(u',')) {
                const QString name = part.trimmed();
                if (name.isEmpty()) {
                    return QStringLiteral("--ignore takes column names separated by commas");
                }
                if (!options.ignore.contains(name, Qt::CaseInsensitive)) options.ignore << name;
            }
        }
        for (const QCommandLineOption* condition : {&where, &rightWhere}) {
            if (!parser.isSet(*condition)) continue;
            const QString text = parser.value(*condition).trimmed();
            // An empty condition is most likely an unset shell variable: a
            // run over all rows would pass for a filtered one.
            const QString problem = text.isEmpty() ? QStringLiteral("the condition is empty")
                                                   : compare::RowConditionProblem(text);
            if (!problem.isEmpty()) {
                return QStringLiteral("--%1: %2").arg(condition->names().constFirst(), problem);
            }
            if (condition == &where) {
                options.where = text;
            } else {
                options.rightWhere = text;
            }
        }
        options.values.trim = parser.isSet(trim);
        options.values.ignoreCase = parser.isSet(ignoreCase);
        options.values.nullEqualsEmpty = parser.isSet(nullEqualsEmpty);
        if (parser.isSet(tolerance)) {
            options.values.tolerance = compare::Tolerance::FromText(parser.value(tolerance));
            if (!options.values.tolerance) {
                return QStringLiteral("--tolerance takes a number of at least 0, not '%1'")
                    .arg(parser.value(tolerance));
            }
        }
        if (parser.isSet(limit)) {
            const QString text = parser.value(limit);
            const std::optional<std::int64_t> n = compare::RecordCountFromText(text);
            if (!n || *n < 1) {
                return QStringLiteral("--limit takes a whole number from 1, not '%1'").arg(text);
            }
            options.limit = *n;
        }
        return QString();
    }

    QCommandLineOption ignore, where, rightWhere, trim, ignoreCase, nullEqualsEmpty, tolerance,
        limit, summary;
};

// One line on standard error: the driver's several records joined.
void printFailure(std::FILE* err, QString message) {
    message.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    message.replace(QLatin1Char('\n'), QLatin1Char(' '));
    message.replace(QLatin1Char('\r'), QLatin1Char(' '));
    std::fprintf(err, "dorvantis: %s\n", message.trimmed().toLocal8Bit().constData());
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
        "Without arguments the program opens its windows. The login details are the stored\n"
        "ones of the login window unless given here; the password comes from --password-file,\n"
        "else from the environment variable DORVANTIS_PASSWORD, else from the stored ones.\n"
        "The second table is in the same database unless the second table's options say\n"
        "where: each defaults to the first side's value (--right-database Sales_Restore alone\n"
        "compares across two databases of one server); its password comes from\n"
        "--right-password-file, else DORVANTIS_RIGHT_PASSWORD, else the first side's.\n"
        "Standard output carries the difference lines only (and, with --limit, the line that\n"
        "says the run stopped there); a report written with --output ends with the run's\n"
        "summary, which --summary also writes on standard error.\n"
        "Exit status: 0 the tables hold the same data, 1 differences found, 2 failure,\n"
        "130 stopped by SIGINT."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("compare"), QStringLiteral("The command."));
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
    const ComparisonOptions comparison;
    parser.addOptions(firstLogin.all() + secondLogin.all());
    parser.addOptions({format, output, fields, key});
    parser.addOptions(comparison.all());

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
    if (args.isEmpty() || args[0] != QStringLiteral("compare")) {
        return usageError(args.isEmpty() ? QStringLiteral("no command given")
                                         : QStringLiteral("unknown command '%1'").arg(args[0]));
    }
    if (args.size() != 3) return usageError(QStringLiteral("compare needs two table names"));
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
        return usageError(QStringLiteral(
            "--format sql needs records paired by key (--key): a script names each record by its "
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
    const QString optionsProblem = comparison.read(parser, options);
    if (!optionsProblem.isEmpty()) return usageError(optionsProblem);

    try {
        // The stored details, read only: the command writes nothing to the settings.
        const connection::SettingsStore store;
        connection::LoginDetails details{
            store.read(connection::kServerSetting),
            store.read(connection::kUserSetting),
            store.read(connection::kPasswordSetting),
            store.read(connection::kDatabaseSetting),
            store.read(connection::kPortSetting),
            connection::IsTicked(store.read(connection::kLocalConnectionSetting))};
        firstLogin.apply(parser, "DORVANTIS_PASSWORD", details);
        connection::LoginDetails right = details;
        secondLogin.apply(parser, "DORVANTIS_RIGHT_PASSWORD", right);

        const Sides sides = findTables(data, details, args[1], right, args[2]);

        // From here a stop signal cancels the run, so that the report's
        // temporary file goes with it.
        watching = 1;
        // The report goes to a file that replaces the target only when complete,
        // so a failed run never leaves half a report nor shows half of one.
        // The summary ends a report written to a file; standard output, and a
        // device or a pipe (/dev/stdout, a FIFO) that scripts read as they would
        // standard output, carry the difference lines only.
        Compared compared;
        if (parser.isSet(output)) {
            // A regular file is replaced whole; a device or a pipe is written into.
            compare::ReportFile file(parser.value(output));
            if (!file.open()) {
                fail(QStringLiteral("Cannot write %1: %2")
                         .arg(parser.value(output), file.errorString()));
            }
            const bool replacesAFile = file.replaces();
            compared =
                compareTables(data, err, sides, file.device(), chosen, options, replacesAFile);
            if (!file.commit()) {
                fail(QStringLiteral("Cannot write %1: %2")
                         .arg(parser.value(output), file.errorString()));
            }
        } else {
            QTemporaryFile file;
            if (!file.open()) fail(QStringLiteral("Cannot make a temporary file for the report."));
            compared = compareTables(data, err, sides, file, chosen, options, false);
            writeAll(out, file);
        }
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
