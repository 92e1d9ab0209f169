// The T-SQL that clients send, turned into SQL that SQLite runs: N'' literals,
// 0x binary literals, (max) lengths, COLLATE clauses, + joining texts,
// @@TRANCOUNT, ISNULL(), casts to binary, TOP and OFFSET ... FETCH, and
// schema-qualified names. A table
// [sales].[Orders] is stored in SQLite as the single name "sales.Orders"; dbo
// is the default schema and is stored without prefix.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tds {

// The collation every connection registers for SQL Server's _BIN2 names:
// texts in UTF-16 code unit order, the shorter padded with blanks.
inline constexpr char kUtf16CodeUnitCollation[] = "UTF16BIN";
// The collation every connection registers for date and time columns: texts
// compared by the date and time they hold, whatever their spelling.
inline constexpr char kDateTimeValueCollation[] = "DATETIMEVALUE";
// The collation every connection registers for SQL Server's case-insensitive
// collations: ASCII letters fold, as in SQLite's NOCASE, and the shorter text
// counts as padded with blanks, so 'x' = 'X  '.
inline constexpr char kCaseInsensitiveCollation[] = "NOCASEPAD";
// Functions every connection registers for what SQLite has no word for
// (Conversions.h): @@TRANCOUNT, and the conversions, whose target type comes
// first, n = -1 for max:
//   CAST(x AS [var]binary(n))       tds_binary(n, padded, 'source', x)
//   CAST(x AS int) and the others   tds_integer(bytes, x)
//   CONVERT([n]varchar(n), x, ...)  tds_text(n, x, ...)
// and where a decimal or datetime2 is converted to text, its cast spells it
// as SQL Server does: tds_decimal_text(p, s, x), tds_datetime_text(n, x).
// 'source' is what the spelling of x tells of its type ('varchar',
// 'nvarchar', 'int4', 'float', 'column', ...; '' for nothing). A + between
// binaries is tds_concat(a, b, ...).
inline constexpr char kTranCountFunction[] = "tds_trancount";
// @@ROWCOUNT: the rows the session's last statement touched or sent.
inline constexpr char kRowCountFunction[] = "tds_rowcount";
// @@TEXTSIZE and @@LOCK_TIMEOUT: the session's SET values.
inline constexpr char kTextSizeFunction[] = "tds_textsize";
inline constexpr char kLockTimeoutFunction[] = "tds_lock_timeout";
inline constexpr char kBinaryCastFunction[] = "tds_binary";
inline constexpr char kIntegerCastFunction[] = "tds_integer";
// CAST(SUBSTRING(x, start, length) AS int) and the others, start and length
// numbers of at least 1: tds_integer_slice(bytes, x, start, length), which
// reads the slice where it is.
inline constexpr char kIntegerSliceFunction[] = "tds_integer_slice";
inline constexpr char kTextConvertFunction[] = "tds_text";
inline constexpr char kDecimalTextFunction[] = "tds_decimal_text";
inline constexpr char kDateTimeTextFunction[] = "tds_datetime_text";
inline constexpr char kBinaryConcatFunction[] = "tds_concat";
// One column's field of the checksum method's row encoding, written as
//   CASE WHEN [c] IS NULL THEN 0x00 ELSE 0x01 + <encoding of [c]> END
// becomes tds_field('kind', [c] [, scale]): one call instead of a dozen, the
// same bytes. The kinds: 'i' integers as bigint, 'f' float, 'd' decimal
// text at a scale, 't' datetime2(7) text, 'm' datetime2(3) text written
// as datetime2(7), 's' text as nvarchar, 'b' binary, 'g' uniqueidentifier;
// 'u' and 'n' are 't' and 'm' of a datetime column, which holds 1/300 s.
inline constexpr char kChecksumFieldFunction[] = "tds_field";
// HASHBYTES of a whole row encoding, an empty binary followed by such fields
// only,
//   HASHBYTES('SHA2_256', CAST(0x AS varbinary(max)) + <field> + <field> ...)
// becomes tds_row_hash('SHA2_256', 'kinds', [c1], [c2], ...): one call per
// row, the same digest. The kinds, blank-separated, a decimal's with its
// scale: 'i d4 s'.
inline constexpr char kRowHashFunction[] = "tds_row_hash";

