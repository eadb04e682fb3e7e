// Benchmarks of the Calculate handler on the real window, drawn by Qt's offscreen platform:
// one click with the input as it stands (decode, result fields, verdict panel and the five
// strips), one click on a changing frame, a click followed by a synchronous repaint of the
// window, and a step of the position length (denominator, then the same decode).

#include "window/application.h"
#include "bench_summary.h"
#include "window/main.h"
#include "window/spinedit.h"

#include <benchmark/benchmark.h>

#include <QLineEdit>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstdio>

namespace {

TForm1* form = nullptr;

QLineEdit* InputEdit() { return form->findChild<QLineEdit*>(QStringLiteral("edInput")); }

void BM_CalculateClick(benchmark::State& state) {
    InputEdit()->setText(QStringLiteral("C004C9BA71753000"));
    for (auto _ : state) {
        form->btnCalculateClick();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CalculateClick)->Unit(benchmark::kMicrosecond);

void BM_CalculateClick_Mix(benchmark::State& state) {
    // Valid, flagged, bad CRC, short (other ACK length: the strips move), invalid, no start bit.
    const QStringList inputs = {
        QStringLiteral("C004C9BA71753000"), QStringLiteral("C004C9BA71548000"),
        QStringLiteral("C004C9BA81753000"), QStringLiteral("4C9BA71753"),
        QStringLiteral("0x c004 c9ba 7175 3000"), QStringLiteral("G1"),
        QStringLiteral("FFFFFFFFFFFFFFFF"), QStringLiteral("0000000000000001"),
    };
    QLineEdit* input = InputEdit();
    qsizetype i = 0;
    for (auto _ : state) {
        input->setText(inputs[i++ % inputs.size()]);
        form->btnCalculateClick();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CalculateClick_Mix)->Unit(benchmark::kMicrosecond);

void BM_CalculateClick_Repaint(benchmark::State& state) {
    InputEdit()->setText(QStringLiteral("C004C9BA71753000"));
    for (auto _ : state) {
        form->btnCalculateClick();
        form->repaint();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CalculateClick_Repaint)->Unit(benchmark::kMicrosecond);

void BM_PositionLengthStep(benchmark::State& state) {
    InputEdit()->setText(QStringLiteral("C004C9BA71753000"));
    auto* length = form->findChild<TSpinEdit*>(QStringLiteral("seDataLen"));
    std::int32_t n = 20;
    for (auto _ : state) {
        length->setValue(n); // raises changed(), which runs seDataLenChange
        n = n == 32 ? 20 : n + 1;
    }
    length->setValue(26);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PositionLengthStep)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    // No display is needed: the window is drawn into memory.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    TApplication application(argc, argv);
    TForm1 window;
    window.show();
    QApplication::processEvents();
    form = &window;

    TSummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    reporter.PrintSummaryHeader();
    reporter.PrintTime("BM_CalculateClick", "Calculate click, default frame", 1, "us", 1000.0);
    reporter.PrintTime("BM_CalculateClick_Mix", "Calculate click, mix of 8 inputs", 1, "us", 1000.0);
    reporter.PrintTime("BM_CalculateClick_Repaint", "Calculate click + synchronous repaint", 1, "us", 1000.0);
    reporter.PrintTime("BM_PositionLengthStep", "position length step (+ decode)", 1, "us", 1000.0);
    return 0;
}
