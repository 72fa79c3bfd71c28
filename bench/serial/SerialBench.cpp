// SPDX-License-Identifier: GPL-3.0-or-later
// Receive path of the serial component against Qt's QSerialPort, both on a
// pseudo-terminal: latency from a write on the master to the receive handler
// on the user-interface thread, and CPU time per received byte of a steady
// stream (16 bytes every millisecond).
//
// The component must watch the device on its own event thread and hand each
// batch to the user-interface thread; QSerialPort reads on the user-interface
// thread itself. A third receiver, the floor, is the least such a hand-off
// can cost: a bare thread waiting on the device that wakes the user-interface
// thread through an eventfd, which then reads. Its figures over QSerialPort's
// are what the event thread costs by itself; the component's over the floor's
// are what the engine adds.
//
// BM_SideBySide gives the ratios: it runs the three receivers in interleaved
// rounds, rotating their order, and takes the median of the rounds, so that
// the load of a shared machine falls on all three alike. The other benchmarks
// run one receiver alone, for profiling.
#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <stdlib.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "VaComm.h"

#include "QtBenchMain.h"

namespace {

using Clock = std::chrono::steady_clock;

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

double Median(std::vector<double> V) {
    if (V.empty()) return 0;
    std::sort(V.begin(), V.end());
    size_t H = V.size() / 2;
    return V.size() % 2 ? V[H] : (V[H - 1] + V[H]) / 2;
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

// The floor: the least an event thread that hands batches to the
// user-interface thread can do. One edge-triggered wait on the device, one
// eventfd write per batch (none while a batch is on its way), and on the
// user-interface thread one eventfd read and one device read.
struct FloorReceiver : Receiver {
    int Fd, Wake, Stop;
    std::atomic<bool> Pending{false};
    std::unique_ptr<QSocketNotifier> Notifier;
    std::thread Thread;
    char Buf[4096];
    explicit FloorReceiver(const std::string& Path)
        : Fd(open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)),
          Wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), Stop(eventfd(0, EFD_CLOEXEC)) {
        termios T;
        tcgetattr(Fd, &T);
        cfmakeraw(&T);
        T.c_cc[VMIN] = 0;
        T.c_cc[VTIME] = 0;
        tcsetattr(Fd, TCSANOW, &T);
        Notifier.reset(new QSocketNotifier(Wake, QSocketNotifier::Read));
        QObject::connect(Notifier.get(), &QSocketNotifier::activated, [this] {
            uint64_t Count;
            if (read(Wake, &Count, sizeof Count) < 0) return;
            Pending = false;
            int Got = 0;
            ssize_t N;
            while ((N = read(Fd, Buf, sizeof Buf)) > 0) {
                Got += int(N);
                if (size_t(N) < sizeof Buf) break;
            }
            if (Got > 0) OnBytes(Got);
        });
        Thread = std::thread([this] {
            int Ep = epoll_create1(EPOLL_CLOEXEC);
            epoll_event S{}, D{};
            S.events = EPOLLIN;
            S.data.u32 = 0;
            D.events = EPOLLIN | EPOLLET;
            D.data.u32 = 1;
            epoll_ctl(Ep, EPOLL_CTL_ADD, Stop, &S);
            epoll_ctl(Ep, EPOLL_CTL_ADD, Fd, &D);
            for (;;) {
                epoll_event E[2];
                int R = epoll_wait(Ep, E, 2, -1);
                bool Quit = false, Readable = false;
                for (int i = 0; i < R; ++i)
                    (E[i].data.u32 == 0 ? Quit : Readable) = true;
                if (Quit) break;
                if (Readable && !Pending.exchange(true)) {
                    const uint64_t One = 1;
                    [[maybe_unused]] ssize_t W = write(Wake, &One, sizeof One);
                }
            }
            close(Ep);
        });
    }
    ~FloorReceiver() override {
        const uint64_t One = 1;
        [[maybe_unused]] ssize_t W = write(Stop, &One, sizeof One);
        Thread.join();
        Notifier.reset();
        close(Fd);
        close(Wake);
        close(Stop);
    }
};

enum TKind { kVa, kQt, kFloor, KindCount };
const char* const KindName[KindCount] = {"this engine", "QSerialPort", "floor"};

