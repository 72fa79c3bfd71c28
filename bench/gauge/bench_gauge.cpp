// The gauge as the window draws it. DrawNeedle through the real window (clear,
// transform, repaint of the view) against pixman doing the same frame, and the
// whole per-reading path: value frames written on a pseudo-terminal, received
// by the window's serial component, parsed, shown on the readout and the needle.
#include <benchmark/benchmark.h>

#include "Application.h"
#include "PixmanNeedle.h"
#include "UVORTA_Display.h"
#include "VaComm.h"
#include "iSevenSegmentAnalog.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "QtBenchMain.h"

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

void BM_DrawNeedle_Pixman(benchmark::State& State) { RunPixmanFrames(State, false); }
BENCHMARK(BM_DrawNeedle_Pixman)->Unit(benchmark::kMicrosecond);

void BM_DrawNeedle_PixmanBounds(benchmark::State& State) { RunPixmanFrames(State, true); }
BENCHMARK(BM_DrawNeedle_PixmanBounds)->Unit(benchmark::kMicrosecond);

double ProcessCpuSeconds() {
    rusage U{};
    getrusage(RUSAGE_SELF, &U);
    return double(U.ru_utime.tv_sec + U.ru_stime.tv_sec) + double(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

// The whole per-reading path: value frames written on a pseudo-terminal as
// fast as it takes them, received by the window's serial component, parsed,
// shown on the readout and drawn as the needle with an immediate repaint.
void BM_ReadingPath_Window(benchmark::State& State) {
    TFKAVRO& W = Window();
    const int Master = posix_openpt(O_RDWR | O_NOCTTY);
    if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0) {
        State.SkipWithError("no pseudo-terminal");
        return;
    }
    termios T{};
    tcgetattr(Master, &T);
    cfmakeraw(&T);
    tcsetattr(Master, TCSANOW, &T);
    W.VaComm1->SetDeviceName(ptsname(Master));
    W.VaComm1->Open();
    W.lbeMode->setText("0");
    long Shown = 0;
    W.ssaValue->OnValueChange = [&](TiSevenSegmentDisplay*) { ++Shown; };

    // A batch of frames with readings that all differ from their neighbours.
    constexpr int Batch = 50;
    std::string Frames;
    for (int i = 0; i < Batch; ++i) {
        char Text[16];
        std::snprintf(Text, sizeof Text, "%.2f", -90.0 + i * 3.7);
        Frames += std::string("\x02") + Text + "B1\x17$";
    }
    const double Cpu0 = ProcessCpuSeconds();
    long Frames0 = Shown;
    for (auto _ : State) {
        const long Target = Shown + Batch;
        if (write(Master, Frames.data(), Frames.size()) != static_cast<ssize_t>(Frames.size())) {
            State.SkipWithError("short write");
            break;
        }
        while (Shown < Target) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    const double Frames1 = double(Shown - Frames0);
    State.SetItemsProcessed(static_cast<int64_t>(Frames1));
    State.counters["cpu_us_per_frame"] = Frames1 > 0 ? (ProcessCpuSeconds() - Cpu0) * 1e6 / Frames1 : 0;
    W.ssaValue->OnValueChange = nullptr;
    W.VaComm1->Close();
    close(Master);
}
BENCHMARK(BM_ReadingPath_Window)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return RunQtBenchmarks<TApplication>(argc, argv, [] {
        GWindow.reset();
        delete GFolder;
    });
}
