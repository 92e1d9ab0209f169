#include "RecordStore.h"

#include <sqlite3.h>

#include <QDataStream>
#include <QDir>
#include <QIODevice>

namespace compare {

namespace {

constexpr std::int64_t kRecordsPerTransaction = 20000;

void PutCells(QDataStream& out, const std::vector<ValueCell>& cells) {
    out << static_cast<quint32>(cells.size());
    for (const ValueCell& c : cells) {
        out << static_cast<quint8>(c.has_value());
        if (c) out << c->toUtf8();
    }
}

std::vector<ValueCell> TakeCells(QDataStream& in) {
    quint32 n = 0;
    in >> n;
    std::vector<ValueCell> cells;
    cells.reserve(n);
    for (quint32 k = 0; k < n && in.status() == QDataStream::Ok; ++k) {
        quint8 has = 0;
        in >> has;
        if (!has) {
            cells.emplace_back();
            continue;
        }
        QByteArray utf8;
        in >> utf8;
        cells.emplace_back(QString::fromUtf8(utf8));
    }
    return cells;
}

QByteArray Packed(const DifferingRecord& r) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    PutCells(out, r.key);
    PutCells(out, r.first);
    PutCells(out, r.second);
    out << static_cast<quint32>(r.differs.size());
    for (bool d : r.differs) out << static_cast<quint8>(d);
    return bytes;
}

DifferingRecord Unpacked(int kind, QString name, const void* blob, int size) {
    DifferingRecord r;
    r.kind = static_cast<DifferingRecord::Kind>(kind);
    r.name = std::move(name);
    QDataStream in(QByteArray::fromRawData(static_cast<const char*>(blob), size));
    r.key = TakeCells(in);
    r.first = TakeCells(in);
    r.second = TakeCells(in);
    quint32 n = 0;
    in >> n;
    r.differs.reserve(n);
    for (quint32 k = 0; k < n && in.status() == QDataStream::Ok; ++k) {
        quint8 d = 0;
        in >> d;
        r.differs.push_back(d != 0);
    }
    return r;
}

struct Statement {
    sqlite3_stmt* s;
    ~Statement() { sqlite3_finalize(s); }
};

}  // namespace

RecordStore::RecordStore(RecordLayout layout)
    : layout_(std::move(layout)), changed_(layout_.fields.size(), 0) {}

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
    const QByteArray file = folder_->filePath(QStringLiteral("records.db")).toUtf8();
    if (sqlite3_open_v2(file.constData(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        fail("cannot open the records' file");
    }
    // Nothing here outlives the program: no journal, no waiting on the disk.
    exec(
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-4000;"
        "PRAGMA temp_store=FILE;"
        "CREATE TABLE records(id INTEGER PRIMARY KEY, kind INTEGER NOT NULL,"
        " seq INTEGER NOT NULL, name TEXT NOT NULL, cells BLOB NOT NULL);"
        "CREATE INDEX records_kind ON records(kind, seq);"
        "CREATE INDEX records_name ON records(name);");
    insert_ = prepare("INSERT INTO records(kind, seq, name, cells) VALUES(?, ?, ?, ?)");
}

RecordStore::~RecordStore() {
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
}

void RecordStore::fail(const char* what) const {
    const QString reason = db_ != nullptr ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString();
    throw RecordStoreError(
        QStringLiteral("%1: %2").arg(QString::fromUtf8(what), reason).toStdString());
}

void RecordStore::exec(const char* sql) const {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail("cannot keep the records");
    }
}

sqlite3_stmt* RecordStore::prepare(const char* sql) const {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) {
        fail("cannot read the records");
    }
    return s;
}

void RecordStore::Take(const DifferingRecord& record) {
    if (db_ == nullptr) {
        if (folder_) throw RecordStoreError("the records could not be kept");  // failed before
        open();
    }
    if (!inTransaction_) {
        exec("BEGIN");
        inTransaction_ = true;
    }
    const int kind = static_cast<int>(record.kind);
    const QByteArray name = record.name.toUtf8();
    const QByteArray cells = Packed(record);
    sqlite3_reset(insert_);
    sqlite3_bind_int(insert_, 1, kind);
    sqlite3_bind_int64(insert_, 2, kindCounts_[kind]);
    sqlite3_bind_text(insert_, 3, name.constData(), static_cast<int>(name.size()), SQLITE_STATIC);
    sqlite3_bind_blob(insert_, 4, cells.constData(), static_cast<int>(cells.size()), SQLITE_STATIC);
    if (sqlite3_step(insert_) != SQLITE_DONE) fail("cannot keep the records");
    ++kindCounts_[kind];
    for (std::size_t k = 0; k < record.differs.size() && k < changed_.size(); ++k) {
        if (record.differs[k]) ++changed_[k];
    }
    if (count(RecordFilter::All) % kRecordsPerTransaction == 0) commit();
}

void RecordStore::commit() {
    if (!inTransaction_) return;
    inTransaction_ = false;
    exec("COMMIT");
}

void RecordStore::Finish() { commit(); }

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

std::vector<DifferingRecord> RecordStore::records(RecordFilter filter, std::int64_t from,
                                                  int n) const {
    std::vector<DifferingRecord> out;
    if (n <= 0 || from < 0 || db_ == nullptr) return out;
    const bool all = filter == RecordFilter::All;
    // Rows of a filter are dense: ids from 1 for all, a count per kind.
    Statement s{prepare(all ? "SELECT kind, name, cells FROM records WHERE id BETWEEN ? AND ? "
                              "ORDER BY id"
                            : "SELECT kind, name, cells FROM records WHERE kind = ? AND seq "
                              "BETWEEN ? AND ? ORDER BY seq")};
    int at = 1;
    if (!all) sqlite3_bind_int(s.s, at++, static_cast<int>(filter) - 1);
    const std::int64_t base = all ? 1 : 0;
    sqlite3_bind_int64(s.s, at++, from + base);
    sqlite3_bind_int64(s.s, at, from + base + n - 1);
    out.reserve(static_cast<std::size_t>(n));
    int rc = 0;
    while ((rc = sqlite3_step(s.s)) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(s.s, 1));
        out.push_back(Unpacked(sqlite3_column_int(s.s, 0),
                               QString::fromUtf8(name, sqlite3_column_bytes(s.s, 1)),
                               sqlite3_column_blob(s.s, 2), sqlite3_column_bytes(s.s, 2)));
    }
    if (rc != SQLITE_DONE) fail("cannot read the records");
    return out;
}

std::optional<std::int64_t> RecordStore::rowOf(RecordFilter filter, const QString& name) const {
    if (db_ == nullptr) return std::nullopt;
    Statement s{prepare("SELECT id, kind, seq FROM records WHERE name = ? ORDER BY id LIMIT 1")};
    const QByteArray utf8 = name.toUtf8();
    sqlite3_bind_text(s.s, 1, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_STATIC);
    if (sqlite3_step(s.s) != SQLITE_ROW) return std::nullopt;
    if (filter == RecordFilter::All) return sqlite3_column_int64(s.s, 0) - 1;
    if (sqlite3_column_int(s.s, 1) != static_cast<int>(filter) - 1) return std::nullopt;
    return sqlite3_column_int64(s.s, 2);
}

}  // namespace compare
