// corvane-view: opening a large hexadecimal capture (read, decode, store, envelope) and
// redrawing its plot at every zoom. Goals on a 2-core machine: 10 million frames open in at
// most 3 s; a redraw at most 16 ms at any zoom; at most 48 bytes a frame in memory.
//   view_bench [--benchmark_filter=...]   (the capture is written to a temporary file once)
#include "view/captureloader.h"
#include "view/envelope.h"
#include "view/plotpainter.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

// A hexadecimal capture of `count` frames of the window's layout: positions spread over the
// whole range by xorshift, one frame in 64 with a wrong CRC. Written once per size.
std::string CaptureFile(std::uint64_t count) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("corvane-view-bench-" + std::to_string(count) + ".txt")).string();
    if (std::filesystem::exists(path)) {
        return path;
    }
    const TFrameLayout layout;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (std::uint64_t i = 0; i < count; ++i) {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        const std::uint64_t r = state * 0x2545F4914F6CDD1DULL;
        const std::uint64_t position = r & 0x3FFFFFF;
        const auto status = static_cast<std::uint8_t>(3);
        std::uint16_t crc = static_cast<std::uint16_t>(layout.CalcCrc(position, status) ^ 0x3F);
        if (i % 64 == 63) {
            crc ^= 1;
        }
        // 13 ACK bits (1 1 0 ... 0), start 1, CDS 0, 26 position, 2 status, 6 CRC, zeros.
        std::uint64_t word = (std::uint64_t{3} << 62) | (std::uint64_t{1} << 50);
        word |= position << 23;
        word |= std::uint64_t{status} << 21;
        word |= std::uint64_t{crc} << 15;
        std::fprintf(out, "%016llX\n", static_cast<unsigned long long>(word));
    }
    std::fclose(out);
    return path;
}

void BM_OpenHexCapture(benchmark::State& state) {
    const auto frames = static_cast<std::uint64_t>(state.range(0));
    TLoadSettings settings;
    settings.File = CaptureFile(frames);
    std::size_t bytes = 0;
    for (auto _ : state) {
        TCapture capture;
        TLoadProgress progress;
        const std::atomic<bool> cancel{false};
        std::string error;
        if (LoadCapture(settings, capture, progress, cancel, error) != TLoadResult::lrOk) {
            state.SkipWithError(error.c_str());
            return;
        }
        TEnvelope envelope;
        envelope.Build(capture.Store);
        bytes = capture.Store.MemoryBytes() + envelope.MemoryBytes();
        benchmark::DoNotOptimize(envelope.Span(0, frames).Max);
    }
    state.counters["bytes_per_frame"] = static_cast<double>(bytes) / static_cast<double>(frames);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * frames));
}
BENCHMARK(BM_OpenHexCapture)->Arg(1000)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond)
    ->UseRealTime()->MeasureProcessCPUTime()->Iterations(1)->Repetitions(3);

// A redraw of a 1600 x 800 plot of 10 million frames, zoomed to show 10^-k of them.
void BM_RedrawPlot(benchmark::State& state) {
    static TCaptureStore store;
    static TEnvelope envelope;
    constexpr std::size_t Frames = 10000000;
    if (store.Size() == 0) {
        TStoredFrame f;
        double value = 0;
        std::uint64_t s = 88172645463325252ULL;
        for (std::size_t i = 0; i < Frames; ++i) {
            s ^= s << 13;
            s ^= s >> 7;
            s ^= s << 17;
            value += static_cast<double>(s % 201) - 100.0;
            f.Value = value;
            f.CrcOk = s % 97 != 0;
            f.Error = s % 1013 == 0;
            store.Append(f, "C004C9BA71753000");
        }
        envelope.Build(store);
    }
    TPlotScene scene;
    scene.Store = &store;
    scene.Envelope = &envelope;
    scene.View = FitScene(store, {});
    scene.JumpThreshold = 150.0;
    const double span = static_cast<double>(Frames) / std::pow(10.0, static_cast<double>(state.range(0)));
    scene.View.X0 = Frames / 3.0;
    scene.View.X1 = scene.View.X0 + span;
    QImage image(1600, 800, QImage::Format_ARGB32_Premultiplied);
    QPalette palette;
    for (auto _ : state) {
        QPainter painter(&image);
        PaintPlot(painter, image.rect(), scene, palette);
    }
}
BENCHMARK(BM_RedrawPlot)->DenseRange(0, 7)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
