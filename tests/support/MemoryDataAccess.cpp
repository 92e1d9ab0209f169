#include "MemoryDataAccess.h"

#include <QRegularExpression>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>

namespace data {

namespace {

const char* opName(Operation op) {
    switch (op) {
        case Operation::CreateConnection:
            return "CreateConnection";
        case Operation::CreateRecordset:
            return "CreateRecordset";
        case Operation::SetOption:
            return "SetOption";
        case Operation::Open:
            return "Open";
        case Operation::Close:
            return "Close";
        case Operation::Execute:
            return "Execute";
        case Operation::OpenSchema:
            return "OpenSchema";
        case Operation::Query:
            return "Query";
        case Operation::Eof:
            return "Eof";
        case Operation::MoveNext:
            return "MoveNext";
        case Operation::Fields:
            return "Fields";
        case Operation::FieldName:
            return "FieldName";
        case Operation::FieldValue:
            return "FieldValue";
        case Operation::GetRows:
            return "GetRows";
        case Operation::RecordsetClose:
            return "RecordsetClose";
        case Operation::ReadBlock:
            return "ReadBlock";
    }
    return "?";
}

}  // namespace

struct MemoryDataAccess::Ledger {
    struct Failure {
        Operation op;
        QString description;
        QString detail;  // empty: any
        int nth;         // 0: always
        int seen = 0;
    };

    std::map<QString, ResultTable> tables;  // keys upper-cased
    // A database's own tables and schema rowset, over the shared ones (keys upper-cased).
    std::map<QString, std::map<QString, ResultTable>> databaseTables;
    std::map<QString, ResultTable> databaseSchemas;
    std::map<QString, ResultTable> queries;
    std::map<QString, QStringList> primaryKeys;  // keys upper-cased
    ResultTable schema;
    std::vector<Failure> failures;
    std::vector<OpenCall> opens;
    QStringList queryLog, executed, log;
    int openConnections = 0;
    int liveConnections = 0;
    int blockRows = 2;  // rows a row stream gives in one block: tests see several blocks
    bool gateOpen = true;
    int permits = 0;
    int waiting = 0;
    struct Hold {
        QString containing;
        bool ignoresCancel;
    };
    std::vector<Hold> holds;
    bool holdingOpens = false;
    int held = 0;
    int releases = 0;  // each release lets every call held before it go
    // Row streams read on threads of their own: every step takes the lock.
    std::recursive_mutex mutex;
    std::condition_variable_any gate;

    // What one connection shares with its row streams (under the lock).
    struct Line {
        bool cancelled = false;
    };

    static DataError cancelled() {
        return DataError(QStringLiteral("[FreeTDS][SQL Server]Operation was cancelled"),
                         QString::fromLatin1(messages::kCanceledState), 0);
    }

    void throwIfCancelled(const Line& line) {
        const std::lock_guard lock(mutex);
        if (line.cancelled) throw cancelled();
    }

    // Waits inside a call while a hold says so. Called without the lock held.
    void holdIfAsked(const QString& text, const Line& line, bool isOpen) {
        std::unique_lock lock(mutex);
        bool ignoresCancel = isOpen;
        bool hold = isOpen && holdingOpens;
        for (const Hold& h : holds) {
            if (isOpen || !text.contains(h.containing, Qt::CaseInsensitive)) continue;
            hold = true;
            ignoresCancel = ignoresCancel || h.ignoresCancel;
        }
        if (!hold) return;
        const int generation = releases;
        ++held;
        gate.notify_all();
        gate.wait(lock,
                  [&] { return releases != generation || (!ignoresCancel && line.cancelled); });
        --held;
        if (line.cancelled && !isOpen) throw cancelled();
    }

    // Records the step and throws when a script says so.
    void step(Operation op, const QString& detail) {
        const std::lock_guard lock(mutex);
        log << (detail.isEmpty() ? QString::fromLatin1(opName(op))
                                 : QStringLiteral("%1 %2").arg(QLatin1String(opName(op)), detail));
        for (Failure& f : failures) {
            if (f.op != op || (!f.detail.isEmpty() && f.detail != detail)) continue;
            ++f.seen;
            if (f.nth == 0 || f.seen == f.nth) throw DataError(f.description);
        }
    }

