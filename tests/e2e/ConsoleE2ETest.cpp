// SPDX-License-Identifier: GPL-3.0-or-later
// The console's window against the simulated sensor: every command, the
// answers, the gauge, and the port's troubles.
#include "ConsoleFixture.h"

TEST_F(ConsoleE2E, ConnectOpensAndReadsInformation) {
    Start({"--id", "1", "--mode", "0"});
    int Opens = 0;
    auto Chained = Internals::VaComm1(W())->OnOpen;
    Internals::VaComm1(W())->OnOpen = [&](TVaObject* S) {
        ++Opens;
        Chained(S);
    };
    Connect();
    EXPECT_EQ(Opens, 1);
    EXPECT_TRUE(Messages.empty());
    EXPECT_EQ(Commands(), std::vector<std::string>{"#INFO"});
    EXPECT_EQ(Panel(0), "Try Connect 1[sec]");
    EXPECT_EQ(Panel(1), "#INFO\r\n");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeVersion")->text(), "4100");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeID")->text(), "1");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeMode")->text(), "0");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeNRange")->text(), "900");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbePRange")->text(), "900");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeCal11")->text(), "12");
    // Set by Connect, then cleared again by the Information command's start.
    EXPECT_FALSE(StopFlag);

    // Connecting again only repeats Information.
    Control<QPushButton>(W(), "Button3")->click();
    EXPECT_EQ(Opens, 1);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"#INFO", "#INFO"}));
    EXPECT_EQ(MemoLines().size(), 2u);
}

TEST_F(ConsoleE2E, EveryButtonSendsItsBytes) {
    Start({"--value", "12.5"});
    Connect();
    Control<QLineEdit>(W(), "eCount")->setText("1");
    Control<QLineEdit>(W(), "eInterval")->setText("200");
    Control<QLineEdit>(W(), "eID")->setText("5");
    Control<QLineEdit>(W(), "Edit1")->setText("5");
    Control<TLabeledEdit>(W(), "leRangeN")->setText("450");
    Control<TLabeledEdit>(W(), "leRangeP")->setText("1800");
    Control<QLineEdit>(W(), "ed360Send1")->setText("#INFO");
    Control<QLineEdit>(W(), "ed360Send2")->setText("");
    Control<QLineEdit>(W(), "ed360Send3")->setText("ABC");

    const struct {
        QPushButton* Button;
        std::string Sent;   // exact bytes
        std::string Panel1; // after the command
    } Cases[] = {
        {Control<QPushButton>(W(), "btn25"), "#SAVE\r\n", "#SAVE\r\n"},
        {Control<QPushButton>(W(), "btREAD"), "#READ\r\n", "#READ\r\n"},
        {Control<QPushButton>(W(), "btStop"), "#STOP\r\n", "#STOP\r\n"},
        {Control<QPushButton>(W(), "btDATA"), "#DATA\r\n", "#DATA\r\n"},
        {Control<QPushButton>(W(), "btIDchange"), "#ID5\r\n#INFO\r\n", "#INFO\r\n"},
        {Control<QPushButton>(W(), "btB105"), "\xB5\x05", "B5 05 - HEX"},
        {Control<QPushButton>(W(), "Button21"), "#MODE0\r\n#INFO\r\n", "#INFO\r\n"},
        {Control<QPushButton>(W(), "Button22"), "#MODE1\r\n#INFO\r\n", "#INFO\r\n"},
        {Control<QPushButton>(W(), "Button23"), "#MODE2\r\n#INFO\r\n", "#INFO\r\n"},
        {Control<QPushButton>(W(), "Button24"), "#MODE3\r\n#INFO\r\n", "#INFO\r\n"},
        {Control<QPushButton>(W(), "Button25"), "#CALI14450\r\n#INFO\r\n", "#INFO\r\n"},
        {Control<QPushButton>(W(), "Button26"), "#CALI151800\r\n#INFO\r\n", "#INFO\r\n"},
        {Control<QPushButton>(W(), "bt360Send1"), "#INFO\r\n", "#INFO\r\n"},
        {Control<QPushButton>(W(), "bt360Send2"), "\r\n", "\r\n"},
        {Control<QPushButton>(W(), "bt360Send3"), "ABC\r\n", "ABC\r\n"},
        {Control<QPushButton>(W(), "btClear"), "", "ABC\r\n"},
    };
    for (const auto& C : Cases) {
        const size_t Before = Sim->Bytes().size();
        C.Button->click();
        WaitForBytes(Before + C.Sent.size());
        Settle();
        EXPECT_EQ(Sim->Bytes().substr(Before), C.Sent) << C.Button->text().toStdString();
        EXPECT_EQ(Panel(1), C.Panel1) << C.Button->text().toStdString();
    }
    EXPECT_EQ(Questions, std::vector<std::string>{"Do you want ID Change(5)?"});
    EXPECT_TRUE(Messages.empty());
    // The ID, mode and range changes were read back.
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeID")->text(), "5");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeMode")->text(), "3");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeNRange")->text(), "450");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbePRange")->text(), "1800");
    // Clear emptied the memo, the readout and the counter.
    EXPECT_EQ(Control<TMemoView>(W(), "Memo1")->Text(), "");
    EXPECT_EQ(Control<TiSevenSegmentAnalog>(W(), "ssaValue")->Value(), 0);
    EXPECT_EQ(Control<QLabel>(W(), "lCount")->text(), "1");
}

