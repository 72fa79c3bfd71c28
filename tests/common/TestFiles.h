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
