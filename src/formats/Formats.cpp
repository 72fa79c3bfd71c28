// SPDX-License-Identifier: GPL-3.0-or-later
#include "Formats.h"

#include <charconv>
#include <cmath>

namespace {

constexpr char Hex[] = "0123456789abcdef";
constexpr std::string_view Replacement = "\xEF\xBF\xBD"; // U+FFFD

// The length of the valid UTF-8 sequence at Text[At] and its code point; 0
// when the byte there starts none (a stray continuation byte, an overlong
// form, a surrogate, beyond U+10FFFF, or cut short).
std::size_t Sequence(std::string_view Text, std::size_t At, char32_t& Code) {
    const auto B = [&](std::size_t i) { return static_cast<unsigned char>(Text[At + i]); };
    const unsigned char First = B(0);
    if (First < 0x80) {
        Code = First;
        return 1;
    }
    std::size_t Length;
    char32_t Min;
    if (First >= 0xC2 && First <= 0xDF) {
        Length = 2, Min = 0x80, Code = First & 0x1F;
    } else if (First >= 0xE0 && First <= 0xEF) {
        Length = 3, Min = 0x800, Code = First & 0x0F;
    } else if (First >= 0xF0 && First <= 0xF4) {
        Length = 4, Min = 0x10000, Code = First & 0x07;
    } else {
        return 0;
    }
    if (Text.size() - At < Length) return 0;
    for (std::size_t i = 1; i < Length; ++i) {
        if ((B(i) & 0xC0) != 0x80) return 0;
        Code = (Code << 6) | (B(i) & 0x3F);
    }
    if (Code < Min || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) return 0;
    return Length;
}

// C0, DEL and C1: what a terminal may take as a command.
bool IsControl(char32_t Code) {
    return Code < 0x20 || (Code >= 0x7F && Code <= 0x9F);
}

void HexEscape(std::string& Out, const char* Prefix, unsigned Value, int Digits) {
    Out += Prefix;
    for (int Shift = (Digits - 1) * 4; Shift >= 0; Shift -= 4)
        Out += Hex[(Value >> Shift) & 0xF];
}

// Calls Each(code point, its bytes) for every valid sequence, Invalid(byte)
// for every byte that starts none.
template <class TEach, class TInvalid>
void Walk(std::string_view Text, TEach Each, TInvalid Invalid) {
    for (std::size_t At = 0; At < Text.size();) {
        char32_t Code = 0;
        const std::size_t N = Sequence(Text, At, Code);
        if (N == 0) {
            Invalid(static_cast<unsigned char>(Text[At]));
            ++At;
        } else {
            Each(Code, Text.substr(At, N));
            At += N;
        }
    }
}

// The short escapes plain text and JSON share; JSON adds the quote, \b
// and \f. Null for any other character.
const char* ShortEscape(char32_t Code, bool Json) {
    switch (Code) {
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '\t':
        return "\\t";
    case '\\':
        return "\\\\";
    case '"':
        return Json ? "\\\"" : nullptr;
    case '\b':
        return Json ? "\\b" : nullptr;
    case '\f':
        return Json ? "\\f" : nullptr;
    default:
        return nullptr;
    }
}

// The line protocol's elements: Escaped characters and the backslash get a
// backslash; controls become '_'.
std::string Influx(std::string_view Text, std::string_view Escaped) {
    std::string Out;
    Walk(
        Text,
        [&](char32_t Code, std::string_view Bytes) {
            if (IsControl(Code)) {
                Out += '_';
                return;
            }
            if (Code == '\\' || (Code < 0x80 && Escaped.find(char(Code)) != std::string::npos))
                Out += '\\';
            Out += Bytes;
        },
        [&](unsigned char) { Out += Replacement; });
    return Out;
}

} // namespace

