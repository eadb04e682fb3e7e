// Writes the signal sample captures (tests/data/captures/signal-biss.*) from the link of
// tests/support/signalsamples.h, and seeds for the signal readers' fuzz harness. The model's
// random numbers come from a fixed seed: the files come out the same on every run.
#include "logicwriters.h"
#include "signalsamples.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_signal_samples <captures dir> <seed corpus dir>\n");
        return 2;
    }
    const std::filesystem::path captures = argv[1];
    const std::filesystem::path seeds = argv[2];
    const TWaveform w = BuildSignalSample().Capture.Wave;
    WriteFile(captures / "signal-biss.csv", WriteSaleaeDigitalCsv(w));
    WriteFile(captures / "signal-biss.vcd", WriteVcd(w));
    WriteSigrokSession(w, captures / "signal-biss.sr");
    WriteSaleaeBinaryFolder(w, captures / "signal-biss-binary", 1);

    // Seeds: the first byte chooses the reader (see fuzz/signal_fuzzer.cpp), the second the
    // channels; binary seeds hold two channel files, the first's length in 4 bytes before them.
    std::filesystem::create_directories(seeds);
    // The seeds: the capture's first 100 us, the cut first burst and one whole frame.
    TWaveform small = w;
    small.End = 100e-6;
    for (auto& toggles : small.Toggles) {
        std::erase_if(toggles, [&](double t) { return t > small.End; });
    }
    WriteFile(seeds / "csv", std::string("\x00\x01", 2) + WriteSaleaeDigitalCsv(small));
    WriteFile(seeds / "vcd", std::string("\x01\x01", 2) + WriteVcd(small));
    for (const int version : {0, 1}) {
        const std::string a = WriteSaleaeBinary(small, 0, version, version == 1 ? 2 : 1);
        const std::string b = WriteSaleaeBinary(small, 1, version, 1);
        const std::uint32_t size = static_cast<std::uint32_t>(a.size());
        std::string seed("\x02\x01", 2);
        seed.append(reinterpret_cast<const char*>(&size), 4);
        WriteFile(seeds / ("binary-v" + std::to_string(version)), seed + a + b);
    }
    WriteSigrokSession(small, seeds / "session.tmp", 1, 1000);
    WriteFile(seeds / "sigrok", std::string("\x03\x01", 2) + ReadFile(seeds / "session.tmp"));
    std::filesystem::remove(seeds / "session.tmp");
    return 0;
}
