#include "CommandParts.h"

#include <unistd.h>

#include <QFile>
#include <QTemporaryFile>
#include <cerrno>
#include <cstring>

#include "DifferenceLines.h"
#include "ErrorReport.h"
#include "ReportFile.h"
#include "ReportWriter.h"
#include "Settings.h"

namespace cli {

[[noreturn]] void fail(const QString& message) { throw Failure{message}; }

QString describe(const std::exception_ptr& e) { return app::DescribeFailure(e); }

volatile std::sig_atomic_t stopSignal = 0;
volatile std::sig_atomic_t watching = 0;

int stoppedStatus(int signal) { return signal == SIGINT ? 130 : 2; }

namespace {

extern "C" void onStopSignal(int signal) {
    if (watching == 0) ::_exit(stoppedStatus(signal));
    stopSignal = signal;
}

}  // namespace

void watchStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM}) ::sigaction(signal, &action, nullptr);
}

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

catalogue::CatalogueRead readCatalogue(data::DataAccess& data,
                                       const connection::LoginDetails& login, const QString& side) {
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

void Stage::operator()(const std::function<void()>& fn, const QString& what) const {
    try {
        fn();
    } catch (const compare::RunCancelled&) {
        throw Stopped{stopSignal};
    } catch (const Failure&) {
        throw;
    } catch (...) {
        fail(compare::RunFailureText(std::current_exception(), names_, what));
    }
}

Compared runComparison(data::DataAccess& data, std::FILE* err, const Sides& sides,
                       const compare::RunOptions& options, bool learnFills,
                       const CompareBody& body) {
    CommandObserver observer(err);
    compare::ComparisonRun run(data, options, observer);
    observer.run = &run;
    // A failure is one line: the tables named in it as the lines name them.
    const compare::SideNames shown{compare::WithVisibleControls(sides.names.first),
                                   compare::WithVisibleControls(sides.names.second)};
    const Stage stage(shown);
    const compare::FirstRows rows =
        compare::OpenRun(run, sides.first, sides.second, shown, learnFills, stage);
    if (!rows.first) fail(run.NoRowsText(compare::Side::First, shown.first));
    if (!rows.second) fail(run.NoRowsText(compare::Side::Second, shown.second));

    CommandSteps steps;
    const std::int64_t differences = body(run, steps, stage);
    observer.progress.clear();
    return {differences, run.Summary()};
}

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

void printFailure(std::FILE* err, QString message) {
    message.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    message.replace(QLatin1Char('\n'), QLatin1Char(' '));
    message.replace(QLatin1Char('\r'), QLatin1Char(' '));
    // What else would split the line or reorder it unseen shows as in the lines.
    std::fprintf(err, "dorvantis: %s\n",
                 compare::WithVisibleControls(message.trimmed()).toLocal8Bit().constData());
}

void WriteReport(const std::optional<QString>& output, std::FILE* out,
                 const std::function<void(QIODevice&, bool)>& write) {
    try {
        if (output) {
            compare::ReportFile file(*output);
            if (!file.open()) {
                fail(QStringLiteral("Cannot write %1: %2").arg(*output, file.errorString()));
            }
            write(file.device(), file.replaces());
            if (!file.commit()) {
                fail(QStringLiteral("Cannot write %1: %2").arg(*output, file.errorString()));
            }
        } else {
            QTemporaryFile file;
            if (!file.open()) fail(QStringLiteral("Cannot make a temporary file for the report."));
            write(file, false);
            writeAll(out, file);
        }
    } catch (const compare::ReportWriteError& e) {
        fail(output ? QStringLiteral("Cannot write %1: %2").arg(*output, e.reason())
                    : QString::fromUtf8(e.what()));
    }
}

connection::LoginDetails StoredLoginDetails() {
    const connection::SettingsStore store;
    return {store.read(connection::kServerSetting),
            store.read(connection::kUserSetting),
            store.read(connection::kPasswordSetting),
            store.read(connection::kDatabaseSetting),
            store.read(connection::kPortSetting),
            connection::IsTicked(store.read(connection::kLocalConnectionSetting))};
}

}  // namespace cli
