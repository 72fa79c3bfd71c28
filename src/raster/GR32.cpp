// SPDX-License-Identifier: GPL-3.0-or-later
#include "GR32.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <limits>
#include <ostream>
#include <typeinfo>

#include "GR32_Blend.h"
#include "GR32_LowLevel.h"
#include "GR32_Resamplers.h"
#include "ScopeGuards.h"

bool IntersectRect(TRect& Dst, const TRect& R1, const TRect& R2) {
    TRect R{std::max(R1.Left, R2.Left), std::max(R1.Top, R2.Top), std::min(R1.Right, R2.Right),
            std::min(R1.Bottom, R2.Bottom)};
    if (R.Right < R.Left || R.Bottom < R.Top) R = TRect{};
    Dst = R;
    return !IsRectEmpty(R);
}

bool IntersectRect(TFloatRect& Dst, const TFloatRect& R1, const TFloatRect& R2) {
    TFloatRect R{std::max(R1.Left, R2.Left), std::max(R1.Top, R2.Top), std::min(R1.Right, R2.Right),
                 std::min(R1.Bottom, R2.Bottom)};
    if (R.Right < R.Left || R.Bottom < R.Top) R = TFloatRect{};
    Dst = R;
    return !IsRectEmpty(R);
}

// ---------------------------------------------------------------------------

void TNotifiablePersistent::Changed() {
    if (FUpdateCount == 0 && OnChange) OnChange(this);
}

void TThreadPersistent::Lock() {
    ++FLockCount;
    FLock.lock();
}

void TThreadPersistent::Unlock() {
    FLock.unlock();
    --FLockCount;
}

bool TCustomMap::SetSize(int NewWidth, int NewHeight) {
    NewWidth = std::max(NewWidth, 0);
    NewHeight = std::max(NewHeight, 0);
    if (NewWidth == FWidth && NewHeight == FHeight) return false;
    ChangeSize(FWidth, FHeight, NewWidth, NewHeight);
    Changed();
    Resized();
    return true;
}

void TCustomMap::ChangeSize(int& Width, int& Height, int NewWidth, int NewHeight) {
    Width = NewWidth;
    Height = NewHeight;
}

void TCustomMap::Resized() {
    if (OnResize) OnResize(this);
}

// ---------------------------------------------------------------------------

TMemoryBackend::~TMemoryBackend() {
    std::free(FBits);
}

void TMemoryBackend::ChangeSize(int& Width, int& Height, int NewWidth, int NewHeight) {
    std::free(FBits);
    FBits = nullptr;
    Width = 0;
    Height = 0;
    if (NewWidth > 0 && NewHeight > 0) {
        // Refuse what cannot be addressed before asking for it.
        uint64_t Count = uint64_t(NewWidth) * uint64_t(NewHeight);
        if (Count > uint64_t(std::numeric_limits<ptrdiff_t>::max()) / sizeof(TColor32))
            throw EOutOfMemory();
        FBits = static_cast<TColor32*>(std::malloc(size_t(Count) * sizeof(TColor32)));
        if (!FBits) throw EOutOfMemory();
        FillLongword(FBits, size_t(Count), clBlack32);
    }
    Width = NewWidth;
    Height = NewHeight;
}

// ---------------------------------------------------------------------------

TColor32 TCustomSampler::GetSampleInt(int X, int Y) {
    return GetSampleFixed(TFixed(uint32_t(X) << 16), TFixed(uint32_t(Y) << 16));
}

TColor32 TCustomSampler::GetSampleFixed(TFixed X, TFixed Y) {
    return GetSampleFloat(float(X) / FixedOne, float(Y) / FixedOne);
}

TColor32 TCustomSampler::GetSampleFloat(float X, float Y) {
    return GetSampleFixed(RoundEven(double(X) * FixedOne), RoundEven(double(Y) * FixedOne));
}

TCustomResampler::TCustomResampler(TCustomBitmap32* ABitmap) : FBitmap(ABitmap) {}

void TCustomResampler::SetPixelAccessMode(TPixelAccessMode Value) {
    if (FPixelAccessMode == Value) return;
    FPixelAccessMode = Value;
    Changed();
}

void TCustomResampler::Changed() {
    if (FBitmap) FBitmap->Changed();
}

void TCustomResampler::PrepareSampling() {
    FClipRect = FBitmap ? FBitmap->ClipRect() : TRect{};
}

bool TCustomResampler::HasBounds() {
    return FPixelAccessMode != pamWrap;
}