TEST_F(ConsoleE2E, SilentSensorGetsSixInformationRequestsThenTheMessage) {
    Start({"--silent"});
    Control<QPushButton>(W(), "Button3")->click();
    EXPECT_EQ(Internals::Connected(W()), 1);
    const auto C = Sim->Commands();
    ASSERT_EQ(C.size(), 6u);
    for (size_t i = 0; i < C.size(); ++i) {
        EXPECT_EQ(C[i].Text, "#INFO");
        if (i > 0) {
            EXPECT_GT(C[i].Time - C[i - 1].Time, 0.45) << i;
            EXPECT_LT(C[i].Time - C[i - 1].Time, 0.75) << i;
        }
    }
    EXPECT_EQ(Panel(0), "No answer");
    EXPECT_EQ(Panel(1), "#INFO\r\n");
    EXPECT_EQ(Messages, std::vector<std::string>{
                            "Can not connect to Sensor. Check the sensor or your PC!! "});
    // Information parsed the empty answer.
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeID")->text(), "-176");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeVersion")->text(), "");
}

TEST_F(ConsoleE2E, CommandsWhileDisconnectedSendNothing) {
    Start();
    Control<QLineEdit>(W(), "eCount")->setText("3");
    Control<QPushButton>(W(), "btn10")->click();
    Control<QPushButton>(W(), "btDATA")->click();
    EXPECT_FALSE(StopFlag);
    EXPECT_EQ(Control<QLabel>(W(), "lCount")->text(), "1");
    Control<QPushButton>(W(), "btIDchange")->click();
    EXPECT_EQ(Messages,
              (std::vector<std::string>{"Open Com port.", "Open Com port.", "Open Comport"}));
    EXPECT_TRUE(Questions.empty());
    Settle();
    EXPECT_EQ(Sim->Bytes(), "");
}

TEST_F(ConsoleE2E, CountZeroSendsNothing) {
    Start();
    Connect();
    const size_t Before = Sim->Bytes().size();
    Control<QLineEdit>(W(), "eCount")->setText("0");
    Control<QLabel>(W(), "lCount")->setText("7");
    Control<QPushButton>(W(), "btDATA")->click();
    Control<QPushButton>(W(), "btB105")->click();
    Settle();
    EXPECT_EQ(Sim->Bytes().size(), Before);
    EXPECT_EQ(Control<QLabel>(W(), "lCount")->text(), "1");
    EXPECT_TRUE(StopFlag);
}

