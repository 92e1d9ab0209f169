// One client connection: login, then requests and their replies, until the
// client leaves or breaks the protocol.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Packets.h"
#include "Rpc.h"
#include "Store.h"
#include "Tokens.h"
#include "Tsql.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tds {

// SET TEXTSIZE 0 and a login without the ODBC flag: 4 KB. An ODBC login
// starts unlimited, which @@TEXTSIZE reads as the largest int.
inline constexpr long kDefaultTextSize = 4096;
inline constexpr long kUnlimitedTextSize = 2147483647;

struct ServerConfig {
    std::map<std::string, std::string> users;  // lower-case login name -> password
    int delayMs = 0;                           // before every reply
    long dropAfterRows = -1;                   // close after this many rows of a result
    // Requests whose text holds one of these (lower-case) get no reply until
    // the client's ATTENTION: a server held up by another session's lock.
    std::vector<std::string> stallTexts;
    Limits limits;
    // --bandwidth: shared by every session; none sends as fast as it can.
    std::shared_ptr<SendLimit> sendLimit;
    // --textsize, --quoted-identifier: what a session starts with, whatever
    // its login implies (a client's own SET at login, a server's defaults).
    std::optional<long> textSize;
    std::optional<bool> quotedIdentifier;
};

// A session's SET options that change answers; the rest are accepted and
// dropped.
struct SessionOptions {
    long textSize = kUnlimitedTextSize;  // max and LOB values cut at this many bytes
    std::map<std::string, bool> flags;   // ANSI_NULLS, QUOTED_IDENTIFIER, ... by lower-case name
    long lockTimeout = -1;               // ms; -1: wait for ever
    std::string dateFormat = "mdy";
    bool snapshot = false;  // SET TRANSACTION ISOLATION LEVEL SNAPSHOT

    // As SQL Server sets them at login: the ODBC flag turns the ANSI
    // defaults on (implicit transactions off) and lifts the TEXTSIZE.
    static SessionOptions AtLogin(bool odbc, const ServerConfig& config);
    // One SET statement's text ("SET TEXTSIZE 100", "SET ANSI_NULLS, ARITHABORT
    // ON"); options it does not know are passed over.
    void apply(std::string_view set);
    // SESSIONPROPERTY: 1 or 0, nothing for a name it does not know.
    std::optional<int> property(std::string_view name) const;
};

class Session {
public:
    Session(int fd, uint16_t spid, const ServerConfig& config, const Catalog& catalog);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void run();

private:
    enum class Outcome { Continue, Close, Attention };
    struct Binding {
        std::string name;
        const RpcParam* value;
    };

