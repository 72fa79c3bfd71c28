// SPDX-License-Identifier: GPL-3.0-or-later
// Watching every sensor of a shared line from the console, against the
// simulated line of three sensors.
#include "CliRun.h"
#include "ConsoleFixture.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSpinBox>

#include <map>
#include <set>

TEST(WatchDialog, RefusesAnIntervalTheLineCannotCarryAndSaysWhy) {
    TScanResultDialog D(nullptr, {{1, 2.0}, {5, 12.0}, {12, 22.0}});
    for (const int Ms : {43, 44}) {
        Control<QSpinBox>(D, "seWatchInterval")->setValue(Ms);
        Control<QPushButton>(D, "btWatch")->click();
        EXPECT_EQ(D.result() == QDialog::Accepted, Ms == 44) << Ms;
    }
    EXPECT_TRUE(D.Choice().Watch);
    EXPECT_EQ(WatchIntervalProblem(43, 3).toStdString(),
              "An interval of 43 ms is too short for 3 sensors: a round of them takes 44 ms on "
              "the line. Set 44 ms or more.");
    EXPECT_TRUE(WatchIntervalProblem(44, 3).isEmpty());
}

TEST_F(ConsoleE2E, WatchPollsTheFoundSensorsUntilStoppedAndShowsOnlyTheChosenOne) {
    // Sensor 5 misses its 2nd to 4th requests (the watch's first three).
    Start({"--bus", "1,5,12", "--value", "2", "--spread", "10", "--gap", "5:2:4"});
    Connect();
    const std::string Csv = Folder.filePath("watch.csv").toStdString();
    W().StartRecording(Csv);
    Internals::ScanWait(W()) = 60;
    Internals::ChooseScannedSensor(W()) = [](const auto&) { return TScanChoice{5, true, 50}; };
    const TPlotFeed& Feed = Internals::FPlotFeed(W());
    auto* Readout = Control<TiSevenSegmentAnalog>(W(), "ssaValue");
    std::set<double> Shown;
    std::set<TColor> StaleColors; // the readout's while sensor 5 is stale
    std::vector<std::string> Status;
    const size_t Before = Sim->Bytes().size();
    // The watch runs inside ScanForSensors; this looks on from its waits,
    // and once clicks #READ, which must not reach the shared line.
    QDeadlineTimer Deadline(8000);
    QTimer Look;
    QObject::connect(&Look, &QTimer::timeout, [&] {
        Shown.insert(Readout->Value());
        const std::string Now = Panel(0);
        if (Now == "sensor 5: no answer") StaleColors.insert(Readout->SegmentColor());
        if (Status.empty() ? Now.rfind("Watching", 0) == 0 : Status.back() != Now) {
            if (Status.empty()) Control<QPushButton>(W(), "btREAD")->click();
            Status.push_back(Now);
        }
        bool Enough = Feed.Series().size() == 3 && Now == "sensor 5: answers again";
        for (const auto& S : Feed.Series())
            Enough = Enough && S->Model.Count() >= 3;
        if (Enough || Deadline.hasExpired()) Control<QAction>(W(), "actStopWatching")->trigger();
    });
    Look.start(10);
    W().ScanForSensors();
    Look.stop();
    ASSERT_FALSE(Deadline.hasExpired());

    EXPECT_EQ(Status, (std::vector<std::string>{"Watching sensors 1,5,12 every 50 ms",
                                                "sensor 5: no answer", "sensor 5: answers again"}));
    // The readout showed sensor 5 only (0 before its first reading).
    EXPECT_EQ(Shown, (std::set<double>{0, 12}));
    EXPECT_EQ(Readout->Value(), 12);
    EXPECT_TRUE(StaleColors.count(TGaugePart::StaleColor));
    EXPECT_EQ(Readout->SegmentColor(), TGaugePart::ReadoutColor) << "back with its reading";
    // Each watched value in the log names its sensor.
    std::set<std::string> Logged;
    for (const std::string& L : MemoLines())
        if (L.rfind("ID ", 0) == 0) Logged.insert(L);
    EXPECT_EQ(Logged, (std::set<std::string>{"ID 1: 2.00", "ID 5: 12.00", "ID 12: 22.00"}));
    // One series a sensor, shown together, the chosen one current.
    std::map<int, std::set<float>> Plotted;
    for (const auto& S : Feed.Series()) {
        EXPECT_EQ(S->Port, Internals::Session(W()).Connection().Opened);
        for (size_t i = 0; i < S->Model.Count(); ++i)
            Plotted[S->Id].insert(S->Model.At(i).Value);
    }
    EXPECT_EQ(Plotted, (std::map<int, std::set<float>>{{1, {2}}, {5, {12}}, {12, {22}}}));
    EXPECT_EQ(Feed.Group().size(), 3u);
    EXPECT_EQ(Feed.Current()->Id, 5);

    // Every sensor's readings recorded with its ID; the watch's events once.
    W().StopRecording();
    std::map<std::string, std::set<std::string>> Recorded;
    std::vector<std::string> Events;
    std::set<bool> Asked; // whether each request row names the sensor it asks
    for (const auto& Row : CsvRows(ReadFile(Csv))) {
        if (Row[2] == "reading") Recorded[Row[7]].insert(Row[3]);
        if (Row[2] == "event") Events.push_back(Row[4]);
        if (Row[4].rfind("sensor 5:", 0) == 0) {
            EXPECT_EQ(Row[7], "5") << Row[4];
        }
        // Each Angle Data request names the sensor it asks ("B5 05 - HEX").
        if (Row[2] == "sent" && Row[4].size() == 11 && Row[4].compare(2, 9, " 05 - HEX") == 0)
            Asked.insert(std::stoi(Row[4].substr(0, 2), nullptr, 16) - 176 == std::stoi(Row[7]));
    }
    EXPECT_EQ(Asked, std::set<bool>{true});
    EXPECT_EQ(Recorded, (std::map<std::string, std::set<std::string>>{
                            {"1", {"2"}}, {"5", {"12"}}, {"12", {"22"}}}));
    EXPECT_EQ(Events, (std::vector<std::string>{"recording started", "watching 1,5,12 every 50 ms",
                                                "sensor 5: no answer", "sensor 5: answers again",
                                                "watching stopped", "recording stopped"}));

    // Only the three IDs' requests went out; once stopped, nothing more: a
    // command after it finds the line quiet.
    std::string Polls = Sim->Bytes().substr(Before + 77 * 2);
    for (const int Id : {1, 5, 12})
        for (size_t At; (At = Polls.find(AngleDataRequest(Id))) != std::string::npos;)
            Polls.erase(At, 2);
    EXPECT_EQ(Polls, "");
    EXPECT_FALSE(Control<QAction>(W(), "actStopWatching")->isEnabled());
    const size_t Stopped = Sim->Bytes().size();
    Control<QPushButton>(W(), "btn10")->click();
    WaitForBytes(Stopped + 7);
    EXPECT_EQ(Sim->Bytes().substr(Stopped), "#INFO" + CRLF);
    EXPECT_EQ(Messages, std::vector<std::string>{StopWatchingFirst});
}

