#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "DataAccess.h"

namespace data {

// The data-access layer in memory, for tests: named tables and a schema
// rowset that tests build, and any step scripted to fail with a DataError.
// Every connection, record set and field it hands out reports to it.
class MemoryDataAccess : public DataAccess {
public:
    MemoryDataAccess();
    ~MemoryDataAccess() override;

    // "select * from NAME" (NAME case-insensitive, brackets allowed) returns a
    // copy of the table; any other query text registered with setQuery returns
    // that result. Unknown tables fail as the server would (42S02/208).
    void addTable(const QString& name, const ResultTable& table);
    void setQuery(const QString& sql, const ResultTable& result);
    // The rowset of OpenSchemaTables / FetchSchemaTables.
    void setSchemaTables(const ResultTable& rowset);

    // The nth time op happens (counted from 1, only among steps whose detail
    // equals detail when one is given), it throws DataError(description).
    void failOn(Operation op, const QString& description, int nth = 1,
                const QString& detail = QString());
    // Every time op happens (with that detail, when given).
    void failAlways(Operation op, const QString& description, const QString& detail = QString());

    // What was done.
    struct OpenCall {
        QString connectionString;
        int mode, commandTimeout, connectionTimeout, cursorLocation;  // as set at Open
    };
    const std::vector<OpenCall>& opens() const;
    const QStringList& queries() const;   // record set sources and FetchQuery texts, in order
    const QStringList& executed() const;  // Execute statements, in order
    // Every step in order, e.g. "SetOption Mode=3", "Open Driver=...", "Query select ...".
    const QStringList& log() const;
    int openConnections() const;  // connections open right now

    std::unique_ptr<Connection> CreateConnection() override;
    std::unique_ptr<Recordset> CreateRecordset() override;

    // A copy of a table (the double hands out copies, tests keep originals).
    static ResultTable copyOf(const ResultTable& table);

    struct Ledger;

private:
    std::shared_ptr<Ledger> state_;
};

}  // namespace data
