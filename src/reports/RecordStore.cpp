#include "RecordStore.h"

#include <sqlite3.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>

namespace compare {

namespace {

constexpr std::int64_t kRecordsPerTransaction = 20000;

// A record as bytes, values as the engine read them: its name, its key's
// values, each side (a byte: present, then a value per field), the
// differing flags. A value is its kind, then its payload; counts are 4
// bytes. Native byte order: the file never leaves this process.
class Packer {
public:
    explicit Packer(ByteBuffer& out) : out_(out) {}
    template <class T>
    void raw(const T& v) {
        out_.append(&v, sizeof v);
    }
    void count(std::size_t n) { raw(static_cast<quint32>(n)); }
    void text(QStringView s) {
        count(static_cast<std::size_t>(s.size()));
        out_.append(s.data(), static_cast<std::size_t>(s.size()) * 2);
    }
    void value(const data::FieldValue& v) {
        using K = data::ValueKind;
        raw(static_cast<quint8>(v.kind()));
        switch (v.kind()) {
            case K::Null:
                break;
            case K::Integer:
                raw(v.asInteger());
                break;
            case K::Decimal:
            case K::Currency:
                raw(v.unscaled());
                raw(static_cast<quint8>(v.scale()));
                break;
            case K::Float:
                raw(v.asFloat());
                break;
            case K::Bit:
                raw(static_cast<quint8>(v.asBit()));
                break;
            case K::DateTime: {
                const data::DateTimeValue dt = v.asDateTime();
                raw(dt.days);
                raw(dt.ticks);
                raw(dt.parts);
                break;
            }
            case K::Text:
                text(v.asText());
                break;
            case K::Bytes:
                count(static_cast<std::size_t>(v.asBytes().size()));
                out_.append(v.asBytes().data(), static_cast<std::size_t>(v.asBytes().size()));
                break;
        }
    }

private:
    ByteBuffer& out_;
};

class Unpacker {
public:
    Unpacker(const void* data, int size, const ValueFormatter& formatter)
        : p_(static_cast<const char*>(data)), end_(p_ + size), formatter_(formatter) {}
    bool ok() const { return ok_; }
    template <class T>
    T raw() {
        T v{};
        if (end_ - p_ < static_cast<std::ptrdiff_t>(sizeof v)) return fail(), v;
        std::memcpy(&v, p_, sizeof v);
        p_ += sizeof v;
        return v;
    }
    std::size_t count() { return raw<quint32>(); }
    QString text() {
        const std::size_t n = count();
        if (static_cast<std::size_t>(end_ - p_) < n * 2) return fail(), QString();
        QString s(static_cast<qsizetype>(n), Qt::Uninitialized);
        std::memcpy(s.data(), p_, n * 2);
        p_ += n * 2;
        return s;
    }
    ValueCell cell() {
        using K = data::ValueKind;
        const auto kind = static_cast<K>(raw<quint8>());
        data::FieldValue v;
        QString text;
        QByteArray bytes;
        switch (kind) {
            case K::Null:
                return std::nullopt;
            case K::Integer:
                v = data::FieldValue::integer(raw<std::int64_t>());
                break;
            case K::Decimal:
            case K::Currency: {
                const auto unscaled = raw<__int128>();
                const int scale = raw<quint8>();
                v = kind == K::Decimal ? data::FieldValue::decimal(unscaled, scale)
                                       : data::FieldValue::currency(unscaled, scale);
                break;
            }
            case K::Float:
                v = data::FieldValue::floating(raw<double>());
                break;
            case K::Bit:
                v = data::FieldValue::bit(raw<quint8>() != 0);
                break;
            case K::DateTime: {
                data::DateTimeValue dt;
                dt.days = raw<std::int32_t>();
                dt.ticks = raw<std::int64_t>();
                dt.parts = raw<std::uint8_t>();
                v = data::FieldValue::dateTime(dt);
                break;
            }
            case K::Text:
                text = this->text();
                v = data::FieldValue::text(text);
                break;
            case K::Bytes: {
                const std::size_t n = count();
                if (static_cast<std::size_t>(end_ - p_) < n) return fail(), std::nullopt;
                bytes = QByteArray(p_, static_cast<qsizetype>(n));
                p_ += n;
                v = data::FieldValue::bytes(bytes);
                break;
            }
            default:
                return fail(), std::nullopt;
        }
        if (!ok_) return std::nullopt;
        return formatter_.text(v);
    }
    std::vector<ValueCell> cells(std::size_t n) {
        std::vector<ValueCell> out;
        out.reserve(n);
        for (std::size_t k = 0; k < n && ok_; ++k) out.push_back(cell());
        return out;
    }

private:
    void fail() {
        ok_ = false;
        p_ = end_;
    }
    const char* p_;
    const char* end_;
    const ValueFormatter& formatter_;
    bool ok_ = true;
};

struct Statement {
    sqlite3_stmt* s;
    ~Statement() { sqlite3_finalize(s); }
};

// Records are kept a page at a time (one row of the database holds many),
// so that keeping one costs little more than packing it; each kind has its
// own pages of record numbers, so that a filtered view pages too.
constexpr int kRecordsPerPage = 64;
constexpr int kIdsPerPage = 512;

// A record's head within its page: its length, kind, row of its kind, and
// the lines of both lists before its own.
struct Head {
    quint32 length;
    quint8 kind;
    std::int64_t seq;
    std::int64_t fieldLines;
    std::int64_t recordLines;
};
constexpr std::size_t kHeadBytes = 4 + 1 + 8 + 8 + 8;

Head ReadHead(const char* p) {
    Head h{};
    std::memcpy(&h.length, p, 4);
    std::memcpy(&h.kind, p + 4, 1);
    std::memcpy(&h.seq, p + 5, 8);
    std::memcpy(&h.fieldLines, p + 13, 8);
    std::memcpy(&h.recordLines, p + 21, 8);
    return h;
}

// The records of one page, each its head and bytes.
std::vector<std::pair<Head, QByteArrayView>> Split(const char* data, std::size_t size) {
    std::vector<std::pair<Head, QByteArrayView>> out;
    std::size_t at = 0;
    while (at + kHeadBytes <= size) {
        const Head h = ReadHead(data + at);
        if (h.length > size - at - kHeadBytes) break;
        out.emplace_back(h, QByteArrayView(data + at + kHeadBytes, h.length));
        at += kHeadBytes + h.length;
    }
    return out;
}

// The folders of the stores open now, for RemoveOpenRecordFolders; the
// first few also in a fixed table a signal handler may read (a slot's path
// is written before it is marked in use).
std::mutex openFoldersLock;
std::set<QString>& OpenFolders() {
    static std::set<QString> folders;
    return folders;
}
constexpr std::size_t kPathBytes = 1024;
struct FolderSlot {
    std::atomic<bool> used{false};
    char path[kPathBytes] = {};
};
FolderSlot folderSlots[16];

void Register(const QString& folder) {
    const std::lock_guard lock(openFoldersLock);
    OpenFolders().insert(folder);
    const QByteArray path = QFile::encodeName(folder);
    if (path.size() + 32 >= static_cast<qsizetype>(kPathBytes)) return;
    for (FolderSlot& slot : folderSlots) {
        if (slot.used.load()) continue;
        std::memcpy(slot.path, path.constData(), static_cast<std::size_t>(path.size()) + 1);
        slot.used.store(true);
        return;
    }
}

void Unregister(const QString& folder) {
    const std::lock_guard lock(openFoldersLock);
    OpenFolders().erase(folder);
    const QByteArray path = QFile::encodeName(folder);
    for (FolderSlot& slot : folderSlots) {
        if (slot.used.load() && path == slot.path) slot.used.store(false);
    }
}

}  // namespace

void RemoveOpenRecordFolders() {
    const std::lock_guard lock(openFoldersLock);
    for (const QString& folder : OpenFolders()) QDir(folder).removeRecursively();
    OpenFolders().clear();
    for (FolderSlot& slot : folderSlots) slot.used.store(false);
}

void RemoveOpenRecordFoldersInSignalHandler() {
    // Only calls a handler may make: the store's files by name, then the folder.
    for (FolderSlot& slot : folderSlots) {
        if (!slot.used.load()) continue;
        char file[kPathBytes];
        const std::size_t n = std::strlen(slot.path);
        for (const char* name : {"/records.db", "/records.db-journal"}) {
            std::memcpy(file, slot.path, n);
            std::memcpy(file + n, name, std::strlen(name) + 1);
            ::unlink(file);
        }
        ::rmdir(slot.path);
    }
}

RecordStore::RecordStore(RecordLayout layout)
    : layout_(std::move(layout)), changed_(layout_.fields.size(), 0) {}

RecordStore::~RecordStore() {
    sqlite3_finalize(insertPage_);
    sqlite3_finalize(insertIds_);
    sqlite3_close(db_);
    if (folder_) Unregister(folder_->path());
}

QString RecordStore::folder() const { return folder_ ? folder_->path() : QString(); }

// Nothing touches the disk until there is a record to keep.
void RecordStore::open() {
    folder_ = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                              QStringLiteral("/dorvantis-records-XXXXXX"));
    if (!folder_->isValid()) {
        throw RecordStoreError(QStringLiteral("no private temporary folder for the records: %1")
                                   .arg(folder_->errorString())
                                   .toStdString());
    }
    Register(folder_->path());
    const QByteArray file = folder_->filePath(QStringLiteral("records.db")).toUtf8();
    if (sqlite3_open_v2(file.constData(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        fail("cannot open the records' file");
    }
    // Nothing here outlives the program: no journal, no waiting on the disk.
    // A page knows the lines before its first record, to find a clicked line's.
    exec(
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-4000;"
        "PRAGMA temp_store=FILE;"
        "CREATE TABLE pages(page INTEGER PRIMARY KEY, field_lines INTEGER NOT NULL,"
        " record_lines INTEGER NOT NULL, records BLOB NOT NULL);"
        "CREATE TABLE kinds(kind INTEGER NOT NULL, page INTEGER NOT NULL, ids BLOB NOT NULL,"
        " PRIMARY KEY(kind, page)) WITHOUT ROWID;");
    insertPage_ = prepare("INSERT OR REPLACE INTO pages VALUES(?, ?, ?, ?)");
    insertIds_ = prepare("INSERT OR REPLACE INTO kinds VALUES(?, ?, ?)");
}

void RecordStore::fail(const char* what) const {
    const QString reason = db_ != nullptr ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString();
    // A write that failed is said after "The records could not be kept: ":
    // the reason alone.
    if (what == nullptr) throw RecordStoreError(reason.toStdString());
    throw RecordStoreError(
        QStringLiteral("%1: %2").arg(QString::fromUtf8(what), reason).toStdString());
}

void RecordStore::exec(const char* sql) const {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail(nullptr);
    }
}

sqlite3_stmt* RecordStore::prepare(const char* sql) const {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) {
        fail("cannot read the records");
    }
    return s;
}

