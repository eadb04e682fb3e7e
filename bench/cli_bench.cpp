// Benchmarks of corvane-decode's work per frame, over a batch of 4096 different frames of the
// window's layout: each stage alone (parse the hexadecimal text with the core's ParseFrameHex and with
// the program's path for 16 digits, decode the bits, write a CSV record)
// and all together as a worker runs them, against a hand-written floor that parses, decodes
// the window's layout and writes the same CSV line with no generality at all. The summary
// says which stage bounds the speed.
#include "bench_summary.h"
#include "capture/capture.h"
#include "cli/records.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

namespace {

// One batch of frames as the program's workers get them (4096 of them, different), its records
// written into a buffer emptied for each pass, as a worker does.
constexpr std::size_t kFrames = 4096;
constexpr std::size_t kBatchFrames = kFrames;

// A batch of frames as the hex reader delivers it.
const TCaptureBatch& Frames() {
    static const TCaptureBatch batch = [] {
        TCaptureBatch b;
        const TFrameLayout layout;
        std::mt19937_64 random(10);
        for (std::size_t i = 0; i < kFrames; ++i) {
            const std::uint64_t position = random() & ((1U << 26) - 1);
            const int ack = 2 + static_cast<int>(random() % 16);
            const auto crc = static_cast<std::uint16_t>(~layout.CalcCrc(position, 3) & 0x3F);
            const std::uint64_t frame = (((std::uint64_t{1} << (ack - 1)) - 1) << 3 | 0b010) << 34 |
                                        position << 8 | 3U << 6 | crc;
            const std::uint64_t word = frame << (64 - (ack + 2 + 34));
            char text[17];
            std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(word));
            TCaptureFrame f;
            f.Line = i + 1;
            f.InputOffset = static_cast<std::uint32_t>(b.Text.size());
            f.InputSize = 16;
            b.Text.append(text, 16);
            b.Frames.push_back(f);
        }
        return b;
    }();
    return batch;
}

void BM_ParseHex(benchmark::State& state) {
    const TCaptureBatch& batch = Frames();
    std::size_t i = 0;
    for (auto _ : state) {
        TFrameBits bits;
        benchmark::DoNotOptimize(ParseFrameHex(FrameInput(batch, batch.Frames[i]), bits));
        benchmark::DoNotOptimize(bits);
        i = (i + 1) % kFrames;
    }
}
BENCHMARK(BM_ParseHex);

void BM_DecodeBits(benchmark::State& state) {
    const TCaptureBatch& batch = Frames();
    const TFrameLayout layout;
    std::vector<TFrameBits> bits(kFrames);
    for (std::size_t i = 0; i < kFrames; ++i) {
        ParseFrameHex(FrameInput(batch, batch.Frames[i]), bits[i]);
    }
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeFrameBits(layout, bits[i]));
        i = (i + 1) % kFrames;
    }
}
BENCHMARK(BM_DecodeBits);

void BM_WriteCsvRecord(benchmark::State& state) {
    const TCaptureBatch& batch = Frames();
    const TFrameLayout layout;
    TRecordFormatter formatter(TOutputFormat::ofCsv, layout.Params(), {});
    formatter.SetSourceName("frames-10M.txt");
    std::vector<TDecodedRecord> records;
    for (const TCaptureFrame& frame : batch.Frames) {
        records.push_back(DecodeCaptureFrame(layout, frame, FrameInput(batch, frame)));
    }
    TOutBuffer out;
    std::size_t i = 0;
    for (auto _ : state) {
        if (i % kBatchFrames == 0) {
            out.Clear();
        }
        const TCaptureFrame& frame = batch.Frames[i];
        formatter.AppendRecord(out, frame, FrameInput(batch, frame), records[i]);
        i = (i + 1) % kFrames;
    }
    benchmark::DoNotOptimize(out.View().data());
}
BENCHMARK(BM_WriteCsvRecord);

// Everything a worker does with a frame of a batch: parse, decode, write the record.
void BM_FrameToCsv(benchmark::State& state) {
    const TCaptureBatch& batch = Frames();
    const TFrameLayout layout;
    TRecordFormatter formatter(TOutputFormat::ofCsv, layout.Params(), {});
    formatter.SetSourceName("frames-10M.txt");
    TOutBuffer out;
    TLineText lines;
    std::size_t i = 0;
    for (auto _ : state) {
        if (i % kBatchFrames == 0) {
            out.Clear();
            lines = TLineText();
        }
        const TCaptureFrame& frame = batch.Frames[i];
        const std::string_view input = FrameInput(batch, frame);
        formatter.AppendRecord(out, frame, input, DecodeCaptureFrame(layout, frame, input), &lines);
        i = (i + 1) % kFrames;
    }
    benchmark::DoNotOptimize(out.View().data());
}
BENCHMARK(BM_FrameToCsv);

