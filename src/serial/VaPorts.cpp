// SPDX-License-Identifier: GPL-3.0-or-later
#include "VaPorts.h"

#include <QSerialPortInfo>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>

#include "VaComm.h"
#include "VaCommErrors.h"
#include "VaNet.h"
#include "VaPosix.h"

std::string PortNameFromPath(const std::string& Path) {
    const std::string Dev = "/dev/";
    if (Path.compare(0, Dev.size(), Dev) != 0) return Path;
    std::string Name = Path.substr(Dev.size());
    if (Name.compare(0, 3, "tty") == 0 && Name.size() > 3) Name.erase(0, 3);
    return Name;
}

static bool Exists(const std::string& Path) {
    struct stat St;
    return stat(Path.c_str(), &St) == 0;
}

std::string PortDevicePath(const std::string& Name) {
    if ((!Name.empty() && Name[0] == '/') || VaNet::IsNetworkPort(Name)) return Name;
    std::string Tty = "/dev/tty" + Name;
    return Exists(Tty) ? Tty : "/dev/" + Name;
}

std::vector<std::string> ListSerialPortNames() {
    std::vector<std::string> Names;
    for (const QSerialPortInfo& Info : QSerialPortInfo::availablePorts())
        Names.push_back(PortNameFromPath(Info.systemLocation().toStdString()));
    return Names;
}

TPortTarget ResolvePortName(const std::string& Text) {
    TPortTarget T;
    // COM<n> only with digits after "COM": "COM-1" or "COM1x" read as a
    // number would open some other device than the one meant.
    const std::string Digits = Text.compare(0, 3, "COM") == 0 ? Text.substr(3) : "";
    if (!Digits.empty() && Digits.size() <= 9 &&
        Digits.find_first_not_of("0123456789") == std::string::npos && std::stoi(Digits) >= 1) {
        T.ComNumber = std::stoi(Digits);
        T.Path = "/dev/ttyS" + std::to_string(T.ComNumber);
        T.Tried = {T.Path};
        return T;
    }
    if (Text.empty())
        throw EVaCommError("No port given: name one below /dev (USB0, pts/3), COM<n>, a path or "
                           "rfc2217://HOST:PORT");
    if (VaNet::IsNetworkPort(Text)) {
        VaNet::TAddress A;
        std::string Why;
        if (!VaNet::ParseAddress(Text, A, Why)) throw EVaCommError(Why);
        T.Path = Text;
        T.Tried = {Text};
        return T;
    }
    if (Text[0] == '/') {
        T.Path = Text;
        T.Tried = {Text};
        return T;
    }
    if (Text == ".." || Text.compare(0, 3, "../") == 0 || Text.find("/../") != std::string::npos ||
        (Text.size() >= 3 && Text.compare(Text.size() - 3, 3, "/..") == 0))
        throw EVaCommError("'" + Text +
                           "' is not a port name: name one below /dev (USB0, pts/3) or a path");
    T.Tried = {"/dev/tty" + Text, "/dev/" + Text};
    T.Path = PortDevicePath(Text);
    if (Text.compare(0, 3, "COM") == 0) T.Hint = "COM<n> takes a whole number n from 1";
    return T;
}

void OpenPortTarget(TVaCustomComm& Comm, const TPortTarget& Target) {
    if (Target.ComNumber > 0) {
        Comm.SetDeviceName("/dev/ttyS%d");
        Comm.SetPortNum(Target.ComNumber);
    } else {
        std::string Pattern; // DeviceName reads "%" as a placeholder
        for (char C : Target.Path) {
            Pattern += C;
            if (C == '%') Pattern += '%';
        }
        Comm.SetDeviceName(Pattern);
    }
    try {
        Comm.Open();
    } catch (const EVaCommOpenError& E) {
        // A network port's text names the host, the port and the cause already.
        if (VaNet::IsNetworkPort(Target.Path)) throw;
        if (E.Error == ENOENT) {
            // The engine's text names the last path only.
            std::string Text = std::string(E.what()) + " Tried ";
            for (size_t i = 0; i < Target.Tried.size(); ++i)
                Text += (i ? ", " : "") + Target.Tried[i];
            if (Target.ComNumber > 0) Text += " (COM" + std::to_string(Target.ComNumber) + ")";
            Text += ": " + PortOpenAdvice(E.Error);
            if (!Target.Hint.empty()) Text += "; " + Target.Hint;
            throw EVaCommError(Text + ".");
        }
        const std::string Advice = PortOpenAdvice(E.Error);
        if (Advice.empty()) throw;
        throw EVaCommError(std::string(E.what()) + ": " + Advice);
    }
}

int DeviceOpenError(const std::string& Path) {
    // Not tried: each look at the port list would connect to the server
    // and, on a server that takes one client, push aside the one connected.
    if (VaNet::IsNetworkPort(Path)) return 0;
    int Error = 0;
    int Fd = VaPosix::OpenDevice(Path, Error);
    if (Fd < 0) return Error;
    VaPosix::CloseDevice(Fd);
    return 0;
}

bool CanOpenDevice(const std::string& Path) {
    return DeviceOpenError(Path) == 0;
}

// The by-id links of the ports that have one, by the device they point to.
static std::vector<std::pair<std::string, std::string>> ByIdLinks() {
    std::vector<std::pair<std::string, std::string>> Links;
    const std::string Dir = "/dev/serial/by-id/";
    DIR* D = opendir(Dir.c_str());
    if (!D) return Links;
    while (dirent* E = readdir(D)) {
        if (E->d_name[0] == '.') continue;
        char Target[PATH_MAX];
        if (realpath((Dir + E->d_name).c_str(), Target))
            Links.emplace_back(Target, Dir + E->d_name);
    }
    closedir(D);
    return Links;
}

std::vector<TSerialPortInfo> ListSerialPorts() {
    const auto Links = ByIdLinks();
    std::vector<TSerialPortInfo> Ports;
    for (const QSerialPortInfo& Info : QSerialPortInfo::availablePorts()) {
        TSerialPortInfo P;
        P.Path = Info.systemLocation().toStdString();
        P.Name = PortNameFromPath(P.Path);
        P.Description = Info.description().toStdString();
        for (const auto& [Device, Link] : Links)
            if (Device == P.Path) P.ById = Link;
        P.OpenError = DeviceOpenError(P.Path);
        Ports.push_back(P);
    }
    return Ports;
}
