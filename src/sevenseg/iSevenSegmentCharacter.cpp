// SPDX-License-Identifier: GPL-3.0-or-later
#include "iSevenSegmentCharacter.h"

#include "SevenSegGeometry.h"

#include <QPainter>

#include <climits>
#include <initializer_list>

using namespace sevenseg;

namespace {

// Lit segments of the segment glyphs ssc0 .. sscF; bit 0 = a ... bit 6 = g.
constexpr std::uint8_t kSegmentsOf[16] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07,
                                          0x7F, 0x67, 0x77, 0x7C, 0x39, 0x5E, 0x79, 0x71};
constexpr char kReadAs[] = "0123456789abcdef.:+- _<>;,";
constexpr int kGlyphCount = 26;

void Polygon(QPainter& Canvas, const QColor& Color, std::initializer_list<QPoint> Points) {
    // The outline in the fill colour makes the boundary pixels part of the
    // shape. The painter's line rule leaves out the end pixel of some edges,
    // so the corners are set explicitly: every corner point is covered.
    Canvas.setPen(Color);
    Canvas.setBrush(Color);
    Canvas.drawPolygon(Points.begin(), int(Points.size()));
    Canvas.drawPoints(Points.begin(), int(Points.size()));
}

bool IsNarrow(TSevenSegmentCharacter Glyph) {
    return Glyph == sscPeriod || Glyph == sscColon || Glyph == sscSemiColon || Glyph == sscComma;
}

} // namespace

TColor DimColor(TColor Color, int Factor) {
    if (Factor <= 0) return Color & 0xFFFFFF;
    const TColor r = (Color & 0xFF) / Factor, g = ((Color >> 8) & 0xFF) / Factor,
                 b = ((Color >> 16) & 0xFF) / Factor;
    return r | g << 8 | b << 16;
}

TiSevenSegmentCharacter::TiSevenSegmentCharacter(QWidget* Parent) : TiCustomComponent(Parent) {
    SetBackGroundColor(clBlack);
    UpdateAutoSize();
}

void TiSevenSegmentCharacter::SetValue(TSevenSegmentCharacter Value) {
    if (Value == FValue) return;
    bool allow = true;
    if (BeforeChangeHook) BeforeChangeHook(this, "Value", allow);
    if (!allow) return;
    FValue = Value;
    InvalidateChange();
    UpdateAutoSize();
    if (AfterChangeHook) AfterChangeHook(this, "Value");
}

char TiSevenSegmentCharacter::Character() const {
    return FValue < kGlyphCount ? kReadAs[FValue] : ' ';
}

TSevenSegmentCharacter TiSevenSegmentCharacter::CharToGlyph(char Value) {
    if (Value >= '0' && Value <= '9') return TSevenSegmentCharacter(ssc0 + (Value - '0'));
    if (Value >= 'A' && Value <= 'F') return TSevenSegmentCharacter(sscA + (Value - 'A'));
    if (Value >= 'a' && Value <= 'f') return TSevenSegmentCharacter(sscA + (Value - 'a'));
    switch (Value) {
    case '.':
        return sscPeriod;
    case ':':
        return sscColon;
    case '+':
        return sscPlus;
    case '-':
        return sscMinus;
    case '_':
        return sscLine;
    case '<':
        return sscUpArrow;
    case '>':
        return sscDownArrow;
    case ';':
        return sscSemiColon;
    case ',':
        return sscComma;
    default:
        return sscBlank;
    }
}

void TiSevenSegmentCharacter::SetSegmentSize(int Value) {
    if (Value == FSegmentSize) return;
    FSegmentSize = Value <= 0 ? 1 : Value;
    UpdateAutoSize();
    InvalidateChange();
}

void TiSevenSegmentCharacter::SetSegmentSeperation(int Value) {
    if (Value == FSegmentSeperation) return;
    FSegmentSeperation = Value < 0 ? 0 : Value;
    InvalidateChange();
}

void TiSevenSegmentCharacter::SetSegmentMargin(int Value) {
    if (Value == FSegmentMargin) return;
    FSegmentMargin = Value < 0 ? 0 : Value;
    UpdateAutoSize();
    InvalidateChange();
}

