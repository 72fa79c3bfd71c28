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

// Telnet options this client takes part in.
enum : uint8_t { OptBinary = 0, OptSga = 3, OptComPort = 44 };

// The Telnet side of an RFC 2217 connection, without the socket: payload
// and protocol bytes in, payload and answers out. One thread at a time.
class TTelnet {
  public:
    // The offers sent when the connection opens.
    std::string Start();
    // Payload bytes of In are appended to Payload, and what the server's
    // negotiation asks for to Reply (to be sent as it stands).
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

  private:
    void Verb(uint8_t Verb, uint8_t Opt, std::string& Reply);
    static bool Wanted(uint8_t Opt) {
        return Opt == OptBinary || Opt == OptSga || Opt == OptComPort;
    }
    enum { sData, sIac, sVerb, sSb, sSbIac } FState = sData;
    uint8_t FVerb = 0;
    bool FCr = false; // the last payload byte was CR (NVT's CR NUL)
    bool FUs[256] = {}, FUsAsked[256] = {}, FHim[256] = {}, FHimAsked[256] = {};
    bool FRefused = false;
};

// An open connection. Read, InQueue and SetLineSettings/Escape may be
// called from any thread, as may Write; each takes the device's own locks.
// Functions return 0 or an errno value; a connection that closed or broke
// gives EIO, as a tty that hung up does.
class TNetDevice {
  public:
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

  private:
    TNetDevice(int Fd, TKind Kind) : FFd(Fd), FKind(Kind) {}
    // Under FReadLock: moves what the socket holds into FIn.
    int Fill();
    // Under FSendLock.
    int SendOut();
    int SendProtocol(const std::string& Bytes);
    int FFd;
    TKind FKind;
    std::mutex FReadLock, FSendLock;
    TTelnet FTelnet;    // under FReadLock
    std::string FIn;    // payload not yet read, from FInHead
    size_t FInHead = 0; // under FReadLock
    bool FEof = false;  // under FReadLock
    std::string FOut;   // wire bytes not yet sent, under FSendLock
    int FSendError = 0; // under FSendLock: the connection broke on a send
    friend struct TOpener;
};

} // namespace VaNet
