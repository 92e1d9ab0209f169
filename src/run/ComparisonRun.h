#pragma once

#include <QElapsedTimer>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "ChecksumPass.h"
#include "CompareOptions.h"
#include "DataAccess.h"
#include "DataError.h"
#include "DifferenceSink.h"
#include "LoginDetails.h"
#include "RecordKey.h"
#include "Side.h"
#include "SideNames.h"
#include "Steps.h"
#include "TableCatalogue.h"
#include "TableComparison.h"

namespace compare {

class TableReader;
class ReaderBlocks;
struct TableShapes;

// Fields by position: 0 to lastField of both tables, named by the first
// table's names.
struct FieldPlan {
    int lastField = -1;
    std::vector<QString> names;
};

// What the caller shows while a run waits; called on the caller's thread.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    // Between short waits (a few tens of milliseconds): the place to paint
    // or to notice a request to stop and call ComparisonRun::Cancel.
    virtual void Waiting() {}
    // Rows read so far of both tables, against the rows the servers expect
    // (when both gave an estimate): once when the reading starts, then a few
    // times a second.
    virtual void Progress(std::int64_t /*rowsRead*/, std::optional<std::int64_t> /*expected*/) {}
};

// The run was cancelled (Esc, a signal): thrown out of whichever stage was
// under way. Not an error to report.
struct RunCancelled {};

// A checksum statement the server refused: the driver's error as it was,
// and the side whose table it hashed, for a message that names it.
class ChecksumFailed : public data::DataError {
public:
    ChecksumFailed(const data::DataError& cause, Side side)
        : data::DataError(cause.description(), cause.sqlState(), cause.nativeCode()), side(side) {}
    Side side;
};

// A table that could not be read part-way: the side, and what failed it.
struct ReadFailed {
    Side side;
    std::exception_ptr cause;
};

// One comparison of two tables, from creating the connections to the last
// difference, for the windows and the command line alike. It reads each
// table on a connection and a thread of its own, both at the same time, and
// hands the rows block by block to the engine, in constant memory.
//
// Its stages are called in order by the caller, each under a step of the
// caller's own (the windows number them); a stage throws what failed it, or
// RunCancelled. Waiting stages wait in short slices and call the observer
// between them, so the caller's thread never blocks on a server: Cancel()
// reaches every statement the readers run, and a reader that does not come
// back at once is let go, never waited for.
class ComparisonRun {
public:
    ComparisonRun(data::DataAccess& data, RunOptions options, RunObserver& observer);
    ~ComparisonRun();
    ComparisonRun(const ComparisonRun&) = delete;
    ComparisonRun& operator=(const ComparisonRun&) = delete;

    // Both connections' objects (throws when the data layer cannot be had).
    void CreateConnections();
    // The connections' options, alike for both: read and write, a command
    // time-out and a connection time-out of 5000 s, the cursor on the client.
    void SetMode();
    void SetCommandTimeout();
    void SetConnectionTimeout();
    void SetCursorLocation();
    // Opens both connections at once, each with its side's login; returns
    // once both are open.
    void Connect(const connection::LoginDetails& first, const connection::LoginDetails& second);
    // The queries that read both tables, for the options: records by key
    // (read in its order), columns left out (the queries list the columns
    // kept, so that the others are never read), row conditions (each in its
    // table's WHERE). Learns both tables' columns first, at once (and the
    // first's primary key when the key is automatic): char and varchar
    // columns are read converted by the server (SelectItem); by position a
    // table that cannot be described is read as it is, and fails there. Throws
    // KeyProblem (OptionProblem among them) when the options cannot be had: a
    // key or a column to leave out that the tables do not have, a key column
    // left out, every column of a table left out, a condition that would not
    // stay one condition of the query -- all before any table is read.
    void PlanQueries(const catalogue::TableName& first, const catalogue::TableName& second);
    // Before PlanQueries: it also learns how the server fills the second
    // table's columns (SecondColumnFills), for a script that writes its rows.
    void LearnColumnFills() { learnFills_ = true; }
    const std::vector<ColumnFill>& SecondColumnFills() const { return secondFills_; }
    // With the fills: what the server does beside storing the rows a script
    // writes, and what it keeps from the side's login. Period columns
    // (GENERATED ALWAYS) of either table are then left out of the
    // comparison: the server sets them, so they differ in every record.
    const TableGuards& Guards(Side side) const { return guards_[side == Side::First ? 0 : 1]; }
    // Records paired by key: the key's columns among the queries' fields.
    const std::optional<RecordKey>& Key() const { return key_; }
    bool pairsByKey() const { return options_.key.pairsByKey(); }
    const RunOptions& options() const { return options_; }
    // Whether PlanQueries has anything to do (a caller may skip it otherwise).
    bool plansQueries() const;
    // Sends a table's query (and the estimate of its rows, unless a
    // condition leaves rows out); both are sent before either is waited for,
    // since by key the server may sort both. The table's query is the one
    // PlanQueries planned when it had something to do.
    void SendQuery(Side side, const catalogue::TableName& table);
    // Waits until the side's query has answered.
    void WaitQueried(Side side);
    // Whether the side's table holds a record: takes its first block.
    // Throws ReadFailed when that read fails.
    bool HasRows(Side side);
    // The side's columns (once queried).
    const data::ResultTable& Columns(Side side) const;
    // Fields by position over the columns both tables have, named by the first's.
    FieldPlan PositionalFields() const;
    // The fields Compare pairs, for these fields by position (or by name,
    // when the options say so).
    std::vector<FieldPairing> FieldPairs(const FieldPlan& fields) const;
    // Compares the two tables to the last record, reporting to the sink
    // through the caller's steps. Fields by name when the options say so,
    // else by `fields`. Throws ReadFailed, KeyOrderBroken or RunCancelled.
    void Compare(Steps& steps, DifferenceSink& sink, const FieldPlan& fields);
    // What the run found: the counts of the comparison (as far as it got),
    // and the time from connecting to the last difference.
    const RunSummary& Summary() const { return summary_; }
    // Releases both readers (a reader still inside the driver is let go).
    void Close();

