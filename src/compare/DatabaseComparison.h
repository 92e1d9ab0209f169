// Two databases compared table by table, for the command and the windows
// alike: the tables paired by schema and name, each pair compared into an
// outcome (a pair that fails ends only itself), and the text a person reads.
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

// A table pair of the two databases, or a table only one has.
struct TableEntry {
    std::optional<catalogue::TableName> first, second;
    QString listed() const { return first ? first->listed() : second->listed(); }
};

// The chosen tables of both databases paired by schema and name without
// case, as SQL Server compares names: the first database's tables in its
// order (paired or alone), then the second's alone.
std::vector<TableEntry> PairTables(const std::vector<catalogue::TableName>& first,
                                   const std::vector<catalogue::TableName>& second,
                                   const std::function<bool(const catalogue::TableName&)>& chosen);

// How one pair of tables (or a table alone) came out.
struct PairOutcome {
    enum class Kind { Same, Differ, NotCompared, OnlyInFirst, OnlyInSecond };
    Kind kind = Kind::Same;
    QString table;  // as the first database's list names it (the second's, alone there)
    bool byKey = false;
    RunSummary summary;
    std::int64_t columnsOnlyInOne = 0;
    bool bothEmpty = false;  // neither table holds a row
    // Why it was not compared; the database a table alone is in; for a pair
    // the same since no row of either met its condition, that.
    QString note;
};

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

// A database as the reports name it; a login that names none reaches the
// server's default for its user (side: "first" or "second").
QString DatabaseLabel(const connection::LoginDetails& login, const QString& side);

// "same", "differ: 2 changed (2 fields), 1 added, 1 deleted", "not compared:
// <reason>", "only in <database>", as one line (names as the lines show them).
QString ResultText(const PairOutcome& o);
// "by key", "by position", or empty for a table alone.
QString PairingText(const PairOutcome& o);

// The report's columns for a person: the table padded to width, the pairing,
// the result.
QString PairRow(const QString& table, const QString& pairing, const QString& result,
                qsizetype width);
QString PairHeaderRow(qsizetype width);
QString PairLine(const PairOutcome& o, qsizetype width);
// The width of the table column for these entries.
qsizetype TableColumnWidth(const std::vector<TableEntry>& entries);

// How many pairs came out each way.
struct PairTotals {
    std::int64_t same = 0, differ = 0, notCompared = 0, onlyInFirst = 0, onlyInSecond = 0;
    void count(PairOutcome::Kind kind);
    std::int64_t tables() const { return same + differ + notCompared + onlyInFirst + onlyInSecond; }
};

// "5 tables: 2 the same, 1 differs, 0 not compared, 1 only in demo, 1 only in Sales."
QString TotalsText(const PairTotals& totals, const connection::LoginDetails& first,
                   const connection::LoginDetails& second);
// The totals as the text report's last line (names as the lines show them).
QString TotalsLine(const PairTotals& totals, const connection::LoginDetails& first,
                   const connection::LoginDetails& second);

}  // namespace compare
