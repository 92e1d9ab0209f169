#include "TableReader.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace compare {

namespace {

// Blocks each reader fills: one with the caller, the others being filled or
// waiting, so that the server never waits for the comparison nor the other way.
constexpr std::size_t kBlocks = 3;

bool isPast(TableReader::Stage now, TableReader::Stage stage) {
    return static_cast<int>(now) > static_cast<int>(stage);
}

}  // namespace

struct TableReader::Shared {
    std::unique_ptr<data::Connection> connection;
    QString connectionString, query, countQuery;
    bool queryGiven = false;
    TableReader::Explain explain;
    std::function<void(data::Connection&)> work;  // asked for, not yet done
    bool answered = false;
    std::exception_ptr workFailure;

    mutable std::mutex mutex;
    std::condition_variable changed;
    Stage stage = Stage::Connecting;
    Stage failedStage = Stage::Connecting;
    std::exception_ptr failure;
    bool cancelled = false;
    data::ResultTable columns;
    std::optional<std::int64_t> estimate;
    std::int64_t rowsRead = 0;
    std::unique_ptr<data::RowStream> stream;  // replaced only under the lock

    std::deque<data::ResultTable> blocks;  // every block this reader has
    std::deque<data::ResultTable*> full;   // filled, in order, for the caller
    std::vector<data::ResultTable*> free;  // to be filled
    data::ResultTable* taken = nullptr;    // with the caller
    bool ended = false;                    // the thread has let go of everything
    std::thread thread;

    void fail(Stage at, std::exception_ptr e) {
        const std::lock_guard lock(mutex);
        if (cancelled) {
            stage = Stage::Cancelled;
        } else {
            stage = Stage::Failed;
            failedStage = at;
            failure = explain ? explain(std::move(e)) : std::move(e);
        }
        changed.notify_all();
    }

    void enter(Stage next) {
        const std::lock_guard lock(mutex);
        if (stage != Stage::Cancelled) stage = next;
        changed.notify_all();
    }

    // Ends the reading as cancelled when a cancel came; true then.
    bool stopIfCancelled() {
        const std::lock_guard lock(mutex);
        if (!cancelled) return false;
        stage = Stage::Cancelled;
        changed.notify_all();
        return true;
    }

    void run() {
        try {
            connection->Open(connectionString);
        } catch (...) {
            fail(Stage::Connecting, std::current_exception());
            return;
        }
        enter(Stage::Querying);
        for (;;) {
            std::function<void(data::Connection&)> asked;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return cancelled || queryGiven || work; });
                if (cancelled) {
                    stage = Stage::Cancelled;
                    changed.notify_all();
                    return;
                }
                if (!work) break;
                asked = std::move(work);
                work = nullptr;
            }
            std::exception_ptr failed;
            try {
                asked(*connection);
            } catch (...) {
                failed = std::current_exception();
            }
            const std::lock_guard lock(mutex);
            if (failed && cancelled) {
                // Interrupted by the cancel: not an answer.
                stage = Stage::Cancelled;
                changed.notify_all();
                return;
            }
            workFailure = failed && explain ? explain(failed) : failed;
            answered = true;
            changed.notify_all();
        }
        if (!countQuery.isEmpty()) {
            // An estimate only: a server that refuses it leaves the count unknown.
            try {
                const data::ResultTable count = connection->FetchQuery(countQuery);
                if (count.fieldCount() > 0 && count.rowCount() > 0) {
                    const data::FieldValue v = count.value(0, 0);
                    if (v.kind() == data::ValueKind::Integer) {
                        const std::lock_guard lock(mutex);
                        estimate = v.asInteger();
                    }
                }
            } catch (...) {
            }
        }
        if (stopIfCancelled()) return;
        std::unique_ptr<data::RowStream> opened;
        try {
            opened = connection->OpenRowStream(query);
        } catch (...) {
            fail(Stage::Querying, std::current_exception());
            return;
        }
        {
            const std::lock_guard lock(mutex);
            stream = std::move(opened);
            columns = stream->Columns().withoutRows();
            for (std::size_t i = 0; i < kBlocks; ++i) {
                blocks.push_back(columns.withoutRows());
                free.push_back(&blocks.back());
            }
            if (cancelled) {
                stage = Stage::Cancelled;
                changed.notify_all();
                return;
            }
            stage = Stage::Reading;
            changed.notify_all();
        }
        for (;;) {
            data::ResultTable* block = nullptr;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return cancelled || !free.empty(); });
                if (cancelled) {
                    stage = Stage::Cancelled;
                    changed.notify_all();
                    return;
                }
                block = free.back();
                free.pop_back();
            }
            bool more = false;
            try {
                more = stream->NextBlock(*block);
            } catch (...) {
                fail(Stage::Reading, std::current_exception());
                return;
            }
            const std::lock_guard lock(mutex);
            if (!more) {
                free.push_back(block);
                if (stage == Stage::Reading) stage = Stage::Finished;
                changed.notify_all();
                return;
            }
            rowsRead += static_cast<std::int64_t>(block->rowCount());
            full.push_back(block);
            changed.notify_all();
        }
    }

    // The statement and the connection go with the thread's work, so that a
    // reader let go frees them too. The connection leaves the shared state
    // under the lock: a Cancel reaches it until then.
    void release() {
        std::unique_ptr<data::RowStream> closing;
        {
            const std::lock_guard lock(mutex);
            closing = std::move(stream);
        }
        closing.reset();  // before its connection
        std::unique_ptr<data::Connection> leaving;
        {
            const std::lock_guard lock(mutex);
            leaving = std::move(connection);
        }
        try {
            if (leaving) leaving->Close();
        } catch (...) {
        }
        leaving.reset();
        const std::lock_guard lock(mutex);
        ended = true;
        changed.notify_all();
    }

    bool waitEnded(std::chrono::milliseconds grace) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, grace, [&] { return ended; });
    }
};

