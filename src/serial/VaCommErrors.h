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

// The text for Failure with the platform error number Error (errno);
// Device is used by TVaCommFailure::Open only.
std::string VaCommErrorText(TVaCommFailure Failure, int Error,
                            const std::string& Device = std::string());
