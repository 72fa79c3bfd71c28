// SPDX-License-Identifier: GPL-3.0-or-later
// Ports behind a real ser2net, raw and RFC 2217: the serial component's
// bytes and settings, a server that dies and comes back, vorta-cli end to
// end and its errors, and the console's automatic reconnect. Then hostile
// servers: a burst far beyond the input's bound, a negotiation storm that
// never reads, a Telnet stream in error.
#include "CliRun.h"
#include "ConsoleFixture.h"
#include "HostilePeer.h"
#include "PtyPair.h"
#include "Ser2netProcess.h"
#include "VaComm.h"

#include <QProcess>
#include <QRegularExpression>

#include <fstream>
#include <sstream>

namespace {

// A component on a pseudo-terminal behind ser2net, collecting what it reads.
struct TNetComm {
    TPtyPair Pty;
    TSer2netProcess Server;
    TVaComm Comm;
    std::string Got;
    long Counted = 0;
    std::vector<int> Errors;
    explicit TNetComm(bool Rfc2217) : Server(Pty.SlavePath, Rfc2217) {
        Comm.SetDeviceName(Server.Url());
        Comm.OnRxChar = [this](TVaObject*, int N) {
            Counted += N;
            Got += Comm.ReadText();
        };
        Comm.OnError = [this](TVaObject*, int E) { Errors.push_back(E); };
    }
};

class NetPort : public ::testing::TestWithParam<bool> {};

} // namespace

INSTANTIATE_TEST_SUITE_P(RawAndRfc2217, NetPort, ::testing::Bool());

TEST_P(NetPort, EveryByteGoesBothWaysAndTheLineTakesTheComponentsSettings) {
    TNetComm N(GetParam());
    N.Comm.SetBaudrate(br19200);
    N.Comm.Open();
    // The component's settings reach the line through RFC 2217 only; a raw
    // port keeps the server's own.
    const speed_t Want = GetParam() ? B19200 : B9600;
    EXPECT_TRUE(WaitUntil(
        [&] {
            const termios T = N.Pty.Settings();
            return cfgetospeed(&T) == Want;
        },
        5000));

    std::string All;
    for (int B = 0; B < 256; ++B)
        All += char(B);
    const std::string Out = AngleDataRequest(79) + "#INFO\r\n" + All;
    ASSERT_EQ(AngleDataRequest(79), "\xFF\x05");
    N.Comm.WriteText(Out);
    EXPECT_EQ(N.Pty.Receive(Out.size(), 5000), Out);

    // A thousand Angle Data frames with 0xFF among their bytes, sent at once.
    std::string In;
    for (int i = 0; i < 1000; ++i)
        In += "\x02" + std::to_string(i) + "\xFF\xFF\xFD\x17$" + All.substr(size_t(i % 256), 1);
    N.Pty.Send(In);
    EXPECT_TRUE(PumpUntil([&] { return N.Got.size() >= In.size(); }, 20000));
    Pump(100);
    EXPECT_EQ(N.Got, In);
    EXPECT_EQ(N.Counted, long(In.size()));
    EXPECT_TRUE(N.Errors.empty());
}

TEST_P(NetPort, AServerThatDiesIsAHangupReportedOnceAndTheRestartedOneOpens) {
    TNetComm N(GetParam());
    N.Comm.Open();
    N.Server.Kill();
    ASSERT_TRUE(PumpUntil([&] { return !N.Errors.empty(); }, 5000));
    Pump(200);
    EXPECT_EQ(N.Errors, std::vector<int>{CE_IOE});
    EXPECT_TRUE(N.Comm.Vanished());
    EXPECT_EQ(N.Comm.WriteText("#INFO\r\n"), true); // queued; goes nowhere, raises nothing
    N.Comm.Close();
    N.Server.Start();
    N.Comm.Open();
    // Through once ser2net has set the line up (until then it is cooked).
    N.Comm.WriteText("#INFO\r\n");
    EXPECT_EQ(N.Pty.Receive(7, 5000), "#INFO\r\n");
    N.Pty.Send("OK\r\n");
    EXPECT_TRUE(PumpUntil([&] { return N.Got == "OK\r\n"; }, 5000))
        << QByteArray::fromStdString(N.Got).toPercentEncoding().toStdString();
}

