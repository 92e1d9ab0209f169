#pragma once

#include <QString>
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

class Recordset;

// One database connection. Every ODBC failure throws DataError.
class Connection {
public:
    virtual ~Connection() = default;

    // Options, set before Open. ConnectionTimeout 0 or less means: the layer's
    // default login time-out (15 s). CommandTimeout 0 means no limit.
    int Mode = adModeUnknown;
    int CommandTimeout = 30;
    int ConnectionTimeout = 0;
    int CursorLocation = adUseServer;

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
    virtual ResultTable FetchSchemaTables() = 0;
};

// A record set over a whole result held on the client.
class Field {
public:
    Field(const ResultTable& table, int index, std::size_t row) : t_(&table), i_(index), r_(row) {}
    const QString& Name() const;
    FieldValue Value() const;  // throws DataError at EOF

private:
    const ResultTable* t_;
    int i_;
    std::size_t r_;
};

class Fields {
public:
    Fields(const ResultTable& table, std::size_t row) : t_(&table), r_(row) {}
    int Count() const { return t_->fieldCount(); }
    Field Item(int index) const;            // throws DataError when out of range
    Field Item(const QString& name) const;  // throws DataError when there is no such field

private:
    const ResultTable* t_;
    std::size_t r_;
};

class Recordset {
public:
    int CursorLocation = adUseServer;

    // Runs source on connection and fetches the whole result (cursor type and
    // lock type are accepted as given: only static read-only is supported).
    void Open(const QString& source, Connection& connection, int cursorType = adOpenStatic,
              int lockType = adLockReadOnly);
    // Takes an already fetched result (the schema rowset, tests).
    void OpenResult(ResultTable table);

    bool Eof() const;  // EOF clashes with the C macro of that name
    void MoveNext();   // throws DataError at EOF or when closed
    Fields GetFields() const;  // throws DataError when closed
    // Hands over every record from the current one on, without copying;
    // afterwards the record set is at EOF. Throws DataError when closed or at EOF.
    ResultTable GetRows();
    int State() const { return state_; }
    void Close();  // throws DataError when already closed

private:
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

}  // namespace data
