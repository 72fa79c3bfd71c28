// SPDX-License-Identifier: GPL-3.0-or-later
#include "AnswerReceiver.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

// Collects what the receiver reports, in order: lines as text, values as
// "=<number>".
struct Recorder {
    std::string Buffer;
    TAnswerReceiver Rx{Buffer};
    std::vector<std::string> Lines;
    std::vector<double> Values;
    std::vector<std::string> Malformed;

    Recorder() {
        Rx.OnLine = [this](const std::string& L) { Lines.push_back(L); };
        Rx.OnValue = [this](double V) { Values.push_back(V); };
        Rx.OnMalformed = [this](const std::string& T) { Malformed.push_back(T); };
    }
    // Feeds Data cut at the given offsets (each a separate receive event).
    void Feed(const std::string& Data, const std::vector<size_t>& Cuts = {}) {
        size_t From = 0;
        for (size_t Cut : Cuts) {
            Rx.Receive(Data.substr(From, Cut - From));
            From = Cut;
        }
        Rx.Receive(Data.substr(From));
    }
};

const std::string Frame = std::string("\x02") + "12.50B1" + "\x17" + "$";
const std::string Line = "V:1234,X\r\n";

} // namespace

TEST(AnswerReceiver, LineGivesOneLineInEverySplitInTwoAndThree) {
    for (size_t a = 0; a <= Line.size(); ++a) {
        for (size_t b = a; b <= Line.size(); ++b) {
            Recorder R;
            R.Feed(Line, {a, b});
            ASSERT_EQ(R.Lines, std::vector<std::string>{"V:1234,X"}) << a << "," << b;
            EXPECT_TRUE(R.Buffer.empty());
            EXPECT_TRUE(R.Values.empty());
        }
    }
}

TEST(AnswerReceiver, FrameIsAcceptedInEverySplitInTwoAndThree) {
    for (size_t a = 0; a <= Frame.size(); ++a) {
        for (size_t b = a; b <= Frame.size(); ++b) {
            Recorder R;
            R.Feed(Frame, {a, b});
            ASSERT_EQ(R.Lines, std::vector<std::string>{"12.50"}) << a << "," << b;
            ASSERT_EQ(R.Values, std::vector<double>{12.5});
            EXPECT_TRUE(R.Buffer.empty());
        }
    }
}

TEST(AnswerReceiver, StreamByteByByteGivesEveryFrameAndLine) {
    Recorder R;
    const std::string Stream = Frame + Frame + "OK\r\n" + Frame + std::string("\x02-3.25B1\x17$");
    for (char C : Stream)
        R.Rx.Receive(&C, 1);
    EXPECT_EQ(R.Lines, (std::vector<std::string>{"12.50", "12.50", "OK", "12.50", "-3.25"}));
    EXPECT_EQ(R.Values, (std::vector<double>{12.5, 12.5, 12.5, -3.25}));
}

TEST(AnswerReceiver, SeveralFramesInOneEventAreAllAccepted) {
    Recorder R;
    R.Feed(Frame + Frame + Frame);
    EXPECT_EQ(R.Values, (std::vector<double>{12.5, 12.5, 12.5}));
}

TEST(AnswerReceiver, ControlBytesAreNeverStored) {
    Recorder R;
    R.Feed(std::string("A\x02"
                       "B\n\x17"
                       "C"));
    EXPECT_EQ(R.Buffer, "ABC");
    R.Feed("\r");
    EXPECT_EQ(R.Lines, std::vector<std::string>{"ABC"});
}

TEST(AnswerReceiver, CrAfterFrameGivesEmptyLine) {
    Recorder R;
    R.Feed(Frame + "\r");
    EXPECT_EQ(R.Lines, (std::vector<std::string>{"12.50", ""}));
}

TEST(AnswerReceiver, DollarWithoutEtbIsDroppedAndTextWaitsForCr) {
    Recorder R;
    R.Feed("12.50B1$");
    EXPECT_TRUE(R.Lines.empty());
    EXPECT_EQ(R.Buffer, "12.50B1");
    R.Feed("\r\n");
    EXPECT_EQ(R.Lines, std::vector<std::string>{"12.50B1"});
    EXPECT_TRUE(R.Values.empty());
}

