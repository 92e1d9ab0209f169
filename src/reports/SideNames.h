#pragma once

#include <QString>

#include "LoginDetails.h"
#include "Side.h"
#include "TableCatalogue.h"

namespace compare {

// Where one side's table lives: the login that reaches it, and the table.
struct SideTable {
    connection::LoginDetails login;
    catalogue::TableName table;
};

// The server as the connection string names it: alone for a local
// connection, else followed by a comma and the port.
QString ServerName(const connection::LoginDetails& login);

// Where a side's table lives, for a message about it when the sides are in
// two databases: "Second table, database Sales on server db2,1433".
QString SideLocation(Side side, const connection::LoginDetails& login);

// Whether both sides reach the same database of the same server (names
// compared without case, as SQL Server compares them; a connection by port
// and a local one count as different).
bool SameDatabase(const connection::LoginDetails& first, const connection::LoginDetails& second);
// Whether both sides are the very same table of the same database and server.
bool SameTable(const SideTable& first, const SideTable& second);
// Whether both sides run the same query text on the same database, whatever
// names they go by; and what the user is told of it.
bool SameQuery(const SideTable& first, const SideTable& second);
QString SameQueryText();

// How the lines and the reports name the two tables. In one database, as the
// table lists show them ("Orders", "sales.Orders"): the lines of a
// comparison within one database are what they always were. Across
// databases, each qualified by its database ("Sales_Restore.dbo.Orders"), and
// by its server too when the servers differ ("[db2.example,1433].Sales.dbo.
// Orders"), so that a reader tells the sides apart even when both tables
// have the same name. A part that is not a plain identifier is bracketed. A
// query side is named by its own name, followed by where it ran when the
// sides are in two databases ("the first query on Sales at db2,1433").
struct SideNames {
    QString first;
    QString second;
};
SideNames NameSides(const SideTable& first, const SideTable& second);

// A side's name where it starts a sentence: "the first query" becomes "The
// first query"; a table's or a file's name stays as it is.
QString AtSentenceStart(const QString& name);

}  // namespace compare
