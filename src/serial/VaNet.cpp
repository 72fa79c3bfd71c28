// SPDX-License-Identifier: GPL-3.0-or-later
#include "VaNet.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "VaComm.h"
#include "VaCommErrors.h"

namespace VaNet {

namespace {

// COM-PORT-OPTION commands, client to server.
enum : uint8_t { SetBaudrate = 1, SetDatasize = 2, SetParity = 3, SetStopsize = 4, SetControl = 5 };
// SET-CONTROL values.
enum : uint8_t {
    CtlNoFlow = 1,
    CtlXonXoff = 2,
    CtlHardware = 3,
    CtlBreakOn = 5,
    CtlBreakOff = 6,
    CtlDtrOn = 8,
    CtlDtrOff = 9,
    CtlRtsOn = 11,
    CtlRtsOff = 12
};

const std::string RawScheme = "tcp://", TelnetScheme = "rfc2217://";

bool StartsWith(const std::string& S, const std::string& P) {
    return S.compare(0, P.size(), P) == 0;
}

// Socket failures that mean the connection is gone, reported as a tty's
// hang-up is.
int Broken(int Error) {
    switch (Error) {
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENOTCONN:
        return EIO;
    default:
        return Error;
    }
}

using TClock = std::chrono::steady_clock;

int MsLeft(TClock::time_point Deadline) {
    auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TClock::now());
    return Left.count() > 0 ? int(Left.count()) : 0;
}

} // namespace

bool IsNetworkPort(const std::string& Text) {
    return StartsWith(Text, RawScheme) || StartsWith(Text, TelnetScheme);
}

bool ParseAddress(const std::string& Text, TAddress& A, std::string& Why) {
    A = TAddress();
    if (!IsNetworkPort(Text)) return true;
    const bool Raw = StartsWith(Text, RawScheme);
    const std::string Scheme = Raw ? RawScheme : TelnetScheme;
    const std::string Rest = Text.substr(Scheme.size());
    const std::string Form = "give " + Scheme + "HOST:PORT with PORT from 1 to 65535";
    std::string Host, Port;
    if (StartsWith(Rest, "[")) {
        const size_t Close = Rest.find(']');
        if (Close == std::string::npos || Rest.compare(Close + 1, 1, ":") != 0) {
            Why = "'" + Text + "' is not a network port: " + Form;
            return false;
        }
        Host = Rest.substr(1, Close - 1);
        Port = Rest.substr(Close + 2);
    } else {
        const size_t Colon = Rest.rfind(':');
        if (Colon != std::string::npos) {
            Host = Rest.substr(0, Colon);
            Port = Rest.substr(Colon + 1);
        }
    }
    const bool Digits = !Port.empty() && Port.size() <= 5 &&
                        Port.find_first_not_of("0123456789") == std::string::npos;
    const int Number = Digits ? std::stoi(Port) : 0;
    if (Host.empty() || Host.find_first_of("/ ") != std::string::npos || Number < 1 ||
        Number > 65535) {
        Why = "'" + Text + "' is not a network port: " + Form;
        return false;
    }
    A.Kind = Raw ? TKind::Raw : TKind::Rfc2217;
    A.Host = Host;
    A.Port = Number;
    return true;
}

// ---------------------------------------------------------------- Telnet

std::string TTelnet::Start() {
    // The COM-PORT-OPTION is the client's to offer; binary transmission
    // both ways keeps CR and NUL bytes as they are; SGA is what a serial
    // line is (no half-duplex turn-around).
    const uint8_t Offers[][2] = {
        {WILL, OptComPort}, {WILL, OptBinary}, {DO, OptBinary}, {WILL, OptSga}, {DO, OptSga}};
    std::string S;
    for (const auto& O : Offers) {
        S += char(IAC);
        S += char(O[0]);
        S += char(O[1]);
        (O[0] == WILL ? FUsAsked : FHimAsked)[O[1]] = true;
    }
    return S;
}

