// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated sensor as a child process, and the log of what it received.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class TSimProcess {
  public:
    // Starts vorta-sim with Args and a log file of its own; waits for the
    // device path it prints. Throws std::runtime_error when it does not start.
    explicit TSimProcess(const std::vector<std::string>& Args = {});
    ~TSimProcess();
    TSimProcess(const TSimProcess&) = delete;
    TSimProcess& operator=(const TSimProcess&) = delete;

    const std::string& Path() const { return FPath; }

    // One read of the sensor: when it arrived (seconds) and the bytes.
    struct TChunk {
        double Time;
        std::string Bytes;
    };
    std::vector<TChunk> Received() const;
    // Everything received so far, in one string.
    std::string Bytes() const;
    // The CR LF-ended commands received, with the time of each one's first byte.
    struct TCommand {
        double Time;
        std::string Text; // without CR LF
    };
    std::vector<TCommand> Commands() const;

  private:
    pid_t FPid = -1;
    int FOut = -1;
    std::string FPath;
    std::string FLogPath;
};
