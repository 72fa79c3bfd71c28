// SPDX-License-Identifier: GPL-3.0-or-later
// Floating-point to int conversions that are defined for every input, NaN
// and infinities included. No Qt.
#pragma once

#include <climits>
#include <cmath>

// Truncation toward zero, saturated to [Low, High]: NaN and values at or
// below Low give Low, values at or above High give High. By default the
// bounds are the whole int range.
inline int SaturateToInt(double V, int Low = INT_MIN, int High = INT_MAX) {
    if (!(V > Low)) return Low;
    if (!(V < High)) return High;
    return static_cast<int>(V);
}

// Nearest integer, ties to the even neighbour (2.5 -> 2, 3.5 -> 4,
// -2.5 -> -2) in the default floating-point rounding mode, then saturated
// to [Low, High] as by SaturateToInt. A float argument converts to double
// exactly, so floats round the same way.
inline int RoundEven(double V, int Low = INT_MIN, int High = INT_MAX) {
    return SaturateToInt(std::nearbyint(V), Low, High);
}

// The same in 64 bits: nearest integer, ties to even, saturated to
// [Low, High]; NaN gives Low. The bounds must lie within +-2^53, where every
// double is an integer, so that comparing against them is exact.
inline long long RoundEven64(double V, long long Low, long long High) {
    const double R = std::nearbyint(V);
    if (!(R > static_cast<double>(Low))) return Low;
    if (!(R < static_cast<double>(High))) return High;
    return static_cast<long long>(R);
}
