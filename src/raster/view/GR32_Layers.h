// SPDX-License-Identifier: GPL-3.0-or-later
// Layers painted over a bitmap view: the collection the view owns, the base
// layer, a layer with a floating-point placement, and a layer that shows a
// bitmap of its own.
//
// Ownership: a collection owns its layers and frees them with itself. A layer
// may also be deleted on its own at any time; it then leaves its collection,
// and the owning view repaints without it. A layer created with a collection
// joins that collection at the end of the list (the topmost layer).
//
// User-interface thread only.
#pragma once

#include "GR32.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QPainter;
class TCustomImage32;
class TCustomLayer;

// Layer option bits.
constexpr uint32_t LOB_VISIBLE = 0x80000000;
constexpr uint32_t LOB_GDI_OVERLAY = 0x40000000;
constexpr uint32_t LOB_MOUSE_EVENTS = 0x20000000;
constexpr uint32_t LOB_NO_UPDATE = 0x10000000;

enum TLayerListNotification { lnLayerAdded, lnLayerInserted, lnLayerDeleted, lnCleared };

class TLayerCollection {
  public:
    // Owner is the view whose buffer the layers paint into, or null for a
    // free-standing collection (scale 1, shift 0).
    explicit TLayerCollection(TCustomImage32* AOwner = nullptr);
    ~TLayerCollection();
    TLayerCollection(const TLayerCollection&) = delete;
    TLayerCollection& operator=(const TLayerCollection&) = delete;

    TCustomImage32* Owner() const { return FOwner; }
    int Count() const { return static_cast<int>(FItems.size()); }
    // Null for an index outside 0 .. Count - 1.
    TCustomLayer* Items(int Index) const;
    // Creates a layer of class T in this collection; the collection owns it.
    template <class T> T* Add() { return new T(this); }
    // Frees the layer at Index; nothing for an index outside the list.
    void Delete(int Index);
    // Frees every layer.
    void Clear();

    void BeginUpdate();
    void EndUpdate();
    void Changed();

    // The topmost visible layer with mouse events that is hit at (X, Y) in
    // view coordinates, or null.
    TCustomLayer* LocalHitTest(int X, int Y) const;
    TCustomLayer* MouseListener() const { return FMouseListener; }
    void SetMouseListener(TCustomLayer* Value) { FMouseListener = Value; }
    bool MouseEvents() const { return FMouseEvents; }
    void SetMouseEvents(bool Value) { FMouseEvents = Value; }

    // Viewport of the owning view: view = bitmap * scale + shift.
    void GetViewportScale(float& ScaleX, float& ScaleY) const;
    void GetViewportShift(float& ShiftX, float& ShiftY) const;

    // Hooks the owning view installs.
    std::function<void()> OnChange;
    std::function<void()> OnGDIUpdate;
    std::function<void(float& ScaleX, float& ScaleY)> OnGetViewportScale;
    std::function<void(float& ShiftX, float& ShiftY)> OnGetViewportShift;
    std::function<void(TCustomLayer* Layer, TLayerListNotification Action, int Index)> OnListNotify;
    std::function<void(TCustomLayer* Layer)> OnLayerUpdated;
    std::function<void(const TRect& Area, uint32_t Info)> OnAreaUpdated;

  private:
    friend class TCustomLayer;
    friend class TBitmapLayer;
    void InsertItem(TCustomLayer* Item);
    void RemoveItem(TCustomLayer* Item);
    void DoUpdateLayer(TCustomLayer* Layer);
    void DoUpdateArea(const TRect& Area);

    TCustomImage32* FOwner;
    std::vector<TCustomLayer*> FItems;
    int FUpdateCount = 0;
    TCustomLayer* FMouseListener = nullptr;
    bool FMouseEvents = true;
};

class TCustomLayer {
  public:
    // Joins ALayerCollection (when not null) at the top of its list.
    explicit TCustomLayer(TLayerCollection* ALayerCollection);
    // Tells the layers registered for notification, then leaves the collection.
    virtual ~TCustomLayer();
    TCustomLayer(const TCustomLayer&) = delete;
    TCustomLayer& operator=(const TCustomLayer&) = delete;

    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    virtual void Changed();
    // Repaints the layer when the whole view is repainted anyway.
    void Update() { Changed(); }