std::unique_ptr<Receiver> MakeReceiver(TKind K, const std::string& Path) {
    switch (K) {
    case kVa:
        return std::unique_ptr<Receiver>(new VaReceiver(Path));
    case kQt:
        return std::unique_ptr<Receiver>(new QtReceiver(Path));
    default:
        return std::unique_ptr<Receiver>(new FloorReceiver(Path));
    }
}

// Latency of single bytes, in microseconds, Count for each receiver given,
// taken in turns so that a change of the machine's load falls on all alike;
// empty when a byte was lost. The byte is written by another thread, as a
// device's bytes arrive from outside: a receiver never finds them already
// waiting when it goes to sleep.
std::vector<std::vector<double>> LatencySamples(const std::vector<Receiver*>& Rx,
                                                const std::vector<int>& Master, int Count) {
    QEventLoop Loop;
    Clock::time_point Arrived;
    for (Receiver* R : Rx)
        R->OnBytes = [&](int) {
            Arrived = Clock::now();
            Loop.quit();
        };
    QTimer Guard;
    Guard.setSingleShot(true);
    QObject::connect(&Guard, &QTimer::timeout, &Loop, &QEventLoop::quit);
    std::mutex M;
    std::condition_variable Cv;
    int Target = -1;
    bool Quit = false;
    Clock::time_point Sent;
    std::thread Writer([&] {
        std::unique_lock<std::mutex> L(M);
        for (;;) {
            Cv.wait(L, [&] { return Target >= 0 || Quit; });
            if (Quit) return;
            int Fd = Target;
            Target = -1;
            // Long enough for the receiver to be asleep in its wait.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            Sent = Clock::now();
            if (write(Fd, "x", 1) != 1) Sent = Clock::time_point::max();
        }
    });
    std::vector<std::vector<double>> Us(Rx.size());
    bool Lost = false;
    for (int i = 0; i < Count && !Lost; ++i)
        for (size_t k = 0; k < Rx.size() && !Lost; ++k) {
            {
                std::lock_guard<std::mutex> L(M);
                Target = Master[k];
            }
            Cv.notify_one();
            Guard.start(1000);
            Loop.exec();
            Guard.stop();
            std::lock_guard<std::mutex> L(M);
            Lost = Sent == Clock::time_point::max() || Arrived < Sent;
            Us[k].push_back(std::chrono::duration<double>(Arrived - Sent).count() * 1e6);
        }
    {
        std::lock_guard<std::mutex> L(M);
        Quit = true;
    }
    Cv.notify_one();
    Writer.join();
    for (Receiver* R : Rx)
        R->OnBytes = nullptr;
    if (Lost) Us.assign(Rx.size(), {});
    return Us;
}

// Writes batches of 16 bytes one millisecond apart from its own thread, as a
// device would. Its CPU time is not the receiver's: CpuClock reads it.
class TStreamer {
  public:
    TStreamer() : Thread([this] { Run(); }) {
        pthread_getcpuclockid(Thread.native_handle(), &CpuClock);
    }
    clockid_t CpuClock;
    ~TStreamer() {
        {
            std::lock_guard<std::mutex> L(M);
            Quit = true;
        }
        Cv.notify_one();
        Thread.join();
    }
    void Start(int AFd, int ABatches) {
        std::lock_guard<std::mutex> L(M);
        Fd = AFd;
        Batches = ABatches;
        Done = false;
        Cv.notify_one();
    }
    // Waits for the end of the stream; the bytes written.
    long Finish() {
        std::unique_lock<std::mutex> L(M);
        Cv.wait(L, [&] { return Done; });
        return Sent;
    }

  private:
    void Run() {
        std::unique_lock<std::mutex> L(M);
        for (;;) {
            Cv.wait(L, [&] { return Fd >= 0 || Quit; });
            if (Quit) return;
            int F = Fd, N = Batches;
            Fd = -1;
            L.unlock();
            long Out = 0;
            auto Next = Clock::now();
            for (int i = 0; i < N; ++i) {
                Next += std::chrono::milliseconds(1);
                std::this_thread::sleep_until(Next);
                if (write(F, "0123456789ABCDEF", 16) == 16) Out += 16;
            }
            L.lock();
            Sent = Out;
            Done = true;
            Cv.notify_all();
        }
    }
    std::mutex M;
    std::condition_variable Cv;
    int Fd = -1, Batches = 0;
    bool Quit = false, Done = true;
    long Sent = 0;
    std::thread Thread;
};