TEST_F(ConsoleE2E, StopDuringPollingEndsItAfterTheCurrentWait) {
    Start({"--value", "1.5"});
    Connect();
    Control<QLineEdit>(W(), "eCount")->setText("10");
    Control<QLineEdit>(W(), "eInterval")->setText("200");
    QTimer::singleShot(700, Control<QPushButton>(W(), "btStop"),
                       [this] { Control<QPushButton>(W(), "btStop")->click(); });
    Control<QPushButton>(W(), "btDATA")->click();
    EXPECT_TRUE(StopFlag);
    Settle(300);
    const auto C = Commands();
    const auto FirstStop = std::find(C.begin(), C.end(), "#STOP");
    ASSERT_NE(FirstStop, C.end());
    const auto Data = std::count(C.begin(), C.end(), "#DATA");
    EXPECT_GE(Data, 1);
    EXPECT_LT(Data, 10);
    EXPECT_EQ(std::count(FirstStop, C.end(), "#DATA"), 0);
    EXPECT_EQ(Control<QLabel>(W(), "lCount")->text().toInt(), Data);
    EXPECT_EQ(MemoLines().back(), "1.50");
}

TEST_F(ConsoleE2E, IdChangeChecksTheIdAndSendsItInDecimal) {
    Start();
    Connect();
    const size_t Before = Sim->Bytes().size();
    Control<QLineEdit>(W(), "eID")->setText("78");
    Control<QPushButton>(W(), "btIDchange")->click();
    EXPECT_EQ(Messages, std::vector<std::string>{"\"MAX ID = 77!!!. Please Insert again.\""});
    EXPECT_TRUE(Questions.empty());
    Answer = false;
    Control<QLineEdit>(W(), "eID")->setText("77");
    Control<QPushButton>(W(), "btIDchange")->click();
    Settle();
    EXPECT_EQ(Sim->Bytes().size(), Before);
    Answer = true;
    Control<QPushButton>(W(), "btIDchange")->click();
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeID")->text(), "77");
    Control<QLineEdit>(W(), "eID")->setText("007");
    Control<QPushButton>(W(), "btIDchange")->click();
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeID")->text(), "7");
    EXPECT_EQ(Questions,
              (std::vector<std::string>{"Do you want ID Change(77)?", "Do you want ID Change(77)?",
                                        "Do you want ID Change(007)?"}));
    EXPECT_EQ(Sim->Bytes().substr(Before), "#ID77\r\n#INFO\r\n#ID7\r\n#INFO\r\n");
}

TEST_F(ConsoleE2E, AngleDataForAnotherIdSendsTwiceAndGivesUp) {
    Start({"--id", "1"});
    Connect();
    const size_t Before = Sim->Bytes().size();
    Control<QLineEdit>(W(), "eCount")->setText("1");
    Control<QLineEdit>(W(), "eInterval")->setText("200");
    Control<QLineEdit>(W(), "Edit1")->setText("80");
    Control<QPushButton>(W(), "btB105")->click();
    WaitForBytes(Before + 4);
    EXPECT_EQ(Sim->Bytes().substr(Before), std::string("\x00\x05\x00\x05", 4));
    EXPECT_EQ(Panel(1), "0 05 - HEX");
    EXPECT_EQ(Panel(0), "No answer");
}

TEST_F(ConsoleE2E, AngleDataReadsTheValue) {
    Start({"--id", "1", "--value", "-3.25", "--mode", "2"});
    Connect();
    Control<QLineEdit>(W(), "eCount")->setText("2");
    Control<QLineEdit>(W(), "eInterval")->setText("200");
    Control<QLineEdit>(W(), "Edit1")->setText("1");
    const size_t Before = Sim->Bytes().size();
    Control<QPushButton>(W(), "btB105")->click();
    EXPECT_EQ(Sim->Bytes().substr(Before), "\xB1\x05\xB1\x05");
    EXPECT_EQ(Panel(1), "B1 05 - HEX");
    EXPECT_EQ(Panel(0), "Try Connect 1[sec]");
    EXPECT_EQ(Control<QLabel>(W(), "lCount")->text(), "2");
    EXPECT_EQ(LastAnswer, "-3.25");
    EXPECT_EQ(Control<TiSevenSegmentAnalog>(W(), "ssaValue")->Value(), -3.25);
}

