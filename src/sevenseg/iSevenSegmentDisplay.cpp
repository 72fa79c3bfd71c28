// SPDX-License-Identifier: GPL-3.0-or-later
#include "iSevenSegmentDisplay.h"

#include "SevenSegGeometry.h"

using namespace sevenseg;

TiSevenSegmentDisplay::TiSevenSegmentDisplay(QWidget* Parent)
    : TiCustomComponent(Parent), FCharacter(std::make_unique<TiSevenSegmentCharacter>()) {
    resize(15, 15);
    SetBackGroundColor(clBlack);
    FCharacter->BeginUpdate();
    FCharacter->SetSegmentMargin(0);
    FCharacter->SetAutoSize(false);
}

TiSevenSegmentDisplay::~TiSevenSegmentDisplay() = default;

void TiSevenSegmentDisplay::SetAutoSize(bool Value) {
    if (Value == FAutoSize) return;
    FAutoSize = Value;
    UpdateAutoSize();
    InvalidateChange();
}

void TiSevenSegmentDisplay::SetDigitSpacing(int Value) {
    if (Value == FDigitSpacing) return;
    FDigitSpacing = Value;
    UpdateAutoSize();
    InvalidateChange();
}

void TiSevenSegmentDisplay::SetSegmentMargin(int Value) {
    if (Value == FSegmentMargin) return;
    FSegmentMargin = Value < 0 ? 0 : Value;
    UpdateAutoSize();
    InvalidateChange();
}

void TiSevenSegmentDisplay::SetSegmentColor(TColor Value) {
    if (Value == FSegmentColor) return;
    FSegmentColor = Value;
    FCharacter->SetSegmentColor(Value);
    InvalidateChange();
}

void TiSevenSegmentDisplay::SetSegmentOffColor(TColor Value) {
    if (Value == FSegmentOffColor) return;
    FSegmentOffColor = Value;
    FCharacter->SetSegmentOffColor(Value);
    InvalidateChange();
}

void TiSevenSegmentDisplay::SetAutoSegmentOffColor(bool Value) {
    if (Value == FAutoSegmentOffColor) return;
    FAutoSegmentOffColor = Value;
    FCharacter->SetAutoSegmentOffColor(Value);
    InvalidateChange();
}

void TiSevenSegmentDisplay::SetSegmentSize(int Value) {
    if (Value == FSegmentSize) return;
    FSegmentSize = int(Clamp(Value, 1, 100));
    FCharacter->SetSegmentSize(FSegmentSize);
    UpdateAutoSize();
    InvalidateChange();
}

void TiSevenSegmentDisplay::SetSegmentSeperation(int Value) {
    if (Value == FSegmentSeperation) return;
    FSegmentSeperation = Value < 0 ? 0 : Value;
    FCharacter->SetSegmentSeperation(FSegmentSeperation);
    InvalidateChange();
}

void TiSevenSegmentDisplay::SetDigitCount(int Value) {
    if (Value == FDigitCount) return;
    FDigitCount = int(Clamp(Value, 1, 32));
    UpdateAutoSize();
    InvalidateChange();
}

void TiSevenSegmentDisplay::SyncCharacter() {
    TiSevenSegmentCharacter& c = *FCharacter;
    c.SetSegmentMargin(0);
    c.SetSegmentColor(FSegmentColor);
    c.SetSegmentOffColor(FSegmentOffColor);
    c.SetAutoSegmentOffColor(FAutoSegmentOffColor);
    c.SetSegmentSize(FSegmentSize);
    c.SetSegmentSeperation(FSegmentSeperation);
    c.SetShowOffSegments(FShowOffSegments);
    c.SetPowerOff(FPowerOff);
}

void TiSevenSegmentDisplay::UpdateAutoSize() {
    if (IsLoading() || !FAutoSize) return;
    int w = 0, h = 0;
    CalcAutoSize(w, h);
    resize(int(Clamp(w, 0, QWIDGETSIZE_MAX)), int(Clamp(h, 0, QWIDGETSIZE_MAX)));
}