// @@ROWS_SCANNED: the rows every session's statements stepped through in
// full scans of a table since the server started (SQLite's count), for
// tests that tell a seek from a scan.
inline constexpr char kRowsScannedFunction[] = "tds_rows_scanned";

// A column as the rewriting needs to know it: its declared type, lower case
// ("varchar(20)"), and its collation as sys.columns names it.
struct ColumnFact {
    std::string type;
    std::string collation;
};
using TableColumns = std::map<std::string, ColumnFact>;  // by lower-case name

struct RewriteContext {
    std::string database;           // the session's database, for three-part names
    std::set<std::string> schemas;  // known schemas other than dbo, lower case
    // Text columns of new tables compare and sort without case and trailing
    // blanks, as in a database with one of SQL Server's CI collations.
    bool caseInsensitive = false;
    // The columns of a table by SQLite's name for it, lower case; null when
    // there is no such table. The tables a batch names tell the type of the
    // columns it names (where no two disagree): a datetime column's checksum
    // field holds 1/300 s, and an N'...' compared with a char or varchar
    // column under a SQL_ collation converts the column, so its index is not
    // used (the column gets SQLite's no-op "+"), as SQL Server then scans.
    std::function<const TableColumns*(const std::string&)> tableColumns = nullptr;
};

// What SQL Server refuses to compile although SQLite would run it (an ORDER
// BY in a derived table, a derived table without an alias), and what this
// server cannot run (SELECT INTO, TOP ... PERCENT). SQL Server compiles a
// batch before it runs any of it, so a refusal stops the whole batch.
struct Refusal {
    int number = 0;
    uint8_t severity = 15;
    std::string text;
};

// A derived table's select, as written, for the checks SQL Server makes of
// its columns (8155, 8156) that SQLite does not: the server prepares it to
// learn the names its columns get.
struct DerivedTable {
    std::string select;  // "select ... from ...", the WITH of its statement before it
    std::string alias;
    size_t items = 0;             // the items of its select list
    size_t unnamed = size_t(-1);  // the first item without a name, if any
    size_t starsBefore = 0;       // "*" items before that one
    bool starAfter = false;       // a "*" item after it
};

struct Rewritten {
    std::string sql;
    std::vector<DerivedTable> derived;
    // The first refusal in the batch, if any; `sql` is then not to be run.
    std::optional<Refusal> refusal;
    // SQLite's name for a table (lower case) -> the name as the client wrote it,
    // for error messages.
    std::map<std::string, std::string> writtenNames;
    // A result column named by CAST(x AS nvarchar(n)) AS name (lower case)
    // -> that type, which SQL Server describes the column as: SQLite has no
    // declared type for an expression.
    std::map<std::string, std::string> castTypes;
};

Rewritten rewriteTsql(std::string_view sql, const RewriteContext& context);

// The row-count estimate clients ask for before reading a table:
//   select sum(rows) from sys.partitions
//   where object_id = object_id(N'[sales].[Orders]') and index_id in (0, 1)
// (blanks, case and the order of the two conditions may vary). Gives the
// object name inside the string and where the statement ends.
struct RowCountQuery {
    std::string objectName;
    size_t end = 0;
};
std::optional<RowCountQuery> matchRowCountQuery(std::string_view sql, size_t from);

// The list of databases clients ask for: "select name from sys.databases"
// (blanks and case may vary). Gives where the statement ends.
std::optional<size_t> matchDatabaseListQuery(std::string_view sql, size_t from);