void RecordStore::TakeRows(const RecordRows& rows, const RecordLayout&, const ValueFormatter&) {
    packed_.clear();
    Packer out(packed_);
    out.text(rows.name);
    const bool fromFirst = static_cast<bool>(rows.first);
    const std::vector<int>& keyFields = fromFirst ? layout_.keyFirst : layout_.keySecond;
    out.count(keyFields.size());
    for (int field : keyFields) out.value((fromFirst ? rows.first : rows.second).value(field));
    for (const bool firstSide : {true, false}) {
        const RecordRow& row = firstSide ? rows.first : rows.second;
        out.raw(static_cast<quint8>(static_cast<bool>(row)));
        if (!row) continue;
        for (const FieldPairing& f : layout_.fields) {
            out.value(row.value(firstSide ? f.first : f.second));
        }
    }
    keep(rows.kind, rows.fieldLinesBefore, rows.recordLinesBefore, rows.differs);
}

void RecordStore::Take(const DifferingRecord& record) {
    const auto value = [](const ValueCell& c) {
        return c ? data::FieldValue::text(*c) : data::FieldValue();
    };
    packed_.clear();
    Packer out(packed_);
    out.text(record.name);
    out.count(record.key.size());
    for (const ValueCell& k : record.key) out.value(value(k));
    for (const auto* side : {&record.first, &record.second}) {
        const bool present = !side->empty();
        out.raw(static_cast<quint8>(present));
        if (!present) continue;
        for (std::size_t f = 0; f < layout_.fields.size(); ++f) {
            out.value(f < side->size() ? value((*side)[f]) : data::FieldValue());
        }
    }
    keep(record.kind, 0, 0, record.differs);
}

