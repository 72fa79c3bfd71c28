// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the real simulator over its pseudo-terminal the way the console
// does: open the printed device, raw 9600 8N1, exclusive, commands with CR LF,
// answers read with poll and time-outs.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point T) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - T).count());
}

const std::string InfoDefault = "V:4100,I:B1,MD:0,C:1,O:0,N:900,P:900,G:1000,F:12,"
                                "0:1,1:2,2:3,3:4,4:5,5:6,6:7,7:8,8:9,9:10,CA:11,CB:12*\r\n";

std::string Frame(const std::string& Value, const std::string& Id = "B1") {
    return "\x02" + Value + Id + "\x17$";
}

// The simulator as a child process; stopped with SIGTERM when destroyed.
class Sim {
  public:
    explicit Sim(std::vector<std::string> Args) {
        int P[2];
        EXPECT_EQ(pipe(P), 0);
        Pid = fork();
        if (Pid == 0) {
            dup2(P[1], 1);
            close(P[0]);
            std::vector<char*> Argv{const_cast<char*>(VORTA_SIM)};
            for (auto& A : Args)
                Argv.push_back(A.data());
            Argv.push_back(nullptr);
            execv(VORTA_SIM, Argv.data());
            _exit(127);
        }
        close(P[1]);
        Out = P[0];
        // The first line is the device path.
        auto T0 = Clock::now();
        char C;
        while (MsSince(T0) < 5000) {
            pollfd Pf{Out, POLLIN, 0};
            if (poll(&Pf, 1, 100) <= 0) continue;
            if (read(Out, &C, 1) != 1 || C == '\n') break;
            Path += C;
        }
    }
    ~Sim() {
        EXPECT_EQ(Stop(SIGTERM), 0) << "the simulator did not end cleanly";
        close(Out);
    }
    // Exit status, or -1 when it had to be killed.
    int Stop(int Signal) {
        if (Pid <= 0) return Status;
        kill(Pid, Signal);
        for (int i = 0; i < 300; ++i) {
            int St;
            if (waitpid(Pid, &St, WNOHANG) == Pid) {
                Pid = 0;
                return Status = WIFEXITED(St) ? WEXITSTATUS(St) : -1;
            }
            usleep(10000);
        }
        kill(Pid, SIGKILL);
        waitpid(Pid, nullptr, 0);
        Pid = 0;
        return Status = -1;
    }
    long CpuTicks() const {
        std::ifstream F("/proc/" + std::to_string(Pid) + "/stat");
        std::string S((std::istreambuf_iterator<char>(F)), std::istreambuf_iterator<char>());
        std::istringstream In(S.substr(S.rfind(')') + 2));
        std::string Field;
        long UTime = 0, STime = 0;
        for (int i = 3; i <= 15 && In >> Field; ++i) {
            if (i == 14) UTime = std::stol(Field);
            if (i == 15) STime = std::stol(Field);
        }
        return UTime + STime;
    }

    pid_t Pid = -1;
    int Out = -1;
    int Status = -1;
    std::string Path;
};

// The console's side of the line.
class Port {
  public:
    explicit Port(const std::string& Path, bool Console = true) {
        // The simulator lifts the exclusive mark of the previous opener once
        // it sees the close; until then only root gets in.
        for (int i = 0; i < 500; ++i, usleep(10000)) {
            Fd = open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (Fd >= 0 || errno != EBUSY) break;
        }
        EXPECT_GE(Fd, 0) << Path << ": " << std::strerror(errno);
        if (Fd < 0 || !Console) return;
        EXPECT_EQ(ioctl(Fd, TIOCEXCL), 0);
        EXPECT_EQ(flock(Fd, LOCK_EX | LOCK_NB), 0);
        termios T{};
        tcgetattr(Fd, &T);
        cfmakeraw(&T);
        cfsetspeed(&T, B9600);
        T.c_cflag = (T.c_cflag & ~(CSIZE | PARENB | CSTOPB | CRTSCTS)) | CS8 | CLOCAL | CREAD;
        EXPECT_EQ(tcsetattr(Fd, TCSANOW, &T), 0);
    }
    ~Port() {
        if (Fd >= 0) close(Fd);
    }
    void Write(const std::string& S) {
        size_t Done = 0;
        while (Done < S.size()) {
            ssize_t N = write(Fd, S.data() + Done, S.size() - Done);
            if (N > 0) {
                Done += static_cast<size_t>(N);
            } else {
                pollfd Pf{Fd, POLLOUT, 0};
                ASSERT_GT(poll(&Pf, 1, 2000), 0) << "write stalled";
            }
        }
    }
    // Reads until Stop occurs in what came (or the time is up); each read is
    // one element of Chunks.
    std::string ReadUntil(const std::string& Stop, int TimeoutMs,
                          std::vector<std::string>* Chunks = nullptr) {
        std::string Got;
        auto T0 = Clock::now();
        while ((Stop.empty() || Got.find(Stop) == std::string::npos) && MsSince(T0) < TimeoutMs) {
            pollfd Pf{Fd, POLLIN, 0};
            if (poll(&Pf, 1, static_cast<int>(std::max(1L, TimeoutMs - MsSince(T0)))) <= 0)
                continue;
            char Buf[4096];
            ssize_t N = read(Fd, Buf, sizeof Buf);
            if (N <= 0) continue;
            Got.append(Buf, static_cast<size_t>(N));
            if (Chunks) Chunks->emplace_back(Buf, static_cast<size_t>(N));
        }
        return Got;
    }
    std::string ReadFor(int Ms) { return ReadUntil("", Ms); }
    std::string Ask(const std::string& Command, const std::string& Stop = "\r\n") {
        Write(Command);
        return ReadUntil(Stop, 2000);
    }

