// SPDX-License-Identifier: GPL-3.0-or-later
// Where things sit on the gauge: the needle picture, the dial pictures and
// the view that shows them. The window, the picture generator, the
// benchmarks and the tests all take these numbers from here. No Qt.
//
// Pixels: x to the right, y downwards.
#pragma once

namespace Gauge {

// Needle picture: 25 x 147, pointing up at angle 0, turned about pixel (12, 134).
constexpr int NeedleWidth = 25;
constexpr int NeedleHeight = 147;
constexpr int PivotX = 12;
constexpr int PivotY = 134;

// Dial pictures and the view's bitmap: 403 x 404, the needle's centre at
// pixel (202, 200).
constexpr int DialWidth = 403;
constexpr int DialHeight = 404;
constexpr int CentreX = 202;
constexpr int CentreY = 200;

// The shift that puts the needle's pivot on the dial's centre.
constexpr int NeedleShiftX = CentreX - PivotX;
constexpr int NeedleShiftY = CentreY - PivotY;

} // namespace Gauge
