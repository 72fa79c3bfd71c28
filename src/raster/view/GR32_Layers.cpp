// SPDX-License-Identifier: GPL-3.0-or-later
#include "GR32_Layers.h"

#include "GR32_Image.h"
#include "Rounding.h"
#include "ScopeGuards.h"

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------------------
// TLayerCollection

TLayerCollection::TLayerCollection(TCustomImage32* AOwner) : FOwner(AOwner) {}

TLayerCollection::~TLayerCollection() {
    // The owner is going away too: nobody is left to repaint.
    OnChange = nullptr;
    OnGDIUpdate = nullptr;
    OnListNotify = nullptr;
    OnLayerUpdated = nullptr;
    OnAreaUpdated = nullptr;
    OnGetViewportScale = nullptr;
    OnGetViewportShift = nullptr;
    Clear();
}

TCustomLayer* TLayerCollection::Items(int Index) const {
    if (Index < 0 || Index >= Count()) return nullptr;
    return FItems[static_cast<size_t>(Index)];
}

void TLayerCollection::Delete(int Index) {
    delete Items(Index);
}

void TLayerCollection::Clear() {
    TUpdateGuard update(*this);
    // Each layer removes itself from FItems as it is destroyed.
    while (!FItems.empty())
        delete FItems.back();
    if (OnListNotify) OnListNotify(nullptr, lnCleared, 0);
}

void TLayerCollection::BeginUpdate() {
    ++FUpdateCount;
}

void TLayerCollection::EndUpdate() {
    // A stray end-update must not leave the count negative: the view would
    // never repaint again.
    if (FUpdateCount <= 0) throw EViewAssertion("Unpaired EndUpdate");
    if (--FUpdateCount == 0) Changed();
}

void TLayerCollection::Changed() {
    if (FUpdateCount > 0) return;
    if (OnChange) OnChange();
}

TCustomLayer* TLayerCollection::LocalHitTest(int X, int Y) const {
    for (auto it = FItems.rbegin(); it != FItems.rend(); ++it) {
        TCustomLayer* layer = *it;
        const uint32_t need = LOB_VISIBLE | LOB_MOUSE_EVENTS;
        if ((layer->LayerOptions() & need) == need && layer->HitTest(X, Y)) return layer;
    }
    return nullptr;
}

void TLayerCollection::GetViewportScale(float& ScaleX, float& ScaleY) const {
    ScaleX = 1;
    ScaleY = 1;
    if (OnGetViewportScale) OnGetViewportScale(ScaleX, ScaleY);
}

void TLayerCollection::GetViewportShift(float& ShiftX, float& ShiftY) const {
    ShiftX = 0;
    ShiftY = 0;
    if (OnGetViewportShift) OnGetViewportShift(ShiftX, ShiftY);
}

void TLayerCollection::InsertItem(TCustomLayer* Item) {
    TUpdateGuard update(*this);
    FItems.push_back(Item);
    if (OnListNotify) OnListNotify(Item, lnLayerAdded, Count() - 1);
}

void TLayerCollection::RemoveItem(TCustomLayer* Item) {
    auto it = std::find(FItems.begin(), FItems.end(), Item);
    if (it == FItems.end()) return;
    TUpdateGuard update(*this);
    const int index = static_cast<int>(it - FItems.begin());
    if (FMouseListener == Item) FMouseListener = nullptr;
    if (OnListNotify) OnListNotify(Item, lnLayerDeleted, index);
    FItems.erase(FItems.begin() + index);
}

void TLayerCollection::DoUpdateLayer(TCustomLayer* Layer) {
    if (OnLayerUpdated) OnLayerUpdated(Layer);
}

void TLayerCollection::DoUpdateArea(const TRect& Area) {
    if (OnAreaUpdated) OnAreaUpdated(Area, AREAINFO_RECT);
}

// ---------------------------------------------------------------------------
// TCustomLayer

TCustomLayer::TCustomLayer(TLayerCollection* ALayerCollection) {
    SetLayerCollection(ALayerCollection);
}

TCustomLayer::~TCustomLayer() {
    if (OnDestroy) OnDestroy(this);
    // Take a copy: a partner may unregister while it is told.
    const std::vector<TCustomLayer*> partners = FFreeNotifies;
    FFreeNotifies.clear();
    for (TCustomLayer* partner : partners) {
        auto& list = partner->FFreeNotifies;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        partner->Notification(this);
    }
    SetLayerCollection(nullptr);
}

