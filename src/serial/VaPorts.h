// SPDX-License-Identifier: GPL-3.0-or-later
// Port names and the list of present serial ports.
//
// A port is named by its path below /dev with a leading "tty" dropped:
// /dev/ttyUSB0 is "USB0", /dev/ttyS0 "S0", /dev/pts/3 "pts/3". Such names fit
// the settings record's 6-character port field. Any thread.
#pragma once

#include <string>
#include <vector>

// "/dev/ttyUSB0" -> "USB0", "/dev/pts/3" -> "pts/3"; a path outside /dev
// stays as it is.
std::string PortNameFromPath(const std::string& Path);
// A port name to a device path: a text starting with "/" is a path, and a
// network port stays as it is; a name gives /dev/tty<name> when that
// exists, else /dev/<name>.
std::string PortDevicePath(const std::string& Name);

class TVaCustomComm;

// What a port box text or a --port value names.
struct TPortTarget {
    std::string Path; // the device to open
    // n of "COM<n>", else 0: port n of the default DeviceName "/dev/ttyS%d".
    int ComNumber = 0;
    // The paths a name was looked for at, in order (one for COM<n> or a path).
    std::vector<std::string> Tried;
    // Said with a missing device: what the text may have been meant as.
    std::string Hint;
};
// "COM<n>" with a whole number n >= 1 (/dev/ttyS<n>), a full path, a name
// below /dev (see PortDevicePath), or a network port "rfc2217://HOST:PORT" or
// "tcp://HOST:PORT" (kept as it stands, raising EVaCommError when malformed);
// the console's Connect and vorta-cli share it. An empty text or a name that climbs out of /dev
// raises EVaCommError; a missing device is left to the open, which names the paths tried.
TPortTarget ResolvePortName(const std::string& Text);
// Sets Comm's DeviceName (and PortNum) to Target and opens it. A failed open
// raises EVaCommError with the engine's text followed by the cause and the
// fix (the paths tried for a missing name). Comm must be closed.
void OpenPortTarget(TVaCustomComm& Comm, const TPortTarget& Target);
// Names of the serial ports the system reports, in its order.
std::vector<std::string> ListSerialPortNames();
// A present port as a listing shows it: the name the port box takes, the
// device, the system's description, the stable /dev/serial/by-id link when
// there is one, and why this user cannot open it: 0 when free, else the errno
// of the open (EBUSY: another program holds it; EACCES: no permission).
struct TSerialPortInfo {
    std::string Name, Path, Description, ById;
    int OpenError = 0;
};
std::vector<TSerialPortInfo> ListSerialPorts();
// Tries the component's exclusive open and closes again: false for a missing
// device or one held by another program.
bool CanOpenDevice(const std::string& Path);
// The same, giving the open's errno (0 when the device can be opened); a
// network port is not connected to and gives 0.
int DeviceOpenError(const std::string& Path);