TableReader::TableReader(std::unique_ptr<data::Connection> connection, QString connectionString,
                         Explain explain)
    : s_(std::make_shared<Shared>()) {
    s_->connection = std::move(connection);
    s_->connectionString = std::move(connectionString);
    s_->explain = std::move(explain);
}

void TableReader::Ask(std::function<void(data::Connection&)> work) {
    const std::lock_guard lock(s_->mutex);
    s_->work = std::move(work);
    s_->answered = false;
    s_->workFailure = nullptr;
    s_->changed.notify_all();
}

bool TableReader::Answered(int ms) {
    std::unique_lock lock(s_->mutex);
    s_->changed.wait_for(lock, std::chrono::milliseconds(ms), [&] {
        return s_->answered || s_->stage == Stage::Failed || s_->stage == Stage::Cancelled;
    });
    if (s_->answered) {
        if (s_->workFailure) std::rethrow_exception(s_->workFailure);
        return true;
    }
    if (s_->stage == Stage::Failed) std::rethrow_exception(s_->failure);
    if (s_->stage == Stage::Cancelled) throw std::runtime_error("The reading was cancelled.");
    return false;
}

void TableReader::Query(QString query, QString countQuery) {
    const std::lock_guard lock(s_->mutex);
    s_->query = std::move(query);
    s_->countQuery = std::move(countQuery);
    s_->queryGiven = true;
    s_->changed.notify_all();
}

TableReader::~TableReader() {
    if (!s_->thread.joinable()) return;
    // A cancelled statement ends once the server confirms the cancel, which
    // takes a round trip; a connect ends only when the driver's login
    // time-out says so, and a server that does not answer holds its
    // statement until the command time-out.
    Cancel();
    const bool ended = s_->waitEnded(std::chrono::milliseconds(220));
    if (ended) {
        s_->thread.join();
    } else {
        s_->thread.detach();  // it holds the shared state until it ends
    }
}

void TableReader::Start() {
    std::shared_ptr<Shared> s = s_;
    s_->thread = std::thread([s] {
        s->run();
        s->release();
    });
}

TableReader::Stage TableReader::WaitPast(Stage stage, int ms) {
    std::unique_lock lock(s_->mutex);
    s_->changed.wait_for(lock, std::chrono::milliseconds(ms), [&] {
        return isPast(s_->stage, stage) || s_->stage == Stage::Failed ||
               s_->stage == Stage::Cancelled;
    });
    return s_->stage;
}

TableReader::Stage TableReader::stage() const {
    const std::lock_guard lock(s_->mutex);
    return s_->stage;
}

TableReader::Stage TableReader::failedStage() const {
    const std::lock_guard lock(s_->mutex);
    return s_->failedStage;
}

std::exception_ptr TableReader::failure() const {
    const std::lock_guard lock(s_->mutex);
    return s_->failure;
}

const data::ResultTable& TableReader::Columns() const { return s_->columns; }

std::optional<std::int64_t> TableReader::EstimatedRows() const {
    const std::lock_guard lock(s_->mutex);
    return s_->estimate;
}

std::int64_t TableReader::RowsRead() const {
    const std::lock_guard lock(s_->mutex);
    return s_->rowsRead;
}

TableReader::Take TableReader::TakeBlock(int ms, const data::ResultTable*& block) {
    std::unique_lock lock(s_->mutex);
    if (s_->taken != nullptr) {
        s_->free.push_back(s_->taken);
        s_->taken = nullptr;
        s_->changed.notify_all();
    }
    s_->changed.wait_for(lock, std::chrono::milliseconds(ms), [&] {
        return !s_->full.empty() || s_->stage == Stage::Finished || s_->stage == Stage::Failed ||
               s_->stage == Stage::Cancelled;
    });
    block = nullptr;
    if (!s_->full.empty()) {
        s_->taken = s_->full.front();
        s_->full.pop_front();
        block = s_->taken;
        return Take::Block;
    }
    switch (s_->stage) {
        case Stage::Finished:
            return Take::End;
        case Stage::Failed:
            return Take::Failed;
        case Stage::Cancelled:
            return Take::Cancelled;
        default:
            return Take::Timeout;
    }
}

void TableReader::Cancel() {
    const std::lock_guard lock(s_->mutex);
    s_->cancelled = true;
    // The connection reaches whichever statement runs now, and refuses the
    // ones after it; it stays here until the thread lets go of it.
    if (s_->connection) s_->connection->Cancel();
    s_->changed.notify_all();
}

const data::ResultTable* ReaderBlocks::TakeFirst() {
    first_ = take();
    firstGiven_ = false;
    return first_;
}

const data::ResultTable* ReaderBlocks::Next() {
    if (!firstGiven_) {
        firstGiven_ = true;
        return first_;
    }
    return take();
}

const data::ResultTable* ReaderBlocks::take() {
    // How long one wait lasts before the hooks get a turn (painting, progress).
    constexpr int kWaitSliceMs = 20;
    for (;;) {
        const data::ResultTable* block = nullptr;
        switch (reader_.TakeBlock(kWaitSliceMs, block)) {
            case TableReader::Take::Block:
                if (hooks_.waiting) hooks_.waiting();
                return block;
            case TableReader::Take::End:
                return nullptr;
            case TableReader::Take::Failed:
                hooks_.failed();
                break;
            case TableReader::Take::Cancelled:
                hooks_.cancelled();
                break;
            case TableReader::Take::Timeout:
                if (hooks_.waiting) hooks_.waiting();
                break;
        }
    }
}

}  // namespace compare