void TCustomLayer::EndUpdate() {
    // Never below 0: a negative count would silence the layer for good.
    if (FUpdateCount > 0) --FUpdateCount;
}

void TCustomLayer::Changed() {
    if (FUpdateCount > 0 || !FLayerCollection || (FLayerOptions & LOB_NO_UPDATE)) return;
    FLayerCollection->DoUpdateLayer(this);
    if (Visible())
        FLayerCollection->Changed();
    else if ((FLayerOptions & LOB_GDI_OVERLAY) && FLayerCollection->OnGDIUpdate)
        FLayerCollection->OnGDIUpdate();
    if (OnChange) OnChange(this);
}

void TCustomLayer::Changing() {
    if (FUpdateCount > 0 || !FLayerCollection || (FLayerOptions & LOB_NO_UPDATE)) return;
    FLayerCollection->DoUpdateLayer(this);
}

void TCustomLayer::SetLayerCollection(TLayerCollection* Value) {
    if (FLayerCollection == Value) return;
    if (FLayerCollection) FLayerCollection->RemoveItem(this);
    FLayerCollection = Value;
    if (FLayerCollection) FLayerCollection->InsertItem(this);
}

int TCustomLayer::Index() const {
    if (!FLayerCollection) return -1;
    const auto& items = FLayerCollection->FItems;
    auto it = std::find(items.begin(), items.end(), this);
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCustomLayer::SetIndex(int Value) {
    if (!FLayerCollection) return;
    auto& items = FLayerCollection->FItems;
    const int current = Index();
    const int target = std::clamp(Value, 0, static_cast<int>(items.size()) - 1);
    if (current < 0 || current == target) return;
    Changing();
    items.erase(items.begin() + current);
    items.insert(items.begin() + target, this);
    Changed();
}

void TCustomLayer::SetLayerOptions(uint32_t Value) {
    if (FLayerOptions == Value) return;
    Changing();
    FLayerOptions = Value;
    // A layer that just became invisible must still be removed from the view.
    if (FLayerCollection && !(Value & LOB_VISIBLE) && !(Value & LOB_NO_UPDATE)) {
        FLayerCollection->Changed();
        if (OnChange) OnChange(this);
    } else {
        Changed();
    }
}

void TCustomLayer::SetVisible(bool Value) {
    SetLayerOptions(Value ? (FLayerOptions | LOB_VISIBLE) : (FLayerOptions & ~LOB_VISIBLE));
}

bool TCustomLayer::HitTest(int X, int Y) {
    bool passed = DoHitTest(X, Y);
    if (OnHitTest) OnHitTest(this, X, Y, passed);
    return passed;
}

bool TCustomLayer::DoHitTest(int, int) {
    return Visible();
}

void TCustomLayer::Paint(TBitmap32*) {}

void TCustomLayer::PaintGDI(QPainter&) {}

void TCustomLayer::AddNotification(TCustomLayer* ALayer) {
    if (!ALayer || ALayer == this) return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), ALayer) == FFreeNotifies.end())
        FFreeNotifies.push_back(ALayer);
    auto& other = ALayer->FFreeNotifies;
    if (std::find(other.begin(), other.end(), this) == other.end()) other.push_back(this);
}

void TCustomLayer::RemoveNotification(TCustomLayer* ALayer) {
    if (!ALayer) return;
    FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), ALayer),
                        FFreeNotifies.end());
    auto& other = ALayer->FFreeNotifies;
    other.erase(std::remove(other.begin(), other.end(), this), other.end());
}

void TCustomLayer::Notification(TCustomLayer*) {}

// ---------------------------------------------------------------------------
// TPositionedLayer

TPositionedLayer::TPositionedLayer(TLayerCollection* ALayerCollection)
    : TCustomLayer(ALayerCollection) {
    FLayerOptions = LOB_VISIBLE | LOB_MOUSE_EVENTS;
}

void TPositionedLayer::SetPlacement(const TFloatRect& Value) {
    Changing();
    FPlacement = Value;
    Changed();
}

void TPositionedLayer::SetViewScaled(bool Value) {
    if (FViewScaled == Value) return;
    Changing();
    FViewScaled = Value;
    Changed();
}

TFloatRect TPositionedLayer::GetAdjustedRect(const TFloatRect& R) const {
    if (!FViewScaled || !LayerCollection()) return R;
    float sx, sy, dx, dy;
    LayerCollection()->GetViewportScale(sx, sy);
    LayerCollection()->GetViewportShift(dx, dy);
    return TFloatRect{R.Left * sx + dx, R.Top * sy + dy, R.Right * sx + dx, R.Bottom * sy + dy};
}

