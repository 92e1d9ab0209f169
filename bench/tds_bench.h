// What the benchmarks against the TDS test server share: starting a private
// server, a plain ODBC connection to it, and the seed of the big tables that
// the README's "TDS test server" section documents. Plain ODBC C API, no Qt.

#pragma once

#include <signal.h>
#include <spawn.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tdsbench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU seconds (user + system) a process has used so far; 0 when unknown.
inline double processCpuSeconds(pid_t pid) {
    if (pid <= 0) return 0;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int k = 3; k <= 15 && fields >> field; ++k) {
        if (k == 14) utime = std::stoull(field);
        if (k == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// The median of the measurements; 0 for none.
inline double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// A number of rows as the benchmarks write it: 100k, 1M.
inline std::string sizeName(long n) {
    if (n % 1'000'000 == 0) return std::to_string(n / 1'000'000) + "M";
    if (n % 1000 == 0) return std::to_string(n / 1000) + "k";
    return std::to_string(n);
}

// A number of rows as given on a command line: digits with k or M after them.
inline long parseSize(std::string s) {
    long factor = 1;
    if (!s.empty() && (s.back() == 'k' || s.back() == 'K')) factor = 1000;
    if (!s.empty() && (s.back() == 'm' || s.back() == 'M')) factor = 1'000'000;
    if (factor != 1) s.pop_back();
    size_t used = 0;
    const long n = std::stol(s, &used);
    if (used != s.size() || n < 1) throw std::invalid_argument(s);
    return n * factor;
}

// --- the server ----------------------------------------------------------------

// The TDS test server on a free loopback port, with the login tester:secret
// and the given databases (the first is the default); stopped at destruction.
class Server {
public:
    // options: more of the server's own (--bandwidth N).
    Server(const std::string& binary, const std::vector<std::string>& databases,
           const std::vector<std::string>& options = {}) {
        int out[2];
        if (::pipe(out) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        std::vector<std::string> args = {binary, "--port", "0", "--user", "tester:secret"};
        args.insert(args.end(), options.begin(), options.end());
        for (const std::string& d : databases) {
            args.push_back("--database");
            args.push_back(d);
        }
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int spawned = posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        if (spawned != 0) {
            ::close(out[0]);
            throw std::runtime_error("cannot start " + binary);
        }
        FILE* f = ::fdopen(out[0], "r");
        if (std::fscanf(f, "PORT %d", &port_) != 1) {
            std::fclose(f);
            stop();
            throw std::runtime_error("the server printed no PORT line");
        }
        std::fclose(f);
    }
    ~Server() { stop(); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    int port() const { return port_; }
    pid_t pid() const { return pid_; }

private:
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

    pid_t pid_ = 0;
    int port_ = 0;
};

// --- the command ------------------------------------------------------------------

// One run of the program's command as a child process: wall time, its CPU
// time and its peak resident memory (the whole process, sampled every 10 ms).
struct CommandRun {
    double wall = 0;
    double cpu = 0;
    double peakMB = 0;
    int status = -1;
};

// `program compare ARGS` against the server on port, database benchdb.
inline CommandRun runDorvantis(const std::string& program, int port,
                               const std::vector<std::string>& compareArgs) {
    std::vector<std::string> args = {program, "compare"};
    args.insert(args.end(), compareArgs.begin(), compareArgs.end());
    for (const char* a : {"--server", "127.0.0.1", "--user", "tester", "--database", "benchdb"}) {
        args.emplace_back(a);
    }
    args.insert(args.end(), {"--port", std::to_string(port)});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::setenv("DORVANTIS_PASSWORD", "secret", 1);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("the command could not be started");
    }
    // The child's own high-water mark, read from /proc while it runs: its
    // ru_maxrss would be this process's, kept across the exec.
    double peakKB = 0;
    int status = 0;
    rusage usage{};
    for (;;) {
        std::ifstream proc("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(proc, line);) {
            if (line.rfind("VmHWM:", 0) == 0) peakKB = std::max(peakKB, std::stod(line.substr(6)));
        }
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) break;
        if (done < 0) throw std::runtime_error("wait4 failed");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    CommandRun r;
    r.wall = secondsSince(start);
    r.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.peakMB = peakKB / 1024.0;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// --- ODBC ------------------------------------------------------------------------

inline std::string diagnostics(SQLSMALLINT type, SQLHANDLE h) {
    std::string out;
    SQLCHAR state[6], text[1024];
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    for (SQLSMALLINT i = 1;
         SQLGetDiagRec(type, h, i, state, &native, text, sizeof text, &len) == SQL_SUCCESS; ++i) {
        out += std::string(" [") + reinterpret_cast<char*>(state) + "/" + std::to_string(native) +
               "] " + reinterpret_cast<char*>(text);
    }
    return out;
}

inline void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE h, const char* what) {
    if (!SQL_SUCCEEDED(rc))
        throw std::runtime_error(std::string(what) + " failed:" + diagnostics(type, h));
}

// UTF-8 -> UTF-16 (valid input assumed: the benchmark's own statements).
inline std::u16string utf16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        const int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        char32_t cp = extra == 0 ? b : extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
        for (int k = 1; k <= extra && i + size_t(k) < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + size_t(k)]) & 0x3F);
        i += size_t(extra) + 1;
        if (cp >= 0x10000) {
            out += char16_t(0xD800 + ((cp - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

// One connection of its own environment, as tester:secret to a database of
// the server on the port.
class Connection {
public:
    explicit Connection(int port, const std::string& database = "benchdb") {
        check(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_HANDLE_ENV, env_,
              "SQLAllocHandle(ENV)");
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        check(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_HANDLE_ENV, env_,
              "SQLAllocHandle(DBC)");
        SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(10), 0);
        std::string cs = "Driver={SQL Server};Server=127.0.0.1," + std::to_string(port) +
                         ";Database=" + database + ";Uid=tester;Pwd=secret;TDS_Version=7.4;";
        const SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(cs.data()),
                                              SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(rc)) {
            const std::string why = diagnostics(SQL_HANDLE_DBC, dbc_);
            free();
            throw std::runtime_error("SQLDriverConnect failed:" + why);
        }
    }
    ~Connection() {
        SQLDisconnect(dbc_);
        free();
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    SQLHDBC dbc() const { return dbc_; }

    // Runs a batch (UTF-8, sent as UTF-16 through the wide call, as the
    // program sends text) and consumes every result it gives.
    void execute(const std::string& sql) {
        std::u16string wide = utf16(sql);
        SQLHSTMT st = SQL_NULL_HSTMT;
        check(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st), SQL_HANDLE_DBC, dbc_,
              "SQLAllocHandle(STMT)");
        try {
            SQLRETURN rc = SQLExecDirectW(st, reinterpret_cast<SQLWCHAR*>(wide.data()),
                                          SQLINTEGER(wide.size()));
            if (rc != SQL_NO_DATA) check(rc, SQL_HANDLE_STMT, st, "SQLExecDirect");
            while (SQL_SUCCEEDED(rc = SQLMoreResults(st))) {
            }
            if (rc != SQL_NO_DATA) check(rc, SQL_HANDLE_STMT, st, "SQLMoreResults");
        } catch (...) {
            SQLFreeHandle(SQL_HANDLE_STMT, st);
            throw;
        }
        SQLFreeHandle(SQL_HANDLE_STMT, st);
    }

private:
    void free() {
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }

    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
};

// --- the tables ------------------------------------------------------------------

// How the `amount` column of a seeded table differs from the first table's.
enum class Amount {
    Same,             // the first table
    OnePercent,       // + 1 where x % 100 = 37 (never a NULL row)
    EveryRow,         // + 1 in every row, and no NULL: every record differs in this field
    HundredTogether,  // + 1 in the 100 records after the middle one
    HundredApart,     // + 1 in 100 records spread evenly (x % (rows / 100) = 37)
};

// The seed of the README ("Big tables for benchmarks"): row x of 1..rows is a
// formula of x, each column but `id` NULL where x % 1000 is its own remainder
// 1..7.
// primaryKey: id is the table's primary key (for comparisons by key).
inline std::string seedSql(const std::string& table, long rows, Amount amount,
                           bool primaryKey = false) {
    const std::string n = std::to_string(rows);
    const std::string amountValue = "(x * 7919 % 100000000) / 10000.0";
    std::string changed;
    if (amount == Amount::OnePercent) changed = " + (x % 100 = 37)";
    if (amount == Amount::HundredTogether) {
        changed = " + (x > " + std::to_string(rows / 2) +
                  " and x <= " + std::to_string(rows / 2 + 100) + ")";
    }
    if (amount == Amount::HundredApart) {
        changed = " + (x % " + std::to_string(std::max(rows / 100, 1L)) + " = 37)";
    }
    const std::string amountColumn =
        amount == Amount::EveryRow
            ? amountValue + " + 1"
            : "case when x % 1000 = 2 then null else " + amountValue + changed + " end";
    return "create table [" + table + "] (id int not null" + (primaryKey ? " primary key" : "") +
           ", big bigint, amount decimal(18,4), ratio float, stamp datetime, "
           "name nvarchar(40), note varchar(200), flag bit);\n"
           "with recursive c(x) as (select 1 union all select x + 1 from c where x < " +
           n +
           ")\n"
           "insert into [" +
           table +
           "] select x,\n"
           "  case when x % 1000 = 1 then null else x * 2654435761 end,\n"
           "  " +
           amountColumn +
           ",\n"
           "  case when x % 1000 = 3 then null else x / 1024.0 end,\n"
           "  case when x % 1000 = 4 then null else strftime('%Y-%m-%d %H:%M:%f', 1577836800 + x * "
           "60.5, 'unixepoch') end,\n"
           "  case when x % 1000 = 5 then null when x % 10 = 0 then 'J\xC3\xBCrgen ' || x else "
           "'Customer ' || x end,\n"
           "  case when x % 1000 = 6 then null else substr('The quick brown fox jumps over the "
           "lazy dog while five "
           "boxing wizards jump quickly and a sphinx of black quartz judges my vow', 1 + x % 17, "
           "20 + x % 61) "
           "|| ' #' || x end,\n"
           "  case when x % 1000 = 7 then null else x % 3 = 0 end\n"
           "from c";
}

// NULLs the seed puts into a table of `rows` rows (x % 1000 = 1..7), the
// columns given by their remainders left out.
inline long expectedNulls(long rows, const std::vector<int>& withoutNulls = {}) {
    long n = 0;
    for (int k = 1; k <= 7; ++k) {
        if (std::find(withoutNulls.begin(), withoutNulls.end(), k) != withoutNulls.end()) continue;
        n += rows / 1000 + (rows % 1000 >= k ? 1 : 0);
    }
    return n;
}

// The Threading level of the driver entry "SQL Server", as unixODBC reads it
// from $ODBCSYSINI/odbcinst.ini.
inline std::string threadingLevel() {
    const char* dir = std::getenv("ODBCSYSINI");
    std::ifstream in(std::string(dir ? dir : "/etc") + "/odbcinst.ini");
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            inSection = line.rfind("[SQL Server]", 0) == 0;
            continue;
        }
        if (!inSection) continue;
        std::string key = line.substr(0, line.find('='));
        key.erase(std::remove(key.begin(), key.end(), ' '), key.end());
        if (key == "Threading") return line.substr(line.find('=') + 1);
    }
    return "not set (unixODBC 2.3.1 and later default to level 0: no lock around driver calls)";
}

}  // namespace tdsbench
