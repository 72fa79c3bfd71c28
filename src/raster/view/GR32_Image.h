// SPDX-License-Identifier: GPL-3.0-or-later
// Bitmap view widgets. A paint box keeps an off-screen buffer (a TBitmap32)
// that is rebuilt only when invalid and otherwise just copied to the screen;
// the image view fills that buffer in stages: background, its own bitmap,
// then the layers.
//
// The buffer is shown by wrapping its memory in a QImage, without a copy. Its
// pixel layout is QImage's 32-bit BGRA order; like a device blit, the screen
// copy ignores the alpha byte.
//
// User-interface thread only.
#pragma once

#include "Colors.h"
#include "GR32.h"
#include "GR32_Layers.h"

#include <QWidget>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

enum TRepaintMode { rmFull, rmDirect, rmOptimizer };
enum TBitmapAlign { baTopLeft, baCenter, baTile, baCustom };
enum TScaleMode { smNormal, smStretch, smScale, smResize, smOptimal, smOptimalScaled };

// Paint stage codes.
constexpr uint32_t PST_CUSTOM = 1;
constexpr uint32_t PST_CLEAR_BUFFER = 2;
constexpr uint32_t PST_CLEAR_BACKGND = 3;
constexpr uint32_t PST_DRAW_BITMAP = 4;
constexpr uint32_t PST_DRAW_LAYERS = 5;
constexpr uint32_t PST_CONTROL_FRAME = 6;
constexpr uint32_t PST_BITMAP_FRAME = 7;

// Raised by an end-update that has no begin-update (a programming error).
class EViewAssertion : public Exception {
  public:
    using Exception::Exception;
};

struct TPaintStage {
    bool DsgnTime = false;
    bool RunTime = false;
    uint32_t Stage = 0;
    uint32_t Parameter = 0;
};

class TPaintStages {
  public:
    int Count() const { return static_cast<int>(FItems.size()); }
    // Index must lie in 0 .. Count - 1.
    TPaintStage& operator[](int Index) { return FItems.at(static_cast<size_t>(Index)); }
    const TPaintStage& operator[](int Index) const { return FItems.at(static_cast<size_t>(Index)); }
    TPaintStage& Add();
    // Index is clamped into 0 .. Count.
    TPaintStage& Insert(int Index);
    void Delete(int Index);
    void Clear() { FItems.clear(); }

  private:
    std::vector<TPaintStage> FItems;
};

class TCustomPaintBox32 : public QWidget {
  public:
    explicit TCustomPaintBox32(QWidget* Parent = nullptr);
    ~TCustomPaintBox32() override;

    // Owned off-screen buffer; at least as large as the view.
    TBitmap32* Buffer() const { return FBuffer.get(); }
    bool BufferValid() const { return FBufferValid; }
    void SetBufferValid(bool Value) { FBufferValid = Value; }
    // The buffer is out of date within Area (view coordinates) only: the next
    // paint rebuilds that part and keeps the rest. Asks for no paint.
    void InvalidateBufferArea(const TRect& Area);
    // What the next paint rebuilds while the buffer is valid otherwise.
    const TRect& BufferDirtyArea() const { return FBufferDirty; }

    TRepaintMode RepaintMode() const { return FRepaintMode; }
    // Only the full repaint is implemented; the other modes repaint fully too.
    void SetRepaintMode(TRepaintMode Value) { FRepaintMode = Value; }

    // (0, 0, width, height).
    TRect ViewRect() const;
    // Left, top, width, height in the parent's coordinates.
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);

    // Marks the buffer invalid and asks for a paint later.
    virtual void Invalidate();
    // Rebuilds the buffer and shows it before returning (when on screen).
    void Repaint();
    // Forces the next paint to rebuild and copy the whole view.
    void ForceFullInvalidate();

    std::function<void(TCustomPaintBox32* Sender)> OnGDIOverlay;
    // Receives an exception raised while the buffer was rebuilt for a paint
    // (a paint-stage or layer handler, storage for the buffer). Without a
    // handler the exception is dropped and the next paint tries again.
    std::function<void(TCustomPaintBox32* Sender, const std::exception& E)> OnPaintError;

  protected:
    // Fills the buffer; the base class leaves it as it is. Only PaintArea()
    // must be drawn; the rest of the buffer is up to date.
    virtual void DoPaintBuffer();
    const TRect& PaintArea() const { return FPaintArea; }
    // Runs after the buffer has reached the screen.
    virtual void DoPaintGDIOverlay(QPainter& Painter);
    // Runs first in every paint, before the buffer is looked at; what it
    // raises goes to OnPaintError.
    virtual void DoBeforePaint() {}
    // Applies the 40-pixel slack rule; true when the buffer was resized.
    bool ResizeBuffer();

    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

    bool FForceFullRepaint = true;

  private:
    std::unique_ptr<TBitmap32> FBuffer;
    bool FBufferValid = false;
    TRect FBufferDirty{0, 0, 0, 0}, FPaintArea{0, 0, 0, 0};
    TRepaintMode FRepaintMode = rmFull;
};