TFloatRect TCustomResampler::GetSampleBounds() {
    TFloatRect R = FloatRect(FBitmap ? FBitmap->ClipRect() : TRect{});
    if (FPixelAccessMode == pamTransparentEdge)
        R = TFloatRect{R.Left - 1, R.Top - 1, R.Right + 1, R.Bottom + 1};
    return R;
}

void TCustomResampler::AssignTo(TCustomResampler* Dst) const {
    if (Dst) Dst->SetPixelAccessMode(FPixelAccessMode);
}

// ---------------------------------------------------------------------------

TCustomBitmap32::TCustomBitmap32() {
    FBackend = CreateBackend();
    new TNearestResampler(this);
}

TCustomBitmap32::~TCustomBitmap32() {
    // Storage goes without change notices: the owner of the handlers may be
    // half destroyed already.
    TLockGuard Guard(*this);
    FResampler.reset();
    FBackend.reset();
    FBits = nullptr;
    FWidth = FHeight = 0;
}

std::unique_ptr<TCustomBackend> TCustomBitmap32::CreateBackend() {
    return std::make_unique<TMemoryBackend>();
}

void TCustomBitmap32::ChangeSize(int& Width, int& Height, int NewWidth, int NewHeight) {
    // A failed size change has released the old block too: the bitmap then
    // takes whatever size and storage the backend was left with.
    TScopeExit Adopt([&] {
        FBits = FBackend->Bits();
        FClipRect = BoundsRect();
        FClipping = false;
    });
    FBackend->ChangeSize(Width, Height, NewWidth, NewHeight);
}

bool TCustomBitmap32::SetSize(int NewWidth, int NewHeight) {
    return TCustomMap::SetSize(NewWidth, NewHeight);
}

bool TCustomBitmap32::Empty() const {
    return FBits == nullptr || FWidth == 0 || FHeight == 0;
}

void TCustomBitmap32::Clear(TColor32 FillColor) {
    if (Empty()) return;
    if (!FMeasuringMode) {
        if (FClipping) {
            for (int Y = FClipRect.Top; Y < FClipRect.Bottom; ++Y)
                FillLongword(PixelPtr(FClipRect.Left, Y), size_t(FClipRect.Width()), FillColor);
            if ((FUpdateCount == 0 || FMeasuringMode) && OnAreaChanged)
                OnAreaChanged(this, FClipRect, AREAINFO_RECT);
        } else {
            FillLongword(FBits, size_t(FWidth) * size_t(FHeight), FillColor);
        }
    }
    Changed();
}

void TCustomBitmap32::ResetAlpha(uint8_t AlphaValue) {
    if (Empty()) return;
    size_t N = size_t(FWidth) * size_t(FHeight);
    TColor32 A = TColor32(AlphaValue) << 24;
    for (size_t I = 0; I < N; ++I)
        FBits[I] = (FBits[I] & 0x00FFFFFF) | A;
    Changed();
}

TColor32 TCustomBitmap32::PixelS(int X, int Y) const {
    if (X >= FClipRect.Left && X < FClipRect.Right && Y >= FClipRect.Top && Y < FClipRect.Bottom)
        return Pixel(X, Y);
    return FOuterColor;
}

void TCustomBitmap32::SetPixelS(int X, int Y, TColor32 Value) {
    if (X >= FClipRect.Left && X < FClipRect.Right && Y >= FClipRect.Top && Y < FClipRect.Bottom)
        SetPixel(X, Y, Value);
}

static int WrapBy(TWrapMode Mode, int V, int Min, int Max) {
    switch (Mode) {
    case wmRepeat:
        return RepeatWrap(V, Min, Max);
    case wmMirror:
        return MirrorWrap(V, Min, Max);
    default:
        return ClampWrap(V, Min, Max);
    }
}

int TCustomBitmap32::WrapX(int X) const {
    return WrapBy(FWrapMode, X, FClipRect.Left, FClipRect.Right - 1);
}
int TCustomBitmap32::WrapY(int Y) const {
    return WrapBy(FWrapMode, Y, FClipRect.Top, FClipRect.Bottom - 1);
}

TColor32 TCustomBitmap32::PixelW(int X, int Y) const {
    if (IsRectEmpty(FClipRect)) return FOuterColor;
    return Pixel(WrapX(X), WrapY(Y));
}

void TCustomBitmap32::SetClipRect(const TRect& Value) {
    IntersectRect(FClipRect, Value, BoundsRect());
    FClipping = FClipRect != BoundsRect();
}

