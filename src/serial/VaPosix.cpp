// SPDX-License-Identifier: GPL-3.0-or-later
#include "VaPosix.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

namespace VaPosix {

int OpenDevice(const std::string& Path, int& Error) {
    int Fd = open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Fd < 0) {
        Error = errno;
        return -1;
    }
    // A file or a device that is no terminal (/dev/null) would open and then
    // fail at the first line setting with a text that hides the mistake.
    if (!isatty(Fd)) {
        Error = ENOTTY;
        close(Fd);
        return -1;
    }
    // flock also excludes programs running as root, whom TIOCEXCL lets through.
    if (flock(Fd, LOCK_EX | LOCK_NB) != 0 || ioctl(Fd, TIOCEXCL) != 0) {
        Error = errno == EWOULDBLOCK ? EBUSY : errno;
        close(Fd);
        return -1;
    }
    Error = 0;
    return Fd;
}

void CloseDevice(int Fd) {
    if (Fd < 0) return;
    // The exclusive flag outlives the descriptor on a pseudo-terminal whose
    // master stays open; clear it so that the port can be opened again.
    ioctl(Fd, TIOCNXCL);
    flock(Fd, LOCK_UN);
    close(Fd);
}

int SetRawMode(int Fd) {
    termios T;
    if (tcgetattr(Fd, &T) != 0) return errno;
    T.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IMAXBEL);
    T.c_oflag &= ~OPOST;
    T.c_lflag &= ~(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    T.c_cflag |= CREAD | CLOCAL;
    T.c_cc[VMIN] = 0;
    T.c_cc[VTIME] = 0;
    return tcsetattr(Fd, TCSANOW, &T) != 0 ? errno : 0;
}

