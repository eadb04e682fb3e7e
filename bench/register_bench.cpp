// What decoding the control channel adds to decoding a signal capture: the same captures,
// read from memory by the capture library and every frame's position decoded, once without and
// once with the control bits taken from each batch and fed to the control decoder. The
// captures are 16 different streams of register traffic (every reply lag, both readings of
// the header CRC, random reads, writes, sequential accesses and commands to two slaves),
// carried by position frames of the window's layout on MA and SLO at 1 MHz. Two inputs: the
// changes of MA and SLO already in memory (the burst decoder and the frame decode alone, the
// hardest case for the goal) and the same captures as VCD text in memory (a file's work).
// Run with repetitions; the summary compares the medians of one run. Goal: under 5 % more.
#include "bench_summary.h"
#include "capture/capture.h"
#include "capture/control/controlframes.h"
#ifdef CORVANE_REGISTER_SINK
#include "cli/registersink.h"
#endif
#include "controlwaveform.h"
#include "capture/signal/signalreader.h"
#include "waveformsource.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace {

using namespace controlmodel;

constexpr int Streams = 16;
constexpr std::size_t BatchFrames = 1024;

struct TStream {
    std::vector<TLogicEdge> Edges; // MA and SLO merged
    std::uint8_t Initial = 0;
    double End = 0.0;
    double SamplePeriod = 0.0;
    std::string Vcd;
    std::size_t Frames = 0;
};

