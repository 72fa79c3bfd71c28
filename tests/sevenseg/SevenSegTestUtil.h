// SPDX-License-Identifier: GPL-3.0-or-later
// Shared helpers of the seven-segment tests: painting into images and
// reading pixels back.
#pragma once

#include "iSevenSegmentAnalog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <string>

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kLime = 0xFF00FF00;
constexpr QRgb kDimLime = 0xFF005500;

inline QRgb Pixel(const QImage& Image, int X, int Y) {
    return Image.pixel(X, Y) | 0xFF000000;
}

// One row of the image as text: '#' for Colour, '.' for anything else.
inline std::string Row(const QImage& Image, int Y, QRgb Colour, int X0 = 0, int X1 = -1) {
    if (X1 < 0) X1 = Image.width() - 1;
    std::string s;
    for (int x = X0; x <= X1; ++x)
        s += Pixel(Image, x, Y) == Colour ? '#' : '.';
    return s;
}

inline int CountPixels(const QImage& Image, QRgb Colour) {
    int n = 0;
    for (int y = 0; y < Image.height(); ++y)
        for (int x = 0; x < Image.width(); ++x)
            n += Pixel(Image, x, y) == Colour;
    return n;
}

// Glyph drawn with DrawCharacter into a Width x Height box at the origin of
// a black image of the same size.
inline QImage DrawGlyph(TiSevenSegmentCharacter& Character, TSevenSegmentCharacter Glyph, int Width,
                        int Height) {
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    Character.DrawCharacter(painter, QPoint(0, 0), Glyph, Height, Width);
    return image;
}

// The control painted through its own paint handler.
inline QImage Render(QWidget& Widget) {
    return Widget.grab().toImage();
}

// Runs the event loop until Done() holds or TimeoutMs have passed.
template <class F> bool ProcessEventsUntil(F Done, int TimeoutMs = 1000) {
    QElapsedTimer t;
    t.start();
    while (!Done() && t.elapsed() < TimeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return Done();
}

// The main window's angle readout with its stored settings.
inline void ApplyReadoutSettings(TiSevenSegmentAnalog& Readout) {
    Readout.SetAutoSize(false);
    Readout.resize(113, 36);
    Readout.SetSegmentColor(clLime);
    Readout.SetShowOffSegments(false);
    Readout.SetSegmentOffColor(clBlack);
    Readout.SetPrecision(1);
    Readout.SetDigitCount(5);
}
