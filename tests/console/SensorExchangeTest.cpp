// SPDX-License-Identifier: GPL-3.0-or-later
// The exchange patterns against a scripted sensor: what is sent, in what
// order, and how each loop ends. The wait stands for the event loop: the
// sensor's answer to the last send "arrives" inside it.
#include "SensorExchange.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct TScript {
    std::string LastAnswer;
    int RetryCount = 0;
    bool StopFlag = false;
    TSensorExchange X{LastAnswer, RetryCount, StopFlag};
    std::vector<std::string> Sent, Progress;
    std::vector<int> Waits;
    // Answer to the n-th send (by index); none when the list is shorter.
    std::vector<std::string> Answers;

    TScript() {
        X.Write = [this](const std::string& B) { Sent.push_back(B); };
        X.Wait = [this](int Ms) {
            Waits.push_back(Ms);
            if (Ms != TSensorExchange::StartDelay && Sent.size() <= Answers.size() &&
                !Sent.empty() && !Answers[Sent.size() - 1].empty())
                LastAnswer = Answers[Sent.size() - 1];
        };
        X.OnProgress = [this](const std::string& T) { Progress.push_back(T); };
    }
};

} // namespace

TEST(SensorExchange, RetrySendsSixTimesThenNoAnswerAndStopsAtTheMarker) {
    TScript Silent;
    Silent.X.Start();
    EXPECT_FALSE(Silent.X.Retry(SensorCommands::Info, "V:"));
    EXPECT_EQ(Silent.Sent, std::vector<std::string>(6, "#INFO\r\n"));
    EXPECT_EQ(Silent.Waits, (std::vector<int>{200, 500, 500, 500, 500, 500, 500}));
    EXPECT_EQ(Silent.Progress.back(), "No answer");
    EXPECT_EQ(Silent.Progress[5], "Try Connect 6[sec]");

    TScript Third;
    Third.Answers = {"", "", "OK"};
    EXPECT_TRUE(Third.X.Retry([] { return SensorCommands::Mode(2); }, "OK"));
    EXPECT_EQ(Third.Sent.size(), 3u);
    EXPECT_EQ(Third.RetryCount, 3);
}

TEST(SensorExchange, OnlyAnInformationLineAnswersInformation) {
    TScript S;
    // A streaming sensor: readings keep arriving; the identity line comes
    // during the third wait, and a reading follows it at once.
    S.X.Wait = [&](int) {
        S.X.Received("12.5");
        if (S.Sent.size() == 3) S.X.Received("V:4100,I:B1,MD:0");
        S.X.Received("12.6");
    };
    EXPECT_TRUE(S.X.Information());
    EXPECT_EQ(S.Sent.size(), 3u);
    EXPECT_EQ(S.X.InfoAnswer(), "V:4100,I:B1,MD:0");
    EXPECT_EQ(S.LastAnswer, "12.6");
    S.X.Start();
    EXPECT_EQ(S.X.InfoAnswer(), "");
}

TEST(SensorExchange, PollingCyclesStopFlagAndStopLoop) {
    TScript S;
    S.Answers = {"", "12.5", "", "", "", "", "", ""};
    std::vector<int> Cycles;
    S.X.OnCycle = [&](int C) { Cycles.push_back(C); };
    S.X.Poll(
        2, [] { return SensorCommands::Data(); }, [](const std::string& R) { return R; },
        TSensorExchange::AngleLimit, [] { return 250; });
    // Cycle 1 answered at its second send; cycle 2 gives up after two.
    EXPECT_EQ(S.Sent.size(), 4u);
    EXPECT_EQ(Cycles, (std::vector<int>{1, 1, 2, 2}));
    EXPECT_EQ(S.Progress.back(), "No answer");
    EXPECT_TRUE(S.StopFlag);

    TScript None;
    None.X.Poll(
        0, [] { return SensorCommands::Data(); }, [](const std::string& R) { return R; }, 5,
        [] { return 0; });
    EXPECT_TRUE(None.Sent.empty());
    EXPECT_TRUE(None.StopFlag);

    TScript Stop; // quiet at once: one #STOP with its two waits
    Stop.X.StopLoop();
    EXPECT_EQ(Stop.Sent, std::vector<std::string>{"#STOP\r\n"});
    EXPECT_EQ(Stop.Waits, (std::vector<int>{300, 200}));
    EXPECT_EQ(SensorCommands::PlusRange("3600"), "#CALI150\r\n");
    EXPECT_EQ(SensorCommands::PlusRange("1800"), "#CALI151800\r\n");
}

TEST(SensorExchange, AMalformedFrameAnswersNoCommand) {
    TScript S;
    S.X.Wait = [&](int) {
        S.X.Received(S.Sent.size() % 2 ? "1.2.3 OK" : "V:4100,I:B1,MD:0");
        S.X.Malformed();
    };
    EXPECT_FALSE(S.X.Retry(SensorCommands::Read, "."));
    EXPECT_FALSE(S.X.Information());
    EXPECT_EQ(S.X.InfoAnswer(), "");
    S.Sent.clear();
    S.X.Poll(
        1, [] { return SensorCommands::Data(); }, [](const std::string& R) { return R; },
        TSensorExchange::DataLimit, [] { return 250; });
    EXPECT_EQ(S.Sent.size(), 6u);
    EXPECT_EQ(S.X.Readings(), 0);
}
