// Two databases compared table by table, for the command and the windows
// alike: the tables paired by schema and name, each pair compared into an
// outcome (a pair that fails ends only itself).
#pragma once

#include <QRegularExpression>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "CompareOptions.h"
#include "ComparisonRun.h"
#include "DataAccess.h"
#include "DatabaseReport.h"
#include "DifferenceSink.h"
#include "LoginDetails.h"
#include "SideNames.h"
#include "TableCatalogue.h"

namespace compare {

// A shell pattern ("Order*", "sales.?", "[A-C]*", "[!x]*") as a regular
// expression over a whole name, without case; nothing when it is none (a [
// not closed).
std::optional<QRegularExpression> ShellPattern(const QString& pattern);

// Whether a pattern of the list names the table: as the lists show it
// ("Orders", "sales.Orders") or with its schema ("dbo.Orders").
bool PatternsName(const std::vector<QRegularExpression>& patterns, const catalogue::TableName& t);

// The chosen tables of both databases paired by schema and name without
// case, as SQL Server compares names: the first database's tables in its
// order (paired or alone), then the second's alone.
std::vector<TableEntry> PairTables(const std::vector<catalogue::TableName>& first,
                                   const std::vector<catalogue::TableName>& second,
                                   const std::function<bool(const catalogue::TableName&)>& chosen);

// What a caller keeps of a pair's differences besides their counts.
class PairDetails {
public:
    virtual ~PairDetails() = default;
    // At the start of each attempt (a pair retried by position starts again):
    // the sink the differences go to as well.
    virtual DifferenceSink& begin(const SideNames& names) = 0;
    // After the last difference of the attempt.
    virtual void finish(const RunSummary& summary) = 0;
};

// One pair compared: by key where the options ask for it and the first table
// has a primary key, else by position; the row conditions apply where a
// table has their columns. What fails the pair becomes its reason. running
// is told the run while it is under way (for a cancel), and null after.
// Throws RunCancelled.
PairOutcome ComparePair(data::DataAccess& data, const SideTable& first, const SideTable& second,
                        RunOptions options, RunObserver& observer,
                        const std::function<void(ComparisonRun*)>& running = {},
                        PairDetails* details = nullptr);

// A table only one database has, naming that database (of the logins of the
// first and the second side).
PairOutcome Alone(const TableEntry& entry, const connection::LoginDetails& first,
                  const connection::LoginDetails& second);

}  // namespace compare
