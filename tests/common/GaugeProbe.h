// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the needle's direction off the gauge view's bitmap, for tests.
#pragma once

#include "GR32.h"
#include "GaugeGeometry.h"

#include <cmath>

// How many of eleven points 60..110 pixels out from the dial centre,
// along a ray DegreesCcw counter-clockwise from straight up, are needle-coloured
// (the bitmap is white elsewhere; the needle is red and orange).
inline int NeedleInkAlong(const TBitmap32& B, float DegreesCcw) {
    const double A = DegreesCcw * M_PI / 180;
    int Ink = 0;
    for (int r = 60; r <= 110; r += 5) {
        const int X = static_cast<int>(std::lround(Gauge::CentreX - r * std::sin(A)));
        const int Y = static_cast<int>(std::lround(Gauge::CentreY - r * std::cos(A)));
        if (((B.PixelS(X, Y) >> 8) & 0xFF) < 160) ++Ink;
    }
    return Ink;
}
