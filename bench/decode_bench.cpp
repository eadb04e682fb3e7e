// Benchmarks of the decoding library: the table-driven CRC-6 against a bit-serial one on the
// same 28-bit data words, DecodeFrame on the default frame, and DecodeFrame over a mix of
// frames. After the run a summary gives the time per call of each and the CRC speed-up
// measured in this same run.

#include "bench_summary.h"
#include "framedecoder.h"
#include "orodja.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kWordCount = 4096; // a power of two, for the index mask

// Data words of a 26-bit position plus the two status bits, as CalcCRC6 sees them in a frame.
const std::vector<std::uint64_t>& DataWords() {
    static const std::vector<std::uint64_t> words = [] {
        std::mt19937_64 random(28);
        std::vector<std::uint64_t> w(kWordCount);
        for (auto& word : w) {
            word = random() & ((std::uint64_t{1} << 28) - 1);
        }
        return w;
    }();
    return words;
}

// The plain definition: one register step per data bit, most significant first.
std::uint8_t SerialCrc6(std::uint64_t data, int bits) {
    std::uint8_t reg = 0;
    for (int k = bits - 1; k >= 0; --k) {
        const unsigned feedback = ((reg >> 5) ^ static_cast<unsigned>(data >> k)) & 1u;
        reg = static_cast<std::uint8_t>(((reg << 1) & 0x3F) ^ (feedback * 0x03u));
    }
    return reg;
}

void BM_CalcCRC6_Table(benchmark::State& state) {
    const auto& words = DataWords();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(CalcCRC6(5, words[i++ & (kWordCount - 1)]));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CalcCRC6_Table)->Unit(benchmark::kNanosecond);

void BM_CalcCRC6_BitSerial(benchmark::State& state) {
    const auto& words = DataWords();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(SerialCrc6(words[i++ & (kWordCount - 1)], 28));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CalcCRC6_BitSerial)->Unit(benchmark::kNanosecond);

void BM_DecodeFrame_Default(benchmark::State& state) {
    const std::u16string text = u"C004C9BA71753000";
    const TRegionalSeparators separators;
    for (auto _ : state) {
        TDecodedFrame frame = DecodeFrame(text, 26, 360, 67108864, u"deg", separators);
        benchmark::DoNotOptimize(frame);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeFrame_Default)->Unit(benchmark::kNanosecond);

struct TBenchCase {
    std::u16string Text;
    std::int32_t N;
    std::int32_t Numerator;
    std::int32_t Denominator;
};

std::uint8_t InvertedCrc(std::uint64_t data, int bits) {
    return static_cast<std::uint8_t>(~SerialCrc6(data, bits) & 0x3F);
}

// Frames as a user pastes them: the usual kinds (valid, flagged, bad CRC, short, typed
// with blanks and a prefix, invalid, without a start bit) and valid frames of every length.
std::vector<TBenchCase> MixedCases() {
    std::vector<TBenchCase> cases = {
        {u"C004C9BA71753000", 26, 360, 67108864},
        {u"0x c004 c9ba 7175 3000", 26, 360, 67108864},
        {u"C004C9BA71548000", 26, 360, 67108864},
        {u"C004C9BA71360000", 26, 360, 67108864},
        {u"C004C9BA71178000", 26, 360, 67108864},
        {u"C004C9BA81753000", 26, 360, 67108864},
        {u"C005FFFFFFF10000", 26, 360, 67108864},
        {u"4C9BA71753", 26, 360, 67108864},
        {u"C004C9BA71753000", 13, 360, 8192},
        {u"C004C9BA71753000", 26, -360, 67108864},
        {u"G1", 26, 360, 67108864},
        {u"1C004C9BA71753000", 26, 360, 67108864},
        {u"FFFFFFFFFFFFFFFF", 26, 360, 67108864},
        {u"0000000000000001", 26, 360, 67108864},
    };
    std::mt19937_64 random(50);
    static const char digits[] = "0123456789ABCDEF";
    while (cases.size() < 64) {
        const std::int32_t n = 1 + static_cast<std::int32_t>(random() % 50);
        const int ack = 2 + static_cast<int>(random() % static_cast<std::uint64_t>(64 - n - 10 - 1));
        const std::uint64_t data = random() & ((std::uint64_t{1} << (n + 2)) - 1);
        // ACK: ack - 1 ones would form no 0-then-1 pair, then its last bit 0; start 1, CDS 0.
        std::uint64_t word = 0;
        int used = 0;
        auto put = [&](std::uint64_t value, int bits) {
            word |= value << (64 - used - bits);
            used += bits;
        };
        put((std::uint64_t{1} << (ack - 1)) - 1, ack - 1);
        put(0, 1);
        put(2, 2);
        put(data, n + 2);
        put(InvertedCrc(data, n + 2), 6);
        std::u16string text;
        for (int i = 15; i >= 0; --i) {
            text += static_cast<char16_t>(digits[(word >> (4 * i)) & 0xF]);
        }
        const std::int32_t denominator = n <= 30 ? (std::int32_t{1} << n) : 2100000000;
        cases.push_back({text, n, 360, denominator});
    }
    return cases;
}

void BM_DecodeFrame_Mix(benchmark::State& state) {
    const std::vector<TBenchCase> cases = MixedCases();
    const TRegionalSeparators separators;
    std::size_t i = 0;
    for (auto _ : state) {
        const TBenchCase& c = cases[i++ % cases.size()];
        TDecodedFrame frame = DecodeFrame(c.Text, c.N, c.Numerator, c.Denominator, u"deg", separators);
        benchmark::DoNotOptimize(frame);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeFrame_Mix)->Unit(benchmark::kNanosecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    TSummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    reporter.PrintHeader();
    reporter.PrintTime("BM_CalcCRC6_Table", "CalcCRC6 (table), 28-bit word", 1, "ns");
    reporter.PrintTime("BM_CalcCRC6_BitSerial", "bit-serial CRC, same words", 1, "ns");
    reporter.PrintRatio("BM_CalcCRC6_BitSerial", "BM_CalcCRC6_Table", "table speed-up", 3.0);
    reporter.PrintTime("BM_DecodeFrame_Default", "DecodeFrame, default frame", 1, "ns", 500.0);
    reporter.PrintTime("BM_DecodeFrame_Mix", "DecodeFrame, mix of 64 frames", 1, "ns", 500.0);
    return 0;
}
