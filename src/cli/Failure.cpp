#include "Failure.h"

#include <unistd.h>

#include "DifferenceLines.h"
#include "ErrorReport.h"
#include "RecordKey.h"
#include "SideNames.h"
#include "TableComparison.h"
#include "Terminal.h"

namespace cli {

[[noreturn]] void fail(const QString& message) { throw Failure{message}; }

[[noreturn]] void failWith(const std::exception_ptr& cause, const QString& failureText) {
    // Refusals in the program's own words hold names, never driver records.
    try {
        std::rethrow_exception(cause);
    } catch (const compare::KeyProblem&) {
        throw Failure{failureText};
    } catch (const compare::KeyOrderBroken&) {
        throw Failure{failureText};
    } catch (...) {
    }
    throw Failure{failureText, true};
}

[[noreturn]] void usageError(const QString& message) { throw UsageError{message}; }

QString describe(const std::exception_ptr& e) { return app::DescribeFailure(e); }

QString ListingFailureText(std::optional<compare::Side> side, const connection::LoginDetails& login,
                           const std::exception_ptr& cause) {
    const QString which =
        side ? compare::SideLocation(*side, login) + QStringLiteral(": ") : QString();
    return which + describe(cause);
}

void printFailure(std::FILE* err, const QString& message, bool driverText) {
    QString line = message;
    if (driverText) {
        line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        line.replace(QLatin1Char('\n'), QLatin1Char(' '));
        line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    }
    // What else would split the line or reorder it unseen shows as in the
    // lines: in a refusal a line feed in a name is told from a blank.
    std::fprintf(err, "dorvantis: %s\n",
                 compare::WithVisibleControls(line.trimmed()).toLocal8Bit().constData());
}

int RunGuarded(std::FILE* err, const std::function<int()>& command) {
    try {
        return command();
    } catch (const UsageError& usage) {
        std::fprintf(err, "dorvantis: %s\nTry 'dorvantis --help'.\n",
                     compare::WithVisibleControls(usage.message).toLocal8Bit().constData());
    } catch (const Stopped& stopped) {
        // A reader let go may still be inside the driver: the process ends
        // now, without the exit handlers that would pull its connection away.
        std::fflush(nullptr);
        ::_exit(stoppedStatus(stopped.signal));
    } catch (const Failure& f) {
        printFailure(err, f.message, f.driverText);
    } catch (...) {
        try {
            failWith(std::current_exception(), describe(std::current_exception()));
        } catch (const Failure& f) {
            printFailure(err, f.message, f.driverText);
        }
    }
    return 2;
}

}  // namespace cli
