// SPDX-License-Identifier: GPL-3.0-or-later
// Integer helpers shared by the seven-segment units. Sizes and positions
// come from unchecked 32-bit properties, so geometry is computed in 64 bits
// and brought back into a range the painter handles before it is used.
#pragma once

#include "Rounding.h"

#include <QPoint>

namespace sevenseg {

// Far outside any real canvas, yet well inside the painter's coordinate
// range; anything beyond is clipped anyway.
constexpr long long CoordLimit = 1LL << 22;

inline long long Clamp(long long Value, long long Low, long long High) {
    return Value < Low ? Low : (Value > High ? High : Value);
}

inline int ClampCoord(long long Value) {
    return int(Clamp(Value, -CoordLimit, CoordLimit));
}

inline QPoint Pt(long long X, long long Y) {
    return QPoint(ClampCoord(X), ClampCoord(Y));
}

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4), within
// +-10^15: far beyond any coordinate, yet exact in a double.
inline long long RoundWide(double X) {
    constexpr long long Limit = 1000000000000000LL;
    return RoundEven64(X, -Limit, Limit);
}

} // namespace sevenseg