// CPU time of the process (the receiver's threads and the user-interface
// thread; not the writer) from the arrival of the first batch of a stream of
// Batches to the arrival of the last, so that starting and ending the stream
// count for nothing; Bytes gets the bytes received in that time, -1 when some
// were lost.
double StreamCpu(TStreamer& W, Receiver& Rx, int Master, int Batches, long& Bytes) {
    const long Want = 16L * Batches;
    long Got = 0, FirstGot = 0;
    double First = 0, Last = 0;
    QEventLoop Loop;
    auto Now = [&] { return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - CpuSeconds(W.CpuClock); };
    Rx.OnBytes = [&](int N) {
        Got += N;
        if (FirstGot == 0) {
            FirstGot = Got;
            First = Now();
        }
        if (Got >= Want) {
            Last = Now();
            Loop.quit();
        }
    };
    QTimer Guard;
    Guard.setSingleShot(true);
    QObject::connect(&Guard, &QTimer::timeout, &Loop, &QEventLoop::quit);
    Guard.start(Batches + 5000);
    W.Start(Master, Batches);
    Loop.exec();
    long Sent = W.Finish();
    Rx.OnBytes = nullptr;
    Bytes = Got == Sent && Got > FirstGot ? Got - FirstGot : -1;
    return Last - First;
}

template <TKind K> void BM_Latency(benchmark::State& State) {
    Pty P;
    auto Rx = MakeReceiver(K, P.Slave);
    std::vector<double> Us;
    for (auto _ : State) {
        Us = LatencySamples({Rx.get()}, {P.Master}, 2000)[0];
        if (Us.empty()) State.SkipWithError("no answer within a second");
    }
    State.counters["p50_us"] = Median(Us);
}

template <TKind K> void BM_StreamCpu(benchmark::State& State) {
    Pty P;
    auto Rx = MakeReceiver(K, P.Slave);
    TStreamer W;
    double Ns = 0;
    for (auto _ : State) {
        long Bytes = 0;
        double Cpu = StreamCpu(W, *Rx, P.Master, 1000, Bytes);
        if (Bytes <= 0) State.SkipWithError("bytes lost");
        Ns = Cpu / double(std::max(Bytes, 1L)) * 1e9;
    }
    State.counters["cpu_ns_per_byte"] = Ns;
}

// Medians over the rounds of BM_SideBySide, printed at the end. A ratio is
// the median of the rounds' ratios, each taken within one round.
struct TSummary {
    int Rounds = 0;
    double LatUs[KindCount] = {}, CpuNs[KindCount] = {};
    // [0] this engine over QSerialPort, [1] the floor over QSerialPort,
    // [2] this engine over the floor.
    double LatRatio[3] = {}, CpuRatio[3] = {};
} Summary;