TEST(AnswerReceiver, EtbBelongsToItsFrameOnly) {
    // The ETB of a frame cut off by a CR must not make a later "$" a frame end.
    Recorder R;
    R.Feed(std::string("ab\x17\r") + "12.50B1$");
    EXPECT_EQ(R.Lines, std::vector<std::string>{"ab"});
    EXPECT_TRUE(R.Values.empty());
    // Nor may one that was reset away by the caller.
    R.Rx.Reset();
    R.Feed(std::string("\x17"));
    R.Rx.Reset();
    R.Feed("7.00B1$");
    EXPECT_TRUE(R.Values.empty());
    EXPECT_EQ(R.Buffer, "7.00B1");
}

TEST(AnswerReceiver, ShortFrameTextNeverReadsOutsideTheData) {
    const struct {
        std::string Data;
        std::string Line;
    } Cases[] = {
        {"\x17$", ""},
        {"5\x17$", "5"},
        {"B1\x17$", ""},
        {"1ab\x17$", "1ab"},
    };
    for (const auto& C : Cases) {
        Recorder R;
        R.Feed(C.Data);
        EXPECT_EQ(R.Lines, std::vector<std::string>{C.Line}) << C.Data;
        EXPECT_EQ(R.Values.size() + R.Malformed.size(), 1u) << C.Data;
    }
}

TEST(AnswerReceiver, OnlyAWhollyNumericFrameIsAReadingTheRestIsMalformed) {
    const std::pair<std::string, std::vector<double>> Cases[] = {
        {"abcd", {}},
        {std::string("1") + '\0' + "2.5", {}},
        {"12.5", {12.5}},
        {" -3e2 ", {-300}},
        {"1.2.3", {}}};
    for (const auto& [Value, Values] : Cases) {
        Recorder R;
        R.Feed("\x81\x02" + Value + "B1\x17$"); // a stray byte ahead of the frame
        const std::vector<std::string> Line{"\x81" + Value};
        EXPECT_EQ(R.Lines, Line);
        EXPECT_EQ(R.Values, Values) << Value;
        EXPECT_EQ(R.Malformed, Values.empty() ? Line : std::vector<std::string>{}) << Value;
    }
}

// The two characters before the ETB must name a sensor, or the frame is no
// reading of anyone: its whole text is shown, those characters included.
TEST(AnswerReceiver, OnlyAFrameWhoseIdCharactersNameASensorIsAReading) {
    const std::pair<std::string, std::string> Cases[] = {
        // between STX and ETB (\032 a SUB); the line shown, then "=<ID>" for a reading
        {"12.50B1", "12.50=1"}, {"12.50FD", "12.50=77"},      {" 12.50 ", " 12.50 "},
        {"-0.75", "-0.75"},     {"12.50b1", "12.50b1"},       {"12.50B0", "12.50B0"},
        {"12.50FE", "12.50FE"}, {"12.50B\032", "12.50B\032"}, {"12.\0320B1", "12.\0320"},
    };
    for (const auto& [Text, Shown] : Cases) {
        Recorder R;
        R.Rx.OnValue = [&](double) { R.Lines.back() += "=" + std::to_string(R.Rx.FrameId()); };
        R.Feed("\x02" + Text + "\x17$");
        EXPECT_EQ(R.Lines, std::vector<std::string>{Shown}) << Text;
        EXPECT_EQ(R.Malformed.size(), size_t(Shown.find('=') == std::string::npos)) << Text;
    }
}

TEST(AnswerReceiver, ValueDisplayFailureIsSwallowedAndNextFrameReceived) {
    Recorder R;
    int Calls = 0;
    R.Rx.OnValue = [&](double V) {
        if (++Calls == 1) throw std::runtime_error("paint failed");
        R.Values.push_back(V);
    };
    R.Feed(Frame + std::string("\x02"
                               "1.00B1\x17$"));
    EXPECT_EQ(R.Lines, (std::vector<std::string>{"12.50", "1.00"}));
    EXPECT_EQ(R.Values, std::vector<double>{1.0});
    EXPECT_TRUE(R.Buffer.empty());
}

TEST(AnswerReceiver, EndlessLineIsShownInPiecesOf64KiB) {
    Recorder R;
    R.Feed(std::string(TAnswerReceiver::MaxLine - 1, 'x'));
    EXPECT_TRUE(R.Lines.empty());
    R.Feed("yz");
    ASSERT_EQ(R.Lines.size(), 1u);
    EXPECT_EQ(R.Lines[0].size(), TAnswerReceiver::MaxLine);
    EXPECT_EQ(R.Lines[0].back(), 'y');
    EXPECT_EQ(R.Buffer, "z");
    R.Feed(std::string(3 * TAnswerReceiver::MaxLine, 'q'));
    EXPECT_EQ(R.Lines.size(), 4u);
    EXPECT_LT(R.Buffer.size(), TAnswerReceiver::MaxLine);
}