bool TPositionedLayer::DoHitTest(int X, int Y) {
    const TFloatRect r = GetAdjustedLocation();
    return X >= r.Left && X < r.Right && Y >= r.Top && Y < r.Bottom;
}

// ---------------------------------------------------------------------------
// TBitmapLayer

namespace {

// Layer geometry in view pixels stays within this bound, so that a wild
// placement cannot overflow the rectangle arithmetic that follows.
constexpr int ViewLimit = 1000000000;

} // namespace

TBitmapLayer::TBitmapLayer(TLayerCollection* ALayerCollection)
    : TPositionedLayer(ALayerCollection), FBitmap(std::make_unique<TBitmap32>()) {
    FBitmap->OnAreaChanged = [this](TCustomBitmap32*, const TRect& Area, uint32_t) {
        BitmapAreaChanged(Area);
    };
}

TBitmapLayer::~TBitmapLayer() {
    FBitmap->OnAreaChanged = nullptr;
}

void TBitmapLayer::SetBitmap(const TBitmap32* Value) {
    FBitmap->Assign(Value);
}

void TBitmapLayer::SetCropped(bool Value) {
    if (FCropped == Value) return;
    FCropped = Value;
    Changed();
}

void TBitmapLayer::BitmapAreaChanged(const TRect& Area) {
    if (FBitmap->Empty() || !LayerCollection() || (FLayerOptions & LOB_NO_UPDATE)) return;
    const TFloatRect p = GetAdjustedLocation();
    const double sx = (double(p.Right) - p.Left) / FBitmap->Width();
    const double sy = (double(p.Bottom) - p.Top) / FBitmap->Height();
    const int widen = static_cast<int>(FBitmap->Resampler()->GetWidth()) + 1;
    auto clampInt = [](double v) { return SaturateToInt(v, -ViewLimit, ViewLimit); };
    const TRect view{clampInt(std::floor(p.Left + Area.Left * sx)) - widen,
                     clampInt(std::floor(Area.Top * sy + p.Top)) - widen,
                     clampInt(std::ceil(Area.Right * sx + p.Left)) + widen,
                     clampInt(std::ceil(Area.Bottom * sy + p.Top)) + widen};
    LayerCollection()->DoUpdateArea(view);
    LayerCollection()->Changed();
}

void TBitmapLayer::Paint(TBitmap32* Buffer) {
    if (FBitmap->Empty() || !Buffer) return;
    const TFloatRect adjusted = GetAdjustedLocation();
    // Ties go to the even neighbour, as the layer's placement rule demands.
    auto snap = [](float v) { return RoundEven(v, -ViewLimit, ViewLimit); };
    const TRect dst{snap(adjusted.Left), snap(adjusted.Top), snap(adjusted.Right),
                    snap(adjusted.Bottom)};
    TRect clip;
    if (!IntersectRect(clip, Buffer->ClipRect(), dst)) return;
    if (FCropped && LayerCollection() && LayerCollection()->Owner()) {
        if (adjusted.Right - adjusted.Left < 0.5f || adjusted.Bottom - adjusted.Top < 0.5f) return;
        TCustomImage32* image = LayerCollection()->Owner();
        image->UpdateCache();
        if (!IntersectRect(clip, clip, image->CachedBitmapRect())) return;
    }
    // The drawing routine limits its writes to the destination's clip
    // rectangle, so the layer's clip is lent to the buffer for the call.
    const TRect saved = Buffer->ClipRect();
    Buffer->SetClipRect(clip);
    TScopeExit restore([&] { Buffer->SetClipRect(saved); });
    FBitmap->DrawOnto(Buffer, dst);
}

bool TBitmapLayer::DoHitTest(int X, int Y) {
    if (!TPositionedLayer::DoHitTest(X, Y)) return false;
    if (!FAlphaHit) return true;
    if (FBitmap->Empty()) return false;
    const TFloatRect r = GetAdjustedLocation();
    const float w = r.Right - r.Left, h = r.Bottom - r.Top;
    if (!(w > 0) || !(h > 0)) return false;
    const int bx = static_cast<int>(std::floor((X - r.Left) * FBitmap->Width() / w));
    const int by = static_cast<int>(std::floor((Y - r.Top) * FBitmap->Height() / h));
    if (bx < 0 || by < 0 || bx >= FBitmap->Width() || by >= FBitmap->Height()) return false;
    return AlphaComponent(FBitmap->Pixel(bx, by)) > 0;
}
