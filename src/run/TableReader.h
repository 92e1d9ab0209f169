#pragma once

#include <QString>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "DataAccess.h"
#include "RowBlocks.h"

namespace compare {

// Reads one table on a thread of its own: opens the connection, asks the
// server for an estimate of the table's rows, runs the query, and hands the
// rows over block by block through a small bounded set of blocks, so that
// reading and comparing overlap and memory stays that of a few blocks,
// whatever the table's size. The caller polls with time-outs, so that it can
// keep a window painting or a progress line going meanwhile.
//
// The caller never waits long for the thread: the thread owns the connection,
// the statement and what it shares with the reader, so that a reader gone
// before its thread ended (a server that answers nothing) leaves the thread to
// end alone, touching nothing else.
class TableReader {
public:
    enum class Stage { Connecting, Querying, Reading, Finished, Failed, Cancelled };

    // What a failure of the reader's statements becomes before anyone sees
    // it (the server's words put in the user's terms); none: as it came.
    using Explain = std::function<std::exception_ptr(std::exception_ptr)>;

    // The connection's options must already be set; the reader owns it from here.
    TableReader(std::unique_ptr<data::Connection> connection, QString connectionString,
                Explain explain = {});
    // Cancels the reading and gives the thread a short grace (a quarter of a
    // second at most) to end; a thread that has not ended by then (inside the
    // driver's connect, which nothing can interrupt, or with a server that
    // does not answer the cancel) is left to end alone, and frees its
    // statement and connection when it does.
    ~TableReader();
    TableReader(const TableReader&) = delete;
    TableReader& operator=(const TableReader&) = delete;

    // Starts the thread, which opens the connection and then waits for the query.
    void Start();
    // Runs work with the reader's connection, on its thread, once connected
    // and before the query: to learn what the query must be. The work may
    // outlive the reader and its caller (it goes on alone when the reader is
    // let go), so it must own what it touches: capture shared_ptrs and
    // copies, never references to the caller's objects. A cancel interrupts
    // the statement it runs.
    void Ask(std::function<void(data::Connection&)> work);
    // Whether the work asked for has ended, waiting up to ms for it; rethrows
    // what it threw, and throws when the reader failed or was cancelled first
    // (work interrupted by a cancel counts as cancelled: stage() is then
    // Cancelled).
    bool Answered(int ms);

    // Gives the query (and the row-count query, which may be empty: no
    // estimate asked) to run once connected.
    void Query(QString query, QString countQuery);

    // Waits up to ms until the reader is past `stage` (or has failed or been
    // cancelled); returns the stage it is in then.
    Stage WaitPast(Stage stage, int ms);
    Stage stage() const;
    // Set once failed: the stage that failed (Connecting, Querying, Reading)
    // and what the data layer threw.
    Stage failedStage() const;
    std::exception_ptr failure() const;

    // From Reading on: the result's columns, without rows.
    const data::ResultTable& Columns() const;
    // The server's estimate of the rows, when it gave one.
    std::optional<std::int64_t> EstimatedRows() const;
    // Rows handed over so far.
    std::int64_t RowsRead() const;

    enum class Take { Block, End, Failed, Cancelled, Timeout };
    // The next block, waiting up to ms for it. The block stays valid until the
    // next call (it then goes back to the reader to be filled again).
    Take TakeBlock(int ms, const data::ResultTable*& block);

    // Stops the reading from any thread and returns at once: whatever
    // statement the reader runs (estimate, asked work, the query before its
    // first row, a block) is cancelled through the connection, and the
    // reader ends as Cancelled, not Failed.
    void Cancel();

private:
    struct Shared;
    std::shared_ptr<Shared> s_;
};

// The rows of one table for the engine, as its reader hands them over; the
// first block may be taken ahead (to know whether the table has rows).
class ReaderBlocks final : public RowBlocks {
public:
    struct Hooks {
        std::function<void()> waiting;    // after each block, and while waiting for one
        std::function<void()> failed;     // the read failed: must throw
        std::function<void()> cancelled;  // the read was cancelled: must throw
    };
    ReaderBlocks(TableReader& reader, Hooks hooks) : reader_(reader), hooks_(std::move(hooks)) {}

    // The first block, or null when the table has no rows.
    const data::ResultTable* TakeFirst();
    const data::ResultTable* Next() override;

private:
    const data::ResultTable* take();

    TableReader& reader_;
    Hooks hooks_;
    const data::ResultTable* first_ = nullptr;
    bool firstGiven_ = true;
};

}  // namespace compare
