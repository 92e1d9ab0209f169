#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <optional>

#include "CompareOptions.h"
#include "DataAccess.h"
#include "LoginDetails.h"
#include "ReportFormat.h"

namespace cli {

// What `dorvantis compare-databases` was asked.
struct DatabasesRequest {
    connection::LoginDetails first, second;
    compare::RunOptions options;  // key.automatic: by each table's primary key where it has one
    compare::ReportFormat format = compare::ReportFormat::Text;
    std::optional<QString> output;  // a file, else standard output
    QStringList tables;             // shell patterns a table must match (none: every table)
    QStringList exclude;            // shell patterns no table may match
    bool details = false;           // each pair's difference lines under its line
    bool summary = false;           // the totals on standard error too
    bool views = false;             // views paired by name too
};

// The options compare-databases alone takes (--tables, --exclude, --details,
// --views).
void AddDatabasesOptions(QCommandLineParser& parser);

// `dorvantis compare-databases [options]`: the options read into a request,
// then CompareDatabases. arguments: the program's, its name first. Throws
// UsageError, Failure (status 2) and Stopped.
int RunCompareDatabases(const QStringList& arguments, data::DataAccess& data, std::FILE* out,
                        std::FILE* err);

// Compares every user table of the first database with the table of the
// same schema and name (without case) in the second, one pair at a time,
// and reports one line a pair (the same data; counts; why it could not be
// compared) and one a table only one database has, totals last. Returns the
// exit status: 0 all the same and no table alone, 1 anything differs, 2 a pair
// could not be compared. Throws Failure (a catalogue that cannot be read, a
// report that cannot be written) and Stopped.
int CompareDatabases(const DatabasesRequest& request, data::DataAccess& data, std::FILE* out,
                     std::FILE* err);

}  // namespace cli
