#include "VaPorts.h"

#include <QSerialPortInfo>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <dirent.h>

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
    if (!Name.empty() && Name[0] == '/') return Name;
    std::string Tty = "/dev/tty" + Name;
    return Exists(Tty) ? Tty : "/dev/" + Name;
}

std::vector<std::string> ListSerialPortNames() {
    std::vector<std::string> Names;
    for (const QSerialPortInfo& Info : QSerialPortInfo::availablePorts())
        Names.push_back(PortNameFromPath(Info.systemLocation().toStdString()));
    return Names;
}

bool CanOpenDevice(const std::string& Path) {
    int Error = 0;
    int Fd = VaPosix::OpenDevice(Path, Error);
    if (Fd < 0) return false;
    VaPosix::CloseDevice(Fd);
    return true;
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
        P.Busy = !CanOpenDevice(P.Path);
        Ports.push_back(P);
    }
    return Ports;
}
