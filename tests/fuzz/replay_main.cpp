// Replays a fuzz target's seeds as an ordinary test, without libFuzzer: every
// file of the folders given goes once to LLVMFuzzerTestOneInput, in a buffer
// of exactly its size (as libFuzzer hands it over, so that AddressSanitizer
// sees a read past its end). A seed that aborts, crashes or trips a sanitizer
// ends the process and so fails the test; no seed at all fails it too, since
// such a run would prove nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "Usage: %s CORPUS_FOLDER...\n", argv[0]);
        return 2;
    }
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> seeds;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
            if (entry.is_regular_file()) seeds.push_back(entry.path());
        }
        if (error) {
            std::fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
            return 1;
        }
        std::sort(seeds.begin(), seeds.end());  // the same order every run
        for (const auto& seed : seeds) {
            std::ifstream file(seed, std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(file), {}};
            if (file.bad()) {
                std::fprintf(stderr, "%s: cannot be read\n", seed.c_str());
                return 1;
            }
            // Named before it runs, so that a crash's report follows its seed.
            std::fprintf(stderr, "%s (%zu bytes)\n", seed.c_str(), bytes.size());
            const auto input = std::make_unique<uint8_t[]>(bytes.size());
            std::memcpy(input.get(), bytes.data(), bytes.size());
            LLVMFuzzerTestOneInput(input.get(), bytes.size());
            ++replayed;
        }
    }
    if (replayed == 0) {
        std::fprintf(stderr, "No seeds to replay\n");
        return 1;
    }
    std::printf("%zu seeds replayed\n", replayed);
    return 0;
}
