// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimSensor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const char STX = 2;
const char ETB = 23;
const unsigned char ReadRequest = 5;
const double SwingPeriod = 20.0; // seconds for one full swing
const double SwingShare = 0.8;   // stay clear of the dial's end marks

// Decimal digits only, at most five of them; false otherwise.
bool ParseDigits(const std::string& S, int& Value) {
    if (S.empty() || S.size() > 5) return false;
    Value = 0;
    for (char C : S) {
        if (C < '0' || C > '9') return false;
        Value = Value * 10 + (C - '0');
    }
    return true;
}

bool StartsWith(const std::string& S, const char* Prefix, std::string& Rest) {
    std::string P(Prefix);
    if (S.compare(0, P.size(), P) != 0) return false;
    Rest = S.substr(P.size());
    return true;
}

SimReply Answer(const char* Text) {
    return {SimReply::Text, std::string(Text) + "\r\n"};
}

} // namespace

std::string FormatAngle(double Degrees) {
    char Buf[64];
    std::snprintf(Buf, sizeof Buf, "%.2f", Degrees);
    std::string S(Buf);
    if (S == "-0.00") S = "0.00";
    return S;
}

void SimSensor::Receive(const char* Data, size_t Count, std::vector<SimReply>& Out) {
    for (size_t i = 0; i < Count; ++i) {
        unsigned char B = static_cast<unsigned char>(Data[i]);
        // The binary request may arrive in the middle of a text line; it does
        // not disturb the line being collected.
        if (B == ReadRequest) {
            if (FPrev == 176 + FCfg.Id && !InGap(FCfg.Id)) Out.push_back({SimReply::Frame, {}});
            for (int Id : FCfg.BusIds)
                if (Id != FCfg.Id && FPrev == 176 + Id && !InGap(Id))
                    Out.push_back({SimReply::Frame, {}, Id});
        }
        FPrev = B;
        if (B == '\r' || B == '\n') {
            if (!FOverlong && !FLine.empty()) Command(FLine, Out);
            FLine.clear();
            FOverlong = false;
        } else if (B >= 0x20 && B < 0x7F && !FOverlong) {
            if (FLine.size() >= MaxLine) {
                FOverlong = true;
                FLine.clear();
            } else {
                FLine += static_cast<char>(B);
            }
        }
    }
}

bool SimSensor::InGap(int Id) {
    if (Id != FCfg.GapId) return false;
    ++FGapAsked;
    return FGapAsked >= FCfg.GapFrom && FGapAsked <= FCfg.GapTo;
}

void SimSensor::Command(const std::string& Line, std::vector<SimReply>& Out) {
    std::string Rest;
    int N = 0;
    if (Line == "#INFO") {
        Out.push_back({SimReply::Text, InfoLine()});
    } else if (Line == "#READ") {
        Out.push_back({SimReply::StartStream, {}});
    } else if (Line == "#STOP") {
        Out.push_back({SimReply::StopStream, {}});
    } else if (Line == "#DATA") {
        Out.push_back({SimReply::Frame, {}});
    } else if (Line == "#SAVE") {
        Out.push_back(Answer("OK"));
    } else if (Line.size() == 6 && StartsWith(Line, "#MODE", Rest) && Rest[0] >= '0' &&
               Rest[0] <= '3') {
        FCfg.Mode = Rest[0] - '0';
        Out.push_back(Answer("OK"));
    } else if (StartsWith(Line, "#ID", Rest)) {
        if (ParseDigits(Rest, N) && N >= 1 && N <= 77) {
            FCfg.Id = N;
            Out.push_back(Answer("OK"));
        } else {
            Out.push_back(Answer("ERR"));
        }
    } else if (StartsWith(Line, "#CALI14", Rest)) {
        if (ParseDigits(Rest, N) && N >= 1 && N <= 3600) {
            FCfg.MinusRange = N;
            Out.push_back(Answer("OK"));
        } else {
            Out.push_back(Answer("ERR"));
        }
    } else if (StartsWith(Line, "#CALI15", Rest)) {
        // "0" is how a full circle is asked for.
        if (ParseDigits(Rest, N) && N <= 3600) {
            FCfg.PlusRange = N == 0 ? 3600 : N;
            Out.push_back(Answer("OK"));
        } else {
            Out.push_back(Answer("ERR"));
        }
    }
}

std::string SimSensor::InfoLine() const {
    char Buf[200];
    std::snprintf(Buf, sizeof Buf,
                  "V:4100,I:%02X,MD:%d,C:1,O:0,N:%d,P:%d,G:1000,F:12,"
                  "0:1,1:2,2:3,3:4,4:5,5:6,6:7,7:8,8:9,9:10,CA:11,CB:12*\r\n",
                  176 + FCfg.Id, FCfg.Mode, FCfg.MinusRange,
                  FCfg.PlusRange == 3600 ? 0 : FCfg.PlusRange);
    return Buf;
}

double SimSensor::AngleAt(double Seconds) const {
    if (FCfg.FixedValue) return FCfg.Value;
    double S = std::sin(2 * M_PI * Seconds / SwingPeriod);
    int Range = S >= 0 ? FCfg.PlusRange : FCfg.MinusRange;
    return S * SwingShare * Range / 10.0;
}

std::string SimSensor::FrameAt(double Seconds, int Id0) const {
    char Id[8];
    std::snprintf(Id, sizeof Id, "%02X", 176 + (Id0 ? Id0 : FCfg.Id));
    const auto At = std::find(FCfg.BusIds.begin(), FCfg.BusIds.end(), Id0);
    const double Place = At == FCfg.BusIds.end() ? 0 : double(At - FCfg.BusIds.begin() + 1);
    return std::string(1, STX) + FormatAngle(AngleAt(Seconds) + Place * FCfg.Spread) + Id + ETB +
           "$";
}
