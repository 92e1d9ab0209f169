#pragma once

#include <QStringList>
#include <cstdio>

#include "DataAccess.h"

namespace cli {

// Whether the program was started as a command (any argument) rather than
// as the wizard (none).
bool IsCommandLine(int argc, char** argv);

// Runs `dorvantis compare LEFT RIGHT [options]`, `dorvantis compare-databases
// [options]` (and --help, --version) without a window or a display, and
// returns the exit status: 0 when the tables hold the same data, 1 when
// differences were found, 2 on any failure.
int RunCommandLine(int argc, char** argv);

// The same over a data-access layer of the caller's (a test double), with the
// program's arguments as QCoreApplication gives them (the program's name
// first), the report and help on out and messages on err. A QCoreApplication
// must exist. Stop signals are the caller's: RunCommandLine watches them.
int RunCommand(const QStringList& arguments, data::DataAccess& data, std::FILE* out,
               std::FILE* err);

}  // namespace cli
