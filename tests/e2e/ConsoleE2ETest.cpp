// The console's window against the simulated sensor: every command, the
// answers, the gauge, and the port's troubles.
#include "ConsoleFixture.h"

TEST_F(ConsoleE2E, ConnectOpensAndReadsInformation) {
    Start({"--id", "1", "--mode", "0"});
    int Opens = 0;
    auto Chained = W().VaComm1->OnOpen;
    W().VaComm1->OnOpen = [&](TVaObject* S) {
        ++Opens;
        Chained(S);
    };
    Connect();
    EXPECT_EQ(Opens, 1);
    EXPECT_TRUE(Messages.empty());
    EXPECT_EQ(Commands(), std::vector<std::string>{"#INFO"});
    EXPECT_EQ(Panel(0), "Try Connect 1[sec]");
    EXPECT_EQ(Panel(1), "#INFO\r\n");
    EXPECT_EQ(W().lbeVersion->text(), "4100");
    EXPECT_EQ(W().lbeID->text(), "1");
    EXPECT_EQ(W().lbeMode->text(), "0");
    EXPECT_EQ(W().lbeNRange->text(), "900");
    EXPECT_EQ(W().lbePRange->text(), "900");
    EXPECT_EQ(W().lbeCal[11]->text(), "12");
    // Set by Connect, then cleared again by the Information command's start.
    EXPECT_FALSE(StopFlag);

    // Connecting again only repeats Information.
    W().Button3->click();
    EXPECT_EQ(Opens, 1);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"#INFO", "#INFO"}));
    EXPECT_EQ(MemoLines().size(), 2u);
}

