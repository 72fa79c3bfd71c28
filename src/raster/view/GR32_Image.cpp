// SPDX-License-Identifier: GPL-3.0-or-later
#include "GR32_Image.h"

#include "Rounding.h"
#include "ScopeGuards.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

constexpr TColor clWindow = 0xFF000005;
// Growth the buffer is given beyond the view, so that small resizes of the
// widget do not reallocate it.
constexpr int BufferSlack = 40;

// Fills R (cut to the bitmap's clip rectangle) with C.
void FillArea(TBitmap32* Dest, const TRect& R, TColor32 C) {
    TRect r;
    if (!IntersectRect(r, R, Dest->ClipRect())) return;
    for (int y = r.Top; y < r.Bottom; ++y)
        std::fill_n(Dest->PixelPtr(r.Left, y), r.Width(), C);
}

} // namespace

// ---------------------------------------------------------------------------
// TPaintStages

TPaintStage& TPaintStages::Add() {
    FItems.emplace_back();
    return FItems.back();
}

TPaintStage& TPaintStages::Insert(int Index) {
    const int at = std::clamp(Index, 0, Count());
    return *FItems.emplace(FItems.begin() + at);
}

void TPaintStages::Delete(int Index) {
    if (Index >= 0 && Index < Count()) FItems.erase(FItems.begin() + Index);
}

// ---------------------------------------------------------------------------
// TCustomPaintBox32

TCustomPaintBox32::TCustomPaintBox32(QWidget* Parent)
    : QWidget(Parent), FBuffer(std::make_unique<TBitmap32>()) {
    // The buffer covers every pixel of the widget: nothing needs erasing.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(192, 192);
}

TCustomPaintBox32::~TCustomPaintBox32() = default;

TRect TCustomPaintBox32::ViewRect() const {
    return TRect{0, 0, width(), height()};
}

void TCustomPaintBox32::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    setGeometry(ALeft, ATop, std::max(0, AWidth), std::max(0, AHeight));
}

void TCustomPaintBox32::Invalidate() {
    FBufferValid = false;
    update();
}

void TCustomPaintBox32::Repaint() {
    Invalidate();
    repaint();
}

void TCustomPaintBox32::ForceFullInvalidate() {
    FForceFullRepaint = true;
    Invalidate();
}

void TCustomPaintBox32::InvalidateBufferArea(const TRect& Area) {
    if (IsRectEmpty(Area)) return;
    if (IsRectEmpty(FBufferDirty)) {
        FBufferDirty = Area;
        return;
    }
    TRect& D = FBufferDirty;
    D = TRect{std::min(D.Left, Area.Left), std::min(D.Top, Area.Top), std::max(D.Right, Area.Right),
              std::max(D.Bottom, Area.Bottom)};
}

void TCustomPaintBox32::DoPaintBuffer() {}

void TCustomPaintBox32::DoPaintGDIOverlay(QPainter&) {
    if (OnGDIOverlay) OnGDIOverlay(this);
}

bool TCustomPaintBox32::ResizeBuffer() {
    auto fit = [](int View, int Buf) {
        View = std::max(0, View);
        int r;
        if (View > Buf)
            r = View + BufferSlack;
        else if (View >= Buf - BufferSlack)
            r = Buf;
        else
            r = View;
        return r <= 0 ? 1 : r;
    };
    const int w = fit(width(), FBuffer->Width());
    const int h = fit(height(), FBuffer->Height());
    if (w == FBuffer->Width() && h == FBuffer->Height()) return false;
    {
        TLockGuard Guard(*FBuffer);
        FBuffer->SetSize(w, h);
    }
    // New storage has no picture yet.
    FBufferValid = false;
    FForceFullRepaint = true;
    return true;
}

void TCustomPaintBox32::resizeEvent(QResizeEvent* Event) {
    QWidget::resizeEvent(Event);
    ResizeBuffer();
    Invalidate();
}

