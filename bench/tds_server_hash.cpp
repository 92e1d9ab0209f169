// How fast the TDS test server hashes rows for the checksum method: rows
// per second of the segment query (COUNT_BIG and two sums of slices of
// HASHBYTES('SHA2_256', ...) over the row encoding), as one segment of the
// whole table and as segments of 250,000 keys, on a narrow table of an int
// key, an int, a decimal and an nvarchar(40), and on the benchmark table of
// tds_bench.h (all its eight types, NULLs in some rows). Plain ODBC C API,
// run by hand:
//
//   tds_server_hash [--rows N] [--repeat K] [--server PATH]
//
// It starts its own server (tester:secret, database benchdb) and seeds the
// table inside it.

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tds_bench.h"

namespace {

using namespace tdsbench;

// The encoding of one column, as the checksum method writes it.
std::string field(const std::string& column, const std::string& typed) {
    return " + case when [" + column + "] is null then 0x00 else 0x01 + " + typed + " end";
}

std::string integer(const std::string& c) {
    return field(c, "cast(cast([" + c + "] as bigint) as binary(8))");
}
std::string decimal(const std::string& c) {
    return field(c, "cast(convert(varchar(41), cast([" + c +
                        "] as decimal(38, 4))) as varbinary(41)) + 0x00");
}
std::string text(const std::string& c) {
    return field(c, "cast(datalength(cast([" + c +
                        "] as nvarchar(max))) as binary(4)) + cast(cast([" + c +
                        "] as nvarchar(max)) as varbinary(max))");
}

// A table to hash: its name, its key column and its row encoding.
struct Hashed {
    std::string table, key, encoding;
};

const Hashed kNarrow = {"hashed", "k",
                        integer("k") + integer("n") + decimal("amount") + text("name")};
const Hashed kBench = {
    "bench_a", "id",
    integer("id") + integer("big") + decimal("amount") +
        field("ratio", "cast(cast([ratio] as float) as binary(8))") +
        field("stamp",
              "cast(convert(varchar(27), cast([stamp] as datetime2(7)), 121) as varbinary(27)) + "
              "0x00") +
        text("name") + text("note") + integer("flag")};

std::string segmentQuery(const Hashed& h, long lo, long hi) {
    return "select count_big(*), sum(cast(cast(substring(h, 1, 4) as int) as bigint)), "
           "sum(cast(cast(substring(h, 5, 4) as int) as bigint)) from (select "
           "hashbytes('SHA2_256', cast(0x as varbinary(max))" +
           h.encoding + ") as h from [dbo].[" + h.table + "] where ([" + h.key +
           "] is not null and [" + h.key + "] > " + std::to_string(lo) + " and [" + h.key +
           "] <= " + std::to_string(hi) + ")) as [s]";
}

// The first column of the one row the query gives: the rows it counted.
long countOf(Connection& c, const std::string& sql) {
    std::u16string wide = utf16(sql);
    SQLHSTMT st = SQL_NULL_HSTMT;
    check(SQLAllocHandle(SQL_HANDLE_STMT, c.dbc(), &st), SQL_HANDLE_DBC, c.dbc(),
          "SQLAllocHandle(STMT)");
    SQLBIGINT count = 0;
    SQLLEN ind = 0;
    SQLRETURN rc =
        SQLExecDirectW(st, reinterpret_cast<SQLWCHAR*>(wide.data()), SQLINTEGER(wide.size()));
    if (SQL_SUCCEEDED(rc)) rc = SQLFetch(st);
    if (SQL_SUCCEEDED(rc)) rc = SQLGetData(st, 1, SQL_C_SBIGINT, &count, 0, &ind);
    const std::string why = SQL_SUCCEEDED(rc) ? "" : diagnostics(SQL_HANDLE_STMT, st);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    if (!why.empty()) throw std::runtime_error("segment query failed:" + why);
    return long(count);
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("ODBCSYSINI", DORVANTIS_BENCH_ODBCSYSINI, 0);
    long rows = 1'000'000;
    int repeat = 3;
    std::string serverBinary = DORVANTIS_TDS_SERVER;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i], v = argv[i + 1];
        if (a == "--rows")
            rows = std::stol(v);
        else if (a == "--repeat")
            repeat = std::stoi(v);
        else if (a == "--server")
            serverBinary = v;
    }
    try {
        Server server(serverBinary, {"benchdb"});
        Connection c(server.port());
        auto start = Clock::now();
        c.execute(
            "create table hashed (k int not null primary key, n int, amount decimal(18,4), "
            "name nvarchar(40));\n"
            "with recursive s(x) as (select 1 union all select x + 1 from s where x < " +
            std::to_string(rows) +
            ")\ninsert into hashed select x, case when x % 100 = 1 then null else x * 7 end, "
            "(x * 7919 % 100000000) / 10000.0, 'Customer ' || x from s");
        c.execute(seedSql(kBench.table, rows, Amount::Same, true));
        std::printf("seed: %ld rows of each table in %.2f s\n", rows, secondsSince(start));
        const long step = 250'000;
        for (int k = 0; k < repeat; ++k) {
            for (const Hashed* h : {&kNarrow, &kBench}) {
                // The server's CPU time too: rows per CPU second is what one
                // core of its own would hash, however busy the machine is.
                const double cpu = processCpuSeconds(server.pid());
                start = Clock::now();
                const long whole = countOf(c, segmentQuery(*h, 0, rows));
                const double wholeSeconds = secondsSince(start);
                const double wholeCpu = processCpuSeconds(server.pid()) - cpu;
                start = Clock::now();
                long segmented = 0;
                for (long lo = 0; lo < rows; lo += step)
                    segmented += countOf(c, segmentQuery(*h, lo, lo + step));
                const double segmentSeconds = secondsSince(start);
                if (whole != rows || segmented != rows)
                    throw std::runtime_error("counted " + std::to_string(whole) + " and " +
                                             std::to_string(segmented) + " rows, not " +
                                             std::to_string(rows));
                std::printf(
                    "run %d, %s: one segment %.0f rows hashed/s (server %.0f rows per CPU s); "
                    "segments of %ld: %.0f rows/s\n",
                    k + 1, h->table.c_str(), rows / wholeSeconds,
                    wholeCpu > 0 ? rows / wholeCpu : 0.0, step, rows / segmentSeconds);
                std::fflush(stdout);
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tds_server_hash: %s\n", e.what());
        return 1;
    }
    return 0;
}
