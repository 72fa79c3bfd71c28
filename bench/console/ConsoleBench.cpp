// Answer reception: bytes per second of a recorded stream of value frames and
// answer lines, through the receiver alone and through the window's receive
// path (lines appended to the memo, drawing stubbed). Peer: a receiver that
// judges each "$" only by the bytes of its own receive event, XOR-ing from the
// event's start, the way a per-event check does.
//
// Waiting: processor time used during a 3-second PumpWait, against a wait
// that loops over processEvents until the time has passed.
#include "AnswerReceiver.h"
#include "Application.h"
#include "PumpWait.h"
#include "UVORTA_Display.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sys/resource.h>

#include "QtBenchMain.h"

namespace {

// Frames at a 50/50 mix with short lines, cut into reads of 1 to 40 bytes as
// a 9600-baud line delivers them.
struct TStream {
    std::vector<std::string> Reads;
    size_t Bytes = 0;
    TStream() {
        std::string All;
        for (int i = 0; i < 20000; ++i) {
            char Frame[32];
            std::snprintf(Frame, sizeof Frame, "\x02%d.%02dB1\x17$", i % 90, i % 100);
            All += Frame;
            if (i % 2 == 0) All += "OK\r\n";
        }
        unsigned Seed = 12345;
        for (size_t At = 0; At < All.size();) {
            Seed = Seed * 1103515245u + 12345u;
            const size_t Len = std::min<size_t>(1 + (Seed >> 16) % 40, All.size() - At);
            Reads.push_back(All.substr(At, Len));
            At += Len;
        }
        Bytes = All.size();
    }
};
const TStream& Stream() {
    static const TStream S;
    return S;
}

// The per-event peer: Check and the ETB position start afresh with each read.
struct TPerEventReceiver {
    std::string Buffer;
    std::function<void(const std::string&)> OnLine;
    std::function<void(double)> OnValue;
    void Receive(const std::string& Data) {
        unsigned char Check = 0;
        size_t EtbPosition = Data.size();
        for (size_t i = 0; i < Data.size(); ++i)
            if (Data[i] == 23) EtbPosition = i;
        for (size_t i = 0; i < Data.size(); ++i) {
            const char B = Data[i];
            if (i <= EtbPosition) Check ^= static_cast<unsigned char>(B);
            if (B == 2 || B == 10 || B == 23) continue;
            if (B == 13) {
                OnLine(Buffer);
                Buffer.clear();
            } else if (B == '$') {
                if (EtbPosition < Data.size() &&
                    static_cast<unsigned char>(Data[EtbPosition]) == Check) {
                    Buffer.resize(Buffer.size() >= 2 ? Buffer.size() - 2 : 0);
                    OnLine(Buffer);
                    OnValue(ValueTextToFloat(Buffer, '.'));
                    Buffer.clear();
                }
            } else {
                Buffer.push_back(B);
            }
        }
    }
};

// Feeds the recorded stream through Rx, counting the readings it keeps.
template <class Receiver> void RunReceiver(benchmark::State& State, Receiver& Rx) {
    std::string Last;
    double Sum = 0;
    Rx.OnLine = [&](const std::string& L) { Last = L; };
    int64_t Accepted = 0;
    Rx.OnValue = [&](double V) {
        Sum += NeedleAngle(V, "0");
        ++Accepted;
    };
    for (auto _ : State)
        for (const auto& R : Stream().Reads)
            Rx.Receive(R);
    benchmark::DoNotOptimize(Sum);
    State.SetBytesProcessed(State.iterations() * Stream().Bytes);
    // Readings kept per pass, of the stream's 20000.
    State.counters["readings"] = double(Accepted) / double(State.iterations());
}

void BM_Receiver(benchmark::State& State) {
    std::string Buffer;
    TAnswerReceiver Rx(Buffer);
    RunReceiver(State, Rx);
}
BENCHMARK(BM_Receiver)->Unit(benchmark::kMillisecond);

void BM_PeerPerEventReceiver(benchmark::State& State) {
    TPerEventReceiver Rx;
    RunReceiver(State, Rx);
}
BENCHMARK(BM_PeerPerEventReceiver)->Unit(benchmark::kMillisecond);

// The window's receive path after the port read: lines into LastAnswer and
// the memo, values to a stubbed readout and needle.
void BM_WindowReceivePath(benchmark::State& State) {
    QTemporaryDir Folder;
    SetAppFolder(Folder.path().toStdString());
    TFKAVRO Window;
    double Sum = 0;
    Window.FReceiver->OnValue = [&](double V) {
        Sum += NeedleAngle(V, Window.lbeMode->text().toStdString());
    };
    for (auto _ : State) {
        Window.Memo1->clear();
        for (const auto& R : Stream().Reads)
            Window.FReceiver->Receive(R);
    }
    benchmark::DoNotOptimize(Sum);
    State.SetBytesProcessed(State.iterations() * Stream().Bytes);
}
BENCHMARK(BM_WindowReceivePath)->Unit(benchmark::kMillisecond);

double CpuSeconds() {
    rusage U;
    getrusage(RUSAGE_SELF, &U);
    return U.ru_utime.tv_sec + U.ru_stime.tv_sec + (U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

void BM_PumpWait3s(benchmark::State& State) {
    for (auto _ : State) {
        const double Cpu = CpuSeconds();
        PumpWait(3000);
        State.counters["cpu_percent"] = (CpuSeconds() - Cpu) / 3.0 * 100;
    }
}
BENCHMARK(BM_PumpWait3s)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_PeerSpinningWait3s(benchmark::State& State) {
    for (auto _ : State) {
        const double Cpu = CpuSeconds();
        QElapsedTimer Clock;
        Clock.start();
        while (Clock.elapsed() <= 3000)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        State.counters["cpu_percent"] = (CpuSeconds() - Cpu) / 3.0 * 100;
    }
}
BENCHMARK(BM_PeerSpinningWait3s)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) { return RunQtBenchmarks<TApplication>(argc, argv); }