// The same work as the records sink does it: a whole batch at once (AppendBatch), the writer
// picked once per batch. Time per frame.
void BM_BatchToCsv(benchmark::State& state) {
    const TCaptureBatch& batch = Frames();
    const TFrameLayout layout;
    TRecordFormatter formatter(TOutputFormat::ofCsv, layout.Params(), {});
    formatter.SetSourceName("frames-10M.txt");
    TOutBuffer out;
    std::uint64_t good = 0;
    for (auto _ : state) {
        out.Clear();
        good += formatter.AppendBatch(out, layout, batch);
    }
    benchmark::DoNotOptimize(good);
    benchmark::DoNotOptimize(out.View().data());
    state.counters["per_frame"] = benchmark::Counter(
        static_cast<double>(state.iterations() * batch.Frames.size()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BatchToCsv);

// The floor: the window's layout only, its CRC-6 by a six-bit table, the same CSV line
// written with the same number writing.
void BM_HandWrittenFloor(benchmark::State& state) {
    const TCaptureBatch& batch = Frames();
    std::uint8_t table[64];
    for (unsigned v = 0; v < 64; ++v) {
        unsigned reg = v;
        for (int k = 0; k < 6; ++k) {
            reg = (reg & 0x20) ? ((reg << 1) & 0x3F) ^ 0x03 : (reg << 1) & 0x3F;
        }
        table[v] = static_cast<std::uint8_t>(reg);
    }
    std::string out(kBatchFrames * 128, '\0');
    char* p = out.data();
    std::size_t i = 0;
    for (auto _ : state) {
        if (i % kBatchFrames == 0) {
            p = out.data();
        }
        const TCaptureFrame& frame = batch.Frames[i];
        const char* text = batch.Text.data() + frame.InputOffset;
        std::uint64_t word = 0;
        for (int k = 0; k < 16; ++k) {
            const char c = text[k];
            word = word << 4 | static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        }
        const std::uint64_t pairs = ~word & (word << 1) & ~(std::uint64_t{1} << 63);
        const int pair = __builtin_clzll(pairs);
        const std::uint64_t data = (word << (pair + 3)) >> 36; // 28 bits
        const unsigned crc = static_cast<unsigned>((word << (pair + 31)) >> 58);
        unsigned reg = 0;
        for (int shift = 24; shift >= 0; shift -= 6) { // 28 bits with 2 leading zeros
            reg = table[reg ^ ((data >> shift) & 0x3F)];
        }
        p = WriteText(p, "frames-10M.txt:");
        p = WriteUnsigned(p, frame.Line);
        *p++ = ',';
        p = WriteText(p, std::string_view(text, 16));
        p = WriteText(p, ",decoded,");
        p = WriteUnsigned(p, static_cast<unsigned>(pair + 1));
        p = WriteText(p, ",0,");
        p = WriteUnsigned(p, data >> 2);
        *p++ = ',';
        p = WriteUnsigned(p, data >> 2);
        p = WriteText(p, (data & 2) ? ",false" : ",true");
        p = WriteText(p, (data & 1) ? ",false," : ",true,");
        p = WriteUnsigned(p, crc);
        *p++ = ',';
        p = WriteUnsigned(p, reg);
        p = WriteText(p, reg == (~crc & 0x3F) ? ",true,false\n" : ",false,false\n");
        i = (i + 1) % kFrames;
    }
    benchmark::DoNotOptimize(p);
}
BENCHMARK(BM_HandWrittenFloor);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    TSummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummaryHeader();
    reporter.PrintTime("BM_ParseHex", "parse the hex text (ParseFrameHex)", 1, "ns");
    reporter.PrintTime("BM_DecodeBits", "decode the bits (start bit, fields, CRC)", 1, "ns");
    reporter.PrintTime("BM_WriteCsvRecord", "write the CSV record", 1, "ns");
    reporter.PrintTime("BM_FrameToCsv", "all of a worker's work per frame", 1, "ns");
    reporter.PrintTime("BM_HandWrittenFloor", "hand-written floor, same CSV line", 1, "ns");
    benchmark::Shutdown();
    return 0;
}
