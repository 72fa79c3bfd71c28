// SPDX-License-Identifier: GPL-3.0-or-later
// 32-bit bitmaps with alpha: the pixel type, rectangles, the persistent base
// classes, TCustomBitmap32/TBitmap32 and the sampler base classes.
//
// No Qt here. Everything in this unit is meant for the user-interface thread;
// the only locking is the per-object lock of TThreadPersistent, which callers
// may take around longer work (Lock/Unlock).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SysUtils.h"

// ARGB, blue in the lowest byte (in memory: blue, green, red, alpha), not
// premultiplied. The memory layout is that of QImage::Format_ARGB32.
using TColor32 = uint32_t;
using PColor32 = TColor32*;

// 16.16 signed fixed point.
using TFixed = int32_t;
constexpr TFixed FixedOne = 65536;
constexpr TFixed FixedHalf = 0x7FFF;

constexpr TColor32 clBlack32 = 0xFF000000;
constexpr TColor32 clWhite32 = 0xFFFFFFFF;
constexpr TColor32 clTransparent32 = 0x00000000;

inline TColor32 Color32(uint8_t R, uint8_t G, uint8_t B, uint8_t A = 0xFF) {
    return (TColor32(A) << 24) | (TColor32(R) << 16) | (TColor32(G) << 8) | B;
}
inline uint8_t AlphaComponent(TColor32 C) {
    return C >> 24;
}
inline uint8_t RedComponent(TColor32 C) {
    return (C >> 16) & 0xFF;
}
inline uint8_t GreenComponent(TColor32 C) {
    return (C >> 8) & 0xFF;
}
inline uint8_t BlueComponent(TColor32 C) {
    return C & 0xFF;
}

struct TPoint {
    int X = 0, Y = 0;
};
struct TFixedPoint {
    TFixed X = 0, Y = 0;
};
struct TFloatPoint {
    float X = 0, Y = 0;
};
inline bool operator==(const TPoint& A, const TPoint& B) {
    return A.X == B.X && A.Y == B.Y;
}

// Right and bottom are exclusive.
struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};
struct TFloatRect {
    float Left = 0, Top = 0, Right = 0, Bottom = 0;
};
inline bool operator==(const TRect& A, const TRect& B) {
    return A.Left == B.Left && A.Top == B.Top && A.Right == B.Right && A.Bottom == B.Bottom;
}
inline bool operator!=(const TRect& A, const TRect& B) {
    return !(A == B);
}
inline bool operator==(const TFloatRect& A, const TFloatRect& B) {
    return A.Left == B.Left && A.Top == B.Top && A.Right == B.Right && A.Bottom == B.Bottom;
}

inline TRect MakeRect(int L, int T, int R, int B) {
    return TRect{L, T, R, B};
}
inline TFloatRect FloatRect(float L, float T, float R, float B) {
    return TFloatRect{L, T, R, B};
}
inline TFloatRect FloatRect(const TRect& R) {
    return TFloatRect{float(R.Left), float(R.Top), float(R.Right), float(R.Bottom)};
}
// True when the rectangle holds no pixel (right <= left or bottom <= top).
inline bool IsRectEmpty(const TRect& R) {
    return R.Right <= R.Left || R.Bottom <= R.Top;
}
inline bool IsRectEmpty(const TFloatRect& R) {
    return R.Right <= R.Left || R.Bottom <= R.Top;
}
// Larger left and top, smaller right and bottom; the zero rectangle when the
// result is inverted. Returns whether the result holds a pixel.
bool IntersectRect(TRect& Dst, const TRect& R1, const TRect& R2);
bool IntersectRect(TFloatRect& Dst, const TFloatRect& R1, const TFloatRect& R2);
inline TRect OffsetRect(const TRect& R, int Dx, int Dy) {
    return TRect{R.Left + Dx, R.Top + Dy, R.Right + Dx, R.Bottom + Dy};
}

enum TDrawMode { dmOpaque = 0, dmBlend = 1, dmCustom = 2, dmTransparent = 3 };
enum TCombineMode { cmBlend = 0, cmMerge = 1 };
enum TWrapMode { wmClamp = 0, wmRepeat = 1, wmMirror = 2 };
enum TPixelAccessMode { pamUnsafe = 0, pamSafe = 1, pamWrap = 2, pamTransparentEdge = 3 };

// Area info of a change notice that covers a plain rectangle.
constexpr uint32_t AREAINFO_RECT = 0x80000000u;

class TCustomBitmap32;
class TCustomResampler;

// Drawing onto a missing bitmap and similar misuse of the bitmap calls.
class EBitmapException : public Exception {
  public:
    using Exception::Exception;
};

