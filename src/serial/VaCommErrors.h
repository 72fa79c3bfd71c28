// SPDX-License-Identifier: GPL-3.0-or-later
// The serial component's failures and their texts. Every text that names a
// platform error number is made here, from a fixed template per failure, so
// that no caller hands a format string to a printf-style function.
#pragma once

#include <string>

#include "SysUtils.h"

class EVaCommError : public Exception {
  public:
    using Exception::Exception;
};

// A device that could not be opened, with the platform's reason (errno), so
// that what the user sees can name the cause and the fix.
class EVaCommOpenError : public EVaCommError {
  public:
    EVaCommOpenError(const std::string& Message, int AError)
        : EVaCommError(Message), Error(AError) {}
    int Error;
};

// What was being done when the platform call failed.
enum class TVaCommFailure {
    Open,     // opening the device; the device's name goes into the text
    WriteDcb, // giving the device its line settings
    Timeouts, // putting the device into raw mode
    Write,
    Read,
    Statistics, // reading the queue counts
    Function    // a modem-line or break function
};

// The cause of a failed open and what the user can do about it, for the
// texts a user reads beside the engine's own; empty for a reason that has no
// advice of its own (the engine's text then says all there is).
std::string PortOpenAdvice(int Error);

// The text for Failure with the platform error number Error (errno);
// Device is used by TVaCommFailure::Open only.
std::string VaCommErrorText(TVaCommFailure Failure, int Error,
                            const std::string& Device = std::string());
