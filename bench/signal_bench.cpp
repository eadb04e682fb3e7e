// Throughput of the burst decoder: the MA and SLO changes of 20000 different 64-clock frames
// at 1 MHz (line delay 0.3 periods, a CDM bit on every third frame, 1% of the clock phases
// with a glitch) fed in chunks of 65536 changes, as a signal source hands them out, next to
// the floor of any decoder: one pass that counts the rising MA edges. The summary gives the
// time per change and the share of the floor's speed the decoder keeps.

#include "bench_summary.h"
#include "framesupport.h"
#include "capture/signal/burstdecoder.h"
#include "waveformmodel.h"
#include "waveformsource.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

namespace {

constexpr int FrameCount = 20000;

struct TBenchCapture {
    std::vector<TLogicEdge> Edges;
    std::uint8_t Initial = 0;
    double End = 0.0;
};

const TBenchCapture& Capture() {
    static const TBenchCapture capture = [] {
        std::mt19937_64 random(20240611);
        std::vector<TModelFrame> script;
        TFrameLayoutParams layout;
        for (int i = 0; i < FrameCount; ++i) {
            TFrameContent content;
            content.AckLength = 3 + i % 5;
            content.AckOnes = 1;
            content.Count = random();
            content.Status = static_cast<std::uint8_t>(i % 4);
            content.TotalBits = 64;
            script.push_back(ScriptFrame(BuildFrame(layout, content).Received, i % 3 == 0, i % 2));
        }
        TLinkParams link;
        link.ClockHz = 1e6;
        link.LineDelay = 0.3e-6;
        link.GlitchRate = 0.01;
        const TModelCapture model = RunLink(link, script);
        TWaveformSource source(model.Wave);
        source.SelectChannels(0, 1);
        TBenchCapture c;
        c.Edges = source.Edges();
        c.Initial = source.InitialLevels();
        c.End = source.EndTime();
        return c;
    }();
    return capture;
}

constexpr std::size_t ChunkEdges = 65536;

void BM_BurstDecoder(benchmark::State& state) {
    const TBenchCapture& capture = Capture();
    std::vector<TSignalFrame> frames;
    frames.reserve(4096);
    std::size_t complete = 0;
    for (auto _ : state) {
        TBurstDecoder decoder(capture.Initial);
        complete = 0;
        const std::span<const TLogicEdge> all(capture.Edges);
        for (std::size_t at = 0; at < all.size(); at += ChunkEdges) {
            frames.clear();
            decoder.Feed(all.subspan(at, std::min(ChunkEdges, all.size() - at)), frames);
            for (const TSignalFrame& frame : frames) {
                complete += frame.Outcome == TSignalOutcome::soComplete;
            }
        }
        frames.clear();
        decoder.Finish(capture.End, frames);
        complete += frames.size();
        benchmark::DoNotOptimize(complete);
    }
    if (complete != FrameCount) {
        state.SkipWithError("the decoder lost frames");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * capture.Edges.size()));
}
BENCHMARK(BM_BurstDecoder)->Unit(benchmark::kMillisecond);

// The floor: every change looked at once, the rising clock edges counted, in the same chunks.
void BM_EdgeFloor(benchmark::State& state) {
    const TBenchCapture& capture = Capture();
    for (auto _ : state) {
        std::uint8_t previous = capture.Initial;
        std::size_t rises = 0;
        for (std::size_t at = 0; at < capture.Edges.size(); at += ChunkEdges) {
            const std::size_t end = std::min(at + ChunkEdges, capture.Edges.size());
            for (std::size_t i = at; i < end; ++i) {
                const std::uint8_t levels = capture.Edges[i].Levels;
                rises += (levels & ~previous & LogicClockBit) != 0;
                previous = levels;
            }
        }
        benchmark::DoNotOptimize(rises);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * capture.Edges.size()));
}
BENCHMARK(BM_EdgeFloor)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    TSummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // Per change in ns: 20 ns is 50 million changes a second.
    reporter.PrintSummaryHeader();
    const double edges = static_cast<double>(Capture().Edges.size());
    std::printf("  %-40s %10.0f\n", "changes per run", edges);
    reporter.PrintTime("BM_BurstDecoder", "burst decoder, per change", edges, "ns", 20.0);
    reporter.PrintTime("BM_EdgeFloor", "floor, per change", edges, "ns");
    reporter.PrintRatio("BM_BurstDecoder", "BM_EdgeFloor", "decoder time / floor time");
    return 0;
}
