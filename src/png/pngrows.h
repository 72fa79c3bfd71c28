// SPDX-License-Identifier: GPL-3.0-or-later
// The PNG reader's per-row work: unfiltering, the image data's checksum and
// the conversion of 8-bit RGBA rows. Each has a portable form and, where the
// compiler targets SSE2, an SSE2 form giving the same bytes; the forms are
// registered with the raster core's function registry, so that VORTA_NO_SIMD=1
// and RestrictCPUFeatures switch these off together with the raster core's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "GR32.h"

inline TColor32 PngRgb(uint8_t R, uint8_t G, uint8_t B) {
    return (TColor32(R) << 16) | (TColor32(G) << 8) | B;
}

// A pixel of colour C (alpha ignored) and alpha A drawn onto opaque white,
// keeping A as its alpha.
inline TColor32 PngOverWhite(TColor32 C, unsigned A) {
    if (A == 255) return 0xFF000000u | C;
    if (A == 0) return 0x00FFFFFFu;
    const unsigned W = (255 - A) * 255 + 255;
    unsigned R = (((C >> 16) & 0xFF) * A + W) >> 8;
    unsigned G = (((C >> 8) & 0xFF) * A + W) >> 8;
    unsigned B = ((C & 0xFF) * A + W) >> 8;
    return (A << 24) | (R << 16) | (G << 8) | B;
}

// Writes Count pixels, Dx apart (an interlaced pass spreads its pixels).
template <class F> inline void PutRow(TColor32* Dst, uint32_t Count, uint32_t Dx, F Pixel) {
    if (Dx == 1)
        for (uint32_t i = 0; i < Count; ++i)
            Dst[i] = Pixel(i);
    else
        for (uint32_t i = 0; i < Count; ++i)
            Dst[size_t(i) * Dx] = Pixel(i);
}

// Count pixels of 8-bit RGBA (no gamma) drawn onto white as PngOverWhite does.
extern void (*PngRgbaRow)(const uint8_t* Src, uint32_t Count, TColor32* Dst);
void PngRgbaRowPortable(const uint8_t* Src, uint32_t Count, TColor32* Dst);