TEST_F(ConsoleE2E, EveryButtonSendsItsBytes) {
    Start({"--value", "12.5"});
    Connect();
    W().eCount->setText("1");
    W().eInterval->setText("200");
    W().eID->setText("5");
    W().Edit1->setText("5");
    W().leRangeN->setText("450");
    W().leRangeP->setText("1800");
    W().ed360Send1->setText("#INFO");
    W().ed360Send2->setText("");
    W().ed360Send3->setText("ABC");

    const struct {
        QPushButton* Button;
        std::string Sent;   // exact bytes
        std::string Panel1; // after the command
    } Cases[] = {
        {W().btn25, "#SAVE\r\n", "#SAVE\r\n"},
        {W().btREAD, "#READ\r\n", "#READ\r\n"},
        {W().btStop, "#STOP\r\n", "#STOP\r\n"},
        {W().btDATA, "#DATA\r\n", "#DATA\r\n"},
        {W().btIDchange, "#ID5\r\n#INFO\r\n", "#INFO\r\n"},
        {W().btB105, "\xB5\x05", "B5 05 - HEX"},
        {W().Button21, "#MODE0\r\n#INFO\r\n", "#INFO\r\n"},
        {W().Button22, "#MODE1\r\n#INFO\r\n", "#INFO\r\n"},
        {W().Button23, "#MODE2\r\n#INFO\r\n", "#INFO\r\n"},
        {W().Button24, "#MODE3\r\n#INFO\r\n", "#INFO\r\n"},
        {W().Button25, "#CALI14450\r\n#INFO\r\n", "#INFO\r\n"},
        {W().Button26, "#CALI151800\r\n#INFO\r\n", "#INFO\r\n"},
        {W().bt360Send1, "#INFO\r\n", "#INFO\r\n"},
        {W().bt360Send2, "\r\n", "\r\n"},
        {W().bt360Send3, "ABC\r\n", "ABC\r\n"},
        {W().btClear, "", "ABC\r\n"},
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
    EXPECT_EQ(W().lbeID->text(), "5");
    EXPECT_EQ(W().lbeMode->text(), "3");
    EXPECT_EQ(W().lbeNRange->text(), "450");
    EXPECT_EQ(W().lbePRange->text(), "1800");
    // Clear emptied the memo, the readout and the counter.
    EXPECT_EQ(W().Memo1->Text(), "");
    EXPECT_EQ(W().ssaValue->Value(), 0);
    EXPECT_EQ(W().lCount->text(), "1");
}

TEST_F(ConsoleE2E, SilentSensorGetsSixInformationRequestsThenTheMessage) {
    Start({"--silent"});
    W().Button3->click();
    EXPECT_EQ(W().Connected, 1);
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
    EXPECT_EQ(W().lbeID->text(), "-176");
    EXPECT_EQ(W().lbeVersion->text(), "");
}

TEST_F(ConsoleE2E, CommandsWhileDisconnectedSendNothing) {
    Start();
    W().eCount->setText("3");
    W().btn10->click();
    W().btDATA->click();
    EXPECT_FALSE(StopFlag);
    EXPECT_EQ(W().lCount->text(), "1");
    W().btIDchange->click();
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
    W().eCount->setText("0");
    W().lCount->setText("7");
    W().btDATA->click();
    W().btB105->click();
    Settle();
    EXPECT_EQ(Sim->Bytes().size(), Before);
    EXPECT_EQ(W().lCount->text(), "1");
    EXPECT_TRUE(StopFlag);
}

TEST_F(ConsoleE2E, StopDuringPollingEndsItAfterTheCurrentWait) {
    Start({"--value", "1.5"});
    Connect();
    W().eCount->setText("10");
    W().eInterval->setText("200");
    QTimer::singleShot(700, W().btStop, [this] { W().btStop->click(); });
    W().btDATA->click();
    EXPECT_TRUE(StopFlag);
    Settle(300);
    const auto C = Commands();
    const auto FirstStop = std::find(C.begin(), C.end(), "#STOP");
    ASSERT_NE(FirstStop, C.end());
    const auto Data = std::count(C.begin(), C.end(), "#DATA");
    EXPECT_GE(Data, 1);
    EXPECT_LT(Data, 10);
    EXPECT_EQ(std::count(FirstStop, C.end(), "#DATA"), 0);
    EXPECT_EQ(W().lCount->text().toInt(), Data);
    EXPECT_EQ(MemoLines().back(), "1.50");
}

TEST_F(ConsoleE2E, IdChangeChecksTheIdAndSendsItInDecimal) {
    Start();
    Connect();
    const size_t Before = Sim->Bytes().size();
    W().eID->setText("78");
    W().btIDchange->click();
    EXPECT_EQ(Messages, std::vector<std::string>{"\"MAX ID = 77!!!. Please Insert again.\""});
    EXPECT_TRUE(Questions.empty());
    Answer = false;
    W().eID->setText("77");
    W().btIDchange->click();
    Settle();
    EXPECT_EQ(Sim->Bytes().size(), Before);
    Answer = true;
    W().btIDchange->click();
    EXPECT_EQ(W().lbeID->text(), "77");
    W().eID->setText("007");
    W().btIDchange->click();
    EXPECT_EQ(W().lbeID->text(), "7");
    EXPECT_EQ(Questions,
              (std::vector<std::string>{"Do you want ID Change(77)?", "Do you want ID Change(77)?",
                                        "Do you want ID Change(007)?"}));
    EXPECT_EQ(Sim->Bytes().substr(Before), "#ID77\r\n#INFO\r\n#ID7\r\n#INFO\r\n");
}

TEST_F(ConsoleE2E, AngleDataForAnotherIdSendsTwiceAndGivesUp) {
    Start({"--id", "1"});
    Connect();
    const size_t Before = Sim->Bytes().size();
    W().eCount->setText("1");
    W().eInterval->setText("200");
    W().Edit1->setText("80");
    W().btB105->click();
    WaitForBytes(Before + 4);
    EXPECT_EQ(Sim->Bytes().substr(Before), std::string("\x00\x05\x00\x05", 4));
    EXPECT_EQ(Panel(1), "0 05 - HEX");
    EXPECT_EQ(Panel(0), "No answer");
}

TEST_F(ConsoleE2E, AngleDataReadsTheValue) {
    Start({"--id", "1", "--value", "-3.25", "--mode", "2"});
    Connect();
    W().eCount->setText("2");
    W().eInterval->setText("200");
    W().Edit1->setText("1");
    const size_t Before = Sim->Bytes().size();
    W().btB105->click();
    EXPECT_EQ(Sim->Bytes().substr(Before), "\xB1\x05\xB1\x05");
    EXPECT_EQ(Panel(1), "B1 05 - HEX");
    EXPECT_EQ(Panel(0), "Try Connect 1[sec]");
    EXPECT_EQ(W().lCount->text(), "2");
    EXPECT_EQ(LastAnswer, "-3.25");
    EXPECT_EQ(W().ssaValue->Value(), -3.25);
}

TEST_F(ConsoleE2E, PlusRangeFullCircleIsSentAsZeroAndReadBackAs3600) {
    Start({"--mode", "1"});
    Connect();
    const size_t Before = Sim->Bytes().size();
    W().leRangeP->setText("3600");
    W().Button26->click();
    EXPECT_EQ(Sim->Bytes().substr(Before), "#CALI150\r\n#INFO\r\n");
    EXPECT_EQ(W().lbePRange->text(), "3600");
}

TEST_F(ConsoleE2E, SplitDeliveryStillFillsFieldsAndReadings) {
    Start({"--split", "2", "--value", "12.5", "--id", "3", "--mode", "2"});
    Connect();
    EXPECT_EQ(W().lbeVersion->text(), "4100");
    EXPECT_EQ(W().lbeID->text(), "3");
    EXPECT_EQ(W().lbeMode->text(), "2");
    EXPECT_EQ(W().lbeCal[10]->text(), "11");
    EXPECT_EQ(W().lbeCal[11]->text(), "12");
    W().eCount->setText("3");
    W().eInterval->setText("200");
    W().btDATA->click();
    const auto Lines = MemoLines();
    ASSERT_GE(Lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(Lines.end() - 3, Lines.end()),
              (std::vector<std::string>{"12.50", "12.50", "12.50"}));
    EXPECT_EQ(Commands(), (std::vector<std::string>{"#INFO", "#DATA", "#DATA", "#DATA"}));
    EXPECT_EQ(W().ssaValue->Value(), 12.5);
}

TEST_F(ConsoleE2E, StreamingFramesReachTheMemoUntilStop) {
    Start({"--value", "7.25", "--rate", "20"});
    Connect();
    W().btREAD->click();
    PumpWait(300);
    W().btStop->click();
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
    W().ePortNo->setEditText(QString::fromStdString(Sim->Path().substr(5)));
    Connect();
    EXPECT_EQ(W().lbeVersion->text(), "4100");
    EXPECT_FALSE(W().CanOpenPort(Sim->Path().substr(5)));

    // COM with no number fails before anything is opened.
    TFKAVRO Other;
    Other.ePortNo->setEditText("COMx");
    Other.Button3->click();
    EXPECT_EQ(Other.Connected, 0);
    EXPECT_EQ(Other.StatusBar1->PanelText(0).toStdString().rfind(
                  "'x' is not a valid integer value - ", 0),
              0u)
        << Other.StatusBar1->PanelText(0).toStdString();
    // A port held by this window cannot be opened by another.
    Other.ePortNo->setEditText(QString::fromStdString(Sim->Path()));
    Other.Button3->click();
    EXPECT_EQ(Other.Connected, 0);
    EXPECT_NE(Other.StatusBar1->PanelText(0).toStdString().find(Sim->Path()), std::string::npos)
        << Other.StatusBar1->PanelText(0).toStdString();
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
    W().VaComm1->OnError(W().VaComm1.get(), 0x0001 | 0x0004);
    EXPECT_EQ(Panel(0), "The hardware detected a parity error.");
    W().VaComm1->OnError(W().VaComm1.get(), 0x0400);
    EXPECT_EQ(Panel(0), "An I/O error occurred during communications with the device.");
    W().VaComm1->OnError(W().VaComm1.get(), 0x0020);
    EXPECT_EQ(Panel(0), "An I/O error occurred during communications with the device.");
}

TEST_F(ConsoleE2E, ClosingDuringAWaitEndsTheCommand) {
    Start({"--silent"});
    W().show();
    QTimer::singleShot(900, &W(), [this] { W().close(); });
    W().Button3->click();
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
    EXPECT_EQ(W().Connected, 0);
    EXPECT_FALSE(W().VaComm1->Active());
    W().btn25->click();
    W().eCount->setText("1");
    W().eInterval->setText("50");
    W().btDATA->click();
    EXPECT_EQ(Messages, (std::vector<std::string>{"Open Com port.", "Open Com port."}));
}

TEST_F(ConsoleE2E, ConnectReopensTheSensorThatCameBackUnderItsName) {
    const std::string Link = Folder.path().toStdString() + "/vorta0";
    Start({"--link", Link, "--id", "1"});
    W().ePortNo->setEditText(QString::fromStdString(Link));
    Connect();
    Sim.reset(); // unplugged
    ASSERT_TRUE(PumpUntilTrue([this] { return W().Connected == 0; }));
    EXPECT_EQ(Panel(0), "An I/O error occurred during communications with the device.");
    Sim = std::make_unique<TSimProcess>(std::vector<std::string>{"--link", Link, "--id", "4"});
    Connect();
    EXPECT_EQ(W().lbeID->text(), "4");
    EXPECT_EQ(Commands(), std::vector<std::string>{"#INFO"});
    EXPECT_TRUE(Messages.empty());
}

TEST_F(ConsoleE2E, ConnectWithTheBoxChangedTalksToTheOtherSensor) {
    Start({"--id", "1"});
    Connect();
    TSimProcess Other({"--id", "2"});
    std::vector<std::string> Panel0;
    auto Chained = W().VaComm1->OnClose;
    W().VaComm1->OnClose = [&](TVaObject* S) {
        Chained(S);
        Panel0.push_back(Panel(0));
    };
    W().ePortNo->setEditText(QString::fromStdString(Other.Path()));
    Connect();
    EXPECT_EQ(Panel0, std::vector<std::string>{"Close Com"});
    EXPECT_EQ(W().lbeID->text(), "2");
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
    EXPECT_EQ(W().lbeVersion->text(), "4100");
    EXPECT_EQ(W().lbeID->text(), "3");
    EXPECT_EQ(W().lbeMode->text(), "2");
    EXPECT_EQ(W().lbePRange->text(), "900");
    // The readings went on as usual meanwhile.
    PumpWait(200);
    EXPECT_EQ(LastAnswer, "12.50");
    EXPECT_EQ(W().ssaValue->Value(), 12.5);
}

TEST_F(ConsoleE2E, OnlyAClickOnTheFreePanelBackgroundSendsTheFirstFreeCommand) {
    Start();
    W().show();
    Connect();
    W().ed360Send1->setText("#SAVE");
    const size_t Before = Sim->Bytes().size();
    const QPoint GroupFree(5, 190);
    ASSERT_EQ(W().GroupBox1->childAt(GroupFree), nullptr);
    QTest::mouseClick(W().Label2, Qt::LeftButton);
    QTest::mouseClick(W().lbeVersion->EditLabel, Qt::LeftButton);
    QTest::mouseClick(W().GroupBox1, Qt::LeftButton, {}, GroupFree);
    QTest::mouseClick(W().Dst, Qt::LeftButton);
    QTest::mouseClick(W().Label8, Qt::LeftButton);
    Settle(300);
    EXPECT_EQ(Sim->Bytes().size(), Before);
    const QPoint PanelFree(100, 255);
    ASSERT_EQ(W().Panel1->childAt(PanelFree), nullptr);
    QTest::mouseClick(W().Panel1, Qt::LeftButton, {}, PanelFree);
    WaitForBytes(Before + 7);
    EXPECT_EQ(Sim->Bytes().substr(Before), "#SAVE\r\n");
}

TEST_F(ConsoleE2E, MemoShowsLeadingEmptyLinesAndKeepsItsCharacterBound) {
    Window = std::make_unique<TFKAVRO>();
    W().FReceiver->Receive("\r\rA\r\r");
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"", "", "A", ""}));
    W().btClearClick();
    W().FReceiver->Receive("\r");
    EXPECT_EQ(MemoLines(), std::vector<std::string>{""});
    EXPECT_EQ(W().Memo1->LineCount(), 1);
    W().FReceiver->Receive("B\r");
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"", "B"}));

    // Over the bound the oldest lines go; the newest stays even when longer.
    W().btClearClick();
    W().Memo1->SetMaxChars(20);
    W().FReceiver->Receive("1234\r5678\r9abc\rdefg\r");
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"1234", "5678", "9abc", "defg"}));
    W().FReceiver->Receive("h\r");
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"5678", "9abc", "defg", "h"}));
    W().FReceiver->Receive(std::string(30, 'x') + "\r");
    EXPECT_EQ(MemoLines(), std::vector<std::string>{std::string(30, 'x')});
    W().FReceiver->Receive("\r");
    EXPECT_EQ(MemoLines(), std::vector<std::string>{""});
    W().FReceiver->Receive("\r");
    EXPECT_EQ(MemoLines(), (std::vector<std::string>{"", ""}));
}

