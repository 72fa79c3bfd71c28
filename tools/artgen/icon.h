// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application icon: a small gauge (dial arc with its range band, ticks and a needle),
// drawn as PNG at the sizes of the desktop icon theme and as SVG. Both come from one list
// of shapes, so the bitmaps and the vector picture cannot drift apart.
// drawIcon needs a QGuiApplication; iconSvg does not.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <vector>

namespace artgen {

// The icon's name in the theme; the desktop entry's Icon= and the metainfo's id use it.
inline const QString kIconName = QStringLiteral("io.github.vorta.Display");

// Side of the square SVG canvas, in user units.
constexpr int kIconCanvas = 256;

// Pixel sizes the theme gets a PNG for: 16, 32, 48, 64, 128, 256.
const std::vector<int>& iconSizes();

// size x size, ARGB32 with straight alpha, transparent outside the round gauge.
QImage drawIcon(int size);

// The same drawing as a standalone SVG document (UTF-8).
QByteArray iconSvg();

// Writes the icons into a hicolor theme tree below folder:
// <size>x<size>/apps/<kIconName>.png for every size and scalable/apps/<kIconName>.svg.
// Returns false when a folder or file cannot be written.
bool writeIcons(const QString& folder);

} // namespace artgen
