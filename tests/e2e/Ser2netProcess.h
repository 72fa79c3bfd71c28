// A real ser2net serving one device on a free port of 127.0.0.1, raw or with
// RFC 2217, from a configuration file of its own (ser2net 4 YAML).
#pragma once

#include <string>
#include <sys/types.h>

class TSer2netProcess {
  public:
    // Starts ser2net in front of Device; waits until it listens. Throws
    // std::runtime_error when it does not.
    TSer2netProcess(const std::string& Device, bool Rfc2217);
    ~TSer2netProcess();
    TSer2netProcess(const TSer2netProcess&) = delete;
    TSer2netProcess& operator=(const TSer2netProcess&) = delete;

    // "rfc2217://127.0.0.1:PORT" or "tcp://127.0.0.1:PORT".
    std::string Url() const {
        return (FRfc2217 ? "rfc2217://127.0.0.1:" : "tcp://127.0.0.1:") + std::to_string(FPort);
    }
    int Port() const { return FPort; }
    // Kills it (SIGKILL), as a server that crashed or lost power.
    void Kill();
    // Starts it again on the same port.
    void Start();

  private:
    std::string FConfig, FPidFile;
    bool FRfc2217;
    int FPort = 0;
    pid_t FPid = -1;
};

// A port of 127.0.0.1 that nothing listens on just now.
int FreeTcpPort();