// The column properties clients ask for before writing to a table:
//   select name, is_identity, is_computed, system_type_id, collation_name from sys.columns
//   where object_id = object_id(N'[dbo].[Orders]') order by column_id
// (blanks and case may vary). Gives the object name and where it ends.
struct ColumnPropertiesQuery {
    std::string objectName;
    size_t end = 0;
};
std::optional<ColumnPropertiesQuery> matchColumnPropertiesQuery(std::string_view sql, size_t from);
// The same for each column's collation and scale:
//   select name, collation_name, scale from sys.columns
//   where object_id = object_id(N'[dbo].[Orders]') order by column_id
std::optional<ColumnPropertiesQuery> matchColumnCollationsQuery(std::string_view sql, size_t from);
// The key columns of every index, which clients ask for to tell whether a
// range of keys can be sought and whether a key is unique:
//   select i.is_unique, ic.key_ordinal, col_name(ic.object_id, ic.column_id)
//   from sys.indexes as i join sys.index_columns as ic on ic.object_id =
//   i.object_id and ic.index_id = i.index_id where i.object_id =
//   object_id(N'[dbo].[Orders]') and ic.key_ordinal > 0
//   order by i.index_id, ic.key_ordinal
// (any aliases, AS optional).
std::optional<ColumnPropertiesQuery> matchIndexColumnsQuery(std::string_view sql, size_t from);

// What a script's writer asks of a table beside its columns:
//   select name from sys.triggers where parent_id = object_id(N'...')
//   and is_disabled = 0 order by name
//   select name, object_schema_name(parent_object_id),
//   object_name(parent_object_id), delete_referential_action,
//   update_referential_action from sys.foreign_keys
//   where referenced_object_id = object_id(N'...') order by name
//   select name from sys.columns where object_id = object_id(N'...')
//   and generated_always_type <> 0 order by column_id
//   select is_memory_optimized from sys.tables where object_id = object_id(N'...')
struct CatalogueQuery {
    enum Kind { Triggers, ForeignKeys, PeriodColumns, MemoryOptimized } kind;
    std::string objectName;
    size_t end = 0;
};
std::optional<CatalogueQuery> matchCatalogueQuery(std::string_view sql, size_t from);

// The COLLATE clauses of a stored CREATE TABLE: lower-case column name ->
// the collation as the client wrote it (as the rewriting keeps it in a
// comment), or SQLite's name where the rewriting added the clause.
std::map<std::string, std::string> columnCollations(std::string_view createTable);

// IF <condition> <statement>, as the rewriting leaves it: where the condition
// starts and ends, and where its one statement starts. The condition ends at
// the first word outside parentheses that starts a statement (SET, ROLLBACK,
// UPDATE, ...); nothing when there is no such word before a ';'.
struct IfStatement {
    size_t conditionBegin = 0;
    size_t conditionEnd = 0;
    size_t statementBegin = 0;
};
std::optional<IfStatement> matchIf(std::string_view sql, size_t from);

// Whether the word at `at` starts a statement (SELECT, DROP, WAITFOR ...):
// SQL Server needs no ';' before one.
bool startsStatement(std::string_view sql, size_t at);

// A statement that ends with WHERE 1 = 0 outside parentheses (a ';' may
// follow): where that WHERE starts.
std::optional<size_t> matchNoRowsFilter(std::string_view sql);

// The stored table name an object name names as object_id() reads it
// ("[sales].[Orders]" -> "sales.Orders", "dbo.T" and "T" -> "T",
// "testdb..T" -> "T"); nothing for a malformed name or another database.
std::optional<std::string> storedNameOfObject(std::string_view name, const RewriteContext& context);

// Splits a stored table name into owner and name ("sales.Orders" -> sales,
// Orders; "Orders" -> dbo, Orders).
std::pair<std::string, std::string> splitStoredName(std::string_view stored);

// The first words of the statement starting at `from` (lower case, comments
// and blanks skipped), and where a one-line statement such as SET ends: at
// the next ';' outside quotes, or the end of the line.
std::vector<std::string> leadingWords(std::string_view sql, size_t from, size_t count);
size_t lineStatementEnd(std::string_view sql, size_t from);
// Position of the first character that is neither blank nor inside a comment.
size_t skipBlank(std::string_view sql, size_t from);

// SQL Server's LIKE as sp_tables uses it: % and _ wildcards, case-insensitive.
bool likeMatch(std::string_view pattern, std::string_view text);

}  // namespace tds
