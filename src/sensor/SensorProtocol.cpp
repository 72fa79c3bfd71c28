// SPDX-License-Identifier: GPL-3.0-or-later
#include "SensorProtocol.h"

#include <cstdio>

std::int32_t HexToInt(const std::string& S) {
    std::uint32_t R = 0;
    for (const char C : S) {
        const unsigned Code = static_cast<unsigned char>(C);
        R = R * 16 + (Code < 65 ? Code - 48 : Code - 55);
    }
    return static_cast<std::int32_t>(R);
}

namespace {
// The text after the first comma of S; S itself when it has no comma.
std::string AfterComma(const std::string& S) {
    const auto Comma = S.find(',');
    return Comma == std::string::npos ? S : S.substr(Comma + 1);
}

// The field value from just after its tag up to the next comma; "" when S has
// no further comma (or the comma lies inside the tag).
std::string FieldValue(const std::string& S, std::size_t TagLength) {
    const auto Comma = S.find(',');
    if (Comma == std::string::npos || Comma <= TagLength) return "";
    return S.substr(TagLength, Comma - TagLength);
}
} // namespace

bool IsInformationAnswer(const std::string& Line) {
    return Line.find("V:") != std::string::npos;
}

bool IsInformationForm(const std::string& Line) {
    for (const char C : Line)
        if (C < 0x20 || C > 0x7E) return false;
    std::vector<std::string> F(1);
    for (const char C : Line) {
        if (C == ',')
            F.emplace_back();
        else
            F.back().push_back(C);
    }
    if (F.size() != 21 || F[0].size() != 6 || F[0].compare(0, 2, "V:") != 0) return false;
    // Field k + 1 is F[k]; the value follows the tag.
    auto Tag = [](std::size_t k) -> std::size_t { return k == 2 || k >= 19 ? 3 : 2; };
    for (std::size_t k = 1; k < F.size(); ++k)
        if (F[k].size() < Tag(k) + (k == 20 ? 2 : 0)) return false;
    auto Digits = [](const std::string& S, const char* Allowed) {
        return !S.empty() && S.find_first_not_of(Allowed) == std::string::npos;
    };
    const std::string Id = F[1].substr(2), Mode = F[2].substr(3);
    const std::int32_t IdValue = HexToInt(Id);
    return Id.size() == 2 && Digits(Id, "0123456789ABCDEF") && IdValue >= 177 && IdValue <= 253 &&
           Mode.size() == 1 && Mode[0] >= '0' && Mode[0] <= '3' &&
           Digits(F[5].substr(2), "0123456789") && Digits(F[6].substr(2), "0123456789");
}

TInformation ParseInformation(const std::string& Line) {
    TInformation I;
    I.Version = Line.substr(Line.size() < 2 ? Line.size() : 2, 4);

    std::string S = Line;
    auto Next = [&S](std::size_t TagLength) {
        S = AfterComma(S);
        return FieldValue(S, TagLength);
    };
    const std::uint32_t IDValue = static_cast<std::uint32_t>(HexToInt(Next(2)));
    I.ID = std::to_string(static_cast<std::int32_t>(IDValue - 176u));
    I.Mode = Next(3);
    I.CalDone = Next(2);
    I.Offset = Next(2);
    I.NRange = Next(2);
    I.PRange = Next(2);
    if (I.PRange == "0") I.PRange = "3600";
    I.MVGain = Next(2);
    I.MVOffset = Next(2);
    for (int k = 0; k < 10; ++k)
        I.Cal[k] = Next(2);
    I.Cal[10] = Next(3);
    S = AfterComma(S);
    I.Cal[11] = S.size() > 4 ? S.substr(3, S.size() - 4) : "";
    return I;
}

std::string ChooseDial(const std::string& PRange, const std::string& Mode) {
    const bool Mode01 = Mode == "1" || Mode == "0";
    const bool Mode23 = Mode == "2" || Mode == "3";
    if (PRange == "3600" && Mode01) return "img/Mode0.png";
    if (PRange == "3600" && Mode23) return "img/Mode2.png";
    if (Mode01) return "img/Mode1.png";
    if (Mode23) return "img/Mode3.png";
    return "";
}

std::string AngleDataRequest(int ID) {
    const long long B = ((176LL + ID) % 256 + 256) % 256;
    return std::string{static_cast<char>(B), 5};
}

std::string AngleDataText(const std::string& Request) {
    char Text[32];
    const unsigned B = Request.empty() ? 0 : static_cast<unsigned char>(Request[0]);
    std::snprintf(Text, sizeof Text, "%X 0%X - HEX", B, 5u);
    return Text;
}

const TCommErrorText CommErrorTexts[11] = {
    {0x0010, "The hardware detected a break condition."},
    {0x0800, "Windows 95 only: A parallel device is not selected."},
    {0x0008, "The hardware detected a framing error."},
    {0x0400, "An I/O error occurred during communications with the device."},
    {0x8000, "The requested mode is not supported."},
    {0x1000, "Windows 95 only: A parallel device signaled that it is out of paper."},
    {0x0002, "A character-buffer overrun has occurred. The next character is lost."},
    {0x0200, "Windows 95 only: A time-out occurred on a parallel device."},
    {0x0001, "An input buffer overflow has occurred."},
    {0x0004, "The hardware detected a parity error."},
    {0x0100, "Transmit buffer overflow."},
};

std::string CommErrorText(unsigned Errors) {
    std::string Text;
    for (const auto& E : CommErrorTexts)
        if (Errors & E.Flag) Text = E.Text;
    return Text;
}

std::vector<std::pair<std::string, std::string>> InformationFields(const TInformation& I) {
    std::vector<std::pair<std::string, std::string>> F = {
        {"version", I.Version},   {"id", I.ID},
        {"mode", I.Mode},         {"minus_range", I.NRange},
        {"plus_range", I.PRange}, {"offset", I.Offset},
        {"cal_done", I.CalDone},  {"mv_gain", I.MVGain},
        {"mv_offset", I.MVOffset}};
    for (int k = 0; k < 12; ++k)
        F.emplace_back("cal" + std::to_string(k), I.Cal[k]);
    return F;
}
