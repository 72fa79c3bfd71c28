// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz entry for the profile reader. A text that parses is written and read
// again into the same profile, and written again into the same text. A text
// refused, and every warning, gives a message that holds no control byte
// (no C0, DEL or C1) and quotes no more of the file than a quote may hold:
// every character of the message beyond the reader's own words is the
// file's name or inside a quote, so a message is never longer than its two
// quotes and the longest fixed text.
#include "Formats.h"
#include "Profile.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string FileName = "fuzz.ini";

void Require(bool Ok) {
    if (!Ok) std::abort();
}

// Characters (code points, an invalid byte one each) of a message.
std::size_t Chars(const std::string& Text) {
    std::size_t N = 0;
    for (const char C : Text)
        N += (static_cast<unsigned char>(C) & 0xC0) != 0x80;
    return N;
}

void CheckMessage(const std::string& Text) {
    for (std::size_t i = 0; i < Text.size(); ++i) {
        const auto C = static_cast<unsigned char>(Text[i]);
        Require(C >= 0x20 && C != 0x7F);
        Require(!(C == 0xC2 && i + 1 < Text.size() &&
                  static_cast<unsigned char>(Text[i + 1]) >= 0x80 &&
                  static_cast<unsigned char>(Text[i + 1]) <= 0x9F));
    }
    // Two quotes with their marks, the file, the line number and the words.
    Require(Chars(Text) <= 2 * (ExcerptChars + 3) + FileName.size() + 12 + 200);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Bytes, std::size_t Size) {
    const std::string Text(reinterpret_cast<const char*>(Bytes), Size);
    std::vector<std::string> Warnings;
    TProfile P;
    try {
        P = ParseProfile(Text, FileName, &Warnings);
    } catch (const EProfileError& E) {
        CheckMessage(E.what());
        return 0;
    }
    for (const std::string& W : Warnings)
        CheckMessage(W);
    const std::string Written = ProfileText(P);
    const TProfile Again = ParseProfile(Written, FileName);
    Require(Again == P);
    Require(ProfileText(Again) == Written);
    return 0;
}
