// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz entry for the answer receiver. After a short header, the bytes are
// received whole, byte by byte, and in the pieces the header gives; every
// split must give the same lines, readings and state as the whole. Noise is
// never a reading: each value handed on is its frame's whole text read
// again, bit for bit, with the ID its own bytes name (two upper-case hex
// digits, 176 + 1..77, found again from the raw bytes as they came); a frame
// refused as malformed lacks one of the two.
//
// Header: byte 0 holds the count of piece sizes that follow (low three bits)
// and the decimal separator (top bit: comma, else point); each size byte
// gives a piece of (size % 64) bytes, 0 being an empty receive event. The
// sizes repeat until the input is used up.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AnswerReceiver.h"

namespace {

// The value text read again by the C library (the process keeps the "C"
// locale), independent of the receiver's own parser: true when the whole
// text, blanks around it aside, is one finite number.
bool ReadsWhole(std::string Text, char Separator, double& Value) {
    for (char& C : Text)
        if (C == Separator) C = '.';
    const std::size_t Begin = Text.find_first_not_of(' ');
    const std::size_t End = Text.find_last_not_of(' ');
    if (Begin == std::string::npos) return false;
    Text = Text.substr(Begin, End - Begin + 1);
    char* Stop = nullptr;
    Value = std::strtod(Text.c_str(), &Stop);
    return Stop == Text.c_str() + Text.size() && std::isfinite(Value);
}

// The ID a frame names, found from its raw bytes, which end with its "$":
// the last two characters before it that the receiver keeps (it drops STX,
// LF, ETB and a "$" before the frame's ETB).
// -1 when they are not 176 + 1..77 in upper-case hexadecimal.
int IdFromRaw(const std::string& Raw) {
    std::string Kept;
    for (std::size_t i = Raw.empty() ? 0 : Raw.size() - 1; i-- > 0 && Kept.size() < 2;) {
        const char C = Raw[i];
        if (C != 2 && C != 10 && C != 23 && C != '$') Kept.insert(Kept.begin(), C);
    }
    if (Kept.size() != 2) return -1;
    int Byte = 0;
    for (const char C : Kept) {
        const char* Digits = "0123456789ABCDEF";
        const char* At = C ? std::strchr(Digits, C) : nullptr;
        if (!At) return -1;
        Byte = Byte * 16 + int(At - Digits);
    }
    return Byte - 176 >= 1 && Byte - 176 <= 77 ? Byte - 176 : -1;
}

std::uint64_t Bits(double Value) {
    std::uint64_t B;
    std::memcpy(&B, &Value, sizeof B);
    return B;
}

struct Outcome {
    std::vector<std::string> Lines;
    std::vector<std::uint64_t> Values; // bit patterns: compared exactly
    std::vector<int> Ids;              // the ID of each value
    std::vector<std::string> Malformed;
    std::string Buffer;      // the text waiting for its end
    std::string Raw;         // every byte handed on raw
    std::size_t LineEnd = 0; // in Raw, where the last line or frame ended
    std::string FrameRaw;    // the raw bytes of the frame being handed on
    bool operator==(const Outcome& O) const {
        return Lines == O.Lines && Values == O.Values && Ids == O.Ids && Malformed == O.Malformed &&
               Buffer == O.Buffer;
    }
};

// What a receiver keeps besides the buffer (an ETB seen, where the frame's
// text begins) shows in how it takes these bytes: a "$" that is accepted only
// after an ETB, then a frame whose value starts at the last STX.
const char Probe[] = "$7.5B1\x17$\r";

Outcome Run(const char* Data, std::size_t Size, const std::vector<std::size_t>& Pieces,
            char Separator) {
    std::string Buffer;
    TAnswerReceiver R(Buffer);
    R.DecimalSeparator = Separator;
    Outcome O;
    R.OnLine = [&O](const std::string& Line) {
        O.Lines.push_back(Line);
        // The bytes of this line or frame alone: a line cut at MaxLine
        // leaves no mark among them.
        O.FrameRaw = O.Raw.substr(O.LineEnd);
        O.LineEnd = O.Raw.size();
    };
    R.OnRaw = [&O](const std::string& Bytes) { O.Raw += Bytes; };
    R.OnValue = [&O, &R, Separator](double Value) {
        double Again = 0;
        const int Id = IdFromRaw(O.FrameRaw);
        if (!R.LineIsFrame() || !R.FrameIsReading() ||
            !ReadsWhole(R.ValueText(), Separator, Again) || Bits(Again) != Bits(Value) || Id < 1 ||
            R.FrameId() != Id)
            std::abort();
        O.Values.push_back(Bits(Value));
        O.Ids.push_back(Id);
    };
    R.OnMalformed = [&O, &R, Separator](const std::string& Text) {
        double Value = 0;
        if (!R.LineIsFrame() || R.FrameIsReading() ||
            (IdFromRaw(O.FrameRaw) > 0 && ParseValueText(R.ValueText(), Separator, Value)))
            std::abort();
        O.Malformed.push_back(Text);
    };
    std::size_t At = 0;
    for (std::size_t i = 0; At < Size; i = (i + 1) % Pieces.size()) {
        const std::size_t N = Pieces[i] < Size - At ? Pieces[i] : Size - At;
        R.Receive(Data + At, N);
        At += N;
    }
    O.Buffer = Buffer;
    R.Receive(Probe, sizeof Probe - 1);
    return O;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Bytes, std::size_t Size) {
    if (Size == 0) return 0;
    const char Separator = (Bytes[0] & 0x80) ? ',' : '.';
    std::size_t Header = 1 + (Bytes[0] & 7);
    if (Header > Size) Header = Size;
    std::vector<std::size_t> Pieces;
    std::size_t Sum = 0;
    for (std::size_t i = 1; i < Header; ++i) {
        Pieces.push_back(Bytes[i] % 64);
        Sum += Pieces.back();
    }
    if (Sum == 0) Pieces.push_back(1);
    const char* Data = reinterpret_cast<const char*>(Bytes + Header);
    const std::size_t Length = Size - Header;

    const Outcome Whole = Run(Data, Length, {Length > 0 ? Length : 1}, Separator);
    if (!(Run(Data, Length, {1}, Separator) == Whole)) std::abort();
    if (!(Run(Data, Length, Pieces, Separator) == Whole)) std::abort();
    return 0;
}
