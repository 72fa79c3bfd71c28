// SPDX-License-Identifier: GPL-3.0-or-later
// The gauge as the window draws it, each figure beside its peer or its floor
// in the same run:
// - DrawNeedle through the real window (clear, transform) against pixman
//   doing the same frame, composited over the needle's transformed bounds
//   only, as the raster core cuts its area (the peer);
// - a repaint of the dial view with its readout, carried out by the event
//   loop as on screen, against a plain widget that shows a ready-made picture
//   of the same size through the same event loop (a floor: the least Qt
//   lets a repaint cost);
// - the per-reading path: value frames written on a pseudo-terminal one at a
//   time at a fixed rate, each its own receive event, received by the
//   window's serial component, parsed, shown on the readout and the needle
//   and painted by the event loop; the processor time of the whole process
//   and of the X server per reading (all-in, and without the log line of
//   each frame, which is the gauge's share), against the same stream with
//   nothing shown (a floor: reception and parsing alone);
// - the same against the simulated sensor (vorta-sim --rate 1000, streaming
//   after "#READ"), a process of its own, so that only the console's side is
//   counted. The console against a peer program on that stream is
//   console_stream_bench.
// A summary at the end prints each figure, its peer or floor and the ratio.
#include <benchmark/benchmark.h>

#include "Application.h"
#include "GR32_Image.h"
#include "PixmanNeedle.h"
#include "UVORTA_Display.h"
#include "VaComm.h"
#include "WindowProbe.h"
#include "iSevenSegmentAnalog.h"

#include <fcntl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <map>
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

// Figures kept for the closing summary, in microseconds.
std::map<std::string, double> GFigures;

double Mean(const benchmark::State& State, double Seconds) {
    return State.iterations() > 0 ? Seconds * 1e6 / double(State.iterations()) : 0;
}

// This process's processor time and the X server's, which draws for it.
double ProcessCpuSeconds() {
    timespec T{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &T);
    return double(T.tv_sec) + double(T.tv_nsec) / 1e9 + XServerCpuSeconds();
}

void BM_DrawNeedle_Window(benchmark::State& State) {
    TFKAVRO& W = Window();
    TImage32* View = Control<TImage32>(W, "Dst");
    int64_t Step = 0;
    QElapsedTimer Clock;
    Clock.start();
    // A needle is drawn when its bitmap is read (or at the frame): reading it
    // after each one times the drawing the peer does.
    for (auto _ : State) {
        W.DrawNeedle(SweepAngle(Step++));
        benchmark::DoNotOptimize(View->Bitmap()->Bits());
    }
    GFigures["needle"] = Mean(State, double(Clock.nsecsElapsed()) / 1e9);
    // Leave no frame pending for the benchmarks that follow.
    QCoreApplication::processEvents();
}
BENCHMARK(BM_DrawNeedle_Window)->Unit(benchmark::kMicrosecond);

void BM_DrawNeedle_PixmanBounds(benchmark::State& State) {
    QElapsedTimer Clock;
    Clock.start();
    RunPixmanFrames(State, true);
    GFigures["needle_pixman"] = Mean(State, double(Clock.nsecsElapsed()) / 1e9);
}
BENCHMARK(BM_DrawNeedle_PixmanBounds)->Unit(benchmark::kMicrosecond);

// Counts the paint events a widget receives.
class TPaintCounter : public QObject {
  public:
    long Paints = 0;
    bool eventFilter(QObject*, QEvent* E) override {
        if (E->type() == QEvent::Paint) ++Paints;
        return false;
    }
};

// Turns the event loop until the widget has been painted once more.
void PaintThroughEventLoop(const TPaintCounter& Counter) {
    const long Target = Counter.Paints + 1;
    while (Counter.Paints < Target)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// One screen frame of the gauge while readings stream, as the window asks
// for it: the view's buffer rebuilt (background, bitmap with the needle, dial
// layer) and shown, the readout painted with a new value, by the event loop.
void BM_Repaint_Window(benchmark::State& State) {
    TFKAVRO& W = Window();
    TPaintCounter Counter;
    Control<TImage32>(W, "Dst")->installEventFilter(&Counter);
    QCoreApplication::processEvents();
    int64_t Step = 0;
    QElapsedTimer Clock;
    Clock.start();
    for (auto _ : State) {
        W.ShowReading(double(Step++ % 1000) / 10.0);
        Internals::FNeedlePending(W) = true; // as after DrawNeedle, without its cost
        Control<TImage32>(W, "Dst")->SetBufferValid(false);
        W.FlushFrame();
        PaintThroughEventLoop(Counter);
        // Whatever else this frame's repaint leaves pending belongs to it.
        QCoreApplication::processEvents();
    }
    GFigures["repaint"] = Mean(State, double(Clock.nsecsElapsed()) / 1e9);
    State.counters["view_paints_per_frame"] =
        double(Counter.Paints) / double(std::max<int64_t>(1, State.iterations()));
    Control<TImage32>(W, "Dst")->removeEventFilter(&Counter);
}
BENCHMARK(BM_Repaint_Window)->Unit(benchmark::kMicrosecond);

// The peer: a widget of the view's size in a window of its own that copies a
// ready picture to the screen on each paint, the least a repaint can cost.
class TPictureWidget : public QWidget {
  public:
    QImage Picture{GaugeW, GaugeH, QImage::Format_RGB32};
    explicit TPictureWidget(QWidget* Parent) : QWidget(Parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        Picture.fill(Qt::white);
        resize(GaugeW, GaugeH);
    }
    void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, Picture); }
};

