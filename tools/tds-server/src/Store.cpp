#include "Store.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <tuple>

#include "Bytes.h"
#include "Conversions.h"
#include "Tsql.h"
#include "Values.h"

namespace tds {

namespace {

// A few SQL Server functions that clients use in simple queries.
void dbName(sqlite3_context* ctx, int, sqlite3_value**) {
    auto* database = static_cast<const Database*>(sqlite3_user_data(ctx));
    sqlite3_result_text(ctx, database->name().c_str(), -1, SQLITE_TRANSIENT);
}

void getDate(sqlite3_context* ctx, int, sqlite3_value**) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    char buf[40];
    size_t n = strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    snprintf(buf + n, sizeof buf - n, ".%03ld", ts.tv_nsec / 1000000);
    sqlite3_result_text(ctx, buf, -1, SQLITE_TRANSIENT);
}

void newId(sqlite3_context* ctx, int, sqlite3_value**) {
    thread_local std::mt19937_64 rng{std::random_device{}()};
    uint64_t a = rng(), b = rng();
    a = (a & ~0xF000ULL) | 0x4000ULL;                         // version 4
    b = (b & 0x3FFFFFFFFFFFFFFFULL) | 0x8000000000000000ULL;  // variant 1
    char buf[40];
    snprintf(buf, sizeof buf, "%08X-%04X-%04X-%04X-%012llX", unsigned(a >> 32),
             unsigned(a >> 16 & 0xFFFF), unsigned(a & 0xFFFF), unsigned(b >> 48),
             (unsigned long long)(b & 0xFFFFFFFFFFFFULL));
    sqlite3_result_text(ctx, buf, -1, SQLITE_TRANSIENT);
}

// NCHAR(n): the character of UTF-16 code unit n. A lone surrogate becomes
// U+FFFD, as it does in the texts clients send; outside 0..65535, NULL.
// A binary argument (NCHAR(0x263A)) is a big-endian integer, as SQL Server
// converts binary to int.
void ncharOf(sqlite3_context* ctx, int, sqlite3_value** argv) {
    double n = -1;
    if (sqlite3_value_type(argv[0]) == SQLITE_BLOB) {
        const auto* bytes = static_cast<const unsigned char*>(sqlite3_value_blob(argv[0]));
        const int size = sqlite3_value_bytes(argv[0]);
        uint32_t value = 0;
        for (int i = std::max(0, size - 4); i < size; ++i) value = value << 8 | bytes[i];
        n = value;
    } else {
        const int type = sqlite3_value_numeric_type(argv[0]);
        if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) n = sqlite3_value_double(argv[0]);
    }
    if (!(n >= 0 && n < 65536)) {
        sqlite3_result_null(ctx);
        return;
    }
    const char16_t unit = char16_t(n);
    const std::string text = utf16ToUtf8(std::u16string_view(&unit, 1));
    sqlite3_result_text(ctx, text.data(), int(text.size()), SQLITE_TRANSIENT);
}

// Date and time texts by the moment they name: '2024-02-29T13:45:30.997'
// equals '2024-02-29 13:45:30.9970000', and a date alone is its midnight.
// Texts that do not parse come after those that do, by bytes, so that the
// order stays total.
int compareDateTimes(void*, int na, const void* va, int nb, const void* vb) {
    const std::string_view a(static_cast<const char*>(va), size_t(na));
    const std::string_view b(static_cast<const char*>(vb), size_t(nb));
    DateTimeParts pa, pb;
    const bool parsedA = parseDateTime(a, pa), parsedB = parseDateTime(b, pb);
    if (parsedA != parsedB) return parsedA ? -1 : 1;
    if (!parsedA) return a.compare(b) < 0 ? -1 : a == b ? 0 : 1;
    auto moment = [](const DateTimeParts& p) {
        return std::tie(p.year, p.month, p.day, p.hour, p.minute, p.second, p.fraction);
    };
    return moment(pa) < moment(pb) ? -1 : moment(pb) < moment(pa) ? 1 : 0;
}

