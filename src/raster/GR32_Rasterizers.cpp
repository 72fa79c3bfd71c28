// SPDX-License-Identifier: GPL-3.0-or-later
#include "GR32_Rasterizers.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <typeinfo>
#include <vector>

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

// The columns First..Last of each row of the source's clip that hold any
// alpha at all (First > Last: none), indexed from the clip's top.
struct TAlphaExtent {
    int First, Last;
};
static void AlphaExtents(const TCustomBitmap32& B, const TRect& C, std::vector<TAlphaExtent>& Out) {
    Out.resize(size_t(std::max(0, C.Height())));
    for (int Y = C.Top; Y < C.Bottom; ++Y) {
        const TColor32* Row = B.ScanLine(Y);
        int First = C.Left, Last = C.Right - 1;
        while (First <= Last && (Row[First] >> 24) == 0)
            ++First;
        while (Last >= First && (Row[Last] >> 24) == 0)
            --Last;
        Out[size_t(Y - C.Top)] = {First, Last};
    }
}

// Per row of R, the columns [Lo, Hi) whose linear reads may see any alpha.
// Every pixel a read takes (the bilinear four, or the single one on the last
// row or column) lies in the two-by-two block from the integer part of its
// position, so a read can reach a pixel with alpha in source row Y only from
// [First - 1, Last + 1) x [Y - 1, Y + 1); elsewhere its alpha is 0 and a blend
// leaves the destination as it is. Each such rectangle, a little wider for the
// fixed-point rounding of the positions, is mapped onto the destination rows it
// crosses. Wider than needed costs only blends that change nothing.
static void CoveredColumns(const TFixedMatrix& I, const std::vector<TAlphaExtent>& Ext,
                           const TRect& SrcClip, const TRect& R, std::vector<int>& Lo,
                           std::vector<int>& Hi) {
    Lo.assign(size_t(R.Height()), R.Right);
    Hi.assign(size_t(R.Height()), R.Left);
    // Destination (x, y), pixel centres, reads at (Ax x + Cx y + Dx, Ay x + Cy y + Dy).
    const double Ax = I[0][0] / 65536.0, Cx = I[1][0] / 65536.0, Dx = I[2][0] / 65536.0 - 0.5;
    const double Ay = I[0][1] / 65536.0, Cy = I[1][1] / 65536.0, Dy = I[2][1] / 65536.0 - 0.5;
    const double Det = Ax * Cy - Cx * Ay;
    if (!(std::abs(Det) > 1e-9)) {
        // Squashed flat: no mapping back; every column may be reached.
        std::fill(Lo.begin(), Lo.end(), R.Left);
        std::fill(Hi.begin(), Hi.end(), R.Right);
        return;
    }
    constexpr double Slack = 1.0 / 64;
    // Column x reads at A x + C y + D in each coordinate: inside [Low, High]
    // from x = (Low - D) / A - (C / A) y on, to the same with High.
    const double IAx = Ax != 0 ? 1 / Ax : 0, IAy = Ay != 0 ? 1 / Ay : 0;
    // Source rows go in groups of a few, each group one rectangle over all of
    // its rows: a little wider, far fewer to map.
    constexpr int Group = 4;
    for (int Row = SrcClip.Top; Row < SrcClip.Bottom; Row += Group) {
        const int End = std::min(SrcClip.Bottom, Row + Group);
        int First = INT_MAX, Last = INT_MIN;
        for (int K = Row; K < End; ++K) {
            const TAlphaExtent& E = Ext[size_t(K - SrcClip.Top)];
            if (E.First > E.Last) continue;
            First = std::min(First, E.First);
            Last = std::max(Last, E.Last);
        }
        if (First > Last) continue;
        const double U0 = First - 1 - Slack, U1 = Last + 1 + Slack;
        const double V0 = Row - 1 - Slack, V1 = End + Slack;
        // The destination rows the rectangle's corners map to.
        double YMin = 1e300, YMax = -1e300;
        for (double U : {U0, U1})
            for (double V : {V0, V1}) {
                const double Y = (Ax * (V - Dy) - Ay * (U - Dx)) / Det;
                YMin = std::min(YMin, Y);
                YMax = std::max(YMax, Y);
            }
        // Rows whose pixel centres lie between, and one more each way.
        const int Top = std::max(R.Top, SaturateToInt(std::floor(YMin - 0.5)));
        const int Bottom = std::min(R.Bottom, SaturateToInt(std::floor(YMax + 0.5)) + 1);
        const double Ux0 = (U0 - Dx) * IAx, Ux1 = (U1 - Dx) * IAx, Us = -Cx * IAx;
        const double Vx0 = (V0 - Dy) * IAy, Vx1 = (V1 - Dy) * IAy, Vs = -Cy * IAy;
        for (int Y = Top; Y < Bottom; ++Y) {
            const double Yc = Y + 0.5;
            double From = R.Left, To = R.Right;
            // Narrows [From, To] to where one source coordinate stays within
            // [Low, High]; false when it never does on this row.
            const auto Within = [&](double A, double X1, double X2, double C, double D, double Low,
                                    double High) {
                if (A == 0) return !(C * Yc + D < Low || C * Yc + D > High);
                From = std::max(From, std::min(X1, X2) - 0.5);
                To = std::min(To, std::max(X1, X2) - 0.5);
                return true;
            };
            if (!Within(Ax, Ux0 + Us * Yc, Ux1 + Us * Yc, Cx, Dx, U0, U1) ||
                !Within(Ay, Vx0 + Vs * Yc, Vx1 + Vs * Yc, Cy, Dy, V0, V1) || !(From <= To))
                continue;
            // Both within the row's bounds, at or above 0: a cast floors.
            int& RowLo = Lo[size_t(Y - R.Top)];
            int& RowHi = Hi[size_t(Y - R.Top)];
            RowLo = std::min(RowLo, std::max(R.Left, int(From) - 1));
            RowHi = std::max(RowHi, std::min(R.Right, int(To) + 2));
        }
    }
}

template <class Sample>
static void BlendSpans(TCustomBitmap32* Dst, const TRect& R, const TFixedMatrix& I,
                       const TCustomBitmap32& Src, const Sample& GetSample, TBlendLineEx Blend,
                       TColor32 M) {
    const TRect& SrcClip = Src.ClipRect();
    // A needle picture is mostly transparent around a thin needle: only the
    // columns its pixels with alpha can reach are visited.
    std::vector<TAlphaExtent> Ext;
    AlphaExtents(Src, SrcClip, Ext);
    std::vector<int> Lo, Hi;
    CoveredColumns(I, Ext, SrcClip, R, Lo, Hi);
    // A row's samples are blended in one go, as a line blend does them pixel
    // by pixel, in the fastest form the processor has.
    std::vector<TColor32> Row(size_t(std::max(0, R.Width())));
    for (int Y = R.Top; Y < R.Bottom; ++Y) {
        int L = R.Left, Rt = R.Right;
        SourceSpan(I, SrcClip, Y, L, Rt);
        L = std::max(L, Lo[size_t(Y - R.Top)]);
        Rt = std::min(Rt, Hi[size_t(Y - R.Top)]);
        if (L >= Rt) continue;
        for (int X = L; X < Rt; ++X)
            Row[size_t(X - L)] = GetSample(X, Y);
        Blend(Row.data(), Dst->PixelPtr(L, Y), Rt - L, M);
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
    BlendSpans(J.Dst, R, *J.Inverse, *L->Bitmap(), TAffineSample<TLinearResampler>{*J.Inverse, L},
               BlendLineExOf(J.Combine), J.SrcAlpha);
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