TEST_P(NetPort, VortaCliReadsInformationAStreamAndAngleData) {
    TSimProcess Sim({"--id", "77", "--rate", "1000"});
    TSer2netProcess Server(Sim.Path(), GetParam());
    const QString Port = QString::fromStdString(Server.Url());
    TRun R = Cli({"info", "--port", Port});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_NE(R.Out.find("id: 77\n"), std::string::npos) << R.Out;

    const size_t Before = Sim.Bytes().size();
    R = Cli({"read", "--id", "77", "--count", "3", "--port", Port});
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(std::count(R.Out.begin(), R.Out.end(), '\n'), 3) << R.Out;
    EXPECT_EQ(Sim.Bytes().substr(Before), "\xFD\x05\xFD\x05\xFD\x05");

    // At least 1000 readings, every one a whole frame.
    qputenv("VORTA_PORT", Port.toUtf8());
    R = Cli({"stream", "--duration", "3"});
    qunsetenv("VORTA_PORT");
    EXPECT_EQ(R.Status, 0);
    EXPECT_EQ(R.Err, "");
    const QStringList Lines = QString::fromStdString(R.Out).split('\n', Qt::SkipEmptyParts);
    EXPECT_GE(Lines.size(), 1000);
    for (const QString& L : Lines)
        ASSERT_TRUE(QRegularExpression("^-?\\d+(\\.\\d+)?$").match(L).hasMatch()) << R.Out;
}

TEST(NetPortErrors, RefusedSilentUnknownAndMalformedServersAreNamedWithExitStatus3) {
    int Listener = -1; // never speaks: the kernel takes the connections
    const std::string S = std::to_string(FreeTcpPort(&Listener));
    const std::string C = std::to_string(FreeTcpPort());
    const std::string Refused = "Can't connect to 127.0.0.1 port " + C +
                                ": *; check that the serial server runs and listens on port " + C;
    const std::pair<std::string, std::string> Cases[] = {
        {"rfc2217://127.0.0.1:" + C, Refused},
        {"tcp://127.0.0.1:" + C, Refused},
        {"rfc2217://127.0.0.1:" + S, "127.0.0.1 port " + S +
                                         " is not an RFC 2217 server: no answer to the "
                                         "COM-PORT-OPTION within 3 s; give tcp://127.0.0.1:" +
                                         S + " if it passes raw bytes"},
        {"tcp://no-such-host.invalid:4001", "Can't connect to no-such-host.invalid port 4001: "
                                            "host not found (*); check the host name"},
        {"rfc2217://127.0.0.1", "'rfc2217://127.0.0.1' is not a network port: give "
                                "rfc2217://HOST:PORT with PORT from 1 to 65535"}};
    for (const auto& [Port, Want] : Cases) {
        const TRun R = Cli({"info", "--port", QString::fromStdString(Port)});
        EXPECT_EQ(R.Status, 3) << Port;
        const QString Pattern =
            QRegularExpression::escape(QString::fromStdString("vorta-cli: " + Want + "\n"));
        EXPECT_TRUE(QRegularExpression(
                        QRegularExpression::anchoredPattern(QString(Pattern).replace("\\*", ".*")))
                        .match(QString::fromStdString(R.Err))
                        .hasMatch())
            << R.Err;
    }
    close(Listener);
}

TEST_F(ConsoleE2E, AutoReconnectReopensANetworkPortWhoseServerCameBack) {
    Start({"--value", "3"});
    TSer2netProcess Server(Sim->Path(), true);
    const std::string Refused = "rfc2217://127.0.0.1:" + std::to_string(FreeTcpPort());
    Control<QComboBox>(W(), "ePortNo")->setEditText(QString::fromStdString(Refused));
    Control<QPushButton>(W(), "Button3")->click();
    EXPECT_EQ(Panel(0).rfind("Can't connect to 127.0.0.1 port " + Refused.substr(20) + ": ", 0),
              0u);
    Control<QComboBox>(W(), "ePortNo")->setEditText(QString::fromStdString(Server.Url()));
    W().SetAutoReconnect(true);
    Connect();
    Control<QPushButton>(W(), "btREAD")->click();
    ASSERT_TRUE(W().StreamRunning());
    Server.Kill();
    ASSERT_TRUE(PumpUntilTrue([this] { return Internals::Connected(W()) == 0; }));
    PumpWait(1500); // a try or two finds nobody listening
    EXPECT_EQ(Internals::Connected(W()), 0);
    Server.Start();
    for (int i = 0; i < 80 && Panel(0) != "Reconnected"; ++i)
        PumpWait(100);
    EXPECT_EQ(Panel(0), "Reconnected");
    EXPECT_EQ(Internals::Connected(W()), 1);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"#INFO", "#READ", "#INFO", "#READ"}));
    EXPECT_EQ(Control<QComboBox>(W(), "ePortNo")->currentText().toStdString(), Server.Url());
    EXPECT_TRUE(Messages.empty());
}

