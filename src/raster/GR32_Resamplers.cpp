// SPDX-License-Identifier: GPL-3.0-or-later
#include "GR32_Resamplers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "GR32_Bindings.h"
#include "GR32_Blend.h"
#include "GR32_LowLevel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

uint8_t BilinearWeightG[256];

// ---------------------------------------------------------------------------
// Bilinear core

// Per channel (A * W + B * (256 - W)) shr 8, no rounding bias; each 16-bit
// lane stays below 65 536.
static inline TColor32 Lerp(TColor32 A, TColor32 B, uint32_t W) {
    uint32_t IW = 256 - W;
    uint32_t RB = ((A & 0x00FF00FF) * W + (B & 0x00FF00FF) * IW) >> 8;
    uint32_t AG = ((A >> 8) & 0x00FF00FF) * W + ((B >> 8) & 0x00FF00FF) * IW;
    return (RB & 0x00FF00FF) | (AG & 0xFF00FF00);
}

static inline TColor32 Bilinear4(TColor32 P00, TColor32 P10, TColor32 P01, TColor32 P11,
                                 uint32_t Fx, uint32_t Fy) {
    uint32_t WX = BilinearWeightG[255 - Fx], WY = BilinearWeightG[255 - Fy];
    return Lerp(Lerp(P00, P10, WX), Lerp(P01, P11, WX), WY);
}

TColor32 BilinearCore_Pas(const TColor32* Bits, int Width, int X8, int Y8) {
    const TColor32* P = Bits + (size_t(X8 >> 8) + size_t(Y8 >> 8) * size_t(Width));
    return Bilinear4(P[0], P[1], P[Width], P[Width + 1], X8 & 255, Y8 & 255);
}

#if defined(__SSE2__)
TColor32 BilinearCore_SSE2(const TColor32* Bits, int Width, int X8, int Y8) {
    const TColor32* P = Bits + (size_t(X8 >> 8) + size_t(Y8 >> 8) * size_t(Width));
    const __m128i Zero = _mm_setzero_si128();
    __m128i WX = _mm_set1_epi16(short(BilinearWeightG[255 - (X8 & 255)]));
    __m128i WY = _mm_set1_epi16(short(BilinearWeightG[255 - (Y8 & 255)]));
    // Lanes 0-3: upper row pixel, lanes 4-7: lower row pixel.
    __m128i Left = _mm_unpacklo_epi8(
        _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(P[0])), _mm_cvtsi32_si128(int(P[Width]))), Zero);
    __m128i Right = _mm_unpacklo_epi8(
        _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(P[1])), _mm_cvtsi32_si128(int(P[Width + 1]))),
        Zero);
    __m128i Col = _mm_srli_epi16(
        _mm_add_epi16(_mm_slli_epi16(Right, 8), _mm_mullo_epi16(_mm_sub_epi16(Left, Right), WX)),
        8);
    __m128i Lower = _mm_unpackhi_epi64(Col, Col);
    __m128i R = _mm_srli_epi16(
        _mm_add_epi16(_mm_slli_epi16(Lower, 8), _mm_mullo_epi16(_mm_sub_epi16(Col, Lower), WY)), 8);
    return TColor32(_mm_cvtsi128_si32(_mm_packus_epi16(R, R)));
}
#endif

static TColor32 BilinearCore_Bound(const TColor32* Bits, int Width, int X8, int Y8);
using TBilinearCore = TColor32 (*)(const TColor32*, int, int, int);
static TBilinearCore BoundBilinearCore = BilinearCore_Pas;
static TColor32 BilinearCore_Bound(const TColor32* Bits, int Width, int X8, int Y8) {
    return BoundBilinearCore(Bits, Width, X8, Y8);
}
TColor32 BilinearCore(const TColor32* Bits, int Width, int X8, int Y8) {
    return BilinearCore_Bound(Bits, Width, X8, Y8);
}

// 16.16 to 24.8 with the rounding of the reads: (X + 0x7F) shr 8.
static inline int64_t To24_8(TFixed X) {
    return (int64_t(X) + 0x7F) >> 8;
}

// ---------------------------------------------------------------------------
// TNearestResampler

static TColor32 NearestUnsafe(TNearestResampler* Self, int X, int Y) {
    // Unchecked by contract; kept within the storage anyway so that a caller
    // that strays cannot read outside it.
    TCustomBitmap32* B = Self->Bitmap();
    if (B->Empty()) return B->OuterColor();
    return B->Pixel(Clamp(X, 0, B->Width() - 1), Clamp(Y, 0, B->Height() - 1));
}

