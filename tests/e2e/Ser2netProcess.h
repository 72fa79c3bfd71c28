// SPDX-License-Identifier: GPL-3.0-or-later
// A real ser2net serving one device on a free port of 127.0.0.1, raw or with
// RFC 2217, from a configuration file of its own (ser2net 4 YAML).
#pragma once

#include <QTemporaryFile>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

// A port of 127.0.0.1 that nothing listens on just now; with Listener, one
// that its socket listens on (and never accepts), for the caller to close.
inline int FreeTcpPort(int* Listener = nullptr) {
    const int S = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Len = sizeof A;
    if (bind(S, reinterpret_cast<sockaddr*>(&A), Len) != 0 ||
        getsockname(S, reinterpret_cast<sockaddr*>(&A), &Len) != 0)
        throw std::runtime_error("no free TCP port");
    if (Listener && listen(S, 8) == 0)
        *Listener = S;
    else
        close(S);
    return ntohs(A.sin_port);
}

class TSer2netProcess {
  public:
    // Starts ser2net in front of Device and waits until it listens.
    TSer2netProcess(const std::string& Device, bool Rfc2217) : FRfc2217(Rfc2217) {
        if (!FConfig.open()) throw std::runtime_error("no temporary configuration file");
        FConfig.write(("%YAML 1.1\n---\nconnection: &sensor\n  accepter: " +
                       std::string(Rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") + "127.0.0.1," +
                       std::to_string(FPort) + "\n  connector: serialdev," + Device +
                       ",9600n81,local\n")
                          .c_str());
        FConfig.flush();
        Start();
    }
    ~TSer2netProcess() { Kill(); }
    std::string Url() const {
        return (FRfc2217 ? "rfc2217://127.0.0.1:" : "tcp://127.0.0.1:") + std::to_string(FPort);
    }
    // Killed as a server that crashed or lost power.
    void Kill() {
        if (FPid <= 0) return;
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
        FPid = -1;
    }
    // Started (again) on the same port; -n keeps it our child, -u makes no
    // lock files.
    void Start() {
        std::string Config = FConfig.fileName().toStdString();
        char* Argv[] = {
            const_cast<char*>("ser2net"), const_cast<char*>("-n"), const_cast<char*>("-u"),
            const_cast<char*>("-c"),      Config.data(),           nullptr};
        // A user's PATH on Debian leaves out /usr/sbin, where the package puts it.
        const char* Program =
            access("/usr/sbin/ser2net", X_OK) == 0 ? "/usr/sbin/ser2net" : "ser2net";
        if (posix_spawnp(&FPid, Program, nullptr, nullptr, Argv, environ) != 0)
            throw std::runtime_error("ser2net does not start (is the ser2net package installed?)");
        for (int i = 0; i < 1000 && !Listening(); ++i)
            poll(nullptr, 0, 10);
        if (!Listening()) throw std::runtime_error("ser2net does not listen");
    }

  private:
    // As the kernel's socket table says: a trial connection would open the
    // device through ser2net and hold it for a moment.
    bool Listening() const {
        char Local[16];
        std::snprintf(Local, sizeof Local, ":%04X", FPort);
        std::ifstream In("/proc/net/tcp");
        std::string Slot, Addr, Remote, State, Rest;
        while (In >> Slot >> Addr >> Remote >> State && std::getline(In, Rest))
            if (State == "0A" && Addr.find(Local) == Addr.size() - 5) return true;
        return false;
    }
    QTemporaryFile FConfig;
    bool FRfc2217;
    int FPort = FreeTcpPort();
    pid_t FPid = -1;
};
