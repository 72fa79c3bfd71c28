// Fuzz entry for the answer receiver. After a short header, the bytes are
// received whole, byte by byte, and in the pieces the header gives; every
// split must give the same lines, readings and state as the whole.
//
// Header: byte 0 holds the count of piece sizes that follow (low three bits)
// and the decimal separator (top bit: comma, else point); each size byte
// gives a piece of (size % 64) bytes, 0 being an empty receive event. The
// sizes repeat until the input is used up.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AnswerReceiver.h"

namespace {

struct Outcome {
    std::vector<std::string> Lines;
    std::vector<std::uint64_t> Values; // bit patterns: compared exactly
    std::string Buffer;                // the text waiting for its end
    bool operator==(const Outcome& O) const {
        return Lines == O.Lines && Values == O.Values && Buffer == O.Buffer;
    }
};

// What a receiver keeps besides the buffer (an ETB seen, where the frame's
// text begins) shows in how it takes these bytes: a "$" that is accepted only
// after an ETB, then a frame whose value starts at the last STX.
const char Probe[] = "$7.5ab\x17$\r";

Outcome Run(const char* Data, std::size_t Size, const std::vector<std::size_t>& Pieces,
            char Separator) {
    std::string Buffer;
    TAnswerReceiver R(Buffer);
    R.DecimalSeparator = Separator;
    Outcome O;
    R.OnLine = [&O](const std::string& Line) { O.Lines.push_back(Line); };
    R.OnValue = [&O](double Value) {
        std::uint64_t Bits;
        std::memcpy(&Bits, &Value, sizeof Bits);
        O.Values.push_back(Bits);
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
