// Throughput of the signal readers' inner loops: the scan of inflated 1-byte sigrok samples for
// changes of the two chosen bits (samples/s; goal 1 G/s on one core), over inputs of several
// change densities and with the other six bits toggling or still, and the merge of two Saleae
// binary channel files into edges (transitions/s; goal 50 M/s), from memory.

#include "capture/signal/saleaebinary.h"
#include "capture/signal/sigroksession.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t SampleBytes = 16 << 20;
constexpr int InputsPerCase = 4;

// Samples whose bits 0 and 1 change about once every `period` samples (0: never), the other
// bits random (`noise`) or constant.
std::vector<std::uint8_t> MakeSamples(std::size_t period, bool noise, std::uint32_t seed) {
    std::vector<std::uint8_t> samples(SampleBytes);
    std::mt19937 random(seed);
    std::uint8_t chosen = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (period != 0 && random() % period == 0) {
            chosen = static_cast<std::uint8_t>((chosen + 1 + random() % 3) & 3);
        }
        const std::uint8_t others = noise ? static_cast<std::uint8_t>(random() & 0xFC) : 0xA8;
        samples[i] = static_cast<std::uint8_t>(others | chosen);
    }
    return samples;
}

// Scans the inputs in turn, in blocks of 256 KiB as the reader inflates them, for the
// channels in bits 0 and 1.
void ScanInputs(benchmark::State& state, const std::vector<std::vector<std::uint8_t>>& inputs) {
    std::vector<std::uint32_t> changes;
    changes.reserve(1 << 20);
    std::size_t changeCount = 0;
    int which = 0;
    constexpr std::size_t Block = 256 * 1024;
    for (auto _ : state) {
        const std::vector<std::uint8_t>& samples = inputs[static_cast<std::size_t>(which++ % InputsPerCase)];
        std::uint8_t previous = samples[0];
        for (std::size_t at = 0; at < samples.size(); at += Block) {
            changes.clear();
            ScanSampleChanges(samples.data() + at, Block, previous, 0x03, changes);
            previous = samples[at + Block - 1];
            changeCount += changes.size();
        }
        benchmark::DoNotOptimize(changes.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(SampleBytes));
    state.counters["changes/iteration"] =
        static_cast<double>(changeCount) / static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
}

void BM_SigrokScan(benchmark::State& state) {
    const auto period = static_cast<std::size_t>(state.range(0));
    const bool noise = state.range(1) != 0;
    std::vector<std::vector<std::uint8_t>> inputs;
    for (int k = 0; k < InputsPerCase; ++k) {
        inputs.push_back(MakeSamples(period, noise, 1000 + static_cast<std::uint32_t>(k)));
    }
    ScanInputs(state, inputs);
}
BENCHMARK(BM_SigrokScan)
    ->ArgNames({"period", "noise"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({10000, 1})
    ->Args({1000, 0})
    ->Args({100, 1})
    ->Args({16, 1})
    ->Args({4, 0})
    ->Unit(benchmark::kMillisecond);

// Samples as a BiSS-C link gives them at 25 MHz: a 2.5 MHz clock on bit 0 (10 samples a
// period), 64 clocks every 1250 samples (50 us), random data bits on bit 1 that change with the
// clock, and bits 2 to 7 still: the density of bench/signal-throughput.sh's session.
std::vector<std::uint8_t> MakeBissSamples(std::uint32_t seed) {
    std::vector<std::uint8_t> samples(SampleBytes, 0x03);
    std::mt19937 random(seed);
    for (std::size_t frame = 0; frame + 1250 <= samples.size(); frame += 1250) {
        for (std::size_t k = 0; k < 64; ++k) {
            const std::uint8_t data = (random() & 1) != 0 ? 0x02 : 0x00;
            for (std::size_t i = 0; i < 10; ++i) {
                samples[frame + 100 + 10 * k + i] = static_cast<std::uint8_t>((i < 5 ? 0x00 : 0x01) | data);
            }
        }
    }
    return samples;
}

void BM_SigrokScanBiss(benchmark::State& state) {
    std::vector<std::vector<std::uint8_t>> inputs;
    for (int k = 0; k < InputsPerCase; ++k) {
        inputs.push_back(MakeBissSamples(2000 + static_cast<std::uint32_t>(k)));
    }
    ScanInputs(state, inputs);
}
BENCHMARK(BM_SigrokScanBiss)->Unit(benchmark::kMillisecond);

std::string BinaryChannel(std::size_t transitions, double step, std::uint32_t seed) {
    std::string s = "<SALEAE>";
    const auto put = [&s](const auto& v) { s.append(reinterpret_cast<const char*>(&v), sizeof v); };
    put(std::int32_t{0});
    put(std::int32_t{0});
    put(std::uint32_t{1});
    put(0.0);
    put(static_cast<double>(transitions + 2) * step);
    put(std::uint64_t{transitions});
    std::mt19937 random(seed);
    double time = 0.0;
    for (std::size_t i = 0; i < transitions; ++i) {
        time += step * (0.5 + static_cast<double>(random() % 100) / 100.0);
        put(time);
    }
    return s;
}

void BM_SaleaeBinaryMerge(benchmark::State& state) {
    constexpr std::size_t Transitions = 2000000;
    const std::string clock = BinaryChannel(Transitions, 1e-7, 1);
    const std::string data = BinaryChannel(Transitions / 4, 4e-7, 2);
    std::vector<TLogicEdge> edges;
    std::size_t edgeCount = 0;
    for (auto _ : state) {
        std::vector<TSaleaeBinaryChannel> channels;
        for (const std::string* file : {&clock, &data}) {
            channels.push_back({"digital.bin", [file] { return std::make_unique<TMemoryByteSource>(*file); }});
        }
        const auto source = OpenSaleaeBinarySource(std::move(channels));
        source->SelectChannels(0, 1);
        while (source->Read(edges)) {
            edgeCount += edges.size();
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(Transitions + Transitions / 4));
    state.counters["edges/iteration"] =
        static_cast<double>(edgeCount) / static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
}
BENCHMARK(BM_SaleaeBinaryMerge)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