void BM_Repaint_PlainWidget(benchmark::State& State) {
    QWidget Top;
    Top.resize(618, 721);
    auto* View = new TPictureWidget(&Top);
    View->move(200, 272);
    Top.show();
    TPaintCounter Counter;
    View->installEventFilter(&Counter);
    QCoreApplication::processEvents();
    QElapsedTimer Clock;
    Clock.start();
    for (auto _ : State) {
        View->update();
        PaintThroughEventLoop(Counter);
    }
    GFigures["repaint_plain"] = Mean(State, double(Clock.nsecsElapsed()) / 1e9);
}
BENCHMARK(BM_Repaint_PlainWidget)->Unit(benchmark::kMicrosecond);

// Readings at a fixed rate, one value frame per write and so one receive
// event each, into the window's serial component. Shown: the whole display
// path as the window has it; otherwise the value is only counted (reception
// and parsing alone). Returns the process's processor time per reading (µs).
enum TShown { shAll, shGauge, shNothing };
double RunReadingStream(benchmark::State& State, TShown Shown, int Rate, int Readings) {
    TFKAVRO& W = Window();
    const int Master = posix_openpt(O_RDWR | O_NOCTTY);
    if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0) {
        State.SkipWithError("no pseudo-terminal");
        return 0;
    }
    termios T{};
    tcgetattr(Master, &T);
    cfmakeraw(&T);
    tcsetattr(Master, TCSANOW, &T);
    Internals::VaComm1(W)->SetDeviceName(ptsname(Master));
    Internals::VaComm1(W)->Open();
    Control<TLabeledEdit>(W, "lbeMode")->setText("0");
    long Received = 0;
    const auto KeptLine = Internals::FReceiver(W)->OnLine;
    const auto KeptValue = Internals::FReceiver(W)->OnValue;
    if (Shown != shNothing) {
        Internals::FReceiver(W)->OnValue = [&](double Value) {
            ++Received;
            KeptValue(Value);
        };
        // The log line of each frame left out: what the gauge costs.
        if (Shown == shGauge)
            Internals::FReceiver(W)->OnLine = [&](const std::string& Line) {
                Internals::FExchange(W)->Received(Line);
            };
    } else {
        Internals::FReceiver(W)->OnLine = [](const std::string&) {};
        Internals::FReceiver(W)->OnValue = [&](double) { ++Received; };
    }

    double CpuPerReading = 0;
    for (auto _ : State) {
        const long Start = Received;
        long Written = 0;
        QEventLoop Loop;
        QTimer Pace;
        Pace.setTimerType(Qt::PreciseTimer);
        Pace.setInterval(1000 / Rate);
        QObject::connect(&Pace, &QTimer::timeout, [&] {
            char Text[32];
            const double Value = -90.0 + double(Written % 487) * 0.37;
            const int N = std::snprintf(Text, sizeof Text, "\x02%.2fB1\x17$", Value);
            if (write(Master, Text, size_t(N)) != N) Loop.exit(1);
            if (++Written == Readings) Pace.stop();
        });
        QTimer Check;
        QObject::connect(&Check, &QTimer::timeout, [&] {
            if (Received - Start >= Readings) Loop.exit(0);
        });
        QTimer::singleShot(Readings * 1000 / Rate + 5000, &Loop, [&] { Loop.exit(2); });
        const double Cpu0 = ProcessCpuSeconds();
        Pace.start();
        Check.start(10);
        const int Result = Loop.exec();
        CpuPerReading = (ProcessCpuSeconds() - Cpu0) * 1e6 / double(std::max(1L, Received - Start));
        if (Result != 0) State.SkipWithError("readings lost or not written");
    }
    State.counters["cpu_us_per_reading"] = CpuPerReading;
    Internals::FReceiver(W)->OnLine = KeptLine;
    Internals::FReceiver(W)->OnValue = KeptValue;
    Internals::VaComm1(W)->Close();
    close(Master);
    QCoreApplication::processEvents();
    return CpuPerReading;
}

