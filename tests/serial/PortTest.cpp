// SPDX-License-Identifier: GPL-3.0-or-later
// Settings, opening and closing, and the line settings as the device holds them.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PtyPair.h"
#include "VaComm.h"
#include "VaPortWatcher.h"
#include "VaPorts.h"
#include "VaPosix.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <fstream>

namespace {

const char* OpenMsg = "Can't perform this operation while port is open";

// The system's text for an error number, in the user's language: a German
// user reads the reason in German.
std::string Sys(int Error) {
    return std::strerror(Error);
}

std::string ErrorOf(const std::function<void()>& Fn) {
    try {
        Fn();
    } catch (const EVaCommError& E) {
        return E.Message();
    }
    return "";
}

struct OpenPort : ::testing::Test {
    TPtyPair Pty;
    TVaComm Comm;
    void SetUp() override {
        ASSERT_FALSE(Pty.SlavePath.empty());
        Comm.SetDeviceName(Pty.SlavePath);
        Comm.SetBaudrate(br9600);
    }
};

TEST(VaCommSettings, DefaultsAreTheComponentsStoredDefaults) {
    TVaComm C;
    EXPECT_FALSE(C.Active());
    EXPECT_FALSE(C.AutoOpen());
    EXPECT_EQ(C.Baudrate(), br1200);
    EXPECT_EQ(C.UserBaudrate(), 0);
    EXPECT_EQ(C.Parity(), paNone);
    EXPECT_EQ(C.Databits(), db8);
    EXPECT_EQ(C.Stopbits(), sb1);
    EXPECT_EQ(C.Options(), 0);
    EXPECT_EQ(C.PortNum(), 0);
    EXPECT_EQ(C.DeviceName(), "/dev/ttyS%d");
    EXPECT_EQ(C.MonitorEvents(), 0xC8);
    EXPECT_EQ(C.EventMask(), 0x81u);
    EXPECT_EQ(C.EventPriority(), tpNormal);
    EXPECT_EQ(C.WritePriority(), tpHighest);
    EXPECT_FALSE(C.DirectWrite());
    EXPECT_TRUE(C.UpdateDCB());
    const TVaBuffers& B = C.Buffers();
    EXPECT_EQ(B.ReadSize(), 4096);
    EXPECT_EQ(B.WriteSize(), 2048);
    EXPECT_EQ(B.ReadTimeout(), 1000);
    EXPECT_EQ(B.WriteTimeout(), 1000);
    EXPECT_EQ(B.XonLimit(), 1024);
    EXPECT_EQ(B.XoffLimit(), 1024);
    TVaEventChars& E = C.EventChars();
    EXPECT_EQ(E.XonChar(), 0x11);
    EXPECT_EQ(E.XoffChar(), 0x13);
    EXPECT_EQ(E.ErrorChar() | E.EventChar() | E.EofChar(), 0);
    EXPECT_EQ(C.FlowControl().ControlDtr(), dtrDisabled);
    EXPECT_EQ(C.FlowControl().ControlRts(), rtsDisabled);
}

TEST(VaCommSettings, EventMaskFollowsMonitorEventsAndDirectWrite) {
    struct Case {
        TVaCommEvents Events;
        bool Direct;
        uint32_t Mask;
    } Cases[] = {
        {VaEvent(ceTxEmpty), false, 0},
        {VaEvent(ceTxEmpty), true, 0x4},
        {0, false, 0},
        {VaEvent(ceBreak) | VaEvent(ceRing) | VaEvent(ceEvent2), false, 0x1140},
        {0x1FFF, true, 0x1FFF},
    };
    for (const Case& K : Cases) {
        TVaComm C;
        C.SetDirectWrite(K.Direct);
        C.SetMonitorEvents(K.Events);
        EXPECT_EQ(C.EventMask(), K.Mask) << K.Events;
    }
}

TEST(VaCommSettings, BaudrateAndUserBaudrateInterplay) {
    TVaComm C;
    C.SetUserBaudrate(230400);
    EXPECT_EQ(C.Baudrate(), brUser);
    C.SetBaudrate(br9600);
    EXPECT_EQ(C.UserBaudrate(), 0);
    C.SetUserBaudrate(57600);
    C.SetBaudrate(brUser);
    EXPECT_EQ(C.UserBaudrate(), 57600);
}

TEST(VaCommSettings, DeviceNameTakesThePortNumberSafely) {
    struct Case {
        const char* Pattern;
        int Num;
        const char* Path;
    } Cases[] = {{"/dev/ttyS%d", 3, "/dev/ttyS3"},
                 {"/dev/ttyUSB0", 7, "/dev/ttyUSB0"},
                 {"/dev/%s%n%d", 2, "/dev/%s%n2"},
                 {"/tmp/a%%d%d", 4, "/tmp/a%d4"},
                 {"%d%d", 1, "1%d"},
                 {"/dev/x%", 1, "/dev/x%"}};
    for (const Case& K : Cases) {
        TVaComm C;
        C.SetDeviceName(K.Pattern);
        C.SetPortNum(K.Num);
        EXPECT_EQ(C.DeviceDisplayName(), K.Path);
        EXPECT_EQ(C.DeviceFileName(), K.Path);
    }
}

TEST(VaPrst, NotificationRules) {
    int Calls = 0;
    TVaFlowControl F;
    F.OnChange = [&](TVaObject* S) {
        EXPECT_EQ(S, &F);
        ++Calls;
    };
    F.SetOutCtsFlow(false); // unchanged: silent
    EXPECT_EQ(Calls, 0);
    F.SetXonXoffIn(true);
    EXPECT_EQ(Calls, 1);
    TVaFlowControl Other;
    Other.SetOutCtsFlow(true);
    Other.SetControlRts(rtsEnabled);
    Other.SetControlDtr(dtrEnabled);
    Other.SetTxContinueOnXoff(true);
    F.Assign(Other); // four changes, one notification
    EXPECT_EQ(Calls, 2);
    EXPECT_TRUE(F.OutCtsFlow());
    EXPECT_FALSE(F.XonXoffIn());
    EXPECT_EQ(F.ControlRts(), rtsEnabled);

    int CharCalls = 0;
    TVaEventChars E;
    E.OnChange = [&](TVaObject*) { ++CharCalls; };
    E.SetXonChar(0x11); // same value still notifies
    E.SetEofChar(0x1A);
    E.SetChar(9, 1); // no such index
    EXPECT_EQ(CharCalls, 2);
    EXPECT_EQ(E.EofChar(), 0x1A);

    int BufCalls = 0;
    TVaBuffers B;
    B.OnChange = [&](TVaObject*) { ++BufCalls; };
    B.SetReadTimeout(5);
    B.SetWriteTimeout(-3);
    B.SetReadSize(4096);
    B.SetWriteSize(-1);
    EXPECT_EQ(BufCalls, 1);
    EXPECT_EQ(B.WriteTimeout(), 0);
    EXPECT_EQ(B.WriteSize(), 0);
    EXPECT_THROW(B.Assign(E), EVaAssignError);
}

TEST(VaCommPort, MissingDeviceIsNotFound) {
    TVaComm C;
    int Opens = 0;
    C.OnOpen = [&](TVaObject*) { ++Opens; };
    C.SetDeviceName("/tmp/no-such-vorta-port%d");
    C.SetPortNum(7);
    EXPECT_EQ(ErrorOf([&] { C.Open(); }), "Specified device not found (/tmp/no-such-vorta-port7).");
    EXPECT_FALSE(C.Active());
    EXPECT_EQ(Opens, 0);
}

// The texts the platform layer's failures are reported with, one template
// each; callers and logs match them as they stand.
TEST(VaCommPort, FailureTexts) {
    using F = TVaCommFailure;
    EXPECT_EQ(VaCommErrorText(F::Open, ENOENT, "/dev/ttyUSB0"),
              "Specified device not found (/dev/ttyUSB0).");
    EXPECT_EQ(VaCommErrorText(F::Open, EACCES, "/dev/ttyUSB0"),
              "Can't open specified device /dev/ttyUSB0 (Error 13, " + Sys(EACCES) + ")");
    EXPECT_EQ(VaCommErrorText(F::WriteDcb, EINVAL), "Error writing dcb (22), " + Sys(EINVAL));
    EXPECT_EQ(VaCommErrorText(F::Timeouts, EINVAL), "Error setting timeouts (22), " + Sys(EINVAL));
    EXPECT_EQ(VaCommErrorText(F::Write, EIO), "Write error (5), " + Sys(EIO));
    EXPECT_EQ(VaCommErrorText(F::Read, EIO), "Read error (5), " + Sys(EIO));
    EXPECT_EQ(VaCommErrorText(F::Statistics, ENOTTY),
              "Error retrieving statistics (25), " + Sys(ENOTTY));
    EXPECT_EQ(VaCommErrorText(F::Function, EINVAL),
              "Error calling comm function (22), " + Sys(EINVAL));
    // A percent sign in a device name is text, not a conversion.
    EXPECT_EQ(VaCommErrorText(F::Open, ENOENT, "/tmp/%s%n"),
              "Specified device not found (/tmp/%s%n).");
}

TEST(VaCommPort, ClosedPortIsQuiet) {
    TVaComm C;
    EXPECT_TRUE(C.WriteText(""));
    EXPECT_FALSE(C.WriteText("#INFO\r\n"));
    EXPECT_EQ(C.ReadText(), "");
    EXPECT_EQ(C.InQueCount(), 0);
    EXPECT_EQ(C.GetCommErrors(), 0u);
    C.SetDTR(true);
    C.SetRTS(false);
    C.Close();
    C.FlowControl().SetControlDtr(dtrHandshake);
    EXPECT_EQ(ErrorOf([&] { C.SetDTR(true); }),
              "DTR line updates not allowed when flowcontrol is set to Handshake.");
    for (TVaControlRts R : {rtsHandshake, rtsToggle}) {
        C.FlowControl().SetControlRts(R);
        EXPECT_EQ(ErrorOf([&] { C.SetRTS(true); }),
                  "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.");
    }
}

TEST_F(OpenPort, OpenCloseReopenRaisesEventsAndClosingTwiceIsHarmless) {
    int Opens = 0, Closes = 0;
    Comm.OnOpen = [&](TVaObject* S) {
        EXPECT_EQ(S, &Comm);
        ++Opens;
    };
    Comm.OnClose = [&](TVaObject*) { ++Closes; };
    for (int i = 0; i < 3; ++i) {
        Comm.Open();
        EXPECT_TRUE(Comm.Active());
        Comm.Close();
        Comm.Close();
        EXPECT_FALSE(Comm.Active());
    }
    EXPECT_EQ(Opens, 3);
    EXPECT_EQ(Closes, 3);
}

TEST_F(OpenPort, SecondOpenIsRefusedAndTheFirstStaysIntact) {
    Comm.Open();
    EXPECT_EQ(ErrorOf([&] { Comm.Open(); }), OpenMsg);
    TVaComm Second;
    Second.SetDeviceName(Pty.SlavePath);
    EXPECT_EQ(ErrorOf([&] { Second.Open(); }),
              "Can't open specified device " + Pty.SlavePath + " (Error 16, " + Sys(EBUSY) + ")");
    EXPECT_FALSE(Second.Active());
    EXPECT_FALSE(CanOpenDevice(Pty.SlavePath));
    ASSERT_TRUE(Comm.WriteText("still here"));
    EXPECT_EQ(Pty.Receive(10, 2000), "still here");
    Comm.Close();
    EXPECT_TRUE(CanOpenDevice(Pty.SlavePath));
    Second.Open();
    EXPECT_TRUE(Second.Active());
}

TEST(VaCommSettings, CharacterFormatMapsOntoTermios) {
    struct Case {
        TVaBaudrate Baud;
        TVaParity Parity;
        TVaDatabits Bits;
        TVaStopbits Stop;
        speed_t Speed;
        tcflag_t Cflag;
    } Cases[] = {
        {br9600, paNone, db8, sb1, B9600, CS8},
        {br19200, paOdd, db7, sb2, B19200, CS7 | PARENB | PARODD | CSTOPB},
        {br115200, paEven, db6, sb1, B115200, CS6 | PARENB},
        {br57600, paMark, db8, sb1, B57600, CS8 | PARENB | PARODD | CMSPAR},
        {br300, paSpace, db8, sb2, B300, CS8 | PARENB | CMSPAR | CSTOPB},
        {br1200, paNone, db5, sb15, B1200, CS5 | CSTOPB},
    };
    for (const Case& K : Cases) {
        TVaComm C;
        C.SetBaudrate(K.Baud);
        C.SetParity(K.Parity);
        C.SetDatabits(K.Bits);
        C.SetStopbits(K.Stop);
        VaPosix::TLineSettings S;
        C.GetLineSettings(S);
        termios T{};
        T.c_cflag = CSIZE | PARENB | CRTSCTS | CREAD; // stale bits are replaced
        ASSERT_EQ(VaPosix::MakeTermios(S, T), 0) << K.Baud;
        EXPECT_EQ(cfgetospeed(&T), K.Speed) << K.Baud;
        EXPECT_EQ(T.c_cflag & ~tcflag_t(CBAUD | CBAUDEX), K.Cflag | CREAD) << K.Baud;
    }
}

TEST_F(OpenPort, DeviceHoldsTheLineSettings) {
    Comm.Open();
    termios T = Pty.Settings();
    EXPECT_EQ(cfgetospeed(&T), speed_t(B9600));
    EXPECT_EQ(T.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(T.c_oflag & OPOST, 0u);
    EXPECT_EQ(T.c_iflag & (ICRNL | IXON | IXOFF), 0u);
    TVaFlowControl F;
    F.SetOutCtsFlow(true);
    F.SetXonXoffOut(true);
    F.SetXonXoffIn(true);
    Comm.SetFlowControl(F);
    Comm.EventChars().SetXonChar('Q');
    Comm.EventChars().SetXoffChar('S');
    Comm.EventChars().SetEofChar(0x1A);
    Comm.SetOptions(VaOption(coParityCheck));
    Comm.SetBaudrate(br115200);
    T = Pty.Settings();
    EXPECT_TRUE(T.c_cflag & CRTSCTS);
    EXPECT_EQ(T.c_iflag & (IXON | IXOFF | INPCK), tcflag_t(IXON | IXOFF | INPCK));
    EXPECT_EQ(T.c_cc[VSTART], 'Q');
    EXPECT_EQ(T.c_cc[VSTOP], 'S');
    EXPECT_EQ(T.c_cc[VEOF], 0x1A);
    EXPECT_EQ(Comm.EventChars().EofChar(), 0x1A);
    EXPECT_EQ(cfgetospeed(&T), speed_t(B115200));
    Comm.SetUserBaudrate(230400);
    T = Pty.Settings();
    EXPECT_EQ(cfgetospeed(&T), speed_t(B230400));
}

TEST_F(OpenPort, UnrealisableSettingsAreRefusedAndTheDeviceKeepsItsOwn) {
    const std::string Refused = "Error writing dcb (22), " + Sys(EINVAL);
    std::function<void(TVaComm&)> Writes[] = {
        [](TVaComm& C) { C.SetBaudrate(br14400); },
        [](TVaComm& C) { C.SetBaudrate(br256000); },
        [](TVaComm& C) { C.SetUserBaudrate(12345); },
        [](TVaComm& C) { C.SetDatabits(db4); },
        [](TVaComm& C) { C.SetStopbits(sb15); },
        [](TVaComm& C) { C.FlowControl().SetOutDsrFlow(true); },
        [](TVaComm& C) { C.FlowControl().SetControlDtr(dtrHandshake); },
        [](TVaComm& C) { C.FlowControl().SetDsrSensitivity(true); },
        [](TVaComm& C) { C.SetOptions(VaOption(coNullStrip)); },
    };
    for (auto& W : Writes) {
        TVaComm C;
        C.SetDeviceName(Pty.SlavePath);
        C.SetBaudrate(br9600);
        C.Open();
        termios Before = Pty.Settings();
        EXPECT_EQ(ErrorOf([&] { W(C); }), Refused);
        termios After = Pty.Settings();
        EXPECT_EQ(cfgetospeed(&After), cfgetospeed(&Before));
        EXPECT_EQ(After.c_cflag, Before.c_cflag);
        EXPECT_TRUE(C.Active());
    }
    TVaComm C;
    C.SetDeviceName(Pty.SlavePath);
    C.SetUserBaudrate(12345);
    EXPECT_EQ(ErrorOf([&] { C.Open(); }), Refused); // refused while opening: stays closed
    EXPECT_FALSE(C.Active());
    EXPECT_TRUE(CanOpenDevice(Pty.SlavePath));
    EXPECT_EQ(C.UserBaudrate(), 12345);
}

TEST_F(OpenPort, EqualWritesCauseNoLineSettingButEventCharsAlwaysDo) {
    Comm.Open();
    termios T = Pty.Settings();
    cfsetospeed(&T, B4800);
    cfsetispeed(&T, B4800);
    T.c_cc[VSTART] = 0x55;
    tcsetattr(Pty.Master, TCSANOW, &T);
    Comm.SetBaudrate(br9600);
    Comm.SetParity(paNone);
    Comm.FlowControl().SetXonXoffIn(false);
    Comm.SetUserBaudrate(0);
    T = Pty.Settings();
    EXPECT_EQ(cfgetospeed(&T), speed_t(B4800));
    Comm.EventChars().SetXonChar(0x11);
    T = Pty.Settings();
    EXPECT_EQ(cfgetospeed(&T), speed_t(B9600));
    EXPECT_EQ(T.c_cc[VSTART], 0x11);
}

TEST_F(OpenPort, UpdateDcbOffLeavesTheLineSettingsButStillMakesTheLineRaw) {
    termios T = Pty.Settings();
    cfsetospeed(&T, B4800);
    cfsetispeed(&T, B4800);
    T.c_lflag |= ICANON | ECHO;
    tcsetattr(Pty.Master, TCSANOW, &T);
    Comm.SetUpdateDCB(false);
    Comm.Open();
    Comm.SetBaudrate(br38400);
    T = Pty.Settings();
    EXPECT_EQ(cfgetospeed(&T), speed_t(B4800));
    EXPECT_EQ(T.c_lflag & (ICANON | ECHO), 0u);
}

TEST_F(OpenPort, SettingsOfTheDeviceAreRefusedWhileOpen) {
    Comm.SetPortNum(2);
    Comm.Open();
    std::function<void()> Writes[] = {
        [&] { Comm.SetPortNum(5); },       [&] { Comm.SetDeviceName("/dev/null"); },
        [&] { Comm.SetMonitorEvents(0); }, [&] { Comm.SetDirectWrite(true); },
        [&] { Comm.SetUpdateDCB(false); }, [&] { Comm.SetBuffers(TVaBuffers()); },
    };
    for (auto& W : Writes)
        EXPECT_EQ(ErrorOf(W), OpenMsg);
    EXPECT_EQ(Comm.PortNum(), 2);
    EXPECT_EQ(Comm.DeviceName(), Pty.SlavePath);
    EXPECT_EQ(Comm.MonitorEvents(), 0xC8);
    EXPECT_FALSE(Comm.DirectWrite());
    EXPECT_TRUE(Comm.UpdateDCB());
    // A size change is stored first, then refused.
    EXPECT_EQ(ErrorOf([&] { Comm.Buffers().SetReadSize(100); }), OpenMsg);
    EXPECT_EQ(Comm.Buffers().ReadSize(), 100);
    Comm.Buffers().SetReadTimeout(10); // time-outs are plain fields
    Comm.Close();
    Comm.Buffers().SetWriteSize(64);
    EXPECT_EQ(Comm.Buffers().WriteSize(), 64);
}

TEST_F(OpenPort, PseudoTerminalAcceptsModemLinesAndHasNoLineErrors) {
    Comm.Open();
    Comm.SetRTS(true);
    Comm.SetDTR(true);
    Comm.SetDTR(false);
    Comm.EscapeComm(SETBREAK);
    Comm.EscapeComm(CLRBREAK);
    EXPECT_EQ(ErrorOf([&] { Comm.EscapeComm(42); }),
              "Error calling comm function (22), " + Sys(EINVAL));
    TVaComStat Stat;
    EXPECT_EQ(Comm.GetCommErrors(Stat), 0u);
    EXPECT_EQ(Stat.cbInQue, 0);
}

TEST_F(OpenPort, ExceptionInOnOpenGoesToTheApplicationAndThePortStaysOpen) {
    std::string Seen;
    SetApplicationExceptionHandler([&](TVaObject*, const std::exception& E) { Seen = E.what(); });
    Comm.OnOpen = [](TVaObject*) { throw Exception("open handler failed"); };
    Comm.Open();
    SetApplicationExceptionHandler(nullptr);
    EXPECT_TRUE(Comm.Active());
    EXPECT_EQ(Seen, "open handler failed");
}

TEST(VaPorts, NamesAndPaths) {
    struct Case {
        const char* Path;
        const char* Name;
    } Cases[] = {{"/dev/ttyUSB0", "USB0"}, {"/dev/ttyACM1", "ACM1"}, {"/dev/ttyS0", "S0"},
                 {"/dev/pts/3", "pts/3"},  {"/dev/tty", "tty"},      {"/tmp/port", "/tmp/port"}};
    for (const Case& K : Cases)
        EXPECT_EQ(PortNameFromPath(K.Path), K.Name);
    TPtyPair Pty;
    std::string Name = PortNameFromPath(Pty.SlavePath);
    EXPECT_EQ(PortDevicePath(Name), Pty.SlavePath);
    EXPECT_EQ(PortDevicePath(Pty.SlavePath), Pty.SlavePath);
    EXPECT_TRUE(CanOpenDevice(Pty.SlavePath));
    EXPECT_FALSE(CanOpenDevice("/tmp/no-such-vorta-port"));
    for (const std::string& N : ListSerialPortNames())
        EXPECT_EQ(N.find("/dev/"), std::string::npos);
}

// COM<n> is port n of the default device pattern only for a whole number
// from 1: read leniently, "COM-1" opened /dev/ttyS0, an unrelated device.
TEST(VaPorts, PortTextsResolveToOneDeviceOrAreRefused) {
    const struct {
        const char *Text, *Path, *TriedFirst; // a name is looked for at /dev/tty<name> first
        int Com;
    } Cases[] = {{"COM1", "/dev/ttyS1", "", 1},
                 {"COM12", "/dev/ttyS12", "", 12},
                 {"COM-1", "/dev/COM-1", "/dev/ttyCOM-1", 0},
                 {"COM0", "/dev/COM0", "/dev/ttyCOM0", 0},
                 {"COM1x", "/dev/COM1x", "/dev/ttyCOM1x", 0},
                 {"/tmp/x%d", "/tmp/x%d", "", 0},
                 {"COM99999999999", "/dev/COM99999999999", "/dev/ttyCOM99999999999", 0}};
    for (const auto& K : Cases) {
        const TPortTarget T = ResolvePortName(K.Text);
        EXPECT_EQ(T.ComNumber, K.Com) << K.Text;
        EXPECT_EQ(T.Path, K.Path) << K.Text;
        using V = std::vector<std::string>;
        EXPECT_EQ(T.Tried, (*K.TriedFirst ? V{K.TriedFirst, K.Path} : V{K.Path})) << K.Text;
    }
    for (const char* Bad : {"", "..", "../etc/passwd", "pts/../../etc/passwd", "x/.."})
        EXPECT_THROW(ResolvePortName(Bad), EVaCommError) << Bad;
}

// What the user reads when a port does not open: the engine's text, then the
// cause and what to do about it.
TEST(VaPorts, OpenFailuresNameTheCauseAndTheFix) {
    char File[] = "/tmp/vorta-port-file-XXXXXX";
    close(mkstemp(File));
    TPtyPair Held, Locked;
    TVaComm Holder;
    Holder.SetDeviceName(Held.SlavePath);
    Holder.Open();
    ASSERT_EQ(chmod(Locked.SlavePath.c_str(), 0), 0);
    const auto Cant = [](const std::string& Path, int Error, const std::string& Advice) {
        return "Can't open specified device " + Path + " (Error " + std::to_string(Error) + ", " +
               Sys(Error) + "): " + Advice;
    };
    const std::string Check = ": check the port name and that the adapter is plugged in";
    const struct {
        std::string Text, Message;
        int Error;
    } Cases[] = {
        {File, Cant(File, ENOTTY, "not a serial device"), ENOTTY},
        {"/dev/null", Cant("/dev/null", ENOTTY, "not a serial device"), ENOTTY},
        {"vorta-no",
         "Specified device not found (/dev/vorta-no). Tried /dev/ttyvorta-no, /dev/vorta-no" +
             Check + ".",
         ENOENT},
        {"COM-1",
         "Specified device not found (/dev/COM-1). Tried /dev/ttyCOM-1, /dev/COM-1" + Check +
             "; COM<n> takes a whole number n from 1.",
         ENOENT},
        {"COM77",
         "Specified device not found (/dev/ttyS77). Tried /dev/ttyS77 (COM77)" + Check + ".",
         ENOENT},
        {Held.SlavePath, Cant(Held.SlavePath, EBUSY, "in use by another program"), EBUSY},
        {Locked.SlavePath,
         Cant(Locked.SlavePath, EACCES,
              "permission denied: add your user to the dialout group (sudo adduser $USER dialout) "
              "and log in again"),
         EACCES},
    };
    for (const auto& K : Cases) {
        if (K.Error == EACCES && geteuid() == 0) {
            std::printf("[ SKIPPED  ] %s: root opens a device whatever its mode\n", K.Text.c_str());
            continue;
        }
        TVaComm C;
        EXPECT_EQ(ErrorOf([&] { OpenPortTarget(C, ResolvePortName(K.Text)); }), K.Message);
        EXPECT_FALSE(C.Active());
        EXPECT_EQ(DeviceOpenError(ResolvePortName(K.Text).Path), K.Error) << K.Text;
    }
    unlink(File);
}

} // namespace

// Without udev the device folder's entries coming and going have the list read
// again; a change of it is told once a burst, and nothing wakes on a clock.
TEST(PortWatcher, WithoutUdevTheDeviceFolderTellsOfPortsComingAndGoing) {
    QTemporaryDir Dev;
    const std::string Folder = Dev.path().toStdString();
    std::vector<std::string> Ports;
    int Told = 0;
    TPortWatcher W(false, Folder, [&] { return Ports; });
    W.OnPortsChanged = [&] { ++Told; };
    EXPECT_FALSE(W.Polls());
    auto ToldTimes = [&](int N) {
        QDeadlineTimer Deadline(10000);
        while (Told < N && !Deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return Told == N;
    };
    std::ofstream(Folder + "/shm-entry"); // no port: the list stays as it was
    Ports = {"USB0"};
    std::ofstream(Folder + "/ttyUSB0");
    EXPECT_TRUE(ToldTimes(1));
    Ports.clear();
    std::remove((Folder + "/ttyUSB0").c_str());
    EXPECT_TRUE(ToldTimes(2));
}
