// SPDX-License-Identifier: GPL-3.0-or-later
// vorta-sim: a VORTA inclination sensor played on a pseudo-terminal, for
// working without hardware and for end-to-end tests. Single-threaded: one
// ppoll loop whose timeout is the time until the next byte or frame is due.
#include "SimSensor.h"
#include "VortaVersion.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

const char* const Usage =
    "Usage: vorta-sim [options]\n"
    "Plays a VORTA inclination sensor on a pseudo-terminal. The first line of\n"
    "standard output is the device path to open (9600 8N1).\n"
    "\n"
    "  --link PATH   also make a symbolic link PATH to the device (removed on exit)\n"
    "  --id N        sensor identity 1..77 (default 1)\n"
    "  --bus N,N,... several sensors on one line, each answering Angle Data for\n"
    "                its own ID; the first stands for --id and alone answers\n"
    "                the text commands\n"
    "  --spread D    with --bus, each sensor reads D degrees more than the one\n"
    "                listed before it\n"
    "  --gap ID:N:M  sensor ID leaves its Nth to Mth Angle Data requests\n"
    "                unanswered (unplugged for a while)\n"
    "  --mode M      sensor mode 0..3 (default 0)\n"
    "  --rate HZ     frames per second while #READ streams (default 10)\n"
    "  --value V     hold the angle at V degrees instead of swinging\n"
    "  --stream      start streaming as after #READ (left so by an earlier session)\n"
    "  --silent      receive but never answer\n"
    "  --delay MS    wait MS milliseconds before each answer\n"
    "  --split MS    write every byte of an answer separately, MS apart\n"
    "  --noise       stray bytes before every value frame\n"
    "  --garble      every other value frame (the first among them) with a NUL\n"
    "                among its digits, and the Information answer cut short\n"
    "  --chatter     \"OK\" CR LF after every value frame\n"
    "  --log FILE    record every received byte with a time stamp\n"
    "  --help        show this text\n"
    "  --version     show the version\n";

// Output waiting for its time. Without --split an answer is one chunk.
struct Chunk {
    std::string Bytes;
    Clock::time_point Due;
};

// Pending output beyond this is dropped: nobody is reading the terminal.
const size_t MaxPending = 64 * 1024;

volatile sig_atomic_t StopSignal = 0;
void OnSignal(int) {
    StopSignal = 1;
}

struct Options {
    SimConfig Sensor;
    std::string Link, LogPath;
    double Rate = 10;
    int Delay = 0;
    int Split = -1; // off
    bool Silent = false, Noise = false, Stream = false, Garble = false, Chatter = false;
};

bool ParseInt(const char* S, int Lo, int Hi, int& V) {
    char* End = nullptr;
    errno = 0;
    long L = std::strtol(S, &End, 10);
    if (errno || End == S || *End || L < Lo || L > Hi) return false;
    V = static_cast<int>(L);
    return true;
}

bool ParseReal(const char* S, double Lo, double Hi, double& V) {
    char* End = nullptr;
    errno = 0;
    double D = std::strtod(S, &End);
    // The negated comparison also rejects NaN.
    if (errno || End == S || *End || !(D >= Lo && D <= Hi)) return false;
    V = D;
    return true;
}

// "1,5,12": the first ID becomes the sensor's own, the rest join the line.
bool ParseBus(const char* S, SimConfig& C) {
    std::vector<int> Ids;
    std::string Item;
    for (const char* P = S;; ++P) {
        if (*P && *P != ',') {
            Item += *P;
            continue;
        }
        int V = 0;
        if (!ParseInt(Item.c_str(), 1, 77, V) || std::count(Ids.begin(), Ids.end(), V))
            return false;
        Ids.push_back(V);
        Item.clear();
        if (!*P) break;
    }
    C.Id = Ids.front();
    C.BusIds.assign(Ids.begin() + 1, Ids.end());
    return true;
}

