#pragma once

#include <QString>
#include <functional>

#include "DataAccess.h"
#include "LoginDetails.h"

namespace catalogue {

// The items of one table list, as the catalogue fills them.
class TableListItems {
public:
    virtual ~TableListItems() = default;
    virtual void Clear() = 0;
    virtual void Add(const QString& text) = 0;
};

// Whether the catalogue lists a row: type exactly "TABLE" and a name whose
// upper-cased form does not contain "SYS".
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
