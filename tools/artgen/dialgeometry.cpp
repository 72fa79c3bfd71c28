// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialgeometry.h"

#include <cmath>

namespace artgen {

double needleAngleForReading(double reading, bool negatedMode) {
    return negatedMode ? -reading : reading;
}

QPointF pointAtNeedleAngle(double needleAngle, double radius) {
    const double a = needleAngle * M_PI / 180.0;
    // Counter-clockwise on a y-down screen: up is -y, a quarter turn leads to -x.
    return {kCentreX + 0.5 - radius * std::sin(a), kCentreY + 0.5 - radius * std::cos(a)};
}

} // namespace artgen