// "5:4:7": sensor 5 leaves its 4th to 7th Angle Data requests unanswered.
bool ParseGap(const char* S, SimConfig& C) {
    int Id = 0, From = 0, To = 0, Used = 0;
    if (std::sscanf(S, "%d:%d:%d%n", &Id, &From, &To, &Used) != 3 || S[Used] || Id < 1 || Id > 77 ||
        From < 1 || To < From)
        return false;
    C.GapId = Id;
    C.GapFrom = From;
    C.GapTo = To;
    return true;
}

// Returns 0 to run, otherwise the exit status (after printing why).
int ParseArgs(int argc, char** argv, Options& O) {
    for (int i = 1; i < argc; ++i) {
        std::string A = argv[i];
        const char* Arg = i + 1 < argc ? argv[i + 1] : nullptr;
        bool Ok = true;
        if (A == "--help") {
            std::fputs(Usage, stdout);
            return -1;
        } else if (A == "--version") {
            std::puts("vorta-sim " VORTA_VERSION);
            return -1;
        } else if (A == "--silent") {
            O.Silent = true;
        } else if (A == "--noise") {
            O.Noise = true;
        } else if (A == "--stream") {
            O.Stream = true;
        } else if (A == "--garble") {
            O.Garble = true;
        } else if (A == "--chatter") {
            O.Chatter = true;
        } else if (!Arg) {
            Ok = false;
        } else {
            ++i;
            if (A == "--link")
                O.Link = Arg;
            else if (A == "--log")
                O.LogPath = Arg;
            else if (A == "--id")
                Ok = ParseInt(Arg, 1, 77, O.Sensor.Id);
            else if (A == "--bus")
                Ok = ParseBus(Arg, O.Sensor);
            else if (A == "--gap")
                Ok = ParseGap(Arg, O.Sensor);
            else if (A == "--spread")
                Ok = ParseReal(Arg, -9999, 9999, O.Sensor.Spread);
            else if (A == "--mode")
                Ok = ParseInt(Arg, 0, 3, O.Sensor.Mode);
            else if (A == "--rate")
                Ok = ParseReal(Arg, 0.01, 1000, O.Rate);
            else if (A == "--delay")
                Ok = ParseInt(Arg, 0, 600000, O.Delay);
            else if (A == "--split")
                Ok = ParseInt(Arg, 0, 60000, O.Split);
            else if (A == "--value") {
                Ok = ParseReal(Arg, -99999, 99999, O.Sensor.Value);
                O.Sensor.FixedValue = true;
            } else {
                Ok = false;
            }
        }
        if (!Ok) {
            // One line, so that a script's log shows what was wrong and nothing else.
            std::fprintf(stderr, "vorta-sim: bad option or value: %s%s%s (see --help)\n", A.c_str(),
                         Arg ? " " : "", Arg ? Arg : "");
            return 2;
        }
    }
    return 0;
}