// ---- the gauge driven by the sensor

namespace {

// Whether the window's dial is the picture File (compared pixel for pixel).
bool DialIs(TFKAVRO& W, const char* File) {
    TBitmap32 Expected;
    LoadPictureFile(Expected, File);
    const TBitmap32* Shown = W.ivBGR->Bitmap();
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
            W().leRangeP->setText("3600");
            W().Button26->click();
        }
        EXPECT_TRUE(DialIs(W(), C.Dial)) << C.Dial;
        EXPECT_EQ(W().Dst->LayerList()->Count(), 1);
        EXPECT_GE(NeedleInkAlong(*W().Dst->Bitmap(), 0), 10); // a new dial starts at 0
        Window.reset();
    }
}

TEST_F(ConsoleE2E, ReadingsMoveTheNeedleAndTheReadoutTogetherUntilStop) {
    Start({"--mode", "0", "--value", "30", "--rate", "20"});
    Window->show();
    Connect();
    W().btREAD->click();
    PumpWait(300);
    EXPECT_DOUBLE_EQ(W().ssaValue->Value(), 30.0);
    // Mode 0 turns the needle against the reading: 30 degrees clockwise.
    EXPECT_GE(NeedleInkAlong(*W().Dst->Bitmap(), -30), 10);
    EXPECT_EQ(NeedleInkAlong(*W().Dst->Bitmap(), 30), 0);
    W().btStop->click();

    W().btClear->click();
    EXPECT_DOUBLE_EQ(W().ssaValue->Value(), 0.0);
    EXPECT_GE(NeedleInkAlong(*W().Dst->Bitmap(), 0), 10);
    EXPECT_EQ(W().lCount->text(), "1");
}
