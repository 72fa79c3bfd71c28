// SPDX-License-Identifier: GPL-3.0-or-later
// The console on a live stream, whole processes, against a plain Qt terminal.
//
// Each round starts the simulated sensor (vorta-sim --stream --rate R) on a
// pseudo-terminal, then the console (vorta-display --port DEV --connect
// --read) or the peer (plain_terminal DEV: QSerialPort and a QPlainTextEdit
// appending each line, a window of the console's size) on it, lets it settle,
// and counts the processor time of the program and of the X server over the
// next seconds, and the program's resident memory at their end. Console and
// peer take turns in every round, and which goes first alternates, so that
// both meet the same load from the rest of the machine. Figures are medians of
// the rounds; the X server's time is its time while that program ran alone on
// it. Below 1000 readings/s each round also runs a floor, frame_floor: a
// window that only repaints a small square once per display frame, which is
// what Qt and the X server spend on the frames themselves, and a second one,
// vorta-cli stream: the same serial engine and sensor session with no window,
// each reading printed to /dev/null, what reception alone costs.
//
//   console_stream_bench [--seconds S] [--rounds N] [--rates 1000,100]
#include "XServer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace bench_x;

namespace {

struct TSample {
    double ProgramCpu = 0, XCpu = 0, ResidentMB = 0, Bytes = 0, Frames = 0;
};

double Median(std::vector<double> V) {
    std::sort(V.begin(), V.end());
    return V.empty() ? 0 : V[V.size() / 2];
}

enum TProgram { Console, Terminal, Floor, Reception };
const char* const ProgramName[] = {"vorta-display", "plain_terminal", "frame_floor", "vorta-cli"};

// One program on a fresh simulated sensor: processor seconds over Seconds.
bool RunOne(const TXServer& X, TProgram Which, int Rate, double Seconds, TSample& Out) {
    int Pipe[2];
    if (pipe(Pipe) != 0) return false;
    const pid_t Sim = Spawn({VORTA_SIM, "--stream", "--rate", std::to_string(Rate)}, {}, Pipe[1]);
    close(Pipe[1]);
    std::string Device;
    char C;
    while (read(Pipe[0], &C, 1) == 1 && C != '\n')
        Device += C;
    if (Sim < 0 || Device.empty()) {
        close(Pipe[0]);
        Stop(Sim);
        return false;
    }
    const std::vector<std::string> Argv =
        Which == Console
            ? std::vector<std::string>{VORTA_DISPLAY, "--port", Device, "--connect", "--read"}
        : Which == Terminal ? std::vector<std::string>{PLAIN_TERMINAL, Device}
        : Which == Reception
            ? std::vector<std::string>{VORTA_CLI, "--port", Device, "stream", "--duration", "0"}
            : std::vector<std::string>{FRAME_FLOOR};
    const int Null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t Program = Spawn(Argv, X.QtEnv(), Which == Reception ? Null : -1);
    if (Null >= 0) close(Null);
    Sleep(3); // started, connected, the stream shown for a while
    const double P0 = CpuSeconds(Program), X0 = CpuSeconds(X.Pid());
    const double B0 = IoCount(Sim, "wchar"), F0 = IoCount(Sim, "syscw");
    Sleep(Seconds);
    const double P1 = CpuSeconds(Program), X1 = CpuSeconds(X.Pid());
    Out.Bytes = IoCount(Sim, "wchar") - B0;
    Out.Frames = IoCount(Sim, "syscw") - F0;
    Out.ResidentMB = ResidentMB(Program);
    const bool Alive = waitpid(Program, nullptr, WNOHANG) == 0;
    Stop(Program);
    Stop(Sim);
    close(Pipe[0]);
    Out.ProgramCpu = P1 - P0;
    Out.XCpu = X.Pid() > 0 ? X1 - X0 : 0;
    return Alive && Out.ProgramCpu > 0 && Out.Frames > 0;
}

} // namespace