TEST_F(ConsoleE2E, PlusRangeFullCircleIsSentAsZeroAndReadBackAs3600) {
    Start({"--mode", "1"});
    Connect();
    const size_t Before = Sim->Bytes().size();
    Control<TLabeledEdit>(W(), "leRangeP")->setText("3600");
    Control<QPushButton>(W(), "Button26")->click();
    EXPECT_EQ(Sim->Bytes().substr(Before), "#CALI150\r\n#INFO\r\n");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbePRange")->text(), "3600");
}

TEST_F(ConsoleE2E, SplitDeliveryStillFillsFieldsAndReadings) {
    Start({"--split", "2", "--value", "12.5", "--id", "3", "--mode", "2"});
    Connect();
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeVersion")->text(), "4100");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeID")->text(), "3");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeMode")->text(), "2");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeCal10")->text(), "11");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeCal11")->text(), "12");
    Control<QLineEdit>(W(), "eCount")->setText("3");
    Control<QLineEdit>(W(), "eInterval")->setText("200");
    Control<QPushButton>(W(), "btDATA")->click();
    const auto Lines = MemoLines();
    ASSERT_GE(Lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(Lines.end() - 3, Lines.end()),
              (std::vector<std::string>{"12.50", "12.50", "12.50"}));
    EXPECT_EQ(Commands(), (std::vector<std::string>{"#INFO", "#DATA", "#DATA", "#DATA"}));
    EXPECT_EQ(Control<TiSevenSegmentAnalog>(W(), "ssaValue")->Value(), 12.5);
}

TEST_F(ConsoleE2E, StreamingFramesReachTheMemoUntilStop) {
    Start({"--value", "7.25", "--rate", "20"});
    Connect();
    Control<QPushButton>(W(), "btREAD")->click();
    PumpWait(300);
    Control<QPushButton>(W(), "btStop")->click();
    EXPECT_TRUE(StopFlag);
    const size_t Shown = MemoLines().size();
    EXPECT_GT(Shown, 5u);
    EXPECT_EQ(MemoLines()[1], "7.25");
    PumpWait(300);
    EXPECT_EQ(MemoLines().size(), Shown);
}

TEST_F(ConsoleE2E, PortBoxTakesNamesPathsAndComNumbers) {
    Start();
    // A port name below /dev.
    ASSERT_EQ(Sim->Path().rfind("/dev/", 0), 0u);
    Control<QComboBox>(W(), "ePortNo")->setEditText(QString::fromStdString(Sim->Path().substr(5)));
    Connect();
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeVersion")->text(), "4100");
    EXPECT_FALSE(W().CanOpenPort(Sim->Path().substr(5)));

    // COM without a whole number is no COM port: a name below /dev that is
    // not there, said in the panel with the paths tried.
    TFKAVRO Other;
    Control<QComboBox>(Other, "ePortNo")->setEditText("COMx");
    Control<QPushButton>(Other, "Button3")->click();
    EXPECT_EQ(Internals::Connected(Other), 0);
    EXPECT_EQ(Control<TStatusBar>(Other, "StatusBar1")
                  ->PanelText(0)
                  .toStdString()
                  .rfind("Specified device not found (/dev/COMx). Tried /dev/ttyCOMx, /dev/COMx: "
                         "check the port name and that the adapter is plugged in; COM<n> takes a "
                         "whole number n from 1. - ",
                         0),
              0u)
        << Control<TStatusBar>(Other, "StatusBar1")->PanelText(0).toStdString();
    // A port held by this window cannot be opened by another.
    Control<QComboBox>(Other, "ePortNo")->setEditText(QString::fromStdString(Sim->Path()));
    Control<QPushButton>(Other, "Button3")->click();
    EXPECT_EQ(Internals::Connected(Other), 0);
    EXPECT_NE(
        Control<TStatusBar>(Other, "StatusBar1")->PanelText(0).toStdString().find(Sim->Path()),
        std::string::npos)
        << Control<TStatusBar>(Other, "StatusBar1")->PanelText(0).toStdString();
    EXPECT_TRUE(Messages.empty());
}

