#include "GR32_Rasterizers.h"

#include <algorithm>
#include <cmath>
#include <typeinfo>

#include "GR32_Blend.h"
#include "GR32_Resamplers.h"
#include "GR32_Transforms.h"
#include "Rounding.h"
#include "ScopeGuards.h"

// The combine settings a rasterizer takes from its source bitmap.
static void ReadSettings(TCustomBitmap32* Src, TDrawMode& Mode, TCombineMode& Combine,
                         TColor32& SrcAlpha, TColor32& TransparentColor,
                         TPixelCombineEvent& CombineCallBack) {
    SrcAlpha = Src->MasterAlpha() > 255 ? 255 : Src->MasterAlpha();
    Mode = Src->DrawMode();
    if (Mode == dmCustom && !Src->OnPixelCombine) Mode = dmOpaque;
    Combine = Src->CombineMode();
    CombineCallBack = Src->OnPixelCombine;
    TransparentColor = Src->OuterColor();
}

void TRasterizer::Rasterize(TCustomBitmap32* Dst, const TRect& DstRect, TCustomBitmap32* Src) {
    if (!Dst || !Src || !FSampler) return;
    ReadSettings(Src, FDrawMode, FCombineMode, FSrcAlpha, FTransparentColor, FCombineCallBack);
    int EntryUpdateCount = Dst->UpdateCount();
    FSampler->PrepareSampling();
    // Update brackets left open on Dst during the drawing are closed as well.
    TScopeExit Finish([&] {
        while (Dst->UpdateCount() > EntryUpdateCount)
            Dst->EndUpdate();
        FSampler->FinalizeSampling();
    });
    TRect R;
    if (RasterArea(R, FSampler, DstRect, Dst)) DoRasterize(Dst, R);
}

bool TRasterizer::RasterArea(TRect& R, TCustomSampler* Sampler, const TRect& DstRect,
                             const TCustomBitmap32* Dst) {
    bool Any = IntersectRect(R, DstRect, Dst->BoundsRect());
    if (Any && Sampler->HasBounds()) {
        TFloatRect B = Sampler->GetSampleBounds();
        TRect Whole{
            SaturateToInt(std::floor(double(B.Left))), SaturateToInt(std::floor(double(B.Top))),
            SaturateToInt(std::ceil(double(B.Right))), SaturateToInt(std::ceil(double(B.Bottom)))};
        Any = !IsRectEmpty(B) && IntersectRect(R, R, Whole);
    }
    return Any;
}

