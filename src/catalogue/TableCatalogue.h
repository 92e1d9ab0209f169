#pragma once

#include <QString>
#include <functional>

#include "DataAccess.h"
#include "LoginDetails.h"

namespace catalogue {

// A table of the database: its schema (empty when the driver gives none) and name.
struct TableName {
    QString schema;
    QString name;

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

// Whether the catalogue lists a row: type exactly "TABLE" and a name (the
// table's own, without schema) whose upper-cased form does not contain "SYS".
bool IsListedTableType(const QString& tableType);
bool IsListedTableName(const QString& tableName);

// Replaces the list's items with the database's user tables, in the order the
// schema rowset gives them. Opens and closes its own connection; has no trap
// of its own: every failure propagates. The list is cleared only once the
// rowset is open, so a failed connection leaves its items as they were.
// processEvents runs once per row of type "TABLE", keeping the windows alive
// while a large catalogue is read.
void FillTableList(TableListItems& list, const connection::LoginDetails& details,
                   data::DataAccess& dataAccess, const std::function<void()>& processEvents);

}  // namespace catalogue