// Each side of an option changes only on request and is confirmed once: a
// request that answers ours is not answered again, which is what keeps two
// parties from acknowledging each other for ever.
void TTelnet::Verb(uint8_t V, uint8_t Opt, std::string& Reply) {
    const auto Answer = [&](uint8_t R) {
        Reply += char(IAC);
        Reply += char(R);
        Reply += char(Opt);
    };
    switch (V) {
    case DO:
        if (!Wanted(Opt)) {
            Answer(WONT);
        } else if (!FUs[Opt]) {
            if (!FUsAsked[Opt]) Answer(WILL);
            FUs[Opt] = true;
        }
        FUsAsked[Opt] = false;
        break;
    case DONT:
        if (Opt == OptComPort && (FUsAsked[Opt] || FUs[Opt])) FRefused = true;
        if (FUs[Opt]) Answer(WONT);
        FUs[Opt] = FUsAsked[Opt] = false;
        break;
    case WILL:
        if (!Wanted(Opt)) {
            Answer(DONT);
        } else if (!FHim[Opt]) {
            if (!FHimAsked[Opt]) Answer(DO);
            FHim[Opt] = true;
        }
        FHimAsked[Opt] = false;
        break;
    case WONT:
        if (FHim[Opt]) Answer(DONT);
        FHim[Opt] = FHimAsked[Opt] = false;
        break;
    }
}

void TTelnet::Error(std::string& Payload) {
    ++FErrors;
    Payload += char(Substitute);
    FCr = false;
}

void TTelnet::AfterIac(uint8_t B, std::string& Payload) {
    FState = sData;
    if (B == IAC) {
        Payload += char(IAC);
        FCr = false;
    } else if (B >= WILL) {
        FVerb = B;
        FState = sVerb;
    } else if (B == SB) {
        FSbLength = 0;
        FState = sSb;
    } else if (B != NOP && B != DM && B != AYT && B != GA) {
        // NOP, the data mark, "are you there" and go-ahead leave the data
        // as it is; anything else does not belong on a serial line.
        Error(Payload);
    }
}

void TTelnet::Decode(const uint8_t* In, int Count, std::string& Payload, std::string& Reply) {
    for (int i = 0; i < Count; ++i) {
        const uint8_t B = In[i];
        switch (FState) {
        case sData:
            if (B == IAC) {
                FState = sIac;
            } else {
                // Outside binary mode the server sends a lone CR as CR NUL.
                if (!(B == 0 && FCr && !FHim[OptBinary])) Payload += char(B);
                FCr = B == '\r';
            }
            break;
        case sIac:
            AfterIac(B, Payload);
            break;
        case sVerb:
            Verb(FVerb, B, Reply);
            FState = sData;
            break;
        case sSb:
            // The server's answers to the settings and its notifications
            // are not needed: what was asked for is what the port has, or
            // the server's own choice, and neither changes what is read.
            if (B == IAC)
                FState = sSbIac;
            else if (++FSbLength == MaxSubnegotiation + 1)
                Error(Payload);
            break;
        case sSbIac:
            if (B == SE) {
                FState = sData;
            } else if (B == IAC) {
                FState = sSb;
                if (++FSbLength == MaxSubnegotiation + 1) Error(Payload);
            } else {
                // Cut short: B begins the command that took its place.
                Error(Payload);
                AfterIac(B, Payload);
            }
            break;
        }
    }
}

void TTelnet::Escape(const uint8_t* In, int Count, std::string& Out) {
    for (int i = 0; i < Count; ++i) {
        Out += char(In[i]);
        if (In[i] == IAC) Out += char(IAC);
    }
}

std::string TTelnet::Command(uint8_t Code, const std::string& Value) {
    std::string S = {char(IAC), char(SB), char(OptComPort), char(Code)};
    Escape(reinterpret_cast<const uint8_t*>(Value.data()), int(Value.size()), S);
    S += char(IAC);
    S += char(SE);
    return S;
}

