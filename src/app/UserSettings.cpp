#include "UserSettings.h"

#include "SysUtils.h"

#include <cerrno>
#include <cstring>
#include <fstream>

std::string TUserSettings::Get(TField F) const {
    size_t Len = Bytes[F.Offset];
    if (Len > F.Capacity) Len = F.Capacity;
    return std::string(reinterpret_cast<const char*>(&Bytes[F.Offset + 1]), Len);
}

void TUserSettings::Set(TField F, const std::string& Text) {
    size_t Len = Text.size() < F.Capacity ? Text.size() : F.Capacity;
    Bytes[F.Offset] = static_cast<uint8_t>(Len);
    std::memcpy(&Bytes[F.Offset + 1], Text.data(), Len);
}

TUserSettings TUserSettings::Defaults() {
    TUserSettings S;
    S.Set(PortName, "COM1");
    S.Set(SendCount, "1");
    S.Set(SendInterval, "200");
    S.Set(SensorId, "1");
    return S;
}

namespace {
std::string IoMessage(const std::string& What, const std::string& Path) {
    return What + " \"" + Path + "\": " + std::strerror(errno ? errno : EIO);
}
} // namespace

TUserSettings ReadSettingsFile(const std::string& Path) {
    errno = 0;
    std::ifstream In(Path, std::ios::binary);
    if (!In) throw EInOutError(IoMessage("Cannot open", Path));
    TUserSettings S;
    In.read(reinterpret_cast<char*>(S.Bytes.data()), TUserSettings::Size);
    if (In.gcount() != static_cast<std::streamsize>(TUserSettings::Size)) {
        errno = 0;
        throw EInOutError("Read beyond end of file \"" + Path + "\"");
    }
    return S;
}

void WriteSettingsFile(const std::string& Path, const TUserSettings& S) {
    errno = 0;
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    if (!Out) throw EInOutError(IoMessage("Cannot create", Path));
    Out.write(reinterpret_cast<const char*>(S.Bytes.data()), TUserSettings::Size);
    Out.close();
    if (!Out) throw EInOutError(IoMessage("Cannot write", Path));
}