static TColor32 NearestSafe(TNearestResampler* Self, int X, int Y) {
    return Self->Bitmap()->PixelS(X, Y);
}

static TColor32 NearestWrap(TNearestResampler* Self, int X, int Y) {
    return Self->Bitmap()->PixelW(X, Y);
}

static TColor32 NearestClamped(TNearestResampler* Self, int X, int Y) {
    TCustomBitmap32* B = Self->Bitmap();
    const TRect& C = B->ClipRect();
    if (IsRectEmpty(C)) return 0;
    int Cx = Clamp(X, C.Left, C.Right - 1), Cy = Clamp(Y, C.Top, C.Bottom - 1);
    TColor32 P = B->Pixel(Cx, Cy);
    return (Cx != X || Cy != Y) ? (P & 0x00FFFFFF) : P;
}

TNearestResampler::TNearestResampler(TCustomBitmap32* ABitmap)
    : TCustomResampler(ABitmap), FGetPixel(NearestSafe) {
    if (ABitmap) ABitmap->SetResampler(this);
}

TColor32 TNearestResampler::GetSampleFixed(TFixed X, TFixed Y) {
    return FGetPixel(this, int((int64_t(X) + 0x7FFF) >> 16), int((int64_t(Y) + 0x7FFF) >> 16));
}

TColor32 TNearestResampler::GetSampleFloat(float X, float Y) {
    return FGetPixel(this, RoundEven(X), RoundEven(Y));
}

void TNearestResampler::PrepareSampling() {
    TCustomResampler::PrepareSampling();
    switch (FPixelAccessMode) {
    case pamUnsafe:
        FGetPixel = NearestUnsafe;
        break;
    case pamWrap:
        FGetPixel = NearestWrap;
        break;
    case pamTransparentEdge:
        FGetPixel = NearestClamped;
        break;
    default:
        FGetPixel = NearestSafe;
        break;
    }
}

void TNearestResampler::Resample(TCustomBitmap32* Dst, const TRect& DstRect, TRect DstClip,
                                 TCustomBitmap32* Src, const TRect& SrcRect, TDrawMode CombineOp,
                                 const TPixelCombineEvent& CombineCallBack) {
    StretchNearest(Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallBack);
}

// ---------------------------------------------------------------------------
// TLinearResampler

static TColor32 LinearUnsafe(TLinearResampler* Self, TFixed X, TFixed Y) {
    // As NearestUnsafe: the four pixels are kept within the storage.
    TCustomBitmap32* B = Self->Bitmap();
    if (B->Empty()) return B->OuterColor();
    int64_t X8 = To24_8(X), Y8 = To24_8(Y);
    int W = B->Width(), H = B->Height();
    int X0 = int(std::clamp<int64_t>(X8 >> 8, 0, W - 1)),
        Y0 = int(std::clamp<int64_t>(Y8 >> 8, 0, H - 1));
    if (X0 < W - 1 && Y0 < H - 1)
        return BilinearCore_Bound(B->Bits(), W, X0 * 256 + int(X8 & 255), Y0 * 256 + int(Y8 & 255));
    int X1 = std::min(X0 + 1, W - 1), Y1 = std::min(Y0 + 1, H - 1);
    return Bilinear4(B->Pixel(X0, Y0), B->Pixel(X1, Y0), B->Pixel(X0, Y1), B->Pixel(X1, Y1),
                     uint32_t(X8 & 255), uint32_t(Y8 & 255));
}

static TColor32 LinearSafe(TLinearResampler* Self, TFixed X, TFixed Y) {
    TCustomBitmap32* B = Self->Bitmap();
    const TRect& C = B->ClipRect();
    int64_t X8 = To24_8(X), Y8 = To24_8(Y);
    int64_t L8 = int64_t(C.Left) * 256, T8 = int64_t(C.Top) * 256;
    int64_t R8 = (int64_t(C.Right) - 1) * 256, B8 = (int64_t(C.Bottom) - 1) * 256;
    if (X8 < L8 || Y8 < T8) return B->OuterColor();
    if (X8 < R8 && Y8 < B8) return BilinearCore_Bound(B->Bits(), B->Width(), int(X8), int(Y8));
    if (X8 == R8 && Y8 <= B8) return B->Pixel(C.Right - 1, int(Y8 >> 8));
    if (X8 <= R8 && Y8 == B8) return B->Pixel(int(X8 >> 8), C.Bottom - 1);
    return B->OuterColor();
}

