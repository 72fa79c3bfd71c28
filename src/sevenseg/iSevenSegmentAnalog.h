// SPDX-License-Identifier: GPL-3.0-or-later
// Seven-segment readout of a floating-point value with a fixed number of
// decimals, an optional sign cell, a leading fill and overflow arrows.
// Nothing is cached: every paint formats the value and lays out and draws
// every cell again; a new value that shows the same cells paints nothing. User-interface thread
// only.
#pragma once

#include "FormatFixed.h"
#include "iSevenSegmentDisplay.h"

#include <string>
#include <vector>

// One box of the readout: a digit cell, the sign cell, or the narrow box of
// the decimal mark.
struct TSevenSegmentCell {
    int X, Y, Width, Height;
    TSevenSegmentCharacter Glyph;
};

class TiSevenSegmentAnalog : public TiSevenSegmentDisplay {
  public:
    explicit TiSevenSegmentAnalog(QWidget* Parent = nullptr);

    double Value() const { return FValue; }
    // Values above 1.0e15 and NaN are held at 1.0e15; an equal value does
    // nothing; an accepted change raises OnValueChange once and requests a
    // repaint when it shows other cells than the value before.
    void SetValue(double Value);
    // Digits after the decimal mark, 0 to 13.
    int Precision() const { return FPrecision; }
    void SetPrecision(int Value);
    // Reserve a first cell for the sign.
    bool ShowSign() const { return FShowSign; }
    void SetShowSign(bool Value);

    // The boxes and glyphs the next paint draws, in drawing order, from the
    // current size, settings, value and locale.
    std::vector<TSevenSegmentCell> LayoutCells() const;

  protected:
    void CalcAutoSize(int& AWidth, int& AHeight) override;
    void PaintContent(QPainter& Canvas) override;

  private:
    double FValue = 0;
    // FValue's text at FTextPrecision decimals, as FormatFixed gave it, kept
    // for the next value to compare with; -1: none yet.
    std::string FText;
    bool FTextWritten = false;
    int FTextPrecision = -1;
    int FPrecision = 2;
    bool FShowSign = true;
};