// Pixel storage could not be obtained (also: a size whose byte count does
// not fit the address space).
class EOutOfMemory : public Exception {
  public:
    EOutOfMemory() : Exception("Out of memory") {}
};

// A stored form that ends before its pixels do.
class EReadError : public Exception {
  public:
    EReadError() : Exception("Stream read error") {}
};

// ---------------------------------------------------------------------------
// Persistent base classes

class TPlainInterfacedPersistent {
  public:
    virtual ~TPlainInterfacedPersistent() = default;
    virtual std::string ClassName() const { return "TPlainInterfacedPersistent"; }
};

class TNotifiablePersistent : public TPlainInterfacedPersistent {
  public:
    using TNotifyEvent = std::function<void(TNotifiablePersistent* Sender)>;

    std::string ClassName() const override { return "TNotifiablePersistent"; }
    // Fires OnChange when no update bracket is open.
    virtual void Changed();
    virtual void BeginUpdate() { ++FUpdateCount; }
    virtual void EndUpdate() { --FUpdateCount; }
    int UpdateCount() const { return FUpdateCount; }

    TNotifyEvent OnChange;

  protected:
    int FUpdateCount = 0;
};

// Lock/Unlock nest; the lock count can be read from any thread.
class TThreadPersistent : public TNotifiablePersistent {
  public:
    std::string ClassName() const override { return "TThreadPersistent"; }
    void Lock();
    void Unlock();
    int LockCount() const { return FLockCount.load(); }

  private:
    std::atomic<int> FLockCount{0};
    std::recursive_mutex FLock;
};

class TCustomMap : public TThreadPersistent {
  public:
    std::string ClassName() const override { return "TCustomMap"; }
    int Height() const { return FHeight; }
    int Width() const { return FWidth; }
    void SetHeight(int NewHeight) { SetSize(Width(), NewHeight); }
    void SetWidth(int NewWidth) { SetSize(NewWidth, Height()); }
    virtual void Clear() { SetSize(0, 0); }
    virtual bool Empty() const { return FWidth == 0 || FHeight == 0; }
    // Negative sides become 0. Returns false (and does nothing) when the size
    // is unchanged.
    virtual bool SetSize(int NewWidth, int NewHeight);
    bool SetSizeFrom(const TCustomMap* Source) {
        return Source ? SetSize(Source->Width(), Source->Height()) : SetSize(0, 0);
    }

    TNotifyEvent OnResize;

  protected:
    virtual void ChangeSize(int& Width, int& Height, int NewWidth, int NewHeight);
    virtual void Resized();

    int FHeight = 0;
    int FWidth = 0;
};

// ---------------------------------------------------------------------------
// Storage

// Owns the pixel block of a bitmap. The block is contiguous, row-major, top
// row first, with no padding between rows.
class TCustomBackend : public TThreadPersistent {
  public:
    std::string ClassName() const override { return "TCustomBackend"; }
    TColor32* Bits() const { return FBits; }
    // Releases the old block, then obtains Width * Height pixels (none when a
    // side is 0). Raises EOutOfMemory when the block cannot be had.
    virtual void ChangeSize(int& Width, int& Height, int NewWidth, int NewHeight) = 0;
    virtual bool Empty() const { return FBits == nullptr; }

  protected:
    TColor32* FBits = nullptr;
};

// Plain memory; new pixels are opaque black.
class TMemoryBackend : public TCustomBackend {
  public:
    ~TMemoryBackend() override;
    std::string ClassName() const override { return "TMemoryBackend"; }
    void ChangeSize(int& Width, int& Height, int NewWidth, int NewHeight) override;
};

// ---------------------------------------------------------------------------
// Samplers (the resampler classes themselves are in GR32_Resamplers)

class TCustomSampler : public TNotifiablePersistent {
  public:
    std::string ClassName() const override { return "TCustomSampler"; }
    // Each default calls another (integer -> fixed -> float -> fixed), so a
    // subclass overrides at least one of the three.
    virtual TColor32 GetSampleInt(int X, int Y);
    virtual TColor32 GetSampleFixed(TFixed X, TFixed Y);
    virtual TColor32 GetSampleFloat(float X, float Y);
    virtual void PrepareSampling() {}
    virtual void FinalizeSampling() {}
    virtual bool HasBounds() { return false; }
    virtual TFloatRect GetSampleBounds() { return TFloatRect{}; }
};

using TPixelCombineEvent = std::function<void(TColor32 F, TColor32& B, TColor32 M)>;

class TCustomResampler : public TCustomSampler {
  public:
    // Records the bitmap and installs this resampler as its Resampler (the
    // bitmap owns it from then on and frees the previous one).
    explicit TCustomResampler(TCustomBitmap32* ABitmap = nullptr);
    std::string ClassName() const override { return "TCustomResampler"; }