static speed_t SpeedCode(int Baud) {
    static const struct {
        int Baud;
        speed_t Code;
    } Table[] = {{50, B50},           {75, B75},           {110, B110},         {134, B134},
                 {150, B150},         {200, B200},         {300, B300},         {600, B600},
                 {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
                 {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
                 {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
                 {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
                 {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
                 {3500000, B3500000}, {4000000, B4000000}};
    for (const auto& E : Table)
        if (E.Baud == Baud) return E.Code;
    return B0;
}

int MakeTermios(const TLineSettings& S, termios& T) {
    speed_t Speed = SpeedCode(S.Baud);
    // What termios cannot express is refused before anything is changed.
    if (Speed == B0 || S.ByteSize < 5 || S.ByteSize > 8 || S.Parity < 0 || S.Parity > 4 ||
        (S.StopBits == 1 && S.ByteSize != 5) || S.StopBits < 0 || S.StopBits > 2 || S.OutDsrFlow ||
        S.DsrSensitivity || S.DtrControl == 2 || S.RtsControl == 3 || S.ErrorChar || S.NullStrip)
        return EINVAL;
    static const tcflag_t Sizes[] = {CS5, CS6, CS7, CS8};
    T.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    T.c_cflag |= Sizes[S.ByteSize - 5];
    if (S.Parity != 0) T.c_cflag |= PARENB;
    if (S.Parity == 1 || S.Parity == 3) T.c_cflag |= PARODD;
    if (S.Parity >= 3) T.c_cflag |= CMSPAR;
    if (S.StopBits != 0) T.c_cflag |= CSTOPB; // with 5 data bits the UART sends 1.5
    // termios has one switch for both directions of hardware handshake.
    if (S.OutCtsFlow || S.RtsControl == 2) T.c_cflag |= CRTSCTS;
    T.c_iflag &= ~(IXON | IXOFF | INPCK);
    if (S.XonXoffOut) T.c_iflag |= IXON;
    if (S.XonXoffIn) T.c_iflag |= IXOFF;
    if (S.ParityCheck) T.c_iflag |= INPCK;
    T.c_cc[VSTART] = S.XonChar;
    T.c_cc[VSTOP] = S.XoffChar;
    T.c_cc[VEOF] = S.EofChar;
    cfsetispeed(&T, Speed);
    cfsetospeed(&T, Speed);
    return 0;
}

int SetLineSettings(int Fd, const TLineSettings& S) {
    termios Old;
    if (tcgetattr(Fd, &Old) != 0) return errno;
    termios T = Old;
    if (int Error = MakeTermios(S, T)) return Error;
    if (tcsetattr(Fd, TCSANOW, &T) != 0) return errno;
    // tcsetattr succeeds when any part was taken; a speed the driver did not
    // take is a refusal. (Character format bits are not compared: a
    // pseudo-terminal drops them, having no line to frame.)
    termios Now;
    if (tcgetattr(Fd, &Now) != 0) return errno;
    if (cfgetospeed(&Now) != cfgetospeed(&T)) {
        tcsetattr(Fd, TCSANOW, &Old);
        return EINVAL;
    }
    // The fixed line levels of the non-handshake modes (devices without
    // modem lines ignore this).
    int Dtr = TIOCM_DTR, Rts = TIOCM_RTS;
    ioctl(Fd, S.DtrControl == 1 ? TIOCMBIS : TIOCMBIC, &Dtr);
    if (!(T.c_cflag & CRTSCTS)) ioctl(Fd, S.RtsControl == 1 ? TIOCMBIS : TIOCMBIC, &Rts);
    return 0;
}

int ReadDevice(int Fd, void* Buf, int Count, int& Done) {
    Done = 0;
    ssize_t R;
    do
        R = read(Fd, Buf, size_t(Count));
    while (R < 0 && errno == EINTR);
    if (R > 0) Done = int(R);
    if (R == 0 && Count > 0) return EIO; // end of file on a terminal: it has hung up
    if (R < 0) return errno == EAGAIN ? 0 : errno;
    return 0;
}

int WriteDevice(int Fd, const void* Buf, int Count, int& Done) {
    Done = 0;
    ssize_t R;
    do
        R = write(Fd, Buf, size_t(Count));
    while (R < 0 && errno == EINTR);
    if (R > 0) Done = int(R);
    if (R < 0) return errno == EAGAIN ? 0 : errno;
    return 0;
}

int InQueue(int Fd, int& Count) {
    Count = 0;
    return ioctl(Fd, FIONREAD, &Count) != 0 ? errno : 0;
}

int OutQueue(int Fd, int& Count) {
    Count = 0;
    return ioctl(Fd, TIOCOUTQ, &Count) != 0 ? errno : 0;
}

static int HostCounters(int Fd, TErrorCounters& C) {
    serial_icounter_struct I;
    std::memset(&I, 0, sizeof I);
    if (ioctl(Fd, TIOCGICOUNT, &I) != 0) return errno;
    C.Count[0] = uint32_t(I.buf_overrun);
    C.Count[1] = uint32_t(I.overrun);
    C.Count[2] = uint32_t(I.parity);
    C.Count[3] = uint32_t(I.frame);
    C.Count[4] = uint32_t(I.brk);
    C.Cts = uint32_t(I.cts);
    C.Dsr = uint32_t(I.dsr);
    C.Ring = uint32_t(I.rng);
    C.Dcd = uint32_t(I.dcd);
    return 0;
}

static std::atomic<TCounterSource> GCounterSource{&HostCounters};

TCounterSource SetCounterSource(TCounterSource Source) {
    return GCounterSource.exchange(Source ? Source : &HostCounters);
}

int ReadErrorCounters(int Fd, TErrorCounters& C) {
    return GCounterSource.load()(Fd, C);
}

static bool NoModemLines(int Error) {
    return Error == ENOTTY || Error == EINVAL;
}

int EscapeFunction(int Fd, int Func) {
    int R = 0;
    int Bits;
    switch (Func) {
    case 1:
        R = tcflow(Fd, TCOOFF);
        break;
    case 2:
        R = tcflow(Fd, TCOON);
        break;
    case 3:
    case 4:
        Bits = TIOCM_RTS;
        R = ioctl(Fd, Func == 3 ? TIOCMBIS : TIOCMBIC, &Bits);
        break;
    case 5:
    case 6:
        Bits = TIOCM_DTR;
        R = ioctl(Fd, Func == 5 ? TIOCMBIS : TIOCMBIC, &Bits);
        break;
    case 7:
        return 0; // a device reset has no meaning for a serial port
    case 8:
        R = ioctl(Fd, TIOCSBRK);
        break;
    case 9:
        R = ioctl(Fd, TIOCCBRK);
        break;
    default:
        return EINVAL;
    }
    if (R == 0) return 0;
    int E = errno;
    return NoModemLines(E) ? 0 : E;
}

void SetThreadPriority(int Tid, int Priority) {
    static const int Nice[] = {19, 10, 5, 0, -5, -10, -20};
    if (Tid <= 0 || Priority < 0 || Priority > 6) return;
    setpriority(PRIO_PROCESS, id_t(Tid), Nice[Priority]);
}

int CurrentThreadId() {
    return int(syscall(SYS_gettid));
}

bool SameDevice(int Fd, const std::string& Path) {
    struct stat Open, Named;
    if (fstat(Fd, &Open) != 0 || stat(Path.c_str(), &Named) != 0) return false;
    return Open.st_dev == Named.st_dev && Open.st_ino == Named.st_ino &&
           Open.st_rdev == Named.st_rdev;
}

bool IsHangupError(int Error) {
    return Error == EIO || Error == ENXIO || Error == ENODEV;
}

std::string ErrorText(int Error) {
    return std::strerror(Error);
}

int WaitDevice(int Fd, bool ForWrite, int WakeFd, int Timeout, int& Error) {
    pollfd P[2] = {{WakeFd, POLLIN, 0}, {Fd, short(ForWrite ? POLLOUT : POLLIN), 0}};
    int N = Fd >= 0 ? 2 : 1;
    int R;
    do
        R = poll(P, nfds_t(N), Timeout);
    while (R < 0 && errno == EINTR);
    if (R < 0) {
        Error = errno;
        return wFailed;
    }
    int Bits = 0;
    if (P[0].revents) Bits |= wWake;
    if (N == 2) {
        if (P[1].revents & (POLLHUP | POLLERR | POLLNVAL)) Bits |= wHangup;
        if (P[1].revents & POLLIN) Bits |= wReadable;
        if (P[1].revents & POLLOUT) Bits |= wWritable;
    }
    return Bits;
}

TInputWatch::TInputWatch(int Fd, int WakeFd, int KickFd, int NoticeFd) : FFd(Fd) {
    FEpoll = epoll_create1(EPOLL_CLOEXEC);
    if (FEpoll < 0) {
        FError = errno;
        return;
    }
    const auto Add = [this](int Watched, uint32_t Events, uint32_t Tag) {
        epoll_event E{};
        E.events = Events;
        E.data.u32 = Tag;
        if (FError == 0 && epoll_ctl(FEpoll, EPOLL_CTL_ADD, Watched, &E) != 0) FError = errno;
    };
    Add(WakeFd, EPOLLIN, 0);
    // A tty's hang-up is HUP; a socket's end is read as such (see the header).
    Add(Fd, NoticeFd >= 0 ? uint32_t(EPOLLIN) : uint32_t(EPOLLIN | EPOLLET | EPOLLRDHUP), 1);
    if (KickFd >= 0) Add(KickFd, EPOLLIN, 2);
    if (NoticeFd >= 0) Add(NoticeFd, EPOLLIN, 3);
}

int TInputWatch::HoldDevice(bool Hold) {
    epoll_event E{};
    E.events = Hold ? 0u : uint32_t(EPOLLIN);
    E.data.u32 = 1;
    return epoll_ctl(FEpoll, EPOLL_CTL_MOD, FFd, &E) != 0 ? errno : 0;
}

TInputWatch::~TInputWatch() {
    if (FEpoll >= 0) close(FEpoll);
}

int TInputWatch::Wait(int& Error, int Timeout) {
    epoll_event E[4];
    int R = epoll_wait(FEpoll, E, 4, Timeout < 0 ? -1 : Timeout);
    if (R < 0) {
        Error = errno;
        return errno == EINTR ? 0 : wFailed;
    }
    int Bits = 0;
    for (int i = 0; i < R; ++i) {
        if (E[i].data.u32 == 0) {
            Bits |= wWake;
            continue;
        }
        if (E[i].data.u32 == 2) {
            Bits |= wKick;
            continue;
        }
        if (E[i].data.u32 == 3) {
            Bits |= wNotice;
            continue;
        }
        if (E[i].events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) Bits |= wHangup;
        if (E[i].events & EPOLLIN) Bits |= wReadable;
    }
    return Bits;
}

} // namespace VaPosix
