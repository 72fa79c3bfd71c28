// SPDX-License-Identifier: GPL-3.0-or-later
// The POSIX side of the serial engine: every termios, ioctl and descriptor
// call lives here. Functions return 0 on success or the errno value.
#pragma once

#include <cstdint>
#include <string>
#include <termios.h>

namespace VaPosix {

// Line settings in the platform-neutral form the component computes.
struct TLineSettings {
    int Baud = 9600;
    int ByteSize = 8; // 4..8
    int Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int StopBits = 0; // 0 one, 1 one and a half, 2 two
    bool OutCtsFlow = false, OutDsrFlow = false, XonXoffOut = false, XonXoffIn = false;
    bool DsrSensitivity = false, TxContinueOnXoff = false;
    int DtrControl = 0; // 0 disable, 1 enable, 2 handshake
    int RtsControl = 0; // 0 disable, 1 enable, 2 handshake, 3 toggle
    bool ParityCheck = false, ErrorChar = false, NullStrip = false;
    uint8_t XonChar = 0x11, XoffChar = 0x13, EofChar = 0;
};

// Driver counters: line errors (overflow, overrun, parity, framing, break)
// and the transitions of the modem input lines.
struct TErrorCounters {
    uint32_t Count[5] = {};
    uint32_t Cts = 0, Dsr = 0, Ring = 0, Dcd = 0;
};

// Non-blocking, close-on-exec, exclusive open (TIOCEXCL and flock). Returns
// the descriptor or -1 with Error set: ENOTTY for a path that is no terminal,
// EBUSY for a device another program holds.
int OpenDevice(const std::string& Path, int& Error);
void CloseDevice(int Fd);
// Non-canonical, no echo, no translation, reads return at once.
int SetRawMode(int Fd);
// Fills the line-setting fields of T (the rest is kept); EINVAL for what
// termios cannot express.
int MakeTermios(const TLineSettings& S, termios& T);
// Validates everything first; on a refusal the device keeps its settings.
int SetLineSettings(int Fd, const TLineSettings& S);
// One non-blocking transfer; nothing available (EAGAIN) is success with
// Done 0. End of file on a read is reported as EIO (the device hung up).
int ReadDevice(int Fd, void* Buf, int Count, int& Done);
int WriteDevice(int Fd, const void* Buf, int Count, int& Done);
int InQueue(int Fd, int& Count);
int OutQueue(int Fd, int& Count);
// Gives ENOTTY/EINVAL for devices without error counters (pseudo-terminals).
int ReadErrorCounters(int Fd, TErrorCounters& C);
// The host call behind ReadErrorCounters (TIOCGICOUNT). A pseudo-terminal
// has no modem lines, so tests put a scripted source here to play a UART.
// nullptr restores the host's call; returns the source replaced. Any thread.
using TCounterSource = int (*)(int Fd, TErrorCounters& C);
TCounterSource SetCounterSource(TCounterSource Source);
// Modem lines and break; devices without modem lines accept them as no-ops.
int EscapeFunction(int Fd, int Func);
// Best effort; a priority the process may not take is left alone.
void SetThreadPriority(int Tid, int Priority);
int CurrentThreadId();
// True when Path (links followed) names the device open on Fd.
bool SameDevice(int Fd, const std::string& Path);
// True when Error means the device has gone (hang-up).
bool IsHangupError(int Error);
std::string ErrorText(int Error);

// Readiness waits on the device and a wake-up event descriptor.
// Returns a bit set of the following; Timeout in ms, negative waits forever.
enum : int {
    wReadable = 1,
    wWritable = 2,
    wHangup = 4,
    wWake = 8,
    wFailed = 16,
    wKick = 32,
    wNotice = 64
};
int WaitDevice(int Fd, bool ForWrite, int WakeFd, int Timeout, int& Error);

// Input wait for the event thread. A tty's descriptor is watched
// edge-triggered: new input is reported only when bytes arrive, so bytes
// nobody reads do not wake it again (the line keeps bringing new ones, or
// its driver counts an overrun). KickFd (an event descriptor, optional)
// reports wKick while it is set.
//
// With NoticeFd, Fd is a network device's socket (VaNet::TNetDevice), whose
// bytes nobody reads hold the server back: no new byte may ever come to
// report the old ones. It is watched level-triggered, so that the thread
// reads it for as long as it holds bytes, and left alone while held
// (HoldDevice); NoticeFd reports wNotice while it is set. The end of the
// connection shows as readable: it is the device's to report, after the
// bytes before it.
class TInputWatch {
  public:
    TInputWatch(int Fd, int WakeFd, int KickFd = -1, int NoticeFd = -1);
    ~TInputWatch();
    TInputWatch(const TInputWatch&) = delete;
    TInputWatch& operator=(const TInputWatch&) = delete;
    int Error() const { return FError; }
    // Returns wReadable/wHangup/wWake/wKick/wNotice/wFailed bits, 0 when
    // Timeout (ms) passed; a negative Timeout waits without limit.
    int Wait(int& Error, int Timeout = -1);
    // The event thread only, for a socket watched with NoticeFd: Hold stops
    // the readable reports (errors and hang-ups still come), until called
    // again with false. Returns 0 or errno.
    int HoldDevice(bool Hold);

  private:
    int FEpoll = -1;
    int FFd = -1;
    int FError = 0;
};

} // namespace VaPosix