TEST_F(ConsoleE2E, FreePortCanBeOpenedAndHeldOneIsLeftOut) {
    Start();
    const std::string Name = Sim->Path().substr(5);
    EXPECT_TRUE(W().CanOpenPort(Name));
    EXPECT_FALSE(W().CanOpenPort("USB99"));
    QStringList List{"stale"};
    W().ListSerialPorts(&List, true);
    EXPECT_FALSE(List.contains("stale"));
    W().ListSerialPorts(nullptr, true);
}

TEST_F(ConsoleE2E, LineErrorsShowTheLastTextInOrder) {
    Start();
    Internals::VaComm1(W())->OnError(Internals::VaComm1(W()), 0x0001 | 0x0004);
    EXPECT_EQ(Panel(0), "The hardware detected a parity error.");
    Internals::VaComm1(W())->OnError(Internals::VaComm1(W()), 0x0400);
    EXPECT_EQ(Panel(0), "An I/O error occurred during communications with the device.");
    Internals::VaComm1(W())->OnError(Internals::VaComm1(W()), 0x0020);
    EXPECT_EQ(Panel(0), "An I/O error occurred during communications with the device.");
}

TEST_F(ConsoleE2E, ClosingDuringAWaitEndsTheCommand) {
    Start({"--silent"});
    W().show();
    QTimer::singleShot(900, &W(), [this] { W().close(); });
    Control<QPushButton>(W(), "Button3")->click();
    // Abandoned at the close: no further sends, no message box.
    EXPECT_LT(Sim->Commands().size(), 6u);
    EXPECT_TRUE(Messages.empty());
    EXPECT_TRUE(W().Closing());
}

TEST_F(ConsoleE2E, VanishedSensorIsReportedOnceAndNothingHangs) {
    Start();
    Connect();
    Sim.reset();
    PumpWait(500);
    EXPECT_EQ(Panel(0), "An I/O error occurred during communications with the device.");
    // The dead port is closed: commands ask for a port instead of sending.
    EXPECT_EQ(Internals::Connected(W()), 0);
    EXPECT_FALSE(Internals::VaComm1(W())->Active());
    Control<QPushButton>(W(), "btn25")->click();
    Control<QLineEdit>(W(), "eCount")->setText("1");
    Control<QLineEdit>(W(), "eInterval")->setText("50");
    Control<QPushButton>(W(), "btDATA")->click();
    EXPECT_EQ(Messages, (std::vector<std::string>{"Open Com port.", "Open Com port."}));
}

TEST_F(ConsoleE2E, ConnectReopensTheSensorThatCameBackUnderItsName) {
    const std::string Link = Folder.path().toStdString() + "/vorta0";
    Start({"--link", Link, "--id", "1"});
    Control<QComboBox>(W(), "ePortNo")->setEditText(QString::fromStdString(Link));
    Connect();
    Sim.reset(); // unplugged
    ASSERT_TRUE(PumpUntilTrue([this] { return Internals::Connected(W()) == 0; }));
    EXPECT_EQ(Panel(0), "An I/O error occurred during communications with the device.");
    Sim = std::make_unique<TSimProcess>(std::vector<std::string>{"--link", Link, "--id", "4"});
    Connect();
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeID")->text(), "4");
    EXPECT_EQ(Commands(), std::vector<std::string>{"#INFO"});
    EXPECT_TRUE(Messages.empty());
}