void RecordStore::keep(DifferingRecord::Kind kind, std::int64_t fieldLines,
                       std::int64_t recordLines, const std::vector<bool>& differs) {
    if (db_ == nullptr) {
        if (folder_) throw RecordStoreError("an earlier write failed");
        open();
    }
    Packer flags(packed_);
    flags.count(differs.size());
    for (bool d : differs) flags.raw(static_cast<quint8>(d));

    const int k = static_cast<int>(kind);
    const std::int64_t id = count(RecordFilter::All);
    if (pageCount_ == 0) {
        pageFieldLines_ = fieldLines;
        pageRecordLines_ = recordLines;
    }
    Packer page(page_);
    page.raw(static_cast<quint32>(packed_.size()));
    page.raw(static_cast<quint8>(k));
    page.raw(kindCounts_[k]);
    page.raw(fieldLines);
    page.raw(recordLines);
    page_.append(packed_.data(), packed_.size());
    Packer ids(ids_[k]);
    ids.raw(id);
    ++kindCounts_[k];
    for (std::size_t f = 0; f < differs.size() && f < changed_.size(); ++f) {
        if (differs[f]) ++changed_[f];
    }
    if (++pageCount_ == kRecordsPerPage) writePage(false);
    if (kindCounts_[k] % kIdsPerPage == 0) writeIds(k, false);
}

