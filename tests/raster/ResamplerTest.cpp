// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <random>

#include "GR32.h"
#include "GR32_Blend.h"
#include "GR32_Resamplers.h"

namespace {

TEST(Resamplers, WeightTableValues) {
    struct Case {
        int I, G;
    } Cases[] = {{0, 0}, {64, 97}, {127, 157}, {128, 157}, {255, 255}};
    for (auto& C : Cases)
        EXPECT_EQ(BilinearWeightG[C.I], C.G) << C.I;
}

TEST(Resamplers, ClassListInRegistrationOrder) {
    std::vector<std::string> Names;
    for (auto& R : ResamplerList())
        Names.push_back(R.ClassName);
    EXPECT_EQ(Names, (std::vector<std::string>{"TNearestResampler", "TLinearResampler",
                                               "TDraftResampler", "TKernelResampler"}));
    TBitmap32 B;
    EXPECT_EQ(CreateResampler("tlinearresampler", &B), nullptr); // case-sensitive
    EXPECT_EQ(B.ResamplerClassName(), "TNearestResampler");
}

TColor32 LinearRead(TBitmap32& B, TFixed X, TFixed Y) {
    auto* R = new TLinearResampler(&B);
    R->PrepareSampling();
    return R->GetSampleFixed(X, Y);
}

TEST(Resamplers, LinearSafeReadsAtTheEdges) {
    TBitmap32 Two;
    Two.SetSize(2, 1);
    Two.SetPixel(0, 0, 0xFF000000);
    Two.SetPixel(1, 0, 0xFFFFFFFF);
    EXPECT_EQ(LinearRead(Two, 32768, 0), 0xFF000000u);

    TBitmap32 Three;
    Three.SetSize(3, 3);
    Three.Clear(0xFFFFFFFF);
    EXPECT_EQ(LinearRead(Three, 65536, 65536), 0xFFFFFFFFu);
    Three.Clear(0);
    Three.SetPixel(1, 1, 0xFFFFFFFF);
    EXPECT_EQ(LinearRead(Three, 65536, 65536), 0xFDFDFDFDu);

    Three.SetOuterColor(0x12345678);
    // X8 = (clip right - 1) * 256 + 1: a fraction beyond the last column.
    EXPECT_EQ(LinearRead(Three, (2 * 256 + 1) * 256, 65536), 0x12345678u);
    EXPECT_EQ(LinearRead(Three, -256, 0), 0x12345678u);
    // On the last column exactly: that pixel, no interpolation.
    Three.SetPixel(2, 1, 0xFF00FF00);
    EXPECT_EQ(LinearRead(Three, 2 * 65536, 65536), 0xFF00FF00u);
}

TEST(Resamplers, NearestFixedReadRoundsToThePixelCentre) {
    TBitmap32 B;
    B.SetSize(3, 1);
    B.SetPixel(0, 0, 100);
    B.SetPixel(1, 0, 101);
    B.SetPixel(2, 0, 102);
    B.Resampler()->PrepareSampling();
    struct Case {
        TFixed X;
        TColor32 Pixel;
    } Cases[] = {{0xFFFF, 101}, {0x8001, 101}, {0x8000, 100}, {0, 100}, {2 * 65536 + 0x8000, 102}};
    for (auto& C : Cases)
        EXPECT_EQ(B.Resampler()->GetSampleFixed(C.X, 0), C.Pixel) << std::hex << C.X;
}

TEST(Resamplers, NearestAccessModes) {
    TBitmap32 B;
    B.SetSize(2, 2);
    B.SetPixel(0, 0, 0xFF000001);
    B.SetPixel(1, 0, 0xFF000002);
    B.SetPixel(0, 1, 0xFF000003);
    B.SetPixel(1, 1, 0xFF000004);
    B.SetOuterColor(7);
    struct Case {
        TPixelAccessMode Mode;
        int X, Y;
        TColor32 Expected;
    } Cases[] = {{pamSafe, 2, 0, 7},
                 {pamSafe, 1, 1, 0xFF000004},
                 {pamWrap, 2, 0, 0xFF000002},
                 {pamTransparentEdge, 5, 1, 0x00000004},
                 {pamTransparentEdge, 1, 0, 0xFF000002},
                 {pamUnsafe, 1, 1, 0xFF000004},
                 {pamUnsafe, 1000, -1000, 0xFF000002}};
    for (auto& C : Cases) {
        B.Resampler()->SetPixelAccessMode(C.Mode);
        B.Resampler()->PrepareSampling();
        EXPECT_EQ(B.Resampler()->GetSampleInt(C.X, C.Y), C.Expected)
            << C.Mode << " " << C.X << "," << C.Y;
    }
}

TEST(Resamplers, LinearReadsStayInsideTheBitmapInEveryMode) {
    TBitmap32 B;
    B.SetSize(3, 2);
    B.Clear(0xFF808080);
    std::mt19937 Rng(3);
    for (TPixelAccessMode Mode : {pamUnsafe, pamSafe, pamWrap, pamTransparentEdge}) {
        auto* R = new TLinearResampler(&B);
        R->SetPixelAccessMode(Mode);
        R->PrepareSampling();
        for (int I = 0; I < 20000; ++I) {
            TFixed X = I < 10000 ? TFixed(Rng()) : TFixed(Rng() % (6 << 16)) - (1 << 16);
            TFixed Y = I < 10000 ? TFixed(Rng()) : TFixed(Rng() % (5 << 16)) - (1 << 16);
            TColor32 C = R->GetSampleFixed(X, Y);
            if (Mode == pamWrap) {
                ASSERT_EQ(C, 0xFF808080u);
            }
        }
    }
}

TEST(Resamplers, PixelAccessModeNotifiesTheBitmapOnlyOnChange) {
    TBitmap32 B;
    int Changes = 0;
    B.OnChange = [&](TNotifiablePersistent*) { ++Changes; };
    B.Resampler()->SetPixelAccessMode(pamSafe);
    EXPECT_EQ(Changes, 0);
    B.Resampler()->SetPixelAccessMode(pamUnsafe);
    EXPECT_EQ(Changes, 1);
}

TEST(Resamplers, SampleBoundsFollowTheAccessMode) {
    TBitmap32 B;
    B.SetSize(4, 3);
    B.Resampler()->SetPixelAccessMode(pamTransparentEdge);
    EXPECT_EQ(B.Resampler()->GetSampleBounds(), (TFloatRect{-1, -1, 5, 4}));
    EXPECT_TRUE(B.Resampler()->HasBounds());
    B.Resampler()->SetPixelAccessMode(pamWrap);
    EXPECT_FALSE(B.Resampler()->HasBounds());
}

TEST(Stretch, NearestDropsTheLastColumnFrom403To402) {
    TBitmap32 Src, Dst;
    Src.SetSize(403, 2);
    for (int X = 0; X < 403; ++X) {
        Src.SetPixel(X, 0, TColor32(X));
        Src.SetPixel(X, 1, TColor32(X));
    }
    Dst.SetSize(402, 2);
    StretchNearest(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &Src, Src.BoundsRect(), dmOpaque);
    for (int X = 0; X < 402; ++X)
        ASSERT_EQ(Dst.Pixel(X, 1), TColor32(X));
    // The same through a blended draw with the nearest resampler.
    Src.Clear(0xFF0000FF);
    Src.SetPixel(401, 0, 0xFFFF0000);
    Src.SetDrawMode(dmBlend);
    Dst.Clear(0);
    Src.DrawOnto(&Dst, Dst.BoundsRect());
    EXPECT_EQ(Dst.Pixel(401, 0), 0xFFFF0000u);
    // Half-transparent pixels through a clip that starts inside the row:
    // each destination pixel is its own source column blended, exactly.
    for (int X = 0; X < 403; ++X)
        Src.SetPixel(X, 0, (TColor32(X * 7 % 256) << 24) | TColor32(X * 40503u));
    Dst.Clear(0xFF204060);
    StretchNearest(&Dst, Dst.BoundsRect(), TRect{37, 0, 300, 1}, &Src, Src.BoundsRect(), dmBlend);
    for (int X = 0; X < 402; ++X) {
        TColor32 Expected = 0xFF204060;
        if (X >= 37 && X < 300) BlendMem_Pas(Src.Pixel(X, 0), Expected);
        ASSERT_EQ(Dst.Pixel(X, 0), Expected) << X;
    }
}

TEST(Stretch, NarrowDestinationTakesTheMiddleSourceColumn) {
    TBitmap32 Src, Dst;
    Src.SetSize(5, 1);
    for (int X = 0; X < 5; ++X)
        Src.SetPixel(X, 0, TColor32(X));
    Dst.SetSize(1, 1);
    StretchNearest(&Dst, TRect{0, 0, 1, 1}, Dst.BoundsRect(), &Src, TRect{1, 0, 5, 1}, dmOpaque);
    EXPECT_EQ(Dst.Pixel(0, 0), 2u); // (1 + 5 - 1) div 2
}

TEST(Stretch, SourceRectOutsideTheSourceRaises) {
    TBitmap32 Src, Dst;
    Src.SetSize(4, 4);
    Dst.SetSize(8, 8);
    try {
        StretchNearest(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &Src, TRect{0, 0, 5, 4}, dmOpaque);
        FAIL();
    } catch (const Exception& E) {
        EXPECT_STREQ(E.what(), "Invalid SrcRect");
    }
    // A clip that misses the destination returns before the check.
    EXPECT_NO_THROW(StretchNearest(&Dst, Dst.BoundsRect(), TRect{20, 20, 30, 30}, &Src,
                                   TRect{0, 0, 5, 4}, dmOpaque));
    EXPECT_NO_THROW(StretchNearest(&Dst, Dst.BoundsRect(), Dst.BoundsRect(), &Src,
                                   TRect{2, 2, 2, 2}, dmOpaque));
}

TEST(Stretch, OtherResamplersStretchWithinBounds) {
    TBitmap32 Src, Dst;
    Src.SetSize(5, 4);
    Src.Clear(0xFF336699);
    Dst.SetSize(12, 9);
    for (const char* Name : {"TLinearResampler", "TDraftResampler", "TKernelResampler"}) {
        Src.SetResamplerClassName(Name);
        Dst.Clear(0);
        Src.DrawOnto(&Dst, TRect{-3, -2, 11, 10});
        EXPECT_EQ(Dst.Pixel(5, 5), 0xFF336699u) << Name;
        Src.DrawOnto(&Dst, TRect{1, 1, 3, 3});
        EXPECT_EQ(Dst.Pixel(1, 1), 0xFF336699u) << Name;
    }
}

} // namespace