int main(int argc, char** argv) {
    double Seconds = 10;
    int Rounds = 3;
    std::vector<int> Rates{1000, 100};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds")) Seconds = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--rounds")) Rounds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--rates")) {
            Rates.clear();
            for (const char* P = argv[i + 1]; *P;
                 P = std::strchr(P, ',') ? std::strchr(P, ',') + 1 : "")
                Rates.push_back(std::atoi(P));
        }
    }
    if (chdir(VORTA_SOURCE_DIR) != 0) return 1; // the console finds img/ there
    TXServer X;
    std::printf("platform: %s\n", X.Platform().c_str());
    for (const int Rate : Rates) {
        std::map<TProgram, std::vector<TSample>> All;
        for (int r = 0; r < Rounds; ++r) {
            std::vector<TProgram> Order{r % 2 == 0 ? Console : Terminal,
                                        r % 2 == 0 ? Terminal : Console};
            if (Rate < 1000) Order.insert(Order.end(), {Floor, Reception});
            for (const TProgram Which : Order) {
                TSample S;
                if (!RunOne(X, Which, Rate, Seconds, S)) {
                    std::printf("%s did not run through round %d at %d/s\n", ProgramName[Which],
                                r + 1, Rate);
                    return 1;
                }
                All[Which].push_back(S);
            }
        }
        auto Fig = [&](TProgram Which, auto Get) {
            std::vector<double> V;
            for (const TSample& S : All[Which])
                V.push_back(Get(S));
            return Median(V);
        };
        // Per reading the sensor sent; at 100/s per second of stream.
        auto Per = [&](const TSample& S) { return Rate >= 1000 ? S.Frames : Seconds; };
        auto Total = [&](const TSample& S) { return (S.ProgramCpu + S.XCpu) / Per(S); };
        auto Own = [&](const TSample& S) { return S.ProgramCpu / Per(S); };
        auto XOnly = [&](const TSample& S) { return S.XCpu / Per(S); };
        auto Mem = [](const TSample& S) { return S.ResidentMB; };
        auto FramesPerS = [&](const TSample& S) { return S.Frames / Seconds; };
        auto BytesPerFrame = [&](const TSample& S) { return S.Bytes / S.Frames; };
        std::printf("\n%d readings/s from vorta-sim, %d rounds of %.0f s, medians; the sim "
                    "sent %.0f / %.0f frames/s (%.1f / %.1f bytes a write) to vorta-display / "
                    "plain_terminal\n",
                    Rate, Rounds, Seconds, Fig(Console, FramesPerS), Fig(Terminal, FramesPerS),
                    Fig(Console, BytesPerFrame), Fig(Terminal, BytesPerFrame));
        const double Ours = Fig(Console, Total), Peer = Fig(Terminal, Total);
        if (Rate >= 1000)
            std::printf("CPU per reading, program + X server: vorta-display %.1f us (own %.1f, "
                        "X %.1f); peer plain_terminal (QSerialPort + QPlainTextEdit) %.1f us "
                        "(own %.1f, X %.1f); ratio %.3f  [target: <= 60 us and <= 0.1x]\n",
                        Ours * 1e6, Fig(Console, Own) * 1e6, Fig(Console, XOnly) * 1e6, Peer * 1e6,
                        Fig(Terminal, Own) * 1e6, Fig(Terminal, XOnly) * 1e6, Ours / Peer);
        else
            std::printf("share of a core, program + X server: vorta-display %.2f %% (own %.2f, "
                        "X %.2f); peer plain_terminal (QSerialPort + QPlainTextEdit) %.2f %% "
                        "(own %.2f, X %.2f); ratio %.3f  [target: <= 2 %% and <= 0.2x]\n",
                        Ours * 100, Fig(Console, Own) * 100, Fig(Console, XOnly) * 100, Peer * 100,
                        Fig(Terminal, Own) * 100, Fig(Terminal, XOnly) * 100, Ours / Peer);
        if (Rate < 1000)
            std::printf("floor: frame_floor (a bare Qt window repainting 10 x 10 pixels once per "
                        "display frame) %.2f %% (own %.2f, X %.2f); vorta-display / floor %.2f\n",
                        Fig(Floor, Total) * 100, Fig(Floor, Own) * 100, Fig(Floor, XOnly) * 100,
                        Ours / Fig(Floor, Total));
        if (Rate < 1000)
            std::printf("floor: vorta-cli stream (the serial engine and session, no window, "
                        "readings printed to /dev/null) %.2f %%; with frame_floor %.2f %%, %.3fx "
                        "the peer; vorta-display / both floors %.2f\n",
                        Fig(Reception, Own) * 100, (Fig(Floor, Total) + Fig(Reception, Own)) * 100,
                        (Fig(Floor, Total) + Fig(Reception, Own)) / Peer,
                        Ours / (Fig(Floor, Total) + Fig(Reception, Own)));
        std::printf("resident memory after %.0f s: vorta-display %.1f MB; peer plain_terminal "
                    "%.1f MB; ratio %.2f\n",
                    Seconds + 3, Fig(Console, Mem), Fig(Terminal, Mem),
                    Fig(Console, Mem) / Fig(Terminal, Mem));
        std::fflush(stdout);
    }
    return 0;
}