void TiSevenSegmentCharacter::SetAutoSize(bool Value) {
    if (Value == FAutoSize) return;
    FAutoSize = Value;
    UpdateAutoSize();
    InvalidateChange();
}

std::uint8_t TiSevenSegmentCharacter::SegmentBits() const {
    std::uint8_t bits = 0;
    for (int i = 0; i < 7; ++i)
        if (FSegOn[i]) bits |= std::uint8_t(1u << i);
    return bits;
}

void TiSevenSegmentCharacter::SetSegmentBits(std::uint8_t Value) {
    for (int i = 0; i < 7; ++i)
        FSegOn[i] = (Value >> i) & 1;
    InvalidateChange();
}

int TiSevenSegmentCharacter::GlyphWidth() const {
    const long long w = 2LL * FSegmentMargin + (IsNarrow(FValue) ? 2LL : 10LL) * FSegmentSize;
    return int(Clamp(w, 0, INT_MAX));
}

int TiSevenSegmentCharacter::GlyphHeight() const {
    return int(Clamp(2LL * FSegmentMargin + 18LL * FSegmentSize, 0, INT_MAX));
}

void TiSevenSegmentCharacter::UpdateAutoSize() {
    if (IsLoading() || !FAutoSize) return;
    resize(int(Clamp(GlyphWidth() + 1LL, 0, QWIDGETSIZE_MAX)),
           int(Clamp(GlyphHeight() + 1LL, 0, QWIDGETSIZE_MAX)));
}

void TiSevenSegmentCharacter::PaintContent(QPainter& Canvas) {
    PaintBackground(Canvas, BackGroundColor());
    DrawCharacter(Canvas, QPoint(0, 0), FValue, height(), width());
}

