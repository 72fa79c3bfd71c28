// SPDX-License-Identifier: GPL-3.0-or-later
// The console beyond its buttons, against the simulated sensor: recording,
// the menus and the connection light, command history, reconnecting and the
// bus scan.
#include "ConsoleFixture.h"

#include "ProgramSettings.h"

namespace {
// The console as its own program (a copy in Dir, so that its settings stay
// there), offscreen, connected to Sim, reading and recording into Csv.
void StartRecordingConsole(QProcess& P, const QTemporaryDir& Dir, const TSimProcess& Sim,
                           const std::string& Csv) {
    const QString Exe = Dir.path() + "/vorta-display";
    ASSERT_TRUE(QFile::copy(VORTA_DISPLAY_PATH, Exe));
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("QT_QPA_PLATFORM", "offscreen");
    P.setProcessEnvironment(Env);
    P.setWorkingDirectory(VORTA_SOURCE_DIR);
    P.start(Exe, {"--port", QString::fromStdString(Sim.Path()), "--connect", "--read", "--record",
                  QString::fromStdString(Csv)});
    ASSERT_TRUE(P.waitForStarted());
}
} // namespace

TEST(ConsoleProcessE2E, RecordingHoldsWhatPassedInOrderAndSurvivesAKill) {
    QTemporaryDir Dir;
    TSimProcess Sim({"--value", "12.5", "--rate", "20"});
    const std::string Csv = Dir.path().toStdString() + "/rec.csv";
    QProcess P;
    StartRecordingConsole(P, Dir, Sim, Csv);
    if (HasFatalFailure()) return;
    const auto Readings = [&] {
        const std::string T = ReadFile(Csv);
        size_t N = 0;
        for (size_t At = 0; (At = T.find(",reading,", At)) != std::string::npos; ++At)
            ++N;
        return N;
    };
    for (int i = 0; i < 1000 && Readings() < 10; ++i)
        QTest::qWait(10);
    ::kill(static_cast<pid_t>(P.processId()), SIGKILL);
    P.waitForFinished();

    // Every row is whole: the file ends with a line end, each row has the
    // eight columns.
    const std::string Text = ReadFile(Csv);
    ASSERT_GE(Text.size(), 2u);
    EXPECT_EQ(Text.substr(Text.size() - 2), CRLF);
    const auto Rows = CsvRows(Text);
    ASSERT_GE(Rows.size(), 11u);
    EXPECT_EQ(Rows[0], (std::vector<std::string>{"time", "elapsed_s", "kind", "value", "text",
                                                 "port", "mode", "id"}));
    const std::string Port = PortNameFromPath(Sim.Path());
    double Elapsed = 0;
    std::vector<std::string> Sent;
    for (size_t i = 1; i < Rows.size(); ++i) {
        const auto& R = Rows[i];
        ASSERT_EQ(R.size(), 8u) << i;
        EXPECT_EQ(R[0].size(), 29u) << R[0]; // 2024-01-31T09:05:07.123+01:00
        EXPECT_GE(std::stod(R[1]), Elapsed);
        Elapsed = std::stod(R[1]);
        if (R[2] == "sent") Sent.push_back(R[4]);
        if (R[2] == "reading") {
            EXPECT_EQ((std::vector<std::string>{R[3], R[4], R[5], R[6], R[7]}),
                      (std::vector<std::string>{"12.5", "12.50", Port, "0", "1"}));
        }
    }
    std::vector<std::string> Received;
    for (const auto& C : Sim.Commands())
        Received.push_back(C.Text);
    EXPECT_EQ(Sent, Received);
    const auto Others = NonReadings(Rows);
    ASSERT_EQ(Others.size(), 5u);
    EXPECT_EQ(
        std::vector<std::string>(Others.begin(), Others.begin() + 3),
        (std::vector<std::string>{"event:recording started", "event:connected", "sent:#INFO"}));
    EXPECT_EQ(Others[3].rfind("answer:V:4100,", 0), 0u) << Others[3];
    EXPECT_EQ(Others[4], "sent:#READ");
}

