// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz entry for a broker's URL as a profile's Broker= line or --mqtt gives
// it, and for what messages may quote of any text. Checked: after RedactUrl
// no word holds user information but "***" (and redacting again changes
// nothing); QuotedRedacted shows no byte that is not printable ASCII;
// ParseMqttUrl accepts only a URL without user information, with a host and
// a port of 1 to 65535, and refuses with a message that quotes neither user
// information nor a control byte.
#include "MqttClient.h"
#include "Redact.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool Ok) {
    if (!Ok) std::abort();
}

// No word of Text (as RedactUrl splits it) keeps user information.
void CheckNoUserInfo(const std::string& Text) {
    size_t i = 0;
    while (i < Text.size()) {
        size_t End = i;
        while (End < Text.size() && !RedactDetail::Delimits(Text[End]))
            ++End;
        const std::string Word = Text.substr(i, End - i);
        const size_t At = Word.rfind('@');
        const size_t Scheme = Word.find("://");
        if (At != std::string::npos && (Scheme < At || Word.find(':') < At))
            Check(At >= 3 && Word.compare(At - 3, 3, "***") == 0);
        i = End == i ? i + 1 : End;
    }
}

void CheckPrintable(const std::string& Text) {
    for (const char C : Text)
        Check(static_cast<unsigned char>(C) >= 0x20 && static_cast<unsigned char>(C) < 0x7F);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const std::string Text(reinterpret_cast<const char*>(Data), Size);
    const std::string Redacted = RedactUrl(Text);
    CheckNoUserInfo(Redacted);
    Check(RedactUrl(Redacted) == Redacted);
    CheckPrintable(QuotedRedacted(Text));
    try {
        const TMqttUrl U = ParseMqttUrl(Text);
        Check(Text.find('@') == std::string::npos);
        Check(!U.Host.empty() && U.Port >= 1 && U.Port <= 65535);
    } catch (const EMqttError& E) {
        const std::string Message = E.what();
        CheckNoUserInfo(Message);
        CheckPrintable(Message);
    }
    return 0;
}
