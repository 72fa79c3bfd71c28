// SPDX-License-Identifier: GPL-3.0-or-later
// A hostile peer for the end-to-end tests: a sensor on a pseudo-terminal, or
// a network serial server on 127.0.0.1 (raw TCP, or RFC 2217 accepting the
// COM-PORT-OPTION), whose every byte the test scripts. A worker thread
// answers the lines the client sends with the test's actions, sends what is
// queued as fast as the client takes it, sends frames on a period, and can
// storm Telnet negotiations while never reading. Header only.
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace HostilePeer {

// A frame as a sensor sends it: STX, the value text, the two ID characters
// (the hex of 176 + Id: "B1" is ID 1), ETB, "$". Id 0 leaves the ID out.
inline std::string Frame(const std::string& Value, int Id = 1) {
    char Hex[8] = "";
    if (Id) std::snprintf(Hex, sizeof Hex, "%02X", (176 + Id) & 0xFF);
    return "\x02" + Value + Hex + "\x17$";
}

// The frame with a lone 0xFF after the first character of its value: a
// Telnet server's stream in error, never a reading.
inline std::string UndoubledIac(const std::string& Value, int Id = 1) {
    const std::string F = Frame(Value, Id);
    return F.substr(0, 2) + "\xFF" + F.substr(2);
}

// Count requests that a client must refuse or has granted already:
// IAC WILL x IAC DO y, with x and y taking turns over a few options.
inline std::string Storm(int Count) {
    std::string S;
    for (int i = 0; i < Count; ++i)
        S += std::string("\xFF\xFB") + char(100 + i % 7) + "\xFF\xFD" + char(i % 2 ? 0 : 3);
    return S;
}

enum class TKind { Pty, Raw, Rfc2217 };

class TPeer {
  public:
    explicit TPeer(TKind Kind) : FKind(Kind), FWake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        if (Kind == TKind::Pty) {
            FFd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (FFd < 0 || grantpt(FFd) != 0 || unlockpt(FFd) != 0)
                throw std::runtime_error("no pseudo-terminal");
            FPort = ptsname(FFd);
            FSlave = open(FPort.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            termios T{};
            if (FSlave < 0 || tcgetattr(FSlave, &T) != 0) throw std::runtime_error("no slave");
            cfmakeraw(&T);
            tcsetattr(FSlave, TCSANOW, &T);
        } else {
            FListen = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_in A{};
            A.sin_family = AF_INET;
            A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t Len = sizeof A;
            if (bind(FListen, reinterpret_cast<sockaddr*>(&A), Len) != 0 ||
                getsockname(FListen, reinterpret_cast<sockaddr*>(&A), &Len) != 0 ||
                listen(FListen, 1) != 0)
                throw std::runtime_error("no listening socket");
            FPort = (Kind == TKind::Raw ? "tcp://127.0.0.1:" : "rfc2217://127.0.0.1:") +
                    std::to_string(ntohs(A.sin_port));
        }
        FWorker = std::thread([this] { Run(); });
    }
    ~TPeer() {
        FStop = true;
        Wake();
        FWorker.join();
        for (int Fd : {FFd, FListen, FWake, FSlave})
            if (Fd >= 0) close(Fd);
    }
    TPeer(const TPeer&) = delete;
    TPeer& operator=(const TPeer&) = delete;

    // The pseudo-terminal's slave path, or the server's URL.
    const std::string& Port() const { return FPort; }
    // Queued behind what waits, sent as the client takes it. Any thread.
    void Send(const std::string& Bytes) {
        std::lock_guard<std::mutex> L(FLock);
        FOut += Bytes;
        Wake();
    }
    // Make(0), Make(1), ... every PeriodMs (> 0) while a client is there.
    void Every(int PeriodMs, std::function<std::string(long)> Make) {
        std::lock_guard<std::mutex> L(FLock);
        FPeriod = std::chrono::milliseconds(PeriodMs);
        FMake = std::move(Make);
        FNext = std::chrono::steady_clock::now();
        Wake();
    }
    // What to do when the client sends Line (its CR LF and Telnet taken off).
    void On(const std::string& Line, std::function<void(TPeer&)> Do) {
        std::lock_guard<std::mutex> L(FLock);
        FOn[Line] = std::move(Do);
    }
    // From now on, Chunk whenever the client has taken what was sent, and
    // nothing the client sends is read any more.
    void StormWith(const std::string& Chunk) {
        std::lock_guard<std::mutex> L(FLock);
        FStorm = Chunk;
        Wake();
    }
    uint64_t Sent() const { return FSent; }
    bool Connected() const { return FConnected; }
    // The client's lines so far, each ended by '\n'.
    std::string Lines() const {
        std::lock_guard<std::mutex> L(FLock);
        return FLines;
    }

  private:
    void Wake() {
        const uint64_t One = 1;
        [[maybe_unused]] ssize_t W = write(FWake, &One, sizeof One);
    }
    void Accept() {
        FFd = accept4(FListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (FFd < 0) return;
        FConnected = true;
        {
            std::lock_guard<std::mutex> L(FLock);
            FNext = std::chrono::steady_clock::now();
        }
        // Grants the client's offers: COM-PORT-OPTION, binary, SGA.
        if (FKind == TKind::Rfc2217)
            Send("\xFF\xFD\x2C\xFF\xFD\x00\xFF\xFB\x00\xFF\xFD\x03\xFF\xFB\x03");
    }
    // True when B belongs to a Telnet command of the client's, not to its
    // data: a verb and its option, a sub-negotiation up to its SE.
    bool Telnet(unsigned char B) {
        switch (FTelnet) {
        case 0:
            FTelnet = B == 0xFF ? 1 : 0;
            return B == 0xFF;
        case 1:
            FTelnet = B >= 0xFB ? 2 : B == 0xFA ? 3 : 0;
            return B != 0xFF; // a doubled 0xFF is data
        case 2:
            FTelnet = 0;
            return true;
        case 3:
            FTelnet = B == 0xFF ? 4 : 3;
            return true;
        default:
            FTelnet = B == 0xF0 ? 0 : 3;
            return true;
        }
    }
    // Lines go to their actions.
    void Take(const char* P, ssize_t N) {
        for (ssize_t i = 0; i < N; ++i) {
            const unsigned char B = static_cast<unsigned char>(P[i]);
            if ((FKind == TKind::Rfc2217 && Telnet(B)) || B == '\r') continue;
            if (B != '\n') {
                FLine += char(B);
                continue;
            }
            std::function<void(TPeer&)> Do;
            {
                std::lock_guard<std::mutex> L(FLock);
                FLines += FLine + "\n";
                auto It = FOn.find(FLine);
                if (It != FOn.end()) Do = It->second;
            }
            FLine.clear();
            if (Do) Do(*this);
        }
    }
    // The client went: the next one is accepted afresh.
    void Hangup() {
        close(FFd);
        FFd = -1;
        FConnected = false;
        FTelnet = 0;
        FLine.clear();
        std::lock_guard<std::mutex> L(FLock);
        FOut.clear();
    }
    void Run() {
        char Buf[8192];
        while (!FStop) {
            std::string Out;
            int Timeout = -1;
            bool Storming;
            {
                std::lock_guard<std::mutex> L(FLock);
                const auto Now = std::chrono::steady_clock::now();
                if (FMake && FFd >= 0) {
                    for (; FNext <= Now; FNext += FPeriod)
                        FOut += FMake(FMade++);
                    Timeout = int(std::chrono::duration_cast<std::chrono::milliseconds>(FNext - Now)
                                      .count()) +
                              1;
                }
                Storming = !FStorm.empty();
                if (FOut.empty() && Storming) FOut = FStorm;
                Out = FOut;
            }
            pollfd P[2] = {{FWake, POLLIN, 0}, {FFd >= 0 ? FFd : FListen, 0, 0}};
            if (FFd < 0)
                P[1].events = POLLIN;
            else
                P[1].events = short((Storming ? 0 : POLLIN) | (Out.empty() ? 0 : POLLOUT));
            if (poll(P, 2, Timeout) < 0) continue;
            if (P[0].revents) {
                uint64_t Count;
                [[maybe_unused]] ssize_t R = read(FWake, &Count, sizeof Count);
            }
            if (FFd < 0) {
                if (P[1].revents & POLLIN) Accept();
                continue;
            }
            if (P[1].revents & POLLIN) {
                const ssize_t N = read(FFd, Buf, sizeof Buf);
                if (N > 0) Take(Buf, N);
                if (N == 0 && FKind != TKind::Pty) P[1].revents |= POLLHUP;
            }
            if ((P[1].revents & POLLOUT) && !Out.empty()) {
                const ssize_t W = FKind == TKind::Pty
                                      ? write(FFd, Out.data(), Out.size())
                                      : send(FFd, Out.data(), Out.size(), MSG_NOSIGNAL);
                if (W > 0) {
                    std::lock_guard<std::mutex> L(FLock);
                    FOut.erase(0, size_t(W));
                    FSent += uint64_t(W);
                }
            }
            if ((P[1].revents & (POLLHUP | POLLERR)) && FKind != TKind::Pty) Hangup();
        }
    }

    TKind FKind;
    std::string FPort;
    int FFd = -1, FListen = -1, FWake = -1;
    std::thread FWorker;
    std::atomic<bool> FStop{false}, FConnected{false};
    std::atomic<uint64_t> FSent{0};
    mutable std::mutex FLock; // guards what follows
    std::string FOut, FStorm, FLines;
    std::map<std::string, std::function<void(TPeer&)>> FOn;
    std::function<std::string(long)> FMake;
    std::chrono::steady_clock::duration FPeriod{};
    std::chrono::steady_clock::time_point FNext;
    long FMade = 0;
    // The worker's own: the line being received, the Telnet skip state.
    std::string FLine;
    int FTelnet = 0;
    int FSlave = -1; // kept open: a master without a slave reports a hang-up
};

} // namespace HostilePeer