class TCustomImage32 : public TCustomPaintBox32 {
  public:
    explicit TCustomImage32(QWidget* Parent = nullptr);
    ~TCustomImage32() override;

    // Owned; any change of it repaints the view (outside begin/end-update).
    // Calls OnBitmapRead first, so that what it returns is up to date.
    TBitmap32* Bitmap() const {
        if (OnBitmapRead) OnBitmapRead(this);
        return FBitmap.get();
    }
    void SetBitmap(const TBitmap32* Value);
    // Owned; layers created in it paint over the bitmap.
    TLayerCollection* LayerList() const { return FLayerList.get(); }
    TPaintStages* PaintStages() const { return FPaintStages.get(); }

    TBitmapAlign BitmapAlign() const { return FBitmapAlign; }
    void SetBitmapAlign(TBitmapAlign Value);
    TScaleMode ScaleMode() const { return FScaleMode; }
    void SetScaleMode(TScaleMode Value);
    float Scale() const { return FScaleX; }
    // Values below 0.001 are stored as 0.001; sets both scales.
    void SetScale(float Value);
    float ScaleX() const { return FScaleX; }
    float ScaleY() const { return FScaleY; }
    // Custom offset used with baCustom, in view pixels.
    float OffsetHorz() const { return FOffsetHorz; }
    void SetOffsetHorz(float Value);
    float OffsetVert() const { return FOffsetVert; }
    void SetOffsetVert(float Value);

    bool AutoSize() const { return FAutoSize; }
    // When on, the widget takes the bitmap's size whenever the bitmap is resized.
    void SetAutoSize(bool Value);
    // Background colour of the view; the default is the window colour.
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    // Color as an opaque TColor32, system colours resolved.
    TColor32 Color32() const;

    void BeginUpdate() { ++FUpdateCount; }
    // Raises EViewAssertion "Unpaired EndUpdate call" without a begin-update.
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }
    // Invalidates and fires OnChange unless inside begin/end-update.
    virtual void Changed();
    void Invalidate() override;

    // The bitmap rectangle in view coordinates; empty for an empty bitmap.
    TRect BitmapPlacement() const;
    TPoint ViewToBitmap(const TPoint& P);
    TPoint BitmapToView(const TPoint& P);
    void UpdateCache();
    void InvalidateCache() { FCacheValid = false; }
    // Cached layout (refreshed by UpdateCache).
    const TRect& CachedBitmapRect() const { return FCachedBitmapRect; }
    float CachedShiftX() const { return FCachedShiftX; }
    float CachedShiftY() const { return FCachedShiftY; }
    float CachedScaleX() const { return FCachedScaleX; }
    float CachedScaleY() const { return FCachedScaleY; }

    // Puts back the default stages: 3, 6, 4, 7, 5 (6 and 7 design time only).
    void InitDefaultStages();

    // Called whenever the bitmap is handed out (Bitmap()) and before a paint
    // draws it: an owner that draws into the bitmap later than it decides
    // what it shows (once per display frame, say) draws it here, so that
    // every reader (a paint, a grab, code reading pixels) sees it complete.
    // Must leave the bitmap's size as it is; may call Bitmap() itself.
    std::function<void(const TCustomImage32* Sender)> OnBitmapRead;
    std::function<void(TCustomImage32* Sender)> OnBitmapResize;
    std::function<void(TCustomImage32* Sender)> OnChange;
    std::function<void(TCustomImage32* Sender)> OnInitStages;
    std::function<void(TCustomImage32* Sender)> OnScaleChange;
    std::function<void(TCustomImage32* Sender, TBitmap32* Buffer, int StageNum)> OnPaintStage;

  protected:
    void DoBeforePaint() override;
    void DoPaintBuffer() override;
    void DoPaintGDIOverlay(QPainter& Painter) override;
    void BitmapChanged();
    void BitmapResized();

    void ExecClearBuffer(TBitmap32* Dest, int StageNum);
    void ExecClearBackgnd(TBitmap32* Dest, int StageNum);
    void ExecDrawBitmap(TBitmap32* Dest, int StageNum);
    void ExecDrawLayers(TBitmap32* Dest, int StageNum);
    void ExecCustom(TBitmap32* Dest, int StageNum);

  private:
    std::unique_ptr<TBitmap32> FBitmap;
    TBitmapAlign FBitmapAlign = baTopLeft;
    std::unique_ptr<TLayerCollection> FLayerList;
    float FOffsetHorz = 0;
    float FOffsetVert = 0;
    std::unique_ptr<TPaintStages> FPaintStages;
    float FScaleX = 1;
    float FScaleY = 1;
    TScaleMode FScaleMode = smNormal;
    int FUpdateCount = 0;
    bool FAutoSize = false;
    TColor FColor;

    TRect FCachedBitmapRect{0, 0, 0, 0};
    float FCachedShiftX = 0, FCachedShiftY = 0;
    float FCachedScaleX = 1, FCachedScaleY = 1;
    float FCachedRecScaleX = 1, FCachedRecScaleY = 1;
    bool FCacheValid = false;
};

class TImage32 : public TCustomImage32 {
  public:
    explicit TImage32(QWidget* Parent = nullptr) : TCustomImage32(Parent) {}
};