static TColor32 LinearWrap(TLinearResampler* Self, TFixed X, TFixed Y) {
    TCustomBitmap32* B = Self->Bitmap();
    if (IsRectEmpty(B->ClipRect())) return B->OuterColor();
    int64_t X8 = To24_8(X), Y8 = To24_8(Y);
    int Xi = int(std::clamp<int64_t>(X8 >> 8, INT32_MIN + 1, INT32_MAX - 1));
    int Yi = int(std::clamp<int64_t>(Y8 >> 8, INT32_MIN + 1, INT32_MAX - 1));
    int X0 = B->WrapX(Xi), X1 = B->WrapX(Xi + 1), Y0 = B->WrapY(Yi), Y1 = B->WrapY(Yi + 1);
    return Bilinear4(B->Pixel(X0, Y0), B->Pixel(X1, Y0), B->Pixel(X0, Y1), B->Pixel(X1, Y1),
                     uint32_t(X8 & 255), uint32_t(Y8 & 255));
}

static TColor32 LinearTransparentEdge(TLinearResampler* Self, TFixed X, TFixed Y) {
    TCustomBitmap32* B = Self->Bitmap();
    const TRect& C = B->ClipRect();
    int64_t X8 = int64_t(X) >> 8, Y8 = int64_t(Y) >> 8;
    int64_t Xi = X8 >> 8, Yi = Y8 >> 8;
    if (Xi >= C.Left && Xi < C.Right - 1 && Yi >= C.Top && Yi < C.Bottom - 1)
        return BilinearCore_Bound(B->Bits(), B->Width(), int(X8), int(Y8));
    if (IsRectEmpty(C) || Xi < C.Left - 1 || Xi >= C.Right || Yi < C.Top - 1 || Yi >= C.Bottom)
        return 0;
    auto At = [&](int64_t Px, int64_t Py) {
        int Cx = int(std::clamp<int64_t>(Px, C.Left, C.Right - 1)),
            Cy = int(std::clamp<int64_t>(Py, C.Top, C.Bottom - 1));
        TColor32 P = B->Pixel(Cx, Cy);
        return (Cx != Px || Cy != Py) ? (P & 0x00FFFFFF) : P;
    };
    uint32_t WX = BilinearWeightG[255 - (X8 & 255)], WY = BilinearWeightG[255 - (Y8 & 255)];
    TColor32 Upper = CombineReg(At(Xi, Yi), At(Xi + 1, Yi), WX);
    TColor32 Lower = CombineReg(At(Xi, Yi + 1), At(Xi + 1, Yi + 1), WX);
    return CombineReg(Upper, Lower, WY);
}

TLinearResampler::TLinearResampler(TCustomBitmap32* ABitmap)
    : TCustomResampler(ABitmap), FGetPixelFixed(LinearSafe) {
    if (ABitmap) ABitmap->SetResampler(this);
}

TColor32 TLinearResampler::GetSampleFloat(float X, float Y) {
    return FGetPixelFixed(this, RoundEven(double(X) * FixedOne), RoundEven(double(Y) * FixedOne));
}

void TLinearResampler::PrepareSampling() {
    TCustomResampler::PrepareSampling();
    switch (FPixelAccessMode) {
    case pamUnsafe:
        FGetPixelFixed = LinearUnsafe;
        break;
    case pamWrap:
        FGetPixelFixed = LinearWrap;
        break;
    case pamTransparentEdge:
        FGetPixelFixed = LinearTransparentEdge;
        break;
    default:
        FGetPixelFixed = LinearSafe;
        break;
    }
}

// ---------------------------------------------------------------------------
// Combining rows and single pixels by draw mode

