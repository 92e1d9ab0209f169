// The checksum method against streaming, from the command line, through
// unixODBC and FreeTDS against private TDS test servers:
//
//   checksum_bench [--sizes 1M,2M] [--repeat K] [--bandwidth BYTES_PER_SECOND] [--server PATH]
//
// For each N it seeds, in a server that sends at most BYTES_PER_SECOND (a
// slow link; default 12,500,000: 100 Mbit/s) and in one on loopback alone,
// bench_a (N rows, primary key id), bench_t (100 records changed, one after
// another in the middle), bench_s (100 records changed, spread evenly) and
// bench_e (every record changed). Then, K times alternating, `compare
// bench_a X --key id` by streaming and with --method checksum: wall time,
// the command's CPU and peak resident memory. The lines of both must be the
// same. The last lines give the ratios, streaming wall / checksum wall.

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tds_bench.h"

namespace {

using namespace tdsbench;

void expect(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(what);
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Measured {
    std::vector<double> wall, cpu, peak;
    void add(const CommandRun& r) {
        wall.push_back(r.wall);
        cpu.push_back(r.cpu);
        peak.push_back(r.peakMB);
    }
};

// Streaming and checksums of bench_a against one table, K times alternating.
std::pair<Measured, Measured> measure(int port, const std::string& second, int repeat,
                                      const std::string& folder, const char* link) {
    Measured streamed, summed;
    const std::string streamOut = folder + "/stream.txt", sumOut = folder + "/checksum.txt";
    for (int run = 1; run <= repeat; ++run) {
        const CommandRun s = runDorvantis(
            DORVANTIS_PROGRAM, port, {"bench_a", second, "--key", "id", "--output", streamOut});
        const CommandRun c = runDorvantis(
            DORVANTIS_PROGRAM, port,
            {"bench_a", second, "--key", "id", "--method", "checksum", "--output", sumOut});
        expect(s.status == 1 && c.status == 1, "the runs ended with " + std::to_string(s.status) +
                                                   " and " + std::to_string(c.status) +
                                                   ", not 1 (differences)");
        // Without the summary line, which counts what each read.
        auto lines = [](const std::string& text) { return text.substr(0, text.rfind("Summary:")); };
        const std::string summary = slurp(sumOut).substr(slurp(sumOut).rfind("Summary:"));
        expect(lines(slurp(streamOut)) == lines(slurp(sumOut)),
               "the checksum run wrote other lines than streaming");
        std::printf(
            "  %s %-8s run %d  stream %7.3f s cpu %6.3f s peak %5.1f MB | checksum %7.3f s cpu "
            "%6.3f s peak %5.1f MB\n    %s",
            link, second.c_str(), run, s.wall, s.cpu, s.peakMB, c.wall, c.cpu, c.peakMB,
            summary.c_str());
        std::fflush(stdout);
        streamed.add(s);
        summed.add(c);
    }
    return {streamed, summed};
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("ODBCSYSINI", DORVANTIS_BENCH_ODBCSYSINI, 0);
    std::vector<long> sizes = {1'000'000, 2'000'000};
    int repeat = 3;
    long bandwidth = 12'500'000;
    std::string serverBinary = DORVANTIS_TDS_SERVER;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i], v = argv[i + 1];
        if (a == "--sizes") {
            sizes.clear();
            std::stringstream list(v);
            for (std::string s; std::getline(list, s, ',');) sizes.push_back(parseSize(s));
        } else if (a == "--repeat") {
            repeat = std::stoi(v);
        } else if (a == "--bandwidth") {
            bandwidth = std::stol(v);
        } else if (a == "--server") {
            serverBinary = v;
        } else {
            std::fprintf(stderr,
                         "usage: checksum_bench [--sizes N,N] [--repeat K] [--bandwidth B] "
                         "[--server PATH]\n");
            return 2;
        }
    }
    char folder[] = "/tmp/checksum-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) return 1;
    ::setenv("XDG_CONFIG_HOME", folder, 1);
    std::map<std::string, double> ratios;
    try {
        for (const long n : sizes) {
            for (const bool slow : {true, false}) {
                const char* link = slow ? "slow" : "loopback";
                Server server(
                    serverBinary, {"benchdb"},
                    slow ? std::vector<std::string>{"--bandwidth", std::to_string(bandwidth)}
                         : std::vector<std::string>{});
                {
                    Connection c(server.port());
                    const std::pair<const char*, Amount> tables[] = {
                        {"bench_a", Amount::Same},
                        {"bench_t", Amount::HundredTogether},
                        {"bench_s", Amount::HundredApart},
                        {"bench_e", Amount::EveryRow}};
                    for (const auto& [table, amount] : tables) {
                        c.execute(seedSql(table, n, amount, true));
                    }
                }
                std::printf("N = %s, %s link%s\n", sizeName(n).c_str(), link,
                            slow ? (" (" + std::to_string(bandwidth) + " bytes/s)").c_str() : "");
                std::fflush(stdout);
                for (const char* second : {"bench_t", "bench_s", "bench_e"}) {
                    const auto [streamed, summed] =
                        measure(server.port(), second, repeat, folder, link);
                    const double ratio = median(streamed.wall) / median(summed.wall);
                    const std::string key = sizeName(n) + " " + link + " " + second;
                    ratios[key] = ratio;
                    std::printf(
                        "%s: stream %.3f s (peak %.1f MB), checksum %.3f s (peak %.1f MB): "
                        "stream / checksum %.2f\n",
                        key.c_str(), median(streamed.wall), median(streamed.peak),
                        median(summed.wall), median(summed.peak), ratio);
                    std::fflush(stdout);
                }
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "checksum_bench: %s\n", e.what());
        return 1;
    }
    std::printf("\nmedians of %d runs; stream / checksum wall time (above 1: checksums faster)\n",
                repeat);
    for (const auto& [key, ratio] : ratios) std::printf("  %-24s %.2f\n", key.c_str(), ratio);
    return 0;
}
