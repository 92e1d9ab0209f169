#pragma once

#include <QString>
#include <cstdint>
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

// The steps of connections and record sets that a test double can refuse
// (see MemoryDataAccess). The real layer never refuses a step by itself.
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
    FieldValue,      // reading a field's Value; detail: the field's name
    GetRows,         //
    RecordsetClose,  //
};

// Connections and record sets ask Before() first at each step that is not a
// virtual function of their own, so that a test double can make it throw.
class Guarded {
public:
    virtual ~Guarded() = default;

protected:
    Guarded() = default;
    virtual void Before(Operation /*op*/, const QString& /*detail*/) const {}

private:
    friend class Option;
    friend class Field;
};

// An option of a connection or record set (Mode, CommandTimeout, ...): reads and
// assigns like an int, but an assignment is a step of its owner.
class Option {
public:
    Option(const Guarded& owner, const char* name, int value)
        : owner_(&owner), name_(name), value_(value) {}
    Option(const Option&) = delete;
    Option& operator=(const Option& other) { return *this = static_cast<int>(other); }
    Option& operator=(int value) {
        owner_->Before(Operation::SetOption, QString::fromLatin1(name_));
        value_ = value;
        return *this;
    }
    operator int() const { return value_; }
    const char* name() const { return name_; }

private:
    const Guarded* owner_;
    const char* name_;
    int value_;
};

// One database connection. Every ODBC failure throws DataError.
class Connection : public Guarded {
public:
    ~Connection() override = default;

    // Options, set before Open. ConnectionTimeout 0 or less means: the layer's
    // default login time-out (15 s). CommandTimeout 0 means no limit.
    Option Mode{*this, "Mode", adModeUnknown};
    Option CommandTimeout{*this, "CommandTimeout", 30};
    Option ConnectionTimeout{*this, "ConnectionTimeout", 0};
    Option CursorLocation{*this, "CursorLocation", adUseServer};

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

protected:
    // The record set OpenSchemaTables fills (a test double hands out its own kind).
    virtual std::unique_ptr<Recordset> NewRecordset();
};

// A record set over a whole result held on the client.
class Field {
public:
    Field(const ResultTable& table, int index, std::size_t row, const Guarded* owner = nullptr)
        : t_(&table), i_(index), r_(row), owner_(owner) {}
    const QString& Name() const;
    FieldValue Value() const;  // throws DataError at EOF

private:
    const ResultTable* t_;
    int i_;
    std::size_t r_;
    const Guarded* owner_;
};

class Fields {
public:
    Fields(const ResultTable& table, std::size_t row, const Guarded* owner = nullptr)
        : t_(&table), r_(row), owner_(owner) {}
    int Count() const { return t_->fieldCount(); }
    Field Item(int index) const;            // throws DataError when out of range
    Field Item(const QString& name) const;  // throws DataError when there is no such field

private:
    const ResultTable* t_;
    std::size_t r_;
    const Guarded* owner_;
};

class Recordset : public Guarded {
public:
    Recordset() = default;
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    Option CursorLocation{*this, "CursorLocation", adUseServer};

    // Runs source on connection and fetches the whole result (cursor type and
    // lock type are accepted as given: only static read-only is supported).
    // Throws DataError when already open.
    void Open(const QString& source, Connection& connection, int cursorType = adOpenStatic,
              int lockType = adLockReadOnly);
    // Takes an already fetched result (the schema rowset, tests).
    void OpenResult(ResultTable table);

    bool Eof() const;  // EOF clashes with the C macro of that name; throws DataError when closed
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
}  // namespace messages

}  // namespace data
