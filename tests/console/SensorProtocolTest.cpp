// SPDX-License-Identifier: GPL-3.0-or-later
#include "SensorProtocol.h"

#include <gtest/gtest.h>

TEST(HexToInt, Table) {
    const struct {
        const char* S;
        int Value;
    } Cases[] = {
        {"FD", 253},
        {"", 0},
        {"0A", 10},
        {"B1", 177},
        {"0", 0},
        {"FF", 255},
        {"7FFFFFFF", 0x7FFFFFFF},
        // Wraps at 32 bits instead of overflowing.
        {"100000000", 0},
        {"FFFFFFFF", -1},
        // Letters past F and lower case count as code - 55; others below "A"
        // as code - 48.
        {"G", 16},
        {"a", 42},
        {"b1", 689},
        {" ", -16},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(HexToInt(C.S), C.Value) << '"' << C.S << '"';
}

TEST(IsInformationForm, OnlyTheWholeAnswerHasIt) {
    const std::string Full = "V:4100,I:B1,MD:0,C:1,O:0,N:900,P:0,G:1000,F:12,0:1,1:2,2:3,3:4,"
                             "4:5,5:6,6:7,7:8,8:9,9:10,CA:11,CB:12*";
    auto With = [&](const std::string& From, const std::string& To) {
        return std::string(Full).replace(Full.find(From), From.size(), To);
    };
    for (const std::string& Line : {Full, With("I:B1", "I:FD")})
        EXPECT_TRUE(IsInformationForm(Line)) << Line;
    for (const std::string& Line :
         {Full + ",X:1", "x" + Full, Full.substr(0, Full.find(",C:")), With("V:4100", "V:41"),
          With("I:B1", "I:B0"), With("I:B1", "I:FE"), With("I:B1", "I:b1"), With("MD:0", "MD:4"),
          With("N:900", "N:9x"), With("CB:12*", "CB:*"), With("G:1000", std::string("G:1\0", 4))})
        EXPECT_FALSE(IsInformationForm(Line)) << Line;
}

TEST(ParseInformation, FullLine) {
    const auto I = ParseInformation("V:4100,I:B1,MD:0,C:1,O:0,N:900,P:900,G:1000,F:12,0:1,1:2,"
                                    "2:3,3:4,4:5,5:6,6:7,7:8,8:9,9:10,CA:11,CB:12*");
    EXPECT_EQ(I.Version, "4100");
    EXPECT_EQ(I.ID, "1");
    EXPECT_EQ(I.Mode, "0");
    EXPECT_EQ(I.CalDone, "1");
    EXPECT_EQ(I.Offset, "0");
    EXPECT_EQ(I.NRange, "900");
    EXPECT_EQ(I.PRange, "900");
    EXPECT_EQ(I.MVGain, "1000");
    EXPECT_EQ(I.MVOffset, "12");
    const char* Cal[12] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"};
    for (int k = 0; k < 12; ++k)
        EXPECT_EQ(I.Cal[k], Cal[k]) << k;
}

TEST(ParseInformation, PlusRangeZeroIsFullCircle) {
    const auto I = ParseInformation("V:1234,I:B1,MD:0,C:1,O:0,N:900,P:0,G:1,F:1,0:1,1:2,"
                                    "2:3,3:4,4:5,5:6,6:7,7:8,8:9,9:10,CA:11,CB:12*");
    EXPECT_EQ(I.Version, "1234");
    EXPECT_EQ(I.ID, "1");
    EXPECT_EQ(I.PRange, "3600");
    EXPECT_EQ(ChooseDial(I.PRange, I.Mode), "img/Mode0.png");
}

TEST(ParseInformation, EmptyAnswerLeavesFieldsEmptyAndIdMinus176) {
    const auto I = ParseInformation("");
    EXPECT_EQ(I.ID, "-176");
    for (const std::string* F :
         {&I.Version, &I.Mode, &I.CalDone, &I.Offset, &I.NRange, &I.PRange, &I.MVGain, &I.MVOffset})
        EXPECT_EQ(*F, "");
    for (const auto& C : I.Cal)
        EXPECT_EQ(C, "");
    EXPECT_EQ(ChooseDial(I.PRange, I.Mode), "");
}

TEST(ParseInformation, FewerFieldsLeaveTheRestEmpty) {
    // Without a comma after it a field has no value; the last field is cut from
    // what remains (here "P:900" from character 4 to the last but one: "0").
    const auto I = ParseInformation("V:4100,I:B2,MD:3,C:1,O:0,N:450,P:900");
    EXPECT_EQ(I.Version, "4100");
    EXPECT_EQ(I.ID, "2");
    EXPECT_EQ(I.Mode, "3");
    EXPECT_EQ(I.NRange, "450");
    EXPECT_EQ(I.PRange, "");
    EXPECT_EQ(I.MVGain, "");
    EXPECT_EQ(I.Cal[10], "");
    EXPECT_EQ(I.Cal[11], "0");
}

TEST(ParseInformation, OddShapesNeverFault) {
    const char* Lines[] = {
        "V",         "V:", "V:12", ",", ",,,,,,,,,,,,,,,,,,,,,,,,,", "a,b,c", "V:1234,I:ZZ,MD:",
        "V:1234,,,,"};
    for (const char* L : Lines) {
        const auto I = ParseInformation(L);
        EXPECT_LE(I.Version.size(), 4u) << L;
    }
    EXPECT_EQ(ParseInformation("V:12").Version, "12");
    EXPECT_EQ(ParseInformation("a,b,c").ID, "-176");
    EXPECT_EQ(ParseInformation("V:1234,I:ZZ,MD:").ID, std::to_string(HexToInt("ZZ") - 176));
}

TEST(ChooseDial, Table) {
    const struct {
        const char* PRange;
        const char* Mode;
        const char* Dial;
    } Cases[] = {
        {"3600", "0", "img/Mode0.png"},
        {"3600", "1", "img/Mode0.png"},
        {"3600", "2", "img/Mode2.png"},
        {"3600", "3", "img/Mode2.png"},
        {"900", "0", "img/Mode1.png"},
        {"900", "1", "img/Mode1.png"},
        {"900", "2", "img/Mode3.png"},
        {"900", "3", "img/Mode3.png"},
        {"", "2", "img/Mode3.png"},
        {"3600", "5", ""},
        {"900", "", ""},
        {"0", "0", "img/Mode1.png"},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(ChooseDial(C.PRange, C.Mode), C.Dial) << C.PRange << "/" << C.Mode;
}

TEST(AngleData, RequestBytesAndText) {
    const struct {
        int ID;
        unsigned char First;
        const char* Text;
    } Cases[] = {
        {1, 0xB1, "B1 05 - HEX"},    {77, 0xFD, "FD 05 - HEX"},         {0, 0xB0, "B0 05 - HEX"},
        {80, 0x00, "0 05 - HEX"},    {81, 0x01, "1 05 - HEX"},          {-176, 0x00, "0 05 - HEX"},
        {-177, 0xFF, "FF 05 - HEX"}, {2147483647, 0xAF, "AF 05 - HEX"},
    };
    for (const auto& C : Cases) {
        const std::string R = AngleDataRequest(C.ID);
        ASSERT_EQ(R.size(), 2u);
        EXPECT_EQ(static_cast<unsigned char>(R[0]), C.First) << C.ID;
        EXPECT_EQ(R[1], 5);
        EXPECT_EQ(AngleDataText(R), C.Text) << C.ID;
    }
}

TEST(CommErrorText, LastSetFlagInOrderWins) {
    const struct {
        unsigned Errors;
        const char* Text;
    } Cases[] = {
        {0x0000, ""},
        {0x0001 | 0x0004, "The hardware detected a parity error."},
        {0x0010, "The hardware detected a break condition."},
        {0x0400, "An I/O error occurred during communications with the device."},
        {0x0400 | 0x0002, "A character-buffer overrun has occurred. The next character is lost."},
        {0x0100 | 0x0001, "Transmit buffer overflow."},
        {0x0008 | 0x0010, "The hardware detected a framing error."},
        {0x8000, "The requested mode is not supported."},
        {0x0020 | 0x0040 | 0x2000, ""},
        {0xFFFFFFFF, "Transmit buffer overflow."},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(CommErrorText(C.Errors), C.Text) << std::hex << C.Errors;
    const unsigned Order[11] = {0x10, 0x800, 0x8, 0x400, 0x8000, 0x1000,
                                0x2,  0x200, 0x1, 0x4,   0x100};
    for (int k = 0; k < 11; ++k)
        EXPECT_EQ(CommErrorTexts[k].Flag, Order[k]);
}
