#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>

#include "ConnectionString.h"
#include "DataAccess.h"
#include "OdbcFetch.h"
#include "OdbcHandles.h"

namespace data {

QString SessionSettings(int isolationLevel) {
    QString batch = QStringLiteral(
                        "SET TEXTSIZE 2147483647;\n"
                        "SET ANSI_NULLS, ANSI_PADDING, ANSI_WARNINGS, ARITHABORT, "
                        "CONCAT_NULL_YIELDS_NULL, QUOTED_IDENTIFIER ON;\n"
                        "SET NUMERIC_ROUNDABORT, IMPLICIT_TRANSACTIONS OFF;\n"
                        "SET LOCK_TIMEOUT %1;\n"
                        "SET DATEFORMAT ymd;\n")
                        .arg(kLockTimeoutMs);
    if (isolationLevel == adXactSnapshot) {
        batch += QStringLiteral("SET TRANSACTION ISOLATION LEVEL SNAPSHOT;\n");
    }
    return batch;
}

namespace {

using odbc::check;
using odbc::Handle;

constexpr int kDefaultLoginTimeout = 15;
constexpr const char* kDefaultPort = "1433";

// Opens that give FreeTDS a default port through its TDSPORT variable hold
// this exclusively, every other open shares it: FreeTDS lets TDSPORT win over
// a ",port" in the string, so no other login may run while it is set.
std::shared_mutex& portLock() {
    static std::shared_mutex m;
    return m;
}

class PortDefault {
public:
    explicit PortDefault(const QString& connectionString) {
        // The string is read as the driver reads it (ConnectionString.h), so a
        // "Server=" inside a braced password names no server. A TDSPORT of the
        // user's own is theirs to keep.
        if (needsDefaultPort(connectionString) && std::getenv("TDSPORT") == nullptr) {
            exclusive_ = std::unique_lock(portLock());
            ::setenv("TDSPORT", kDefaultPort, 1);
        } else {
            shared_ = std::shared_lock(portLock());
        }
    }
    ~PortDefault() {
        if (exclusive_.owns_lock()) ::unsetenv("TDSPORT");
    }
    PortDefault(const PortDefault&) = delete;
    PortDefault& operator=(const PortDefault&) = delete;

private:
    std::unique_lock<std::shared_mutex> exclusive_;
    std::shared_lock<std::shared_mutex> shared_;
};

// FreeTDS says nothing of its own when the TLS a login requires cannot be
// had (a server without encryption, a handshake that fails): only that the
// connection failed, which reads like an unreachable server.
DataError connectFailure(const QString& connectionString, const DataError& driver) {
    const std::optional<QString> encryption =
        connectionStringValue(connectionString, u"Encryption");
    if (!encryption || encryption->compare(u"require", Qt::CaseInsensitive) != 0 ||
        driver.sqlState() != QStringLiteral("08001")) {
        return driver;
    }
    return DataError(QStringLiteral("No encrypted connection could be set up: the server offers no "
                                    "encryption, or the TLS handshake with it failed.\n") +
                         driver.description(),
                     driver.sqlState(), driver.nativeCode());
}

// FreeTDS reads its environment when a connection logs in; TDSVER must be
// there before the first ODBC environment exists. Pinning 7.4 stops FreeTDS
// from retrying a silent server with an old login that no time-out bounds.
void applyDriverEnvironment() { ::setenv("TDSVER", "7.4", 0); }

class OdbcConnection final : public Connection {
public:
    explicit OdbcConnection(std::shared_ptr<const Handle> env) : env_(std::move(env)) {}
    ~OdbcConnection() override { disconnect(); }

    void Open(const QString& connectionString) override {
        if (dbc_) throw DataError(QString::fromLatin1(messages::kObjectOpen));
        // Until the login succeeds the handle is this function's: any throw frees it.
        Handle dbc = odbc::allocate(SQL_HANDLE_DBC, *env_);
        const int loginTimeout =
            ConnectionTimeout > 0 ? static_cast<int>(ConnectionTimeout) : kDefaultLoginTimeout;
        check(SQLSetConnectAttrW(
                  dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
                  reinterpret_cast<SQLPOINTER>(static_cast<std::intptr_t>(loginTimeout)), 0),
              {&dbc}, "SQLSetConnectAttr(SQL_ATTR_LOGIN_TIMEOUT)");
        SQLRETURN rc;
        {
            PortDefault port(connectionString);
            rc = SQLDriverConnectW(dbc.get(), nullptr, odbc::wide(connectionString),
                                   static_cast<SQLSMALLINT>(connectionString.size()), nullptr, 0,
                                   nullptr, SQL_DRIVER_NOPROMPT);
        }
        if (!SQL_SUCCEEDED(rc))
            throw connectFailure(connectionString,
                                 odbc::diagnostics({&dbc, env_.get()}, "SQLDriverConnect", rc));
        dbc_ = std::move(dbc);
        try {
            Execute(SessionSettings(IsolationLevel));
        } catch (...) {
            disconnect();
            throw;
        }
    }