TEST(ConsoleProcessE2E, SigtermClosesAsCloseDoesKeepingSettingsAndTheRecordingsEnd) {
    QTemporaryDir Dir;
    TSimProcess Sim({"--value", "12.5", "--rate", "20"});
    const std::string Csv = Dir.path().toStdString() + "/rec.csv";
    QProcess P;
    StartRecordingConsole(P, Dir, Sim, Csv);
    if (HasFatalFailure()) return;
    for (int i = 0; i < 1000 && ReadFile(Csv).find(",reading,") == std::string::npos; ++i)
        QTest::qWait(10);
    ::kill(static_cast<pid_t>(P.processId()), SIGTERM);
    ASSERT_TRUE(P.waitForFinished(10000)) << "still running after SIGTERM";
    EXPECT_EQ(P.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(P.exitCode(), 0);

    const auto Others = NonReadings(CsvRows(ReadFile(Csv)));
    ASSERT_GE(Others.size(), 3u);
    EXPECT_EQ(
        std::vector<std::string>(Others.end() - 3, Others.end()),
        (std::vector<std::string>{"sent:#STOP", "event:disconnected", "event:recording stopped"}));
    // The sensor was told: it does not stream on to a port nobody reads.
    const auto Stopped = [&] {
        const auto C = Sim.Commands();
        return !C.empty() && C.back().Text == "#STOP";
    };
    for (int i = 0; i < 300 && !Stopped(); ++i)
        QTest::qWait(10);
    EXPECT_TRUE(Stopped());
    const std::string Ini = Dir.path().toStdString() + "/" + TProgramSettings::FileName;
    EXPECT_EQ(TProgramSettings(Ini).Value("Ports/Last").toString().toStdString(), Sim.Path());
}

TEST_F(ConsoleE2E, DisconnectConnectAndAHangUpAreLitAndRecorded) {
    Start();
    const std::string Csv = Folder.path().toStdString() + "/rec.csv";
    EXPECT_EQ(Control<QLabel>(W(), "ConnectionLight")->text(), "Not connected");
    W().StartRecording(Csv);
    Connect();
    const QString Name = QString::fromStdString(PortNameFromPath(Sim->Path()));
    EXPECT_EQ(Control<QLabel>(W(), "ConnectionLight")->text(),
              Name + QString::fromUtf8(" · 9600 8N1"));

    Control<QAction>(W(), "actDisconnect")->trigger();
    EXPECT_EQ(Internals::Connected(W()), 0);
    EXPECT_FALSE(Internals::VaComm1(W())->Active());
    EXPECT_EQ(Panel(0), "Close Com");
    EXPECT_EQ(Control<QLabel>(W(), "ConnectionLight")->text(), "Not connected");
    Connect();
    EXPECT_EQ(Commands(), (std::vector<std::string>{"#INFO", "#INFO"}));

    Sim.reset(); // unplugged
    ASSERT_TRUE(PumpUntilTrue([this] { return Internals::Connected(W()) == 0; }));
    EXPECT_EQ(Control<QLabel>(W(), "ConnectionLight")->text(), "Lost");
    Control<QAction>(W(), "actDisconnect")->trigger(); // nobody waits for it any more
    EXPECT_EQ(Internals::Session(W()).Connection().State, TConnectionState::Closed);
    EXPECT_EQ(Control<QLabel>(W(), "ConnectionLight")->text(), "Not connected");
    EXPECT_EQ(Control<QLabel>(W(), "RecordingLight")->text(),
              QString::fromUtf8("● REC %1").arg(W().Recorder().Rows()));
    std::vector<std::string> Events;
    for (const std::string& R : NonReadings(CsvRows(ReadFile(Csv))))
        if (R.rfind("event:", 0) == 0) Events.push_back(R);
    EXPECT_EQ(Events,
              (std::vector<std::string>{"event:recording started", "event:connected",
                                        "event:disconnected", "event:connected", "event:lost"}));

    // A recording whose file went away stops with the reason; the window goes on.
    ASSERT_EQ(std::remove(Csv.c_str()), 0);
    W().RecordEvent("after removal");
    EXPECT_FALSE(W().Recorder().Active());
    EXPECT_TRUE(Control<QLabel>(W(), "RecordingLight")->isHidden());
    EXPECT_EQ(Panel(0).rfind(
                  "Recording stopped. Cannot write \"" + Csv + "\": the file was removed - ", 0),
              0u)
        << Panel(0);
    EXPECT_NE(ReadFile(Folder.path().toStdString() + "/LogFile.Log").find("Recording stopped."),
              std::string::npos);
}

TEST_F(ConsoleE2E, EnterSendsAndUpDownWalkTheHistoryKeptAcrossRuns) {
    Start();
    Connect();
    Control<QLineEdit>(W(), "ed360Send2")->setText("#SAVE");
    QTest::keyClick(Control<QLineEdit>(W(), "ed360Send2"), Qt::Key_Return);
    Control<QLineEdit>(W(), "ed360Send3")->setText("#DATA");
    QTest::keyClick(Control<QLineEdit>(W(), "ed360Send3"), Qt::Key_Enter);
    Control<QLineEdit>(W(), "ed360Send1")
        ->setText("#SAVE"); // sent again: moves to the newest place
    Control<QPushButton>(W(), "bt360Send1")->click();
    Settle();
    EXPECT_EQ(Commands(), (std::vector<std::string>{"#INFO", "#SAVE", "#DATA", "#SAVE"}));
    EXPECT_EQ(W().CommandHistory(), QStringList({"#DATA", "#SAVE"}));

    QLineEdit* E = Control<QLineEdit>(W(), "ed360Send2");
    E->setText("draft");
    std::vector<std::string> Walk;
    for (Qt::Key K :
         {Qt::Key_Up, Qt::Key_Up, Qt::Key_Up, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down}) {
        QTest::keyClick(E, K);
        Walk.push_back(E->text().toStdString());
    }
    EXPECT_EQ(Walk,
              (std::vector<std::string>{"#SAVE", "#DATA", "#DATA", "#SAVE", "draft", "draft"}));

    Control<QAction>(W(), "actAutoReconnect")->trigger();
    // Gone without Close, as a killed program: what it keeps is written already.
    Window.reset(); // the port is free again
    Window = std::make_unique<TFKAVRO>();
    EXPECT_EQ(W().CommandHistory(), QStringList({"#DATA", "#SAVE"}));
    EXPECT_TRUE(W().AutoReconnect());
    // The port used last is offered although the system does not list it
    // (once the list is filled, after start-up).
    EXPECT_TRUE(PumpUntilTrue([this] {
        return Control<QComboBox>(W(), "ePortNo")->findText(QString::fromStdString(Sim->Path())) >=
               0;
    }));
    Control<QLineEdit>(W(), "ed360Send3")->clear();
    QTest::keyClick(Control<QLineEdit>(W(), "ed360Send3"), Qt::Key_Up);
    EXPECT_EQ(Control<QLineEdit>(W(), "ed360Send3")->text(), "#SAVE");
}

TEST_F(ConsoleE2E, AutoReconnectReopensTheSensorThatCameBackAndResumesTheStream) {
    const std::string Link = Folder.path().toStdString() + "/vorta0";
    Start({"--link", Link, "--value", "3"});
    Control<QComboBox>(W(), "ePortNo")->setEditText(QString::fromStdString(Link));
    W().SetAutoReconnect(true);
    Connect();
    Control<QPushButton>(W(), "btREAD")->click();
    ASSERT_TRUE(W().StreamRunning());
    Sim.reset(); // unplugged
    ASSERT_TRUE(PumpUntilTrue([this] { return Internals::Connected(W()) == 0; }));
    PumpWait(1500); // the watch sees it gone
    Sim = std::make_unique<TSimProcess>(std::vector<std::string>{"--link", Link, "--value", "4"});
    for (int i = 0; i < 80 && LastAnswer != "4.00"; ++i)
        PumpWait(100);
    EXPECT_EQ(Internals::Connected(W()), 1);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"#INFO", "#READ"}));
    EXPECT_EQ(LastAnswer, "4.00");
    EXPECT_EQ(Control<QComboBox>(W(), "ePortNo")->currentText().toStdString(), Link);
    EXPECT_TRUE(Messages.empty());
}