TEST(AnswerReceiver, ReadingsAreReadWithTheLocaleSeparatorAndWithThePoint) {
    // The sensor sends a point whatever the computer's locale; a comma locale
    // must not turn every reading into 0.
    Recorder R;
    R.Rx.DecimalSeparator = ',';
    R.Feed(std::string("\x02"
                       "12,50B1\x17$\x02"
                       "-12.50B1\x17$"));
    EXPECT_EQ(R.Values, (std::vector<double>{12.5, -12.5}));
}

TEST(AnswerReceiver, StrayBytesBeforeAFrameStayInTheLineButNotInTheReading) {
    Recorder R;
    R.Feed(std::string("\x81\x7f") + Frame, {1, 4});
    R.Feed(std::string("\x05") + Frame);
    ASSERT_EQ(R.Lines.size(), 2u);
    EXPECT_EQ(R.Lines[0], "\x81\x7f"
                          "12.50");
    EXPECT_EQ(R.Values, (std::vector<double>{12.5, 12.5}));
}

TEST(ValueTextToFloat, Table) {
    const struct {
        const char* Text;
        char Sep;
        double Value;
    } Cases[] = {
        {"12.5", '.', 12.5}, {"-3.25", '.', -3.25}, {"+7", '.', 7},     {" 0.5 ", '.', 0.5},
        {".5", '.', 0.5},    {"5.", '.', 5},        {"1e3", '.', 1000}, {"2.5E-1", '.', 0.25},
        {"12,5", ',', 12.5}, {"12.5", ',', 12.5},   {"12,5", '.', 0},   {"", '.', 0},
        {"1,2.3", ',', 0},   {"abc", '.', 0},       {"12.5x", '.', 0},  {"1.2.3", '.', 0},
        {"-", '.', 0},       {".", '.', 0},         {"1e", '.', 0},     {"1e999", '.', 0},
        {"nan", '.', 0},     {"inf", '.', 0},       {"0x10", '.', 0},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(ValueTextToFloat(C.Text, C.Sep), C.Value) << '"' << C.Text << '"' << C.Sep;
}

TEST(NeedleAngle, ModesZeroAndOneTurnAgainstTheReading) {
    const struct {
        const char* Mode;
        float Angle;
    } Cases[] = {
        {"0", -12.5f}, {"1", -12.5f}, {"2", 12.5f},  {"3", 12.5f},
        {"", 12.5f},   {"5", 12.5f},  {" 1", 12.5f}, {"01", 12.5f},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(NeedleAngle(12.5, C.Mode), C.Angle) << C.Mode;
    EXPECT_EQ(NeedleAngle(1e300, "2"), FLT_MAX);
    EXPECT_EQ(NeedleAngle(1e300, "0"), -FLT_MAX);
}

TEST(AnswerReceiver, HandsOnEveryRawByteOnceInOrderAtEachLineOrFrameEnd) {
    const std::string Flood(TAnswerReceiver::MaxRaw + 3, '\n');
    const struct {
        std::string Data;
        std::vector<size_t> Cuts;
        bool ResetAfter;
        std::vector<std::string> Raw; // "|" marks where OnLine ran
    } Cases[] = {
        {Line + Frame, {}, false, {"V:1234,X\r", "|", "\n", Frame, "|"}},
        {Line + Frame, {3, 12}, false, {"V:1234,X\r", "|", "\n", Frame, "|"}},
        {"ab$c", {}, true, {"ab$c"}},
        {Flood, {}, false, {Flood.substr(3)}},
    };
    for (const auto& C : Cases) {
        Recorder R;
        std::vector<std::string> Got;
        R.Rx.OnRaw = [&](const std::string& B) { Got.push_back(B); };
        R.Rx.OnLine = [&](const std::string&) { Got.push_back("|"); };
        R.Feed(C.Data, C.Cuts);
        if (C.ResetAfter) R.Rx.Reset();
        EXPECT_EQ(Got, C.Raw) << C.Data.substr(0, 20);
    }
}
