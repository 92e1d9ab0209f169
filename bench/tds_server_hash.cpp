// How fast the TDS test server hashes rows for the checksum method: rows
// per second of the segment query (COUNT_BIG and two sums of slices of
// HASHBYTES('SHA2_256', ...) over the row encoding) on a narrow table of an
// int key, an int, a decimal and an nvarchar(40), as one segment of the
// whole table and as segments of 250,000 keys. Plain ODBC C API, run by hand:
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

std::string segmentQuery(long lo, long hi) {
    return "select count_big(*), sum(cast(cast(substring(h, 1, 4) as int) as bigint)), "
           "sum(cast(cast(substring(h, 5, 4) as int) as bigint)) from (select "
           "hashbytes('SHA2_256', cast(0x as varbinary(max))" +
           field("k", "cast(cast([k] as bigint) as binary(8))") +
           field("n", "cast(cast([n] as bigint) as binary(8))") +
           field("amount",
                 "cast(convert(varchar(41), cast([amount] as decimal(38, 4))) as varbinary(41)) "
                 "+ 0x00") +
           field("name",
                 "cast(datalength(cast([name] as nvarchar(max))) as binary(4)) + "
                 "cast(cast([name] as nvarchar(max)) as varbinary(max))") +
           ") as h from [dbo].[hashed] where ([k] > " + std::to_string(lo) +
           " and [k] <= " + std::to_string(hi) + ") and (1 = 1)) as [s]";
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
        std::printf("seed: %ld rows in %.2f s\n", rows, secondsSince(start));
        const long step = 250'000;
        for (int k = 0; k < repeat; ++k) {
            // The server's CPU time too: rows per CPU second is what one
            // core of its own would hash, however busy the machine is.
            const double cpu = processCpuSeconds(server.pid());
            start = Clock::now();
            const long whole = countOf(c, segmentQuery(0, rows));
            const double wholeSeconds = secondsSince(start);
            const double wholeCpu = processCpuSeconds(server.pid()) - cpu;
            start = Clock::now();
            long segmented = 0;
            for (long lo = 0; lo < rows; lo += step)
                segmented += countOf(c, segmentQuery(lo, lo + step));
            const double segmentSeconds = secondsSince(start);
            if (whole != rows || segmented != rows)
                throw std::runtime_error("counted " + std::to_string(whole) + " and " +
                                         std::to_string(segmented) + " rows, not " +
                                         std::to_string(rows));
            std::printf(
                "run %d: one segment %.0f rows hashed/s (server %.0f rows per CPU s); "
                "segments of %ld: %.0f rows/s\n",
                k + 1, rows / wholeSeconds, wholeCpu > 0 ? rows / wholeCpu : 0.0, step,
                rows / segmentSeconds);
            std::fflush(stdout);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tds_server_hash: %s\n", e.what());
        return 1;
    }
    return 0;
}
