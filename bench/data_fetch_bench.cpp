// FetchQuery of a whole table from the TDS test server: rows per second, and
// the bytes the result holds per row and the most allocated during a fetch.

#include <benchmark/benchmark.h>

#include <QStringList>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "DataAccess.h"
#include "tds_bench.h"

namespace {

// Every operator new of the process, counted: the result's storage is all
// vectors, so this is its exact footprint (the driver's own mallocs aside).
std::atomic<long long> g_live{0}, g_peak{0};

void noteAlloc(std::size_t n) {
    const long long now = g_live += static_cast<long long>(n);
    long long peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}

}  // namespace

void* operator new(std::size_t n) {
    void* p = std::malloc(n + 16);
    if (!p) throw std::bad_alloc();
    *static_cast<std::size_t*>(p) = n;
    noteAlloc(n);
    return static_cast<char*>(p) + 16;
}
void operator delete(void* p) noexcept {
    if (!p) return;
    char* base = static_cast<char*>(p) - 16;
    g_live -= static_cast<long long>(*reinterpret_cast<std::size_t*>(base));
    std::free(base);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

constexpr int kRows = 1'000'000;

std::unique_ptr<data::Connection> connect(const tdsbench::Server& s) {
    auto c = data::OdbcDataAccess().CreateConnection();
    c->Open(QStringLiteral("Driver={SQL Server};Server=127.0.0.1,%1;Database=benchdb;Uid=tester;"
                           "Pwd=secret;")
                .arg(s.port()));
    return c;
}

void fill(data::Connection& c) {
    c.Execute(
        "create table bench (id int, name nvarchar(30), amount decimal(12,2), "
        "ratio float, stamp datetime2, flag bit)");
    for (int start = 0; start < kRows; start += 1000) {
        QStringList values;
        for (int i = start; i < start + 1000; ++i) {
            values << QStringLiteral("(%1, N'customer %1', %2.50, %3, '2024-01-%4 10:00:00', %5)")
                          .arg(i)
                          .arg(i % 100000)
                          .arg(i * 0.001)
                          .arg(i % 28 + 1, 2, 10, QChar(u'0'))
                          .arg(i % 2);
        }
        c.Execute("insert into bench values " + values.join(u','));
    }
}

void BM_FetchWholeTable(benchmark::State& state) {
    static tdsbench::Server server(DORVANTIS_TDS_SERVER, {"benchdb"});
    static const bool filled = [] {
        auto c = connect(server);
        fill(*c);
        return true;
    }();
    (void)filled;
    auto conn = connect(server);
    std::size_t rows = 0;
    long long held = 0, peak = 0;
    for (auto _ : state) {
        const long long before = g_live.load();
        g_peak = before;
        data::ResultTable t = conn->FetchQuery("select * from bench");
        held = g_live.load() - before;
        peak = g_peak.load() - before;
        rows = t.rowCount();
        benchmark::DoNotOptimize(t);
    }
    if (rows != static_cast<std::size_t>(kRows)) state.SkipWithError("short result");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kRows);
    state.counters["bytes_per_row_held"] = static_cast<double>(held) / kRows;
    state.counters["bytes_per_row_peak"] = static_cast<double>(peak) / kRows;
}
BENCHMARK(BM_FetchWholeTable)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // The private driver registration of the build, unless the caller has one.
    ::setenv("ODBCSYSINI", DORVANTIS_BENCH_ODBCSYSINI, 0);
    benchmark::Initialize(&argc, argv);
    try {
        benchmark::RunSpecifiedBenchmarks();
    } catch (const data::DataError& e) {
        std::fprintf(stderr, "data_fetch_bench: %s\n", e.what());
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
