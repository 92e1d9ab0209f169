// How fast the TDS test server streams a wide table to FreeTDS: rows per
// second of `select * from [T]` read with bound columns in blocks, on one
// connection and on two connections at once (one thread each), as the
// comparison reads its two tables. Plain ODBC C API, run by hand:
//
//   tds_server_throughput [--rows N] [--block ROWS] [--repeat K]
//                         [--port P [--no-seed]] [--server PATH]
//
// Without --port it starts its own server (tester:secret, database benchdb)
// and seeds the two tables bench_a (N rows) and bench_b (N + 100 rows, 1 % of
// `amount` changed) inside the server, with the statement that the README's
// "TDS test server" section documents. ODBCSYSINI defaults to the build's
// private driver registration.

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tds_bench.h"

namespace {

using namespace tdsbench;

// --- reading ---------------------------------------------------------------------

struct ReadResult {
    long rows = 0;
    long nulls = 0;  // NULL values in all columns
    double seconds = 0;
    double cpuSeconds = 0;  // of the reading thread: the client's share
    std::string error;
};

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Row 10 of either table, every column as the seed's formulas give it.
template <typename Bound>
std::string checkRowTen(const std::vector<Bound>& cols, SQLULEN k) {
    auto at = [&](size_t c) { return cols[c].data.data() + size_t(cols[c].width) * k; };
    auto wide = [&](size_t c) {
        return std::u16string(reinterpret_cast<const char16_t*>(at(c)), size_t(cols[c].ind[k]) / 2);
    };
    int64_t big;
    double ratio;
    std::memcpy(&big, at(1), 8);
    std::memcpy(&ratio, at(3), 8);
    SQL_TIMESTAMP_STRUCT ts;
    std::memcpy(&ts, at(4), sizeof ts);
    const bool ok = big == 26544357610 && std::string(at(2)) == "7.9190" && ratio == 10 / 1024.0 &&
                    ts.year == 2020 && ts.month == 1 && ts.day == 1 && ts.hour == 0 &&
                    ts.minute == 10 && ts.second == 5 && ts.fraction == 0 &&
                    wide(5) == u"J\u00fcrgen 10" &&
                    wide(6) == u"brown fox jumps over the lazy  #10" && *at(7) == 0;
    return ok ? std::string() : "row 10 does not hold the values of the seed";
}

// select * with every column bound as the program binds it, in blocks.
ReadResult readTable(Connection& c, const std::string& table, SQLULEN block) {
    ReadResult r;
    SQLHSTMT st = SQL_NULL_HSTMT;
    try {
        check(SQLAllocHandle(SQL_HANDLE_STMT, c.dbc(), &st), SQL_HANDLE_DBC, c.dbc(),
              "SQLAllocHandle(STMT)");
        struct Bound {
            SQLSMALLINT cType;
            SQLLEN width;
            std::vector<char> data;
            std::vector<SQLLEN> ind;
        };
        std::vector<Bound> cols = {
            {SQL_C_SBIGINT, 8, {}, {}},                                    // id
            {SQL_C_SBIGINT, 8, {}, {}},                                    // big
            {SQL_C_CHAR, 48, {}, {}},                                      // amount: exact text
            {SQL_C_DOUBLE, 8, {}, {}},                                     // ratio
            {SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT), {}, {}},  // stamp
            {SQL_C_WCHAR, 41 * 2, {}, {}},                                 // name
            {SQL_C_WCHAR, 201 * 2, {}, {}},                                // note
            {SQL_C_BIT, 1, {}, {}},                                        // flag
        };
        SQLULEN fetched = 0;
        std::vector<SQLUSMALLINT> status(block);
        auto attr = [&](SQLINTEGER a, SQLPOINTER v, const char* what) {
            check(SQLSetStmtAttr(st, a, v, 0), SQL_HANDLE_STMT, st, what);
        };
        attr(SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN),
             "SQL_ATTR_ROW_BIND_TYPE");
        attr(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(block),
             "SQL_ATTR_ROW_ARRAY_SIZE");
        attr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched, "SQL_ATTR_ROWS_FETCHED_PTR");
        attr(SQL_ATTR_ROW_STATUS_PTR, status.data(), "SQL_ATTR_ROW_STATUS_PTR");
        for (size_t i = 0; i < cols.size(); ++i) {
            Bound& b = cols[i];
            b.data.resize(size_t(b.width) * block);
            b.ind.resize(block);
            check(
                SQLBindCol(st, SQLUSMALLINT(i + 1), b.cType, b.data.data(), b.width, b.ind.data()),
                SQL_HANDLE_STMT, st, "SQLBindCol");
        }
        const std::string sql = "select * from [" + table + "]";
        auto start = Clock::now();
        const double cpuStart = threadCpuSeconds();
        check(
            SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS),
            SQL_HANDLE_STMT, st, "SQLExecDirect");
        SQLSMALLINT ncols = 0;
        SQLNumResultCols(st, &ncols);
        if (ncols != SQLSMALLINT(cols.size()))
            throw std::runtime_error(table + " has " + std::to_string(ncols) + " columns, not 8");
        SQLRETURN rc;
        while (SQL_SUCCEEDED(rc = SQLFetch(st))) {
            for (SQLULEN k = 0; k < fetched; ++k) {
                for (const Bound& b : cols) r.nulls += b.ind[k] == SQL_NULL_DATA;
                // The first column is the row number: check the order too.
                int64_t id;
                std::memcpy(&id, cols[0].data.data() + 8 * k, 8);
                if (id != r.rows + 1 && r.error.empty())
                    r.error = "row " + std::to_string(r.rows + 1) + " has id " + std::to_string(id);
                if (id == 10 && r.error.empty()) r.error = checkRowTen(cols, k);
                ++r.rows;
            }
        }
        if (rc != SQL_NO_DATA) check(rc, SQL_HANDLE_STMT, st, "SQLFetch");
        r.seconds = secondsSince(start);
        r.cpuSeconds = threadCpuSeconds() - cpuStart;
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    if (st != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, st);
    return r;
}