void TCustomBitmap32::SetDrawMode(TDrawMode Value) {
    if (FDrawMode == Value) return;
    FDrawMode = Value;
    Changed();
}

void TCustomBitmap32::SetCombineMode(TCombineMode Value) {
    if (FCombineMode == Value) return;
    FCombineMode = Value;
    Changed();
}

void TCustomBitmap32::SetWrapMode(TWrapMode Value) {
    if (FWrapMode == Value) return;
    FWrapMode = Value;
    Changed();
}

void TCustomBitmap32::SetMasterAlpha(uint32_t Value) {
    if (FMasterAlpha == Value) return;
    FMasterAlpha = Value;
    Changed();
}

void TCustomBitmap32::SetOuterColor(TColor32 Value) {
    if (FOuterColor == Value) return;
    FOuterColor = Value;
    Changed();
}

void TCustomBitmap32::SetResampler(TCustomResampler* Value) {
    if (!Value || Value == FResampler.get()) return;
    FResampler.reset(Value);
    Value->FBitmap = this;
    Changed();
}

std::string TCustomBitmap32::ResamplerClassName() const {
    return FResampler ? FResampler->ClassName() : "";
}

void TCustomBitmap32::SetResamplerClassName(const std::string& Value) {
    if (Value == ResamplerClassName()) return;
    CreateResampler(Value, this);
}

void TCustomBitmap32::CopyPropertiesTo(TCustomBitmap32* Dst) const {
    Dst->SetDrawMode(FDrawMode);
    Dst->SetCombineMode(FCombineMode);
    Dst->SetWrapMode(FWrapMode);
    Dst->SetMasterAlpha(FMasterAlpha);
    Dst->SetOuterColor(FOuterColor);
    Dst->SetResamplerClassName(ResamplerClassName());
    if (FResampler && Dst->Resampler()) FResampler->AssignTo(Dst->Resampler());
}

void TCustomBitmap32::TakePixels(TCustomBitmap32& Source) {
    if (&Source == this) return;
    if (typeid(*FBackend) != typeid(*Source.FBackend)) {
        // Storage of another kind stays where it is: the pixels are copied.
        {
            TUpdateGuard Update(*this);
            SetSize(Source.Width(), Source.Height());
            if (!Empty())
                std::memcpy(FBits, Source.Bits(),
                            size_t(FWidth) * size_t(FHeight) * sizeof(TColor32));
        }
        Source.SetSize(0, 0);
        Changed();
        return;
    }
    const bool NewSize = FWidth != Source.FWidth || FHeight != Source.FHeight;
    {
        TLockGuard Mine(*this), Theirs(Source);
        std::swap(FBackend, Source.FBackend);
        std::swap(FWidth, Source.FWidth);
        std::swap(FHeight, Source.FHeight);
        for (TCustomBitmap32* B : {this, &Source}) {
            B->FBits = B->FBackend->Bits();
            B->FClipRect = B->BoundsRect();
            B->FClipping = false;
        }
    }
    Source.SetSize(0, 0);
    Changed();
    if (NewSize) Resized();
}

void TCustomBitmap32::Assign(const TCustomBitmap32* Source) {
    {
        TUpdateGuard Update(*this);
        if (!Source) {
            SetSize(0, 0);
        } else if (Source != this) {
            SetSize(Source->Width(), Source->Height());
            if (!Source->Empty() && !Empty())
                std::memcpy(FBits, Source->Bits(),
                            size_t(FWidth) * size_t(FHeight) * sizeof(TColor32));
            Source->CopyPropertiesTo(this);
        }
    }
    Changed();
}

static int32_t ReadInt32LE(const uint8_t* P) {
    return int32_t(uint32_t(P[0]) | (uint32_t(P[1]) << 8) | (uint32_t(P[2]) << 16) |
                   (uint32_t(P[3]) << 24));
}

static void WriteInt32LE(uint8_t* P, uint32_t V) {
    P[0] = uint8_t(V);
    P[1] = uint8_t(V >> 8);
    P[2] = uint8_t(V >> 16);
    P[3] = uint8_t(V >> 24);
}

size_t TCustomBitmap32::ReadData(const uint8_t* Data, size_t Size) {
    if (!Data || Size < 8) throw EReadError();
    int W = std::max(ReadInt32LE(Data), 0);
    int H = std::max(ReadInt32LE(Data + 4), 0);
    // The pixel count is checked against what is there before anything is
    // allocated, so a damaged header cannot ask for gigabytes.
    uint64_t Count = uint64_t(W) * uint64_t(H);
    if (Count > (Size - 8) / 4) throw EReadError();
    SetSize(W, H);
    const uint8_t* P = Data + 8;
    if (!Empty())
        for (size_t I = 0; I < size_t(Count); ++I, P += 4)
            FBits[I] = TColor32(ReadInt32LE(P));
    Changed();
    return 8 + size_t(Count) * 4;
}

