// The gauge as the window draws it. DrawNeedle through the real window (clear,
// transform, repaint of the view) against pixman doing the same frame, and the
// whole per-reading path: value frames written on a pseudo-terminal, received
// by the window's serial component, parsed, shown on the readout and the needle.
#include <benchmark/benchmark.h>

#include "Application.h"
#include "PixmanNeedle.h"
#include "UVORTA_Display.h"

#include <QDir>
#include <QTemporaryDir>

#include <memory>

namespace {

using namespace bench_needle;

std::unique_ptr<TFKAVRO> GWindow;
QTemporaryDir* GFolder = nullptr;

TFKAVRO& Window() {
    if (!GWindow) {
        QDir::setCurrent(VORTA_SOURCE_DIR);
        GFolder = new QTemporaryDir;
        SetAppFolder(GFolder->path().toStdString());
        GWindow = std::make_unique<TFKAVRO>();
        GWindow->show();
        QCoreApplication::processEvents();
    }
    return *GWindow;
}

void BM_DrawNeedle_Window(benchmark::State& State) {
    TFKAVRO& W = Window();
    int64_t Step = 0;
    for (auto _ : State) W.DrawNeedle(SweepAngle(Step++));
}
BENCHMARK(BM_DrawNeedle_Window)->Unit(benchmark::kMicrosecond);

void BM_DrawNeedle_Pixman(benchmark::State& State) {
    PixmanNeedle P;
    int64_t Step = 0;
    for (auto _ : State) {
        P.SetAngle(SweepAngle(Step++));
        P.Fill();
        P.Composite();
        benchmark::DoNotOptimize(P.GaugeBits.data());
    }
}
BENCHMARK(BM_DrawNeedle_Pixman)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication App(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    GWindow.reset();
    delete GFolder;
    return 0;
}
