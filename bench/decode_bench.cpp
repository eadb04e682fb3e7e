// Benchmarks of the decoding library, each over thousands of different inputs (one repeated
// input would let the branch predictor learn it):
// - the CRC of 28-bit data words: CalcCRC6 (six bits a step), the generic TBissCrc for 0x43
//   (sliced bytes), the byte-chained TBissCrc::Calc and the bit-serial definition;
// - the fields-only decode of 64-bit frames in the window's layout, next to a floor written
//   here: a straightforward word-level decode (count-leading-zeros start search, one byte
//   table), and the decode of 256-bit frames of a multi-turn layout with a 16-bit CRC;
// - DecodeFrame with all its texts, over fresh frames as users paste them, and on the default
//   frame alone;
// - the scaled-number text.
// After the run a summary gives the time per call of each, against the goals, with the ratios
// taken from this same run.

#include "bench_summary.h"
#include "decode/framedecoder.h"
#include "decode/framelayout.h"
#include "framesupport.h"
#include "decode/orodja.h"

#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kCount = 4096; // a power of two, for the index mask

// Data words of a 26-bit position plus the two status bits, as the CRC sees them in a frame.
const std::vector<std::uint64_t>& DataWords() {
    static const std::vector<std::uint64_t> words = [] {
        std::mt19937_64 random(28);
        std::vector<std::uint64_t> w(kCount);
        for (auto& word : w) {
            word = random() & ((std::uint64_t{1} << 28) - 1);
        }
        return w;
    }();
    return words;
}

void BM_CalcCRC6_Table(benchmark::State& state) {
    const auto& words = DataWords();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(CalcCRC6(5, words[i++ & (kCount - 1)]));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CalcCRC6_Table)->Unit(benchmark::kNanosecond);

void BM_BissCrc43_Sliced(benchmark::State& state) {
    const auto& words = DataWords();
    const TBissCrc crc(0x43);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc.CalcZeroStart(0, words[i++ & (kCount - 1)], 4));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BissCrc43_Sliced)->Unit(benchmark::kNanosecond);

void BM_BissCrc43_Chained(benchmark::State& state) {
    const auto& words = DataWords();
    const TBissCrc crc(0x43);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc.Calc(0, words[i++ & (kCount - 1)], 28, 0));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BissCrc43_Chained)->Unit(benchmark::kNanosecond);

void BM_CalcCRC6_BitSerial(benchmark::State& state) {
    const auto& words = DataWords();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(SerialCrc6(words[i++ & (kCount - 1)], 28));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CalcCRC6_BitSerial)->Unit(benchmark::kNanosecond);

// Frames of the window's layout with a 26-bit position: mostly valid, with every ACK length
// that fits, flags, bad CRCs and a few without a start bit.
const std::vector<std::uint64_t>& WindowWords() {
    static const std::vector<std::uint64_t> words = [] {
        std::mt19937_64 random(26);
        TFrameLayoutParams layout;
        std::vector<std::uint64_t> w;
        while (w.size() < kCount) {
            TFrameContent content;
            content.AckLength = 2 + static_cast<int>(random() % 27);
            content.Cds = (random() & 1U) != 0;
            content.Count = random();
            content.Status = static_cast<std::uint8_t>(random() & 3U);
            content.CrcFlip = random() % 8 == 0 ? 1 : 0;
            content.TailBits = random();
            w.push_back(BuildFrame(layout, content).Received.Packed().Words[0]);
            if (random() % 64 == 0) {
                w.back() = ~std::uint64_t{0};
            }
        }
        return w;
    }();
    return words;
}

// The floor: the window's layout decoded straight from the word with the cheapest tools for it
// (count leading zeros for the start bit, one byte table for the CRC), and nothing general.
struct TFloorFields {
    std::int32_t Ack;
    std::uint64_t Position;
    std::uint32_t Status;
    std::uint32_t Crc;
    bool Ok;
};