    void Close() override {
        if (!dbc_) return;
        const SQLRETURN rc = SQLDisconnect(dbc_.get());
        if (!SQL_SUCCEEDED(rc)) {
            DataError e = odbc::diagnostics({&dbc_}, "SQLDisconnect", rc);
            dbc_.reset();
            throw e;
        }
        dbc_.reset();
    }

    int State() const override { return dbc_ ? adStateOpen : adStateClosed; }

    void Execute(const QString& sql) override {
        Handle stmt = statement();
        check(execute(stmt, sql), {&stmt, &dbc_}, "SQLExecDirect", true);
        // Later statements of a batch may fail too: read every result.
        for (;;) {
            SQLRETURN rc;
            {
                const odbc::DriverCall call(&canceller_, stmt);
                rc = SQLMoreResults(stmt.get());
            }
            if (rc == SQL_NO_DATA) break;
            check(rc, {&stmt, &dbc_}, "SQLMoreResults");
        }
    }

    ResultTable FetchQuery(const QString& sql) override {
        Handle stmt = statement();
        if (check(execute(stmt, sql), {&stmt, &dbc_}, "SQLExecDirect", true) == SQL_NO_DATA) {
            return ResultTable();
        }
        return odbc::fetchAll(stmt, dbc_, &canceller_);
    }

    std::unique_ptr<RowStream> OpenRowStream(const QString& sql) override;

    QStringList PrimaryKeyColumns(const QString& schema, const QString& table) override {
        Handle stmt = statement();
        SQLRETURN rc;
        {
            const odbc::DriverCall call(&canceller_, stmt);
            rc = SQLPrimaryKeysW(stmt.get(), nullptr, 0,
                                 schema.isEmpty() ? nullptr : odbc::wide(schema),
                                 static_cast<SQLSMALLINT>(schema.size()), odbc::wide(table),
                                 static_cast<SQLSMALLINT>(table.size()));
        }
        check(rc, {&stmt, &dbc_}, "SQLPrimaryKeys");
        const ResultTable keys = odbc::fetchAll(stmt, dbc_, &canceller_);
        const int name = keys.indexOf(QStringLiteral("COLUMN_NAME"));
        const int seq = keys.indexOf(QStringLiteral("KEY_SEQ"));
        if (name < 0 || seq < 0) return {};
        std::vector<std::pair<std::int64_t, QString>> ordered;
        for (std::size_t r = 0; r < keys.rowCount(); ++r) {
            const FieldValue n = keys.value(name, r), k = keys.value(seq, r);
            if (n.kind() != ValueKind::Text || k.kind() != ValueKind::Integer) continue;
            ordered.emplace_back(k.asInteger(), n.asText().toString());
        }
        std::sort(ordered.begin(), ordered.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        QStringList out;
        for (const auto& [position, column] : ordered) out << column;
        return out;
    }

    ResultTable FetchSchemaTables() override {
        Handle stmt = statement();
        SQLRETURN rc;
        {
            const odbc::DriverCall call(&canceller_, stmt);
            rc = SQLTablesW(stmt.get(), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0);
        }
        check(rc, {&stmt, &dbc_}, "SQLTables");
        return odbc::fetchAll(stmt, dbc_, &canceller_);
    }

    void Cancel() override { canceller_.cancel(); }
    void ResetCancel() override { canceller_.reset(); }

private:
    // A forward-only, read-only statement, which FreeTDS sends as a plain batch.
    Handle statement() {
        if (!dbc_) throw DataError(QString::fromLatin1(messages::kObjectClosed));
        canceller_.check();
        Handle stmt = odbc::allocate(SQL_HANDLE_STMT, dbc_);
        const auto attr = [&](SQLINTEGER a, SQLULEN v, const char* what) {
            check(SQLSetStmtAttrW(stmt.get(), a, reinterpret_cast<SQLPOINTER>(v), 0),
                  {&stmt, &dbc_}, what);
        };
        attr(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY, "SQLSetStmtAttr(SQL_ATTR_CURSOR_TYPE)");
        attr(SQL_ATTR_CONCURRENCY, SQL_CONCUR_READ_ONLY, "SQLSetStmtAttr(SQL_ATTR_CONCURRENCY)");
        // Sent as written: a driver would otherwise turn escapes in a user's
        // query or condition ("{call p}") into statements of their own.
        // Nothing the program sends uses one. FreeTDS 1.3 keeps the setting
        // but still reads escapes: the checks of user text refuse braces.
        attr(SQL_ATTR_NOSCAN, SQL_NOSCAN_ON, "SQLSetStmtAttr(SQL_ATTR_NOSCAN)");
        const int timeout = CommandTimeout;
        attr(SQL_ATTR_QUERY_TIMEOUT, static_cast<SQLULEN>(timeout > 0 ? timeout : 0),
             "SQLSetStmtAttr(SQL_ATTR_QUERY_TIMEOUT)");
        return stmt;
    }

    // Runs sql on stmt, open to a cancel until the server's first answer.
    SQLRETURN execute(const Handle& stmt, const QString& sql) {
        const odbc::DriverCall call(&canceller_, stmt);
        return SQLExecDirectW(stmt.get(), odbc::wide(sql), static_cast<SQLINTEGER>(sql.size()));
    }

    void disconnect() noexcept {
        if (dbc_) SQLDisconnect(dbc_.get());
        dbc_.reset();
    }

    std::shared_ptr<const Handle> env_;
    Handle dbc_;  // set while connected
    odbc::Canceller canceller_;
};

// A statement whose rows are fetched a block at a time into the caller's block.
// Its fetches go through its connection's canceller: the connection must
// outlive the stream.
class OdbcRowStream final : public RowStream {
public:
    OdbcRowStream(Handle stmt, const Handle& dbc, odbc::Canceller& canceller)
        : stmt_(std::move(stmt)),
          dbc_(dbc),
          canceller_(canceller),
          fetcher_(stmt_, dbc_, &canceller_) {
        columns_ = fetcher_.emptyTable();
    }

