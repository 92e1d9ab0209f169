// What the program's commands share: how a command fails and is stopped,
// its progress line, its login and comparison options, and one comparison
// run from connecting to the last difference.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QIODevice>
#include <QString>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>

#include "ComparisonRun.h"
#include "DataAccess.h"
#include "LoginDetails.h"
#include "ReportFormat.h"
#include "SideNames.h"
#include "Steps.h"
#include "Summary.h"
#include "TableCatalogue.h"
#include "TableQuery.h"

namespace cli {

// A failure that ends the command: its message goes to standard error.
struct Failure {
    QString message;
};

[[noreturn]] void fail(const QString& message);

QString describe(const std::exception_ptr& e);

// A step that fails inside the comparison: the windows would report it and
// go on; a command must not present a result it could not fully work out, so
// the run ends there.
class CommandSteps final : public compare::Steps {
protected:
    void failed(int, const std::exception_ptr& failure) override { fail(describe(failure)); }
};

// SIGINT or SIGTERM, once the comparison watches for it (before, nothing is
// under way that needs undoing, and the signal ends the program at once).
extern volatile std::sig_atomic_t stopSignal;
extern volatile std::sig_atomic_t watching;

// The exit status for a comparison stopped by a signal: 130 for SIGINT, as
// shells expect of a program stopped with Ctrl+C; a failure (2) for SIGTERM.
int stoppedStatus(int signal);

// SIGINT and SIGTERM set stopSignal once watching is set; before, they end
// the program at once.
void watchStopSignals();

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
        const auto perSecond = static_cast<qint64>(rate);
        QString line =
            QStringLiteral("\r%1%2 read, %3 %4/s")
                .arg(label_.isEmpty() ? QString() : label_ + QStringLiteral(": "),
                     compare::Counted(read, u"record"), QString::number(perSecond),
                     perSecond == 1 ? QStringLiteral("record") : QStringLiteral("records"));
        if (expected && *expected > read && rate > 0) {
            line += QStringLiteral(", about %1 s left")
                        .arg(static_cast<qint64>((*expected - read) / rate) + 1);
        }
        std::fputs(line.leftJustified(width_).toLocal8Bit().constData(), to_);
        width_ = std::max<qsizetype>(width_, line.size());
    }
    // What the line is about (a table of many), shown at once and before
    // every count after.
    void begin(const QString& label) {
        label_ = label;
        if (!shown_ || label_.isEmpty()) return;
        const QString line = u'\r' + label_;
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
    QString label_;
};

// A TCP port: digits only, 1 to 65535.
bool IsPortNumber(const QString& text);

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

// side: which side's catalogue it is, for the message, when the sides are
// in two databases (the driver's reason alone would not say which refused).
catalogue::CatalogueRead readCatalogue(data::DataAccess& data,
                                       const connection::LoginDetails& login,
                                       const QString& side = QString());

// What a comparison left: the differences written and what the run counted.
struct Compared {
    std::int64_t differences = 0;
    compare::RunSummary summary;
};

// A stage of a run: what it throws becomes the command's one-line failure
// (or Stopped), naming the tables as the lines do.
class Stage {
public:
    explicit Stage(const compare::SideNames& names) : names_(names) {}
    void operator()(const std::function<void()>& fn, const QString& what = QString()) const;

private:
    const compare::SideNames& names_;
};

// The two tables of one comparison and the names the lines give them.
struct Sides {
    compare::SideTable first, second;
    compare::SideNames names;
};

// How the differences of a run are taken once both tables gave rows: the
// body compares (run.Compare) into a sink of its own under stage, and
// returns the differences it took.
using CompareBody =
    std::function<std::int64_t(compare::ComparisonRun&, compare::Steps&, const Stage&)>;

// One comparison, from creating its connections to the last difference.
// learnFills: the second table's column fills are learnt (for a script).
// Throws Failure (a table without rows among them) or Stopped.
Compared runComparison(data::DataAccess& data, std::FILE* err, const Sides& sides,
                       const compare::RunOptions& options, bool learnFills,
                       const CompareBody& body);

// Writes a report whole or not at all, so that a failed run never leaves half
// a report nor shows half of one: into output, a regular file replaced only
// once the report is complete (a device or a pipe, which scripts read as they
// read standard output, is written into), else into a temporary file that
// goes to standard output once complete. write takes the device and whether
// the report replaces a file. A write the device refuses fails the command.
void WriteReport(const std::optional<QString>& output, std::FILE* out,
                 const std::function<void(QIODevice& device, bool replacesAFile)>& write);

// The whole report onto standard output, or a failure saying why not (a
// closed or full standard output must not pass for a report written).
void writeAll(FILE* to, QIODevice& from);

// The first line of the file (a password).
QString readPassword(const QString& path);

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
                                "separated by commas, [a,b] for a name with a comma; may be "
                                "repeated)."),
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
            const std::optional<QStringList> names = compare::ColumnNamesFromText(list);
            if (!names) {
                return QStringLiteral(
                    "--ignore takes column names separated by commas (a name with a comma in "
                    "brackets: [a,b])");
            }
            for (const QString& name : *names) {
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
void printFailure(std::FILE* err, QString message);

// The login details the login window stored (read only), for a command to override.
connection::LoginDetails StoredLoginDetails();

}  // namespace cli
