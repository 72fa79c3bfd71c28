// SPDX-License-Identifier: GPL-3.0-or-later
// Ports behind a network serial server, the serial component's second kind
// of device: "rfc2217://HOST:PORT" speaks Telnet with the COM-PORT-OPTION,
// so that the line settings and modem lines reach the server's port;
// "tcp://HOST:PORT" passes raw bytes and has no settings to give.
//
// The device's socket is watched by the component's event thread as a tty's
// descriptor is; reads and writes go through TNetDevice, which removes and
// adds the Telnet escaping and answers the server's option negotiation.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "VaPosix.h"

namespace VaNet {

// How long opening may take, in ms: the host name's lookup and the TCP
// connect to all of its addresses together, then the server's answer to
// the COM-PORT-OPTION offer. Opening runs on the caller's thread.
constexpr int ConnectMs = 2000;
constexpr int NegotiateMs = 3000;

enum class TKind { None, Raw, Rfc2217 };

struct TAddress {
    TKind Kind = TKind::None;
    std::string Host; // without the brackets of an IPv6 literal
    int Port = 0;
};

// True when Text begins with one of the network schemes.
bool IsNetworkPort(const std::string& Text);
// Splits "rfc2217://HOST:PORT" or "tcp://HOST:PORT" ("[::1]" for an IPv6
// literal). False with Why set (the cause and the form wanted) for a
// network text that is malformed; Kind None for any other text.
bool ParseAddress(const std::string& Text, TAddress& A, std::string& Why);

// Telnet commands (RFC 854), each after an IAC.
enum : uint8_t {
    SE = 240,
    NOP = 241,
    DM = 242,
    AYT = 246,
    GA = 249,
    SB = 250,
    WILL = 251,
    WONT = 252,
    DO = 253,
    DONT = 254,
    IAC = 255
};
// Telnet options this client takes part in.
enum : uint8_t { OptBinary = 0, OptSga = 3, OptComPort = 44 };

// The Telnet side of an RFC 2217 connection, without the socket: payload
// and protocol bytes in, payload and answers out. One thread at a time.
//
// What breaks the protocol cannot be passed on as data, and dropping it
// silently would splice the bytes on either side into a text nobody sent
// (an undoubled 0xFF in "12\xFF.50" would read 1250). So each unit in error
// becomes one Substitute byte in the payload, where no frame or answer can
// hold it, and is counted: an IAC before a byte that is no command (the
// pair), a command that edits a terminal's data stream (EC, EL, AO, IP,
// BRK, end of record, a stray SE: a serial line has no such thing), and a
// sub-negotiation cut short by another command or longer than
// MaxSubnegotiation bytes. The rest of an overlong sub-negotiation is still
// skipped up to its IAC SE: bytes inside one are never payload.
class TTelnet {
  public:
    static constexpr uint8_t Substitute = 0x1A; // ASCII SUB
    // Far above the longest sub-negotiation of the COM-PORT-OPTION (a
    // signature text aside, a few bytes).
    static constexpr int MaxSubnegotiation = 512;
    // The offers sent when the connection opens.
    std::string Start();
    // Payload bytes of In are appended to Payload, and what the server's
    // negotiation asks for to Reply (to be sent as it stands): at most one
    // three-byte reply for each three-byte request, and none for a request
    // for the state an option is in already.
    void Decode(const uint8_t* In, int Count, std::string& Payload, std::string& Reply);
    // Payload as it goes on the wire (0xFF doubled).
    static void Escape(const uint8_t* In, int Count, std::string& Out);
    // A COM-PORT-OPTION command with its value bytes, escaped.
    static std::string Command(uint8_t Code, const std::string& Value);
    // The commands that give the server's port the settings S; EINVAL in
    // Error for what the protocol cannot express.
    static std::string LineCommands(const VaPosix::TLineSettings& S, int& Error);
    // The server agreed to (or refused) the COM-PORT-OPTION.
    bool ComPortAccepted() const { return FUs[OptComPort]; }
    bool ComPortRefused() const { return FRefused; }
    // Units in error so far (each one Substitute in the payload).
    uint64_t ProtocolErrors() const { return FErrors; }

