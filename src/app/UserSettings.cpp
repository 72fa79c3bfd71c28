// SPDX-License-Identifier: GPL-3.0-or-later
#include "UserSettings.h"

#include "FileAccess.h"
#include "SysUtils.h"

#include <cstring>

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

TUserSettings ReadSettingsFile(const std::string& Path) {
    const std::string Bytes = ReadRegularFile(Path, TUserSettings::Size);
    if (Bytes.size() != TUserSettings::Size)
        throw EInOutError("Read beyond end of file \"" + Path + "\"");
    TUserSettings S;
    std::memcpy(S.Bytes.data(), Bytes.data(), TUserSettings::Size);
    return S;
}

void WriteSettingsFile(const std::string& Path, const TUserSettings& S) {
    ReplaceFile(Path, std::string(S.Bytes.begin(), S.Bytes.end()));
}
