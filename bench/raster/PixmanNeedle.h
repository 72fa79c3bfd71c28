// SPDX-License-Identifier: GPL-3.0-or-later
// The gauge's needle frame set up for both the raster core and pixman, shared
// by the raster and the gauge benchmarks.
#pragma once

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "DesignNeedle.h"
#include "GR32.h"
#include "GR32_Resamplers.h"
#include "GR32_Transforms.h"
#include "GaugeGeometry.h"

namespace bench_needle {

constexpr int GaugeW = Gauge::DialWidth, GaugeH = Gauge::DialHeight;

inline float SweepAngle(int64_t Step) {
    return float(Step % 72) * 5.0f - 180.0f;
}

inline void MakeNeedle(TBitmap32& Needle) {
    LoadDesignNeedle(&Needle);
    Needle.SetDrawMode(dmBlend);
    Needle.SetResamplerClassName("TLinearResampler");
    ClearBorderAlpha(&Needle, Needle.BoundsRect());
}

inline void SetNeedleTransform(TAffineTransformation& T, const TBitmap32& Needle, float Angle) {
    T.SetSrcRect(FloatRect(Needle.BoundsRect()));
    T.Clear();
    T.Rotate(Gauge::PivotX, Gauge::PivotY, Angle);
    T.Translate(Gauge::NeedleShiftX, Gauge::NeedleShiftY);
}

// --- pixman ---------------------------------------------------------------

struct PixmanNeedle {
    std::vector<uint32_t> NeedleBits, GaugeBits;
    pixman_image_t *Src = nullptr, *Dst = nullptr;
    PixmanNeedle() {
        TBitmap32 Needle;
        MakeNeedle(Needle);
        NeedleBits.resize(size_t(Needle.Width()) * Needle.Height());
        // pixman wants premultiplied colour.
        for (size_t I = 0; I < NeedleBits.size(); ++I) {
            TColor32 C = Needle.Bits()[I];
            uint32_t A = C >> 24;
            auto Pm = [&](int S) { return ((((C >> S) & 0xFF) * A + 127) / 255) << S; };
            NeedleBits[I] = (A << 24) | Pm(16) | Pm(8) | Pm(0);
        }
        GaugeBits.resize(size_t(GaugeW) * GaugeH);
        Src = pixman_image_create_bits(PIXMAN_a8r8g8b8, Needle.Width(), Needle.Height(),
                                       NeedleBits.data(), Needle.Width() * 4);
        Dst =
            pixman_image_create_bits(PIXMAN_a8r8g8b8, GaugeW, GaugeH, GaugeBits.data(), GaugeW * 4);
        pixman_image_set_filter(Src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    }
    ~PixmanNeedle() {
        pixman_image_unref(Src);
        pixman_image_unref(Dst);
    }
    void SetAngle(float Angle) {
        TBitmap32 Needle;
        Needle.SetSize(25, 147);
        TAffineTransformation T;
        SetNeedleTransform(T, Needle, Angle);
        T.PrepareTransform();
        // Destination to source, the same 16.16 inverse the raster core uses.
        const TFixedMatrix& I = T.InverseFixedMatrix();
        pixman_transform_t M = {
            {{I[0][0], I[1][0], I[2][0]}, {I[0][1], I[1][1], I[2][1]}, {0, 0, pixman_fixed_1}}};
        pixman_image_set_transform(Src, &M);
    }
    void Fill() { pixman_fill(GaugeBits.data(), GaugeW, 32, 0, 0, GaugeW, GaugeH, 0xFFFFFFFF); }
    void Composite() {
        pixman_image_composite32(PIXMAN_OP_OVER, Src, nullptr, Dst, 0, 0, 0, 0, 0, 0, GaugeW,
                                 GaugeH);
    }
    // Only the needle's transformed bounds, as the raster core cuts its area.
    void CompositeBounds(float Angle) {
        TBitmap32 Needle;
        Needle.SetSize(25, 147);
        TAffineTransformation T;
        SetNeedleTransform(T, Needle, Angle);
        TFloatRect B = T.GetTransformedBounds();
        int L = std::max(0, int(std::floor(B.Left))), Tp = std::max(0, int(std::floor(B.Top)));
        int R = std::min(GaugeW, int(std::ceil(B.Right))),
            Bt = std::min(GaugeH, int(std::ceil(B.Bottom)));
        pixman_image_composite32(PIXMAN_OP_OVER, Src, nullptr, Dst, L, Tp, 0, 0, L, Tp, R - L,
                                 Bt - Tp);
    }
};

// Whole frames over the angle sweep: fill, then the composite over the whole
// image or only over the needle's transformed bounds.
inline void RunPixmanFrames(benchmark::State& State, bool Bounds) {
    PixmanNeedle P;
    int64_t Step = 0;
    for (auto _ : State) {
        const float Angle = SweepAngle(Step++);
        P.SetAngle(Angle);
        P.Fill();
        if (Bounds)
            P.CompositeBounds(Angle);
        else
            P.Composite();
        benchmark::DoNotOptimize(P.GaugeBits.data());
    }
}

} // namespace bench_needle