    // The table a name in a query means, as addTable names it: "[dbo].[Orders]",
    // "[Orders]" and "Orders" mean "Orders"; "[sales].[Orders]" means "sales.Orders".
    // Bracketed parts may hold "]]" for "]".
    static QString tableKey(const QString& name) {
        QStringList parts;
        qsizetype p = 0;
        while (p < name.size()) {
            QString part;
            if (name[p] == u'[') {
                for (++p; p < name.size(); ++p) {
                    if (name[p] == u']') {
                        if (p + 1 < name.size() && name[p + 1] == u']') {
                            part += u']';
                            ++p;
                            continue;
                        }
                        ++p;
                        break;
                    }
                    part += name[p];
                }
            } else {
                const qsizetype dot = name.indexOf(u'.', p);
                part = name.mid(p, dot < 0 ? -1 : dot - p);
                p = dot < 0 ? name.size() : dot;
            }
            parts << part;
            if (p < name.size() && name[p] == u'.') ++p;
        }
        if (parts.size() == 2 &&
            parts[0].compare(QStringLiteral("dbo"), Qt::CaseInsensitive) == 0) {
            parts.removeFirst();
        }
        return parts.join(u'.');
    }

    // "select * from NAME" or "select [a], [b] from NAME", each optionally
    // with " where 1 = 0" (the columns without rows): the table's copy, or
    // its columns listed; nothing for any other text.
    std::optional<ResultTable> select(const QString& sql, const QString& database) {
        static const QString selectWord = QStringLiteral("select ");
        static const QString fromWord = QStringLiteral(" from ");
        static const QString noRows = QStringLiteral(" where 1 = 0");
        if (!sql.startsWith(selectWord, Qt::CaseInsensitive)) return std::nullopt;
        qsizetype p = selectWord.size();
        QStringList listed;
        if (sql.mid(p, 1) == QStringLiteral("*")) {
            ++p;
        } else {
            for (;;) {
                if (p >= sql.size() || sql[p] != u'[') return std::nullopt;
                QString name;
                for (++p; p < sql.size(); ++p) {
                    if (sql[p] != u']') {
                        name += sql[p];
                    } else if (p + 1 < sql.size() && sql[p + 1] == u']') {
                        name += sql[++p];
                    } else {
                        break;
                    }
                }
                ++p;
                listed << name;
                if (sql.mid(p, 2) != QStringLiteral(", ")) break;
                p += 2;
            }
        }
        if (sql.mid(p, fromWord.size()).compare(fromWord, Qt::CaseInsensitive) != 0) {
            return std::nullopt;
        }
        QString name = sql.mid(p + fromWord.size()).trimmed();
        const bool withoutRows = name.endsWith(noRows, Qt::CaseInsensitive);
        if (withoutRows) name.chop(noRows.size());
        const QString key = tableKey(name).toUpper();
        auto it = tables.find(key);
        if (const auto own = databaseTables.find(database.toUpper()); own != databaseTables.end()) {
            if (const auto found = own->second.find(key); found != own->second.end()) it = found;
        }
        if (it == tables.end()) {
            throw DataError(
                QStringLiteral("[FreeTDS][SQL Server]Invalid object name '%1'.").arg(name),
                QStringLiteral("42S02"), 208);
        }
        ResultTable read = withoutRows ? it->second.withoutRows() : copyOf(it->second);
        if (listed.isEmpty()) return read;
        ResultTable kept;
        for (const QString& column : listed) {
            const int f = read.indexOf(column);
            if (f < 0) {
                throw DataError(
                    QStringLiteral("[FreeTDS][SQL Server]Invalid column name '%1'.").arg(column),
                    QStringLiteral("42S22"), 207);
            }
            Column& to = kept.addColumn(read.column(f).name(), read.column(f).kind(),
                                        read.column(f).sqlType());
            for (std::size_t r = 0; r < read.column(f).size(); ++r) {
                to.append(read.column(f).value(r));
            }
        }
        return kept;
    }

