// SPDX-License-Identifier: GPL-3.0-or-later
#include "artwork.h"

#include "dialgeometry.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace artgen {
namespace {

const QPointF kNeedlePivot(kPivotX + 0.5, kPivotY + 0.5);
const QPointF kDialCentre(kCentreX + 0.5, kCentreY + 0.5);
constexpr double kMajorTickLength = 12.0;

// The fonts are named explicitly and sized in pixels, so that a rerun on the same system
// reproduces the pictures bit for bit regardless of screen resolution settings.
QFont artFont(int pixelSize, bool bold, bool condensed = false) {
    QFont f(condensed ? QStringLiteral("DejaVu Sans Condensed") : QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

void fillDisc(QPainter& p, double radius, const QBrush& brush) {
    p.setPen(Qt::NoPen);
    p.setBrush(brush);
    p.drawEllipse(kDialCentre, radius, radius);
}

// Light from the top left: a raised rim is light there and dark bottom right.
QLinearGradient rimGradient(double radius, QColor lit, QColor shaded) {
    QLinearGradient g(kDialCentre + QPointF(-radius, -radius),
                      kDialCentre + QPointF(radius, radius));
    g.setColorAt(0.0, lit);
    g.setColorAt(1.0, shaded);
    return g;
}

void drawPlate(QPainter& p) {
    QLinearGradient g(0, 0, 0, kDialHeight);
    g.setColorAt(0.0, QColor(0x4a, 0x50, 0x57));
    g.setColorAt(1.0, QColor(0x22, 0x26, 0x2b));
    p.setPen(QPen(QColor(0x12, 0x14, 0x17), 1.0));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, kDialWidth - 1, kDialHeight - 1), 16, 16);
}

void drawBezel(QPainter& p) {
    fillDisc(p, kBezelOuterRadius,
             rimGradient(kBezelOuterRadius, QColor(0xe4, 0xe7, 0xea), QColor(0x4c, 0x52, 0x59)));
    fillDisc(p, kBezelOuterRadius - 7,
             rimGradient(kBezelOuterRadius, QColor(0x6a, 0x70, 0x77), QColor(0xd5, 0xd9, 0xdd)));
    fillDisc(p, kFaceOuterRadius + 2, QColor(0x1c, 0x1f, 0x22));
    // The face fades to white towards the centre, matching the white under the needle.
    QRadialGradient face(kDialCentre, kFaceOuterRadius);
    face.setColorAt(0.0, Qt::white);
    face.setColorAt(0.80, Qt::white);
    face.setColorAt(1.0, QColor(0xe6, 0xe6, 0xe0));
    fillDisc(p, kFaceOuterRadius, face);
}

void strokeArc(QPainter& p, double radius, double fromAngle, double toAngle, const QPen& pen) {
    // QPainter arcs count counter-clockwise from 3 o'clock; needle angles from 12 o'clock.
    const QRectF box(kDialCentre - QPointF(radius, radius), QSizeF(2 * radius, 2 * radius));
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawArc(box, qRound((fromAngle + 90) * 16), qRound((toAngle - fromAngle) * 16));
}

void drawRangeBand(QPainter& p, const DialStyle& style) {
    const double r = kScaleRadius + 2.5;
    const QPen inRange(QColor(0x2f, 0x9e, 0x4c), 4.0, Qt::SolidLine, Qt::FlatCap);
    const QPen overRange(QColor(0xc9, 0x3b, 0x2a), 4.0, Qt::SolidLine, Qt::FlatCap);
    if (style.fullCircle) {
        strokeArc(p, r, 0, 360, QPen(QColor(0x3a, 0x6e, 0xb5), 4.0, Qt::SolidLine, Qt::FlatCap));
        return;
    }
    strokeArc(p, r, -90, 90, inRange);
    strokeArc(p, r, 90, 270, overRange);
}

void drawTicks(QPainter& p, const DialStyle& style) {
    strokeArc(p, kScaleRadius, 0, 360, QPen(QColor(0x22, 0x22, 0x22), 1.2));
    const int first = style.fullCircle ? 0 : -175;
    for (int reading = first; reading < first + 360; reading += 5) {
        const double a = needleAngleForReading(reading, style.negatedMode);
        double length = 6.0;
        double width = 1.0;
        if (reading % 30 == 0) {
            length = kMajorTickLength;
            width = 2.4;
        } else if (reading % 10 == 0) {
            length = 9.0;
            width = 1.5;
        }
        p.setPen(QPen(QColor(0x14, 0x14, 0x14), width, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(pointAtNeedleAngle(a, kScaleRadius),
                   pointAtNeedleAngle(a, kScaleRadius + length));
    }
}

void drawLabels(QPainter& p, const DialStyle& style) {
    p.setFont(artFont(13, true, true));
    const QFontMetricsF fm(p.font());
    const int first = style.fullCircle ? 0 : -150;
    for (int reading = first; reading < first + 360; reading += 30) {
        const QString text = scaleLabel(reading, style.fullCircle);
        const bool outside = !style.fullCircle && std::abs(reading) > 90;
        p.setPen(outside ? QColor(0x80, 0x80, 0x80) : QColor(0x10, 0x10, 0x10));
        // Labels stay upright, so their reach towards the centre depends on where they sit:
        // each is pushed out just far enough for its inked box to clear the major ticks.
        const double a = needleAngleForReading(reading, style.negatedMode);
        const QRectF ink = fm.tightBoundingRect(text);
        const double reach = std::abs(std::sin(a * M_PI / 180.0)) * ink.width() / 2 +
                             std::abs(std::cos(a * M_PI / 180.0)) * ink.height() / 2;
        const QPointF c = pointAtNeedleAngle(a, kScaleRadius + kMajorTickLength + 3.0 + reach);
        // Place the ink's centre, not the advance box's, on c.
        p.drawText(c - ink.center(), text);
    }
}

void drawPlateText(QPainter& p, const DialStyle& style) {
    const QColor ink(0xe9, 0xec, 0xef);
    const QColor dim(0xa9, 0xb0, 0xb7);
    p.setPen(ink);
    p.setFont(artFont(13, true));
    p.drawText(QRectF(12, 8, 120, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("VORTA-IN-S"));
    p.setFont(artFont(13, false));
    p.drawText(QRectF(kDialWidth - 132, 8, 120, 18), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("deg"));
    p.setFont(artFont(11, false));
    p.setPen(dim);
    p.drawText(QRectF(12, kDialHeight - 26, 120, 18), Qt::AlignLeft | Qt::AlignVCenter,
               style.modeText);
    const QString sense =
        style.negatedMode ? QStringLiteral("+ clockwise") : QStringLiteral("+ counter-clockwise");
    p.drawText(QRectF(kDialWidth - 152, kDialHeight - 26, 140, 18),
               Qt::AlignRight | Qt::AlignVCenter, sense);
}

void clearNeedleSweep(QPainter& p) {
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    fillDisc(p, kClearRadius, Qt::black);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

} // namespace

std::vector<DialStyle> dialStyles() {
    return {
        {QStringLiteral("Mode0.png"), QStringLiteral("MODE 0 / 1   360°"), true, true},
        {QStringLiteral("Mode1.png"), QStringLiteral("MODE 0 / 1   ±range"), true, false},
        {QStringLiteral("Mode2.png"), QStringLiteral("MODE 2 / 3   360°"), false, true},
        {QStringLiteral("Mode3.png"), QStringLiteral("MODE 2 / 3   ±range"), false, false},
    };
}

QString scaleLabel(int reading, bool fullCircle) {
    if (reading % 30 != 0) return {};
    if (fullCircle) return QString::number(((reading % 360) + 360) % 360);
    if (reading == 0 || std::abs(reading) == 180) return QString::number(std::abs(reading));
    return (reading > 0 ? QStringLiteral("+") : QStringLiteral("\u2212")) +
           QString::number(std::abs(reading));
}

QImage drawNeedle() {
    QImage img(kNeedleWidth, kNeedleHeight, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double cx = kNeedlePivot.x();
    const double py = kNeedlePivot.y();

    // Counterweight tail below the hub.
    QPainterPath tail;
    tail.addRoundedRect(QRectF(cx - 4.0, py, 8.0, 10.0), 2.5, 2.5);
    p.setPen(QPen(QColor(0x6e, 0x10, 0x02), 0.9));
    p.setBrush(QColor(0xb8, 0x22, 0x0c));
    p.drawPath(tail);

    // A slim blade with a ridge down its middle: the lit left half and the shaded right
    // half read as a raised needle at any angle. The light is laid onto the shaded blade
    // keeping its alpha, so the two halves cannot leave a part transparent seam between
    // them and the needle's outline stays symmetric about the pivot column.
    const QPointF tip(cx, kNeedleTipRow + 0.2);
    const QPointF baseL(cx - 3.6, py), baseR(cx + 3.6, py);
    const QPointF midL(cx - 2.9, 100.0), midR(cx + 2.9, 100.0);
    QPainterPath blade;
    blade.moveTo(tip);
    blade.lineTo(midR);
    blade.lineTo(baseR);
    blade.lineTo(baseL);
    blade.lineTo(midL);
    blade.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd2, 0x2a, 0x0e));
    p.drawPath(blade);
    p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    p.setBrush(QColor(0xff, 0x62, 0x2e));
    p.drawPolygon(QPolygonF({QPointF(0, tip.y()), tip, QPointF(cx, py), QPointF(0, py)}));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setPen(QPen(QColor(0x6e, 0x10, 0x02), 0.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(blade);

    // Hub over the pivot.
    QRadialGradient hub(QPointF(cx - 2.5, py - 2.5), 10.0);
    hub.setColorAt(0.0, QColor(0xb4, 0xba, 0xc0));
    hub.setColorAt(1.0, QColor(0x24, 0x27, 0x2b));
    p.setPen(QPen(QColor(0x10, 0x10, 0x10), 0.9));
    p.setBrush(hub);
    p.drawEllipse(kNeedlePivot, 7.5, 7.5);
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 0.7));
    p.setBrush(QColor(0xd8, 0xdc, 0xe0));
    p.drawEllipse(kNeedlePivot, 2.4, 2.4);
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

QImage drawDial(const DialStyle& style) {
    QImage img(kDialWidth, kDialHeight, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawPlate(p);
    drawBezel(p);
    drawRangeBand(p, style);
    drawTicks(p, style);
    drawLabels(p, style);
    drawPlateText(p, style);
    clearNeedleSweep(p);
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

} // namespace artgen
