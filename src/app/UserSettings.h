// SPDX-License-Identifier: GPL-3.0-or-later
// The 61-byte settings record kept in "UserSet.dat": seven length-prefixed
// 8-bit strings at fixed offsets. Plain C++, no Qt.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct TUserSettings {
    static constexpr size_t Size = 61;
    std::array<uint8_t, Size> Bytes{};

    // Field layout: offset of the length byte and character capacity.
    struct TField {
        size_t Offset;
        size_t Capacity;
    };
    static constexpr TField PortName{0, 6};
    static constexpr TField SendCount{7, 5};
    static constexpr TField SendInterval{13, 10};
    static constexpr TField SensorId{24, 3};
    static constexpr TField Reserved1{28, 10};
    static constexpr TField Reserved2{39, 10};
    static constexpr TField Reserved3{50, 10};

    // The field's text. A length byte beyond the capacity (a file written by
    // something else) is read as the capacity, so reading stays in the record.
    std::string Get(TField F) const;
    // Stores Text cut to the field's capacity; the bytes after the new length
    // keep whatever they held.
    void Set(TField F, const std::string& Text);

    // The record written on a first start: "COM1", "1", "200", "1", zeros elsewhere.
    static TUserSettings Defaults();
};

// File access; both raise EInOutError on failure.
// Reads the first 61 bytes of Path (a shorter file is an error). Only a
// regular file is read; anything else is refused without blocking.
TUserSettings ReadSettingsFile(const std::string& Path);
// Replaces Path atomically with the 61 bytes (see ReplaceFile): a failed
// write keeps the old record, and a symbolic link is replaced, not followed.
void WriteSettingsFile(const std::string& Path, const TUserSettings& S);