void verify(const ReadResult& r, long rows, const std::string& table) {
    if (!r.error.empty()) throw std::runtime_error(table + ": " + r.error);
    if (r.rows != rows)
        throw std::runtime_error(table + ": " + std::to_string(r.rows) + " rows, not " +
                                 std::to_string(rows));
    if (r.nulls != expectedNulls(rows))
        throw std::runtime_error(table + ": " + std::to_string(r.nulls) + " NULLs, not " +
                                 std::to_string(expectedNulls(rows)));
}

void usage() {
    std::fprintf(stderr,
                 "usage: tds_server_throughput [--rows N] [--block ROWS] [--repeat K] [--port P "
                 "[--no-seed]] "
                 "[--server PATH]\n");
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("ODBCSYSINI", DORVANTIS_BENCH_ODBCSYSINI, 0);
    long rows = 1'000'000;
    SQLULEN block = 1000;
    int repeat = 3;
    int port = 0;
    bool seed = true;
    std::string serverBinary = DORVANTIS_TDS_SERVER;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--rows")
            rows = std::stol(value());
        else if (a == "--block")
            block = std::stoul(value());
        else if (a == "--repeat")
            repeat = std::stoi(value());
        else if (a == "--port")
            port = std::stoi(value());
        else if (a == "--no-seed")
            seed = false;
        else if (a == "--server")
            serverBinary = value();
        else {
            usage();
            return 2;
        }
    }
    if (rows < 1 || block < 1 || repeat < 1) {
        usage();
        return 2;
    }
    try {
        std::unique_ptr<Server> server;
        if (port == 0) {
            server = std::make_unique<Server>(serverBinary, std::vector<std::string>{"benchdb"});
            port = server->port();
            std::printf("server: %s, pid %d, port %d\n", serverBinary.c_str(), int(server->pid()),
                        port);
        } else {
            std::printf("server: the one on port %d\n", port);
        }
        std::printf("driver entry [SQL Server] in %s/odbcinst.ini: Threading = %s\n",
                    std::getenv("ODBCSYSINI"), threadingLevel().c_str());
        const std::string a = "bench_a", b = "bench_b";
        if (seed) {
            Connection c(port);
            for (const auto& [table, n, amount] : {std::tuple{a, rows, Amount::Same},
                                                   std::tuple{b, rows + 100, Amount::OnePercent}}) {
                auto start = Clock::now();
                c.execute(seedSql(table, n, amount));
                std::printf("seed %s: %ld rows in %.2f s\n", table.c_str(), n, secondsSince(start));
                std::fflush(stdout);
            }
        }

        // The server's CPU time is known when the benchmark started it: rows
        // per server CPU second is what the server could serve on one core of
        // its own, however busy the machine is.
        const pid_t serverPid = server ? server->pid() : 0;
        auto serverShare = [&](double cpu, long n) {
            if (!serverPid) return std::string();
            if (cpu < 0.05) return std::string(" (server CPU time too short to tell)");
            return " (server " + std::to_string(long(n / cpu)) + " rows per CPU s)";
        };
        // How many of the machine's cores the readers and the server kept
        // busy: all of them means the machine, not a lock, is the limit.
        auto coresUsed = [&](double client, double serverCpu, double wall) {
            if (!serverPid) return std::string();
            char text[96];
            std::snprintf(text, sizeof text, "; %.2f of %u cores busy", (client + serverCpu) / wall,
                          std::thread::hardware_concurrency());
            return std::string(text);
        };
        std::vector<double> single;
        for (int k = 0; k < repeat; ++k) {
            Connection c(port);
            const double serverCpu = processCpuSeconds(serverPid);
            ReadResult r = readTable(c, a, block);
            const double serverUsed = processCpuSeconds(serverPid) - serverCpu;
            verify(r, rows, a);
            single.push_back(r.rows / r.seconds);
            std::printf(
                "one connection, run %d: %ld rows in %.3f s = %.0f rows/s; client %.0f rows per "
                "CPU s%s%s\n",
                k + 1, r.rows, r.seconds, r.rows / r.seconds, r.rows / r.cpuSeconds,
                serverShare(serverUsed, r.rows).c_str(),
                coresUsed(r.cpuSeconds, serverUsed, r.seconds).c_str());
            std::fflush(stdout);
        }

        std::vector<double> pairTotals;
        for (int k = 0; k < repeat; ++k) {
            Connection ca(port), cb(port);
            ReadResult ra, rb;
            std::atomic<int> ready{0};
            auto run = [&](Connection& c, const std::string& table, ReadResult& out) {
                ++ready;
                while (ready.load() < 2) {
                }
                out = readTable(c, table, block);
            };
            const double serverCpu = processCpuSeconds(serverPid);
            auto start = Clock::now();
            std::thread ta(run, std::ref(ca), a, std::ref(ra));
            std::thread tb(run, std::ref(cb), b, std::ref(rb));
            ta.join();
            tb.join();
            double wall = secondsSince(start);
            const double serverUsed = processCpuSeconds(serverPid) - serverCpu;
            verify(ra, rows, a);
            verify(rb, rows + 100, b);
            pairTotals.push_back((ra.rows + rb.rows) / wall);
            std::printf(
                "two connections, run %d: %s %.0f rows/s, %s %.0f rows/s, together %.0f rows/s in "
                "%.3f s%s%s\n",
                k + 1, a.c_str(), ra.rows / ra.seconds, b.c_str(), rb.rows / rb.seconds,
                (ra.rows + rb.rows) / wall, wall,
                serverShare(serverUsed, ra.rows + rb.rows).c_str(),
                coresUsed(ra.cpuSeconds + rb.cpuSeconds, serverUsed, wall).c_str());
            std::fflush(stdout);
        }
        std::printf(
            "best: one connection %.0f rows/s; two connections together %.0f rows/s (%.0f each)\n",
            *std::max_element(single.begin(), single.end()),
            *std::max_element(pairTotals.begin(), pairTotals.end()),
            *std::max_element(pairTotals.begin(), pairTotals.end()) / 2);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tds_server_throughput: %s\n", e.what());
        return 1;
    }
    return 0;
}
