// A run's differing records kept whole on disk, so that a million of them
// cost disk, not memory, and can still be paged through, counted and
// filtered by kind at once.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "DifferingRecords.h"
#include "ValueText.h"

struct sqlite3;
struct sqlite3_stmt;

namespace compare {

// Bytes appended a few at a time: cheaper than QByteArray, whose appends
// each check for sharing and growth.
class ByteBuffer {
public:
    void clear() { size_ = 0; }
    std::size_t size() const { return size_; }
    const char* data() const { return bytes_.data(); }
    void append(const void* data, std::size_t n) {
        if (size_ + n > bytes_.size()) bytes_.resize(std::max(bytes_.size() * 2, size_ + n + 256));
        std::memcpy(bytes_.data() + size_, data, n);
        size_ += n;
    }

private:
    std::vector<char> bytes_;
    std::size_t size_ = 0;
};

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
// Values are kept as the engine read them and become texts (as the lines
// write them) only when read back, a page at a time. Written and read on
// one thread.
class RecordStore final : public RecordConsumer {
public:
    explicit RecordStore(RecordLayout layout);
    ~RecordStore() override;
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Keeps one more record; throws RecordStoreError (no folder or database
    // could be made, a full disk).
    void TakeRows(const RecordRows& rows, const RecordLayout& layout,
                  const ValueFormatter& formatter) override;
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
    // The row (from 0), under the filter, of the record behind a line of the
    // results' field list (fieldList) or record list, counted from 0; none
    // for a line of no record (a field only one table has, a key not unique)
    // or a record the filter hides.
    std::optional<std::int64_t> rowOf(RecordFilter filter, bool fieldList, std::int64_t line) const;
    // Where the store lives (removed with it); empty before the first record.
    QString folder() const;

private:
    sqlite3_stmt* prepare(const char* sql) const;
    void exec(const char* sql) const;
    [[noreturn]] void fail(const char* what) const;
    void open();
    void keep(DifferingRecord::Kind kind, std::int64_t fieldLines, std::int64_t recordLines,
              const std::vector<bool>& differs);
    void begin() const;
    void writePage(bool partial) const;
    void writeIds(int kind, bool partial) const;
    void flush() const;
    std::vector<std::int64_t> ids(RecordFilter filter, std::int64_t from, int n) const;
    DifferingRecord unpack(quint8 kind, QByteArrayView bytes) const;

    RecordLayout layout_;
    const ValueFormatter formatter_;  // the user's regional settings, as the lines
    std::unique_ptr<QTemporaryDir> folder_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insertPage_ = nullptr;
    sqlite3_stmt* insertIds_ = nullptr;
    std::int64_t kindCounts_[3] = {0, 0, 0};
    std::vector<std::int64_t> changed_;
    ByteBuffer packed_;  // the record being kept, reused
    // The page being filled and each kind's record numbers not yet written:
    // written when full, or before anything is read.
    mutable ByteBuffer page_;
    mutable int pageCount_ = 0;
    std::int64_t pageFieldLines_ = 0, pageRecordLines_ = 0;
    mutable std::array<ByteBuffer, 3> ids_;
    mutable bool inTransaction_ = false;
    mutable int pagesSinceCommit_ = 0;
};

// Removes the folder of every store still open, for a program about to end
// without destructors (the windows end so, on "Exit" and on a stop signal):
// the records are copies of the tables' rows and must not outlive it.
void RemoveOpenRecordFolders();
// The same from a signal handler, with only the calls one may make: for a
// process that ends at once, before its event loop could.
void RemoveOpenRecordFoldersInSignalHandler();

}  // namespace compare
