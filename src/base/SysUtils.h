// SPDX-License-Identifier: GPL-3.0-or-later
// Base exception class and the number conversions every subsystem shares.
// No Qt: the raster core and the PNG reader use this too.
#pragma once

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <string>

// Root of every exception class of the system. The message is what the
// application's exception handler shows and logs.
class Exception : public std::exception {
  public:
    explicit Exception(std::string Msg) : FMessage(std::move(Msg)) {}
    const std::string& Message() const { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

  private:
    std::string FMessage;
};

// A text that is not a number where a number is required.
class EConvertError : public Exception {
  public:
    using Exception::Exception;
};

// An input/output failure on a file (settings, log, help text).
class EInOutError : public Exception {
  public:
    using Exception::Exception;
};

// Integer conversion of an entry: leading blanks, an optional sign, then
// decimal digits or "$"/"0x" followed by hexadecimal digits; nothing after.
// Anything else, or a value outside 32 bits, raises EConvertError with
// "'<text>' is not a valid integer value".
inline bool TryStrToInt(const std::string& S, int& Value) {
    size_t i = 0;
    while (i < S.size() && (S[i] == ' ' || S[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < S.size() && (S[i] == '+' || S[i] == '-')) negative = S[i++] == '-';
    int base = 10;
    if (i < S.size() && S[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < S.size() && S[i] == '0' && (S[i + 1] == 'x' || S[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= S.size()) return false;
    long long v = 0;
    for (; i < S.size(); ++i) {
        int d;
        char c = S[i];
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * base + d;
        if (v > 0x100000000LL) return false;
    }
    if (negative) v = -v;
    // Hexadecimal texts may spell the full 32-bit pattern ("$FFFFFFFF" is -1).
    if (base == 16 && !negative && v > INT_MAX && v <= 0xFFFFFFFFLL) v -= 0x100000000LL;
    if (v < INT_MIN || v > INT_MAX) return false;
    Value = static_cast<int>(v);
    return true;
}

inline int StrToInt(const std::string& S) {
    int v = 0;
    if (!TryStrToInt(S, v)) throw EConvertError("'" + S + "' is not a valid integer value");
    return v;
}
