// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The gauge artwork: the needle and the four dial faces, drawn with QPainter.
// Needs a QGuiApplication (fonts) before any dial is drawn.

#include <QImage>
#include <QString>
#include <vector>

namespace artgen {

struct DialStyle {
    QString fileName; // name under img/
    QString modeText; // the sensor modes the dial serves, printed on the plate
    bool negatedMode; // modes "0"/"1": the console turns the needle by minus the reading
    bool fullCircle;  // plus range 360 degrees; otherwise a signed scale around 0
};

// The dials the console picks from the sensor's mode and plus range.
std::vector<DialStyle> dialStyles();

// 25 x 147 needle pointing up, pivot at pixel (12, 134); ARGB32 with straight alpha.
QImage drawNeedle();

// 403 x 404 dial, centre at pixel (202, 200), see-through where the needle sweeps.
QImage drawDial(const DialStyle& style);

// Text printed at the tick for a reading, or an empty string for an unlabelled tick.
QString scaleLabel(int reading, bool fullCircle);

} // namespace artgen
