// SPDX-License-Identifier: GPL-3.0-or-later
// Watching every sensor of a shared line from the console, against the
// simulated line of three sensors.
#include "ConsoleFixture.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QLabel>
#include <QSpinBox>

#include <map>
#include <set>

TEST(WatchDialog, RefusesAnIntervalTheLineCannotCarryAndSaysWhy) {
    const std::vector<std::pair<int, double>> Found = {{1, 2.0}, {5, 12.0}, {12, 22.0}};
    const struct {
        int Ms;
        bool Accepted;
        const char* Problem;
    } Cases[] = {
        {43, false,
         "An interval of 43 ms is too short for 3 sensors: a round of them takes 44 ms on the "
         "line. Set 44 ms or more."},
        {44, true, ""},
    };
    for (const auto& C : Cases) {
        TScanResultDialog D(nullptr, Found);
        Control<QSpinBox>(D, "seWatchInterval")->setValue(C.Ms);
        Control<QPushButton>(D, "btWatch")->click();
        EXPECT_EQ(D.result() == QDialog::Accepted, C.Accepted) << C.Ms;
        EXPECT_EQ(WatchIntervalProblem(C.Ms, Found.size()).toStdString(), C.Problem);
        if (C.Accepted) {
            EXPECT_TRUE(D.Choice().Watch);
            EXPECT_EQ(D.Choice().Id, 1);
        }
    }
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
    std::vector<std::string> Status;
    const size_t Before = Sim->Bytes().size();
    // The watch runs inside ScanForSensors; this looks on from its waits.
    QDeadlineTimer Deadline(8000);
    QTimer Look;
    QObject::connect(&Look, &QTimer::timeout, [&] {
        Shown.insert(Readout->Value());
        const std::string Now = Panel(0);
        if (Status.empty() ? Now.rfind("Watching", 0) == 0 : Status.back() != Now)
            Status.push_back(Now);
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
    for (const auto& Row : CsvRows(ReadFile(Csv))) {
        if (Row[2] == "reading") Recorded[Row[7]].insert(Row[3]);
        if (Row[2] == "event") Events.push_back(Row[4]);
    }
    EXPECT_EQ(Recorded, (std::map<std::string, std::set<std::string>>{
                            {"1", {"2"}}, {"5", {"12"}}, {"12", {"22"}}}));
    EXPECT_EQ(Events, (std::vector<std::string>{"recording started", "watching 1,5,12 every 50 ms",
                                                "sensor 5: no answer", "sensor 5: answers again",
                                                "watching stopped", "recording stopped"}));

    // Only the three IDs' requests went out, in turn; and once stopped,
    // nothing more: a command after it finds the line quiet.
    std::string Round;
    for (const int Id : {1, 5, 12})
        Round += AngleDataRequest(Id);
    const std::string Polls = Sim->Bytes().substr(Before + 77 * 2);
    for (size_t At = 0, Next; At < Polls.size(); At = Next) {
        Next = Polls.find(AngleDataRequest(1), At + 1);
        if (Next == std::string::npos) Next = Polls.size();
        const std::string Part = Polls.substr(At, Next - At);
        // A round skips the stale sensor.
        EXPECT_TRUE(Part == Round.substr(0, Part.size()) ||
                    Part == AngleDataRequest(1) + AngleDataRequest(12))
            << At;
    }
    EXPECT_FALSE(Control<QAction>(W(), "actStopWatching")->isEnabled());
    const size_t Stopped = Sim->Bytes().size();
    Control<QPushButton>(W(), "btn10")->click();
    WaitForBytes(Stopped + 7);
    EXPECT_EQ(Sim->Bytes().substr(Stopped), "#INFO" + CRLF);
    EXPECT_TRUE(Messages.empty());
}
