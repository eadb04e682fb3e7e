// The control-channel decoder per frame: many different streams of register traffic made by
// the master/slave model (every reply lag, both readings of the header CRC, reads, writes,
// sequential accesses and commands at random), and a stream without control traffic, which
// is what most captures hold. Decoding registers has to stay a small part of decoding a
// capture (a few ns per frame).
#include "bench_summary.h"
#include "capture/control/controldecoder.h"
#include "controlmodel.h"

#include <random>

namespace {

using namespace controlmodel;

constexpr int Streams = 64;

const std::vector<std::vector<TControlBits>>& TrafficStreams() {
    static const std::vector<std::vector<TControlBits>> streams = [] {
        std::vector<std::vector<TControlBits>> all;
        std::mt19937 random(20240611);
        for (int s = 0; s < Streams; ++s) {
            TBus bus;
            bus.MasterCrcCoversCts = s % 2 == 1;
            bus.Source = static_cast<std::uint32_t>(s);
            for (int id = 0; id < 3; ++id) {
                TSlave& slave = bus.AddSlave(id, (s / 2) % 4);
                for (std::uint8_t& r : slave.Registers) {
                    r = static_cast<std::uint8_t>(random());
                }
            }
            std::vector<TStep> script;
            for (int i = 0; i < 400; ++i) {
                const int slave = static_cast<int>(random() % 3);
                const int address = static_cast<int>(random() % 128);
                TStep step;
                switch (random() % 4) {
                case 0: step = Write(slave, address, {static_cast<std::uint8_t>(random())}); break;
                case 1: step = Command(static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random() % 4)); break;
                default: step = Read(slave, address, 1 + static_cast<int>(random() % 4)); break;
                }
                step.IdleBefore = static_cast<int>(random() % 40);
                script.push_back(step);
            }
            all.push_back(bus.Run(script).Frames);
        }
        return all;
    }();
    return streams;
}

std::size_t TrafficFrames() {
    std::size_t frames = 0;
    for (const auto& s : TrafficStreams()) {
        frames += s.size();
    }
    return frames;
}

// Decodes `frames` in batches as a reader delivers them.
void DecodeStream(const std::vector<TControlBits>& frames, std::vector<TRegisterAccess>& out) {
    constexpr std::size_t Batch = 4096;
    TControlDecoder decoder;
    for (std::size_t i = 0; i < frames.size(); i += Batch) {
        decoder.Feed(std::span<const TControlBits>(frames.data() + i, std::min(Batch, frames.size() - i)), out);
    }
    decoder.Finish(out);
}

void BM_ControlTraffic(benchmark::State& state) {
    const auto& streams = TrafficStreams();
    std::vector<TRegisterAccess> out;
    out.reserve(1 << 16);
    for (auto _ : state) {
        for (const auto& frames : streams) {
            out.clear();
            DecodeStream(frames, out);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(TrafficFrames()));
}
BENCHMARK(BM_ControlTraffic)->Unit(benchmark::kMillisecond);

void BM_ControlIdle(benchmark::State& state) {
    // Position frames only: CDM 0 throughout, CDS toggling as a busy line might.
    std::vector<TControlBits> frames(TrafficFrames());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        frames[i].Frame = i;
        frames[i].Time = static_cast<double>(i) * 1e-5;
        frames[i].Cdm = 0;
        frames[i].Cds = static_cast<std::int8_t>((i >> 3) & 1U);
    }
    std::vector<TRegisterAccess> out;
    for (auto _ : state) {
        out.clear();
        DecodeStream(frames, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames.size()));
}
BENCHMARK(BM_ControlIdle)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    TrafficStreams(); // made before timing
    TSummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double frames = static_cast<double>(TrafficFrames());
    reporter.PrintSummaryHeader();
    reporter.PrintTime("BM_ControlTraffic", "register traffic, per frame", frames, "ns", 5.0);
    reporter.PrintTime("BM_ControlIdle", "no control traffic, per frame", frames, "ns", 5.0);
    return 0;
}