static void CombineRow(const TColor32* S, TColor32* D, int N, TDrawMode Mode, TCustomBitmap32* Src,
                       const TPixelCombineEvent& CB) {
    switch (Mode) {
    case dmOpaque:
        MoveLongword(S, D, size_t(N));
        break;
    case dmBlend: {
        uint32_t M = Src->MasterAlpha();
        if (M >= 255)
            BlendLineOf(Src->CombineMode())(S, D, N);
        else
            BlendLineExOf(Src->CombineMode())(S, D, N, M);
        break;
    }
    case dmTransparent: {
        TColor32 Key = Src->OuterColor();
        for (int I = 0; I < N; ++I)
            if (S[I] != Key) D[I] = S[I];
        break;
    }
    case dmCustom: {
        TColor32 M = Src->MasterAlpha();
        if (CB)
            for (int I = 0; I < N; ++I)
                CB(S[I], D[I], M);
        else
            MoveLongword(S, D, size_t(N));
        break;
    }
    }
}

void BlockTransfer(TCustomBitmap32* Dst, int DstX, int DstY, TRect DstClip, TCustomBitmap32* Src,
                   TRect SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) {
    if (!Dst || !Src || Dst->Empty() || Src->Empty()) return;
    if (CombineOp == dmBlend && Src->MasterAlpha() == 0) return;
    // Cut the source to its bitmap, moving the destination origin along.
    int64_t Dx = int64_t(DstX) - SrcRect.Left, Dy = int64_t(DstY) - SrcRect.Top;
    if (!IntersectRect(SrcRect, SrcRect, Src->BoundsRect())) return;
    TRect Moved{int(std::clamp<int64_t>(SrcRect.Left + Dx, INT32_MIN, INT32_MAX)),
                int(std::clamp<int64_t>(SrcRect.Top + Dy, INT32_MIN, INT32_MAX)),
                int(std::clamp<int64_t>(SrcRect.Right + Dx, INT32_MIN, INT32_MAX)),
                int(std::clamp<int64_t>(SrcRect.Bottom + Dy, INT32_MIN, INT32_MAX))};
    TRect Clip;
    IntersectRect(Clip, DstClip, Dst->BoundsRect());
    if (!IntersectRect(Clip, Clip, Moved)) return;
    int N = Clip.Width();
    int Sx = int(Clip.Left - Dx), Sy = int(Clip.Top - Dy);
    int Rows = Clip.Height();
    // Within one bitmap, go bottom-up when the source lies above the target.
    bool Reverse = Src == Dst && Sy < Clip.Top;
    for (int I = 0; I < Rows; ++I) {
        int R = Reverse ? Rows - 1 - I : I;
        CombineRow(Src->PixelPtr(Sx, Sy + R), Dst->PixelPtr(Clip.Left, Clip.Top + R), N, CombineOp,
                   Src, CombineCallBack);
    }
    EMMS();
}

