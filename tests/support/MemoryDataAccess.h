#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

#include "DataAccess.h"

namespace data {

// The steps of connections and record sets that MemoryDataAccess can be
// scripted to refuse.
enum class Operation : std::uint8_t {
    CreateConnection,
    CreateRecordset,
    SetOption,       // detail: the option's name
    Open,            // a connection's Open; detail: the connection string
    Close,           // a connection's Close
    Execute,         // detail: the statement
    OpenSchema,      // the tables schema rowset
    Query,           // a record set's Open runs its source; detail: the source
    Eof,             // reading a record set's Eof
    MoveNext,        //
    Fields,          // a record set's GetFields
    FieldName,       // reading a field's Name; detail: the field's name
    FieldValue,      // reading a field's Value; detail: the field's name
    GetRows,         //
    RecordsetClose,  //
    ReadBlock,       // a row stream's next block; detail: the query
};

// The data-access layer in memory, for tests: named tables and a schema
// rowset that tests build, and any step scripted to fail with a DataError.
// Every connection, record set and field it hands out reports to it.
class MemoryDataAccess : public DataAccess {
public:
    MemoryDataAccess();
    ~MemoryDataAccess() override;

    // "select * from NAME" (NAME case-insensitive, brackets allowed) returns a
    // copy of the table, "select [a], [b] from NAME" those columns of it, and
    // either with " where 1 = 0" the columns without rows; the second table's
    // column fills (sys.columns) no rows, other catalogue queries ("from sys.")
    // 208 as a server without the view; any other query text registered with
    // setQuery returns that result (a registered one first). Unknown tables and
    // columns fail as the server would (42S02/208, 42S22/207).
    void addTable(const QString& name, const ResultTable& table);
    void setQuery(const QString& sql, const ResultTable& result);
    // The primary key columns PrimaryKeyColumns gives for a table (as addTable names it).
    void setPrimaryKey(const QString& table, const QStringList& columns);
    // The rowset of OpenSchemaTables / FetchSchemaTables.
    void setSchemaTables(const ResultTable& rowset);
    // A table and a schema rowset of one database (as a connection string's
    // Database= names it, without case): its connections see them in place
    // of the shared ones.
    void addTable(const QString& name, const ResultTable& table, const QString& database);
    void setSchemaTables(const ResultTable& rowset, const QString& database);

    // While closed, a row stream waits before giving its next block, until the
    // gate opens or the stream is cancelled (then its read fails as cancelled).
    void setReadGate(bool open);
    // Lets n more blocks through a closed gate (whichever streams ask first).
    void passBlocks(int n);
    // Row streams waiting at the gate right now.
    int waitingReads() const;

    // Holds every FetchQuery, PrimaryKeyColumns and OpenRowStream whose text
    // contains `containing` (case-insensitive) inside the call, as a server
    // slow to answer would, until releaseQueries or until the connection is
    // cancelled (the call then throws the cancelled DataError). A key
    // look-up's text is "sp_pkeys SCHEMA.TABLE", as the driver asks for it.
    // ignoresCancel: a server that never answers a cancel; the call returns
    // only on release (and then throws the cancelled error when its
    // connection was cancelled meanwhile). Repeatable, for several texts.
    void holdQueries(const QString& containing, bool ignoresCancel = false);
    // Holds every connection's Open until releaseQueries, whatever a cancel
    // says: a driver's connect cannot be interrupted.
    void holdOpens();
    // Lets every held call go on and holds no more.
    void releaseQueries();
    // Calls held right now (queries and opens).
    int heldQueries() const;

    // The nth time op happens (counted from 1, only among steps whose detail
    // equals detail when one is given), it throws DataError(description).
    void failOn(Operation op, const QString& description, int nth = 1,
                const QString& detail = QString());
    // Every time op happens (with that detail, when given).
    void failAlways(Operation op, const QString& description, const QString& detail = QString());

    // What was done.
    struct OpenCall {
        QString connectionString;
        int mode, commandTimeout, connectionTimeout, cursorLocation,  // as set at Open
            isolationLevel;
    };
    const std::vector<OpenCall>& opens() const;
    const QStringList& queries() const;   // record set sources and FetchQuery texts, in order
    const QStringList& executed() const;  // Execute statements, in order
    // Every step in order, e.g. "SetOption Mode", "Open Driver=...", "Query select ...".
    const QStringList& log() const;
    int openConnections() const;  // connections open right now
    int liveConnections() const;  // connections made and not yet destroyed

    std::unique_ptr<Connection> CreateConnection() override;
    std::unique_ptr<Recordset> CreateRecordset() override;

    // A copy of a table (the double hands out copies, tests keep originals).
    static ResultTable copyOf(const ResultTable& table);

    struct Ledger;

private:
    std::shared_ptr<Ledger> state_;
};

}  // namespace data
