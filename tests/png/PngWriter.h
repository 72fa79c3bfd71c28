// SPDX-License-Identifier: GPL-3.0-or-later
// Builds small PNG files byte by byte, so tests can make exactly the faults
// they need (wrong CRCs, odd chunk orders, short or long image data).
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>

namespace pngtest {

inline std::string Be32(uint32_t V) {
    return std::string{char(V >> 24), char(V >> 16), char(V >> 8), char(V)};
}

inline std::string Chunk(const std::string& Name, const std::string& Data, bool BadCrc = false) {
    std::string Body = Name + Data;
    uint32_t Crc =
        uint32_t(crc32(0, reinterpret_cast<const Bytef*>(Body.data()), uInt(Body.size())));
    return Be32(uint32_t(Data.size())) + Body + Be32(BadCrc ? Crc ^ 1 : Crc);
}

inline std::string IhdrData(uint32_t W, uint32_t H, int Depth, int ColorType, int Interlace = 0,
                            int Compression = 0) {
    return Be32(W) + Be32(H) + char(Depth) + char(ColorType) + char(Compression) + char(0) +
           char(Interlace);
}

inline std::string Deflate(const std::string& Raw) {
    uLongf Size = compressBound(uLong(Raw.size()));
    std::string Out(Size, '\0');
    compress(reinterpret_cast<Bytef*>(&Out[0]), &Size, reinterpret_cast<const Bytef*>(Raw.data()),
             uLong(Raw.size()));
    Out.resize(Size);
    return Out;
}

const std::string Signature("\x89PNG\r\n\x1a\n", 8);

// A complete file: header, the chunks in Extra, one IDAT holding Raw
// (scanlines with their filter bytes) deflated, IEND.
inline std::string MakePng(const std::string& Ihdr, const std::string& Raw,
                           const std::string& Extra = "") {
    return Signature + Chunk("IHDR", Ihdr) + Extra + Chunk("IDAT", Deflate(Raw)) +
           Chunk("IEND", "");
}

} // namespace pngtest