void TCustomBitmap32::ReadData(std::istream& Stream) {
    std::vector<uint8_t> Buffer(8);
    if (!Stream.read(reinterpret_cast<char*>(Buffer.data()), 8)) throw EReadError();
    uint64_t Count = uint64_t(std::max(ReadInt32LE(Buffer.data()), 0)) *
                     uint64_t(std::max(ReadInt32LE(&Buffer[4]), 0));
    // Grow with what actually arrives rather than with what the header claims.
    uint64_t Need = Count * 4;
    const size_t Chunk = 1 << 20;
    while (Buffer.size() - 8 < Need) {
        size_t Piece = size_t(std::min<uint64_t>(Chunk, Need - (Buffer.size() - 8)));
        size_t Old = Buffer.size();
        Buffer.resize(Old + Piece);
        if (!Stream.read(reinterpret_cast<char*>(&Buffer[Old]), std::streamsize(Piece)))
            throw EReadError();
    }
    ReadData(Buffer.data(), Buffer.size());
}

std::vector<uint8_t> TCustomBitmap32::WriteData() const {
    size_t Count = Empty() ? 0 : size_t(FWidth) * size_t(FHeight);
    std::vector<uint8_t> Out(8 + Count * 4);
    WriteInt32LE(Out.data(), uint32_t(FWidth));
    WriteInt32LE(&Out[4], uint32_t(FHeight));
    for (size_t I = 0; I < Count; ++I)
        WriteInt32LE(&Out[8 + I * 4], FBits[I]);
    return Out;
}

void TCustomBitmap32::WriteData(std::ostream& Stream) const {
    std::vector<uint8_t> Out = WriteData();
    Stream.write(reinterpret_cast<const char*>(Out.data()), std::streamsize(Out.size()));
}

void TCustomBitmap32::Changed() {
    if ((FUpdateCount == 0 || FMeasuringMode) && OnAreaChanged)
        OnAreaChanged(this, BoundsRect(), AREAINFO_RECT);
    if (!FMeasuringMode) TCustomMap::Changed();
}

void TCustomBitmap32::Changed(const TRect& Area, uint32_t Info) {
    if ((FUpdateCount == 0 || FMeasuringMode) && OnAreaChanged) OnAreaChanged(this, Area, Info);
    if (!FMeasuringMode) TCustomMap::Changed();
}

void TCustomBitmap32::BeginMeasuring(const TAreaChangedEvent& Callback) {
    if (FMeasuringMode) return;
    FMeasuringMode = true;
    FOldOnAreaChanged = OnAreaChanged;
    OnAreaChanged = Callback;
}

void TCustomBitmap32::EndMeasuring() {
    if (!FMeasuringMode) return;
    FMeasuringMode = false;
    OnAreaChanged = FOldOnAreaChanged;
    FOldOnAreaChanged = nullptr;
}

// ---------------------------------------------------------------------------
// Drawing

// The one routine behind DrawOnto, DrawFrom and Draw.
static void DrawBitmap(TCustomBitmap32* Dst, TRect DstRect, TCustomBitmap32* Src, TRect SrcRect) {
    if (!Dst) throw EBitmapException("Destination bitmap is nil");
    if (!Src) throw EBitmapException("Source bitmap is nil");
    if (IsRectEmpty(SrcRect)) return;

    // Cut the source rectangle back to the source and the destination in
    // proportion (64-bit arithmetic: the rectangles may be anything).
    double Sx = (double(DstRect.Right) - DstRect.Left) / (double(SrcRect.Right) - SrcRect.Left);
    double Sy = (double(DstRect.Bottom) - DstRect.Top) / (double(SrcRect.Bottom) - SrcRect.Top);
    if (SrcRect.Left < 0) {
        DstRect.Left = SaturateToInt(DstRect.Left + std::ceil(-double(SrcRect.Left) * Sx));
        SrcRect.Left = 0;
    }
    if (SrcRect.Top < 0) {
        DstRect.Top = SaturateToInt(DstRect.Top + std::ceil(-double(SrcRect.Top) * Sy));
        SrcRect.Top = 0;
    }
    if (SrcRect.Right > Src->Width()) {
        DstRect.Right =
            SaturateToInt(DstRect.Right - std::floor((double(SrcRect.Right) - Src->Width()) * Sx));
        SrcRect.Right = Src->Width();
    }
    if (SrcRect.Bottom > Src->Height()) {
        DstRect.Bottom = SaturateToInt(DstRect.Bottom -
                                       std::floor((double(SrcRect.Bottom) - Src->Height()) * Sy));
        SrcRect.Bottom = Src->Height();
    }

    if (Src->Empty() || Dst->Empty() || IsRectEmpty(SrcRect)) return;
    TDrawMode Mode = Src->DrawMode();
    if (Mode == dmBlend && Src->MasterAlpha() == 0) return;

    if (!Dst->MeasuringMode()) {
        TRect Clip;
        IntersectRect(Clip, Dst->ClipRect(), Dst->BoundsRect());
        if (!IntersectRect(Clip, Clip, DstRect)) return;
        if (Mode == dmCustom && !Src->OnPixelCombine) Mode = dmOpaque;
        StretchTransfer(Dst, DstRect, Clip, Src, SrcRect, Src->Resampler(), Mode,
                        Src->OnPixelCombine);
    }
    EMMS();
    Dst->Changed(DstRect);
}

