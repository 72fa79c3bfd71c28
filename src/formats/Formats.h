// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a text that came from somewhere else (the wire, a broker, a file)
// into an output, so that it can never end a line, open a field, reach a
// terminal as an escape sequence or be cut short: one function per format
// and kind of place in it. Texts are taken as UTF-8; a byte that is no part
// of a valid UTF-8 sequence is written as each format can carry it.
//
// Plain functions of their arguments, no Qt; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// ---- Plain text (a terminal, a message, a log line)

// Text with every control character shown: "\n", "\r", "\t", "\\" for a
// backslash (so that a shown escape cannot be faked), "\xHH" (lower-case
// hex) for the other C0 controls, DEL, each byte of a C1 control
// (U+0080..U+009F) and each byte of an invalid UTF-8 sequence. Everything
// else is kept. The result holds no byte below 0x20, no DEL and no C1.
std::string PlainText(std::string_view Text);

// Text as a message quotes it: 'PlainText(Text)', cut after MaxChars
// characters of the shown form (an escape is never split) and then marked
// with "…" after the closing quote.
std::string QuotedExcerpt(std::string_view Text, std::size_t MaxChars = 80);
constexpr std::size_t ExcerptChars = 80;

// ---- CSV (RFC 4180)

// One field: quoted, its quotes doubled, when it holds a comma, a quote, CR
// or LF; else as it is. A NUL (which cuts a row short for many readers) and
// a byte of an invalid UTF-8 sequence become U+FFFD.
std::string CsvField(std::string_view Field);

// ---- JSON (RFC 8259)

// Text as a JSON string with its quotes: '"' and '\' escaped, every control
// character escaped (\b \f \n \r \t, else \u00hh), DEL, C1 controls and the
// line and paragraph separators U+2028/U+2029 escaped as \u too, so that the
// result is safe on a terminal and in a script; each byte of an invalid
// UTF-8 sequence becomes \ufffd.
std::string JsonString(std::string_view Text);
// The shortest text that reads back as V; "null" for a NaN or an infinity.
std::string JsonNumber(double V);

// A flat JSON object built member by member, in the order added. Keys are
// the caller's own names and are escaped all the same.
class TJsonObject {
  public:
    TJsonObject& String(std::string_view Key, std::string_view Value);
    TJsonObject& Number(std::string_view Key, double Value);
    TJsonObject& Integer(std::string_view Key, long long Value);
    TJsonObject& Null(std::string_view Key);
    // Value must be one whole JSON value (an object written by this class).
    TJsonObject& Raw(std::string_view Key, std::string_view Json);
    std::string Text() const { return FText + "}"; }

  private:
    TJsonObject& Member(std::string_view Key, std::string_view Json);
    std::string FText = "{";
};

// ---- InfluxDB line protocol
//
// The protocol has no way to carry a line break or other control character
// in any element: those become '_', and a byte of an invalid UTF-8 sequence
// U+FFFD. A backslash is doubled everywhere, so that no text can escape the
// separator after it.

// A measurement: ',' and ' ' escaped with a backslash.
std::string InfluxMeasurement(std::string_view Name);
// A tag key, a tag value or a field key: ',', '=' and ' ' escaped. An empty
// tag value cannot be written: the caller leaves the tag out.
std::string InfluxKey(std::string_view Name);
// A field's string value with its quotes: '"' escaped.
std::string InfluxString(std::string_view Value);