namespace {

using HostilePeer::TKind;
using HostilePeer::TPeer;

// The figure of /proc/<Pid>/status named Key ("VmHWM"), in kB; -1 if none.
long StatusKb(qint64 Pid, const std::string& Key) {
    std::ifstream In("/proc/" + std::to_string(Pid) + "/status");
    std::string Name;
    long Kb;
    while (In >> Name) {
        if (Name == Key + ":" && In >> Kb) return Kb;
        In.ignore(1 << 12, '\n');
    }
    return -1;
}

std::vector<std::string> LinesOf(const std::string& Text) {
    std::vector<std::string> L;
    std::istringstream In(Text);
    for (std::string Line; std::getline(In, Line);)
        L.push_back(Line);
    return L;
}

// The component on a hostile peer's port, collecting what it reads and the
// line errors it is told of.
struct TPeerComm {
    TVaComm C;
    std::string Got;
    unsigned Errors = 0;
    explicit TPeerComm(TPeer& Peer) {
        C.OnRxChar = [this](TVaObject*, int) { Got += C.ReadText(); };
        C.OnError = [this](TVaObject*, int E) { Errors |= unsigned(E); };
        C.SetDeviceName(Peer.Port());
        // The peer serves one client at a time.
        if (!PumpUntil([&] { return !Peer.Connected(); }, 10000)) return;
        C.Open();
        C.WriteText("#READ\r\n");
    }
};

class HostileServer : public ::testing::TestWithParam<TKind> {};

} // namespace

INSTANTIATE_TEST_SUITE_P(RawAndRfc2217, HostileServer,
                         ::testing::Values(TKind::Raw, TKind::Rfc2217));

// 300 KB at once is more than the input holds and than the socket's buffers
// take: the rest waits at the server until it is read, and every frame of
// the burst and of the period after it is printed, in order.
TEST_P(HostileServer, AStreamGetsEveryFrameOfABurstAndOfThePeriodAfterIt) {
    TPeer Peer(GetParam());
    const long Burst = 30000;
    Peer.On("#READ", [Burst](TPeer& P) {
        std::string B;
        for (long i = 0; i < Burst; ++i)
            B += HostilePeer::Frame(std::to_string(i));
        P.Send(B);
        P.Every(50, [Burst](long i) { return HostilePeer::Frame(std::to_string(Burst + i)); });
    });
    const TRun R =
        Cli({"stream", "--port", QString::fromStdString(Peer.Port()), "--duration", "4"});
    EXPECT_EQ(R.Status, 0) << R.Err;
    const std::vector<std::string> Lines = LinesOf(R.Out);
    ASSERT_GE(Lines.size(), size_t(Burst + 5)) << R.Err;
    for (size_t i = 0; i < Lines.size(); ++i)
        ASSERT_EQ(Lines[i], std::to_string(i));
}

