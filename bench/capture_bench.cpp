// Throughput of the hex capture reader against the floor of any line reader: 1 million
// different 16-digit frames (17 MB) read through a memory source in 1 MiB blocks, next to a
// plain memchr split of the same buffer, and to that split plus a copy of every line into one
// text buffer. The summary gives the lines per second of each and the share of the floor's
// speed the reader keeps.

#include "bench_summary.h"
#include "capture/capture.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t LineCount = 1000000;

// LineCount different frames, one per line, LF line ends.
const std::string& Capture() {
    static const std::string text = [] {
        std::string t;
        t.reserve(LineCount * 17);
        std::mt19937_64 random(20240611);
        char line[24];
        for (std::size_t i = 0; i < LineCount; ++i) {
            std::snprintf(line, sizeof line, "%016llX\n", static_cast<unsigned long long>(random()));
            t += line;
        }
        return t;
    }();
    return text;
}

void BM_HexReader(benchmark::State& state) {
    const std::string& text = Capture();
    // Batches as the program reads them; the text buffer is reused from batch to batch.
    constexpr std::size_t batchFrames = 65536;
    TReaderOptions options;
    options.Format = "hex";
    TCaptureBatch batch;
    std::size_t frames = 0;
    for (auto _ : state) {
        TMemoryByteSource source(text);
        const std::unique_ptr<TCaptureReader> reader = OpenCaptureReader(source, options);
        frames = 0;
        for (;;) {
            batch.Clear();
            if (!reader->ReadBatch(batch, batchFrames)) {
                break;
            }
            frames += batch.Frames.size();
            benchmark::DoNotOptimize(batch.Text.data());
        }
    }
    if (frames != LineCount) {
        state.SkipWithError("the reader lost frames");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * LineCount));
}
BENCHMARK(BM_HexReader)->Unit(benchmark::kMillisecond);

// The floor: find every line end, count the lines and their bytes.
void BM_MemchrSplit(benchmark::State& state) {
    const std::string& text = Capture();
    for (auto _ : state) {
        const char* p = text.data();
        const char* const end = p + text.size();
        std::size_t lines = 0;
        std::size_t bytes = 0;
        while (p < end) {
            const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            newline = newline == nullptr ? end : newline;
            bytes += static_cast<std::size_t>(newline - p);
            ++lines;
            p = newline + 1;
        }
        benchmark::DoNotOptimize(lines);
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * LineCount));
}
BENCHMARK(BM_MemchrSplit)->Unit(benchmark::kMillisecond);

// The floor with the work any reader must add: each line copied to one reused text buffer,
// with its offset and size kept, in batches of 65536.
void BM_MemchrSplitCopy(benchmark::State& state) {
    const std::string& text = Capture();
    struct TSpan {
        std::uint64_t Line;
        std::uint32_t Offset;
        std::uint32_t Size;
    };
    std::vector<TSpan> spans;
    std::string out;
    spans.reserve(65536);
    out.reserve(65536 * 17);
    for (auto _ : state) {
        const char* p = text.data();
        const char* const end = p + text.size();
        std::uint64_t line = 0;
        while (p < end) {
            spans.clear();
            out.clear();
            while (p < end && spans.size() < 65536) {
                const char* newline = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
                newline = newline == nullptr ? end : newline;
                const auto size = static_cast<std::uint32_t>(newline - p);
                spans.push_back({++line, static_cast<std::uint32_t>(out.size()), size});
                out.append(p, size);
                p = newline + 1;
            }
            benchmark::DoNotOptimize(out.data());
            benchmark::DoNotOptimize(spans.data());
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * LineCount));
}
BENCHMARK(BM_MemchrSplitCopy)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    TSummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // Times are per run over LineCount lines; per line in ns, so 33 ns is 30 million a second.
    reporter.PrintSummaryHeader();
    const double lines = static_cast<double>(LineCount);
    reporter.PrintTime("BM_HexReader", "hex reader, per line", lines, "ns", 33.3);
    reporter.PrintTime("BM_MemchrSplit", "memchr split, per line", lines, "ns");
    reporter.PrintTime("BM_MemchrSplitCopy", "memchr split and copy, per line", lines, "ns");
    reporter.PrintRatio("BM_MemchrSplitCopy", "BM_HexReader", "reader speed / split-and-copy speed", 0.33);
    return 0;
}