// @@TRANCOUNT: SQLite nests no transactions, so 1 inside one, else 0.
void tranCount(sqlite3_context* ctx, int, sqlite3_value**) {
    sqlite3_result_int(ctx, !sqlite3_get_autocommit(sqlite3_context_db_handle(ctx)));
}

// SQL Server's case-insensitive collations: ASCII letters fold as in
// SQLite's NOCASE, and the shorter text compares as if padded with blanks,
// so trailing blanks make no difference ('x' = 'X  ') and 'a\t' sorts before
// 'a'. A total order, as indexes need.
int compareCaseInsensitive(void*, int na, const void* va, int nb, const void* vb) {
    const auto* a = static_cast<const unsigned char*>(va);
    const auto* b = static_cast<const unsigned char*>(vb);
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : int(c); };
    for (int i = 0, n = std::max(na, nb); i < n; ++i) {
        const int ca = fold(i < na ? a[i] : ' ');
        const int cb = fold(i < nb ? b[i] : ' ');
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return 0;
}

// The code point starting at s[i], or -1 when the bytes there are not UTF-8.
long decodeUtf8(const unsigned char* s, int n, int i) {
    unsigned char b = s[i];
    int len = b < 0x80             ? 1
              : (b & 0xE0) == 0xC0 ? 2
              : (b & 0xF0) == 0xE0 ? 3
              : (b & 0xF8) == 0xF0 ? 4
                                   : 0;
    if (len == 0 || i + len > n) return -1;
    long cp = len == 1 ? b : b & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) return -1;
        cp = cp << 6 | (s[i + k] & 0x3F);
    }
    return cp;
}

// SQL Server's _BIN2 collations order texts by UTF-16 code unit, the shorter
// padded with blanks (so 'a' = 'a  ' and 'a' + CHAR(9) < 'a'). UTF-8 bytes
// sort by code point, which agrees except that U+E000..U+FFFF come after
// the surrogate pairs of U+10000 and above in UTF-16. So the texts compare by
// byte up to their first difference, and the two characters there by where
// their UTF-16 code units place them.
int compareUtf16Units(void*, int na, const void* va, int nb, const void* vb) {
    const auto* a = static_cast<const unsigned char*>(va);
    const auto* b = static_cast<const unsigned char*>(vb);
    int n = std::min(na, nb), i = 0;
    while (i < n && a[i] == b[i]) ++i;
    if (i == n) {
        // As SQL Server compares texts: the shorter padded with blanks.
        const unsigned char* rest = na > nb ? a : b;
        const int longer = na > nb ? 1 : -1;
        for (int k = n; k < std::max(na, nb); ++k) {
            if (rest[k] != ' ') return rest[k] < ' ' ? -longer : longer;
        }
        return 0;
    }
    int start = i;  // the first byte of the character that differs
    while (start > 0 && i - start < 3 && (a[start] & 0xC0) == 0x80) --start;
    long ca = decodeUtf8(a, na, start), cb = decodeUtf8(b, nb, start);
    auto unitOrder = [](long cp) { return cp >= 0xE000 && cp <= 0xFFFF ? cp + 0x110000 : cp; };
    if (ca >= 0 && cb >= 0 && ca != cb) return unitOrder(ca) < unitOrder(cb) ? -1 : 1;
    return a[i] < b[i] ? -1 : 1;
}

bool exec(sqlite3* db, const char* sql, std::string& error) {
    char* msg = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
    error = msg ? msg : sqlite3_errmsg(db);
    sqlite3_free(msg);
    return false;
}

}  // namespace