// The CRC-6 register left-aligned in eight bits after a byte was fed into it from zero.
constexpr std::array<std::uint8_t, 256> MakeCrc6ByteTable() {
    std::array<std::uint8_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        unsigned reg = b;
        for (int bit = 0; bit < 8; ++bit) {
            reg = ((reg << 1) ^ ((reg & 0x80U) != 0 ? 0x0CU : 0U)) & 0xFFU;
        }
        table[b] = static_cast<std::uint8_t>(reg);
    }
    return table;
}
constexpr std::array<std::uint8_t, 256> Crc6ByteTable = MakeCrc6ByteTable();

TFloorFields FloorDecode(std::uint64_t word, int n) {
    TFloorFields f{};
    const std::uint64_t pairs = ~word & (word << 1) & ~(std::uint64_t{1} << 63);
    if (pairs == 0) {
        return f;
    }
    const int i = std::countl_zero(pairs);
    f.Ack = i + 1;
    const std::uint64_t v = (word << (i + 3)) >> (64 - (n + 8));
    f.Crc = static_cast<std::uint32_t>(v & 0x3F);
    f.Status = static_cast<std::uint32_t>((v >> 6) & 3);
    f.Position = v >> 8;
    const std::uint64_t data = v >> 6;
    unsigned reg = 0;
    for (int byte = (n + 2 + 7) / 8 - 1; byte >= 0; --byte) {
        reg = Crc6ByteTable[reg ^ ((data >> (8 * byte)) & 0xFF)];
    }
    f.Ok = f.Ack + n + 10 <= 64 && (reg >> 2) == (~f.Crc & 0x3F);
    return f;
}

void BM_WindowFields_Floor(benchmark::State& state) {
    const auto& words = WindowWords();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FloorDecode(words[i++ & (kCount - 1)], 26));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WindowFields_Floor)->Unit(benchmark::kNanosecond);

void BM_WindowFields_DecodeFrameBits(benchmark::State& state) {
    const auto& words = WindowWords();
    const TFrameLayout layout{TFrameLayoutParams{}};
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeFrameBits(layout, FrameBitsFromWord(words[i++ & (kCount - 1)])));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WindowFields_DecodeFrameBits)->Unit(benchmark::kNanosecond);

// 256-bit frames of a 12-bit multi-turn, 24-bit single-turn layout with a 16-bit CRC.
void BM_LongFrames_DecodeFrameBits(benchmark::State& state) {
    TFrameLayoutParams params;
    params.MultiTurnBits = 12;
    params.PositionBits = 24;
    params.CrcPolynomial = 0x190D9;
    const TFrameLayout layout(params);
    std::mt19937_64 random(256);
    std::vector<TFrameBits> frames;
    while (frames.size() < kCount) {
        TFrameContent content;
        content.AckLength = 2 + static_cast<int>(random() % 180);
        content.Count = random();
        content.Status = static_cast<std::uint8_t>(random() & 3U);
        content.TotalBits = 256;
        content.TailBits = random();
        frames.push_back(BuildFrame(params, content).Received.Packed());
    }
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeFrameBits(layout, frames[i++ & (kCount - 1)]));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LongFrames_DecodeFrameBits)->Unit(benchmark::kNanosecond);

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