    ResultTable query(const QString& sql, const QString& database) {
        const std::lock_guard lock(mutex);
        queryLog << sql;
        step(Operation::Query, sql);
        if (auto it = queries.find(sql); it != queries.end()) return copyOf(it->second);
        if (std::optional<ResultTable> read = select(sql, database)) return std::move(*read);
        // How the server fills a table's columns: none by identity, computation or
        // rowversion, unless setQuery says otherwise.
        if (sql.startsWith(QStringLiteral("select name, is_identity, is_computed, system_type_id, "
                                          "collation_name from sys.columns "))) {
            ResultTable fills;
            fills.addColumn(QStringLiteral("name"), ValueKind::Text);
            fills.addColumn(QStringLiteral("is_identity"), ValueKind::Bit);
            fills.addColumn(QStringLiteral("is_computed"), ValueKind::Bit);
            fills.addColumn(QStringLiteral("system_type_id"), ValueKind::Integer);
            fills.addColumn(QStringLiteral("collation_name"), ValueKind::Text);
            return fills;
        }
        // Other catalogue views, unless setQuery answers them: as a server
        // older than them.
        if (sql.contains(QStringLiteral(" from sys."))) {
            throw DataError(
                QStringLiteral("[FreeTDS][SQL Server]Invalid object name '%1'.").arg(sql),
                QStringLiteral("42S02"), 208);
        }
        throw DataError(QStringLiteral("[FreeTDS][SQL Server]Incorrect syntax near '%1'.").arg(sql),
                        QStringLiteral("42000"), 102);
    }
};

namespace {

using Ledger = MemoryDataAccess::Ledger;

class MemoryRecordset final : public Recordset {
public:
    explicit MemoryRecordset(std::shared_ptr<Ledger> s) : s_(std::move(s)) {}

    bool Eof() const override {
        s_->step(Operation::Eof, {});
        return Recordset::Eof();
    }
    void MoveNext() override {
        s_->step(Operation::MoveNext, {});
        Recordset::MoveNext();
    }
    Fields GetFields() const override {
        s_->step(Operation::Fields, {});
        return Recordset::GetFields();
    }
    ResultTable GetRows() override {
        s_->step(Operation::GetRows, {});
        return Recordset::GetRows();
    }
    void Close() override {
        s_->step(Operation::RecordsetClose, {});
        Recordset::Close();
    }

protected:
    void SetOption(Option<Recordset>& option, int value) override {
        s_->step(Operation::SetOption, QString::fromLatin1(option.name()));
        Recordset::SetOption(option, value);
    }
    const QString& NameOf(int field) const override {
        const QString& name = Recordset::NameOf(field);
        s_->step(Operation::FieldName, name);
        return name;
    }
    FieldValue ValueOf(int field) const override {
        s_->step(Operation::FieldValue, Recordset::NameOf(field));
        return Recordset::ValueOf(field);
    }

private:
    std::shared_ptr<Ledger> s_;
};

// A query's rows handed out a few at a time, as a server would stream them.
class MemoryRowStream final : public RowStream {
public:
    MemoryRowStream(std::shared_ptr<Ledger> s, std::shared_ptr<Ledger::Line> line, QString sql,
                    ResultTable rows)
        : s_(std::move(s)), line_(std::move(line)), sql_(std::move(sql)), rows_(std::move(rows)) {
        columns_ = rows_.withoutRows();
    }
    const ResultTable& Columns() const override { return columns_; }
    bool NextBlock(ResultTable& block) override {
        {
            std::unique_lock lock(s_->mutex);
            ++s_->waiting;
            s_->gate.wait(lock,
                          [&] { return s_->gateOpen || s_->permits > 0 || line_->cancelled; });
            --s_->waiting;
            if (line_->cancelled) throw Ledger::cancelled();
            if (!s_->gateOpen) --s_->permits;
        }
        s_->step(Operation::ReadBlock, sql_);
        block.clearRows();
        const auto end =
            std::min(rows_.rowCount(), next_ + static_cast<std::size_t>(s_->blockRows));
        for (; next_ < end; ++next_) {
            for (int f = 0; f < rows_.fieldCount(); ++f) {
                block.column(f).append(rows_.value(f, next_));
            }
        }
        return block.rowCount() > 0;
    }
    void Cancel() override {
        const std::lock_guard lock(s_->mutex);
        line_->cancelled = true;
        s_->gate.notify_all();
    }

private:
    std::shared_ptr<Ledger> s_;
    std::shared_ptr<Ledger::Line> line_;
    QString sql_;
    ResultTable rows_;
    ResultTable columns_;
    std::size_t next_ = 0;
};

class MemoryConnection final : public Connection {
public:
    explicit MemoryConnection(std::shared_ptr<Ledger> s) : s_(std::move(s)) {
        const std::lock_guard lock(s_->mutex);
        ++s_->liveConnections;
    }
    ~MemoryConnection() override {
        const std::lock_guard lock(s_->mutex);
        if (open_) --s_->openConnections;
        --s_->liveConnections;
    }

