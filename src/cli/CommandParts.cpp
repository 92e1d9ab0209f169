#include "CommandParts.h"

#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

#include "ErrorReport.h"
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
    } catch (const compare::NoPrimaryKey& problem) {
        throw WithoutPrimaryKey{{problem.message()}};
    } catch (const compare::KeyProblem& problem) {
        fail(problem.message());
    } catch (const compare::KeyOrderBroken& broken) {
        fail(broken.message(broken.inFirstTable() ? names_.first : names_.second));
    } catch (const compare::ReadFailed& failed) {
        fail(QStringLiteral("%1 could not be read: %2")
                 .arg(failed.side == compare::Side::First ? names_.first : names_.second,
                      describe(failed.cause)));
    } catch (const Failure&) {
        throw;
    } catch (...) {
        fail(what + describe(std::current_exception()));
    }
}

Compared runComparison(data::DataAccess& data, std::FILE* err, const Sides& sides,
                       const compare::RunOptions& options, bool learnFills, const CompareBody& body,
                       const QString& progressLabel) {
    const QString& left = sides.names.first;
    const QString& right = sides.names.second;
    CommandObserver observer(err);
    compare::ComparisonRun run(data, options, observer);
    observer.run = &run;
    const Stage stage(sides.names);
    observer.progress.begin(progressLabel);
    stage([&] {
        run.CreateConnections();
        run.SetMode();
        run.SetCommandTimeout();
        run.SetConnectionTimeout();
        run.SetCursorLocation();
        run.Connect(sides.first.login, sides.second.login);
        if (learnFills) run.LearnColumnFills();
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
    stage([&] { secondRows = run.HasRows(compare::Side::Second); });
    if (!firstRows || !secondRows) {
        NoRows none;
        none.message = !firstRows ? run.NoRowsText(compare::Side::First, left)
                                  : run.NoRowsText(compare::Side::Second, right);
        none.firstEmpty = !firstRows;
        none.secondEmpty = !secondRows;
        throw none;
    }

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
    std::fprintf(err, "dorvantis: %s\n", message.trimmed().toLocal8Bit().constData());
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