    TLayerCollection* LayerCollection() const { return FLayerCollection; }
    // Moves the layer to another collection (or none) at the top of its list.
    void SetLayerCollection(TLayerCollection* Value);
    // Position in the collection's list (0 is painted first), -1 when free.
    int Index() const;
    void SetIndex(int Value);
    void BringToFront() { SetIndex(FLayerCollection ? FLayerCollection->Count() - 1 : 0); }
    void SendToBack() { SetIndex(0); }

    uint32_t LayerOptions() const { return FLayerOptions; }
    void SetLayerOptions(uint32_t Value);
    bool Visible() const { return (FLayerOptions & LOB_VISIBLE) != 0; }
    void SetVisible(bool Value);
    int Cursor() const { return FCursor; }
    void SetCursor(int Value) { FCursor = Value; }

    // Layer in view coordinates; OnHitTest may overrule the answer.
    bool HitTest(int X, int Y);
    // Paints onto the view's buffer (the buffer's clip rectangle is the view).
    virtual void Paint(TBitmap32* Buffer);
    // Paints on the screen after the buffer has been shown (overlay option).
    virtual void PaintGDI(QPainter& Painter);

    // Both layers are told (Notification) when the other one is destroyed.
    void AddNotification(TCustomLayer* ALayer);
    void RemoveNotification(TCustomLayer* ALayer);

    std::function<void(TCustomLayer* Sender)> OnChange;
    std::function<void(TCustomLayer* Sender)> OnDestroy;
    std::function<void(TCustomLayer* Sender, int X, int Y, bool& Passed)> OnHitTest;
    std::function<void(TCustomLayer* Sender, TBitmap32* Buffer)> OnPaint;

  protected:
    virtual bool DoHitTest(int X, int Y);
    virtual void Notification(TCustomLayer* ALayer);
    // Announces a coming change of position or size to the repaint optimizer.
    void Changing();
    int UpdateCount() const { return FUpdateCount; }

    uint32_t FLayerOptions = LOB_VISIBLE;

  private:
    TLayerCollection* FLayerCollection = nullptr;
    std::vector<TCustomLayer*> FFreeNotifies;
    int FUpdateCount = 0;
    int FCursor = 0;
};

class TPositionedLayer : public TCustomLayer {
  public:
    explicit TPositionedLayer(TLayerCollection* ALayerCollection);

    // Float rectangle; in bitmap pixels when ViewScaled, else in view pixels.
    const TFloatRect& Placement() const { return FPlacement; }
    virtual void SetPlacement(const TFloatRect& Value);
    bool ViewScaled() const { return FViewScaled; }
    void SetViewScaled(bool Value);

    // R mapped into view coordinates (unchanged unless ViewScaled).
    virtual TFloatRect GetAdjustedRect(const TFloatRect& R) const;
    TFloatRect GetAdjustedLocation() const { return GetAdjustedRect(FPlacement); }

  protected:
    bool DoHitTest(int X, int Y) override;

  private:
    TFloatRect FPlacement{0, 0, 64, 64};
    bool FViewScaled = false;
};

class TBitmapLayer : public TPositionedLayer {
  public:
    explicit TBitmapLayer(TLayerCollection* ALayerCollection);
    ~TBitmapLayer() override;

    // Owned by the layer; any change of its pixels repaints the view.
    TBitmap32* Bitmap() const { return FBitmap.get(); }
    // Copies Value's pixels and drawing properties into the layer's bitmap.
    void SetBitmap(const TBitmap32* Value);
    // A hit also needs a pixel with alpha above 0 at the point.
    bool AlphaHit() const { return FAlphaHit; }
    void SetAlphaHit(bool Value) { FAlphaHit = Value; }
    // The layer is also clipped to the view's bitmap rectangle.
    bool Cropped() const { return FCropped; }
    void SetCropped(bool Value);

    void Paint(TBitmap32* Buffer) override;

  protected:
    bool DoHitTest(int X, int Y) override;

  private:
    void BitmapAreaChanged(const TRect& Area);

    std::unique_ptr<TBitmap32> FBitmap;
    bool FAlphaHit = false;
    bool FCropped = false;
};