// Makes Link point at Target, replacing a stale link but never a real file.
bool MakeLink(const std::string& Link, const std::string& Target) {
    struct stat St;
    if (lstat(Link.c_str(), &St) == 0) {
        if (!S_ISLNK(St.st_mode)) {
            std::fprintf(stderr, "vorta-sim: %s exists and is not a link\n", Link.c_str());
            return false;
        }
        unlink(Link.c_str());
    }
    if (symlink(Target.c_str(), Link.c_str()) != 0) {
        std::fprintf(stderr, "vorta-sim: cannot link %s: %s\n", Link.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// Removes Link only while it still points at our device.
void RemoveLink(const std::string& Link, const std::string& Target) {
    char Buf[PATH_MAX];
    ssize_t N = readlink(Link.c_str(), Buf, sizeof Buf - 1);
    if (N >= 0 && std::string(Buf, N) == Target) unlink(Link.c_str());
}

// Stray bytes that cannot start, end or fake a frame or an answer marker.
std::string NoiseBytes(std::minstd_rand& Rng) {
    std::string S;
    int Count = 1 + static_cast<int>(Rng() % 3);
    while (static_cast<int>(S.size()) < Count) {
        unsigned char B = static_cast<unsigned char>(Rng() % 256);
        if (B >= 0x20 && B < 0x7F) continue;
        if (B == 2 || B == 13 || B == 23) continue;
        S += static_cast<char>(B);
    }
    return S;
}

class Simulator {
  public:
    Simulator(const Options& O, int Master, int Keeper, FILE* Log)
        : FOpt(O), FSensor(O.Sensor), FMaster(Master), FKeeper(Keeper), FLog(Log),
          FStart(Clock::now()), FRng(1), FStreaming(O.Stream && !O.Silent), FNextFrame(FStart) {}

    int Run(const sigset_t& RunMask, int Watch);

  private:
    double Seconds(Clock::time_point T) const {
        return std::chrono::duration<double>(T - FStart).count();
    }
    void Received(const char* Data, size_t Count, Clock::time_point Now);
    void Queue(const std::string& Bytes, Clock::time_point Start);
    void QueueFrame(Clock::time_point Start, int Id = 0);
    bool Flush(Clock::time_point Now); // false: the terminal is full
    void HolderLeft();

    Options FOpt;
    SimSensor FSensor;
    int FMaster, FKeeper;
    FILE* FLog;
    Clock::time_point FStart;
    std::minstd_rand FRng;
    std::deque<Chunk> FOut;
    size_t FPendingBytes = 0;
    bool FStreaming = false;
    Clock::time_point FNextFrame;
    long FFrames = 0; // value frames queued, for --garble
};

void Simulator::Queue(const std::string& Bytes, Clock::time_point Start) {
    if (FOpt.Silent || Bytes.empty() || FPendingBytes + Bytes.size() > MaxPending) return;
    FPendingBytes += Bytes.size();
    if (FOpt.Split < 0) {
        FOut.push_back({Bytes, Start});
        return;
    }
    // Each byte keeps its distance to the one queued before it, so answers
    // queued back to back stay split too.
    Clock::time_point Due = Start;
    if (!FOut.empty()) Due = std::max(Due, FOut.back().Due + Ms(FOpt.Split));
    for (char C : Bytes) {
        FOut.push_back({std::string(1, C), Due});
        Due += Ms(FOpt.Split);
    }
}

void Simulator::QueueFrame(Clock::time_point Start, int Id) {
    std::string Frame = FSensor.FrameAt(Seconds(Start), Id);
    // A frame that passes the frame test but holds no number.
    if (FOpt.Garble && FFrames++ % 2 == 0) Frame.insert(2, 1, '\0');
    if (FOpt.Chatter) Frame += "OK\r\n";
    Queue(FOpt.Noise ? NoiseBytes(FRng) + Frame : Frame, Start);
}

void Simulator::Received(const char* Data, size_t Count, Clock::time_point Now) {
    if (FLog) {
        std::fprintf(FLog, "%.6f ", Seconds(Now));
        for (size_t i = 0; i < Count; ++i)
            std::fprintf(FLog, " %02X", static_cast<unsigned char>(Data[i]));
        std::fputs("  \"", FLog);
        for (size_t i = 0; i < Count; ++i) {
            unsigned char B = static_cast<unsigned char>(Data[i]);
            if (B == '\r')
                std::fputs("\\r", FLog);
            else if (B == '\n')
                std::fputs("\\n", FLog);
            else if (B == '"' || B == '\\')
                std::fprintf(FLog, "\\%c", B);
            else if (B >= 0x20 && B < 0x7F)
                std::fputc(B, FLog);
            else
                std::fprintf(FLog, "\\x%02X", B);
        }
        std::fputs("\"\n", FLog);
        std::fflush(FLog);
    }
    std::vector<SimReply> Replies;
    FSensor.Receive(Data, Count, Replies);
    Clock::time_point Start = Now + Ms(FOpt.Delay);
    for (const SimReply& R : Replies) {
        switch (R.What) {
        case SimReply::Text:
            // Carries "V:" but not the whole answer.
            if (FOpt.Garble && R.Line.compare(0, 2, "V:") == 0)
                Queue(R.Line.substr(0, R.Line.find(",C:")) + "\r\n", Start);
            else
                Queue(R.Line, Start);
            break;
        case SimReply::Frame:
            QueueFrame(Start, R.Id);
            break;
        case SimReply::StartStream:
            if (!FStreaming) FNextFrame = Start;
            FStreaming = !FOpt.Silent; // a silent sensor need not wake for frames
            break;
        case SimReply::StopStream:
            FStreaming = false;
            break;
        }
    }
}

bool Simulator::Flush(Clock::time_point Now) {
    while (!FOut.empty() && FOut.front().Due <= Now) {
        std::string& B = FOut.front().Bytes;
        ssize_t N = write(FMaster, B.data(), B.size());
        if (N < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
            // Anything else: this chunk cannot go out; do not retry forever.
            N = static_cast<ssize_t>(B.size());
        }
        FPendingBytes -= static_cast<size_t>(N);
        B.erase(0, static_cast<size_t>(N));
        if (B.empty()) FOut.pop_front();
    }
    return true;
}

// The program that held the port exclusively has closed it. A pseudo-terminal
// keeps the exclusive mark after the last close (unlike a real port, whose
// state goes with it), which would lock every later non-root opener out; and
// what was waiting for the old reader would greet the next one as stale data.
void Simulator::HolderLeft() {
    int Excl = 0;
    if (FKeeper < 0 || ioctl(FKeeper, TIOCGEXCL, &Excl) != 0 || !Excl) return;
    ioctl(FKeeper, TIOCNXCL);
    tcflush(FKeeper, TCIFLUSH);
    FOut.clear();
    FPendingBytes = 0;
}

int Simulator::Run(const sigset_t& RunMask, int Watch) {
    char Buf[4096];
    bool Full = false;
    while (!StopSignal) {
        Clock::time_point Now = Clock::now();
        if (FStreaming && FNextFrame <= Now) {
            // A frame is skipped rather than piled up behind slow output.
            if (FOut.empty()) QueueFrame(Now);
            Ms Period(std::max<long long>(1, std::llround(1000.0 / FOpt.Rate)));
            FNextFrame += Period;
            if (FNextFrame <= Now) FNextFrame = Now + Period;
        }
        Full = !Flush(Now);

        // Sleep until the next byte or frame is due, or until something arrives.
        Clock::time_point Wake = Clock::time_point::max();
        if (!FOut.empty() && !Full) Wake = FOut.front().Due;
        if (FStreaming) Wake = std::min(Wake, FNextFrame);
        pollfd Fds[2] = {{FMaster, static_cast<short>(POLLIN | (Full ? POLLOUT : 0)), 0},
                         {Watch, POLLIN, 0}};
        timespec Ts{}, *Timeout = nullptr;
        if (Wake != Clock::time_point::max()) {
            auto Left = std::chrono::duration_cast<std::chrono::nanoseconds>(Wake - Now).count();
            if (Left < 0) Left = 0;
            Ts.tv_sec = static_cast<time_t>(Left / 1000000000);
            Ts.tv_nsec = static_cast<long>(Left % 1000000000);
            Timeout = &Ts;
        }
        int R = ppoll(Fds, Watch >= 0 ? 2 : 1, Timeout, &RunMask);
        if (R < 0) {
            if (errno == EINTR) continue;
            std::perror("vorta-sim: poll");
            return 1;
        }
        Now = Clock::now();
        if (Watch >= 0 && (Fds[1].revents & POLLIN)) {
            alignas(inotify_event) char Ev[4096];
            bool Closed = false;
            ssize_t N;
            while ((N = read(Watch, Ev, sizeof Ev)) > 0) {
                for (char* P = Ev; P < Ev + N;) {
                    auto* E = reinterpret_cast<inotify_event*>(P);
                    if (E->mask & IN_CLOSE) Closed = true;
                    P += sizeof(inotify_event) + E->len;
                }
            }
            if (Closed) HolderLeft();
        }
        short Ev = Fds[0].revents;
        if (Ev & POLLIN) {
            ssize_t N = read(FMaster, Buf, sizeof Buf);
            if (N > 0) Received(Buf, static_cast<size_t>(N), Now);
        }
        if ((Ev & POLLHUP) && !(Ev & POLLIN)) {
            // Nobody has the device open (only possible when we hold no
            // descriptor of our own): poll would return at once, so nap.
            sigset_t Old;
            sigprocmask(SIG_SETMASK, &RunMask, &Old);
            usleep(100 * 1000);
            sigprocmask(SIG_SETMASK, &Old, nullptr);
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options O;
    int Rc = ParseArgs(argc, argv, O);
    if (Rc) return Rc < 0 ? 0 : Rc;

    int Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Master < 0 || grantpt(Master) != 0 || unlockpt(Master) != 0) {
        std::perror("vorta-sim: pseudo-terminal");
        return 1;
    }
    fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK);
    const char* Name = ptsname(Master);
    if (!Name) {
        std::perror("vorta-sim: ptsname");
        return 1;
    }
    std::string Slave = Name;

    // Raw, so that no byte (CR, LF, 0x03, 0xB1, ...) is translated, echoed or
    // taken as a signal, whoever opens the device. Set through the master,
    // the settings belong to the slave and outlive its openers.
    termios T{};
    if (tcgetattr(Master, &T) == 0) {
        cfmakeraw(&T);
        cfsetispeed(&T, B9600);
        cfsetospeed(&T, B9600);
        T.c_cflag |= CLOCAL | CREAD;
        tcsetattr(Master, TCSANOW, &T);
    }

    // Our own descriptor keeps the terminal from hanging up between the
    // console's close and reopen. It takes no lock: the console's exclusive
    // open must still succeed.
    int Keeper = open(Slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int Watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (Watch >= 0 && inotify_add_watch(Watch, Slave.c_str(), IN_CLOSE) < 0) {
        close(Watch);
        Watch = -1;
    }

    FILE* Log = nullptr;
    if (!O.LogPath.empty() && !(Log = std::fopen(O.LogPath.c_str(), "w"))) {
        std::fprintf(stderr, "vorta-sim: cannot write %s: %s\n", O.LogPath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    if (!O.Link.empty() && !MakeLink(O.Link, Slave)) return 1;

    // The signals are only let in while waiting in ppoll.
    sigset_t Block, RunMask;
    sigemptyset(&Block);
    sigaddset(&Block, SIGINT);
    sigaddset(&Block, SIGTERM);
    sigaddset(&Block, SIGHUP);
    sigprocmask(SIG_BLOCK, &Block, &RunMask);
    struct sigaction Sa {};
    Sa.sa_handler = OnSignal;
    sigemptyset(&Sa.sa_mask);
    sigaction(SIGINT, &Sa, nullptr);
    sigaction(SIGTERM, &Sa, nullptr);
    sigaction(SIGHUP, &Sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    sigdelset(&RunMask, SIGINT);
    sigdelset(&RunMask, SIGTERM);
    sigdelset(&RunMask, SIGHUP);

    std::printf("%s\n", Slave.c_str());
    std::fflush(stdout);

    Rc = Simulator(O, Master, Keeper, Log).Run(RunMask, Watch);

    if (!O.Link.empty()) RemoveLink(O.Link, Slave);
    if (Log) std::fclose(Log);
    if (Watch >= 0) close(Watch);
    if (Keeper >= 0) close(Keeper);
    close(Master);
    return Rc;
}