    const ResultTable& Columns() const override { return columns_; }

    bool NextBlock(ResultTable& block) override {
        block.clearRows();
        return fetcher_.fetchInto(block);
    }

    // ODBC lets another thread cancel a statement that is fetching; the driver
    // sends the server an attention and the fetch returns HY008.
    void Cancel() override { canceller_.cancel(); }

private:
    Handle stmt_;
    const Handle& dbc_;
    odbc::Canceller& canceller_;
    odbc::BlockFetcher fetcher_;
    ResultTable columns_;
};

std::unique_ptr<RowStream> OdbcConnection::OpenRowStream(const QString& sql) {
    Handle stmt = statement();
    check(execute(stmt, sql), {&stmt, &dbc_}, "SQLExecDirect", true);
    return std::make_unique<OdbcRowStream>(std::move(stmt), dbc_, canceller_);
}

class OdbcLayer final : public DataAccess {
public:
    std::unique_ptr<Connection> CreateConnection() override {
        return std::make_unique<OdbcConnection>(environment());
    }

private:
    std::shared_ptr<const Handle> environment() {
        std::lock_guard lock(mutex_);
        if (env_) return env_;
        applyDriverEnvironment();
        SQLHANDLE h = SQL_NULL_HANDLE;
        const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h);
        if (!SQL_SUCCEEDED(rc)) {
            if (h != SQL_NULL_HANDLE) SQLFreeHandle(SQL_HANDLE_ENV, h);
            throw DataError(
                QStringLiteral(
                    "The ODBC environment could not be created (SQLAllocHandle returned %1).")
                    .arg(rc));
        }
        auto env = std::make_shared<Handle>(SQL_HANDLE_ENV, h);
        check(
            SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
            {env.get()}, "SQLSetEnvAttr(SQL_ATTR_ODBC_VERSION)");
        env_ = std::move(env);
        return env_;
    }

    std::mutex mutex_;
    std::shared_ptr<const Handle> env_;  // shared by every connection, freed after the last
};

}  // namespace

DataAccess& OdbcDataAccess() {
    static OdbcLayer layer;
    return layer;
}

}  // namespace data