// An affine transformer's sample with the resampler's read called directly;
// the values are those of TTransformer::GetSampleInt.
template <class Resampler> struct TAffineSample {
    const TFixedMatrix& I;
    Resampler* R;
    TColor32 operator()(int X, int Y) const {
        TFixed Fx = TFixed((uint32_t(X) << 16) + FixedHalf),
               Fy = TFixed((uint32_t(Y) << 16) + FixedHalf);
        uint32_t U =
            uint32_t(FixedMul(Fx, I[0][0])) + uint32_t(FixedMul(Fy, I[1][0])) + uint32_t(I[2][0]);
        uint32_t V =
            uint32_t(FixedMul(Fx, I[0][1])) + uint32_t(FixedMul(Fy, I[1][1])) + uint32_t(I[2][1]);
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
    const double B[2] = {(Cy * I[1][0] + I[2][0]) / 65536.0 - 0.5,
                         (Cy * I[1][1] + I[2][1]) / 65536.0 - 0.5};
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
static void BlendSpans(TCustomBitmap32* Dst, const TRect& R, const TFixedMatrix& I,
                       const TRect& SrcClip, const Sample& GetSample, TBlendMemEx Blend,
                       TColor32 M) {
    for (int Y = R.Top; Y < R.Bottom; ++Y) {
        int L = R.Left, Rt = R.Right;
        SourceSpan(I, SrcClip, Y, L, Rt);
        TColor32* P = Dst->PixelPtr(L, Y);
        for (int X = L; X < Rt; ++X, ++P)
            Blend(GetSample(X, Y), *P, M);
    }
}

struct TVirtualSample {
    TCustomSampler* S;
    TColor32 operator()(int X, int Y) const { return S->GetSampleInt(X, Y); }
};

struct TRasterJob {
    TCustomBitmap32* Dst;
    TCustomSampler* Sampler;
    // The affine transformer's inner sampler and inverse matrix; Inner is
    // nullptr for any other sampler.
    TCustomSampler* Inner;
    const TFixedMatrix* Inverse;
    TDrawMode Mode;
    TCombineMode Combine;
    TColor32 SrcAlpha;
    TColor32 TransparentColor;
    const TPixelCombineEvent* CombineCallBack;
};

static TRasterJob MakeJob(TCustomBitmap32* Dst, TCustomSampler* Sampler, TDrawMode Mode,
                          TCombineMode Combine, TColor32 SrcAlpha, TColor32 TransparentColor,
                          const TPixelCombineEvent& CombineCallBack) {
    if (Mode == dmCustom && !CombineCallBack) Mode = dmBlend;
    TRasterJob J{Dst,     Sampler,  nullptr,          nullptr,         Mode,
                 Combine, SrcAlpha, TransparentColor, &CombineCallBack};
    // Exact classes only: a subclass may sample differently.
    auto* Transformer =
        typeid(*Sampler) == typeid(TTransformer) ? static_cast<TTransformer*>(Sampler) : nullptr;
    if (Transformer && Transformer->Sampler() &&
        typeid(*Transformer->Transformation()) == typeid(TAffineTransformation)) {
        J.Inner = Transformer->Sampler();
        J.Inverse = &static_cast<TAffineTransformation*>(Transformer->Transformation())
                         ->InverseFixedMatrix();
    }
    return J;
}

template <class Sample, class Assign>
static void RasterRows(TCustomBitmap32* Dst, const TRect& R, const Sample& GetSample,
                       const Assign& Put) {
    for (int Y = R.Top; Y < R.Bottom; ++Y) {
        TColor32* P = Dst->PixelPtr(R.Left, Y);
        for (int X = R.Left; X < R.Right; ++X, ++P)
            Put(*P, GetSample(X, Y));
    }
}

template <class Sample>
static void RasterBy(const TRasterJob& J, const TRect& R, const Sample& GetSample) {
    TCustomBitmap32* Dst = J.Dst;
    switch (J.Mode) {
    case dmOpaque:
        RasterRows(Dst, R, GetSample, [](TColor32& D, TColor32 S) { D = S; });
        break;
    case dmBlend: {
        TBlendMemEx Blend = BlendMemExOf(J.Combine);
        TColor32 M = J.SrcAlpha;
        RasterRows(Dst, R, GetSample, [Blend, M](TColor32& D, TColor32 S) { Blend(S, D, M); });
        break;
    }
    case dmTransparent: {
        TColor32 Key = J.TransparentColor;
        RasterRows(Dst, R, GetSample, [Key](TColor32& D, TColor32 S) {
            if (S != Key) D = S;
        });
        break;
    }
    default: {
        const TPixelCombineEvent& CB = *J.CombineCallBack;
        TColor32 M = J.SrcAlpha;
        RasterRows(Dst, R, GetSample, [&CB, M](TColor32& D, TColor32 S) { CB(S, D, M); });
        break;
    }
    }
}

// Where SourceSpan may skip the columns outside the source.
static bool TransparentOutside(const TRasterJob& J) {
    auto* L = static_cast<TLinearResampler*>(J.Inner);
    return L->PixelAccessMode() == pamSafe && (L->Bitmap()->OuterColor() >> 24) == 0;
}

static void LinearBlendSpans(const TRasterJob& J, const TRect& R) {
    auto* L = static_cast<TLinearResampler*>(J.Inner);
    BlendSpans(J.Dst, R, *J.Inverse, L->Bitmap()->ClipRect(),
               TAffineSample<TLinearResampler>{*J.Inverse, L}, BlendMemExOf(J.Combine), J.SrcAlpha);
}

template <class Resampler> static void AffineRows(const TRasterJob& J, const TRect& R) {
    RasterBy(J, R, TAffineSample<Resampler>{*J.Inverse, static_cast<Resampler*>(J.Inner)});
}

constexpr unsigned AllDrawModes =
    1u << dmOpaque | 1u << dmBlend | 1u << dmCustom | 1u << dmTransparent;
constexpr unsigned AllCombineModes = 1u << cmBlend | 1u << cmMerge;

const std::vector<TRasterFastPath>& RasterFastPaths() {
    static const std::vector<TRasterFastPath> Paths = {
        {"linear blend over a transparent outside", &typeid(TLinearResampler), 1u << dmBlend,
         1u << cmBlend, TransparentOutside, LinearBlendSpans},
        {"linear", &typeid(TLinearResampler), AllDrawModes, AllCombineModes, nullptr,
         AffineRows<TLinearResampler>},
        {"nearest", &typeid(TNearestResampler), AllDrawModes, AllCombineModes, nullptr,
         AffineRows<TNearestResampler>},
    };
    return Paths;
}

static const TRasterFastPath* FindFastPath(const TRasterJob& J) {
    if (!J.Inner) return nullptr;
    for (const TRasterFastPath& P : RasterFastPaths())
        if (typeid(*J.Inner) == *P.Sampler && (P.DrawModes >> J.Mode & 1) &&
            (P.CombineModes >> J.Combine & 1) && (!P.Condition || P.Condition(J)))
            return &P;
    return nullptr;
}

const TRasterFastPath* SelectRasterFastPath(TCustomSampler* Sampler, TCustomBitmap32* Src) {
    if (!Sampler || !Src) return nullptr;
    TDrawMode Mode;
    TCombineMode Combine;
    TColor32 SrcAlpha, TransparentColor;
    TPixelCombineEvent CombineCallBack;
    ReadSettings(Src, Mode, Combine, SrcAlpha, TransparentColor, CombineCallBack);
    return FindFastPath(
        MakeJob(nullptr, Sampler, Mode, Combine, SrcAlpha, TransparentColor, CombineCallBack));
}

void TRegularRasterizer::DoRasterize(TCustomBitmap32* Dst, const TRect& DstRect) {
    // Rows in bands of UpdateRowCount (all at once when 0), each band followed
    // by its area notice except the last, which gets the closing one.
    int Band = FUpdateRowCount > 0 ? FUpdateRowCount : DstRect.Height();
    int UpdateCount = 0;
    const TRasterJob Job = MakeJob(Dst, FSampler, FDrawMode, FCombineMode, FSrcAlpha,
                                   FTransparentColor, FCombineCallBack);

    for (int Top = DstRect.Top; Top < DstRect.Bottom; Top += Band) {
        TRect R{DstRect.Left, Top, DstRect.Right, std::min(Top + Band, DstRect.Bottom)};
        // Chosen per band: a combine handler may change the source meanwhile.
        if (const TRasterFastPath* Path = FindFastPath(Job))
            Path->Span(Job, R);
        else
            RasterBy(Job, R, TVirtualSample{FSampler});
        UpdateCount += R.Height();
        if (UpdateCount == FUpdateRowCount && R.Bottom < DstRect.Bottom) {
            Dst->Changed(TRect{DstRect.Left, R.Bottom - UpdateCount, DstRect.Right, R.Bottom});
            UpdateCount = 0;
        }
    }
    Dst->Changed(
        TRect{DstRect.Left, DstRect.Bottom - UpdateCount - 1, DstRect.Right, DstRect.Bottom});
}

std::unique_ptr<TRasterizer> NewDefaultRasterizer() {
    return std::make_unique<TRegularRasterizer>();
}