    bool login(const Message& m);
    bool stalls(const std::string& text) const;
    // Answers nothing until the client sends an ATTENTION (Attention) or
    // leaves, or the server shuts the socket down (Close); under a finite
    // LOCK_TIMEOUT, until it runs out: then error 1222 (inProc: as a
    // procedure's).
    Outcome stall(bool inProc);
    Outcome batch(const Message& m);
    Outcome rpc(const Message& m);
    Outcome spTables(const RpcRequest& req, Database& target);
    Outcome spPkeys(const RpcRequest& req);
    Outcome runPrepared(const std::string& sql, const std::string& decls,
                        const std::vector<RpcParam>& params, size_t firstValue, bool& failed);
    // Runs the statements of a batch or procedure; in a procedure the caller
    // ends the reply. `failed` tells whether an error ended the statements.
    Outcome runSql(const std::string& tsql, bool inProc, const std::vector<Binding>& bindings,
                   bool& failed);
    // SQL Server's refusal of a derived table one of whose columns has no
    // name (8155) or a name another has (8156), which SQLite would run.
    std::optional<ServerMessage> derivedTableColumns(const Rewritten& rw,
                                                     const RewriteContext& context);
    Outcome runStatement(sqlite3_stmt* stmt, const std::string& verb, bool& failed,
                         ServerMessage& error);
    // Gives the statement its parameters; false and an error when one is
    // not declared.
    bool bindParameters(sqlite3_stmt* stmt, const std::vector<Binding>& bindings,
                        ServerMessage& error);
    // Where the statement at `pos` ends, read but not run; nothing when
    // SQLite cannot read it (sqlite3_errmsg tells why).
    std::optional<size_t> statementEnd(const std::string& sql, size_t pos);
    // A query that keeps every row out with a closing WHERE 1 = 0 (clients
    // ask so for a query's columns alone): the storage classes of the first
    // row it gives without that WHERE, so that its expressions take the types
    // they take when there are rows. Empty for other statements, or no row.
    std::vector<int> firstRowTypesUnfiltered(sqlite3_stmt* stmt);
    // The session's connection, with the functions that read the session:
    // CONTEXT_INFO().
    void setConnection(sqlite3* db);
    // SET CONTEXT_INFO <value>; false and an error for a value that is not binary.
    bool setContextInfo(const std::string& value, ServerMessage& error, bool& compileError);
    // One row, one unnamed bigint column: the count, or NULL.
    void sendRowCount(std::optional<int64_t> count);
    void sendDatabaseNames();
    // One row per column of the stored table or view, in column order: name,
    // is_identity, is_computed, system_type_id, collation_name; none for no
    // such object.
    void sendColumnProperties(const std::optional<std::string>& stored);
    // A table's enabled triggers, or the foreign keys that reference it.
    void sendCatalogue(CatalogueQuery::Kind kind, const std::optional<std::string>& stored);
    // Each text column's collation (NULL for other types), by its name.
    void sendColumnCollations(const std::optional<std::string>& stored);
    // A stored table's columns: name, declared type, collation as sys.columns
    // gives it (none for a column that is not text), in column order.
    struct StoredColumn {
        std::string name, type;
        std::optional<std::string> collation;
    };
    std::vector<StoredColumn> storedColumns(const std::string& stored);
    // The same by lower-case name for the rewriting (RewriteContext), kept
    // until the schema changes; null for no such table.
    const TableColumns* tableColumns(const std::string& lowerName);
    // One unnamed row per index: the column it starts with.
    void sendIndexColumns(const std::optional<std::string>& stored);
    // A result of nvarchar(128) columns, NULL where a value is missing.
    void sendTextRows(const std::vector<std::string>& names,
                      const std::vector<std::vector<std::optional<std::string>>>& rows);
    bool inTransaction() const;
    // Error 3952: a read under snapshot isolation in a database that does not allow it.
    ServerMessage snapshotRefused() const;
    bool useDatabase(const std::string& name, ServerMessage& error);
    void setPending(uint16_t status, uint16_t command, uint64_t count);
    void flushPending(bool more);
    void delay();
    void procError(const ServerMessage& message);

    int fd_;
    uint16_t spid_;
    const ServerConfig& config_;
    const Catalog& catalog_;
    MessageReader reader_;
    MessageWriter writer_;
    Database* database_ = nullptr;
    sqlite3* db_ = nullptr;
    std::string user_;
    uint8_t doneToken_ = kDone;
    // SET XACT_ABORT: an error inside a transaction rolls all of it back.
    bool xactAbort_ = false;
    // SET NOEXEC: statements are read but not run, until SET NOEXEC OFF.
    bool noexec_ = false;
    // SET CONTEXT_INFO: 128 bytes; none before the first SET.
    std::optional<std::string> contextInfo_;
    // Memory-optimized tables (lower case), read at each batch: inside an
    // explicit transaction SQL Server refuses them without a table hint.
    std::set<std::string> memoryTables_;
    // @@ROWCOUNT: the count of the last statement's DONE.
    uint64_t rowCount_ = 0;
    // Where the authorizer lists the tables a statement being prepared writes.
    std::vector<std::string>* writtenTables_ = nullptr;
    // The running batch's result columns named by a cast (Rewritten::castTypes).
    const std::map<std::string, std::string>* castTypes_ = nullptr;
    SessionOptions options_;
    std::map<std::string, std::optional<TableColumns>> tableColumns_;
    int tableColumnsSchema_ = -1;  // the schema version they were read at
    bool pending_ = false;
    uint16_t pendingStatus_ = 0, pendingCommand_ = 0;
    uint64_t pendingCount_ = 0;
    struct Prepared {
        std::string sql;
        std::string decls;
    };
    std::map<int32_t, Prepared> prepared_;
    int32_t nextHandle_ = 1;
};

}  // namespace tds
