// The options both commands take: --help and --version, each side's login,
// the report's format and file, and the options of the comparison.
#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <optional>

#include "CompareOptions.h"
#include "LoginDetails.h"
#include "ReportFormat.h"

namespace cli {

// What a command was asked through the options both take.
struct SharedRequest {
    connection::LoginDetails first, second;
    compare::RunOptions options;
    std::optional<compare::ReportFormat> format;  // none: a fix script (--format sql)
    std::optional<QString> output;                // a file, else standard output
    bool summary = false;                         // the run's counts on standard error too
};

// Adds --help, --version and the shared options to the parser, in the order
// the help lists them; mapShown: --map among them in the help (a command
// that refuses it takes it unlisted).
void AddSharedOptions(QCommandLineParser& parser, bool mapShown = true);

// Parses the program's arguments (the program's name first); a mistake is a
// usage error. Answers --help and --version on out: then returns false.
bool ParseArguments(QCommandLineParser& parser, const QStringList& arguments, std::FILE* out);
// Whether --help or --version was given: then answered on out.
bool AnswerHelpOrVersion(const QCommandLineParser& parser, std::FILE* out);

// The shared options given, into request: the logins are the ones the login
// window stored (read only: a command writes no settings), overridden by the
// options; a password comes from its file, else its environment variable.
// Throws UsageError for options that cannot be used, before anything is
// read; Failure for a password file that cannot be read.
void ReadSharedOptions(const QCommandLineParser& parser, SharedRequest& request);

}  // namespace cli
