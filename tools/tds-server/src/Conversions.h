// SQL Server's conversions and functions that SQLite has no word for, as
// functions every connection registers: casts to binary, to integers from
// binary, decimals and dates spelt as CONVERT spells them, + between
// binaries, DATALENGTH and HASHBYTES. SQLite's values do not say whether
// they were int or bigint, varchar or nvarchar, so the rewriting (Tsql.cpp)
// passes the target type first and what the spelling tells of the source.
#pragma once

#include <string>
#include <string_view>

struct sqlite3;

namespace tds {

void registerConversions(sqlite3* db);

// The text SQLite reports for a function's error that carries SQL Server's
// error number, and the number and text read back from it (false for any
// other text).
std::string numberedError(int number, std::string_view text);
bool readNumberedError(std::string_view message, int& number, std::string& text);

}  // namespace tds
