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
    FValueStart = 0;
    HandOnRaw();
    if (OnLine) OnLine(FLine);
}

void TAnswerReceiver::AcceptFrame() {
    // The last two characters are the frame's check characters.
    FCheck.assign(FBuffer, FBuffer.size() >= 2 ? FBuffer.size() - 2 : 0);
    FBuffer.resize(FBuffer.size() >= 2 ? FBuffer.size() - 2 : 0);
    FLine.assign(FBuffer);
    FValueStart = FFrameStart < FLine.size() ? FFrameStart : FLine.size();
    FBuffer.clear();
    FEtbSeen = false;
    FFrameStart = 0;
    FLineIsFrame = true;
    HandOnRaw();
    if (OnLine) OnLine(FLine);
    try {
        double Value = 0;
        if (ParseValueText(ValueText(), DecimalSeparator, Value)) {
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
