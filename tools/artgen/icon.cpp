// SPDX-License-Identifier: GPL-3.0-or-later
#include "icon.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace artgen {
namespace {

// One filled or stroked path in canvas units. Shapes too fine to read below minSize pixels
// are left out of the small bitmaps; the SVG keeps them all.
struct Shape {
    QPainterPath path;
    QColor fill;   // invalid: not filled
    QColor stroke; // invalid: not stroked
    double strokeWidth = 0;
    int minSize = 0;
};

constexpr double kCentre = kIconCanvas / 2.0;
// The needle rests a little right of the top, as a reading would, so the icon reads as a
// gauge and not as a clock.
constexpr double kNeedleAngle = -40.0;

// Colours of the gauge pictures in img/, so the icon looks like the console's dial.
const QColor kRim(0x5a, 0x61, 0x68);
const QColor kDark(0x1c, 0x1f, 0x22);
const QColor kFace(0xf7, 0xf7, 0xf2);
const QColor kInRange(0x2f, 0x9e, 0x4c);
const QColor kOverRange(0xc9, 0x3b, 0x2a);
const QColor kTick(0x14, 0x14, 0x14);
const QColor kNeedle(0xd2, 0x2a, 0x0e);
const QColor kHubCap(0xd8, 0xdc, 0xe0);

// Point at a distance from the centre along a needle angle in degrees: 0 is up and
// positive angles turn counter-clockwise, as on the dials.
QPointF at(double needleAngle, double radius) {
    const double a = needleAngle * M_PI / 180.0;
    return {kCentre - radius * std::sin(a), kCentre - radius * std::cos(a)};
}

Shape disc(double radius, const QColor& fill, int minSize = 0) {
    Shape s;
    s.path.addEllipse(QPointF(kCentre, kCentre), radius, radius);
    s.fill = fill;
    s.minSize = minSize;
    return s;
}

Shape arc(double radius, double fromAngle, double toAngle, double width, const QColor& colour) {
    // QPainterPath counts counter-clockwise from 3 o'clock; needle angles from 12 o'clock.
    const QRectF box(kCentre - radius, kCentre - radius, 2 * radius, 2 * radius);
    Shape s;
    s.path.arcMoveTo(box, fromAngle + 90);
    s.path.arcTo(box, fromAngle + 90, toAngle - fromAngle);
    s.stroke = colour;
    s.strokeWidth = width;
    return s;
}

Shape tick(double needleAngle) {
    Shape s;
    s.path.moveTo(at(needleAngle, 62));
    s.path.lineTo(at(needleAngle, 80));
    s.stroke = kTick;
    s.strokeWidth = 7;
    s.minSize = 32;
    return s;
}

Shape needle() {
    Shape s;
    s.path.moveTo(at(kNeedleAngle, 98));
    s.path.lineTo(at(kNeedleAngle - 90, 8));
    s.path.lineTo(at(kNeedleAngle + 180, 20));
    s.path.lineTo(at(kNeedleAngle + 90, 8));
    s.path.closeSubpath();
    s.fill = kNeedle;
    return s;
}

// Bottom to top.
std::vector<Shape> shapes() {
    std::vector<Shape> list{disc(124, kRim),
                            disc(116, kDark),
                            disc(110, kFace),
                            arc(92, -90, 90, 14, kInRange),
                            arc(92, 90, 135, 14, kOverRange),
                            arc(92, -135, -90, 14, kOverRange)};
    for (int a = -135; a <= 135; a += 45)
        list.push_back(tick(a));
    list.push_back(needle());
    list.push_back(disc(15, kDark));
    list.push_back(disc(5, kHubCap, 48));
    return list;
}

QString num(double v) {
    return QString::number(v, 'g', 6);
}

QString svgPathData(const QPainterPath& path) {
    QString d;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (!d.isEmpty()) d += QLatin1Char(' ');
        if (e.type == QPainterPath::CurveToElement && i + 2 < path.elementCount()) {
            // A curve is stored as its first control point followed by two data elements.
            const QPainterPath::Element c2 = path.elementAt(i + 1);
            const QPainterPath::Element end = path.elementAt(i + 2);
            d += QStringLiteral("C %1 %2 %3 %4 %5 %6")
                     .arg(num(e.x), num(e.y), num(c2.x), num(c2.y), num(end.x), num(end.y));
            i += 2;
        } else {
            d += (e.type == QPainterPath::MoveToElement ? QStringLiteral("M %1 %2")
                                                        : QStringLiteral("L %1 %2"))
                     .arg(num(e.x), num(e.y));
        }
    }
    return d;
}

} // namespace

const std::vector<int>& iconSizes() {
    static const std::vector<int> sizes{16, 32, 48, 64, 128, 256};
    return sizes;
}

QImage drawIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(double(size) / kIconCanvas, double(size) / kIconCanvas);
    for (const Shape& s : shapes()) {
        if (size < s.minSize) continue;
        p.setPen(s.stroke.isValid() ? QPen(s.stroke, s.strokeWidth, Qt::SolidLine, Qt::FlatCap)
                                    : QPen(Qt::NoPen));
        p.setBrush(s.fill.isValid() ? QBrush(s.fill) : QBrush(Qt::NoBrush));
        p.drawPath(s.path);
    }
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

QByteArray iconSvg() {
    QString svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" "
                                 "height=\"%1\" viewBox=\"0 0 %1 %1\">\n")
                      .arg(kIconCanvas);
    for (const Shape& s : shapes()) {
        QString style = s.fill.isValid() ? QStringLiteral("fill=\"%1\"").arg(s.fill.name())
                                         : QStringLiteral("fill=\"none\"");
        if (s.stroke.isValid())
            style += QStringLiteral(" stroke=\"%1\" stroke-width=\"%2\"")
                         .arg(s.stroke.name(), num(s.strokeWidth));
        svg += QStringLiteral("  <path %1 d=\"%2\"/>\n").arg(style, svgPathData(s.path));
    }
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

bool writeIcons(const QString& folder) {
    const QDir root(folder);
    bool ok = true;
    for (int size : iconSizes()) {
        const QString dir = QStringLiteral("%1x%1/apps").arg(size);
        ok = root.mkpath(dir) &&
             drawIcon(size).save(root.filePath(dir + QLatin1Char('/') + kIconName + ".png"),
                                 "PNG") &&
             ok;
    }
    const QByteArray data = iconSvg();
    QFile svg(root.filePath(QStringLiteral("scalable/apps/") + kIconName + ".svg"));
    ok = root.mkpath(QStringLiteral("scalable/apps")) && svg.open(QIODevice::WriteOnly) &&
         svg.write(data) == data.size() && svg.flush() && ok;
    return ok;
}

} // namespace artgen