    TCustomBitmap32* Bitmap() const { return FBitmap; }
    TPixelAccessMode PixelAccessMode() const { return FPixelAccessMode; }
    void SetPixelAccessMode(TPixelAccessMode Value);

    // Notifies the owning bitmap, so views of it repaint.
    void Changed() override;
    void PrepareSampling() override;
    bool HasBounds() override;
    TFloatRect GetSampleBounds() override;

    virtual float GetWidth() const { return 0; }
    // Scaled transfer of SrcRect of Src onto DstRect of Dst, limited to DstClip.
    virtual void Resample(TCustomBitmap32* Dst, const TRect& DstRect, TRect DstClip,
                          TCustomBitmap32* Src, const TRect& SrcRect, TDrawMode CombineOp,
                          const TPixelCombineEvent& CombineCallBack) = 0;
    // Copies the resampler's own settings (PixelAccessMode and subclass state).
    virtual void AssignTo(TCustomResampler* Dst) const;

  protected:
    friend class TCustomBitmap32;
    TCustomBitmap32* FBitmap = nullptr;
    TRect FClipRect;
    TPixelAccessMode FPixelAccessMode = pamSafe;
};

// ---------------------------------------------------------------------------
// Bitmaps

class TCustomBitmap32 : public TCustomMap {
  public:
    using TAreaChangedEvent =
        std::function<void(TCustomBitmap32* Sender, const TRect& Area, uint32_t Info)>;

    TCustomBitmap32();
    ~TCustomBitmap32() override;
    TCustomBitmap32(const TCustomBitmap32&) = delete;
    TCustomBitmap32& operator=(const TCustomBitmap32&) = delete;
    std::string ClassName() const override { return "TCustomBitmap32"; }

    // Size and content -------------------------------------------------------
    // Previous content is not kept; new pixels are opaque black. The clip
    // rectangle becomes the bounds; then Changed and OnResize.
    bool SetSize(int NewWidth, int NewHeight) override;
    bool Empty() const override;
    void Clear() override { Clear(clBlack32); }
    void Clear(TColor32 FillColor);
    void ResetAlpha(uint8_t AlphaValue = 0xFF);
    TRect BoundsRect() const { return TRect{0, 0, FWidth, FHeight}; }

    // Pixel storage: Width * Height values, row stride Width. nullptr when empty.
    TColor32* Bits() const { return FBits; }
    TColor32* PixelPtr(int X, int Y) const {
        return FBits + (size_t(Y) * size_t(FWidth) + size_t(X));
    }
    TColor32* ScanLine(int Y) const { return FBits + size_t(Y) * size_t(FWidth); }

    // Unchecked read and write: the caller keeps (X, Y) inside the bitmap.
    TColor32 Pixel(int X, int Y) const { return *PixelPtr(X, Y); }
    void SetPixel(int X, int Y, TColor32 Value) { *PixelPtr(X, Y) = Value; }
    // Safe read: outside the clip rectangle gives OuterColor.
    TColor32 PixelS(int X, int Y) const;
    // Safe write: nothing outside the clip rectangle.
    void SetPixelS(int X, int Y, TColor32 Value);
    // Wrapped read through the wrap functions of WrapMode (within the clip
    // rectangle); OuterColor when the clip rectangle is empty.
    TColor32 PixelW(int X, int Y) const;
    int WrapX(int X) const;
    int WrapY(int Y) const;

    // Clipping --------------------------------------------------------------
    const TRect& ClipRect() const { return FClipRect; }
    // Stored intersected with the bounds.
    void SetClipRect(const TRect& Value);
    void ResetClipRect() { SetClipRect(BoundsRect()); }
    bool Clipping() const { return FClipping; }

    // Properties ------------------------------------------------------------
    TDrawMode DrawMode() const { return FDrawMode; }
    void SetDrawMode(TDrawMode Value);
    TCombineMode CombineMode() const { return FCombineMode; }
    void SetCombineMode(TCombineMode Value);
    TWrapMode WrapMode() const { return FWrapMode; }
    void SetWrapMode(TWrapMode Value);
    uint32_t MasterAlpha() const { return FMasterAlpha; }
    void SetMasterAlpha(uint32_t Value);
    TColor32 OuterColor() const { return FOuterColor; }
    void SetOuterColor(TColor32 Value);
    TColor32 PenColor() const { return FPenColor; }
    void SetPenColor(TColor32 Value) { FPenColor = Value; }

    // The owned resampler; never nullptr after construction.
    TCustomResampler* Resampler() const { return FResampler.get(); }
    // Takes ownership of a different, non-null resampler and frees the old one.
    void SetResampler(TCustomResampler* Value);
    std::string ResamplerClassName() const;
    // Unknown names are ignored.
    void SetResamplerClassName(const std::string& Value);

