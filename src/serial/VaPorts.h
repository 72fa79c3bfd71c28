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
// A port box text to a device path: a text starting with "/" is a path; a
// name gives /dev/tty<name> when that exists, else /dev/<name>. "COM<n>" is
// left to the caller (PortNum with the default DeviceName).
std::string PortDevicePath(const std::string& Name);
// Names of the serial ports the system reports, in its order.
std::vector<std::string> ListSerialPortNames();
// A present port as a listing shows it: the name the port box takes, the
// device, the system's description, the stable /dev/serial/by-id link when
// there is one, and whether another program holds it.
struct TSerialPortInfo {
    std::string Name, Path, Description, ById;
    bool Busy = false;
};
std::vector<TSerialPortInfo> ListSerialPorts();
// Tries the component's exclusive open and closes again: false for a missing
// device or one held by another program.
bool CanOpenDevice(const std::string& Path);