void TiSevenSegmentCharacter::DrawCharacter(QPainter& Canvas, QPoint Origin,
                                            TSevenSegmentCharacter Glyph, int Height, int Width) {
    // A system colour is resolved before it is dimmed, so the unlit colour is
    // a darker shade of what is actually shown.
    const TColor offColor =
        FAutoSegmentOffColor ? DimColor(ColorToRGB(FSegmentColor, palette()), 3) : FSegmentOffColor;
    const QColor off = ResolveColor(offColor);
    const QColor lit = FPowerOff ? off : ResolveColor(FSegmentColor);

    const long long X0 = Origin.x(), Y0 = Origin.y(), W = Width, H = Height;
    const long long M = FSegmentMargin, S = FSegmentSeperation, Z = FSegmentSize;
    const long long L = X0 + M, R = X0 + W - 1 - M, T = Y0 + M, B = Y0 + H - 1 - M;
    const long long Ym = Y0 + (H - 1) / 2, Xc = X0 + W / 2;
    auto row = [&](int k) { return Y0 + RoundWide(double(k * H) / 18); };

    if (FUseSegmentBits || Glyph <= sscF || Glyph == sscBlank || Glyph >= kGlyphCount) {
        std::uint8_t bits = 0;
        if (FUseSegmentBits)
            bits = SegmentBits();
        else if (Glyph <= sscF)
            bits = kSegmentsOf[Glyph];
        for (int i = 0; i < 7; ++i) {
            const bool on = (bits >> i) & 1;
            if (!on && !FShowOffSegments) continue;
            const QColor& c = on ? lit : off;
            switch (i) {
            case 0:
                Polygon(Canvas, c,
                        {Pt(L + S, T), Pt(R - S, T), Pt(R - S - 2 * Z, T + 2 * Z),
                         Pt(L + S + 2 * Z, T + 2 * Z)});
                break;
            case 1:
                Polygon(Canvas, c,
                        {Pt(R, T + S), Pt(R, Ym - S), Pt(R - 2 * Z, Ym - S - 2 * Z),
                         Pt(R - 2 * Z, T + S + 2 * Z)});
                break;
            case 2:
                Polygon(Canvas, c,
                        {Pt(R, Ym + S), Pt(R, B - S), Pt(R - 2 * Z, B - S - 2 * Z),
                         Pt(R - 2 * Z, Ym + S + 2 * Z)});
                break;
            case 3:
                Polygon(Canvas, c,
                        {Pt(L + S, B), Pt(R - S, B), Pt(R - S - 2 * Z, B - 2 * Z),
                         Pt(L + S + 2 * Z, B - 2 * Z)});
                break;
            case 4:
                Polygon(Canvas, c,
                        {Pt(L, Ym + S), Pt(L, B - S), Pt(L + 2 * Z, B - S - 2 * Z),
                         Pt(L + 2 * Z, Ym + S + 2 * Z)});
                break;
            case 5:
                Polygon(Canvas, c,
                        {Pt(L, T + S), Pt(L, Ym - S), Pt(L + 2 * Z, Ym - S - 2 * Z),
                         Pt(L + 2 * Z, T + S + 2 * Z)});
                break;
            default:
                Polygon(Canvas, c,
                        {Pt(L + S, Ym), Pt(L + S + Z, Ym - Z), Pt(R - S - Z, Ym - Z), Pt(R - S, Ym),
                         Pt(R - S - Z, Ym + Z), Pt(L + S + Z, Ym + Z)});
                break;
            }
        }
        return;
    }

    auto rect = [&](const QColor& c, long long x1, long long y1, long long x2, long long y2) {
        Polygon(Canvas, c, {Pt(x1, y1), Pt(x2, y1), Pt(x2, y2), Pt(x1, y2)});
    };
    const long long Xa = X0 + RoundWide(2.5 * double(W) / 10);
    const long long Xb = X0 + RoundWide(7.5 * double(W) / 10);
    auto plusShape = [&](const QColor& c) {
        const double mid = 4.5 * double(H) / 18;
        rect(c, Xa, Y0 + RoundWide(mid - 0.5 * double(Z)), Xb,
             Y0 + RoundWide(mid + 0.5 * double(Z)));
        rect(c, X0 + RoundWide(0.5 * double(W) - 0.5 * double(Z)),
             Y0 + RoundWide(2 * double(H) / 18), X0 + RoundWide(0.5 * double(W) + 0.5 * double(Z)),
             Y0 + RoundWide(7 * double(H) / 18));
    };
    auto minusShape = [&](const QColor& c) {
        const double mid = 13.5 * double(H) / 18;
        rect(c, Xa, Y0 + RoundWide(mid - 0.5 * double(Z)), Xb,
             Y0 + RoundWide(mid + 0.5 * double(Z)));
    };
    auto colonLower = [&] { rect(lit, Xc - Z, row(11), Xc + Z, row(13)); };
    auto tail = [&] { rect(lit, Xc, row(13), Xc + Z, row(16)); };

    switch (Glyph) {
    case sscPeriod:
        rect(lit, Xc - Z, Y0 + H - 2 * Z, Xc + Z, Y0 + H);
        break;
    case sscColon:
        rect(lit, Xc - Z, row(5), Xc + Z, row(7));
        colonLower();
        break;
    case sscSemiColon:
        rect(lit, Xc - Z, row(5), Xc + Z, row(7));
        colonLower();
        tail();
        break;
    case sscComma:
        colonLower();
        tail();
        break;
    case sscPlus:
        plusShape(lit);
        if (FShowOffSegments) minusShape(off);
        break;
    case sscMinus:
        minusShape(lit);
        if (FShowOffSegments) plusShape(off);
        break;
    case sscLine:
        rect(lit, L, Ym - Z / 2, R, Ym + Z / 2);
        break;
    case sscUpArrow:
    case sscDownArrow: {
        const long long k = (W - 1 - 2 * M) / 2, Xm = X0 + (W - 1) / 2, Yh = Y0 + H / 2;
        long long apex;
        if (Glyph == sscUpArrow)
            apex = H / 2 - k > M ? Y0 + H / 2 - k : T;
        else
            apex = H - 1 - M > H / 2 + k ? Y0 + H / 2 + k : B;
        Polygon(Canvas, lit, {Pt(Xm + k, Yh), Pt(Xm - k, Yh), Pt(Xm, apex)});
        break;
    }
    default:
        break;
    }
}
