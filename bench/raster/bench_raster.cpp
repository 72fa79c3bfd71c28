// One needle frame of the gauge: clear the 403 x 404 gauge bitmap to opaque
// white, then draw the 25 x 147 needle turned about (12, 134) and shifted by
// (190, 66) with the linear resampler and dmBlend, over a sweep of angles.
// The peer is pixman doing the same on an a8r8g8b8 image: a fill, then a
// bilinear OVER composite with the same (inverse) affine transform.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "DesignNeedle.h"
#include "GR32.h"
#include "GR32_Blend.h"
#include "GR32_LowLevel.h"
#include "GR32_Resamplers.h"
#include "GR32_Transforms.h"
#include "PixmanNeedle.h"

namespace {

using namespace bench_needle;

void BM_Frame_Raster(benchmark::State& State) {
    TBitmap32 Needle, Gauge;
    MakeNeedle(Needle);
    Gauge.SetSize(GaugeW, GaugeH);
    int64_t Step = 0;
    for (auto _ : State) {
        TAffineTransformation T;
        SetNeedleTransform(T, Needle, SweepAngle(Step++));
        Gauge.Clear(clWhite32);
        TransformBitmap(&Gauge, &Needle, &T);
        benchmark::DoNotOptimize(Gauge.Bits());
    }
}
BENCHMARK(BM_Frame_Raster);

void BM_Transform_Raster(benchmark::State& State) {
    TBitmap32 Needle, Gauge;
    MakeNeedle(Needle);
    Gauge.SetSize(GaugeW, GaugeH);
    Gauge.Clear(clWhite32);
    int64_t Step = 0;
    for (auto _ : State) {
        TAffineTransformation T;
        SetNeedleTransform(T, Needle, SweepAngle(Step++));
        TransformBitmap(&Gauge, &Needle, &T);
        benchmark::DoNotOptimize(Gauge.Bits());
    }
}
BENCHMARK(BM_Transform_Raster);

void BM_Fill_Raster(benchmark::State& State) {
    TBitmap32 Gauge;
    Gauge.SetSize(GaugeW, GaugeH);
    for (auto _ : State) {
        Gauge.Clear(clWhite32);
        benchmark::DoNotOptimize(Gauge.Bits());
    }
}
BENCHMARK(BM_Fill_Raster);

// A colour whose bytes differ, so the fill cannot become a byte fill.
void BM_FillColour_Raster(benchmark::State& State) {
    TBitmap32 Gauge;
    Gauge.SetSize(GaugeW, GaugeH);
    for (auto _ : State) {
        Gauge.Clear(0xFF404850);
        benchmark::DoNotOptimize(Gauge.Bits());
    }
}
BENCHMARK(BM_FillColour_Raster);

void BM_Fill_Memset(benchmark::State& State) {
    std::vector<TColor32> Bits(size_t(GaugeW) * GaugeH);
    for (auto _ : State) {
        std::memset(Bits.data(), 0xFF, Bits.size() * sizeof(TColor32));
        benchmark::DoNotOptimize(Bits.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Fill_Memset);

void BM_Frame_Pixman(benchmark::State& State) {
    RunPixmanFrames(State, false);
}
BENCHMARK(BM_Frame_Pixman);

void BM_FrameBounds_Pixman(benchmark::State& State) {
    RunPixmanFrames(State, true);
}
BENCHMARK(BM_FrameBounds_Pixman);

void BM_Transform_Pixman(benchmark::State& State) {
    PixmanNeedle P;
    P.Fill();
    int64_t Step = 0;
    for (auto _ : State) {
        P.SetAngle(SweepAngle(Step++));
        P.Composite();
        benchmark::DoNotOptimize(P.GaugeBits.data());
    }
}
BENCHMARK(BM_Transform_Pixman);

void BM_Fill_Pixman(benchmark::State& State) {
    PixmanNeedle P;
    for (auto _ : State) {
        P.Fill();
        benchmark::DoNotOptimize(P.GaugeBits.data());
    }
}
BENCHMARK(BM_Fill_Pixman);

// --- row blend ------------------------------------------------------------

// A dial-like picture: mostly transparent, opaque marks, soft edges.
std::vector<TColor32> DialRow(size_t N) {
    std::vector<TColor32> Row(N);
    uint32_t Seed = 1;
    for (auto& P : Row) {
        Seed = Seed * 1664525u + 1013904223u;
        uint32_t K = Seed >> 24;
        uint32_t A = K < 160 ? 0 : K < 230 ? 255 : K;
        P = (A << 24) | (Seed & 0x00FFFFFF);
    }
    return Row;
}

void BM_BlendLine_Raster(benchmark::State& State) {
    size_t N = size_t(GaugeW) * GaugeH;
    std::vector<TColor32> Src = DialRow(N), Dst(N, clWhite32);
    for (auto _ : State) {
        BlendLine(Src.data(), Dst.data(), int(N));
        benchmark::DoNotOptimize(Dst.data());
    }
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(N * 4));
}
BENCHMARK(BM_BlendLine_Raster);

void BM_BlendLine_Portable(benchmark::State& State) {
    size_t N = size_t(GaugeW) * GaugeH;
    std::vector<TColor32> Src = DialRow(N), Dst(N, clWhite32);
    for (auto _ : State) {
        BlendLine_Pas(Src.data(), Dst.data(), int(N));
        benchmark::DoNotOptimize(Dst.data());
    }
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(N * 4));
}
BENCHMARK(BM_BlendLine_Portable);

void BM_BlendLine_Memcpy(benchmark::State& State) {
    size_t N = size_t(GaugeW) * GaugeH;
    std::vector<TColor32> Src = DialRow(N), Dst(N, clWhite32);
    for (auto _ : State) {
        std::memcpy(Dst.data(), Src.data(), N * 4);
        benchmark::DoNotOptimize(Dst.data());
        benchmark::ClobberMemory();
    }
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(N * 4));
}
BENCHMARK(BM_BlendLine_Memcpy);

} // namespace

BENCHMARK_MAIN();
