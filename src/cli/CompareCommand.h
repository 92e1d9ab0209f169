#pragma once

#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>

#include "DataAccess.h"

namespace cli {

// `dorvantis compare LEFT RIGHT [options]`: the comparison "Next >" runs, its
// report (or fix script) onto out or into --output. arguments: the program's,
// its name first. Returns the exit status: 0 the tables hold the same data, 1
// differences found. Throws UsageError, Failure (status 2) and Stopped.
// The options of the fix script (--format sql) alone.
void AddScriptOptions(QCommandLineParser& parser);

int RunCompare(const QStringList& arguments, data::DataAccess& data, std::FILE* out,
               std::FILE* err);

}  // namespace cli
