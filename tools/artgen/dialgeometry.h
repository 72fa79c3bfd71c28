// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where things sit on the gauge pictures. Shared by the generator and its tests so that
// the scales printed on the dials and the needle's turning rule cannot drift apart.
//
// Screen coordinates: x to the right, y downwards, in pixels; a pixel (x, y) is the unit
// square whose centre is (x + 0.5, y + 0.5) for QPainter.

#include "GaugeGeometry.h"

#include <QPointF>

namespace artgen {

// Needle picture, turned about its pivot, pointing up at angle 0.
constexpr int kNeedleWidth = Gauge::NeedleWidth;
constexpr int kNeedleHeight = Gauge::NeedleHeight;
constexpr int kPivotX = Gauge::PivotX;
constexpr int kPivotY = Gauge::PivotY;
constexpr int kNeedleTipRow = 2;

// Dial pictures, with the needle's centre.
constexpr int kDialWidth = Gauge::DialWidth;
constexpr int kDialHeight = Gauge::DialHeight;
constexpr int kCentreX = Gauge::CentreX;
constexpr int kCentreY = Gauge::CentreY;

// Radii measured from the centre of pixel (202, 200). The needle reaches 132 px (pivot row
// minus tip row), so everything up to kClearRadius stays see-through.
constexpr double kClearRadius = 135.5;
constexpr double kScaleRadius = 137.5; // the scale's base line; ticks run outwards
constexpr double kFaceOuterRadius = 182.0;
constexpr double kBezelOuterRadius = 199.0;

// The seven-segment readout lies over this box of the dial (inclusive pixels).
constexpr int kReadoutLeft = 144, kReadoutTop = 221, kReadoutRight = 257, kReadoutBottom = 257;

// The console turns the needle counter-clockwise by its angle, and in sensor modes "0" and
// "1" it negates the reading first. Returns the needle angle (degrees, counter-clockwise)
// at which a reading comes to rest.
double needleAngleForReading(double reading, bool negatedMode);

// Point at distance radius from the dial centre in the direction the needle takes for a
// needle angle in degrees (0 up, 90 left, -90 right), in QPainter coordinates.
QPointF pointAtNeedleAngle(double needleAngle, double radius);

} // namespace artgen
