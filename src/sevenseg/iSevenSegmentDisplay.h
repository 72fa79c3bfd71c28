// SPDX-License-Identifier: GPL-3.0-or-later
// A row of seven-segment cells sharing one set of segment settings, drawn
// by one hidden drawing character that the display owns. Derived classes
// decide what the cells show (PaintContent) and the natural size
// (CalcAutoSize). User-interface thread only.
#pragma once

#include "iSevenSegmentCharacter.h"

#include <memory>

enum TiLeadingStyle { ilsNone = 0, ilsZeros = 1, ilsSpaces = 2 };

class TiSevenSegmentDisplay : public TiCustomComponent {
  public:
    // Raised once for each accepted change of the shown value.
    std::function<void(TiSevenSegmentDisplay* Sender)> OnValueChange;

    explicit TiSevenSegmentDisplay(QWidget* Parent = nullptr);
    ~TiSevenSegmentDisplay() override;

    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);
    // Pixels between neighbouring cells; may be negative.
    int DigitSpacing() const { return FDigitSpacing; }
    void SetDigitSpacing(int Value);
    // Margin around the row of cells; at least 0.
    int SegmentMargin() const { return FSegmentMargin; }
    void SetSegmentMargin(int Value);
    TColor SegmentColor() const { return FSegmentColor; }
    void SetSegmentColor(TColor Value);
    TColor SegmentOffColor() const { return FSegmentOffColor; }
    void SetSegmentOffColor(TColor Value);
    bool AutoSegmentOffColor() const { return FAutoSegmentOffColor; }
    void SetAutoSegmentOffColor(bool Value);
    // 1 to 100.
    int SegmentSize() const { return FSegmentSize; }
    void SetSegmentSize(int Value);
    // At least 0.
    int SegmentSeperation() const { return FSegmentSeperation; }
    void SetSegmentSeperation(int Value);
    bool ShowOffSegments() const { return FShowOffSegments; }
    void SetShowOffSegments(bool Value) { SetAndInvalidate(FShowOffSegments, Value); }
    bool PowerOff() const { return FPowerOff; }
    void SetPowerOff(bool Value) { SetAndInvalidate(FPowerOff, Value); }
    // Number of digit cells, 1 to 32.
    int DigitCount() const { return FDigitCount; }
    void SetDigitCount(int Value);
    TiLeadingStyle LeadingStyle() const { return FLeadingStyle; }
    void SetLeadingStyle(TiLeadingStyle Value) { SetAndInvalidate(FLeadingStyle, Value); }

    // Copies the display's segment settings into the drawing character
    // (whose own margin is always 0 here).
    void SyncCharacter();
    // Resizes the control to CalcAutoSize while AutoSize is on and the
    // control is not loading.
    void UpdateAutoSize();

  protected:
    virtual void CalcAutoSize(int& AWidth, int& AHeight) = 0;
    TiSevenSegmentCharacter& DrawingCharacter() { return *FCharacter; }

  private:
    // Never shown and never given a parent: it only draws into the
    // display's canvas. Its repaints stay suspended for its whole life.
    std::unique_ptr<TiSevenSegmentCharacter> FCharacter;
    bool FAutoSize = true;
    int FDigitSpacing = 6;
    int FSegmentMargin = 5;
    TColor FSegmentColor = clWhite;
    TColor FSegmentOffColor = clGray;
    bool FAutoSegmentOffColor = true;
    int FSegmentSize = 1;
    int FSegmentSeperation = 1;
    bool FShowOffSegments = true;
    bool FPowerOff = false;
    int FDigitCount = 4;
    TiLeadingStyle FLeadingStyle = ilsSpaces;
};
