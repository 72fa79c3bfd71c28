// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up to the first frame, whole process: from starting the program to
// the first paint of its window reaching the window system, for the console
// and for a peer, a minimal widgets window (a label and a button in a window
// of the console's size). Each iteration starts both, in turn, as children of
// this program; a child reports the monotonic clock once its first paint is
// done and leaves at once, so tearing down is not counted.
//
// Both children are programs of their own beside this one: the console
// (startup_console) links what the console links, the peer
// (startup_minimal_window) Qt Widgets only, so that neither pays for loading
// the other's libraries or the benchmark's.
//
// The console's children share one settings folder, so that (after the
// warm-up start, which is a first start and writes the settings) each timed
// start is an everyday one: it reads the settings instead of creating them
// durably.
//
// The children run on the offscreen platform unless QT_QPA_PLATFORM says
// otherwise, from the source folder so that the console finds its pictures.
#include "FirstFrame.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string Console, Peer, ChildFolder;

// Milliseconds from starting the child to its first frame (-1: failed).
double StartChild(const char* Kind) {
    int Pipe[2];
    if (pipe(Pipe) != 0) return -1;
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_adddup2(&Actions, Pipe[1], 1);
    posix_spawn_file_actions_addclose(&Actions, Pipe[0]);
    const bool IsConsole = std::strcmp(Kind, "console") == 0;
    const std::string& Exe = IsConsole ? Console : Peer;
    const char* Args[] = {Exe.c_str(), ChildFolder.c_str(), nullptr};
    pid_t Pid;
    const int64_t Start = NowNs();
    const int Err =
        posix_spawn(&Pid, Exe.c_str(), &Actions, nullptr, const_cast<char**>(Args), environ);
    posix_spawn_file_actions_destroy(&Actions);
    close(Pipe[1]);
    std::string Out;
    char Buf[64];
    for (ssize_t N; Err == 0 && (N = read(Pipe[0], Buf, sizeof Buf)) > 0;)
        Out.append(Buf, size_t(N));
    close(Pipe[0]);
    if (Err != 0) return -1;
    int Status = 0;
    waitpid(Pid, &Status, 0);
    if (Out.empty() || !WIFEXITED(Status) || WEXITSTATUS(Status) != 0) return -1;
    return double(std::stoll(Out) - Start) / 1e6;
}

double Median(std::vector<double> V) {
    std::sort(V.begin(), V.end());
    return V.empty() ? 0 : V[V.size() / 2];
}

void BM_FirstFrame_ConsoleVsMinimalWindow(benchmark::State& State) {
    std::vector<double> Console, Minimal, Ratio;
    StartChild("console"); // warm the file cache
    StartChild("minimal");
    bool ConsoleFirst = true;
    for (auto _ : State) {
        double C, M;
        // Taking turns at going first evens out what one start leaves warm.
        if (ConsoleFirst) {
            C = StartChild("console");
            M = StartChild("minimal");
        } else {
            M = StartChild("minimal");
            C = StartChild("console");
        }
        ConsoleFirst = !ConsoleFirst;
        if (C < 0 || M < 0) {
            State.SkipWithError("a child did not reach its first frame");
            return;
        }
        Console.push_back(C);
        Minimal.push_back(M);
        Ratio.push_back(C / M);
    }
    State.counters["console_ms"] = Median(Console);
    State.counters["minimal_ms"] = Median(Minimal);
    State.counters["ratio"] = Median(Ratio); // median of the pairs' ratios
}
BENCHMARK(BM_FirstFrame_ConsoleVsMinimalWindow)
    ->Iterations(15)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    char Path[4096];
    const ssize_t N = readlink("/proc/self/exe", Path, sizeof Path - 1);
    if (N <= 0) return 1;
    const std::string Self(Path, size_t(N));
    const std::string Here = Self.substr(0, Self.rfind('/') + 1);
    Console = Here + "startup_console";
    Peer = Here + "startup_minimal_window";
    if (chdir(VORTA_SOURCE_DIR) != 0) return 1;
    QTemporaryDir Settings;
    if (!Settings.isValid()) return 1;
    ChildFolder = Settings.path().toStdString();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