// A server that repeats requests and never reads: the replies that find no
// room are dropped and told of as a full transmit queue, the frames among
// the requests are still read, and the client's memory stays small.
TEST(HostileServerStorm, RepliesStayBoundedAndAreCountedWhileFramesAreRead) {
    TPeer Peer(TKind::Rfc2217);
    Peer.On("#READ", [](TPeer& P) {
        P.StormWith(HostilePeer::Storm(4096));
        P.Every(50, [](long i) { return HostilePeer::Frame(std::to_string(i)); });
    });
    {
        // First in the process, whose threads after a fork the thread
        // sanitizer refuses.
        TPeerComm N(Peer);
        EXPECT_TRUE(PumpUntil(
            [&] { return (N.Errors & CE_TXFULL) && N.Got.find("B1\x17$") != std::string::npos; },
            60000))
            << "errors " << N.Errors << ", " << N.Got.size() << " bytes, peer sent " << Peer.Sent();
    }
    QProcess Cli;
    Cli.start(QStringLiteral(VORTA_CLI_PATH),
              {"stream", "--port", QString::fromStdString(Peer.Port())});
    ASSERT_TRUE(Cli.waitForStarted(10000));
    // Under a sanitizer every byte costs many times as much: less storm
    // shows the same, and the memory bound is not checked there (below).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const uint64_t Stormed = Peer.Sent() + (32u << 20);
#else
    const uint64_t Stormed = Peer.Sent() + (256u << 20);
#endif
    ASSERT_TRUE(PumpUntil(
        [&] { return Peer.Sent() >= Stormed || Cli.state() != QProcess::Running; }, 120000));
    // Still streaming: without readings it would have given up on #READ.
    ASSERT_EQ(Cli.state(), QProcess::Running) << Cli.readAllStandardError().toStdString();
    const long PeakKb = StatusKb(Cli.processId(), "VmHWM");
    Cli.kill();
    Cli.waitForFinished(5000);
    EXPECT_GT(PeakKb, 0);
    // The sanitizers' allocators keep freed memory in quarantine and add
    // their shadow: the bound is the normal build's to check.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(PeakKb, 64 * 1024) << "after " << Peer.Sent() << " bytes of requests";
#endif
}

// Bytes in error become the SUB character, with a framing error: between
// good frames, the frames they spoil give no reading.
TEST(HostileServerErrors, ATelnetStreamInErrorSpoilsOnlyItsOwnFrames) {
    const std::string Sb = "\377\372\054\012"; // IAC SB COM-PORT-OPTION 10
    const std::string Spoilt[] = {
        HostilePeer::UndoubledIac("1250"), HostilePeer::Frame("12\377\36750"), // EC
        HostilePeer::Frame("12" + Sb + "\001\377\36150"),                      // cut by NOP
        HostilePeer::Frame("12" + Sb + std::string(600, 'x') + "\377\36050"),  // too long
        HostilePeer::Frame("12\377\36050")};                                   // stray SE
    std::string Sent, Want;
    for (size_t i = 0; i < std::size(Spoilt); ++i) {
        Sent += HostilePeer::Frame(std::to_string(i)) + Spoilt[i];
        Want += std::to_string(i) + "\n";
    }
    Sent += HostilePeer::Frame("9");
    Want += "9\n";
    TPeer Peer(TKind::Rfc2217);
    Peer.On("#READ", [Sent](TPeer& P) { P.Send(Sent); });
    {
        TPeerComm N(Peer); // before the fork below, as in the storm's test
        ASSERT_TRUE(PumpUntil(
            [&] { return N.Got.find(HostilePeer::Frame("9")) != std::string::npos; }, 10000));
        EXPECT_EQ(std::count(N.Got.begin(), N.Got.end(), '\x1A'), 5) << N.Got;
        EXPECT_EQ(N.Errors, unsigned(CE_FRAME));
        EXPECT_EQ(N.C.NetCounters().ProtocolErrors, 5u);
    }
    const TRun R =
        Cli({"stream", "--port", QString::fromStdString(Peer.Port()), "--duration", "2"});
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out, Want);
    EXPECT_NE(R.Err.find("telnet protocol errors: 5\n"), std::string::npos) << R.Err;
}

// A raw port's line is set at its server: its light shows the address only.
TEST_F(ConsoleE2E, TheLightOfANetworkPortNamesOnlyWhatTheConsoleSets) {
    Start();
    for (const bool Rfc2217 : {false, true}) {
        TSer2netProcess Server(Sim->Path(), Rfc2217);
        Control<QComboBox>(W(), "ePortNo")->setEditText(QString::fromStdString(Server.Url()));
        Connect();
        EXPECT_EQ(Control<QLabel>(W(), "ConnectionLight")->text().toStdString(),
                  Server.Url() + (Rfc2217 ? " \u00B7 9600 8N1" : ""));
        Control<QAction>(W(), "actDisconnect")->trigger();
    }
}
