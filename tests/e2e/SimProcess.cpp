// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

TSimProcess::TSimProcess(const std::vector<std::string>& Args) {
    char Template[] = "/tmp/vorta-e2e-simlog-XXXXXX";
    const int LogFd = mkstemp(Template);
    if (LogFd < 0) throw std::runtime_error("no temporary log file");
    close(LogFd);
    FLogPath = Template;

    std::vector<std::string> All{VORTA_SIM_PATH, "--log", FLogPath};
    All.insert(All.end(), Args.begin(), Args.end());
    std::vector<char*> Argv;
    for (auto& A : All)
        Argv.push_back(A.data());
    Argv.push_back(nullptr);

    int Pipe[2];
    if (pipe2(Pipe, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_adddup2(&Actions, Pipe[1], 1);
    const int Rc = posix_spawn(&FPid, VORTA_SIM_PATH, &Actions, nullptr, Argv.data(), environ);
    posix_spawn_file_actions_destroy(&Actions);
    close(Pipe[1]);
    FOut = Pipe[0];
    if (Rc != 0) {
        FPid = -1;
        throw std::runtime_error("vorta-sim does not start");
    }
    // The first line is the device path.
    for (;;) {
        pollfd P{FOut, POLLIN, 0};
        if (poll(&P, 1, 5000) <= 0) throw std::runtime_error("vorta-sim prints no path");
        char C;
        const ssize_t N = read(FOut, &C, 1);
        if (N <= 0) throw std::runtime_error("vorta-sim ended early");
        if (C == '\n') break;
        FPath.push_back(C);
    }
}

TSimProcess::~TSimProcess() {
    if (FPid > 0) {
        kill(FPid, SIGTERM);
        int Status;
        waitpid(FPid, &Status, 0);
    }
    if (FOut >= 0) close(FOut);
    std::remove(FLogPath.c_str());
}

std::vector<TSimProcess::TChunk> TSimProcess::Received() const {
    // Each log line: seconds, the bytes in hexadecimal, then the bytes quoted.
    std::vector<TChunk> Chunks;
    std::ifstream In(FLogPath);
    std::string Line;
    while (std::getline(In, Line)) {
        std::istringstream Words(Line);
        TChunk C;
        if (!(Words >> C.Time)) continue;
        std::string W;
        while (Words >> W && W[0] != '"')
            C.Bytes.push_back(static_cast<char>(std::stoi(W, nullptr, 16)));
        Chunks.push_back(C);
    }
    return Chunks;
}

std::string TSimProcess::Bytes() const {
    std::string All;
    for (const auto& C : Received())
        All += C.Bytes;
    return All;
}

std::vector<TSimProcess::TCommand> TSimProcess::Commands() const {
    std::vector<TCommand> Out;
    std::string Text;
    double Start = 0;
    for (const auto& C : Received()) {
        for (char B : C.Bytes) {
            if (Text.empty()) Start = C.Time;
            Text.push_back(B);
            if (Text.size() >= 2 && Text.compare(Text.size() - 2, 2, "\r\n") == 0) {
                Out.push_back({Start, Text.substr(0, Text.size() - 2)});
                Text.clear();
            }
        }
    }
    return Out;
}