void StretchNearest(TCustomBitmap32* Dst, TRect DstRect, TRect DstClip, TCustomBitmap32* Src,
                    TRect SrcRect, TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) {
    if (!Dst || !Src) return;
    IntersectRect(DstClip, DstClip, Dst->BoundsRect());
    if (!IntersectRect(DstClip, DstClip, DstRect)) return;
    if (SrcRect.Left < 0 || SrcRect.Top < 0 || SrcRect.Right > Src->Width() ||
        SrcRect.Bottom > Src->Height())
        throw Exception("Invalid SrcRect");
    // An empty source has no pixel to map to.
    if (IsRectEmpty(SrcRect) || Src->Empty()) return;
    int64_t DstW = int64_t(DstRect.Right) - DstRect.Left,
            DstH = int64_t(DstRect.Bottom) - DstRect.Top;
    int SrcW = SrcRect.Width(), SrcH = SrcRect.Height();
    if (DstW == SrcW && DstH == SrcH) {
        BlockTransfer(Dst, DstRect.Left, DstRect.Top, DstClip, Src, SrcRect, CombineOp,
                      CombineCallBack);
        return;
    }
    // Map positions; each kept inside the source rectangle.
    auto MapAxis = [](int From, int To, int64_t DstLeft, int64_t DstSize, int SrcLeft,
                      int SrcRight) {
        std::vector<int> Map(size_t(To - From));
        if (DstSize < 2) {
            std::fill(Map.begin(), Map.end(), (SrcLeft + SrcRight - 1) / 2);
        } else {
            float S = float(double(SrcRight - SrcLeft) / double(DstSize));
            for (int X = From; X < To; ++X) {
                double V = std::trunc(double(X - DstLeft) * double(S) + SrcLeft);
                Map[size_t(X - From)] = int(std::clamp<double>(V, SrcLeft, SrcRight - 1));
            }
        }
        return Map;
    };
    std::vector<int> Cols =
        MapAxis(DstClip.Left, DstClip.Right, DstRect.Left, DstW, SrcRect.Left, SrcRect.Right);
    std::vector<int> Rows =
        MapAxis(DstClip.Top, DstClip.Bottom, DstRect.Top, DstH, SrcRect.Top, SrcRect.Bottom);
    int N = DstClip.Width();
    // A one-pixel shrink (an odd-sized picture placed on half pixels) maps
    // every visible column to the next source column: the rows then combine
    // straight from the source, without gathering them first. Not within one
    // bitmap, where a row could be read after part of it was written.
    bool Contiguous = Src != Dst;
    for (int I = 1; I < N && Contiguous; ++I)
        Contiguous = Cols[size_t(I)] == Cols[0] + I;
    std::vector<TColor32> Buffer(CombineOp == dmOpaque || Contiguous ? 0 : size_t(N));
    int PrevRow = -1;
    for (int Y = DstClip.Top; Y < DstClip.Bottom; ++Y) {
        int SrcY = Rows[size_t(Y - DstClip.Top)];
        TColor32* D = Dst->PixelPtr(DstClip.Left, Y);
        const TColor32* S = Src->ScanLine(SrcY);
        if (Contiguous) {
            CombineRow(S + Cols[0], D, N, CombineOp, Src, CombineCallBack);
        } else if (CombineOp == dmOpaque) {
            if (SrcY == PrevRow && Src != Dst)
                MoveLongword(Dst->PixelPtr(DstClip.Left, Y - 1), D, size_t(N));
            else
                for (int I = 0; I < N; ++I)
                    D[I] = S[Cols[size_t(I)]];
        } else {
            for (int I = 0; I < N; ++I)
                Buffer[size_t(I)] = S[Cols[size_t(I)]];
            CombineRow(Buffer.data(), D, N, CombineOp, Src, CombineCallBack);
        }
        PrevRow = SrcY;
    }
    EMMS();
}

// Stretch through a sampling function at the source position of each
// destination pixel centre; used by the scaled transfers the system does not
// reach, kept simple and within bounds.
template <class Sample>
static void SampledStretch(TCustomBitmap32* Dst, const TRect& DstRect, TRect DstClip,
                           TCustomBitmap32* Src, const TRect& SrcRect, TDrawMode CombineOp,
                           const TPixelCombineEvent& CB, Sample GetSample) {
    if (!Dst || !Src || Src->Empty()) return;
    IntersectRect(DstClip, DstClip, Dst->BoundsRect());
    if (!IntersectRect(DstClip, DstClip, DstRect)) return;
    TRect S;
    if (!IntersectRect(S, SrcRect, Src->BoundsRect())) return;
    double Sx = double(S.Width()) / (double(DstRect.Right) - DstRect.Left);
    double Sy = double(S.Height()) / (double(DstRect.Bottom) - DstRect.Top);
    std::vector<TColor32> Row(size_t(DstClip.Width()));
    for (int Y = DstClip.Top; Y < DstClip.Bottom; ++Y) {
        double V = std::clamp((Y + 0.5 - DstRect.Top) * Sy + S.Top - 0.5, double(S.Top),
                              double(S.Bottom - 1));
        for (int X = DstClip.Left; X < DstClip.Right; ++X) {
            double U = std::clamp((X + 0.5 - DstRect.Left) * Sx + S.Left - 0.5, double(S.Left),
                                  double(S.Right - 1));
            Row[size_t(X - DstClip.Left)] = GetSample(S, U, V);
        }
        CombineRow(Row.data(), Dst->PixelPtr(DstClip.Left, Y), DstClip.Width(), CombineOp, Src, CB);
    }
    EMMS();
}

static TColor32 ClampedBilinear(TCustomBitmap32* B, const TRect& S, double U, double V) {
    int X0 = int(U), Y0 = int(V);
    int X1 = std::min(X0 + 1, S.Right - 1), Y1 = std::min(Y0 + 1, S.Bottom - 1);
    uint32_t Fx = uint32_t((U - X0) * 256) & 255, Fy = uint32_t((V - Y0) * 256) & 255;
    return Bilinear4(B->Pixel(X0, Y0), B->Pixel(X1, Y0), B->Pixel(X0, Y1), B->Pixel(X1, Y1), Fx,
                     Fy);
}

