// SPDX-License-Identifier: GPL-3.0-or-later
// The session against the real simulated sensor: what its observers are told,
// and in which order, as a console or vorta-cli drives it.
#include "SensorSession.h"

#include "../serial/PtyPair.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <map>

namespace {

// Every event but the readings and the answer lines as one token each, the
// readings apart.
struct TLog : TSessionObserver {
    explicit TLog(TSensorSession& S) : Session(S) { S.AddObserver(this); }
    ~TLog() override { Session.RemoveObserver(this); }
    void Reading(const TReading& R) override { Readings.push_back(R); }
    void Foreign(int Id, const std::string&) override { Foreigners.push_back(Id); }
    void Answer(const std::string&, bool IsFrame) override { Frames += IsFrame; }
    void Sent(const std::string& Shown) override {
        Add("sent " + Shown.substr(0, Shown.find('\r')));
    }
    void StateChanged(const TConnection& C) override {
        Add(std::string(StateName(C.State)) +
            (C.State == TConnectionState::Connected ? " " + C.Path : ""));
    }
    void SensorStale(int Id) override { Add("stale " + std::to_string(Id)); }
    void SensorBack(int Id) override { Add("back " + std::to_string(Id)); }
    void IdentityChanged(const TSensorIdentity& I) override {
        Add(I.Known ? "identity " + std::to_string(I.Id) + " mode " + std::to_string(I.Mode)
                    : "identity unknown");
    }
    // A command sent again in a retry is one token.
    void Add(const std::string& T) {
        if (Events.empty() || Events.back() != T) Events.push_back(T);
    }
    TSensorSession& Session;
    std::vector<std::string> Events;
    std::vector<TReading> Readings;
    std::vector<int> Foreigners;
    int Frames = 0; // frame texts told as answers
};

} // namespace

TEST(SensorSession, ObserversFollowConnectInformationStreamStopAndAnotherPort) {
    TSimProcess A({"--id", "5", "--mode", "2", "--value", "12.5", "--rate", "20"});
    TSimProcess B({"--id", "7"});
    TSensorSession S;
    TLog Log(S);
    TSensorExchange& X = S.Exchange();

    S.Open(A.Path());
    EXPECT_FALSE(S.Identity().Known);
    X.Start();
    ASSERT_TRUE(X.Information());
    X.Start();
    ASSERT_TRUE(X.Retry(SensorCommands::Read, "."));
    X.Wait(300);
    X.Start(true);
    X.StopLoop();
    const size_t Streamed = Log.Readings.size();
    ASSERT_GE(Streamed, 2u);
    ASSERT_TRUE(S.HaveReading());

    S.Open(B.Path());
    EXPECT_FALSE(S.Identity().Known);
    EXPECT_FALSE(S.HaveReading());
    X.Start();
    ASSERT_TRUE(X.Information());

    const std::string NameA = A.Path().substr(5);
    EXPECT_EQ(Log.Events,
              (std::vector<std::string>{"connecting", "connected " + A.Path(), "sent #INFO",
                                        "identity 5 mode 2", "sent #READ", "sent #STOP", "closed",
                                        "identity unknown", "connecting", "connected " + B.Path(),
                                        "sent #INFO", "identity 7 mode 0"}));
    EXPECT_EQ(Log.Readings.size(), Streamed) << "B never streamed";
    for (const TReading& R : Log.Readings) {
        EXPECT_EQ(R.Source, TReadingSource::Stream);
        EXPECT_EQ(R.Value, 12.5);
        EXPECT_EQ(R.Text, "12.50");
        EXPECT_EQ(R.Port, NameA);
        EXPECT_EQ(R.Id, 5);
        EXPECT_EQ(R.Mode, 2);
    }
    EXPECT_EQ(S.Connection().Opened, B.Path().substr(5));
    EXPECT_EQ(S.Connection().Typed, B.Path());
    EXPECT_EQ(S.Identity().PlusRange, 900);
}

