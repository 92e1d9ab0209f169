// How a command fails: one line on standard error and exit status 2.
#pragma once

#include <QString>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>

#include "LoginDetails.h"
#include "Side.h"

namespace cli {

// A failure that ends the command: its message goes to standard error.
struct Failure {
    QString message;
    bool driverText = false;  // holds the driver's records, one a line
};

[[noreturn]] void fail(const QString& message);
// A failure the driver's text explains (its records are joined by blanks on
// the way out); failureText: the message made of the cause.
[[noreturn]] void failWith(const std::exception_ptr& cause, const QString& failureText);

// Bad usage, said before anything reaches a server, with a pointer to --help.
struct UsageError {
    QString message;
};

[[noreturn]] void usageError(const QString& message);

QString describe(const std::exception_ptr& e);

// A table list that could not be read. side: which side's ("First",
// "Second") when the sides are in two databases, for the driver's reason
// alone would not say which refused; empty within one.
QString ListingFailureText(std::optional<compare::Side> side, const connection::LoginDetails& login,
                           const std::exception_ptr& cause);

// One line on standard error: the driver's several records joined (driverText);
// names and values with their control characters shown as the lines show them.
void printFailure(std::FILE* err, const QString& message, bool driverText);

// Runs a command and returns its exit status: a usage error or a failure is
// one line on err and status 2; a stop signal ends the process at once with
// its status.
int RunGuarded(std::FILE* err, const std::function<int()>& command);

}  // namespace cli
