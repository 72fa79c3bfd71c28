#include "GR32_Rasterizers.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <typeinfo>

#include "GR32_Blend.h"
#include "GR32_Resamplers.h"
#include "GR32_Transforms.h"

static int FloorToInt(float V) {
    double F = std::floor(double(V));
    if (!(F > double(std::numeric_limits<int>::min()))) return std::numeric_limits<int>::min();
    if (F > double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    return int(F);
}

static int CeilToInt(float V) {
    double F = std::ceil(double(V));
    if (!(F > double(std::numeric_limits<int>::min()))) return std::numeric_limits<int>::min();
    if (F > double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    return int(F);
}

void TRasterizer::AssignColor(TColor32& Dst, TColor32 Src) {
    switch (FDrawMode) {
        case dmOpaque: Dst = Src; break;
        case dmBlend: BlendMemExOf(FCombineMode)(Src, Dst, FSrcAlpha); break;
        case dmTransparent:
            if (Src != FTransparentColor) Dst = Src;
            break;
        default:
            if (FCombineCallBack) FCombineCallBack(Src, Dst, FSrcAlpha);
            else BlendMemExOf(FCombineMode)(Src, Dst, FSrcAlpha);
            break;
    }
}

void TRasterizer::Rasterize(TCustomBitmap32* Dst, const TRect& DstRect, TCustomBitmap32* Src) {
    if (!Dst || !Src || !FSampler) return;
    FSrcAlpha = Src->MasterAlpha() > 255 ? 255 : Src->MasterAlpha();
    FDrawMode = Src->DrawMode();
    if (FDrawMode == dmCustom && !Src->OnPixelCombine) FDrawMode = dmOpaque;
    FCombineMode = Src->CombineMode();
    FCombineCallBack = Src->OnPixelCombine;
    FTransparentColor = Src->OuterColor();

    int EntryUpdateCount = Dst->UpdateCount();
    FSampler->PrepareSampling();
    try {
        TRect R;
        bool Any = IntersectRect(R, DstRect, Dst->BoundsRect());
        if (Any && FSampler->HasBounds()) {
            TFloatRect B = FSampler->GetSampleBounds();
            TRect Whole{FloorToInt(B.Left), FloorToInt(B.Top), CeilToInt(B.Right), CeilToInt(B.Bottom)};
            Any = !IsRectEmpty(B) && IntersectRect(R, R, Whole);
        }
        if (Any) DoRasterize(Dst, R);
    } catch (...) {
        while (Dst->UpdateCount() > EntryUpdateCount) Dst->EndUpdate();
        FSampler->FinalizeSampling();
        throw;
    }
    while (Dst->UpdateCount() > EntryUpdateCount) Dst->EndUpdate();
    FSampler->FinalizeSampling();
}

// The needle drawing's case, an affine transformer over the linear or the
// nearest resampler, is sampled without virtual calls per pixel; the values
// are those of TTransformer::GetSampleInt.
template <class Resampler>
struct TAffineSample {
    const TFixedMatrix& I;
    Resampler* R;
    TColor32 operator()(int X, int Y) const {
        TFixed Fx = TFixed((uint32_t(X) << 16) + FixedHalf), Fy = TFixed((uint32_t(Y) << 16) + FixedHalf);
        uint32_t U = uint32_t(FixedMul(Fx, I[0][0])) + uint32_t(FixedMul(Fy, I[1][0])) + uint32_t(I[2][0]);
        uint32_t V = uint32_t(FixedMul(Fx, I[0][1])) + uint32_t(FixedMul(Fy, I[1][1])) + uint32_t(I[2][1]);
        return R->Resampler::GetSampleFixed(TFixed(U - FixedHalf), TFixed(V - FixedHalf));
    }
};

// The columns of row Y whose linear samples can touch the source at all. Left
// of and right of them the read gives the outer colour; when that is fully
// transparent and blended, those pixels stay as they are and need no visit.
// A rotated needle covers a small part of its bounding box, so this skips
// most of the box. Two pixels of margin keep rounding on the safe side.
static void SourceSpan(const TFixedMatrix& I, const TRect& Clip, int Y, int& Left, int& Right) {
    const double Cy = Y + 0.5;
    const double A[2] = {I[0][0] / 65536.0, I[0][1] / 65536.0};
    const double B[2] = {(Cy * I[1][0] + I[2][0]) / 65536.0 - 0.5, (Cy * I[1][1] + I[2][1]) / 65536.0 - 0.5};
    const double Lo[2] = {Clip.Left - 2.0, Clip.Top - 2.0};
    const double Hi[2] = {Clip.Right + 1.0, Clip.Bottom + 1.0};
    // Column X samples at A * (X + 0.5) + B in each coordinate.
    double From = Left, To = Right;
    for (int K = 0; K < 2; ++K) {
        if (A[K] == 0) {
            const double P = 0.5 * A[K] + B[K];
            if (P < Lo[K] || P > Hi[K]) From = To;
            continue;
        }
        double X1 = (Lo[K] - B[K]) / A[K] - 0.5, X2 = (Hi[K] - B[K]) / A[K] - 0.5;
        if (X1 > X2) std::swap(X1, X2);
        From = std::max(From, std::floor(X1) - 2);
        To = std::min(To, std::ceil(X2) + 3);
    }
    if (!(From < To)) {
        Right = Left;
        return;
    }
    Left = int(From);
    Right = int(To);
}

template <class Sample>
static void BlendSpans(TCustomBitmap32* Dst, const TRect& R, const TFixedMatrix& I, const TRect& SrcClip,
                       const Sample& GetSample, TBlendMemEx Blend, TColor32 M) {
    for (int Y = R.Top; Y < R.Bottom; ++Y) {
        int L = R.Left, Rt = R.Right;
        SourceSpan(I, SrcClip, Y, L, Rt);
        TColor32* P = Dst->PixelPtr(L, Y);
        for (int X = L; X < Rt; ++X, ++P) Blend(GetSample(X, Y), *P, M);
    }
}

struct TVirtualSample {
    TCustomSampler* S;
    TColor32 operator()(int X, int Y) const { return S->GetSampleInt(X, Y); }
};

template <class Sample, class Assign>
static void RasterRows(TCustomBitmap32* Dst, const TRect& R, const Sample& GetSample, const Assign& Put) {
    for (int Y = R.Top; Y < R.Bottom; ++Y) {
        TColor32* P = Dst->PixelPtr(R.Left, Y);
        for (int X = R.Left; X < R.Right; ++X, ++P) Put(*P, GetSample(X, Y));
    }
}

template <class Sample>
static void RasterBy(TCustomBitmap32* Dst, const TRect& R, const Sample& GetSample, TDrawMode Mode, TCombineMode Combine,
                     TColor32 M, TColor32 Key, const TPixelCombineEvent& CB) {
    switch (Mode) {
        case dmOpaque: RasterRows(Dst, R, GetSample, [](TColor32& D, TColor32 S) { D = S; }); break;
        case dmBlend: {
            TBlendMemEx Blend = BlendMemExOf(Combine);
            RasterRows(Dst, R, GetSample, [Blend, M](TColor32& D, TColor32 S) { Blend(S, D, M); });
            break;
        }
        case dmTransparent:
            RasterRows(Dst, R, GetSample, [Key](TColor32& D, TColor32 S) {
                if (S != Key) D = S;
            });
            break;
        default:
            RasterRows(Dst, R, GetSample, [&CB, M](TColor32& D, TColor32 S) { CB(S, D, M); });
            break;
    }
}

void TRegularRasterizer::DoRasterize(TCustomBitmap32* Dst, const TRect& DstRect) {
    // Rows in bands of UpdateRowCount (all at once when 0), each band followed
    // by its area notice except the last, which gets the closing one.
    int Band = FUpdateRowCount > 0 ? FUpdateRowCount : DstRect.Height();
    int UpdateCount = 0;
    TDrawMode Mode = FDrawMode;
    if (Mode == dmCustom && !FCombineCallBack) Mode = dmBlend;

    auto* Transformer = typeid(*FSampler) == typeid(TTransformer) ? static_cast<TTransformer*>(FSampler) : nullptr;
    auto* Affine = Transformer && Transformer->Sampler() && typeid(*Transformer->Transformation()) == typeid(TAffineTransformation)
                       ? static_cast<TAffineTransformation*>(Transformer->Transformation())
                       : nullptr;
    TCustomSampler* Inner = Affine ? Transformer->Sampler() : nullptr;

    for (int Top = DstRect.Top; Top < DstRect.Bottom; Top += Band) {
        TRect R{DstRect.Left, Top, DstRect.Right, std::min(Top + Band, DstRect.Bottom)};
        if (Inner && typeid(*Inner) == typeid(TLinearResampler) && Mode == dmBlend && FCombineMode == cmBlend &&
            static_cast<TLinearResampler*>(Inner)->PixelAccessMode() == pamSafe &&
            (static_cast<TLinearResampler*>(Inner)->Bitmap()->OuterColor() >> 24) == 0)
            BlendSpans(Dst, R, Affine->InverseFixedMatrix(), static_cast<TLinearResampler*>(Inner)->Bitmap()->ClipRect(),
                       TAffineSample<TLinearResampler>{Affine->InverseFixedMatrix(), static_cast<TLinearResampler*>(Inner)},
                       BlendMemExOf(FCombineMode), FSrcAlpha);
        else if (Inner && typeid(*Inner) == typeid(TLinearResampler))
            RasterBy(Dst, R, TAffineSample<TLinearResampler>{Affine->InverseFixedMatrix(), static_cast<TLinearResampler*>(Inner)},
                     Mode, FCombineMode, FSrcAlpha, FTransparentColor, FCombineCallBack);
        else if (Inner && typeid(*Inner) == typeid(TNearestResampler))
            RasterBy(Dst, R, TAffineSample<TNearestResampler>{Affine->InverseFixedMatrix(), static_cast<TNearestResampler*>(Inner)},
                     Mode, FCombineMode, FSrcAlpha, FTransparentColor, FCombineCallBack);
        else
            RasterBy(Dst, R, TVirtualSample{FSampler}, Mode, FCombineMode, FSrcAlpha, FTransparentColor, FCombineCallBack);
        UpdateCount += R.Height();
        if (UpdateCount == FUpdateRowCount && R.Bottom < DstRect.Bottom) {
            Dst->Changed(TRect{DstRect.Left, R.Bottom - UpdateCount, DstRect.Right, R.Bottom});
            UpdateCount = 0;
        }
    }
    Dst->Changed(TRect{DstRect.Left, DstRect.Bottom - UpdateCount - 1, DstRect.Right, DstRect.Bottom});
}

TRasterizer* NewDefaultRasterizer() { return new TRegularRasterizer; }
