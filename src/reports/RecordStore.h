// A run's differing records kept whole on disk, so that a million of them
// cost disk, not memory, and can still be paged through, counted and
// filtered by kind at once.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "DifferingRecords.h"

struct sqlite3;
struct sqlite3_stmt;

namespace compare {

// The store could not be created, written or read; what() says why.
class RecordStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Which of the records a view shows.
enum class RecordFilter { All, Changed, OnlyInFirst, OnlyInSecond };

// The records in the order they were found, in an embedded database in a
// private temporary folder of its own (dorvantis-records-XXXXXX in the
// temporary folder, made with the first record), removed with the store.
// Written and read on one thread.
class RecordStore final : public RecordConsumer {
public:
    explicit RecordStore(RecordLayout layout);
    ~RecordStore() override;
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Keeps one more record; throws RecordStoreError (no folder or database
    // could be made, a full disk).
    void Take(const DifferingRecord& record) override;
    // After the last record: what was taken is written out.
    void Finish();

    const RecordLayout& layout() const { return layout_; }
    std::int64_t count(RecordFilter filter) const;
    // How many records have this field changed.
    std::int64_t changedCount(int field) const {
        return changed_.at(static_cast<std::size_t>(field));
    }
    // Up to n records of the filter from its row `from` (counted from 0).
    std::vector<DifferingRecord> records(RecordFilter filter, std::int64_t from, int n) const;
    // The row (from 0) of the record the lines name `name`, under the filter.
    std::optional<std::int64_t> rowOf(RecordFilter filter, const QString& name) const;
    // Where the store lives (removed with it); empty before the first record.
    QString folder() const;

private:
    sqlite3_stmt* prepare(const char* sql) const;
    void exec(const char* sql) const;
    [[noreturn]] void fail(const char* what) const;
    void commit();
    void open();

    RecordLayout layout_;
    std::unique_ptr<QTemporaryDir> folder_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    bool inTransaction_ = false;
    std::int64_t kindCounts_[3] = {0, 0, 0};
    std::vector<std::int64_t> changed_;
};

}  // namespace compare