void BM_SideBySide(benchmark::State& State) {
    // Each round streams Chunks turns of Batches batches to every receiver.
    const int Rounds = 15, LatencyPerRound = 200, Chunks = 10, Batches = 30;
    TStreamer W;
    Pty P[KindCount];
    std::unique_ptr<Receiver> Rx[KindCount];
    std::vector<Receiver*> All;
    std::vector<int> Masters;
    for (int k = 0; k < KindCount; ++k) {
        Rx[k] = MakeReceiver(TKind(k), P[k].Slave);
        All.push_back(Rx[k].get());
        Masters.push_back(P[k].Master);
    }
    std::vector<double> Lat[KindCount], Cpu[KindCount], LatRatio[3], CpuRatio[3];
    for (auto _ : State) {
        for (int r = 0; r < Rounds; ++r) {
            double L[KindCount], C[KindCount];
            auto Us = LatencySamples(All, Masters, LatencyPerRound);
            for (int k = 0; k < KindCount; ++k)
                L[k] = Median(Us[size_t(k)]);
            double CpuSum[KindCount] = {};
            long ByteSum[KindCount] = {};
            for (int c = 0; c < Chunks; ++c)
                for (int j = 0; j < KindCount; ++j) {
                    int k = (j + r + c) % KindCount;
                    long Bytes = 0;
                    CpuSum[k] += StreamCpu(W, *Rx[k], P[k].Master, Batches, Bytes);
                    ByteSum[k] = Bytes < 0 || ByteSum[k] < 0 ? -1 : ByteSum[k] + Bytes;
                }
            for (int k = 0; k < KindCount; ++k)
                C[k] = ByteSum[k] > 0 ? CpuSum[k] / double(ByteSum[k]) * 1e9 : -1;
            for (int k = 0; k < KindCount; ++k)
                if (L[k] <= 0 || C[k] <= 0) {
                    State.SkipWithError("bytes lost");
                    return;
                }
            for (int k = 0; k < KindCount; ++k) {
                Lat[k].push_back(L[k]);
                Cpu[k].push_back(C[k]);
            }
            const double* F[2] = {L, C};
            std::vector<double>* R[2] = {LatRatio, CpuRatio};
            for (int i = 0; i < 2; ++i) {
                R[i][0].push_back(F[i][kVa] / F[i][kQt]);
                R[i][1].push_back(F[i][kFloor] / F[i][kQt]);
                R[i][2].push_back(F[i][kVa] / F[i][kFloor]);
            }
        }
    }
    Summary.Rounds = Rounds;
    for (int k = 0; k < KindCount; ++k) {
        Summary.LatUs[k] = Median(Lat[k]);
        Summary.CpuNs[k] = Median(Cpu[k]);
    }
    for (int i = 0; i < 3; ++i) {
        Summary.LatRatio[i] = Median(LatRatio[i]);
        Summary.CpuRatio[i] = Median(CpuRatio[i]);
    }
    State.counters["va_p50_us"] = Summary.LatUs[kVa];
    State.counters["qt_p50_us"] = Summary.LatUs[kQt];
    State.counters["floor_p50_us"] = Summary.LatUs[kFloor];
    State.counters["latency_ratio"] = Summary.LatRatio[0];
    State.counters["va_cpu_ns_per_byte"] = Summary.CpuNs[kVa];
    State.counters["qt_cpu_ns_per_byte"] = Summary.CpuNs[kQt];
    State.counters["floor_cpu_ns_per_byte"] = Summary.CpuNs[kFloor];
    State.counters["cpu_ratio"] = Summary.CpuRatio[0];
}

void PrintSummary() {
    if (Summary.Rounds == 0) return;
    const TSummary& S = Summary;
    std::printf("\nReceive path, median of %d interleaved rounds:\n", S.Rounds);
    std::printf("  %-20s %12s %12s %12s\n", "", KindName[kVa], KindName[kQt], KindName[kFloor]);
    std::printf("  %-20s %12.1f %12.1f %12.1f\n", "latency p50 (us)", S.LatUs[kVa], S.LatUs[kQt],
                S.LatUs[kFloor]);
    std::printf("  %-20s %12.0f %12.0f %12.0f\n", "CPU per byte (ns)", S.CpuNs[kVa], S.CpuNs[kQt],
                S.CpuNs[kFloor]);
    std::printf("  this engine over QSerialPort: latency %.2fx, CPU per byte %.2fx\n",
                S.LatRatio[0], S.CpuRatio[0]);
    std::printf("  the event thread required by the serial engine makes the floor "
                "%.2fx QSerialPort's latency, %.2fx its CPU per byte\n",
                S.LatRatio[1], S.CpuRatio[1]);
    std::printf("  this engine over the floor: latency %.2fx, CPU per byte %.2fx\n", S.LatRatio[2],
                S.CpuRatio[2]);
}

BENCHMARK(BM_SideBySide)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_TEMPLATE(BM_Latency, kVa)->Name("BM_Latency_VaComm")->Iterations(1);
BENCHMARK_TEMPLATE(BM_Latency, kQt)->Name("BM_Latency_QSerialPort")->Iterations(1);
BENCHMARK_TEMPLATE(BM_Latency, kFloor)->Name("BM_Latency_Floor")->Iterations(1);
BENCHMARK_TEMPLATE(BM_StreamCpu, kVa)->Name("BM_StreamCpu_VaComm")->Iterations(1);
BENCHMARK_TEMPLATE(BM_StreamCpu, kQt)->Name("BM_StreamCpu_QSerialPort")->Iterations(1);
BENCHMARK_TEMPLATE(BM_StreamCpu, kFloor)->Name("BM_StreamCpu_Floor")->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    return RunQtBenchmarks<QCoreApplication>(argc, argv, PrintSummary);
}