sqlite3* Database::open(std::string& error) const {
    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 10000);
    // A double-quoted word is a name, never a string, as in SQL Server with
    // QUOTED_IDENTIFIER ON: "Bob" names a column or fails (207).
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    // Reads through a memory map (no copy per page; up to SQLite's build
    // limit, 2 GiB in Debian's), and a WAL file that shrinks back after the
    // checkpoint of a big insert.
    if (!exec(db,
              "PRAGMA synchronous=OFF; PRAGMA mmap_size=2147418112; PRAGMA "
              "journal_size_limit=67108864; PRAGMA foreign_keys=ON",
              error)) {
        sqlite3_close(db);
        return nullptr;
    }
    void* self = const_cast<Database*>(this);
    sqlite3_create_function(db, "db_name", 0, SQLITE_UTF8, self, dbName, nullptr, nullptr);
    sqlite3_create_function(db, "getdate", 0, SQLITE_UTF8, self, getDate, nullptr, nullptr);
    sqlite3_create_function(db, "sysdatetime", 0, SQLITE_UTF8, self, getDate, nullptr, nullptr);
    sqlite3_create_function(db, "newid", 0, SQLITE_UTF8, self, newId, nullptr, nullptr);
    sqlite3_create_function(db, "nchar", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, self, ncharOf,
                            nullptr, nullptr);
    sqlite3_create_function(db, kTranCountFunction, 0, SQLITE_UTF8, self, tranCount, nullptr,
                            nullptr);
    registerConversions(db);
    sqlite3_create_collation_v2(db, kCaseInsensitiveCollation, SQLITE_UTF8, nullptr,
                                compareCaseInsensitive, nullptr);
    sqlite3_create_collation_v2(db, kUtf16CodeUnitCollation, SQLITE_UTF8, nullptr,
                                compareUtf16Units, nullptr);
    sqlite3_create_collation_v2(db, kDateTimeValueCollation, SQLITE_UTF8, nullptr, compareDateTimes,
                                nullptr);
    return db;
}

std::vector<TableEntry> Database::tables(sqlite3* db) const {
    std::vector<TableEntry> out = {
        {"sys", "syscolumns", "SYSTEM TABLE"},
        {"sys", "sysobjects", "SYSTEM TABLE"},
        {"sys", "sysusers", "SYSTEM TABLE"},
    };
    sqlite3_stmt* stmt = nullptr;
    const char* sql =
        "SELECT type, name FROM sqlite_schema WHERE type IN ('table','view') AND name NOT LIKE "
        "'sqlite\\_%' ESCAPE '\\'";
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::string type = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            auto [owner, name] =
                splitStoredName(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
            out.push_back({owner, name, type == "view" ? "VIEW" : "TABLE"});
        }
    }
    sqlite3_finalize(stmt);
    std::sort(out.begin(), out.end(), [](const TableEntry& a, const TableEntry& b) {
        if (a.type != b.type) return a.type < b.type;
        if (toLower(a.owner) != toLower(b.owner)) return toLower(a.owner) < toLower(b.owner);
        return toLower(a.name) < toLower(b.name);
    });
    return out;
}

std::set<std::string> Database::schemas(sqlite3* db) const {
    std::set<std::string> out;
    {
        std::lock_guard lock(mutex_);
        out = createdSchemas_;
    }
    sqlite3_stmt* stmt = nullptr;
    const char* sql = "SELECT name FROM sqlite_schema WHERE instr(name, '.') > 1";
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            auto [owner, name] =
                splitStoredName(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
            out.insert(toLower(owner));
        }
    }
    sqlite3_finalize(stmt);
    return out;
}

void Database::addSchema(std::string_view schema) {
    std::lock_guard lock(mutex_);
    createdSchemas_.insert(toLower(schema));
}

bool countRows(sqlite3* db, std::string_view stored, std::optional<int64_t>& count) {
    count.reset();
    sqlite3_stmt* stmt = nullptr;
    const char* find =
        "SELECT name FROM sqlite_schema WHERE type = 'table' AND name = ?1 COLLATE NOCASE";
    if (sqlite3_prepare_v2(db, find, -1, &stmt, nullptr) != SQLITE_OK) return false;
    sqlite3_bind_text(stmt, 1, stored.data(), int(stored.size()), SQLITE_STATIC);
    int rc = sqlite3_step(stmt);
    std::string sql = "SELECT count(*) FROM \"";
    if (rc == SQLITE_ROW) {
        for (const char* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)); *p; ++p) {
            sql += *p;
            if (*p == '"') sql += '"';
        }
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW) return rc == SQLITE_DONE;
    sql += '"';
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) return false;
    rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) count = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return rc == SQLITE_ROW;
}

