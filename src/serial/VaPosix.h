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
    int ByteSize = 8;   // 4..8
    int Parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int StopBits = 0;   // 0 one, 1 one and a half, 2 two
    bool OutCtsFlow = false, OutDsrFlow = false, XonXoffOut = false, XonXoffIn = false;
    bool DsrSensitivity = false, TxContinueOnXoff = false;
    int DtrControl = 0;  // 0 disable, 1 enable, 2 handshake
    int RtsControl = 0;  // 0 disable, 1 enable, 2 handshake, 3 toggle
    bool ParityCheck = false, ErrorChar = false, NullStrip = false;
    uint8_t XonChar = 0x11, XoffChar = 0x13, EofChar = 0;
};

// Driver error counters (overflow, overrun, parity, framing, break).
struct TErrorCounters {
    uint32_t Count[5] = {};
};

// Non-blocking, close-on-exec, exclusive open (TIOCEXCL and flock). Returns
// the descriptor or -1 with Error set.
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
// Modem lines and break; devices without modem lines accept them as no-ops.
int EscapeFunction(int Fd, int Func);
// Best effort; a priority the process may not take is left alone.
void SetThreadPriority(int Tid, int Priority);
int CurrentThreadId();
// True when Error means the device has gone (hang-up).
bool IsHangupError(int Error);
std::string ErrorText(int Error);

// Readiness waits on the device and a wake-up event descriptor.
// Returns a bit set of the following; Timeout in ms, negative waits forever.
enum : int { wReadable = 1, wWritable = 2, wHangup = 4, wWake = 8, wFailed = 16 };
int WaitDevice(int Fd, bool ForWrite, int WakeFd, int Timeout, int& Error);

// Edge-triggered input wait for the event thread: reports new input only
// when bytes arrive, so bytes nobody reads do not wake it again.
class TInputWatch {
public:
    TInputWatch(int Fd, int WakeFd);
    ~TInputWatch();
    TInputWatch(const TInputWatch&) = delete;
    TInputWatch& operator=(const TInputWatch&) = delete;
    int Error() const { return FError; }
    // Returns wReadable/wHangup/wWake/wFailed bits; waits without limit.
    int Wait(int& Error);

private:
    int FEpoll = -1;
    int FError = 0;
};

}  // namespace VaPosix
