// SPDX-License-Identifier: GPL-3.0-or-later
// The sensor's wire formats that the console builds and reads, apart from the
// receiver: hexadecimal IDs, the Information answer, the Angle Data request,
// and the texts of the serial line errors. Plain C++, no state.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Hexadecimal digits "0".."9", "A".."F" to a number, 32-bit wrapping; "" is 0.
// Characters below "A" count as their code minus 48 and characters from "A"
// on as their code minus 55, so "G" counts 16 and "a" 42: the sensor sends
// upper case only, and anything else gives a defined, meaningless number.
std::int32_t HexToInt(const std::string& S);

// The fields of the sensor's Information answer, as texts for the window.
struct TInformation {
    std::string Version;  // field 1
    std::string ID;       // field 2, decimal (its hexadecimal value less 176)
    std::string Mode;     // field 3
    std::string CalDone;  // field 4
    std::string Offset;   // field 5
    std::string NRange;   // field 6
    std::string PRange;   // field 7; "0" is reported for the full circle, "3600"
    std::string MVGain;   // field 8
    std::string MVOffset; // field 9
    std::string Cal[12];  // fields 10..21: coefficients 0..9, A, B
};

// Whether a line is the sensor's answer to Information: it carries the
// version tag "V:". Readings of a sensor still streaming from an earlier
// session never do, so they cannot be taken for the answer.
bool IsInformationAnswer(const std::string& Line);

// Whether a line has the whole form of an Information answer, so that noise
// that happens to carry "V:" is not taken for one: printable characters only;
// 21 comma-separated fields; the first "V:" and the four version characters;
// every other field its tag (2 characters, 3 for fields 3, 20 and 21) before
// its value; the ID field two upper-case hexadecimal digits of 176 + 1..77,
// the mode "0" to "3", the ranges decimal digits; the last field's value
// followed by the line's closing character.
bool IsInformationForm(const std::string& Line);

// Splits one Information line. Each field after the first starts after the
// previous comma and skips its 2- or 3-character tag; missing fields are
// empty, and the last field runs to the line's last character but one.
TInformation ParseInformation(const std::string& Line);

// The fields by name, in the sensor's order ("version", "id", "mode",
// "minus_range", "plus_range", ..., "cal0".."cal11"), as vorta-cli prints
// them and the broker gets them. The dial is the window's picture, no field.
std::vector<std::pair<std::string, std::string>> InformationFields(const TInformation& I);

// The dial picture for a mode and plus range, or "" when the mode is none of
// "0".."3" (the dial then stays as it is).
std::string ChooseDial(const std::string& PRange, const std::string& Mode);

// Angle Data: the two request bytes for an ID (176 + ID, modulo 256, then 5)
// and the form shown in the status bar ("B1 05 - HEX").
std::string AngleDataRequest(int ID);
std::string AngleDataText(const std::string& Request);

// Serial line-error bits (the platform's CE_ flags) and their texts, in the
// order the console tests them.
struct TCommErrorText {
    unsigned Flag;
    const char* Text;
};
extern const TCommErrorText CommErrorTexts[11];

// The text left shown for a set of error bits: that of the last set flag in
// the order above; "" when none of them is set.
std::string CommErrorText(unsigned Errors);
