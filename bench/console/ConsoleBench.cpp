// SPDX-License-Identifier: GPL-3.0-or-later
// Answer reception: bytes per second of a recorded stream of value frames and
// answer lines, through the receiver alone and through the window's receive
// path (lines appended to the memo, drawing stubbed).
//
// Memo: 100 000 answer lines of 20 to 60 characters, 16 to a display frame,
// into the log view (a list view over a ring of lines) and into the peer, a
// plain text edit holding each line as a block, as the memo was built before.
// Both are shown (and painted each frame). Prints the heap each holds
// afterwards (malloc's bytes in use), the ratio, and the processor time per
// line appended and shown.
//
// Waiting: processor time used during a 3-second PumpWait, against a wait
// that loops over processEvents until the time has passed.
#include "AnswerReceiver.h"
#include "Application.h"
#include "PumpWait.h"
#include "UVORTA_Display.h"
#include "WindowProbe.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cstdio>

#include <malloc.h>
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

// The window's receive path after the port read: lines into LastAnswer and
// the memo, values to a stubbed readout and needle.
void BM_WindowReceivePath(benchmark::State& State) {
    QTemporaryDir Folder;
    SetAppFolder(Folder.path().toStdString());
    TFKAVRO Window;
    double Sum = 0;
    Internals::FReceiver(Window)->OnValue = [&](double V) {
        Sum += NeedleAngle(V, Control<TLabeledEdit>(Window, "lbeMode")->text().toStdString());
    };
    for (auto _ : State) {
        Control<TMemoView>(Window, "Memo1")->Clear();
        for (const auto& R : Stream().Reads)
            Internals::FReceiver(Window)->Receive(R);
    }
    benchmark::DoNotOptimize(Sum);
    State.SetBytesProcessed(State.iterations() * Stream().Bytes);
}
BENCHMARK(BM_WindowReceivePath)->Unit(benchmark::kMillisecond);

// This process's processor time and the X server's, which draws for it.
double CpuSeconds() {
    rusage U;
    getrusage(RUSAGE_SELF, &U);
    return U.ru_utime.tv_sec + U.ru_stime.tv_sec + (U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6 +
           XServerCpuSeconds();
}

// The peer: every line a block of a plain text edit, blocks that hold a line
// marked (so that leading empty lines stay), the same bounds on lines and
// characters.
struct TPlainTextMemo {
    QPlainTextEdit Edit;
    TPlainTextMemo() {
        Edit.setGeometry(16, 424, 169, 249);
        Edit.setLineWrapMode(QPlainTextEdit::NoWrap);
        Edit.setMaximumBlockCount(100000);
    }
    void Show() { Edit.show(); }
    void Append(const std::string& Line) {
        const QString Text = QString::fromLocal8Bit(Line.c_str(), qsizetype(Line.size()));
        QTextDocument* Doc = Edit.document();
        if (Doc->isEmpty() && Doc->firstBlock().userState() == 1) {
            QTextCursor Cursor(Doc);
            Cursor.movePosition(QTextCursor::End);
            Cursor.insertBlock();
            Cursor.insertText(Text);
        } else {
            Edit.appendPlainText(Text);
        }
        Doc->lastBlock().setUserState(1);
        const qsizetype Excess = Doc->characterCount() - 1 - 16 * 1024 * 1024;
        if (Excess > 0) {
            qsizetype Dropped = 0;
            QTextBlock Keep = Doc->firstBlock();
            while (Dropped < Excess && Keep.next().isValid()) {
                Dropped += Keep.length();
                Keep = Keep.next();
            }
            QTextCursor Cursor(Doc);
            Cursor.setPosition(Keep.position(), QTextCursor::KeepAnchor);
            Cursor.removeSelectedText();
        }
    }
    void Frame() { QCoreApplication::processEvents(); }
};

struct TLogMemo {
    TMemoView View;
    TLogMemo() { View.setGeometry(16, 424, 169, 249); }
    void Show() { View.show(); }
    void Append(const std::string& Line) { View.Append(Line); }
    void Frame() {
        View.ShowPending(); // what the frame timer does
        QCoreApplication::processEvents();
    }
};

const std::vector<std::string>& MemoLines() {
    static const std::vector<std::string> Lines = [] {
        std::vector<std::string> Out;
        unsigned Seed = 777;
        for (int i = 0; i < 100000; ++i) {
            Seed = Seed * 1103515245u + 12345u;
            std::string L = std::to_string(i) + ": V:4100,I:B1,";
            L.resize(20 + (Seed >> 16) % 41, 'x');
            Out.push_back(L);
        }
        return Out;
    }();
    return Lines;
}

// Heap bytes held by the filled memo, and processor seconds for the fill.
template <class Memo> std::pair<double, double> FillMemo() {
    MemoLines();
    malloc_trim(0);
    const size_t Before = mallinfo2().uordblks;
    auto M = std::make_unique<Memo>();
    M->Show();
    M->Frame();
    const double Cpu = CpuSeconds();
    int InFrame = 0;
    for (const auto& L : MemoLines()) {
        M->Append(L);
        if (++InFrame == 16) {
            M->Frame();
            InFrame = 0;
        }
    }
    M->Frame();
    const double Used = CpuSeconds() - Cpu;
    const double Held = double(mallinfo2().uordblks) - double(Before);
    return {Held, Used};
}

void BM_Memo100kLines_LogViewVsPlainText(benchmark::State& State) {
    std::pair<double, double> Log, Plain;
    for (auto _ : State) {
        Log = FillMemo<TLogMemo>();
        Plain = FillMemo<TPlainTextMemo>();
    }
    const double Lines = double(MemoLines().size());
    State.counters["log_MB"] = Log.first / 1e6;
    State.counters["plain_MB"] = Plain.first / 1e6;
    State.counters["MB_ratio"] = Log.first / Plain.first;
    State.counters["log_us_per_line"] = Log.second / Lines * 1e6;
    State.counters["plain_us_per_line"] = Plain.second / Lines * 1e6;
    State.counters["cpu_ratio"] = Log.second / Plain.second;
    std::printf("Answer log, 100 000 lines shown 16 a frame: the log view %.1f MB, %.1f us a "
                "line (CPU + X server); peer QPlainTextEdit %.1f MB, %.1f us a line; ratio %.2f "
                "memory, %.2f CPU\n",
                Log.first / 1e6, Log.second / Lines * 1e6, Plain.first / 1e6,
                Plain.second / Lines * 1e6, Log.first / Plain.first, Log.second / Plain.second);
}
BENCHMARK(BM_Memo100kLines_LogViewVsPlainText)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

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

int main(int argc, char** argv) {
    return RunQtBenchmarks<TApplication>(argc, argv);
}
