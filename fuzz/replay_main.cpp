// Runs the fuzz harness without libFuzzer, so that any compiler builds it: every file named on
// the command line, and every file in a named directory, is handed to LLVMFuzzerTestOneInput
// once. `--random=COUNT[:SEED]` adds COUNT pseudo-random inputs (the seed is printed, so a
// failing run can be repeated). A failed check aborts the process.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return false;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return true;
}

void RunRandom(unsigned long long count, unsigned long long seed) {
    std::printf("random inputs: %llu, seed %llu\n", count, seed);
    std::mt19937_64 generator(seed);
    std::vector<std::uint8_t> data;
    for (unsigned long long i = 0; i < count; ++i) {
        data.resize(generator() % 48);
        for (auto& b : data) {
            b = static_cast<std::uint8_t>(generator());
        }
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
}

} // namespace

int main(int argc, char** argv) {
    std::size_t files = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--random=", 0) == 0) {
            const std::string option = arg.substr(9);
            const std::size_t colon = option.find(':');
            const unsigned long long count = std::strtoull(option.substr(0, colon).c_str(), nullptr, 10);
            const unsigned long long seed =
                colon == std::string::npos ? std::random_device{}()
                                           : std::strtoull(option.substr(colon + 1).c_str(), nullptr, 10);
            RunRandom(count, seed);
            continue;
        }
        const std::filesystem::path path(arg);
        if (std::filesystem::is_directory(path)) {
            std::vector<std::filesystem::path> entries;
            for (const auto& entry : std::filesystem::directory_iterator(path)) {
                if (entry.is_regular_file()) {
                    entries.push_back(entry.path());
                }
            }
            if (entries.empty()) {
                std::fprintf(stderr, "no inputs in %s\n", path.string().c_str());
                ok = false;
            }
            std::sort(entries.begin(), entries.end());
            for (const auto& entry : entries) {
                ok = RunFile(entry) && ok;
                ++files;
            }
        } else {
            ok = RunFile(path) && ok;
            ++files;
        }
    }
    std::printf("replayed %zu files\n", files);
    return ok ? 0 : 1;
}