// The rectangle of SrcRect's size at (X, Y), saturated: positions near the
// ends of the int range must not wrap.
static TRect RectAt(int X, int Y, const TRect& SrcRect) {
    int64_t W = int64_t(SrcRect.Right) - SrcRect.Left, H = int64_t(SrcRect.Bottom) - SrcRect.Top;
    return TRect{X, Y, SaturateToInt(double(X) + double(W)), SaturateToInt(double(Y) + double(H))};
}

void TCustomBitmap32::DrawOnto(TCustomBitmap32* Dst) {
    DrawOnto(Dst, 0, 0);
}

void TCustomBitmap32::DrawOnto(TCustomBitmap32* Dst, int DstX, int DstY) {
    DrawBitmap(Dst, RectAt(DstX, DstY, BoundsRect()), this, BoundsRect());
}

void TCustomBitmap32::DrawOnto(TCustomBitmap32* Dst, int DstX, int DstY, const TRect& SrcRect) {
    DrawBitmap(Dst, RectAt(DstX, DstY, SrcRect), this, SrcRect);
}

void TCustomBitmap32::DrawOnto(TCustomBitmap32* Dst, const TRect& DstRect) {
    DrawBitmap(Dst, DstRect, this, BoundsRect());
}

void TCustomBitmap32::DrawOnto(TCustomBitmap32* Dst, const TRect& DstRect, const TRect& SrcRect) {
    DrawBitmap(Dst, DstRect, this, SrcRect);
}

void TCustomBitmap32::DrawFrom(const TRect& DstRect, const TRect& SrcRect, TCustomBitmap32* Src) {
    DrawBitmap(this, DstRect, Src, SrcRect);
}

void TCustomBitmap32::Draw(int DstX, int DstY, TCustomBitmap32* Src) {
    if (!Src) throw EBitmapException("Source bitmap is nil");
    Src->DrawOnto(this, DstX, DstY);
}

void TCustomBitmap32::Draw(int DstX, int DstY, const TRect& SrcRect, TCustomBitmap32* Src) {
    DrawBitmap(this, RectAt(DstX, DstY, SrcRect), Src, SrcRect);
}

void TCustomBitmap32::Draw(const TRect& DstRect, const TRect& SrcRect, TCustomBitmap32* Src) {
    DrawBitmap(this, DstRect, Src, SrcRect);
}

void ClearBorderAlpha(TCustomBitmap32* Bitmap, const TRect& Rect) {
    if (!Bitmap) return;
    TRect R;
    if (!IntersectRect(R, Rect, Bitmap->BoundsRect())) return;
    TRect Inside;
    if (!IntersectRect(Inside, R, Bitmap->ClipRect())) return;
    const TColor32 Mask = 0x00FFFFFF;
    int Last = R.Bottom - 1, Right = R.Right - 1;
    for (int X = R.Left; X <= Right; ++X) {
        *Bitmap->PixelPtr(X, R.Top) &= Mask;
        *Bitmap->PixelPtr(X, Last) &= Mask;
    }
    for (int Y = R.Top; Y <= Last; ++Y) {
        *Bitmap->PixelPtr(R.Left, Y) &= Mask;
        *Bitmap->PixelPtr(Right, Y) &= Mask;
    }
    Bitmap->Changed();
}