void RecordStore::begin() const {
    if (inTransaction_) return;
    exec("BEGIN");
    inTransaction_ = true;
}

// A page not yet full (before a read) is written and kept, to be written
// again whole.
void RecordStore::writePage(bool partial) const {
    if (pageCount_ == 0) return;
    begin();
    const std::int64_t page = (count(RecordFilter::All) - 1) / kRecordsPerPage;
    sqlite3_reset(insertPage_);
    sqlite3_bind_int64(insertPage_, 1, page);
    sqlite3_bind_int64(insertPage_, 2, pageFieldLines_);
    sqlite3_bind_int64(insertPage_, 3, pageRecordLines_);
    sqlite3_bind_blob(insertPage_, 4, page_.data(), static_cast<int>(page_.size()), SQLITE_STATIC);
    if (sqlite3_step(insertPage_) != SQLITE_DONE) fail(nullptr);
    if (partial) return;
    page_.clear();
    pageCount_ = 0;
    if (++pagesSinceCommit_ >= 256) {
        pagesSinceCommit_ = 0;
        inTransaction_ = false;
        exec("COMMIT");
    }
}

void RecordStore::writeIds(int kind, bool partial) const {
    ByteBuffer& ids = ids_[static_cast<std::size_t>(kind)];
    if (ids.size() == 0) return;
    begin();
    sqlite3_reset(insertIds_);
    sqlite3_bind_int(insertIds_, 1, kind);
    sqlite3_bind_int64(insertIds_, 2, (kindCounts_[kind] - 1) / kIdsPerPage);
    sqlite3_bind_blob(insertIds_, 3, ids.data(), static_cast<int>(ids.size()), SQLITE_STATIC);
    if (sqlite3_step(insertIds_) != SQLITE_DONE) fail(nullptr);
    if (!partial) ids.clear();
}

// What is still in memory goes to the file, so that every record can be read.
void RecordStore::flush() const {
    if (db_ == nullptr) return;
    writePage(true);
    for (int k = 0; k < 3; ++k) writeIds(k, true);
    if (inTransaction_) {
        inTransaction_ = false;
        exec("COMMIT");
    }
}

void RecordStore::Finish() { flush(); }

std::int64_t RecordStore::count(RecordFilter filter) const {
    switch (filter) {
        case RecordFilter::All:
            return kindCounts_[0] + kindCounts_[1] + kindCounts_[2];
        case RecordFilter::Changed:
            return kindCounts_[0];
        case RecordFilter::OnlyInFirst:
            return kindCounts_[1];
        case RecordFilter::OnlyInSecond:
            return kindCounts_[2];
    }
    return 0;
}

DifferingRecord RecordStore::unpack(quint8 kind, QByteArrayView bytes) const {
    DifferingRecord r;
    r.kind = static_cast<DifferingRecord::Kind>(kind);
    Unpacker in(bytes.data(), static_cast<int>(bytes.size()), formatter_);
    r.name = in.text();
    r.key = in.cells(in.count());
    for (auto* side : {&r.first, &r.second}) {
        if (in.raw<quint8>() != 0) *side = in.cells(layout_.fields.size());
    }
    const std::size_t flags = in.count();
    for (std::size_t k = 0; k < flags && in.ok(); ++k) r.differs.push_back(in.raw<quint8>());
    if (!in.ok()) throw RecordStoreError("the records' file is damaged");
    return r;
}

