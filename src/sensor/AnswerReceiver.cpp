// SPDX-License-Identifier: GPL-3.0-or-later
#include "AnswerReceiver.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <exception>

void TAnswerReceiver::Reset() {
    FBuffer.clear();
    FEtbSeen = false;
    FFrameStart = 0;
    HandOnRaw();
}

void TAnswerReceiver::HandOnRaw() {
    if (FRaw.empty()) return;
    // Emptied first, so a failing handler cannot hand the bytes on twice.
    FRawOut.swap(FRaw);
    FRaw.clear();
    if (OnRaw) OnRaw(FRawOut);
}

void TAnswerReceiver::EndLine() {
    // The buffer is emptied before the line is handed on, so a failing
    // handler cannot leave the old text in front of the next line. Both
    // strings keep their capacity: a stream of lines allocates nothing.
    FLine.assign(FBuffer);
    FBuffer.clear();
    FEtbSeen = false;
    FFrameStart = 0;
    FLineIsFrame = false;
    FFrameIsReading = false;
    FFrameId = -1;
    FValueStart = 0;
    HandOnRaw();
    if (OnLine) OnLine(FLine);
}

void TAnswerReceiver::AcceptFrame() {
    // The last two characters are the frame's ID characters; only when they
    // name a sensor are they taken off the text.
    const std::size_t Size = FBuffer.size();
    FCheck.assign(FBuffer, Size >= 2 ? Size - 2 : Size, 2);
    FFrameId = FrameIdOf(FCheck);
    FLine.assign(FBuffer, 0, FFrameId > 0 ? Size - 2 : Size);
    FValueStart = FFrameStart < FLine.size() ? FFrameStart : FLine.size();
    FBuffer.clear();
    FEtbSeen = false;
    FFrameStart = 0;
    FLineIsFrame = true;
    double Value = 0;
    FFrameIsReading = FFrameId > 0 && ParseValueText(ValueText(), DecimalSeparator, Value);
    HandOnRaw();
    if (OnLine) OnLine(FLine);
    try {
        if (FFrameIsReading) {
            if (OnValue) OnValue(Value);
        } else if (OnMalformed) {
            OnMalformed(FLine);
        }
    } catch (const std::exception&) {
        // A reading that cannot be shown is dropped; the next one is received
        // normally.
    }
}

void TAnswerReceiver::Receive(const char* Data, std::size_t Size) {
    for (std::size_t i = 0; i < Size; ++i) {
        FRaw.push_back(Data[i]);
        const bool AfterCr = FAfterCr;
        FAfterCr = false;
        switch (const char B = Data[i]) {
        case ETB:
            FEtbSeen = true;
            break;
        case STX:
            FFrameStart = FBuffer.size();
            break;
        case LF:
            // It ends the line before, whose bytes are gone already.
            if (AfterCr) HandOnRaw();
            break;
        case CR:
            EndLine();
            FAfterCr = true;
            break;
        case FrameEnd:
            // A "$" without an ETB in its frame is no frame end: it is dropped
            // and the text waits for the next CR.
            if (FEtbSeen) AcceptFrame();
            break;
        default:
            FBuffer.push_back(B);
            if (FBuffer.size() >= MaxLine) EndLine();
            break;
        }
        // Bytes no line keeps (a flood of LF) are handed on all the same.
        if (FRaw.size() >= MaxRaw) HandOnRaw();
    }
}

int FrameIdOf(const std::string& Check) {
    if (Check.size() != 2) return -1;
    int Byte = 0;
    for (const char C : Check) {
        if (C >= '0' && C <= '9')
            Byte = Byte * 16 + (C - '0');
        else if (C >= 'A' && C <= 'F')
            Byte = Byte * 16 + (C - 'A' + 10);
        else
            return -1;
    }
    const int Id = Byte - 176;
    return Id >= 1 && Id <= 77 ? Id : -1;
}

bool ParseValueText(const std::string& Text, char DecimalSeparator, double& Value) {
    std::size_t Begin = 0, End = Text.size();
    while (Begin < End && Text[Begin] == ' ')
        ++Begin;
    while (End > Begin && Text[End - 1] == ' ')
        --End;

    // Rebuild the number in the one spelling from_chars reads, checking the
    // shape on the way: from_chars alone would accept a leading part.
    std::string Plain;
    std::size_t i = Begin;
    if (i < End && (Text[i] == '+' || Text[i] == '-')) {
        if (Text[i] == '-') Plain.push_back('-');
        ++i;
    }
    bool Digits = false, Separator = false;
    for (; i < End; ++i) {
        const char C = Text[i];
        if (C >= '0' && C <= '9') {
            Digits = true;
            Plain.push_back(C);
        } else if ((C == DecimalSeparator || C == '.') && !Separator) {
            Separator = true;
            Plain.push_back('.');
        } else {
            break;
        }
    }
    if (!Digits) return false;
    if (i < End && (Text[i] == 'e' || Text[i] == 'E')) {
        Plain.push_back('e');
        ++i;
        if (i < End && (Text[i] == '+' || Text[i] == '-')) Plain.push_back(Text[i++]);
        bool ExpDigits = false;
        for (; i < End && Text[i] >= '0' && Text[i] <= '9'; ++i) {
            ExpDigits = true;
            Plain.push_back(Text[i]);
        }
        if (!ExpDigits) return false;
    }
    if (i != End) return false;

    double Parsed = 0;
    const auto [Ptr, Ec] = std::from_chars(Plain.data(), Plain.data() + Plain.size(), Parsed);
    if (Ec != std::errc() || Ptr != Plain.data() + Plain.size() || !std::isfinite(Parsed))
        return false;
    Value = Parsed;
    return true;
}

double ValueTextToFloat(const std::string& Text, char DecimalSeparator) {
    double Value = 0;
    return ParseValueText(Text, DecimalSeparator, Value) ? Value : 0;
}

float NeedleAngle(double Value, const std::string& Mode) {
    double Angle = (Mode == "1" || Mode == "0") ? -Value : Value;
    // A reading beyond single precision has no float value; it is pinned.
    if (Angle > FLT_MAX) Angle = FLT_MAX;
    if (Angle < -FLT_MAX) Angle = -FLT_MAX;
    return static_cast<float>(Angle);
}