TEST_F(ConsoleE2E, ConnectWithTheBoxChangedTalksToTheOtherSensor) {
    Start({"--id", "1"});
    Connect();
    TSimProcess Other({"--id", "2"});
    std::vector<std::string> Panel0;
    auto Chained = Internals::VaComm1(W())->OnClose;
    Internals::VaComm1(W())->OnClose = [&](TVaObject* S) {
        Chained(S);
        Panel0.push_back(Panel(0));
    };
    Control<QComboBox>(W(), "ePortNo")->setEditText(QString::fromStdString(Other.Path()));
    Connect();
    EXPECT_EQ(Panel0, std::vector<std::string>{"Close Com"});
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeID")->text(), "2");
    EXPECT_EQ(Other.Commands().size(), 1u);
    EXPECT_EQ(Commands(), std::vector<std::string>{"#INFO"});
    // The first port was let go.
    EXPECT_TRUE(W().CanOpenPort(Sim->Path()));
    EXPECT_FALSE(W().CanOpenPort(Other.Path()));
    EXPECT_TRUE(Messages.empty());
}

TEST_F(ConsoleE2E, SensorStillStreamingAtConnectFillsTheFieldsRight) {
    Start({"--stream", "--rate", "20", "--id", "3", "--mode", "2", "--value", "12.5"});
    Connect();
    EXPECT_TRUE(Messages.empty());
    EXPECT_EQ(Commands(), std::vector<std::string>{"#INFO"});
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeVersion")->text(), "4100");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeID")->text(), "3");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbeMode")->text(), "2");
    EXPECT_EQ(Control<TLabeledEdit>(W(), "lbePRange")->text(), "900");
    // The readings went on as usual meanwhile.
    PumpWait(200);
    EXPECT_EQ(LastAnswer, "12.50");
    EXPECT_EQ(Control<TiSevenSegmentAnalog>(W(), "ssaValue")->Value(), 12.5);
}

TEST_F(ConsoleE2E, OnlyAClickOnTheFreePanelBackgroundSendsTheFirstFreeCommand) {
    Start();
    W().show();
    Connect();
    Control<QLineEdit>(W(), "ed360Send1")->setText("#SAVE");
    const size_t Before = Sim->Bytes().size();
    const QPoint GroupFree(5, 190);
    ASSERT_EQ(Control<QGroupBox>(W(), "GroupBox1")->childAt(GroupFree), nullptr);
    QTest::mouseClick(Control<QLabel>(W(), "Label2"), Qt::LeftButton);
    QTest::mouseClick(Control<TLabeledEdit>(W(), "lbeVersion")->EditLabel, Qt::LeftButton);
    QTest::mouseClick(Control<QGroupBox>(W(), "GroupBox1"), Qt::LeftButton, {}, GroupFree);
    QTest::mouseClick(Control<TImage32>(W(), "Dst"), Qt::LeftButton);
    QTest::mouseClick(Control<QLabel>(W(), "Label8"), Qt::LeftButton);
    Settle(300);
    EXPECT_EQ(Sim->Bytes().size(), Before);
    const QPoint PanelFree(100, 255);
    ASSERT_EQ(Control<QWidget>(W(), "Panel1")->childAt(PanelFree), nullptr);
    QTest::mouseClick(Control<QWidget>(W(), "Panel1"), Qt::LeftButton, {}, PanelFree);
    WaitForBytes(Before + 7);
    EXPECT_EQ(Sim->Bytes().substr(Before), "#SAVE\r\n");
}