// Every sensor on a shared line answers the scan; none of those answers is
// a reading of the sensor the session serves.
TEST(SensorSession, ScanAnswersAreReadingsOfTheScannedIdsOnly) {
    TSimProcess Bus({"--bus", "1,5,12", "--value", "3.5"});
    TSensorSession S;
    TLog Log(S);
    S.Open(Bus.Path());
    S.Exchange().Start();
    ASSERT_TRUE(S.Exchange().Information());
    const auto Found = S.Scan(1, 12, 200, [](int) { return true; });

    std::vector<int> Ids;
    for (const auto& F : Found)
        Ids.push_back(F.first);
    EXPECT_EQ(Ids, (std::vector<int>{1, 5, 12}));
    std::vector<int> ReadingIds;
    for (const TReading& R : Log.Readings) {
        EXPECT_EQ(R.Source, TReadingSource::Scan);
        EXPECT_EQ(R.Mode, -1);
        ReadingIds.push_back(R.Id);
    }
    EXPECT_EQ(ReadingIds, Ids);
    EXPECT_FALSE(S.HaveReading()) << "the current sensor read nothing";
    EXPECT_EQ(S.Identity().Id, 1);

    // Angle Data asked of one ID afterwards is that ID's reading again.
    S.Exchange().Start();
    S.Exchange().Poll(
        1, [] { return AngleDataRequest(5); }, AngleDataText, TSensorExchange::AngleLimit,
        [] { return 200; });
    ASSERT_TRUE(S.HaveReading());
    EXPECT_EQ(S.LastReading().Source, TReadingSource::AngleData);
    EXPECT_EQ(S.LastReading().Id, 5);
}

// Sensors slower than the scan's wait answer in the next ID's wait; each
// frame names its sensor, and that ID, not the one asked, answered.
TEST(SensorSession, ALateScanAnswerBelongsToTheIdItsFrameNames) {
    TSimProcess Bus({"--bus", "1,5,12", "--value", "3.5", "--delay", "150"});
    TSensorSession S;
    TLog Log(S);
    S.Open(Bus.Path());
    std::vector<int> FoundIds;
    const auto Found = S.Scan(
        1, 20, 100, [](int) { return true; }, [&](int Id, double) { FoundIds.push_back(Id); });

    std::vector<int> Ids;
    for (const auto& F : Found)
        Ids.push_back(F.first);
    EXPECT_EQ(Ids, (std::vector<int>{1, 5, 12}));
    EXPECT_EQ(FoundIds, Ids);
    std::vector<int> ReadingIds;
    for (const TReading& R : Log.Readings)
        ReadingIds.push_back(R.Id);
    EXPECT_EQ(ReadingIds, Ids);
}

// An answer that carries the version tag but not the whole form says
// nothing of the sensor.
TEST(SensorSession, IdentityStaysUnknownWithoutACompleteInformationAnswer) {
    TSimProcess Garbled({"--garble"});
    TSensorSession S;
    TLog Log(S);
    S.Open(Garbled.Path());
    S.Exchange().Start();
    S.Exchange().Information();
    EXPECT_FALSE(S.Identity().Known);
    EXPECT_EQ(S.Identity().Id, -1);
    EXPECT_EQ(std::count(Log.Events.begin(), Log.Events.end(), "identity unknown"), 0);
    EXPECT_EQ(Log.Events.back(), "sent #INFO");
}

