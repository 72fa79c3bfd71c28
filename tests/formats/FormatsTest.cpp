// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile texts through every format: each must come out whole, on one line,
// with no control byte a terminal or a parser would act on.
#include "Formats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {
using namespace std::string_literals;
// Texts every table below takes: a forged line, a terminal escape, a NUL, a
// C1 control, an invalid byte, the format's own separators.
const std::string Forged = "1\nvorta/50\t2024\t99", Escape = "\x1b[2J", Nul = "a\0b"s,
                  C1 = "x\xC2\x9By", Invalid = "\xFF\xC3", Separators = "a,b=c d\"e\\";
} // namespace

TEST(Formats, PlainTextShowsEveryControl) {
    const std::pair<std::string, std::string> Cases[] = {
        {Forged, "1\\nvorta/50\\t2024\\t99"},
        {Escape, "\\x1b[2J"},
        {Nul, "a\\x00b"},
        {C1, "x\\xc2\\x9by"},
        {Invalid, "\\xff\\xc3"},
        {Separators, "a,b=c d\"e\\\\"},
        {"\r\x7F\xC3\xA9", "\\r\\x7f\xC3\xA9"},
    };
    for (const auto& [In, Out] : Cases)
        EXPECT_EQ(PlainText(In), Out) << Out;
}

TEST(Formats, QuotedExcerptCutsAtTheBoundWithoutSplittingAnEscape) {
    const std::pair<std::string, std::string> Cases[] = {
        {"", "''"},
        {Escape + "ok", "'\\x1b[2Jok'"},
        {std::string(80, 'n'), "'" + std::string(80, 'n') + "'"},
        {std::string(81, 'n'), "'" + std::string(80, 'n') + "'\xE2\x80\xA6"},
        {std::string(78, 'n') + "\x1b", "'" + std::string(78, 'n') + "'\xE2\x80\xA6"},
        {std::string(79, 'n') + "\xC3\xA9\xC3\xA9",
         "'" + std::string(79, 'n') + "\xC3\xA9'\xE2\x80\xA6"},
    };
    for (const auto& [In, Out] : Cases)
        EXPECT_EQ(QuotedExcerpt(In), Out) << Out;
}

TEST(Formats, CsvFieldFollowsRfc4180AndKeepsNoNul) {
    const std::pair<std::string, std::string> Cases[] = {
        {Forged, "\"" + Forged + "\""},
        {Escape, Escape},
        {Nul, "a\xEF\xBF\xBD"
              "b"},
        {Invalid, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {Separators, "\"a,b=c d\"\"e\\\""},
        {"two\r\nlines", "\"two\r\nlines\""},
    };
    for (const auto& [In, Out] : Cases)
        EXPECT_EQ(CsvField(In), Out) << Out;
}

TEST(Formats, JsonEscapesEveryControlAndNoNumberIsInvalid) {
    const std::pair<std::string, std::string> Cases[] = {
        {Forged, "\"1\\nvorta/50\\t2024\\t99\""},
        {Escape, "\"\\u001b[2J\""},
        {Nul, "\"a\\u0000b\""},
        {C1, "\"x\\u009by\""},
        {Invalid, "\"\\ufffd\\ufffd\""},
        {Separators, "\"a,b=c d\\\"e\\\\\""},
        {"\b\f\r\x7F\xE2\x80\xA8", "\"\\b\\f\\r\\u007f\\u2028\""},
    };
    for (const auto& [In, Out] : Cases)
        EXPECT_EQ(JsonString(In), Out) << Out;
    EXPECT_EQ(TJsonObject()
                  .String("k\n", Forged)
                  .Number("v", 12.5)
                  .Number("n", std::nan(""))
                  .Integer("id", 5)
                  .Null("mode")
                  .Raw("o", "{}")
                  .Text(),
              "{\"k\\n\":\"1\\nvorta/50\\t2024\\t99\",\"v\":12.5,\"n\":null,\"id\":5,"
              "\"mode\":null,\"o\":{}}");
}

TEST(Formats, LineProtocolElementsCannotLeaveTheirPlace) {
    const struct {
        std::string In, Measurement, Key, String;
    } Cases[] = {
        {Forged, "1_vorta/50_2024_99", "1_vorta/50_2024_99", "\"1_vorta/50_2024_99\""},
        {Escape, "_[2J", "_[2J", "\"_[2J\""},
        {Nul + C1, "a_bx_y", "a_bx_y", "\"a_bx_y\""},
        {Invalid, "\xEF\xBF\xBD\xEF\xBF\xBD", "\xEF\xBF\xBD\xEF\xBF\xBD",
         "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {Separators, "a\\,b=c\\ d\"e\\\\", "a\\,b\\=c\\ d\"e\\\\", "\"a,b=c d\\\"e\\\\\""},
    };
    for (const auto& C : Cases) {
        EXPECT_EQ(InfluxMeasurement(C.In), C.Measurement) << C.Measurement;
        EXPECT_EQ(InfluxKey(C.In), C.Key) << C.Key;
        EXPECT_EQ(InfluxString(C.In), C.String) << C.String;
    }
}
