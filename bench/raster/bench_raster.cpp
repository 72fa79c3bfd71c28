// SPDX-License-Identifier: GPL-3.0-or-later
// One needle frame of the gauge: clear the 403 x 404 gauge bitmap to opaque
// white, then draw the 25 x 147 needle turned about (12, 134) and shifted by
// (190, 66) with the linear resampler and dmBlend, over a sweep of angles.
// The peer is pixman doing the same on an a8r8g8b8 image: a fill, then a
// bilinear OVER composite with the same (inverse) affine transform.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
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

// Figures for the closing summary: nanoseconds per call, by name and length.
std::map<std::pair<std::string, int>, double> GRowFigures;

template <class Body> void RunRows(benchmark::State& State, const char* Name, Body Call) {
    const size_t N = size_t(State.range(0));
    std::vector<TColor32> Src = DialRow(N), Dst(N, clWhite32);
    const auto T0 = std::chrono::steady_clock::now();
    for (auto _ : State) {
        Call(Src.data(), Dst.data(), N);
        benchmark::DoNotOptimize(Dst.data());
        benchmark::ClobberMemory();
    }
    const double Ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - T0).count();
    if (State.iterations() > 0) GRowFigures[{Name, int(N)}] = Ns / double(State.iterations());
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(N * 4));
}

// One row of the gauge, and the whole 403 x 404 picture as one run.
void RowLengths(benchmark::internal::Benchmark* B) {
    B->Arg(GaugeW)->Arg(GaugeW * GaugeH);
}

void BM_BlendLine_Raster(benchmark::State& State) {
    RunRows(State, "BlendLine",
            [](const TColor32* S, TColor32* D, size_t N) { BlendLine(S, D, int(N)); });
}
BENCHMARK(BM_BlendLine_Raster)->Apply(RowLengths);

void BM_BlendLine_Portable(benchmark::State& State) {
    RunRows(State, "BlendLine_Pas",
            [](const TColor32* S, TColor32* D, size_t N) { BlendLine_Pas(S, D, int(N)); });
}
BENCHMARK(BM_BlendLine_Portable)->Apply(RowLengths);

void BM_BlendLine_Memcpy(benchmark::State& State) {
    RunRows(State, "memcpy",
            [](const TColor32* S, TColor32* D, size_t N) { std::memcpy(D, S, N * 4); });
}
BENCHMARK(BM_BlendLine_Memcpy)->Apply(RowLengths);

// What the row-blend figures compare: the bound blend and its portable form
// against a plain copy of the same pixels, the least a pass over them costs.
void PrintRowSummary() {
    std::printf(
        "\nRow blend (dial-like row over white), against a floor, memcpy of the same pixels:\n");
    for (int N : {GaugeW, GaugeW * GaugeH}) {
        const auto Copy = GRowFigures.find({"memcpy", N});
        if (Copy == GRowFigures.end()) continue;
        for (const char* Name : {"BlendLine", "BlendLine_Pas"}) {
            const auto It = GRowFigures.find({Name, N});
            if (It == GRowFigures.end()) continue;
            std::printf("%-13s %6d px: %10.1f ns; floor, memcpy: %9.1f ns; ratio %.2f\n", Name, N,
                        It->second, Copy->second, Copy->second > 0 ? It->second / Copy->second : 0);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintRowSummary();
    return 0;
}
