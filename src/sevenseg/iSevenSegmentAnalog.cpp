// SPDX-License-Identifier: GPL-3.0-or-later
#include "iSevenSegmentAnalog.h"

#include "SevenSegGeometry.h"

#include <QLocale>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace sevenseg;

TiSevenSegmentAnalog::TiSevenSegmentAnalog(QWidget* Parent) : TiSevenSegmentDisplay(Parent) {
    UpdateAutoSize();
}

void TiSevenSegmentAnalog::SetValue(double Value) {
    if (Value > 1.0e15 || std::isnan(Value)) Value = 1.0e15;
    if (Value == FValue) return;
    bool allow = true;
    if (BeforeChangeHook) BeforeChangeHook(this, "Value", allow);
    if (!allow) return;
    // Streaming, a reading often differs from the last only beyond the
    // decimals shown: the cells, which depend on the value only through its
    // sign and text, stay as they are.
    std::string Text;
    const bool Written = FormatFixed(Value, FPrecision, Text);
    const bool Same = (FValue < 0) == (Value < 0) && FTextPrecision == FPrecision &&
                      Written == FTextWritten && (!Written || Text == FText);
    FValue = Value;
    FText.swap(Text);
    FTextWritten = Written;
    FTextPrecision = FPrecision;
    if (!Same) InvalidateChange();
    if (AfterChangeHook) AfterChangeHook(this, "Value");
    if (OnValueChange) OnValueChange(this);
}

void TiSevenSegmentAnalog::SetPrecision(int Value) {
    if (Value > 13) Value = 13;
    if (Value == FPrecision) return;
    FPrecision = Value < 0 ? 0 : Value;
    UpdateAutoSize();
    InvalidateChange();
}

void TiSevenSegmentAnalog::SetShowSign(bool Value) {
    if (Value == FShowSign) return;
    FShowSign = Value;
    InvalidateChange();
    UpdateAutoSize();
}

void TiSevenSegmentAnalog::CalcAutoSize(int& AWidth, int& AHeight) {
    TiSevenSegmentCharacter& c = DrawingCharacter();
    c.SetValue(ssc0);
    const long long n = DigitCount() + (FShowSign ? 1 : 0);
    const long long w = c.GlyphWidth(), g = c.GlyphHeight();
    const long long width = (w + DigitSpacing()) * n + 2LL * SegmentMargin() - DigitSpacing();
    const long long height = g + 2LL * SegmentMargin();
    AWidth = int(Clamp(width, 0, QWIDGETSIZE_MAX));
    AHeight = int(Clamp(height, 0, QWIDGETSIZE_MAX));
}

std::vector<TSevenSegmentCell> TiSevenSegmentAnalog::LayoutCells() const {
    std::vector<TSevenSegmentCell> cells;
    const int digitCount = DigitCount();
    const long long n = digitCount + (FShowSign ? 1 : 0);
    const long long spacing = DigitSpacing(), margin = SegmentMargin();
    const double shared = double(width()) - 2.0 * double(margin) - double(n - 1) * double(spacing);
    const long long c = (long long)std::trunc(std::clamp(shared / double(n), -1e12, 1e12));
    const long long h = height() - 2 * margin;
    long long x = (width() + spacing - n * (c + spacing)) / 2;
    const long long y = margin;
    auto place = [&](long long X, long long W, TSevenSegmentCharacter Glyph) {
        cells.push_back({ClampCoord(X), ClampCoord(y), ClampCoord(W), ClampCoord(h), Glyph});
    };
    auto cell = [&](TSevenSegmentCharacter Glyph) {
        place(x, c, Glyph);
        x += c + spacing;
    };

    const bool negative = FValue < 0;
    if (FShowSign) cell(negative ? sscMinus : sscPlus);

    std::string s;
    const bool written = FormatFixed(FValue, FPrecision, s);
    const size_t room = size_t(digitCount) + (FPrecision == 0 ? 0 : 1);
    if (!written || s.size() > room) {
        for (int i = 0; i < digitCount; ++i)
            cell(negative ? sscDownArrow : sscUpArrow);
        return cells;
    }

    const size_t dot = s.find('.');
    std::string intPart = s.substr(0, dot);
    std::string fraction = dot == std::string::npos ? std::string() : s.substr(dot + 1);
    const size_t intWidth = size_t(std::max(digitCount - FPrecision, 0));
    if (LeadingStyle() != ilsNone && intPart.size() < intWidth)
        intPart.insert(0, intWidth - intPart.size(), LeadingStyle() == ilsZeros ? '0' : ' ');
    for (char ch : intPart)
        cell(TiSevenSegmentCharacter::CharToGlyph(ch));

    if (FPrecision > 0 && digitCount > 1) {
        // Any separator other than '.' is shown as the comma mark.
        const TSevenSegmentCharacter mark =
            QLocale().decimalPoint() == QLatin1String(".") ? sscPeriod : sscComma;
        place(x - RoundWide(double(c) / 10 + double(spacing) / 2), c / 5, mark);
        fraction.resize(size_t(FPrecision), '0');
        const int shown = std::min(FPrecision, digitCount - 1);
        for (int i = 0; i < shown; ++i)
            cell(TiSevenSegmentCharacter::CharToGlyph(fraction[i]));
    }
    return cells;
}

void TiSevenSegmentAnalog::PaintContent(QPainter& Canvas) {
    SyncCharacter();
    PaintBackground(Canvas, BackGroundColor());
    TiSevenSegmentCharacter& character = DrawingCharacter();
    for (const TSevenSegmentCell& cell : LayoutCells())
        character.DrawCharacter(Canvas, QPoint(cell.X, cell.Y), cell.Glyph, cell.Height,
                                cell.Width);
}
