#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>
#include <memory>

#include "DataError.h"
#include "FieldValue.h"
#include "ResultTable.h"

namespace data {

enum ObjectState { adStateClosed = 0, adStateOpen = 1 };
enum CursorLocation { adUseServer = 2, adUseClient = 3 };
enum CursorType { adOpenForwardOnly = 0, adOpenStatic = 3 };
enum LockType { adLockReadOnly = 1 };
enum ConnectMode { adModeUnknown = 0, adModeReadWrite = 3 };
// How a connection's statements read: as the server's default (read committed,
// with shared locks unless the database reads committed rows by versions), or
// under snapshot isolation, from row versions, taking no shared locks.
enum IsolationLevel { adXactUnspecified = -1, adXactSnapshot = 0x1000000 };

class Recordset;

// A query's rows read forward, block after block, without holding the whole
// result: for tables of any size. Used from one thread at a time, except
// Cancel, which any thread may call.
class RowStream {
public:
    virtual ~RowStream() = default;
    // The result's columns, as a table without rows (copy it with
    // ResultTable::withoutRows to make a block).
    virtual const ResultTable& Columns() const = 0;
    // Replaces block's rows with the next ones (one or more); false when none
    // was left. Throws DataError when the rows cannot be read.
    virtual bool NextBlock(ResultTable& block) = 0;
    // Stops a read in progress on another thread: that NextBlock throws. The
    // stream's connection counts as cancelled from then on (Connection::Cancel).
    virtual void Cancel() = 0;
};

// An option of a connection or record set (Mode, CommandTimeout, ...): reads
// like an int; an assignment goes through its owner's SetOption, which keeps
// the value or throws DataError and leaves the old one.
template <class Owner>
class Option {
public:
    Option(Owner& owner, const char* name, int value)
        : owner_(&owner), name_(name), value_(value) {}
    Option(const Option&) = delete;
    Option& operator=(const Option& other) { return *this = static_cast<int>(other); }
    Option& operator=(int value) {
        owner_->SetOption(*this, value);
        return *this;
    }
    operator int() const { return value_; }
    const char* name() const { return name_; }

private:
    friend Owner;  // the owner's SetOption stores the value
    Owner* owner_;
    const char* name_;
    int value_;
};

// One database connection. Every ODBC failure throws DataError.
class Connection {
public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    virtual ~Connection() = default;

    // Options, set before Open. ConnectionTimeout 0 or less means: the layer's
    // default login time-out (15 s). CommandTimeout 0 means no limit.
    Option<Connection> Mode{*this, "Mode", adModeUnknown};
    Option<Connection> CommandTimeout{*this, "CommandTimeout", 30};
    Option<Connection> ConnectionTimeout{*this, "ConnectionTimeout", 0};
    Option<Connection> CursorLocation{*this, "CursorLocation", adUseServer};
    Option<Connection> IsolationLevel{*this, "IsolationLevel", adXactUnspecified};

    // Connects, then states the session's options in one batch (SessionSettings),
    // so that no driver configuration nor server default changes an answer.
    virtual void Open(const QString& connectionString) = 0;
    virtual void Close() = 0;  // closing a closed connection does nothing
    virtual int State() const = 0;

    // Runs a statement that returns no rows (tests and the demo set up tables with it).
    virtual void Execute(const QString& sql) = 0;

    // The tables schema rowset (SQLTables with no restrictions), opened and
    // positioned on its first row. Columns include TABLE_SCHEM, TABLE_NAME, TABLE_TYPE.
    std::unique_ptr<Recordset> OpenSchemaTables();

    // The whole result of a query, fetched at once (static client-side cursor).
    virtual ResultTable FetchQuery(const QString& sql) = 0;
    // The columns of a table's primary key, in key order; none when it has no
    // primary key (SQLPrimaryKeys). An empty schema means the default one.
    virtual QStringList PrimaryKeyColumns(const QString& schema, const QString& table) = 0;
    // The result of a query as a stream of blocks. The connection must outlive
    // the stream and run nothing else while it is open.
    virtual std::unique_ptr<RowStream> OpenRowStream(const QString& sql) = 0;
    virtual ResultTable FetchSchemaTables() = 0;