std::string TTelnet::LineCommands(const VaPosix::TLineSettings& S, int& Error) {
    Error = 0;
    // The same refusals as a local port's: what no serial server can be told.
    if (S.Baud <= 0 || S.ByteSize < 5 || S.ByteSize > 8 || S.Parity < 0 || S.Parity > 4 ||
        S.StopBits < 0 || S.StopBits > 2 || S.OutDsrFlow || S.DsrSensitivity || S.DtrControl == 2 ||
        S.RtsControl == 3 || S.ErrorChar || S.NullStrip) {
        Error = EINVAL;
        return std::string();
    }
    const uint32_t Baud = uint32_t(S.Baud);
    const std::string Rate = {char(Baud >> 24), char(Baud >> 16), char(Baud >> 8), char(Baud)};
    static const char StopCodes[] = {1, 3, 2}; // one, one and a half, two
    const bool Hardware = S.OutCtsFlow || S.RtsControl == 2;
    std::string C = Command(SetBaudrate, Rate) + Command(SetDatasize, {char(S.ByteSize)}) +
                    Command(SetParity, {char(S.Parity + 1)}) +
                    Command(SetStopsize, {StopCodes[S.StopBits]});
    C += Command(SetControl, {char(Hardware       ? CtlHardware
                                   : S.XonXoffOut ? CtlXonXoff
                                                  : CtlNoFlow)});
    C += Command(SetControl, {char(S.DtrControl == 1 ? CtlDtrOn : CtlDtrOff)});
    if (!Hardware) C += Command(SetControl, {char(S.RtsControl == 1 ? CtlRtsOn : CtlRtsOff)});
    return C;
}

// ---------------------------------------------------------------- opening

struct TOpener {
    const TAddress& A;
    std::string Where() const { return A.Host + " port " + std::to_string(A.Port); }

    [[noreturn]] void Fail(int Error, const std::string& Reason) const {
        throw EVaCommOpenError("Can't connect to " + Where() + ": " + Reason, Error);
    }

    [[noreturn]] void FailErrno(int Error) const {
        std::string Reason = VaPosix::ErrorText(Error);
        if (Error == ECONNREFUSED)
            Reason +=
                "; check that the serial server runs and listens on port " + std::to_string(A.Port);
        else if (Error == ETIMEDOUT)
            Reason = "no answer within " + std::to_string(ConnectMs / 1000) +
                     " s; check the host name and the network";
        else
            Reason += "; check the host name and the network";
        Fail(Error, Reason);
    }

    // The host's addresses, looked up on a thread of its own: the system's
    // resolver may wait far longer than ConnectMs for a name server that
    // does not answer. A lookup given up on frees its result when it ends.
    addrinfo* Lookup(TClock::time_point Deadline) const {
        struct TLookup {
            std::mutex M;
            std::condition_variable Done;
            bool Finished = false, Abandoned = false;
            int Gai = 0;
            addrinfo* List = nullptr;
        };
        auto L = std::make_shared<TLookup>();
        std::thread([L, Host = A.Host, Port = std::to_string(A.Port)] {
            addrinfo Hints{};
            Hints.ai_family = AF_UNSPEC;
            Hints.ai_socktype = SOCK_STREAM;
            addrinfo* List = nullptr;
            const int Gai = getaddrinfo(Host.c_str(), Port.c_str(), &Hints, &List);
            std::lock_guard<std::mutex> G(L->M);
            if (L->Abandoned) {
                if (Gai == 0) freeaddrinfo(List);
                return;
            }
            L->Gai = Gai;
            L->List = List;
            L->Finished = true;
            L->Done.notify_all();
        }).detach();
        std::unique_lock<std::mutex> G(L->M);
        if (!L->Done.wait_until(G, Deadline, [&] { return L->Finished; })) {
            L->Abandoned = true;
            Fail(ETIMEDOUT, "the host name was not resolved within " +
                                std::to_string(ConnectMs / 1000) +
                                " s; check the host name and the name server");
        }
        if (L->Gai != 0)
            Fail(EHOSTUNREACH,
                 std::string("host not found (") + gai_strerror(L->Gai) + "); check the host name");
        return L->List;
    }