std::string PlainText(std::string_view Text) {
    std::string Out;
    Out.reserve(Text.size());
    Walk(
        Text,
        [&](char32_t Code, std::string_view Bytes) {
            if (const char* E = ShortEscape(Code, false)) {
                Out += E;
                return;
            }
            if (IsControl(Code)) {
                for (const char B : Bytes)
                    HexEscape(Out, "\\x", static_cast<unsigned char>(B), 2);
                return;
            }
            Out += Bytes;
        },
        [&](unsigned char B) { HexEscape(Out, "\\x", B, 2); });
    return Out;
}

std::string QuotedExcerpt(std::string_view Text, std::size_t MaxChars) {
    std::string Out = "'";
    std::size_t Chars = 0;
    bool Cut = false;
    // Each source character's shown form goes in whole or not at all.
    Walk(
        Text,
        [&](char32_t, std::string_view Bytes) {
            if (Cut) return;
            const std::string Shown = PlainText(Bytes);
            // Shown is ASCII (an escape) or the one character itself.
            const std::size_t Width = Shown == Bytes && Bytes.size() > 1 ? 1 : Shown.size();
            if (Chars + Width > MaxChars) {
                Cut = true;
                return;
            }
            Chars += Width;
            Out += Shown;
        },
        [&](unsigned char B) {
            if (Cut) return;
            if (Chars + 4 > MaxChars) {
                Cut = true;
                return;
            }
            Chars += 4;
            HexEscape(Out, "\\x", B, 2);
        });
    Out += '\'';
    if (Cut) Out += "\xE2\x80\xA6"; // …
    return Out;
}

std::string CsvField(std::string_view Field) {
    std::string Clean;
    Clean.reserve(Field.size());
    Walk(
        Field,
        [&](char32_t Code, std::string_view Bytes) {
            if (Code == 0)
                Clean += Replacement;
            else
                Clean += Bytes;
        },
        [&](unsigned char) { Clean += Replacement; });
    if (Clean.find_first_of(",\"\r\n") == std::string::npos) return Clean;
    std::string Out = "\"";
    for (const char C : Clean) {
        if (C == '"') Out += '"';
        Out += C;
    }
    return Out + '"';
}

std::string JsonString(std::string_view Text) {
    std::string Out = "\"";
    Walk(
        Text,
        [&](char32_t Code, std::string_view Bytes) {
            if (const char* E = ShortEscape(Code, true)) {
                Out += E;
                return;
            }
            if (IsControl(Code) || Code == 0x2028 || Code == 0x2029)
                HexEscape(Out, "\\u", static_cast<unsigned>(Code), 4);
            else
                Out += Bytes;
        },
        [&](unsigned char) { Out += "\\ufffd"; });
    return Out + '"';
}

std::string JsonNumber(double V) {
    if (!std::isfinite(V)) return "null";
    char Buf[40];
    const auto R = std::to_chars(Buf, Buf + sizeof Buf, V);
    return std::string(Buf, R.ptr);
}

TJsonObject& TJsonObject::Member(std::string_view Key, std::string_view Json) {
    if (FText.size() > 1) FText += ',';
    FText += JsonString(Key);
    FText += ':';
    FText += Json;
    return *this;
}

TJsonObject& TJsonObject::String(std::string_view Key, std::string_view Value) {
    return Member(Key, JsonString(Value));
}

TJsonObject& TJsonObject::Number(std::string_view Key, double Value) {
    return Member(Key, JsonNumber(Value));
}

TJsonObject& TJsonObject::Integer(std::string_view Key, long long Value) {
    return Member(Key, std::to_string(Value));
}

TJsonObject& TJsonObject::Null(std::string_view Key) {
    return Member(Key, "null");
}

TJsonObject& TJsonObject::Raw(std::string_view Key, std::string_view Json) {
    return Member(Key, Json);
}

std::string InfluxMeasurement(std::string_view Name) {
    return Influx(Name, ", ");
}

std::string InfluxKey(std::string_view Name) {
    return Influx(Name, ",= ");
}

std::string InfluxString(std::string_view Value) {
    return '"' + Influx(Value, "\"") + '"';
}