TEST_F(ConsoleE2E, ScanFindsTheSensorsOnTheLineAndTheChosenIdGoesToAngleData) {
    Start({"--bus", "1,5,12", "--value", "2"});
    Connect();
    const std::string Csv = Folder.filePath("scan.csv").toStdString();
    W().StartRecording(Csv);
    Internals::ScanWait(W()) = 60;
    std::vector<std::pair<int, double>> Seen;
    Internals::ChooseScannedSensor(W()) = [&](const std::vector<std::pair<int, double>>& Found) {
        Seen = Found;
        return TScanChoice{12};
    };
    const size_t Before = Sim->Bytes().size();
    W().ScanForSensors();
    EXPECT_EQ(Seen, (std::vector<std::pair<int, double>>{{1, 2.0}, {5, 2.0}, {12, 2.0}}));
    // The answers are the scanned sensors' readings, recorded with their IDs;
    // the readout stays the connected sensor's.
    W().StopRecording();
    std::vector<std::string> Recorded;
    for (const auto& Row : CsvRows(ReadFile(Csv)))
        if (Row[2] == "reading") Recorded.push_back(Row[3] + " id " + Row[7] + " mode " + Row[6]);
    EXPECT_EQ(Recorded,
              (std::vector<std::string>{"2 id 1 mode ", "2 id 5 mode ", "2 id 12 mode "}));
    EXPECT_EQ(Control<TiSevenSegmentAnalog>(W(), "ssaValue")->Value(), 0);
    EXPECT_FALSE(Internals::Session(W()).HaveReading());
    EXPECT_EQ(Control<QLineEdit>(W(), "Edit1")->text(), "12");
    std::string Requests;
    for (int Id = 1; Id <= 77; ++Id)
        Requests += AngleDataRequest(Id);
    EXPECT_EQ(Sim->Bytes().substr(Before), Requests);

    // Cancel in the progress dialog ends the scan; nothing is chosen.
    QTimer::singleShot(300, [this] {
        if (auto* P = W().findChild<QProgressDialog*>()) P->cancel();
    });
    Internals::ChooseScannedSensor(W()) = [&](const std::vector<std::pair<int, double>>& Found) {
        Seen = Found;
        return TScanChoice{};
    };
    const size_t Second = Sim->Bytes().size();
    W().ScanForSensors();
    EXPECT_LT(Sim->Bytes().size() - Second, Requests.size());
    EXPECT_LT(Seen.size(), 3u);
    EXPECT_EQ(Control<QLineEdit>(W(), "Edit1")->text(), "12");
}
