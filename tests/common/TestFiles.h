// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-file reads and writes for tests that check files byte for byte.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

inline std::string ReadAll(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& Path, const std::string& Bytes) {
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out << Bytes;
}

// "UserSet.dat" as a first start writes it: "COM1", "1", "200", "1", zeros elsewhere.
inline std::string DefaultSettingsRecord() {
    std::string R(61, '\0');
    R.replace(0, 5,
              "\x04"
              "COM1");
    R.replace(7, 2,
              "\x01"
              "1");
    R.replace(13, 4,
              "\x03"
              "200");
    R.replace(24, 2,
              "\x01"
              "1");
    return R;
}
