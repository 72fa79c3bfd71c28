// SPDX-License-Identifier: GPL-3.0-or-later
#include "VaCommErrors.h"

#include <cerrno>

#include "VaPosix.h"

std::string VaCommErrorText(TVaCommFailure Failure, int Error, const std::string& Device) {
    const std::string Detail = " (" + std::to_string(Error) + "), " + VaPosix::ErrorText(Error);
    switch (Failure) {
    case TVaCommFailure::Open:
        // A missing device is the common slip (a misspelt port, an adapter
        // not plugged in): said plainly, without the error number.
        if (Error == ENOENT) return "Specified device not found (" + Device + ").";
        return "Can't open specified device " + Device + " (Error " + std::to_string(Error) + ", " +
               VaPosix::ErrorText(Error) + ")";
    case TVaCommFailure::WriteDcb:
        return "Error writing dcb" + Detail;
    case TVaCommFailure::Timeouts:
        return "Error setting timeouts" + Detail;
    case TVaCommFailure::Write:
        return "Write error" + Detail;
    case TVaCommFailure::Read:
        return "Read error" + Detail;
    case TVaCommFailure::Statistics:
        return "Error retrieving statistics" + Detail;
    case TVaCommFailure::Function:
        return "Error calling comm function" + Detail;
    }
    return "Serial port error" + Detail;
}

std::string PortOpenAdvice(int Error) {
    switch (Error) {
    case ENOTTY:
        return "not a serial device";
    case EACCES:
    case EPERM:
        return "permission denied: add your user to the dialout group (sudo adduser $USER dialout) "
               "and log in again";
    case EBUSY:
        return "in use by another program";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "check the port name and that the adapter is plugged in";
    default:
        return "";
    }
}