    // A connected, non-blocking socket, within ConnectMs for all addresses.
    int Connect() const {
        const auto Deadline = TClock::now() + std::chrono::milliseconds(ConnectMs);
        addrinfo* List = Lookup(Deadline);
        int Error = ETIMEDOUT;
        int Fd = -1;
        for (addrinfo* I = List; I && Fd < 0 && MsLeft(Deadline) > 0; I = I->ai_next) {
            Fd =
                socket(I->ai_family, I->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, I->ai_protocol);
            if (Fd < 0) {
                Error = errno;
                continue;
            }
            int R = connect(Fd, I->ai_addr, I->ai_addrlen);
            if (R != 0 && errno == EINPROGRESS) {
                pollfd P = {Fd, POLLOUT, 0};
                int N;
                do
                    N = poll(&P, 1, MsLeft(Deadline));
                while (N < 0 && errno == EINTR);
                socklen_t Len = sizeof Error;
                if (N == 0)
                    Error = ETIMEDOUT;
                else if (N < 0 || getsockopt(Fd, SOL_SOCKET, SO_ERROR, &Error, &Len) != 0)
                    Error = errno;
                R = N > 0 && Error == 0 ? 0 : -1;
            } else if (R != 0) {
                Error = errno;
            }
            if (R != 0) {
                close(Fd);
                Fd = -1;
            }
        }
        freeaddrinfo(List);
        if (Fd < 0) FailErrno(Error);
        const int On = 1;
        // Commands are a few bytes each and wait for an answer: no delay.
        setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &On, sizeof On);
        // A server or cable gone without a word is noticed in about half a
        // minute, not after the system's two hours.
        const int Idle = 10, Interval = 5, Probes = 3;
        setsockopt(Fd, SOL_SOCKET, SO_KEEPALIVE, &On, sizeof On);
        setsockopt(Fd, IPPROTO_TCP, TCP_KEEPIDLE, &Idle, sizeof Idle);
        setsockopt(Fd, IPPROTO_TCP, TCP_KEEPINTVL, &Interval, sizeof Interval);
        setsockopt(Fd, IPPROTO_TCP, TCP_KEEPCNT, &Probes, sizeof Probes);
        // The same for bytes sent and never acknowledged (ms).
        const int Unacknowledged = (Idle + Interval * Probes) * 1000;
        setsockopt(Fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &Unacknowledged, sizeof Unacknowledged);
        return Fd;
    }

    void Negotiate(TNetDevice& D) const {
        const std::string NotRfc = Where() + " is not an RFC 2217 server";
        const std::string Fix =
            "; give tcp://" + A.Host + ":" + std::to_string(A.Port) + " if it passes raw bytes";
        int Error;
        {
            std::lock_guard<std::mutex> L(D.FSendLock);
            Error = D.SendProtocol(D.FTelnet.Start());
        }
        const auto Deadline = TClock::now() + std::chrono::milliseconds(NegotiateMs);
        std::lock_guard<std::mutex> L(D.FReadLock);
        while (Error == 0 && !D.FTelnet.ComPortAccepted()) {
            if (D.FTelnet.ComPortRefused())
                throw EVaCommOpenError(NotRfc + ": it refused the COM-PORT-OPTION" + Fix, EPROTO);
            if (D.FEof)
                throw EVaCommOpenError(Where() + " closed the connection at once; another "
                                                 "program may be connected to it",
                                       ECONNRESET);
            pollfd P = {D.FFd, POLLIN, 0};
            const int Left = MsLeft(Deadline);
            const int R = Left > 0 ? poll(&P, 1, Left) : 0;
            if (R == 0)
                throw EVaCommOpenError(NotRfc + ": no answer to the COM-PORT-OPTION within " +
                                           std::to_string(NegotiateMs / 1000) + " s" + Fix,
                                       ETIMEDOUT);
            bool Got = false;
            if (R > 0) Error = D.Fill(Got);
            if (Got) D.Notify();
            if (R < 0 && errno != EINTR) Error = errno;
        }
        if (Error != 0) FailErrno(Error == EIO ? ECONNRESET : Error);
    }
};

std::unique_ptr<TNetDevice> TNetDevice::Open(const TAddress& A) {
    TOpener O{A};
    std::unique_ptr<TNetDevice> D(new TNetDevice(O.Connect(), A.Kind));
    if (D->FNotice < 0) {
        const int Error = errno;
        O.Fail(Error, VaPosix::ErrorText(Error));
    }
    if (A.Kind == TKind::Rfc2217) O.Negotiate(*D);
    return D;
}