// Sensor 9 is not on the line; sensor 5 misses its 2nd to 5th requests. Each
// goes stale after three misses in a row, told once, and is then asked every
// fifth round only; 5 is found again.
TEST(SensorSession, WatchReadsEachSensorOfTheLineAndFindsOneThatCameBack) {
    TSimProcess Bus({"--bus", "1,5,12", "--value", "3.5", "--gap", "5:2:5"});
    TSensorSession S;
    TLog Log(S);
    S.Open(Bus.Path());
    S.Exchange().Start();
    ASSERT_TRUE(S.Exchange().Information());
    TWatchPlan Plan;
    Plan.Ids = {1, 5, 9, 12};
    Plan.IntervalMs = 0;
    Plan.AnswerMs = 400; // a present sensor answers long before, however loaded the machine
    Plan.Rounds = 14;
    const auto Got = S.Watch(Plan);

    EXPECT_EQ(Got, (std::vector<std::pair<int, long>>{{1, 14}, {5, 2}, {9, 0}, {12, 14}}));
    std::vector<std::string> Told;
    for (const std::string& E : Log.Events)
        if (E.compare(0, 6, "stale ") == 0 || E.compare(0, 5, "back ") == 0) Told.push_back(E);
    EXPECT_EQ(Told, (std::vector<std::string>{"stale 9", "stale 5", "back 5"}));
    const struct {
        int Id;
        size_t Asked; // rounds 1..3 (4), then every fifth round from going stale
    } Requests[] = {{1, 14}, {5, 6}, {9, 5}, {12, 14}};
    const std::string Wire = Bus.Bytes();
    for (const auto& R : Requests) {
        const std::string Ask{static_cast<char>(176 + R.Id), 5};
        size_t N = 0;
        for (size_t At = Wire.find(Ask); At != std::string::npos; At = Wire.find(Ask, At + 2))
            ++N;
        EXPECT_EQ(N, R.Asked) << "sensor " << R.Id;
    }
    for (const TReading& R : Log.Readings) {
        EXPECT_EQ(R.Source, TReadingSource::Watch);
        EXPECT_EQ(R.Value, 3.5);
        EXPECT_EQ(R.Mode, R.Id == 1 ? 0 : -1) << R.Id;
    }
    ASSERT_EQ(Log.Readings.back().Id, 12);
    EXPECT_EQ(S.LastReading().Id, 1) << "another sensor's reading is not the current one's";
}

TEST(SensorSession, WatchEndsWhenStoppedFromAnEventHandler) {
    TSimProcess Bus({"--bus", "1,5", "--value", "1"});
    TSensorSession S;
    S.Open(Bus.Path());
    S.Exchange().Start();
    TWatchPlan Plan;
    Plan.Ids = {1, 5};
    QTimer::singleShot(500, [&S] { S.StopFlag() = true; });
    const auto Got = S.Watch(Plan);
    EXPECT_TRUE(S.StopFlag());
    EXPECT_GE(Got[0].second, 1);
    EXPECT_NEAR(Got[0].second, Got[1].second, 1) << "both sensors keep the rate";
}

// A line played by hand: sensor 50 is asked by nobody; sensor 2's late or
// garbled answer names no sensor and must not become 2's reading. A sensor
// that has not said its ID streams: the ID its frames carry makes it current.
TEST(SensorSession, AFrameIsCreditedOnlyToAnAskedSensorItNames) {
    TPtyPair Line;
    TSensorSession S;
    TLog Log(S);
    S.Open(Line.SlavePath);
    // Sensor 1's frame with one of 50's; sensor 2's with unreadable ID
    // characters; on #READ, a stream's frame of 7, then one of 50's.
    const std::map<char, std::string> Answers = {{char(177), "\0021.00B1\027$\0025.00E2\027$"},
                                                 {char(178), "\0022.00Z2\027$"},
                                                 {'#', "\0023.00B7\027$\0025.00E2\027$"}};
    QSocketNotifier Requests(Line.Master, QSocketNotifier::Read);
    QObject::connect(&Requests, &QSocketNotifier::activated, [&] {
        char Buf[64];
        for (ssize_t i = 0, N = read(Line.Master, Buf, sizeof Buf); i < N; ++i)
            if (Answers.count(Buf[i])) Line.Send(Answers.at(Buf[i]));
    });
    const TWatchPlan Plan{{1, 2}, 0, 300, 2};
    EXPECT_EQ(S.Watch(Plan), (std::vector<std::pair<int, long>>{{1, 2}, {2, 0}}));
    S.Exchange().Start();
    ASSERT_TRUE(S.Exchange().Retry(SensorCommands::Read, "."));

    std::vector<std::pair<int, double>> Read;
    for (const TReading& R : Log.Readings)
        Read.emplace_back(R.Id, R.Value);
    EXPECT_EQ(Read, (std::vector<std::pair<int, double>>{{1, 1}, {1, 1}, {7, 3}}));
    EXPECT_EQ(Log.Readings.back().Source, TReadingSource::Stream);
    EXPECT_EQ(S.CurrentId(), 7);
    EXPECT_EQ(Log.Foreigners, (std::vector<int>{50, 50, 50}));
    EXPECT_EQ(std::make_pair(S.ForeignFrames(), S.MalformedFrames()), std::make_pair(3L, 2L));
    EXPECT_EQ(Log.Frames, 3 + 2) << "no foreign frame reaches the log";
}