    int Fd = -1;
};

// Runs F in a child process that lacks the administrator capability, which
// would otherwise let it open an exclusively held terminal. Returns F's result.
template <class F> int AsPlainUser(F Body) {
    pid_t P = fork();
    if (P == 0) {
        __user_cap_header_struct H{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct D[2]{};
        if (syscall(SYS_capget, &H, D) == 0) {
            D[0].effective &= ~(1u << CAP_SYS_ADMIN);
            syscall(SYS_capset, &H, D);
        }
        _exit(Body());
    }
    int St = 0;
    waitpid(P, &St, 0);
    return WIFEXITED(St) ? WEXITSTATUS(St) : 99;
}

int OpenErrno(const std::string& Path) {
    int Fd = open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (Fd < 0) return errno;
    close(Fd);
    return 0;
}

std::vector<double> FrameValues(const std::string& S) {
    std::vector<double> V;
    size_t P = 0;
    while ((P = S.find('\x02', P)) != std::string::npos) {
        size_t E = S.find("\x17$", P);
        if (E == std::string::npos || E < P + 3) break;
        V.push_back(std::stod(S.substr(P + 1, E - P - 3)));
        P = E;
    }
    return V;
}

TEST(SimInfo, InformationLineCarriesIdentityModeAndRanges) {
    struct Case {
        std::vector<std::string> Args;
        std::string Line;
    } Cases[] = {
        {{}, InfoDefault},
        {{"--id", "77", "--mode", "3"},
         "V:4100,I:FD,MD:3,C:1,O:0,N:900,P:900,G:1000,F:12,"
         "0:1,1:2,2:3,3:4,4:5,5:6,6:7,7:8,8:9,9:10,CA:11,CB:12*\r\n"},
    };
    for (auto& C : Cases) {
        Sim S(C.Args);
        Port P(S.Path);
        EXPECT_EQ(P.Ask("#INFO\r\n"), C.Line);
    }
}

TEST(SimCommands, AnswersAndStateChangesInOrder) {
    struct Step {
        std::string Sent, Answer;
    } Steps[] = {
        {"#ID7\r\n", "OK\r\n"},
        {"#ID0\r\n", "ERR\r\n"},
        {"#ID78\r\n", "ERR\r\n"},
        {"#ID-3\r\n", "ERR\r\n"},
        {"#ID\r\n", "ERR\r\n"},
        {"#MODE2\r\n", "OK\r\n"},
        {"#MODE4\r\n", ""},
        {"#MODE\r\n", ""},
        {"#SAVE\r\n", "OK\r\n"},
        {"#CALI14450\r\n", "OK\r\n"},
        {"#CALI150\r\n", "OK\r\n"},
        {"#CALI15abc\r\n", "ERR\r\n"},
        {"#CALI143601\r\n", "ERR\r\n"},
        {"#STOP\r\n", ""},
        {"#info\r\n", ""},
        {"hello\r\n", ""},
        {"\r\n", ""},
        {"#INFO\r\n", "V:4100,I:B7,MD:2,C:1,O:0,N:450,P:0,G:1000,F:12,"
                      "0:1,1:2,2:3,3:4,4:5,5:6,6:7,7:8,8:9,9:10,CA:11,CB:12*\r\n"},
        {"#CALI151800\r\n", "OK\r\n"},
        {"#INFO\r\n", "V:4100,I:B7,MD:2,C:1,O:0,N:450,P:1800,G:1000,F:12,"
                      "0:1,1:2,2:3,3:4,4:5,5:6,6:7,7:8,8:9,9:10,CA:11,CB:12*\r\n"},
    };
    Sim S({"--value", "1"});
    Port P(S.Path);
    for (auto& St : Steps) {
        P.Write(St.Sent);
        std::string Got = St.Answer.empty() ? P.ReadFor(300) : P.ReadUntil("\r\n", 2000);
        EXPECT_EQ(Got, St.Answer) << "after " << St.Sent;
    }
}

TEST(SimFrames, FixedValueFramesByteForByteWithNothingAfter) {
    struct Case {
        std::string Value, Text;
    } Cases[] = {{"12.5", "12.50"},  {"-3.25", "-3.25"},    {"0", "0.00"},
                 {"-0.001", "0.00"}, {"359.999", "360.00"}, {"-90", "-90.00"}};
    for (auto& C : Cases) {
        Sim S({"--value", C.Value});
        Port P(S.Path);
        P.Write("#DATA\r\n");
        EXPECT_EQ(P.ReadFor(400), Frame(C.Text)) << C.Value;
    }
}

TEST(SimFrames, BinaryRequestAnsweredOnlyForOwnIdentity) {
    Sim S({"--value", "4.5"});
    Port P(S.Path);
    struct Step {
        std::string Sent, Answer;
    } Steps[] = {
        {"\xB1\x05", Frame("4.50")},
        {"\xB2\x05", ""},
        {"\xB1", ""},
        {"\x05", Frame("4.50")}, // the request split in two writes
        {"\x05\xB1", ""},
        {"#ID9\r\n", "OK\r\n"},
        {"\xB1\x05", ""},
        {"\xB9\x05", Frame("4.50", "B9")},
        {"#IN\xB9\x05"
         "FO\r\n",
         Frame("4.50", "B9") + // a request inside a line
             "V:4100,I:B9,MD:0,C:1,O:0,N:900,P:900,G:1000,F:12,"
             "0:1,1:2,2:3,3:4,4:5,5:6,6:7,7:8,8:9,9:10,CA:11,CB:12*\r\n"},
    };
    for (auto& St : Steps) {
        P.Write(St.Sent);
        EXPECT_EQ(P.ReadFor(300), St.Answer);
    }
}

TEST(SimFrames, BusSensorsAnswerTheirOwnIdAndOnlyTheFirstAnswersCommands) {
    Sim S({"--bus", "1,5,12", "--value", "2"});
    Port P(S.Path);
    struct Step {
        std::string Sent, Answer;
    } Steps[] = {
        {"\xB1\x05", Frame("2.00")},
        {"\xB5\x05", Frame("2.00", "B5")},
        {"\xBC\x05", Frame("2.00", "BC")},
        {"\xB2\x05", ""},
        {"#INFO\r\n", InfoDefault}, // once, from the first
        {"#ID5\r\n", "OK\r\n"},     // the first takes an ID already on the line
        {"\xB5\x05", Frame("2.00", "B5")},
        {"\xB1\x05", ""},
    };
    for (auto& St : Steps) {
        P.Write(St.Sent);
        EXPECT_EQ(P.ReadFor(300), St.Answer) << St.Sent;
    }
}

TEST(SimFrames, ReadStreamsAtTheRateUntilStop) {
    Sim S({"--rate", "20", "--value", "7"});
    Port P(S.Path);
    P.Write("#READ\r\n");
    std::string Got = P.ReadFor(1000);
    auto Values = FrameValues(Got);
    EXPECT_GE(Values.size(), 15u);
    EXPECT_LE(Values.size(), 24u);
    EXPECT_EQ(Got.substr(0, Frame("7.00").size()), Frame("7.00"));
    P.Write("#READ\r\n"); // a second #READ does not double the rate
    EXPECT_LE(FrameValues(P.ReadFor(1000)).size(), 24u);
    P.Write("#STOP\r\n");
    P.ReadFor(200);
    EXPECT_EQ(P.ReadFor(500), "");
}

TEST(SimFrames, AngleSwingsInsideTheRange) {
    Sim S({"--rate", "50", "--mode", "2"});
    Port P(S.Path);
    P.Ask("#CALI14300\r\n");
    P.Write("#READ\r\n");
    auto Values = FrameValues(P.ReadFor(1500));
    ASSERT_GE(Values.size(), 30u);
    for (double V : Values) {
        EXPECT_LE(V, 90.0);
        EXPECT_GE(V, -30.0);
    }
    EXPECT_NE(Values.front(), Values.back());
}

TEST(SimDelivery, SplitWritesEveryByteSeparately) {
    const int Gap = 15;
    Sim S({"--split", std::to_string(Gap), "--value", "1"});
    Port P(S.Path);
    for (std::string Cmd : {"#INFO\r\n", "#DATA\r\n"}) {
        std::string Expected = Cmd == "#INFO\r\n" ? InfoDefault : Frame("1.00");
        std::vector<std::string> Chunks;
        P.Write(Cmd);
        auto T0 = Clock::now();
        // A deadline far past the 1.5 s the bytes take: a busy machine stretches the gaps.
        std::string Got = P.ReadUntil(Expected.substr(Expected.size() - 2), 30000, &Chunks);
        EXPECT_EQ(Got, Expected);
        EXPECT_GE(MsSince(T0), static_cast<long>(Gap * (Expected.size() - 1) * 8 / 10));
        EXPECT_GE(Chunks.size(), Expected.size() * 3 / 4);
    }
}

TEST(SimDelivery, SilentNeverAnswers) {
    Sim S({"--silent"});
    Port P(S.Path);
    P.Write("#INFO\r\n#DATA\r\n#SAVE\r\n#ID3\r\n#READ\r\n\xB1\x05");
    EXPECT_EQ(P.ReadFor(800), "");
}

TEST(SimDelivery, DelayHoldsEachAnswer) {
    Sim S({"--delay", "400"});
    Port P(S.Path);
    auto T0 = Clock::now();
    P.Write("#SAVE\r\n");
    EXPECT_EQ(P.ReadFor(300), "");
    EXPECT_EQ(P.ReadUntil("\r\n", 2000), "OK\r\n");
    EXPECT_GE(MsSince(T0), 400);
}

TEST(SimDelivery, NoiseComesOnlyAheadOfFrames) {
    Sim S({"--noise", "--value", "2"});
    Port P(S.Path);
    EXPECT_EQ(P.Ask("#INFO\r\n"), InfoDefault);
    for (int i = 0; i < 20; ++i) {
        P.Write("#DATA\r\n");
        std::string Got = P.ReadUntil("$", 2000);
        size_t Stx = Got.find('\x02');
        ASSERT_NE(Stx, std::string::npos);
        EXPECT_GE(Stx, 1u);
        EXPECT_LE(Stx, 3u);
        EXPECT_EQ(Got.substr(Stx), Frame("2.00"));
        for (size_t k = 0; k < Stx; ++k) {
            unsigned char B = static_cast<unsigned char>(Got[k]);
            EXPECT_TRUE(B < 0x20 || B >= 0x7F) << int(B);
            EXPECT_TRUE(B != 13 && B != 23) << int(B);
        }
    }
}

TEST(SimLog, RecordsEveryReceivedByteInOrder) {
    std::string LogPath = ::testing::TempDir() + "vorta-sim-log.txt";
    std::string Sent = "#INFO\r\n\xB1\x05#CALI150\r\n";
    for (int B = 0; B < 256; ++B)
        Sent += static_cast<char>(B);
    {
        Sim S({"--log", LogPath, "--silent"});
        Port P(S.Path);
        for (size_t i = 0; i < Sent.size(); i += 37)
            P.Write(Sent.substr(i, 37));
        P.ReadFor(300);
    }
    std::ifstream F(LogPath);
    std::string Line, Logged;
    double Last = -1;
    while (std::getline(F, Line)) {
        std::istringstream In(Line);
        double T;
        In >> T;
        EXPECT_GE(T, Last);
        Last = T;
        std::string Tok;
        while (In >> Tok && Tok[0] != '"')
            Logged += static_cast<char>(std::stoi(Tok, nullptr, 16));
    }
    EXPECT_EQ(Logged, Sent);
}

TEST(SimRobustness, GarbageAndOverlongLinesNeverStopIt) {
    Sim S({"--value", "3"});
    Port P(S.Path);
    std::minstd_rand Rng(7);
    std::string Junk;
    for (int i = 0; i < 100000; ++i)
        Junk += static_cast<char>(Rng() % 256);
    P.Write(Junk);
    P.Write(std::string(5000, 'x') + "\r\n");
    P.Write(std::string(300, 'y') + "#INFO\r\n"); // over-long: the tail is no command
    P.Write("#IN");                               // half a command, then noise
    P.Write(std::string("\x00\xFF\x03", 3));
    P.Write("FO\r\n");
    P.ReadFor(500);
    EXPECT_EQ(P.Ask("#INFO\r\n"), InfoDefault);
}

TEST(SimTerminal, RawForAnyOpenerAndUsableAcrossReopens) {
    Sim S({"--value", "5"});
    {
        Port Plain(S.Path, false); // no termios set by this opener
        termios T{};
        ASSERT_EQ(tcgetattr(Plain.Fd, &T), 0);
        EXPECT_EQ(T.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(T.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP), 0u);
        EXPECT_EQ(T.c_oflag & OPOST, 0u);
        EXPECT_EQ(Plain.Ask("#INFO\r\n"), InfoDefault);
    }
    for (int i = 0; i < 5; ++i) {
        Port P(S.Path);
        EXPECT_EQ(P.Ask("#DATA\r\n", "$"), Frame("5.00")) << "open " << i;
    }
    Port(S.Path).Write("#IN"); // left half-sent by a console that went away
    Port P(S.Path);
    P.Write("#INFO\r\n"); // joins the half command, as on a real line
    EXPECT_EQ(P.ReadFor(300), "");
    EXPECT_EQ(P.Ask("#INFO\r\n"), InfoDefault);
}

TEST(SimTerminal, ExclusiveOpenStaysExclusiveAndIsLiftedOnClose) {
    Sim S({});
    std::string Path = S.Path;
    {
        Port Console(Path);
        EXPECT_EQ(AsPlainUser([&] { return OpenErrno(Path); }), EBUSY);
        EXPECT_EQ(Console.Ask("#INFO\r\n"), InfoDefault);
    }
    // The simulator lifts the mark once it sees the close; give it a moment.
    int Err = -1;
    for (int i = 0; i < 100 && Err != 0; ++i, usleep(10000))
        Err = AsPlainUser([&] { return OpenErrno(Path); });
    EXPECT_EQ(Err, 0);
    Port Again(Path);
    EXPECT_EQ(Again.Ask("#INFO\r\n"), InfoDefault);
}

TEST(SimProcess, IdleTakesNoProcessorTime) {
    Sim S({});
    {
        Port P(S.Path);
        P.Ask("#INFO\r\n");
        long Before = S.CpuTicks();
        usleep(1000 * 1000);
        EXPECT_LE(S.CpuTicks() - Before, 3) << "while the console holds the port";
    }
    usleep(100 * 1000);
    long Before = S.CpuTicks();
    usleep(1000 * 1000);
    EXPECT_LE(S.CpuTicks() - Before, 3) << "after the console closed the port";
}

TEST(SimProcess, SignalsEndItCleanlyAndRemoveTheLink) {
    for (int Signal : {SIGTERM, SIGINT}) {
        std::string Link = ::testing::TempDir() + "vorta-sim-link";
        unlink(Link.c_str());
        Sim S({"--link", Link});
        char Buf[256] = {};
        ASSERT_GT(readlink(Link.c_str(), Buf, sizeof Buf - 1), 0);
        EXPECT_EQ(std::string(Buf), S.Path);
        {
            Port P(Link);
            EXPECT_EQ(P.Ask("#INFO\r\n"), InfoDefault);
        }
        EXPECT_EQ(S.Stop(Signal), 0);
        EXPECT_NE(access(Link.c_str(), F_OK), 0);
    }
}

int RunStatus(std::vector<std::string> Args, std::string* Output = nullptr) {
    std::string Cmd = VORTA_SIM;
    for (auto& A : Args)
        Cmd += " '" + A + "'";
    FILE* F = popen((Cmd + " 2>/dev/null").c_str(), "r");
    char Buf[4096];
    size_t N;
    while ((N = fread(Buf, 1, sizeof Buf, F)) > 0)
        if (Output) Output->append(Buf, N);
    int St = pclose(F);
    return WIFEXITED(St) ? WEXITSTATUS(St) : -1;
}

TEST(SimProcess, HelpListsEveryOptionAndBadValuesAreRefused) {
    std::string Help;
    EXPECT_EQ(RunStatus({"--help"}, &Help), 0);
    for (const char* Opt : {"--link", "--id", "--bus", "--mode", "--rate", "--value", "--silent",
                            "--delay", "--split", "--noise", "--log", "--help"})
        EXPECT_NE(Help.find(Opt), std::string::npos) << Opt;
    std::vector<std::vector<std::string>> Bad = {
        {"--id", "0"},      {"--id", "78"},     {"--mode", "4"},    {"--rate", "0"},
        {"--rate", "x"},    {"--value", "nan"}, {"--value", "1e9"}, {"--delay", "-1"},
        {"--split", "5ms"}, {"--delay"},        {"--bogus"},        {"--bus", "1,,5"},
        {"--bus", "1,1"},   {"--bus", "0,5"},   {"--bus", "5,78"},  {"--bus", ""}};
    for (auto& B : Bad)
        EXPECT_EQ(RunStatus(B), 2) << B[0];
}

} // namespace