// Sensor 50 shares the line and streams, asked by nobody: its frames are
// counted, never printed as a polled sensor's. Information then makes it
// the port's sensor, and its readings carry its ID and mode.
TEST(CliE2E, PollOfASharedLinePrintsOnlyTheAskedSensorsEachWithItsOwnId) {
    TSimProcess Sim({"--bus", "50,1,2", "--stream", "--rate", "50", "--value", "2.5"});
    const QString Port = QString::fromStdString(Sim.Path());
    TRun R = Cli({"--port", Port, "poll", "--ids", "1,2", "--count", "10", "--interval", "50",
                  "--wait", "400"});
    EXPECT_EQ(R.Status, 0) << R.Err;
    std::string Polled;
    for (int Round = 0; Round < 10; ++Round)
        Polled += "1\t2.5\n2\t2.5\n";
    EXPECT_EQ(R.Out, Polled);
    EXPECT_EQ(R.Err.substr(0, 25), "frames of other sensors: ") << R.Err;

    R = Cli({"--port", Port, "read", "--json"});
    EXPECT_EQ(R.Status, 0) << R.Err;
    const QJsonObject J = QJsonDocument::fromJson(QByteArray::fromStdString(R.Out)).object();
    EXPECT_EQ(J["id"], 50) << R.Out;
    EXPECT_EQ(J["mode"], 0) << R.Out;
}