// The simulated sensor streams at 1000 frames a second for Seconds; the
// console's process time per reading received (µs).
double RunSimStream(benchmark::State& State, TShown Shown, int Seconds) {
    TFKAVRO& W = Window();
    QProcess Sim;
    Sim.start(VORTA_SIM, {"--rate", "1000"});
    if (!Sim.waitForStarted() || !Sim.waitForReadyRead(5000)) {
        State.SkipWithError("vorta-sim did not start");
        return 0;
    }
    const QString Device = QString::fromLocal8Bit(Sim.readLine()).trimmed();
    Internals::VaComm1(W)->SetDeviceName(Device.toStdString());
    Internals::VaComm1(W)->Open();
    Control<TLabeledEdit>(W, "lbeMode")->setText("0");
    long Received = 0;
    const auto KeptLine = Internals::FReceiver(W)->OnLine;
    const auto KeptValue = Internals::FReceiver(W)->OnValue;
    if (Shown == shNothing) {
        Internals::FReceiver(W)->OnLine = [](const std::string&) {};
        Internals::FReceiver(W)->OnValue = [&](double) { ++Received; };
    } else {
        Internals::FReceiver(W)->OnValue = [&](double Value) {
            ++Received;
            KeptValue(Value);
        };
    }
    Internals::VaComm1(W)->WriteText("#READ\r\n");
    auto Wait = [](int Ms) {
        QEventLoop Loop;
        QTimer::singleShot(Ms, &Loop, &QEventLoop::quit);
        Loop.exec();
    };
    Wait(1000); // the stream under way, the first frames shown
    double CpuPerReading = 0;
    for (auto _ : State) {
        const long Start = Received;
        const double Cpu0 = ProcessCpuSeconds();
        Wait(Seconds * 1000);
        const long Got = Received - Start;
        CpuPerReading = (ProcessCpuSeconds() - Cpu0) * 1e6 / double(std::max(1L, Got));
        State.counters["readings_per_s"] = double(Got) / Seconds;
        if (Got < Seconds * 500) State.SkipWithError("fewer than half the readings arrived");
    }
    State.counters["cpu_us_per_reading"] = CpuPerReading;
    Internals::VaComm1(W)->WriteText("#STOP\r\n");
    Wait(100);
    Internals::FReceiver(W)->OnLine = KeptLine;
    Internals::FReceiver(W)->OnValue = KeptValue;
    Internals::VaComm1(W)->Close();
    Sim.terminate();
    Sim.waitForFinished();
    QCoreApplication::processEvents();
    return CpuPerReading;
}

void BM_ReadingPath_Sim(benchmark::State& State) {
    GFigures["reading_sim"] = RunSimStream(State, shAll, 10);
}
BENCHMARK(BM_ReadingPath_Sim)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_ReadingPath_SimReceptionOnly(benchmark::State& State) {
    GFigures["reading_sim_floor"] = RunSimStream(State, shNothing, 10);
}
BENCHMARK(BM_ReadingPath_SimReceptionOnly)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

void BM_ReadingPath_Window(benchmark::State& State) {
    GFigures["reading"] = RunReadingStream(State, shAll, 1000, 3000);
}
BENCHMARK(BM_ReadingPath_Window)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_ReadingPath_GaugeOnly(benchmark::State& State) {
    GFigures["reading_gauge"] = RunReadingStream(State, shGauge, 1000, 3000);
}
BENCHMARK(BM_ReadingPath_GaugeOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_ReadingPath_ReceptionOnly(benchmark::State& State) {
    GFigures["reading_floor"] = RunReadingStream(State, shNothing, 1000, 3000);
}
BENCHMARK(BM_ReadingPath_ReceptionOnly)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

void PrintSummary() {
    auto row = [](const char* What, const char* Ours, const char* Peer, const char* PeerName) {
        if (!GFigures.count(Ours) || !GFigures.count(Peer)) return;
        const double A = GFigures[Ours], B = GFigures[Peer];
        std::printf("%-38s %8.1f us  %-44s %8.1f us  ratio %.2f\n", What, A, PeerName, B,
                    B > 0 ? A / B : 0);
    };
    std::printf("\nGauge, this project against its peer or floor (same run):\n");
    row("DrawNeedle (window)", "needle", "needle_pixman", "peer: pixman, bounded composite");
    row("Repaint through the event loop", "repaint", "repaint_plain",
        "floor: plain widget, ready picture");
    row("CPU+X per reading, 1000/s, all-in", "reading", "reading_floor",
        "floor: reception and parsing only");
    row("CPU+X per reading, 1000/s, no log line", "reading_gauge", "reading_floor",
        "floor: reception and parsing only");
    row("CPU+X per reading, vorta-sim 1000/s", "reading_sim", "reading_sim_floor",
        "floor: reception and parsing only");
}

} // namespace

int main(int argc, char** argv) {
    return RunQtBenchmarks<TApplication>(argc, argv, [] {
        PrintSummary();
        GWindow.reset();
        delete GFolder;
    });
}
