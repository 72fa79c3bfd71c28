// Integer helpers shared by the seven-segment units. Sizes and positions
// come from unchecked 32-bit properties, so geometry is computed in 64 bits
// and brought back into a range the painter handles before it is used.
#pragma once

#include <QPoint>

#include <cmath>

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

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
inline long long RoundEven(double X) {
    if (!(X > -1e15)) return -1000000000000000LL;
    if (!(X < 1e15)) return 1000000000000000LL;
    double f = std::floor(X);
    const double d = X - f;
    if (d > 0.5 || (d == 0.5 && std::fmod(f, 2.0) != 0.0)) f += 1.0;
    return (long long)f;
}

} // namespace sevenseg
