// SPDX-License-Identifier: GPL-3.0-or-later
// The session against the real simulated sensor: what its observers are told,
// and in which order, as a console or vorta-cli drives it.
#include "SensorSession.h"

#include "SimProcess.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Every event but the readings and the answer lines as one token each, the
// readings apart.
struct TLog : TSessionObserver {
    explicit TLog(TSensorSession& S) : Session(S) { S.AddObserver(this); }
    ~TLog() override { Session.RemoveObserver(this); }
    void Reading(const TReading& R) override { Readings.push_back(R); }
    void Sent(const std::string& Shown) override {
        Add("sent " + Shown.substr(0, Shown.find('\r')));
    }
    void StateChanged(const TConnection& C) override {
        Add(std::string(StateName(C.State)) +
            (C.State == TConnectionState::Connected ? " " + C.Path : ""));
    }
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
