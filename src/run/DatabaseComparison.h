// Two databases compared table by table, for the command and the windows
// alike: the tables paired by schema and name, each pair compared into an
// outcome (a pair that fails ends only itself).
#pragma once

#include <QRegularExpression>
#include <QString>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "CompareOptions.h"
#include "ComparisonRun.h"
#include "DataAccess.h"
#include "DatabaseReport.h"
#include "DifferenceSink.h"
#include "DifferingRecords.h"
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
    // the sink the differences go to as well; layout: the columns of the
    // records it is handed whole (RecordsDiffer).
    virtual DifferenceSink& begin(const SideNames& names, const RecordLayout& layout) = 0;
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

// An entry of the list as a whole run takes it: a pair compared (as
// ComparePair, but whatever else fails the pair becomes its reason too), a
// table alone said. A window compares one pair again through this, so that it
// comes out as it did in the run. Throws RunCancelled.
PairOutcome CompareEntry(data::DataAccess& data, const TableEntry& entry,
                         const connection::LoginDetails& first,
                         const connection::LoginDetails& second, const RunOptions& options,
                         RunObserver& observer,
                         const std::function<void(ComparisonRun*)>& running = {},
                         PairDetails* details = nullptr);

// A side's table list could not be read, and why.
struct ListingFailed {
    Side side;
    std::exception_ptr cause;
};

// Reads a database's table list (the windows read it while they paint).
using CatalogueReader =
    std::function<catalogue::CatalogueRead(const connection::LoginDetails& login)>;

// What the caller shows of a run over two databases, and where it may stop
// it; called on the run's thread. The run's waits and rows read come through
// RunObserver, pair by pair.
class DatabaseObserver : public RunObserver {
public:
    // Before each entry (a pair, or a table alone): index from 0 of count.
    virtual void PairStarting(const TableEntry& /*entry*/, std::size_t /*index*/,
                              std::size_t /*count*/) {}
    // Where a pair's difference lines go besides their counts; asked before
    // each pair. Null: nowhere.
    virtual PairDetails* Details() { return nullptr; }
    // After each entry, with how it came out.
    virtual void PairDone(const PairOutcome& /*outcome*/) {}
};

// How a whole run came out: each entry's outcome in the listed order, and the
// totals.
struct DatabaseResult {
    std::vector<PairOutcome> outcomes;
    PairTotals totals;
};

// Two databases compared table by table, for the command and the windows
// alike: List reads both table lists and pairs the tables, Run compares the
// pairs one at a time, so that memory stays that of one comparison. Whatever
// fails a pair ends only that pair, in its outcome.
class DatabaseComparison {
public:
    DatabaseComparison(data::DataAccess& data, connection::LoginDetails first,
                       connection::LoginDetails second, RunOptions options);
    DatabaseComparison(const DatabaseComparison&) = delete;
    DatabaseComparison& operator=(const DatabaseComparison&) = delete;

    // Reads the first database's table list, then the second's, through read
    // (by default on this thread, with views when withViews), and pairs the
    // tables chosen (by default all). Throws ListingFailed, or RunCancelled
    // (once cancelled, or from read).
    void List(const std::function<bool(const catalogue::TableName&)>& chosen = {},
              const CatalogueReader& read = {}, bool withViews = false);
    // After List: a side's table list, and the entries Run goes through.
    const catalogue::CatalogueRead& Listed(Side side) const;
    const std::vector<TableEntry>& Entries() const { return entries_; }
    // What every pair is compared with.
    const connection::LoginDetails& login(Side side) const {
        return side == Side::First ? first_ : second_;
    }
    const RunOptions& options() const { return options_; }

    // Compares each pair, and says each table alone, in the order of
    // Entries(). Throws RunCancelled once cancelled: a run cut short has no
    // result, lest it pass for a comparison of every table; what the
    // observer throws ends the run too.
    DatabaseResult Run(DatabaseObserver& observer);

    // From any thread, or from the observer: the pair under way stops, and
    // no other starts.
    void Cancel();
    bool Cancelled() const { return cancelled_; }

private:
    void running(ComparisonRun* run);

    data::DataAccess& data_;
    connection::LoginDetails first_, second_;
    RunOptions options_;
    std::array<catalogue::CatalogueRead, 2> lists_;
    std::vector<TableEntry> entries_;
    std::atomic<bool> cancelled_{false};
    std::mutex runMutex_;  // Cancel may come from another thread
    ComparisonRun* current_ = nullptr;
};

}  // namespace compare