    // Stops, from any thread, the statement the connection is running at
    // this moment (a query waiting for the server, a key look-up, the SELECT
    // of a row stream before its first row, a row stream's read): that call
    // throws DataError. A cancel that finds nothing running is not lost:
    // every later statement fails at once as cancelled (messages::kCanceled)
    // until ResetCancel. Never throws, and does not wait for the statement to
    // end: a server that does not answer the cancel leaves the statement's
    // own thread waiting, not the caller.
    virtual void Cancel() = 0;
    // Lets statements run again after a Cancel: a cancel leaves the
    // connection open and usable.
    virtual void ResetCancel() = 0;

protected:
    // Every assignment to an option; this one keeps the value.
    virtual void SetOption(Option<Connection>& option, int value);
    // The record set OpenSchemaTables fills (a test double hands out its own kind).
    virtual std::unique_ptr<Recordset> NewRecordset();

private:
    friend class Option<Connection>;
};

// A field of a record set's current record. It reads through the record set,
// so it follows the record set as it moves.
class Field {
public:
    const QString& Name() const;  // throws DataError when the record set is closed
    FieldValue Value() const;     // throws DataError when closed or at EOF

private:
    friend class Fields;
    Field(const Recordset& recordset, int index) : rs_(&recordset), i_(index) {}
    const Recordset* rs_;
    int i_;
};

class Fields {
public:
    int Count() const;                      // 0 when the record set is closed
    Field Item(int index) const;            // throws DataError when out of range
    Field Item(const QString& name) const;  // throws DataError when there is no such field

private:
    friend class Recordset;
    explicit Fields(const Recordset& recordset) : rs_(&recordset) {}
    const Recordset* rs_;
};

// A record set over a whole result held on the client, in columns. Its steps
// are virtual so that another kind of record set (a test double) can take
// them over; this one never refuses a step that its state allows.
class Recordset {
public:
    Recordset() = default;
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;
    virtual ~Recordset() = default;

    Option<Recordset> CursorLocation{*this, "CursorLocation", adUseServer};

    // Runs source on connection and fetches the whole result (cursor type and
    // lock type are accepted as given: only static read-only is supported).
    // Throws DataError when already open.
    virtual void Open(const QString& source, Connection& connection, int cursorType = adOpenStatic,
                      int lockType = adLockReadOnly);
    // Takes an already fetched result (the schema rowset, tests).
    void OpenResult(ResultTable table);

    // EOF clashes with the C macro of that name. Throws DataError when closed.
    virtual bool Eof() const;
    virtual void MoveNext();           // throws DataError at EOF or when closed
    virtual Fields GetFields() const;  // throws DataError when closed
    // Hands over every record from the current one on, without copying;
    // afterwards the record set is at EOF. Throws DataError when closed or at EOF.
    virtual ResultTable GetRows();
    virtual int State() const { return state_; }
    virtual void Close();  // throws DataError when already closed

protected:
    // Every assignment to an option; this one keeps the value.
    virtual void SetOption(Option<Recordset>& option, int value);
    // What a Field reads: a field's name, and its value in the current record.
    virtual const QString& NameOf(int field) const;
    virtual FieldValue ValueOf(int field) const;

private:
    friend class Option<Recordset>;
    friend class Field;
    friend class Fields;
    const Column& columnOf(int field) const;

    ResultTable table_;
    std::size_t row_ = 0;
    int state_ = adStateClosed;
};

// Creates the objects of the layer: the real one over ODBC, or a test double.
class DataAccess {
public:
    virtual ~DataAccess() = default;
    // Throws DataError when the layer cannot be had (no ODBC environment).
    virtual std::unique_ptr<Connection> CreateConnection() = 0;
    // Throws DataError when the layer cannot be had.
    virtual std::unique_ptr<Recordset> CreateRecordset() { return std::make_unique<Recordset>(); }
};

// The real layer over unixODBC.
DataAccess& OdbcDataAccess();

// How long a statement waits for a lock another session holds before the
// server gives up with error 1222, in milliseconds.
inline constexpr int kLockTimeoutMs = 30000;

// The batch every connection sends as soon as it is open. TEXTSIZE at its
// largest (0 would mean 4,096 bytes): a freetds.conf "text size" would
// otherwise cut every (max) value without a word. The ANSI options as ODBC
// clients have them, whatever the server's user options; a lock wait that
// ends; dates read one way. Snapshot isolation when asked: the database
// refuses it with error 3952 at the first read when it does not allow it.
QString SessionSettings(int isolationLevel);

// The texts the layer gives to misuse of its objects, worded as the program's
// users know them from ADO.
namespace messages {
inline constexpr const char* kObjectClosed = "Operation is not allowed when the object is closed.";
inline constexpr const char* kObjectOpen = "Operation is not allowed when the object is open.";
inline constexpr const char* kNoCurrentRecord =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
    "requires a current record.";
inline constexpr const char* kItemNotFound =
    "Item cannot be found in the collection corresponding to the requested name or ordinal.";
// A statement refused because its connection was cancelled, with the SQLSTATE
// the driver gives a statement it cancelled.
inline constexpr const char* kCanceled = "Operation was cancelled";
inline constexpr const char* kCanceledState = "HY008";
}  // namespace messages

}  // namespace data