bool runScript(sqlite3* db, Database& database, std::string_view script, std::string& error) {
    // Drop GO separators, which only client tools understand.
    std::string text;
    std::istringstream lines{std::string(script)};
    for (std::string line; std::getline(lines, line);) {
        std::string t = toLower(line);
        t.erase(std::remove_if(t.begin(), t.end(), [](char c) { return std::isspace(uint8_t(c)); }),
                t.end());
        if (t != "go") text += line + "\n";
    }
    Rewritten rewritten =
        rewriteTsql(text, {database.name(), database.schemas(db), database.caseInsensitive()});
    if (rewritten.refusal) {
        error = rewritten.refusal->text;
        return false;
    }
    const std::string& sql = rewritten.sql;
    for (size_t pos = skipBlank(sql, 0); pos < sql.size(); pos = skipBlank(sql, pos)) {
        std::vector<std::string> words = leadingWords(sql, pos, 3);
        if (!words.empty() && (words[0] == "set" || words[0] == "use" || words[0] == "print")) {
            pos = lineStatementEnd(sql, pos);
            continue;
        }
        if (words.size() >= 3 && words[0] == "create" && words[1] == "schema") {
            database.addSchema(words[2]);
            pos = lineStatementEnd(sql, pos);
            continue;
        }
        sqlite3_stmt* stmt = nullptr;
        const char* tail = nullptr;
        int rc = sqlite3_prepare_v2(db, sql.c_str() + pos, -1, &stmt, &tail);
        if (rc == SQLITE_OK && stmt) {
            while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            }
            if (rc == SQLITE_DONE) rc = SQLITE_OK;
        }
        if (rc != SQLITE_OK) {
            error = std::string(sqlite3_errmsg(db)) + " in: " + sql.substr(pos, 200);
            sqlite3_finalize(stmt);
            return false;
        }
        sqlite3_finalize(stmt);
        pos = tail ? size_t(tail - sql.c_str()) : sql.size();
    }
    return true;
}

std::unique_ptr<Catalog> Catalog::create(const std::vector<DatabaseSource>& sources,
                                         std::string& error) {
    std::unique_ptr<Catalog> catalog(new Catalog);
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/tds-server-XXXXXX";
    if (!mkdtemp(templ.data())) {
        error = "cannot create a temporary folder in " + templ;
        return nullptr;
    }
    catalog->dir_ = templ;
    for (size_t i = 0; i < sources.size(); ++i) {
        const DatabaseSource& source = sources[i];
        if (catalog->find(source.name)) {
            error = "database " + source.name + " given twice";
            return nullptr;
        }
        std::string path = catalog->dir_ + "/db" + std::to_string(i) + ".sqlite";
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK ||
            !exec(db, "PRAGMA journal_mode=WAL", error)) {
            if (error.empty()) error = "cannot create " + path;
            sqlite3_close(db);
            return nullptr;
        }
        sqlite3_close(db);
        catalog->databases_.push_back(std::make_unique<Database>(
            source.name, path, source.caseInsensitive, source.allowsSnapshot));
        Database& database = *catalog->databases_.back();
        for (const std::string& seedFile : source.seedFiles) {
            std::ifstream in(seedFile, std::ios::binary);
            if (!in) {
                error = "cannot read seed file " + seedFile;
                return nullptr;
            }
            std::stringstream buffer;
            buffer << in.rdbuf();
            db = database.open(error);
            if (!db) return nullptr;
            bool ok = runScript(db, database, buffer.str(), error);
            sqlite3_close(db);
            if (!ok) {
                error = seedFile + ": " + error;
                return nullptr;
            }
        }
    }
    return catalog;
}

Catalog::~Catalog() {
    for (const auto& d : databases_) {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            ::unlink((d->path() + suffix).c_str());
    }
    if (!dir_.empty()) ::rmdir(dir_.c_str());
}

std::vector<std::string> Catalog::names() const {
    std::vector<std::string> out;
    for (const auto& d : databases_) out.push_back(d->name());
    return out;
}

Database* Catalog::find(std::string_view name) const {
    for (const auto& d : databases_)
        if (equalsIgnoreCase(d->name(), name)) return d.get();
    return nullptr;
}

}  // namespace tds