// Frames as users paste them: mostly valid frames of every length with the window's scale,
// some typed with blanks and a prefix, some flagged or with a bad CRC, a few invalid texts and
// frames without a start bit.
std::vector<TBenchCase> FreshCases() {
    std::mt19937_64 random(50);
    std::vector<TBenchCase> cases;
    while (cases.size() < kCount) {
        const std::int32_t n = 1 + static_cast<std::int32_t>(random() % 50);
        TFrameLayoutParams layout;
        layout.PositionBits = n;
        TFrameContent content;
        content.AckLength = 2 + static_cast<int>(random() % static_cast<unsigned>(64 - n - 10 - 1));
        content.Count = random();
        content.Status = static_cast<std::uint8_t>(random() % 4 == 0 ? random() & 3U : 3U);
        content.CrcFlip = random() % 8 == 0 ? 2 : 0;
        content.TailBits = random();
        std::string hex = BuildFrame(layout, content).Received.Hex(random() % 4 == 0);
        switch (random() % 16) {
        case 0:
            hex = "0x " + hex.substr(0, 4) + " " + hex.substr(4, 4) + " " + hex.substr(8, 4) + " " +
                  hex.substr(12);
            break;
        case 1:
            hex = "G" + hex; // not hexadecimal
            break;
        case 2:
            hex = "FFFFFFFFFFFFFFFF"; // no start bit
            break;
        default:
            break;
        }
        const std::int32_t denominator = n <= 30 ? (std::int32_t{1} << n) : 2100000000;
        cases.push_back({std::u16string(hex.begin(), hex.end()), n, 360, denominator});
    }
    return cases;
}

void BM_DecodeFrame_Fresh(benchmark::State& state) {
    const std::vector<TBenchCase> cases = FreshCases();
    const TRegionalSeparators separators;
    std::size_t i = 0;
    for (auto _ : state) {
        const TBenchCase& c = cases[i++ & (kCount - 1)];
        TDecodedFrame frame = DecodeFrame(c.Text, c.N, c.Numerator, c.Denominator, u"deg", separators);
        benchmark::DoNotOptimize(frame);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeFrame_Fresh)->Unit(benchmark::kNanosecond);

void BM_FormatScaledNumber(benchmark::State& state) {
    std::mt19937_64 random(15);
    std::vector<double> values(kCount);
    for (auto& v : values) {
        const int n = 1 + static_cast<int>(random() % 50);
        v = static_cast<double>(random() >> (64 - n)) *
            (360.0 / static_cast<double>(n <= 30 ? (1 << n) : 2100000000));
    }
    const TRegionalSeparators separators;
    std::size_t i = 0;
    for (auto _ : state) {
        std::u16string text = FormatScaledNumber(values[i++ & (kCount - 1)], separators);
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatScaledNumber)->Unit(benchmark::kNanosecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    TSummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    reporter.PrintSummaryHeader();
    reporter.PrintTime("BM_CalcCRC6_Table", "CalcCRC6 (six bits a step), 28 bits", 1, "ns");
    reporter.PrintTime("BM_BissCrc43_Sliced", "TBissCrc 0x43, sliced bytes", 1, "ns");
    reporter.PrintTime("BM_BissCrc43_Chained", "TBissCrc 0x43, chained bytes", 1, "ns");
    reporter.PrintTime("BM_CalcCRC6_BitSerial", "bit-serial CRC, same words", 1, "ns");
    reporter.PrintRatio("BM_CalcCRC6_BitSerial", "BM_CalcCRC6_Table", "CalcCRC6 vs bit-serial", 3.0);
    reporter.PrintRatio("BM_CalcCRC6_Table", "BM_BissCrc43_Sliced", "generic 0x43 vs CalcCRC6", 1.0);
    reporter.PrintTime("BM_WindowFields_Floor", "word-level floor, window layout", 1, "ns");
    reporter.PrintTime("BM_WindowFields_DecodeFrameBits", "DecodeFrameBits, window layout", 1, "ns",
                       8.0);
    reporter.PrintRatio("BM_WindowFields_DecodeFrameBits", "BM_WindowFields_Floor",
                        "DecodeFrameBits / floor");
    reporter.PrintTime("BM_LongFrames_DecodeFrameBits", "DecodeFrameBits, 256-bit frames", 1, "ns");
    reporter.PrintTime("BM_DecodeFrame_Fresh", "DecodeFrame, 4096 fresh frames", 1, "ns", 150.0);
    reporter.PrintTime("BM_DecodeFrame_Default", "DecodeFrame, default frame", 1, "ns", 150.0);
    reporter.PrintTime("BM_FormatScaledNumber", "FormatScaledNumber", 1, "ns");
    return 0;
}