void TCustomPaintBox32::paintEvent(QPaintEvent*) {
    // An exception must not unwind through Qt's paint machinery: it goes to
    // OnPaintError, the buffer stays invalid and the screen keeps what it had.
    try {
        DoBeforePaint();
        // A hidden widget may have been resized without a resize event yet.
        ResizeBuffer();
        if (!FBufferValid || !IsRectEmpty(FBufferDirty)) {
            FPaintArea = FBufferValid ? FBufferDirty : FBuffer->BoundsRect();
            DoPaintBuffer();
            FBufferValid = true;
            FBufferDirty = TRect{0, 0, 0, 0};
        }
    } catch (const std::exception& E) {
        if (OnPaintError) OnPaintError(this, E);
        return;
    }
    QPainter painter(this);
    {
        TLockGuard Guard(*FBuffer);
        if (!FBuffer->Empty()) {
            // The screen copy ignores alpha, as a device blit would: RGB32 reads
            // the same bytes as ARGB32 and leaves the fourth byte alone.
            const QImage image(reinterpret_cast<const uchar*>(FBuffer->Bits()), FBuffer->Width(),
                               FBuffer->Height(), FBuffer->Width() * 4, QImage::Format_RGB32);
            painter.drawImage(QPoint(0, 0), image, QRect(0, 0, width(), height()));
        }
    }
    DoPaintGDIOverlay(painter);
    FForceFullRepaint = false;
}

// ---------------------------------------------------------------------------
// TCustomImage32

TCustomImage32::TCustomImage32(QWidget* Parent)
    : TCustomPaintBox32(Parent), FBitmap(std::make_unique<TBitmap32>()),
      FLayerList(std::make_unique<TLayerCollection>(this)),
      FPaintStages(std::make_unique<TPaintStages>()), FColor(clWindow) {
    FBitmap->OnChange = [this](TNotifiablePersistent*) { BitmapChanged(); };
    FBitmap->OnResize = [this](TNotifiablePersistent*) { BitmapResized(); };
    FLayerList->OnChange = [this] { Changed(); };
    FLayerList->OnGDIUpdate = [this] { update(); };
    FLayerList->OnGetViewportScale = [this](float& X, float& Y) {
        UpdateCache();
        X = FCachedScaleX;
        Y = FCachedScaleY;
    };
    FLayerList->OnGetViewportShift = [this](float& X, float& Y) {
        UpdateCache();
        X = FCachedShiftX;
        Y = FCachedShiftY;
    };
    InitDefaultStages();
}

TCustomImage32::~TCustomImage32() {
    // Layers and the bitmap report changes while they are freed; the view
    // is past listening by then.
    FLayerList.reset();
    FBitmap->OnChange = nullptr;
    FBitmap->OnResize = nullptr;
    FBitmap.reset();
}

void TCustomImage32::SetBitmap(const TBitmap32* Value) {
    FBitmap->Assign(Value);
}

void TCustomImage32::SetBitmapAlign(TBitmapAlign Value) {
    if (FBitmapAlign == Value) return;
    FCacheValid = false;
    FBitmapAlign = Value;
    Changed();
}

void TCustomImage32::SetScaleMode(TScaleMode Value) {
    if (FScaleMode == Value) return;
    FCacheValid = false;
    FScaleMode = Value;
    Changed();
}

void TCustomImage32::SetScale(float Value) {
    if (Value == FScaleX && Value == FScaleY) return;
    if (!(Value >= 0.001f)) Value = 0.001f;
    FScaleX = FScaleY = Value;
    FCachedScaleX = FCachedScaleY = Value;
    FCachedRecScaleX = FCachedRecScaleY = 1 / Value;
    // The cached rectangle and shift belong to the old scale; without this a
    // conversion inside begin/end-update would mix the two.
    FCacheValid = false;
    if (OnScaleChange) OnScaleChange(this);
    Changed();
}

void TCustomImage32::SetOffsetHorz(float Value) {
    if (FOffsetHorz == Value) return;
    FCacheValid = false;
    FOffsetHorz = Value;
    Changed();
}

void TCustomImage32::SetOffsetVert(float Value) {
    if (FOffsetVert == Value) return;
    FCacheValid = false;
    FOffsetVert = Value;
    Changed();
}

void TCustomImage32::SetAutoSize(bool Value) {
    if (FAutoSize == Value) return;
    FAutoSize = Value;
    if (FAutoSize) BitmapResized();
}

void TCustomImage32::SetColor(TColor Value) {
    if (FColor == Value) return;
    FColor = Value;
    Changed();
}

TColor32 TCustomImage32::Color32() const {
    const QColor c = ColorToQColor(FColor, palette());
    return ::Color32(c.red(), c.green(), c.blue());
}

void TCustomImage32::EndUpdate() {
    // Checked before the count drops, so a stray call leaves it at 0 and the
    // view keeps repainting on later changes.
    if (FUpdateCount <= 0) throw EViewAssertion("Unpaired EndUpdate call");
    --FUpdateCount;
}

void TCustomImage32::Changed() {
    if (FUpdateCount != 0) return;
    Invalidate();
    if (OnChange) OnChange(this);
}

void TCustomImage32::Invalidate() {
    FCacheValid = false;
    TCustomPaintBox32::Invalidate();
}