std::vector<std::int64_t> RecordStore::ids(RecordFilter filter, std::int64_t from, int n) const {
    std::vector<std::int64_t> out;
    if (filter == RecordFilter::All) {
        for (std::int64_t id = from; id < from + n; ++id) out.push_back(id);
        return out;
    }
    Statement s{
        prepare("SELECT page, ids FROM kinds WHERE kind = ? AND page BETWEEN ? AND ? "
                "ORDER BY page")};
    sqlite3_bind_int(s.s, 1, static_cast<int>(filter) - 1);
    sqlite3_bind_int64(s.s, 2, from / kIdsPerPage);
    sqlite3_bind_int64(s.s, 3, (from + n - 1) / kIdsPerPage);
    int rc = 0;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW) {
        const std::int64_t first = sqlite3_column_int64(s.s, 0) * kIdsPerPage;
        const auto* data = static_cast<const char*>(sqlite3_column_blob(s.s, 1));
        const int count = sqlite3_column_bytes(s.s, 1) / 8;
        for (int k = 0; k < count; ++k) {
            if (first + k < from || first + k >= from + n) continue;
            std::int64_t id = 0;
            std::memcpy(&id, data + std::size_t(k) * 8, 8);
            out.push_back(id);
        }
    }
    if (rc != SQLITE_DONE) fail("cannot read the records");
    return out;
}

std::vector<DifferingRecord> RecordStore::records(RecordFilter filter, std::int64_t from,
                                                  int n) const {
    std::vector<DifferingRecord> out;
    if (n <= 0 || from < 0 || db_ == nullptr) return out;
    flush();
    n = static_cast<int>(std::min<std::int64_t>(n, count(filter) - from));
    if (n <= 0) return out;
    Statement s{prepare("SELECT records FROM pages WHERE page = ?")};
    std::int64_t loaded = -1;
    std::vector<std::pair<Head, QByteArrayView>> records;
    QByteArray page;
    for (const std::int64_t id : ids(filter, from, n)) {
        if (id / kRecordsPerPage != loaded) {
            loaded = id / kRecordsPerPage;
            sqlite3_reset(s.s);
            sqlite3_bind_int64(s.s, 1, loaded);
            if (sqlite3_step(s.s) != SQLITE_ROW) fail("cannot read the records");
            page = QByteArray(static_cast<const char*>(sqlite3_column_blob(s.s, 0)),
                              sqlite3_column_bytes(s.s, 0));
            records = Split(page.constData(), static_cast<std::size_t>(page.size()));
        }
        const auto at = static_cast<std::size_t>(id % kRecordsPerPage);
        if (at >= records.size()) throw RecordStoreError("the records' file is damaged");
        out.push_back(unpack(records[at].first.kind, records[at].second));
    }
    return out;
}

std::optional<std::int64_t> RecordStore::rowOf(RecordFilter filter, bool fieldList,
                                               std::int64_t line) const {
    if (db_ == nullptr || line < 0) return std::nullopt;
    flush();
    // The lines before each record only grow with it: the last page, then
    // the last record of it, whose lines start at or before the line.
    Statement s{prepare(fieldList ? "SELECT page, records FROM pages WHERE field_lines <= ? "
                                    "ORDER BY page DESC LIMIT 1"
                                  : "SELECT page, records FROM pages WHERE record_lines <= ? "
                                    "ORDER BY page DESC LIMIT 1")};
    sqlite3_bind_int64(s.s, 1, line);
    if (sqlite3_step(s.s) != SQLITE_ROW) return std::nullopt;
    const std::int64_t page = sqlite3_column_int64(s.s, 0);
    const auto records = Split(static_cast<const char*>(sqlite3_column_blob(s.s, 1)),
                               static_cast<std::size_t>(sqlite3_column_bytes(s.s, 1)));
    std::optional<std::size_t> found;
    for (std::size_t k = 0; k < records.size(); ++k) {
        const Head& h = records[k].first;
        if ((fieldList ? h.fieldLines : h.recordLines) <= line) found = k;
    }
    if (!found) return std::nullopt;
    const auto& [head, bytes] = records[*found];
    const auto kind = static_cast<DifferingRecord::Kind>(head.kind);
    const bool changed = kind == DifferingRecord::Kind::Changed;
    if (changed != fieldList) return std::nullopt;
    // The record's own lines: a line a changed field, or its one record line.
    std::int64_t lines = 1;
    if (changed) {
        const DifferingRecord r = unpack(head.kind, bytes);
        lines = std::count(r.differs.begin(), r.differs.end(), true);
    }
    const std::int64_t first = fieldList ? head.fieldLines : head.recordLines;
    if (line >= first + lines) return std::nullopt;
    if (filter == RecordFilter::All) {
        return page * kRecordsPerPage + static_cast<std::int64_t>(*found);
    }
    if (static_cast<int>(kind) != static_cast<int>(filter) - 1) return std::nullopt;
    return head.seq;
}

}  // namespace compare
