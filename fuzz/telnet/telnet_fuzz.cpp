// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz entry for the Telnet decoder of network ports. Byte 0 chooses the
// form of the rest and how many piece sizes follow (low three bits, as the
// receiver's entry reads them); the input is then decoded whole, byte by
// byte, and in those pieces, and every split must give the same payload,
// replies and error count.
//
// Bit 7 of byte 0 clear: the rest is a raw stream. Replies are whole
// three-byte commands and never outgrow the requests (a reply answers a
// request of three bytes), and the payload never outgrows the input.
//
// Bit 7 set: the rest is a script that builds a stream whose payload is
// known: runs of the letters A..Z and doubled 0xFF, between negotiations,
// sub-negotiations (within the bound, beyond it, cut short by a command)
// and commands in error, each of which must give exactly one SUB. The
// decoded payload must be that payload exactly: no byte from inside a
// negotiation or sub-negotiation ever reaches it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "VaNet.h"

namespace {

using namespace VaNet;

struct TOutcome {
    std::string Payload, Reply;
    uint64_t Errors = 0;
    bool operator==(const TOutcome& O) const {
        return Payload == O.Payload && Reply == O.Reply && Errors == O.Errors;
    }
};

TOutcome Decode(const std::string& In, const std::vector<size_t>& Pieces) {
    TTelnet T;
    T.Start();
    TOutcome O;
    const auto* P = reinterpret_cast<const uint8_t*>(In.data());
    size_t At = 0;
    for (size_t i = 0; At < In.size(); i = (i + 1) % Pieces.size()) {
        const size_t N = std::min(Pieces[i], In.size() - At);
        T.Decode(P + At, int(N), O.Payload, O.Reply);
        At += N;
    }
    O.Errors = T.ProtocolErrors();
    return O;
}

// Reads the script's bytes; 0 once they are used up.
struct TScript {
    const uint8_t* P;
    size_t Left;
    uint8_t Next() {
        if (Left == 0) return 0;
        --Left;
        return *P++;
    }
};

// A command that leaves the data alone, or one in error, as the script says.
// Cutting a sub-negotiation short, it is no SE, which would end it properly.
void Command(TScript& S, std::string& Wire, std::string& Want, uint64_t& Errors, bool InSb) {
    static const uint8_t Harmless[] = {NOP, DM, AYT, GA};
    static const uint8_t Editing[] = {243, 244, 245, 247, 248}; // BRK IP AO EC EL
    const uint8_t B = S.Next();
    Wire += char(IAC);
    switch (B % 3) {
    case 0:
        Wire += char(WILL + S.Next() % 4);
        Wire += char(S.Next());
        break;
    case 1:
        Wire += char(Harmless[S.Next() % 4]);
        break;
    default: {
        // Any byte below SE, a stray SE, or a command that edits the data.
        const uint8_t C = S.Next();
        Wire += char(C < SE ? C : C % 2 && !InSb ? uint8_t(SE) : Editing[C % 5]);
        Want += char(TTelnet::Substitute);
        ++Errors;
    }
    }
}

// The script's stream, with the payload and error count it must decode to.
void Build(TScript S, std::string& Wire, std::string& Want, uint64_t& Errors) {
    while (S.Left > 0) {
        const uint8_t Op = S.Next();
        switch (Op % 4) {
        case 0:
            for (int n = Op / 4 % 16; n >= 0; --n) {
                const uint8_t L = S.Next();
                const char C = L % 27 == 26 ? char(IAC) : char('A' + L % 27);
                Wire += C;
                if (C == char(IAC)) Wire += C;
                Want += C;
            }
            break;
        case 1:
        case 2:
            Command(S, Wire, Want, Errors, false);
            break;
        default: {
            // The option and body: any bytes, 0xFF doubled; long ones
            // pass the bound.
            Wire += char(IAC);
            Wire += char(SB);
            const int Length = 1 + S.Next() * 3;
            for (int i = 0; i < Length; ++i) {
                const uint8_t B = uint8_t(S.Next() + i);
                Wire += char(B);
                if (B == IAC) Wire += char(IAC);
            }
            if (Length > TTelnet::MaxSubnegotiation) {
                Want += char(TTelnet::Substitute);
                ++Errors;
            }
            if (Op & 4) {
                Wire += char(IAC);
                Wire += char(SE);
            } else {
                Want += char(TTelnet::Substitute);
                ++Errors;
                Command(S, Wire, Want, Errors, true);
            }
        }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Bytes, size_t Size) {
    if (Size == 0) return 0;
    size_t Header = std::min(Size, size_t(1 + (Bytes[0] & 7)));
    std::vector<size_t> Pieces;
    for (size_t i = 1; i < Header; ++i)
        if (Bytes[i] % 64) Pieces.push_back(Bytes[i] % 64);
    if (Pieces.empty()) Pieces.push_back(1);

    std::string In, Want;
    uint64_t Errors = 0;
    const bool Scripted = Bytes[0] & 0x80;
    if (Scripted)
        Build({Bytes + Header, Size - Header}, In, Want, Errors);
    else
        In.assign(reinterpret_cast<const char*>(Bytes + Header), Size - Header);

    const TOutcome Whole = Decode(In, {In.size() ? In.size() : 1});
    if (!(Decode(In, {1}) == Whole) || !(Decode(In, Pieces) == Whole)) std::abort();
    if (Whole.Reply.size() % 3 != 0 || Whole.Reply.size() > In.size() ||
        Whole.Payload.size() > In.size())
        std::abort();
    for (size_t i = 0; i < Whole.Reply.size(); i += 3)
        if (uint8_t(Whole.Reply[i]) != IAC || uint8_t(Whole.Reply[i + 1]) < WILL) std::abort();
    if (Scripted && (Whole.Payload != Want || Whole.Errors != Errors)) std::abort();
    return 0;
}