TNetDevice::TNetDevice(int Fd, TKind Kind)
    : FFd(Fd), FKind(Kind), FNotice(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TNetDevice::~TNetDevice() {
    close(FFd);
    if (FNotice >= 0) close(FNotice);
}

// ---------------------------------------------------------------- I/O

// Bytes nobody reads are left in the socket beyond MaxPending, as a tty
// leaves them in its driver. A receive never asks for more than the room
// left: Telnet's decoding only shrinks what it is given.
// A call takes at most MaxPending wire bytes: a server that never stops
// sending (a negotiation storm carries no payload, so the room never runs
// out) would otherwise keep the caller here, and the read lock with it, for
// good. The socket stays readable and the next call goes on.
int TNetDevice::Fill(bool& Got) {
    Got = false;
    uint8_t Raw[4096];
    for (size_t Taken = 0; Taken < MaxPending;) {
        const size_t Room = MaxPending - std::min(MaxPending, FIn.size() - FInHead);
        if (Room == 0) return 0;
        const size_t Want = std::min(Room, sizeof Raw);
        const ssize_t R = recv(FFd, Raw, Want, MSG_DONTWAIT);
        if (R == 0) {
            FEof = true;
            return 0;
        }
        if (R < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : Broken(errno);
        }
        if (FInHead > 0 && FInHead * 2 >= FIn.size()) {
            FIn.erase(0, FInHead);
            FInHead = 0;
        }
        const size_t Before = FIn.size();
        if (FKind == TKind::Raw) {
            FIn.append(reinterpret_cast<const char*>(Raw), size_t(R));
        } else {
            std::string Reply;
            FTelnet.Decode(Raw, int(R), FIn, Reply);
            FProtocolErrors = FTelnet.ProtocolErrors();
            if (!Reply.empty()) {
                // Replies are three bytes each; those the bound has no room
                // for are dropped, for a server that never reads would
                // otherwise have them pile up here without end.
                std::lock_guard<std::mutex> L(FSendLock);
                const size_t Free = MaxOutput - std::min(MaxOutput, FOut.size());
                const size_t Fit = std::min(Reply.size(), Free / 3 * 3);
                FDroppedReplies += (Reply.size() - Fit) / 3;
                Reply.resize(Fit);
                if (!Reply.empty()) SendProtocol(Reply);
            }
        }
        Got = Got || FIn.size() > Before;
        if (size_t(R) < Want) return 0;
        Taken += size_t(R);
    }
    return 0;
}

void TNetDevice::Notify() {
    const uint64_t One = 1;
    // Fails only when the counter would overflow, with a notice due.
    [[maybe_unused]] ssize_t Written = ::write(FNotice, &One, sizeof One);
}

void TNetDevice::TakeNotice() {
    uint64_t Count;
    [[maybe_unused]] ssize_t Got = ::read(FNotice, &Count, sizeof Count);
}

int TNetDevice::Pump(bool& Ready, bool& Hold) {
    std::lock_guard<std::mutex> L(FReadLock);
    bool Got;
    const int Error = Fill(Got);
    const size_t Pending = FIn.size() - FInHead;
    Ready = Pending > 0;
    Hold = false;
    if (Error != 0) return Error;
    if (FEof && Pending == 0) return EIO;
    // A socket at its end stays readable: it waits, as a full input does,
    // until the reader has taken what came before the end.
    if (Pending >= MaxPending || FEof) {
        if (!FEof) ++FInputHolds;
        Hold = FHeld = true;
    }
    return 0;
}

// The event thread learns of bytes the reader took from the socket itself
// through the notice: they may stay in the reader's own buffer, beyond what
// the dispatch under way counted, and TCP may bring nothing more to wake it.
int TNetDevice::Read(void* Buf, int Count, int& Done) {
    std::lock_guard<std::mutex> L(FReadLock);
    Done = 0;
    bool Notice = false;
    int Error = 0;
    while (Done < Count) {
        if (FInHead == FIn.size()) {
            if (FHeld) {
                FHeld = false;
                Notice = true;
            }
            if (FEof) {
                if (Done == 0) Error = EIO;
                break;
            }
            bool Got;
            if ((Error = Fill(Got)) != 0) break;
            Notice = Notice || Got;
            if (FInHead == FIn.size() && !FEof) break;
            continue;
        }
        const size_t Take = std::min(size_t(Count - Done), FIn.size() - FInHead);
        std::memcpy(static_cast<uint8_t*>(Buf) + Done, FIn.data() + FInHead, Take);
        FInHead += Take;
        Done += int(Take);
    }
    if (Notice) Notify();
    return Error;
}

int TNetDevice::InQueue(int& Count) {
    std::lock_guard<std::mutex> L(FReadLock);
    bool Got;
    const int Error = Fill(Got);
    if (Got) Notify();
    Count = int(FIn.size() - FInHead);
    return Error;
}

int TNetDevice::OutQueue(int& Count) {
    Count = 0;
    if (ioctl(FFd, TIOCOUTQ, &Count) != 0) return errno;
    std::lock_guard<std::mutex> L(FSendLock);
    Count += int(FOut.size());
    return 0;
}

int TNetDevice::SendOut() {
    while (!FOut.empty() && FSendError == 0) {
        const ssize_t R = send(FFd, FOut.data(), FOut.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (R < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            FSendError = Broken(errno);
            break;
        }
        FOut.erase(0, size_t(R));
    }
    return FSendError;
}

int TNetDevice::SendProtocol(const std::string& Bytes) {
    if (FOut.size() + Bytes.size() > MaxOutput) {
        if (int Error = SendOut()) return Error;
        if (FOut.size() + Bytes.size() > MaxOutput) return ENOBUFS;
    }
    FOut += Bytes;
    return SendOut();
}

// Whole escaped pieces go into FOut, so that the socket taking part of a
// doubled 0xFF never leaves a half escape between two writes.
int TNetDevice::Write(const void* Buf, int Count, int& Done) {
    std::lock_guard<std::mutex> L(FSendLock);
    Done = 0;
    if (int Error = SendOut()) return Error;
    if (!FOut.empty() || Count <= 0) return 0;
    const int Piece = std::min(Count, 4096);
    const uint8_t* P = static_cast<const uint8_t*>(Buf);
    if (FKind == TKind::Raw)
        FOut.assign(reinterpret_cast<const char*>(P), size_t(Piece));
    else
        TTelnet::Escape(P, Piece, FOut);
    Done = Piece;
    return SendOut();
}

int TNetDevice::Flush(bool& Pending) {
    std::lock_guard<std::mutex> L(FSendLock);
    const int Error = SendOut();
    Pending = Error == 0 && !FOut.empty();
    return Error;
}

int TNetDevice::SetLineSettings(const VaPosix::TLineSettings& S) {
    int Error = 0;
    const std::string C = TTelnet::LineCommands(S, Error);
    if (Error != 0 || FKind == TKind::Raw) return FKind == TKind::Raw ? 0 : Error;
    std::lock_guard<std::mutex> L(FSendLock);
    return SendProtocol(C);
}

int TNetDevice::Escape(int Func) {
    uint8_t Value;
    switch (Func) {
    case SETRTS:
        Value = CtlRtsOn;
        break;
    case CLRRTS:
        Value = CtlRtsOff;
        break;
    case SETDTR:
        Value = CtlDtrOn;
        break;
    case CLRDTR:
        Value = CtlDtrOff;
        break;
    case SETBREAK:
        Value = CtlBreakOn;
        break;
    case CLRBREAK:
        Value = CtlBreakOff;
        break;
    case SETXOFF:
    case SETXON:
    case RESETDEV:
        return 0; // the server keeps its own flow control; nothing to reset
    default:
        return EINVAL;
    }
    if (FKind == TKind::Raw) return 0;
    std::lock_guard<std::mutex> L(FSendLock);
    return SendProtocol(TTelnet::Command(SetControl, {char(Value)}));
}

} // namespace VaNet