void TLinearResampler::Resample(TCustomBitmap32* Dst, const TRect& DstRect, TRect DstClip,
                                TCustomBitmap32* Src, const TRect& SrcRect, TDrawMode CombineOp,
                                const TPixelCombineEvent& CombineCallBack) {
    SampledStretch(
        Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallBack,
        [Src](const TRect& S, double U, double V) { return ClampedBilinear(Src, S, U, V); });
}

// ---------------------------------------------------------------------------
// Kernels and TKernelResampler

float TBoxKernel::Filter(float Value) const {
    return (Value >= -0.5f && Value <= 0.5f) ? 1.0f : 0.0f;
}
float TLinearKernel::Filter(float Value) const {
    float A = std::fabs(Value);
    return A < 1 ? 1 - A : 0;
}
float TCosineKernel::Filter(float Value) const {
    return std::fabs(Value) < 1 ? float((std::cos(Value * M_PI) + 1) / 2) : 0.0f;
}

const std::vector<TKernelClassInfo>& KernelList() {
    static const std::vector<TKernelClassInfo> List = {
        {"TBoxKernel", [] { return std::unique_ptr<TCustomKernel>(new TBoxKernel); }},
        {"TLinearKernel", [] { return std::unique_ptr<TCustomKernel>(new TLinearKernel); }},
        {"TCosineKernel", [] { return std::unique_ptr<TCustomKernel>(new TCosineKernel); }},
    };
    return List;
}

TKernelResampler::TKernelResampler(TCustomBitmap32* ABitmap)
    : TCustomResampler(ABitmap), FKernel(std::make_unique<TBoxKernel>()) {
    if (ABitmap) ABitmap->SetResampler(this);
}

void TKernelResampler::SetKernel(std::unique_ptr<TCustomKernel> Value) {
    if (!Value) return;
    FKernel = std::move(Value);
    Changed();
}

void TKernelResampler::SetKernelClassName(const std::string& Value) {
    if (Value == KernelClassName()) return;
    for (auto& K : KernelList())
        if (K.ClassName == Value) {
            SetKernel(K.Create());
            return;
        }
}

void TKernelResampler::SetKernelMode(TKernelMode Value) {
    if (FKernelMode == Value) return;
    FKernelMode = Value;
    Changed();
}

void TKernelResampler::SetTableSize(int Value) {
    Value = std::max(Value, 2);
    if (FTableSize == Value) return;
    FTableSize = Value;
    Changed();
}

void TKernelResampler::AssignTo(TCustomResampler* Dst) const {
    TCustomResampler::AssignTo(Dst);
    if (auto* K = dynamic_cast<TKernelResampler*>(Dst)) {
        K->SetKernelClassName(KernelClassName());
        K->SetKernelMode(FKernelMode);
        K->SetTableSize(FTableSize);
    }
}

// Weighted sum over the two nearest columns and rows, by the kernel.
static TColor32 KernelSample(TCustomBitmap32* B, const TCustomKernel& K, const TRect& S, double U,
                             double V) {
    int X0 = int(std::floor(U)), Y0 = int(std::floor(V));
    double Wx[2] = {K.Filter(float(U - X0)), K.Filter(float(U - X0 - 1))};
    double Wy[2] = {K.Filter(float(V - Y0)), K.Filter(float(V - Y0 - 1))};
    double Acc[4] = {0, 0, 0, 0}, Total = 0;
    for (int J = 0; J < 2; ++J)
        for (int I = 0; I < 2; ++I) {
            double W = Wx[I] * Wy[J];
            if (W == 0) continue;
            TColor32 P =
                B->Pixel(Clamp(X0 + I, S.Left, S.Right - 1), Clamp(Y0 + J, S.Top, S.Bottom - 1));
            for (int C = 0; C < 4; ++C)
                Acc[C] += W * ((P >> (C * 8)) & 0xFF);
            Total += W;
        }
    if (Total <= 0) return B->Pixel(Clamp(X0, S.Left, S.Right - 1), Clamp(Y0, S.Top, S.Bottom - 1));
    TColor32 R = 0;
    for (int C = 0; C < 4; ++C)
        R |= TColor32(Clamp255(int(std::lround(Acc[C] / Total)))) << (C * 8);
    return R;
}

