#pragma once

#include <QString>
#include <QStringList>
#include <exception>
#include <vector>

#include "DataAccess.h"
#include "LoginDetails.h"

namespace catalogue {

// A table of the database: its schema (empty when the driver gives none) and
// name; view: it is a view, which can be read but has no primary key and is
// no table to mend. query: a user's query read in place of a table (then
// name is how the lines name it, "the first query" or its file's name, and
// schema is empty).
struct TableName {
    QString schema;
    QString name;
    bool view = false;
    QString query = QString();

    bool isQuery() const { return !query.isEmpty(); }

    // How the lists show it: the bare name in the default schema "dbo" (or
    // without schema), "schema.name" in any other, so that equal names of two
    // schemas can be told apart.
    QString listed() const;
    bool operator==(const TableName&) const = default;
};

// The items of one table list, as the catalogue fills them.
class TableListItems {
public:
    virtual ~TableListItems() = default;
    virtual void Clear() = 0;
    virtual void Add(const TableName& table) = 0;
};

// Whether the catalogue lists a row: type exactly "TABLE" (or "VIEW" when
// views are asked for) and a name (the table's own, without schema) whose
// upper-cased form does not contain "SYS".
bool IsListedTableType(const QString& tableType, bool withViews = false);
bool IsListedTableName(const QString& tableName);
// The server's own schemas (sys, INFORMATION_SCHEMA): their views are not listed.
bool IsSystemSchema(const QString& schema);

// What a read of the catalogue gave: the listed tables in the schema rowset's
// order, and the failure that ended the read part-way, if one did.
struct CatalogueRead {
    std::vector<TableName> tables;
    std::exception_ptr failure;
};

// Reads the database's user tables (and its views, withViews) through a
// connection of its own, opened and closed here. Touches no list, so it may run on any thread.
// Throws when the connection or the schema rowset cannot be opened (nothing was read); a failure
// while reading the rows is kept with the tables read before it.
CatalogueRead ReadTableCatalogue(const connection::LoginDetails& details,
                                 data::DataAccess& dataAccess, bool withViews = false);

// The databases of the login's server, as the server lists them for the
// login's user (sys.databases), sorted by name without case. Through a
// connection of its own; throws when it cannot be opened or the server does
// not answer.
QStringList ReadServerDatabases(const connection::LoginDetails& details,
                                data::DataAccess& dataAccess);

// Replaces the list's items with what was read, then throws the failure that
// ended the read, if any: the names read before it stay listed.
void FillTableList(TableListItems& list, const CatalogueRead& read);

}  // namespace catalogue
