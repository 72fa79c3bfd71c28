// SPDX-License-Identifier: GPL-3.0-or-later
// What the benchmarks that show windows share: an X server of their own
// (Xvfb on a free display) so that drawing reaches a real server, and the
// processor time and resident memory of any process read from /proc, so that
// the X server's share of a program's drawing is counted with the program.
#pragma once

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace bench_x {

inline double NowSeconds() {
    timespec T{};
    clock_gettime(CLOCK_MONOTONIC, &T);
    return double(T.tv_sec) + double(T.tv_nsec) / 1e9;
}

inline void Sleep(double Seconds) {
    timespec T{time_t(Seconds), long((Seconds - double(time_t(Seconds))) * 1e9)};
    while (nanosleep(&T, &T) != 0) {
    }
}

// User plus system time of a process so far (seconds; 0 when it is gone).
// Read from each thread's scheduler statistics, kept in nanoseconds: the
// clock ticks of /proc/PID/stat (10 ms) are coarser than what a quiet program
// spends in a few seconds. A thread that ends between two readings takes its
// time with it; the programs measured keep their threads while streaming.
inline double CpuSeconds(pid_t Pid) {
    const std::string Tasks = "/proc/" + std::to_string(Pid) + "/task";
    double Nanoseconds = 0;
    bool Any = false;
    if (DIR* D = opendir(Tasks.c_str())) {
        while (const dirent* E = readdir(D)) {
            if (E->d_name[0] == '.') continue;
            std::ifstream F(Tasks + "/" + E->d_name + "/schedstat");
            double Ns = 0;
            if (F >> Ns) {
                Nanoseconds += Ns;
                Any = true;
            }
        }
        closedir(D);
    }
    if (Any) return Nanoseconds / 1e9;
    std::ifstream F("/proc/" + std::to_string(Pid) + "/stat");
    std::string Text((std::istreambuf_iterator<char>(F)), {});
    const size_t Close = Text.rfind(')');
    if (Close == std::string::npos) return 0;
    std::istringstream In(Text.substr(Close + 2));
    std::string Field;
    double Utime = 0, Stime = 0;
    for (int i = 3; i <= 15 && In >> Field; ++i) {
        if (i == 14) Utime = std::atof(Field.c_str());
        if (i == 15) Stime = std::atof(Field.c_str());
    }
    return (Utime + Stime) / double(sysconf(_SC_CLK_TCK));
}

// Resident memory (MB) of a process.
inline double ResidentMB(pid_t Pid) {
    std::ifstream F("/proc/" + std::to_string(Pid) + "/status");
    for (std::string Line; std::getline(F, Line);)
        if (Line.rfind("VmRSS:", 0) == 0) return std::atof(Line.c_str() + 6) / 1024.0;
    return 0;
}

// A count of what the process has written so far, from /proc/PID/io: "wchar"
// bytes or "syscw" write calls. The simulated sensor writes each value frame
// in one call, so its write calls count the frames it sent: it skips frames
// when it falls behind or its reader does, so its rate is not taken on trust.
inline double IoCount(pid_t Pid, const char* Field) {
    std::ifstream F("/proc/" + std::to_string(Pid) + "/io");
    const std::string Key = std::string(Field) + ":";
    for (std::string Line; std::getline(F, Line);)
        if (Line.rfind(Key, 0) == 0) return std::atof(Line.c_str() + Key.size());
    return 0;
}

// Starts Argv (Argv[0] a path) with Env added to this process's environment,
// standard output to OutFd when it is not -1. Returns the child's id, or -1.
inline pid_t Spawn(const std::vector<std::string>& Argv, const std::vector<std::string>& Env = {},
                   int OutFd = -1) {
    std::vector<char*> A, E;
    for (const auto& S : Argv)
        A.push_back(const_cast<char*>(S.c_str()));
    A.push_back(nullptr);
    for (char** P = environ; *P; ++P) {
        const std::string Key = std::string(*P).substr(0, std::string(*P).find('=') + 1);
        bool Replaced = false;
        for (const auto& S : Env)
            Replaced = Replaced || S.rfind(Key, 0) == 0;
        if (!Replaced) E.push_back(*P);
    }
    for (const auto& S : Env)
        E.push_back(const_cast<char*>(S.c_str()));
    E.push_back(nullptr);
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    if (OutFd != -1) posix_spawn_file_actions_adddup2(&Actions, OutFd, 1);
    pid_t Pid = -1;
    const int Err = posix_spawn(&Pid, A[0], &Actions, nullptr, A.data(), E.data());
    posix_spawn_file_actions_destroy(&Actions);
    return Err == 0 ? Pid : -1;
}

inline void Stop(pid_t Pid) {
    if (Pid <= 0) return;
    kill(Pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(Pid, nullptr, WNOHANG) == Pid) return;
        Sleep(0.01);
    }
    kill(Pid, SIGKILL);
    waitpid(Pid, nullptr, 0);
}

// An Xvfb on the first free display from :90, started when Xvfb is installed.
// Display() is empty when there is none; then the programs run offscreen.
class TXServer {
  public:
    TXServer() {
        const char* Exe = "/usr/bin/Xvfb";
        if (access(Exe, X_OK) != 0) return;
        for (int N = 90; N < 140; ++N) {
            const std::string Lock = "/tmp/.X" + std::to_string(N) + "-lock";
            const std::string Socket = "/tmp/.X11-unix/X" + std::to_string(N);
            struct stat S;
            if (stat(Lock.c_str(), &S) == 0 || stat(Socket.c_str(), &S) == 0) continue;
            const std::string Name = ":" + std::to_string(N);
            FPid = Spawn({Exe, Name, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
            if (FPid < 0) return;
            for (int i = 0; i < 500 && stat(Socket.c_str(), &S) != 0; ++i)
                Sleep(0.01);
            if (waitpid(FPid, nullptr, WNOHANG) == FPid) { // lost the display to another
                FPid = -1;
                continue;
            }
            FDisplay = Name;
            return;
        }
    }
    ~TXServer() { Stop(FPid); }
    const std::string& Display() const { return FDisplay; }
    pid_t Pid() const { return FPid; }
    // The environment for a Qt program: this server, or offscreen without one.
    std::vector<std::string> QtEnv() const {
        if (FDisplay.empty()) return {"QT_QPA_PLATFORM=offscreen"};
        return {"DISPLAY=" + FDisplay, "QT_QPA_PLATFORM=xcb"};
    }
    std::string Platform() const {
        return FDisplay.empty() ? "offscreen (no Xvfb; the X server's share is not counted)"
                                : "Xvfb " + FDisplay + " (its processor time counted)";
    }

  private:
    pid_t FPid = -1;
    std::string FDisplay;
};

} // namespace bench_x