    void Open(const QString& connectionString) override {
        s_->holdIfAsked(connectionString, *line_, true);
        const std::lock_guard lock(s_->mutex);
        s_->step(Operation::Open, connectionString);
        if (open_) throw DataError(QString::fromLatin1(messages::kObjectOpen));
        s_->opens.push_back({connectionString, Mode, CommandTimeout, ConnectionTimeout,
                             CursorLocation, IsolationLevel});
        open_ = true;
        ++s_->openConnections;
        static const QRegularExpression named(QStringLiteral("(?:^|;)Database=([^;]*)"),
                                              QRegularExpression::CaseInsensitiveOption);
        database_ = named.match(connectionString).captured(1);
    }
    void Close() override {
        const std::lock_guard lock(s_->mutex);
        s_->step(Operation::Close, {});
        if (open_) --s_->openConnections;
        open_ = false;
    }
    int State() const override { return open_ ? adStateOpen : adStateClosed; }
    void Execute(const QString& sql) override {
        s_->executed << sql;
        s_->step(Operation::Execute, sql);
        requireOpen();
        s_->throwIfCancelled(*line_);
    }
    ResultTable FetchQuery(const QString& sql) override {
        requireOpen();
        s_->throwIfCancelled(*line_);
        s_->holdIfAsked(sql, *line_, false);
        return s_->query(sql, database_);
    }
    QStringList PrimaryKeyColumns(const QString& schema, const QString& table) override {
        requireOpen();
        s_->throwIfCancelled(*line_);
        s_->holdIfAsked(QStringLiteral("sp_pkeys %1.%2").arg(schema, table), *line_, false);
        const std::lock_guard lock(s_->mutex);
        const QString key =
            (schema.isEmpty() || schema == QStringLiteral("dbo") ? table : schema + u'.' + table)
                .toUpper();
        const auto it = s_->primaryKeys.find(key);
        return it == s_->primaryKeys.end() ? QStringList() : it->second;
    }
    std::unique_ptr<RowStream> OpenRowStream(const QString& sql) override {
        requireOpen();
        s_->throwIfCancelled(*line_);
        s_->holdIfAsked(sql, *line_, false);
        return std::make_unique<MemoryRowStream>(s_, line_, sql, s_->query(sql, database_));
    }
    ResultTable FetchSchemaTables() override {
        s_->step(Operation::OpenSchema, {});
        requireOpen();
        s_->throwIfCancelled(*line_);
        const std::lock_guard lock(s_->mutex);
        const auto own = s_->databaseSchemas.find(database_.toUpper());
        return MemoryDataAccess::copyOf(own != s_->databaseSchemas.end() ? own->second
                                                                         : s_->schema);
    }
    void Cancel() override {
        const std::lock_guard lock(s_->mutex);
        line_->cancelled = true;
        s_->gate.notify_all();
    }
    void ResetCancel() override {
        const std::lock_guard lock(s_->mutex);
        line_->cancelled = false;
    }

protected:
    void SetOption(Option<Connection>& option, int value) override {
        s_->step(Operation::SetOption, QString::fromLatin1(option.name()));
        Connection::SetOption(option, value);
    }
    std::unique_ptr<Recordset> NewRecordset() override {
        return std::make_unique<MemoryRecordset>(s_);
    }

private:
    void requireOpen() const {
        if (!open_) throw DataError(QString::fromLatin1(messages::kObjectClosed));
    }
    std::shared_ptr<Ledger> s_;
    std::shared_ptr<Ledger::Line> line_ = std::make_shared<Ledger::Line>();
    bool open_ = false;
    QString database_;  // as the connection string named it
};

}  // namespace

MemoryDataAccess::MemoryDataAccess() : state_(std::make_shared<Ledger>()) {}
MemoryDataAccess::~MemoryDataAccess() = default;

void MemoryDataAccess::addTable(const QString& name, const ResultTable& table) {
    state_->tables[name.toUpper()] = copyOf(table);
}
void MemoryDataAccess::setQuery(const QString& sql, const ResultTable& result) {
    state_->queries[sql] = copyOf(result);
}
void MemoryDataAccess::setSchemaTables(const ResultTable& rowset) {
    state_->schema = copyOf(rowset);
}
void MemoryDataAccess::addTable(const QString& name, const ResultTable& table,
                                const QString& database) {
    state_->databaseTables[database.toUpper()][name.toUpper()] = copyOf(table);
}
void MemoryDataAccess::setSchemaTables(const ResultTable& rowset, const QString& database) {
    state_->databaseSchemas[database.toUpper()] = copyOf(rowset);
}

void MemoryDataAccess::failOn(Operation op, const QString& description, int nth,
                              const QString& detail) {
    const std::lock_guard lock(state_->mutex);
    state_->failures.push_back({op, description, detail, std::max(nth, 1)});
}
void MemoryDataAccess::failAlways(Operation op, const QString& description, const QString& detail) {
    const std::lock_guard lock(state_->mutex);
    state_->failures.push_back({op, description, detail, 0});
}

void MemoryDataAccess::setPrimaryKey(const QString& table, const QStringList& columns) {
    const std::lock_guard lock(state_->mutex);
    state_->primaryKeys[table.toUpper()] = columns;
}

void MemoryDataAccess::setReadGate(bool open) {
    const std::lock_guard lock(state_->mutex);
    state_->gateOpen = open;
    state_->gate.notify_all();
}

void MemoryDataAccess::passBlocks(int n) {
    const std::lock_guard lock(state_->mutex);
    state_->permits += n;
    state_->gate.notify_all();
}

int MemoryDataAccess::waitingReads() const {
    const std::lock_guard lock(state_->mutex);
    return state_->waiting;
}

void MemoryDataAccess::holdQueries(const QString& containing, bool ignoresCancel) {
    const std::lock_guard lock(state_->mutex);
    state_->holds.push_back({containing, ignoresCancel});
}

void MemoryDataAccess::holdOpens() {
    const std::lock_guard lock(state_->mutex);
    state_->holdingOpens = true;
}

void MemoryDataAccess::releaseQueries() {
    const std::lock_guard lock(state_->mutex);
    state_->holds.clear();
    state_->holdingOpens = false;
    ++state_->releases;
    state_->gate.notify_all();
}

int MemoryDataAccess::heldQueries() const {
    const std::lock_guard lock(state_->mutex);
    return state_->held;
}

const std::vector<MemoryDataAccess::OpenCall>& MemoryDataAccess::opens() const {
    return state_->opens;
}
const QStringList& MemoryDataAccess::queries() const { return state_->queryLog; }
const QStringList& MemoryDataAccess::executed() const { return state_->executed; }
const QStringList& MemoryDataAccess::log() const { return state_->log; }
int MemoryDataAccess::openConnections() const {
    const std::lock_guard lock(state_->mutex);
    return state_->openConnections;
}
int MemoryDataAccess::liveConnections() const {
    const std::lock_guard lock(state_->mutex);
    return state_->liveConnections;
}

std::unique_ptr<Connection> MemoryDataAccess::CreateConnection() {
    state_->step(Operation::CreateConnection, {});
    return std::make_unique<MemoryConnection>(state_);
}
std::unique_ptr<Recordset> MemoryDataAccess::CreateRecordset() {
    state_->step(Operation::CreateRecordset, {});
    return std::make_unique<MemoryRecordset>(state_);
}

ResultTable MemoryDataAccess::copyOf(const ResultTable& table) {
    ResultTable copy;
    for (int f = 0; f < table.fieldCount(); ++f) {
        const Column& from = table.column(f);
        Column& to = copy.addColumn(from.name(), from.kind(), from.sqlType());
        to.reserve(from.size());
        for (std::size_t r = 0; r < from.size(); ++r) to.append(from.value(r));
    }
    return copy;
}

}  // namespace data