TColor32 TKernelResampler::GetSampleFloat(float X, float Y) {
    TCustomBitmap32* B = Bitmap();
    if (!B) return 0;
    const TRect& C = FPixelAccessMode == pamUnsafe ? B->BoundsRect() : B->ClipRect();
    if (IsRectEmpty(C)) return B->OuterColor();
    if (FPixelAccessMode == pamSafe &&
        (X < C.Left - 0.5f || Y < C.Top - 0.5f || X > C.Right - 0.5f || Y > C.Bottom - 0.5f))
        return B->OuterColor();
    return KernelSample(B, *FKernel, C, X, Y);
}

void TKernelResampler::Resample(TCustomBitmap32* Dst, const TRect& DstRect, TRect DstClip,
                                TCustomBitmap32* Src, const TRect& SrcRect, TDrawMode CombineOp,
                                const TPixelCombineEvent& CombineCallBack) {
    const TCustomKernel& K = *FKernel;
    SampledStretch(
        Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallBack,
        [Src, &K](const TRect& S, double U, double V) { return KernelSample(Src, K, S, U, V); });
}

// ---------------------------------------------------------------------------

const std::vector<TResamplerClassInfo>& ResamplerList() {
    static const std::vector<TResamplerClassInfo> List = {
        {"TNearestResampler",
         [](TCustomBitmap32* B) -> TCustomResampler* { return new TNearestResampler(B); }},
        {"TLinearResampler",
         [](TCustomBitmap32* B) -> TCustomResampler* { return new TLinearResampler(B); }},
        {"TDraftResampler",
         [](TCustomBitmap32* B) -> TCustomResampler* { return new TDraftResampler(B); }},
        {"TKernelResampler",
         [](TCustomBitmap32* B) -> TCustomResampler* { return new TKernelResampler(B); }},
    };
    return List;
}

TCustomResampler* CreateResampler(const std::string& ClassName, TCustomBitmap32* Bitmap) {
    for (auto& R : ResamplerList())
        if (R.ClassName == ClassName) return R.Create(Bitmap);
    return nullptr;
}

void StretchTransfer(TCustomBitmap32* Dst, const TRect& DstRect, const TRect& DstClip,
                     TCustomBitmap32* Src, const TRect& SrcRect, TCustomResampler* Resampler,
                     TDrawMode CombineOp, const TPixelCombineEvent& CombineCallBack) {
    if (!Dst || !Src) return;
    if (int64_t(DstRect.Right) - DstRect.Left == int64_t(SrcRect.Right) - SrcRect.Left &&
        int64_t(DstRect.Bottom) - DstRect.Top == int64_t(SrcRect.Bottom) - SrcRect.Top) {
        TRect Clip;
        if (IntersectRect(Clip, DstClip, DstRect))
            BlockTransfer(Dst, DstRect.Left, DstRect.Top, Clip, Src, SrcRect, CombineOp,
                          CombineCallBack);
        return;
    }
    if (Resampler)
        Resampler->Resample(Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallBack);
    else
        StretchNearest(Dst, DstRect, DstClip, Src, SrcRect, CombineOp, CombineCallBack);
}

// ---------------------------------------------------------------------------

void TNestedSampler::PrepareSampling() {
    if (!FSampler) throw ENestedException();
    FSampler->PrepareSampling();
}

void TNestedSampler::FinalizeSampling() {
    if (!FSampler) throw ENestedException();
    FSampler->FinalizeSampling();
}

bool TNestedSampler::HasBounds() {
    if (!FSampler) throw ENestedException();
    return FSampler->HasBounds();
}

TFloatRect TNestedSampler::GetSampleBounds() {
    if (!FSampler) throw ENestedException();
    return FSampler->GetSampleBounds();
}

namespace {
enum { FID_BILINEARCORE };
struct TResamplersRegistration {
    TResamplersRegistration() {
        for (int I = 0; I < 256; ++I)
            BilinearWeightG[I] = uint8_t(std::nearbyint(255.0 * std::pow(I / 255.0, 0.7)));
        TFunctionRegistry* R = NewRegistry("GR32_Resamplers bindings");
        R->Add(FID_BILINEARCORE, BilinearCore_Pas);
#if defined(__SSE2__)
        R->Add(FID_BILINEARCORE, BilinearCore_SSE2, CPUFeature(ciSSE2));
#endif
        R->RegisterBinding(FID_BILINEARCORE, &BoundBilinearCore);
        R->RebindAll();
    }
} ResamplersRegistration;
} // namespace