const std::vector<TStream>& BenchStreams() {
    static const std::vector<TStream> streams = [] {
        std::vector<TStream> all;
        std::mt19937 random(20240612);
        for (int s = 0; s < Streams; ++s) {
            TBus bus;
            bus.MasterCrcCoversCts = s % 2 == 1;
            bus.FirstFrame = 1;
            for (const int id : {1, 6}) {
                TSlave& slave = bus.AddSlave(id, (s / 2) % 4);
                for (std::uint8_t& r : slave.Registers) {
                    r = static_cast<std::uint8_t>(random());
                }
            }
            std::vector<TStep> script;
            for (int i = 0; i < 30; ++i) {
                const int slave = random() % 2 == 0 ? 1 : 6;
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
            const TRun run = bus.Run(script);
            const TModelCapture model = RunLink(controlwaveform::ControlLink(),
                                                controlwaveform::PositionFrames(run.Frames, TFrameLayoutParams{},
                                                                                static_cast<std::uint32_t>(s)));
            TStream stream;
            TWaveformSource source(model.Wave);
            source.SelectChannels(0, 1);
            stream.Edges = source.Edges();
            stream.Initial = source.InitialLevels();
            stream.End = source.EndTime();
            stream.SamplePeriod = source.SamplePeriod();
            stream.Vcd = WriteVcd(model.Wave);
            stream.Frames = run.Frames.size();
            all.push_back(std::move(stream));
        }
        return all;
    }();
    return streams;
}

std::size_t TotalFrames() {
    std::size_t frames = 0;
    for (const TStream& s : BenchStreams()) {
        frames += s.Frames;
    }
    return frames;
}

// The changes of a stream handed out from memory, 65536 at a time, without copying them first.
class TEdgeSource final : public TLogicSource {
public:
    explicit TEdgeSource(const TStream& stream) : FStream(stream) {}
    const std::vector<std::string>& ChannelNames() const override { return FNames; }
    void SelectChannels(std::size_t, std::size_t) override {}
    std::uint8_t InitialLevels() const override { return FStream.Initial; }
    double SamplePeriod() const override { return FStream.SamplePeriod; }
    bool Read(std::vector<TLogicEdge>& edges) override {
        const std::size_t n = std::min<std::size_t>(65536, FStream.Edges.size() - FOffset);
        edges.assign(FStream.Edges.begin() + static_cast<std::ptrdiff_t>(FOffset),
                     FStream.Edges.begin() + static_cast<std::ptrdiff_t>(FOffset + n));
        FOffset += n;
        return n > 0;
    }
    double EndTime() const override { return FStream.End; }
    std::uint64_t BytesConsumed() const override { return FOffset * sizeof(TLogicEdge); }

private:
    const TStream& FStream;
    std::vector<std::string> FNames{"MA", "SLO"};
    std::size_t FOffset = 0;
};

enum class TInput { inEdges, inVcd };

std::unique_ptr<TCaptureReader> OpenStream(const TStream& stream, TInput input,
                                           std::unique_ptr<TMemoryByteSource>& bytes) {
    TReaderOptions options;
    if (input == TInput::inEdges) {
        return std::make_unique<TSignalCaptureReader>("edges", nullptr, std::make_unique<TEdgeSource>(stream), options);
    }
    options.Format = "vcd";
    bytes = std::make_unique<TMemoryByteSource>(stream.Vcd);
    return OpenCaptureReader(*bytes, options);
}

// Reads and decodes every stream: each ckBits frame's bits and position, and with `registers`
// each batch's control bits into the control decoder, from the same decode.
void DecodeStreams(benchmark::State& state, TInput input, bool registers) {
    const TFrameLayout layout;
    TCaptureBatch batch;
    std::vector<TControlBits> bits;
    std::vector<TRegisterAccess> accesses;
    bits.reserve(BatchFrames);
    accesses.reserve(4096);
    std::uint64_t decoded = 0;
    for (auto _ : state) {
        decoded = 0;
        std::uint64_t sum = 0;
        for (const TStream& stream : BenchStreams()) {
            std::unique_ptr<TMemoryByteSource> bytes;
            const std::unique_ptr<TCaptureReader> reader = OpenStream(stream, input, bytes);
            TControlDecoder control;
            accesses.clear();
            for (;;) {
                batch.Clear();
                if (!reader->ReadBatch(batch, BatchFrames)) {
                    break;
                }
                bits.clear();
                TFrameBits frameBits;
                for (std::size_t i = 0; i < batch.Frames.size(); ++i) {
                    const TCaptureFrame& frame = batch.Frames[i];
                    if (SignalFrameBits(batch, frame, frameBits)) {
                        const TFrameFields fields = DecodeFrameBits(layout, frameBits);
                        sum += fields.Position + fields.CrcOk;
                        ++decoded;
                        if (registers) {
                            bits.push_back(ControlBitsOf(frame, batch.Timing[i], &frameBits, &fields, 0));
                        }
                    } else if (registers) {
                        bits.push_back(ControlBitsOf(frame, batch.Timing[i], nullptr, nullptr, 0));
                    }
                }
                if (registers) {
                    control.Feed(bits, accesses);
                }
            }
            if (registers) {
                control.Finish(accesses);
                benchmark::DoNotOptimize(accesses.data());
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    if (decoded != TotalFrames()) {
        state.SkipWithError("frames were lost");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * TotalFrames()));
}

#ifdef CORVANE_REGISTER_SINK
// The register sink of corvane-decode --registers on the same streams, its two sides run one
// after the other as the pipeline runs them with one thread: each batch's frames decoded into
// control bits, then fed to the control decoder and written as CSV records into memory.
void SinkStreams(benchmark::State& state, TInput input) {
    const std::vector<std::string> names(BenchStreams().size(), "bench.vcd");
    std::uint64_t frames = 0;
    for (auto _ : state) {
        frames = 0;
        TRegisterSink sink(TOutputFormat::ofCsv, TFrameLayoutParams{}, false, names);
        TStringSinkOutput out;
        const std::unique_ptr<TBatchResult> result = sink.NewResult();
        for (std::size_t s = 0; s < BenchStreams().size(); ++s) {
            std::unique_ptr<TMemoryByteSource> bytes;
            const std::unique_ptr<TCaptureReader> reader = OpenStream(BenchStreams()[s], input, bytes);
            // A reader of changes in memory numbers bursts as a signal capture does.
            const TSinkInput in{names[s], reader.get(), s};
            sink.BeginInput(in, out);
            TCaptureBatch batch;
            for (std::uint64_t sequence = 0;; ++sequence) {
                batch.Clear();
                if (!reader->ReadBatch(batch, BatchFrames)) {
                    break;
                }
                frames += batch.Frames.size();
                sink.Process(batch, *result);
                sink.Consume(batch, *result, sequence, in, out);
            }
            sink.EndInput(in, out);
        }
        sink.Finish(frames, out);
        benchmark::DoNotOptimize(out.Text.data());
    }
    if (frames != TotalFrames()) {
        state.SkipWithError("frames were lost");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * TotalFrames()));
}

void BM_EdgesSink(benchmark::State& state) { SinkStreams(state, TInput::inEdges); }
BENCHMARK(BM_EdgesSink)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
#endif

void BM_EdgesPlain(benchmark::State& state) { DecodeStreams(state, TInput::inEdges, false); }
void BM_EdgesRegisters(benchmark::State& state) { DecodeStreams(state, TInput::inEdges, true); }
void BM_VcdPlain(benchmark::State& state) { DecodeStreams(state, TInput::inVcd, false); }
void BM_VcdRegisters(benchmark::State& state) { DecodeStreams(state, TInput::inVcd, true); }

// The added work alone: the control bits of batches already read and decoded, fed to the
// control decoder. Less noisy than the difference of the two runs above on a busy machine.
struct TDecodedBatch {
    TCaptureBatch Batch;
    std::vector<TFrameBits> Bits;
    std::vector<TFrameFields> Fields;
    std::vector<bool> HasBits;
};

const std::vector<std::vector<TDecodedBatch>>& DecodedBatches() {
    static const std::vector<std::vector<TDecodedBatch>> all = [] {
        std::vector<std::vector<TDecodedBatch>> streams;
        const TFrameLayout layout;
        for (const TStream& stream : BenchStreams()) {
            std::unique_ptr<TMemoryByteSource> bytes;
            const std::unique_ptr<TCaptureReader> reader = OpenStream(stream, TInput::inEdges, bytes);
            std::vector<TDecodedBatch> batches;
            for (;;) {
                TDecodedBatch d;
                if (!reader->ReadBatch(d.Batch, BatchFrames)) {
                    break;
                }
                for (const TCaptureFrame& frame : d.Batch.Frames) {
                    TFrameBits bits;
                    const bool has = SignalFrameBits(d.Batch, frame, bits);
                    d.Bits.push_back(bits);
                    d.Fields.push_back(has ? DecodeFrameBits(layout, bits) : TFrameFields{});
                    d.HasBits.push_back(has);
                }
                batches.push_back(std::move(d));
            }
            streams.push_back(std::move(batches));
        }
        return streams;
    }();
    return all;
}

void BM_RegisterStep(benchmark::State& state) {
    std::vector<TControlBits> bits;
    std::vector<TRegisterAccess> accesses;
    bits.reserve(BatchFrames);
    accesses.reserve(4096);
    for (auto _ : state) {
        for (const std::vector<TDecodedBatch>& stream : DecodedBatches()) {
            TControlDecoder control;
            accesses.clear();
            for (const TDecodedBatch& d : stream) {
                bits.clear();
                for (std::size_t i = 0; i < d.Batch.Frames.size(); ++i) {
                    bits.push_back(d.HasBits[i] ? ControlBitsOf(d.Batch.Frames[i], d.Batch.Timing[i], &d.Bits[i],
                                                                &d.Fields[i], 0)
                                                : ControlBitsOf(d.Batch.Frames[i], d.Batch.Timing[i], nullptr,
                                                                nullptr, 0));
                }
                control.Feed(bits, accesses);
            }
            control.Finish(accesses);
            benchmark::DoNotOptimize(accesses.data());
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * TotalFrames()));
}

BENCHMARK(BM_EdgesPlain)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_EdgesRegisters)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_VcdPlain)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_VcdRegisters)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_RegisterStep)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    DecodedBatches(); // made before timing
    TSummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double frames = static_cast<double>(TotalFrames());
    reporter.PrintSummaryHeader();
    std::printf("  %-40s %10.0f\n", "frames per run", frames);
    reporter.PrintTime("BM_EdgesPlain", "changes in memory, per frame", frames, "ns");
    reporter.PrintTime("BM_EdgesRegisters", "  with registers, per frame", frames, "ns");
    const auto added = [&](const char* label, double with, double without) {
        if (with > 0 && without > 0) {
            const double percent = (with / without - 1) * 100;
            std::printf("  %-40s %+10.2f %%   (goal < 5 %%: %s)\n", label, percent, percent < 5 ? "met" : "MISSED");
        }
    };
    added("  added by registers", reporter.Time("BM_EdgesRegisters"), reporter.Time("BM_EdgesPlain"));
    reporter.PrintTime("BM_EdgesSink", "  the register sink, per frame", frames, "ns");
    added("  added by the sink", reporter.Time("BM_EdgesSink"), reporter.Time("BM_EdgesPlain"));
    reporter.PrintTime("BM_VcdPlain", "VCD text in memory, per frame", frames, "ns");
    reporter.PrintTime("BM_VcdRegisters", "  with registers, per frame", frames, "ns");
    added("  added by registers", reporter.Time("BM_VcdRegisters"), reporter.Time("BM_VcdPlain"));
    reporter.PrintTime("BM_RegisterStep", "the added work alone, per frame", frames, "ns");
    added("  as a share of changes in memory",
          reporter.Time("BM_EdgesPlain") + reporter.Time("BM_RegisterStep"), reporter.Time("BM_EdgesPlain"));
    return 0;
}