void TCustomImage32::BitmapChanged() {
    Changed();
}

void TCustomImage32::BitmapResized() {
    if (FAutoSize) {
        int w = FBitmap->Width(), h = FBitmap->Height();
        if (FScaleMode == smScale) {
            w = RoundEven(double(w) * FScaleX);
            h = RoundEven(double(h) * FScaleY);
        }
        if (w > 0 && h > 0) resize(w, h);
    }
    if (FUpdateCount == 0 && OnBitmapResize) OnBitmapResize(this);
    FCacheValid = false;
    ForceFullInvalidate();
}

TRect TCustomImage32::BitmapPlacement() const {
    if (FBitmap->Empty()) return TRect{};
    const int bw = FBitmap->Width(), bh = FBitmap->Height();
    const int vw = std::max(0, width()), vh = std::max(0, height());
    int w = bw, h = bh;
    auto resized = [&] {
        if (double(vw) / bw >= double(vh) / bh) {
            w = RoundEven(double(bw) * vh / bh);
            h = vh;
        } else {
            w = vw;
            h = RoundEven(double(bh) * vw / bw);
        }
    };
    auto scaled = [&] {
        w = RoundEven(double(bw) * FScaleX);
        h = RoundEven(double(bh) * FScaleY);
    };
    switch (FScaleMode) {
    case smNormal:
        break;
    case smStretch:
        w = vw;
        h = vh;
        break;
    case smResize:
        resized();
        break;
    case smScale:
        scaled();
        break;
    case smOptimal:
        if (bw > vw || bh > vh) resized();
        break;
    case smOptimalScaled:
        scaled();
        if (w > vw || h > vh) resized();
        break;
    }
    if (w < 1) w = 0;
    if (h < 1) h = 0;
    TRect r{0, 0, w, h};
    switch (FBitmapAlign) {
    case baCenter:
        r = OffsetRect(r, (width() - w) / 2, (height() - h) / 2);
        break;
    case baCustom:
        r = OffsetRect(r, RoundEven(FOffsetHorz), RoundEven(FOffsetVert));
        break;
    case baTopLeft:
    case baTile:
        break;
    }
    return r;
}

void TCustomImage32::UpdateCache() {
    if (FCacheValid) return;
    FCachedBitmapRect = BitmapPlacement();
    if (FBitmap->Empty()) {
        FCachedShiftX = FCachedShiftY = 0;
        FCachedScaleX = FCachedScaleY = 1;
    } else {
        FCachedShiftX = FCachedBitmapRect.Left;
        FCachedShiftY = FCachedBitmapRect.Top;
        FCachedScaleX = float(FCachedBitmapRect.Width()) / FBitmap->Width();
        FCachedScaleY = float(FCachedBitmapRect.Height()) / FBitmap->Height();
    }
    FCachedRecScaleX = FCachedScaleX != 0 ? 1 / FCachedScaleX : 0;
    FCachedRecScaleY = FCachedScaleY != 0 ? 1 / FCachedScaleY : 0;
    FCacheValid = true;
}

TPoint TCustomImage32::ViewToBitmap(const TPoint& P) {
    UpdateCache();
    TPoint r;
    r.X = FCachedRecScaleX == 0
              ? INT_MAX
              : SaturateToInt(std::floor(double(FCachedRecScaleX) * (P.X - double(FCachedShiftX))));
    r.Y = FCachedRecScaleY == 0
              ? INT_MAX
              : SaturateToInt(std::floor(double(FCachedRecScaleY) * (P.Y - double(FCachedShiftY))));
    return r;
}

TPoint TCustomImage32::BitmapToView(const TPoint& P) {
    UpdateCache();
    return TPoint{SaturateToInt(std::trunc(double(P.X) * FCachedScaleX + FCachedShiftX)),
                  SaturateToInt(std::trunc(double(P.Y) * FCachedScaleY + FCachedShiftY))};
}

void TCustomImage32::InitDefaultStages() {
    FPaintStages->Clear();
    auto add = [this](bool Dsgn, bool Run, uint32_t Stage, uint32_t Parameter = 0) {
        TPaintStage& s = FPaintStages->Add();
        s.DsgnTime = Dsgn;
        s.RunTime = Run;
        s.Stage = Stage;
        s.Parameter = Parameter;
    };
    add(true, true, PST_CLEAR_BACKGND);
    add(true, false, PST_CONTROL_FRAME);
    add(true, true, PST_DRAW_BITMAP);
    add(true, false, PST_BITMAP_FRAME);
    add(true, true, PST_DRAW_LAYERS, LOB_VISIBLE);
    if (OnInitStages) OnInitStages(this);
}

