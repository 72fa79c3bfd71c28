// SPDX-License-Identifier: GPL-3.0-or-later
// One seven-segment character: digits, hexadecimal letters and a few
// punctuation and symbol glyphs, drawn as filled integer polygons whose
// corners follow from the margin, separation and segment-size settings.
// It can stand alone as a control; the numeric display uses one hidden
// instance as its drawing engine (DrawCharacter into boxes of its canvas).
// User-interface thread only.
#pragma once

#include "iCustomComponent.h"

#include <QPoint>

enum TSevenSegmentCharacter : std::uint8_t {
    ssc0,
    ssc1,
    ssc2,
    ssc3,
    ssc4,
    ssc5,
    ssc6,
    ssc7,
    ssc8,
    ssc9,
    sscA,
    sscB,
    sscC,
    sscD,
    sscE,
    sscF,
    sscPeriod,
    sscColon,
    sscPlus,
    sscMinus,
    sscBlank,
    sscLine,
    sscUpArrow,
    sscDownArrow,
    sscSemiColon,
    sscComma
};

// Each of the red, green and blue bytes divided by Factor; the top byte is
// dropped.
TColor DimColor(TColor Color, int Factor);

class TiSevenSegmentCharacter : public TiCustomComponent {
  public:
    explicit TiSevenSegmentCharacter(QWidget* Parent = nullptr);

    TSevenSegmentCharacter Value() const { return FValue; }
    void SetValue(TSevenSegmentCharacter Value);
    // Text view of Value: letters read back in lower case, unknown
    // characters select sscBlank (read back as ' ').
    char Character() const;
    void SetCharacter(char Value) { SetValue(CharToGlyph(Value)); }
    static TSevenSegmentCharacter CharToGlyph(char Value);

    // Bars are 2 * SegmentSize thick; at least 1.
    int SegmentSize() const { return FSegmentSize; }
    void SetSegmentSize(int Value);
    // Gap at each end of a bar; at least 0.
    int SegmentSeperation() const { return FSegmentSeperation; }
    void SetSegmentSeperation(int Value);
    // Empty border inside the glyph box; at least 0.
    int SegmentMargin() const { return FSegmentMargin; }
    void SetSegmentMargin(int Value);

    TColor SegmentColor() const { return FSegmentColor; }
    void SetSegmentColor(TColor Value) { SetAndInvalidate(FSegmentColor, Value); }
    TColor SegmentOffColor() const { return FSegmentOffColor; }
    void SetSegmentOffColor(TColor Value) { SetAndInvalidate(FSegmentOffColor, Value); }
    bool AutoSegmentOffColor() const { return FAutoSegmentOffColor; }
    void SetAutoSegmentOffColor(bool Value) { SetAndInvalidate(FAutoSegmentOffColor, Value); }
    bool ShowOffSegments() const { return FShowOffSegments; }
    void SetShowOffSegments(bool Value) { SetAndInvalidate(FShowOffSegments, Value); }
    bool PowerOff() const { return FPowerOff; }
    void SetPowerOff(bool Value) { SetAndInvalidate(FPowerOff, Value); }
    bool UseSegmentBits() const { return FUseSegmentBits; }
    void SetUseSegmentBits(bool Value) { SetAndInvalidate(FUseSegmentBits, Value); }

    bool SegAOn() const { return FSegOn[0]; }
    bool SegBOn() const { return FSegOn[1]; }
    bool SegCOn() const { return FSegOn[2]; }
    bool SegDOn() const { return FSegOn[3]; }
    bool SegEOn() const { return FSegOn[4]; }
    bool SegFOn() const { return FSegOn[5]; }
    bool SegGOn() const { return FSegOn[6]; }
    void SetSegAOn(bool Value) { SetAndInvalidate(FSegOn[0], Value); }
    void SetSegBOn(bool Value) { SetAndInvalidate(FSegOn[1], Value); }
    void SetSegCOn(bool Value) { SetAndInvalidate(FSegOn[2], Value); }
    void SetSegDOn(bool Value) { SetAndInvalidate(FSegOn[3], Value); }
    void SetSegEOn(bool Value) { SetAndInvalidate(FSegOn[4], Value); }
    void SetSegFOn(bool Value) { SetAndInvalidate(FSegOn[5], Value); }
    void SetSegGOn(bool Value) { SetAndInvalidate(FSegOn[6], Value); }
    // The seven flags packed, bit 0 = a ... bit 6 = g; bit 7 is ignored.
    std::uint8_t SegmentBits() const;
    void SetSegmentBits(std::uint8_t Value);

    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);

    // Natural size of the current Value, without the one extra pixel that
    // UpdateAutoSize adds.
    int GlyphWidth() const;
    int GlyphHeight() const;
    void UpdateAutoSize();

    // Draws Glyph into the Width x Height box at Origin with the current
    // size and colour settings; paints no background.
    void DrawCharacter(QPainter& Canvas, QPoint Origin, TSevenSegmentCharacter Glyph, int Height,
                       int Width);

  protected:
    void PaintContent(QPainter& Canvas) override;

  private:
    TSevenSegmentCharacter FValue = ssc0;
    int FSegmentSize = 1;
    int FSegmentSeperation = 1;
    int FSegmentMargin = 2;
    TColor FSegmentColor = clLime;
    TColor FSegmentOffColor = clGreen;
    bool FAutoSegmentOffColor = true;
    bool FShowOffSegments = true;
    bool FPowerOff = false;
    bool FUseSegmentBits = false;
    bool FSegOn[7] = {};
    bool FAutoSize = true;
};
