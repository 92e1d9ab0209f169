// The databases the server offers: one SQLite file each, in a private
// temporary folder, shared by every connection (WAL mode, so a long read on
// one connection does not block writers on another).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace tds {

struct DatabaseSource {
    std::string name;
    // Scripts run in turn on the one database (a later one sees what the
    // earlier made); none: an empty database.
    std::vector<std::string> seedFiles;
    // Text columns of its tables compare without case (--collation ci).
    bool caseInsensitive = false;
    // ALLOW_SNAPSHOT_ISOLATION ON (--snapshot-isolation): off, as SQL Server
    // creates a database.
    bool allowsSnapshot = false;
};

struct TableEntry {
    std::string owner;
    std::string name;
    std::string type;  // "TABLE", "VIEW" or "SYSTEM TABLE"
};

class Database {
public:
    Database(std::string name, std::string path, bool caseInsensitive, bool allowsSnapshot)
        : name_(std::move(name)),
          path_(std::move(path)),
          caseInsensitive_(caseInsensitive),
          allowsSnapshot_(allowsSnapshot) {}

    const std::string& name() const { return name_; }
    const std::string& path() const { return path_; }
    bool caseInsensitive() const { return caseInsensitive_; }
    bool allowsSnapshot() const { return allowsSnapshot_; }

    // A new connection for one session; nullptr and a message on failure.
    sqlite3* open(std::string& error) const;
    // User tables and views plus a few system tables, sorted as sp_tables sorts.
    std::vector<TableEntry> tables(sqlite3* db) const;
    // Schemas other than dbo (lower case): those holding objects and those created.
    std::set<std::string> schemas(sqlite3* db) const;
    void addSchema(std::string_view schema);

private:
    std::string name_;
    std::string path_;
    bool caseInsensitive_;
    bool allowsSnapshot_;
    mutable std::mutex mutex_;
    std::set<std::string> createdSchemas_;
};

class Catalog {
public:
    // Creates every database and runs its seed scripts; nullptr and a message
    // naming the script on failure (an unreadable seed, an SQL error in it).
    static std::unique_ptr<Catalog> create(const std::vector<DatabaseSource>& sources,
                                           std::string& error);
    ~Catalog();

    Database* find(std::string_view name) const;  // case-insensitive
    Database* first() const { return databases_.empty() ? nullptr : databases_.front().get(); }
    // Every database's name, in the order of the command line.
    std::vector<std::string> names() const;

private:
    Catalog() = default;
    std::string dir_;
    std::vector<std::unique_ptr<Database>> databases_;
};

// The rows of the stored table (its name matched without case, as SQLite
// matches names); nothing when there is no such table, a view included.
// False on an SQLite error, which sqlite3_errmsg then tells.
bool countRows(sqlite3* db, std::string_view stored, std::optional<int64_t>& count);

// Runs a script of statements without results (seeds): T-SQL is rewritten as
// for sessions, lines holding only GO are ignored. False and a message on error.
bool runScript(sqlite3* db, Database& database, std::string_view script, std::string& error);

}  // namespace tds