void TCustomImage32::DoBeforePaint() {
    if (OnBitmapRead) OnBitmapRead(this);
}

void TCustomImage32::DoPaintBuffer() {
    TBitmap32* buffer = Buffer();
    UpdateCache();
    // The program never runs in a designer: the run-time stages are active.
    using Handler = void (TCustomImage32::*)(TBitmap32*, int);
    std::vector<std::pair<Handler, int>> active;
    for (int i = 0; i < FPaintStages->Count(); ++i) {
        const TPaintStage& s = (*FPaintStages)[i];
        if (!s.RunTime) continue;
        switch (s.Stage) {
        case PST_CUSTOM:
            active.emplace_back(&TCustomImage32::ExecCustom, i);
            break;
        case PST_CLEAR_BUFFER:
            active.emplace_back(&TCustomImage32::ExecClearBuffer, i);
            break;
        case PST_CLEAR_BACKGND:
            active.emplace_back(&TCustomImage32::ExecClearBackgnd, i);
            break;
        case PST_DRAW_BITMAP:
            active.emplace_back(&TCustomImage32::ExecDrawBitmap, i);
            break;
        case PST_DRAW_LAYERS:
            active.emplace_back(&TCustomImage32::ExecDrawLayers, i);
            break;
        default:
            break; // frames are drawn in a designer only
        }
    }
    TUpdateGuard update(*buffer);
    // Every stage keeps to the buffer's clip: what lies outside the area to
    // paint stays as the last paint left it.
    TRect view;
    IntersectRect(view, ViewRect(), buffer->BoundsRect());
    IntersectRect(view, view, PaintArea());
    buffer->SetClipRect(view);
    for (const auto& [handler, index] : active)
        (this->*handler)(buffer, index);
}

void TCustomImage32::DoPaintGDIOverlay(QPainter& Painter) {
    for (int i = 0; i < FLayerList->Count(); ++i) {
        TCustomLayer* layer = FLayerList->Items(i);
        if (layer->LayerOptions() & LOB_GDI_OVERLAY) layer->PaintGDI(Painter);
    }
    TCustomPaintBox32::DoPaintGDIOverlay(Painter);
}

void TCustomImage32::ExecClearBuffer(TBitmap32* Dest, int) {
    Dest->Clear(Color32());
}

void TCustomImage32::ExecClearBackgnd(TBitmap32* Dest, int) {
    const TColor32 c = Color32();
    const TRect& r = FCachedBitmapRect;
    const int w = width(), h = height();
    if (FBitmap->Empty() || FBitmap->DrawMode() != dmOpaque) {
        FillArea(Dest, Dest->BoundsRect(), c);
    } else if (r.Left <= 0 && r.Right >= w && r.Top <= 0 &&
               (r.Bottom >= h || FBitmapAlign == baTile)) {
        // The opaque bitmap covers the whole view.
    } else {
        FillArea(Dest, TRect{0, 0, w, r.Top}, c);
        FillArea(Dest, TRect{0, r.Bottom, w, h}, c);
        FillArea(Dest, TRect{0, r.Top, r.Left, r.Bottom}, c);
        FillArea(Dest, TRect{r.Right, r.Top, w, r.Bottom}, c);
    }
}

void TCustomImage32::ExecDrawBitmap(TBitmap32* Dest, int) {
    const TRect& r = FCachedBitmapRect;
    if (FBitmap->Empty() || IsRectEmpty(r)) return;
    TLockGuard guard(*FBitmap);
    if (FBitmapAlign == baTile) {
        const int w = r.Width(), h = r.Height();
        for (int y = 0; y < Dest->Height(); y += h)
            for (int x = 0; x < Dest->Width(); x += w)
                FBitmap->DrawOnto(Dest, TRect{x, y, x + w, y + h});
    } else {
        FBitmap->DrawOnto(Dest, r);
    }
}

void TCustomImage32::ExecDrawLayers(TBitmap32* Dest, int StageNum) {
    const uint32_t mask = (*FPaintStages)[StageNum].Parameter;
    // A layer's paint handler may delete layers; go by index and recheck.
    for (int i = 0; i < FLayerList->Count(); ++i) {
        TCustomLayer* layer = FLayerList->Items(i);
        if (!(layer->LayerOptions() & mask)) continue;
        layer->Paint(Dest);
        if (layer->OnPaint) layer->OnPaint(layer, Dest);
    }
}

void TCustomImage32::ExecCustom(TBitmap32* Dest, int StageNum) {
    if (OnPaintStage) OnPaintStage(this, Dest, StageNum);
}