    // Copying ---------------------------------------------------------------
    // Size, pixels and properties of Source; nullptr gives 0 x 0.
    virtual void Assign(const TCustomBitmap32* Source);
    void Assign(const TCustomBitmap32& Source) { Assign(&Source); }
    // Takes Source's size and pixels without copying them (a picture decoded
    // on a worker thread is a megabyte); Source is left empty. This bitmap
    // keeps its own properties; it notifies as SetSize does (OnChange, then
    // OnResize when the size changed). User-interface thread of this bitmap;
    // no other thread may use Source meanwhile.
    void TakePixels(TCustomBitmap32& Source);

    // Stored form: width and height (32-bit signed, little-endian), then
    // width * height pixels as 32-bit little-endian values, top row first.
    // A form shorter than its pixels raises EReadError before anything is
    // allocated or changed. Returns the number of bytes consumed.
    size_t ReadData(const uint8_t* Data, size_t Size);
    void ReadData(std::istream& Stream);
    std::vector<uint8_t> WriteData() const;
    void WriteData(std::ostream& Stream) const;

    // Change notification ---------------------------------------------------
    // Whole bitmap: OnAreaChanged with the bounds and AREAINFO_RECT (when no
    // update bracket is open, or while measuring), then OnChange.
    void Changed() override;
    void Changed(const TRect& Area, uint32_t Info = AREAINFO_RECT);
    // While measuring, drawing calls report the area they would change to
    // Callback and write no pixel.
    void BeginMeasuring(const TAreaChangedEvent& Callback);
    void EndMeasuring();
    bool MeasuringMode() const { return FMeasuringMode; }

    // Drawing ---------------------------------------------------------------
    // This bitmap (or SrcRect of it) onto Dst, with its own DrawMode,
    // MasterAlpha, CombineMode, OnPixelCombine and Resampler; Dst's clip
    // rectangle limits the writes.
    void DrawOnto(TCustomBitmap32* Dst);
    void DrawOnto(TCustomBitmap32* Dst, int DstX, int DstY);
    void DrawOnto(TCustomBitmap32* Dst, int DstX, int DstY, const TRect& SrcRect);
    void DrawOnto(TCustomBitmap32* Dst, const TRect& DstRect);
    void DrawOnto(TCustomBitmap32* Dst, const TRect& DstRect, const TRect& SrcRect);
    // SrcRect of Src onto DstRect of this bitmap.
    void DrawFrom(const TRect& DstRect, const TRect& SrcRect, TCustomBitmap32* Src);
    void Draw(int DstX, int DstY, TCustomBitmap32* Src);
    void Draw(int DstX, int DstY, const TRect& SrcRect, TCustomBitmap32* Src);
    void Draw(const TRect& DstRect, const TRect& SrcRect, TCustomBitmap32* Src);

    // Events ----------------------------------------------------------------
    TPixelCombineEvent OnPixelCombine;
    TAreaChangedEvent OnAreaChanged;

  protected:
    void ChangeSize(int& Width, int& Height, int NewWidth, int NewHeight) override;
    virtual std::unique_ptr<TCustomBackend> CreateBackend();
    virtual void CopyPropertiesTo(TCustomBitmap32* Dst) const;

    std::unique_ptr<TCustomBackend> FBackend;
    TColor32* FBits = nullptr;
    TRect FClipRect;
    bool FClipping = false;
    TDrawMode FDrawMode = dmOpaque;
    TCombineMode FCombineMode = cmBlend;
    TWrapMode FWrapMode = wmClamp;
    uint32_t FMasterAlpha = 255;
    TColor32 FOuterColor = 0;
    TColor32 FPenColor = 0xFFFFFFFF;
    float FStippleStep = 1.0f;
    TAreaChangedEvent FOldOnAreaChanged;
    bool FMeasuringMode = false;
    std::unique_ptr<TCustomResampler> FResampler;
};

// The bitmap of the views and of the picture loader. Storage is plain memory,
// laid out as QImage::Format_ARGB32 expects, so it can be shown directly.
class TBitmap32 : public TCustomBitmap32 {
  public:
    std::string ClassName() const override { return "TBitmap32"; }
    TNotifyEvent OnHandleChanged;

  protected:
    virtual void HandleChanged() {
        if (OnHandleChanged) OnHandleChanged(this);
    }
};

// Sets the alpha of the outermost ring of pixels of Rect (cut to the bounds)
// to 0, keeping their colour; nothing when the cut rectangle is empty or lies
// wholly outside the clip rectangle.
void ClearBorderAlpha(TCustomBitmap32* Bitmap, const TRect& Rect);