  private:
    void Verb(uint8_t Verb, uint8_t Opt, std::string& Reply);
    // The byte after an IAC outside a sub-negotiation.
    void AfterIac(uint8_t B, std::string& Payload);
    void Error(std::string& Payload);
    static bool Wanted(uint8_t Opt) {
        return Opt == OptBinary || Opt == OptSga || Opt == OptComPort;
    }
    enum { sData, sIac, sVerb, sSb, sSbIac } FState = sData;
    uint8_t FVerb = 0;
    bool FCr = false;  // the last payload byte was CR (NVT's CR NUL)
    int FSbLength = 0; // bytes of the sub-negotiation so far
    bool FUs[256] = {}, FUsAsked[256] = {}, FHim[256] = {}, FHimAsked[256] = {};
    bool FRefused = false;
    uint64_t FErrors = 0;
};

// An open connection. Read, InQueue and SetLineSettings/Escape may be
// called from any thread, as may Write; each takes the device's own locks.
// Functions return 0 or an errno value; a connection that closed or broke
// gives EIO, as a tty that hung up does.
//
// Bounds: payload received and not yet read stops at MaxPending bytes, and
// the socket is then left unread (TCP holds the server back; nothing is
// lost). Wire bytes waiting for the socket stop at MaxOutput: a piece of
// payload is taken only when nothing else waits, a reply to the server's
// negotiation that does not fit is dropped and counted, and a command of
// the component's that does not fit is refused with ENOBUFS.
class TNetDevice {
  public:
    static constexpr size_t MaxPending = 65536;
    static constexpr size_t MaxOutput = 16384;
    // Connects and, for RFC 2217, waits for the server to accept the
    // COM-PORT-OPTION. Raises EVaCommOpenError with a text that names the
    // host, the port and the reason.
    static std::unique_ptr<TNetDevice> Open(const TAddress& A);
    ~TNetDevice();
    TNetDevice(const TNetDevice&) = delete;
    TNetDevice& operator=(const TNetDevice&) = delete;

    int Fd() const { return FFd; }
    TKind Kind() const { return FKind; }
    // Payload bytes, never blocking; Done < Count only when nothing more
    // has arrived (or on an error).
    int Read(void* Buf, int Count, int& Done);
    // Takes up to Count payload bytes (Done) into the device's output and
    // sends what the socket accepts; Done 0 while earlier output waits.
    int Write(const void* Buf, int Count, int& Done);
    // Sends output that waits; true in Pending while some still does.
    int Flush(bool& Pending);
    // Payload bytes that have arrived and not been read.
    int InQueue(int& Count);
    // Bytes written and not yet taken by the server's side of the socket.
    int OutQueue(int& Count);
    int SetLineSettings(const VaPosix::TLineSettings& S);
    // EscapeComm's functions: modem lines and break through SET-CONTROL;
    // no-ops on a raw connection.
    int Escape(int Func);

    // For the event thread, which watches Fd level-triggered: a socket
    // holding bytes is read again and again until it is empty, so no byte
    // waits there for an arrival that TCP's closed window keeps from coming.
    // Pump moves what the socket holds into the pending input; Ready when
    // payload waits to be read. Hold: stop watching Fd (the input is full,
    // or the end of the connection waits behind unread payload) until
    // NoticeFd becomes readable. EIO once the connection has ended and all
    // its payload has been read.
    int Pump(bool& Ready, bool& Hold);
    // An event descriptor, readable when the reader has emptied an input
    // that Pump held, or has itself taken bytes from the socket that no
    // event has told of. The event thread takes it with TakeNotice, then
    // watches Fd again and reports received bytes.
    int NoticeFd() const { return FNotice; }
    void TakeNotice();

    // Counters, any thread: Telnet units in error (TTelnet), negotiation
    // replies dropped because MaxOutput was reached, and the times the
    // input stopped at MaxPending with bytes left in the socket.
    uint64_t ProtocolErrors() const { return FProtocolErrors; }
    uint64_t DroppedReplies() const { return FDroppedReplies; }
    uint64_t InputHolds() const { return FInputHolds; }

  private:
    TNetDevice(int Fd, TKind Kind);
    // Under FReadLock: moves what the socket holds into FIn, up to
    // MaxPending; Got tells whether any payload came.
    int Fill(bool& Got);
    // Under FReadLock: the reader took from FIn.
    void Taken();
    void Notify();
    // Under FSendLock.
    int SendOut();
    int SendProtocol(const std::string& Bytes);
    int FFd;
    TKind FKind;
    int FNotice = -1;
    std::mutex FReadLock, FSendLock;
    TTelnet FTelnet;    // under FReadLock
    std::string FIn;    // payload not yet read, from FInHead
    size_t FInHead = 0; // under FReadLock
    bool FEof = false;  // under FReadLock
    bool FHeld = false; // under FReadLock: Pump asked for Fd to be left alone
    std::string FOut;   // wire bytes not yet sent, under FSendLock
    int FSendError = 0; // under FSendLock: the connection broke on a send
    std::atomic<uint64_t> FProtocolErrors{0}, FDroppedReplies{0}, FInputHolds{0};
    friend struct TOpener;
};

} // namespace VaNet