TEST_F(ConsoleE2E, MemoShowsLeadingEmptyLinesAndKeepsItsCharacterBound) {
    Window = std::make_unique<TFKAVRO>();
    Internals::FReceiver(W())->Receive("\r\rA\r\r");
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"", "", "A", ""}));
    W().btClearClick();
    Internals::FReceiver(W())->Receive("\r");
    EXPECT_EQ(MemoLines(), std::vector<std::string>{""});
    EXPECT_EQ(Control<TMemoView>(W(), "Memo1")->LineCount(), 1);
    Internals::FReceiver(W())->Receive("B\r");
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"", "B"}));

    // Over the bound the oldest lines go; the newest stays even when longer.
    W().btClearClick();
    Control<TMemoView>(W(), "Memo1")->SetMaxChars(20);
    Internals::FReceiver(W())->Receive("1234\r5678\r9abc\rdefg\r");
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"1234", "5678", "9abc", "defg"}));
    Internals::FReceiver(W())->Receive("h\r");
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"5678", "9abc", "defg", "h"}));
    Internals::FReceiver(W())->Receive(std::string(30, 'x') + "\r");
    EXPECT_EQ(MemoLines(), std::vector<std::string>{std::string(30, 'x')});
    Internals::FReceiver(W())->Receive("\r");
    EXPECT_EQ(MemoLines(), std::vector<std::string>{""});
    Internals::FReceiver(W())->Receive("\r");
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"", ""}));
}

// ---- the gauge driven by the sensor

namespace {

// Whether the window's dial is the picture File (compared pixel for pixel).
bool DialIs(TFKAVRO& W, const char* File) {
    TBitmap32 Expected;
    LoadPictureFile(Expected, File);
    const TBitmap32* Shown = Control<TImage32>(W, "ivBGR")->Bitmap();
    return Shown->Width() == Expected.Width() && Shown->Height() == Expected.Height() &&
           std::equal(Expected.Bits(), Expected.Bits() + Expected.Width() * Expected.Height(),
                      Shown->Bits());
}

} // namespace

TEST_F(ConsoleE2E, ConnectPicksTheDialForTheSensorsModeAndRange) {
    const struct {
        const char* Mode;
        bool FullCircle;
        const char* Dial;
    } Cases[] = {{"0", false, "img/Mode1.png"},
                 {"2", false, "img/Mode3.png"},
                 {"1", true, "img/Mode0.png"},
                 {"3", true, "img/Mode2.png"}};
    for (const auto& C : Cases) {
        Start({"--mode", C.Mode});
        Window->show();
        Connect();
        if (C.FullCircle) {
            Control<TLabeledEdit>(W(), "leRangeP")->setText("3600");
            Control<QPushButton>(W(), "Button26")->click();
        }
        EXPECT_TRUE(DialIs(W(), C.Dial)) << C.Dial;
        EXPECT_EQ(Control<TImage32>(W(), "Dst")->LayerList()->Count(), 1);
        EXPECT_GE(NeedleInkAlong(*Control<TImage32>(W(), "Dst")->Bitmap(), 0),
                  10); // a new dial starts at 0
        Window.reset();
    }
}

TEST_F(ConsoleE2E, ReadingsMoveTheNeedleAndTheReadoutTogetherUntilStop) {
    Start({"--mode", "0", "--value", "30", "--rate", "20"});
    Window->show();
    Connect();
    Control<QPushButton>(W(), "btREAD")->click();
    PumpWait(300);
    EXPECT_DOUBLE_EQ(Control<TiSevenSegmentAnalog>(W(), "ssaValue")->Value(), 30.0);
    // Mode 0 turns the needle against the reading: 30 degrees clockwise.
    EXPECT_GE(NeedleInkAlong(*Control<TImage32>(W(), "Dst")->Bitmap(), -30), 10);
    EXPECT_EQ(NeedleInkAlong(*Control<TImage32>(W(), "Dst")->Bitmap(), 30), 0);
    Control<QPushButton>(W(), "btStop")->click();

    Control<QPushButton>(W(), "btClear")->click();
    EXPECT_DOUBLE_EQ(Control<TiSevenSegmentAnalog>(W(), "ssaValue")->Value(), 0.0);
    EXPECT_GE(NeedleInkAlong(*Control<TImage32>(W(), "Dst")->Bitmap(), 0), 10);
    EXPECT_EQ(Control<QLabel>(W(), "lCount")->text(), "1");
}
