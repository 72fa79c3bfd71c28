// SPDX-License-Identifier: GPL-3.0-or-later
// TColor: red in the lowest byte, then green and blue; a top byte of 0xFF
// marks a system colour whose low byte is the platform's system-colour index.
// System colours resolve through a widget's palette (ColorToQColor), so the
// display controls and the bitmap view show the same face colours.
#pragma once

#include <QColor>
#include <QPalette>

#include <cstdint>

using TColor = std::uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clGreen = 0x008000;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clWindowFrame = 0xFF000006;
constexpr TColor clBtnFace = 0xFF00000F;
constexpr TColor cl3DDkShadow = 0xFF000015;

// The palette role that carries a system-colour index.
inline QPalette::ColorRole RoleOfSystemColor(unsigned Index) {
    switch (Index) {
    case 5:
        return QPalette::Base; // window background
    case 6:
    case 8:
        return QPalette::WindowText; // window frame, window text
    case 13:
        return QPalette::Highlight;
    case 14:
        return QPalette::HighlightedText;
    case 16:
        return QPalette::Dark; // button shadow
    case 18:
        return QPalette::ButtonText;
    case 20:
        return QPalette::Light; // button highlight
    case 21:
        return QPalette::Shadow; // 3-D dark shadow
    case 22:
        return QPalette::Midlight; // 3-D light
    default:
        return QPalette::Button; // button face and the rest
    }
}

inline QColor ColorToQColor(TColor Color, const QPalette& Palette) {
    if ((Color >> 24) == 0xFF) return Palette.color(RoleOfSystemColor(Color & 0xFF));
    return QColor(Color & 0xFF, (Color >> 8) & 0xFF, (Color >> 16) & 0xFF);
}

// The colour as a plain red/green/blue TColor (system colours resolved).
inline TColor ColorToRGB(TColor Color, const QPalette& Palette) {
    const QColor c = ColorToQColor(Color, Palette);
    return TColor(c.red()) | TColor(c.green()) << 8 | TColor(c.blue()) << 16;
}