    // The side's row condition; empty: all its rows.
    const QString& condition(Side side) const;
    // What the user is told when the side gave no row: the table is empty,
    // or no row meets its condition.
    QString NoRowsText(Side side, const QString& tableName) const;

    // Stops the run from any thread: every stage under way or to come
    // throws RunCancelled on the caller's thread.
    void Cancel();

private:
    TableReader& reader(Side side);
    ReaderBlocks& blocks(Side side);
    std::unique_ptr<data::Connection>& connection(Side side);
    template <class Fn>
    void onBoth(Fn fn);
    void waitPast(Side side, int stage);
    void checkConditions() const;
    TableComparison comparison(const FieldPlan& fields) const;
    void waiting();
    void reading();
    std::array<std::vector<data::ResultTable>, 2> onBothServers(
        const std::array<QStringList, 2>& statements);
    void checksumPass(const catalogue::TableName& first, const catalogue::TableName& second,
                      const TableShapes& shapes, const struct QueryPlan& plan);

    data::DataAccess& data_;
    RunOptions options_;
    RunObserver& observer_;
    std::atomic<bool> cancelled_{false};
    std::array<std::unique_ptr<data::Connection>, 2> connections_;
    std::mutex readersMutex_;  // Cancel may come from another thread
    std::array<std::unique_ptr<TableReader>, 2> readers_;
    std::array<std::unique_ptr<ReaderBlocks>, 2> blocks_;
    std::optional<RecordKey> key_;  // by key: as fields of the queries' results
    bool learnFills_ = false;
    std::vector<ColumnFill> secondFills_;
    std::array<TableGuards, 2> guards_;
    std::array<QString, 2> queries_;            // as PlanQueries planned them
    std::optional<ChecksumOutcome> checksums_;  // by checksums: what is left to read
    std::optional<std::int64_t> expected_;
    QElapsedTimer sinceProgress_;
    QElapsedTimer sinceConnect_;
    RunSummary summary_;
};

// What failed a stage of a run, as the user is told it: a refused key or
// option, records out of key order, a table that could not be read (each
// naming the tables as the lines do), else what failed, after prefix.
QString RunFailureText(const std::exception_ptr& failure, const SideNames& names,
                       const QString& prefix = QString());

// Whether each table gave a row.
struct FirstRows {
    bool first = false;
    bool second = false;
};

// The stages that open a run, from creating its connections to both tables'
// first rows. PlanQueries comes only when the run has something to plan.
enum class OpenStage {
    CreateConnections,
    SetMode,
    SetCommandTimeout,
    SetConnectionTimeout,
    SetCursorLocation,
    Connect,
    PlanQueries,
    SendFirst,
    SendSecond,
    WaitFirst,
    WaitSecond,
    FirstRows,
    SecondRows,
};

// Runs one stage: fn under the caller's step for it (the window numbers
// them, the command does not). False ends the run there: a stage that
// failed, a refusal the caller has shown, Esc.
using StageRunner = std::function<bool(OpenStage stage, const std::function<void()>& fn)>;

// A run's stages in the one order every run takes them, the window's, the
// command's and each pair's of two databases, each through stage; rows says
// whether each table gave a row (set by the FirstRows and SecondRows
// stages). first and second are read from the Connect stage on, so that a
// caller may settle them in an earlier stage. learnFills: the second table's
// column fills are learnt too (for a script). False when a stage ended the run.
bool OpenRun(ComparisonRun& run, const SideTable& first, const SideTable& second, bool learnFills,
             FirstRows& rows, const StageRunner& stage);

// Runs one stage for a caller that ends the run on any failure: fn, and what
// it throws the caller's own (prefix goes before a failure the run says no
// more of).
using RunStage = std::function<void(const std::function<void()>& fn, const QString& prefix)>;

// OpenRun for such a caller: a table that cannot be read is named, the
// others' failures say what they are.
FirstRows OpenRun(ComparisonRun& run, const SideTable& first, const SideTable& second,
                  const SideNames& names, bool learnFills, const RunStage& stage);

}  // namespace compare
