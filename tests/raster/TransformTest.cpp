// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "DesignNeedle.h"
#include "GR32.h"
#include "GR32_Rasterizers.h"
#include "GR32_Resamplers.h"
#include "GR32_Transforms.h"

namespace {

TFloatPoint Map(TAffineTransformation& T, float X, float Y) {
    return T.MapToDestination(TFloatPoint{X, Y});
}

TEST(Transform, RotationsOfTheUnitVectors) {
    TAffineTransformation T;
    T.Clear();
    T.Rotate(0, 0, 90);
    TFloatPoint A = Map(T, 1, 0), B = Map(T, 0, 1);
    EXPECT_NEAR(A.X, 0, 1e-6);
    EXPECT_NEAR(A.Y, -1, 1e-6);
    EXPECT_NEAR(B.X, 1, 1e-6);
    EXPECT_NEAR(B.Y, 0, 1e-6);
}

TEST(Transform, RotationByZeroAboutThePivotIsExactlyTheIdentity) {
    TAffineTransformation T;
    T.Clear();
    T.Rotate(12, 134, 0);
    EXPECT_EQ(T.Matrix, IdentityMatrix);
}

TEST(Transform, PivotLandsOnTheDialCentreForEveryAngle) {
    for (float A : {-180.f, -90.f, -30.f, 0.f, 17.5f, 45.f, 90.f, 135.f, 359.f}) {
        TAffineTransformation T;
        T.Clear();
        T.Rotate(12, 134, A);
        T.Translate(190, 66);
        TFloatPoint P = Map(T, 12, 134);
        EXPECT_NEAR(P.X, 202, 1e-4) << A;
        EXPECT_NEAR(P.Y, 200, 1e-4) << A;
    }
    TAffineTransformation T;
    T.Rotate(12, 134, 90);
    T.Translate(190, 66);
    TFloatPoint Tip = Map(T, 12, 0);
    EXPECT_NEAR(Tip.X, 68, 1e-3);
    EXPECT_NEAR(Tip.Y, 200, 1e-3);
}

TEST(Transform, FixedMatrixRoundsTiesToEven) {
    TFloatMatrix M{};
    M[0][0] = 0.5f;
    M[0][1] = -1.5f;
    M[0][2] = 1.0f / 131072; // half of 1/65536
    M[1][0] = 3.0f / 131072; // one and a half
    M[1][1] = -1.0f / 131072;
    TFixedMatrix F = ToFixedMatrix(M);
    EXPECT_EQ(F[0][0], 32768);
    EXPECT_EQ(F[0][1], -98304);
    EXPECT_EQ(F[0][2], 0);
    EXPECT_EQ(F[1][0], 2);
    EXPECT_EQ(F[1][1], 0);
}

TEST(Transform, SingularMatricesInvertToTheIdentity) {
    TFloatMatrix Zero{};
    MatrixInverse(Zero);
    EXPECT_EQ(Zero, IdentityMatrix);
    TAffineTransformation T;
    T.Matrix = TFloatMatrix{};
    TFloatPoint P = T.MapToSource(TFloatPoint{3, 4});
    EXPECT_EQ(P.X, 3);
    EXPECT_EQ(P.Y, 4);

    TFloatMatrix M = {{{2, 0, 0}, {0, 4, 0}, {10, 20, 1}}};
    TFloatMatrix I = M;
    MatrixInverse(I);
    TFloatMatrix P2 = MatrixProduct(M, I);
    for (int A = 0; A < 3; ++A)
        for (int B = 0; B < 3; ++B)
            EXPECT_NEAR(P2[A][B], IdentityMatrix[A][B], 1e-6);
}

TEST(Transform, TransformedBoundsHoldTheMappedCorners) {
    TAffineTransformation T;
    T.Rotate(0, 0, 90);
    T.Translate(10, 10);
    TFloatRect R = T.GetTransformedBounds(TFloatRect{0, 0, 4, 2});
    EXPECT_NEAR(R.Left, 10, 1e-5);
    EXPECT_NEAR(R.Top, 6, 1e-5);
    EXPECT_NEAR(R.Right, 12, 1e-5);
    EXPECT_NEAR(R.Bottom, 10, 1e-5);
}

TEST(Transform, BaseClassMapsAreNotImplemented) {
    TTransformation T;
    try {
        T.MapToSource(TFloatPoint{});
        FAIL();
    } catch (const ETransformNotImplemented& E) {
        EXPECT_STREQ(E.what(), "Reverse transformation is not implemented in TTransformation.");
    }
    try {
        T.MapToDestination(TPoint{});
        FAIL();
    } catch (const ETransformNotImplemented& E) {
        EXPECT_STREQ(E.what(), "Forward transformation is not implemented in TTransformation.");
    }
    TNestedSampler N;
    try {
        N.PrepareSampling();
        FAIL();
    } catch (const ENestedException& E) {
        EXPECT_STREQ(E.what(), "Nested sampler is nil");
    }
}

TEST(TransformBitmap, IdentityVisitsExactlyTheSourcePixels) {
    TBitmap32 Src, Dst;
    Src.SetSize(25, 147);
    Src.Clear(0xFF00FF00);
    Src.SetDrawMode(dmCustom);
    int Calls = 0;
    Src.OnPixelCombine = [&](TColor32, TColor32& B, TColor32) {
        ++Calls;
        B = 1;
    };
    Dst.SetSize(403, 404);
    Dst.Clear(0);
    TRect Notice;
    Dst.OnAreaChanged = [&](TCustomBitmap32*, const TRect& R, uint32_t) { Notice = R; };
    TAffineTransformation T;
    T.SetSrcRect(TFloatRect{0, 0, 25, 147});
    TransformBitmap(&Dst, &Src, &T);
    EXPECT_EQ(Calls, 25 * 147);
    for (int Y = 0; Y < 404; ++Y)
        for (int X = 0; X < 403; ++X)
            ASSERT_EQ(Dst.Pixel(X, Y), (X < 25 && Y < 147) ? 1u : 0u) << X << "," << Y;
    EXPECT_EQ(Notice, Dst.BoundsRect());
}

TEST(TransformBitmap, ClipMissingTheBoundsWritesNothingAndReportsTheZeroRectangle) {
    TBitmap32 Src, Dst;
    Src.SetSize(4, 4);
    Src.Clear(clWhite32);
    Dst.SetSize(10, 10);
    Dst.Clear(0);
    Dst.SetClipRect(TRect{20, 20, 30, 30});
    std::vector<TRect> Notices;
    Dst.OnAreaChanged = [&](TCustomBitmap32*, const TRect& R, uint32_t) { Notices.push_back(R); };
    TAffineTransformation T;
    T.SetSrcRect(FloatRect(Src.BoundsRect()));
    TransformBitmap(&Dst, &Src, &T);
    ASSERT_EQ(Notices.size(), 1u);
    EXPECT_EQ(Notices[0], TRect{});
    for (int I = 0; I < 100; ++I)
        ASSERT_EQ(Dst.Bits()[I], 0u);
}

// The needle drawing of the gauge.
void DrawNeedle(TBitmap32& Gauge, TBitmap32& Needle, float Angle) {
    TAffineTransformation T;
    T.SetSrcRect(FloatRect(Needle.BoundsRect()));
    T.Clear();
    T.Rotate(12, 134, Angle);
    T.Translate(190, 66);
    Gauge.Clear(clWhite32);
    TransformBitmap(&Gauge, &Needle, &T);
}

void MakeNeedle(TBitmap32& Needle) {
    LoadDesignNeedle(&Needle);
    Needle.SetDrawMode(dmBlend);
    Needle.SetResamplerClassName("TLinearResampler");
    ClearBorderAlpha(&Needle, Needle.BoundsRect());
}

TEST(TransformBitmap, NeedleTurnsCounterClockwiseAboutTheDialCentre) {
    TBitmap32 Needle, Gauge;
    MakeNeedle(Needle);
    Gauge.SetSize(403, 404);
    auto Orange = [&](int X, int Y) {
        return Gauge.Pixel(X, Y) != clWhite32 && BlueComponent(Gauge.Pixel(X, Y)) < 150;
    };
    DrawNeedle(Gauge, Needle, 0);
    EXPECT_TRUE(Orange(202, 200));
    EXPECT_TRUE(Orange(202, 70));
    EXPECT_FALSE(Orange(202, 60));
    EXPECT_FALSE(Orange(150, 200));
    EXPECT_EQ(Gauge.Pixel(0, 0), clWhite32);
    DrawNeedle(Gauge, Needle, 90);
    EXPECT_TRUE(Orange(75, 200));
    EXPECT_FALSE(Orange(202, 100));
    EXPECT_FALSE(Orange(330, 200));
    DrawNeedle(Gauge, Needle, -90);
    EXPECT_TRUE(Orange(330, 200));
    EXPECT_FALSE(Orange(75, 200));
}

// Each fast path of the rasterizer against the general sampler path, over
// every resampler, draw mode, combine mode, access mode and kind of outer
// colour; each table entry must be taken somewhere in the grid.
struct TGeneralTransformer : TTransformer {
    using TTransformer::TTransformer;
};

TEST(TransformBitmap, FastAffinePathMatchesTheGeneralSampler) {
    std::mt19937 Rng(5);
    TBitmap32 Src;
    Src.SetSize(25, 147);
    // Mostly transparent with colour left in, as a needle picture is: a thin
    // uneven needle, stray pixels, rows with nothing.
    for (int Y = 0; Y < 147; ++Y)
        for (int X = 0; X < 25; ++X) {
            const bool Kept =
                Y % 23 != 0 && (std::abs(X - 12) <= 1 + Y % 37 / 9 || Rng() % 40 == 0);
            Src.SetPixel(X, Y, Kept ? TColor32(Rng()) : TColor32(Rng()) & 0x00FFFFFF);
        }
    std::set<const TRasterFastPath*> Taken;
    for (const char* Resampler : {"TLinearResampler", "TNearestResampler", "TDraftResampler"})
        for (TDrawMode Mode : {dmBlend, dmOpaque, dmCustom, dmTransparent})
            for (TCombineMode Combine : {cmBlend, cmMerge})
                for (TPixelAccessMode Access : {pamSafe, pamUnsafe, pamWrap, pamTransparentEdge})
                    for (TColor32 Outer : {0x00FFFFFFu, 0x80204060u})
                        for (int Round = 0; Round < 2; ++Round) {
                            Src.SetResamplerClassName(Resampler);
                            Src.Resampler()->SetPixelAccessMode(Access);
                            Src.SetDrawMode(Mode);
                            Src.SetCombineMode(Combine);
                            Src.SetOuterColor(Outer);
                            Src.SetMasterAlpha(Round == 0 ? 255 : 170);
                            Src.SetClipRect(Round == 0 ? Src.BoundsRect() : TRect{3, 5, 22, 140});
                            Src.OnPixelCombine = [](TColor32 F, TColor32& B, TColor32 M) {
                                B = (B ^ F) + M;
                            };
                            TAffineTransformation T;
                            T.SetSrcRect(FloatRect(Src.BoundsRect()));
                            T.Rotate(12, 134, float(Rng() % 3600) / 10.0f - 180.0f);
                            T.Translate(float(Rng() % 400) / 3.0f, float(Rng() % 400) / 3.0f);
                            TBitmap32 Fast, Slow;
                            Fast.SetSize(180, 200);
                            Fast.Clear(0xFFFFFFFF);
                            Slow.Assign(Fast);
                            TransformBitmap(&Fast, &Src, &T);
                            TTransformer Transformer(Src.Resampler(), &T);
                            Taken.insert(SelectRasterFastPath(&Transformer, &Src));

                            // A subclass is not recognised by the rasterizer: sampled through
                            // virtual calls.
                            TGeneralTransformer General(Src.Resampler(), &T);
                            ASSERT_EQ(SelectRasterFastPath(&General, &Src), nullptr);
                            TRegularRasterizer Rasterizer;
                            Rasterizer.SetSampler(&General);
                            Rasterizer.Rasterize(&Slow, Slow.BoundsRect(), &Src);
                            for (int I = 0; I < 180 * 200; ++I)
                                ASSERT_EQ(Fast.Bits()[I], Slow.Bits()[I])
                                    << Resampler << " mode " << Mode << " combine " << Combine
                                    << " access " << Access << " outer " << std::hex << Outer
                                    << " pixel " << std::dec << I;
                        }
    for (const TRasterFastPath& Path : RasterFastPaths())
        EXPECT_TRUE(Taken.count(&Path)) << Path.Name;
    EXPECT_TRUE(Taken.count(nullptr));
}

TEST(TransformBitmap, EveryAccessModeStaysInsideTheSource) {
    TBitmap32 Src, Dst;
    Src.SetSize(5, 7);
    Src.Clear(0xFF112233);
    Dst.SetSize(40, 40);
    for (const char* Resampler : {"TLinearResampler", "TNearestResampler", "TKernelResampler"})
        for (TPixelAccessMode Mode : {pamUnsafe, pamSafe, pamWrap, pamTransparentEdge})
            for (float Angle : {0.f, 33.f, 45.f, 90.f, 200.f}) {
                Src.SetResamplerClassName(Resampler);
                Src.Resampler()->SetPixelAccessMode(Mode);
                TAffineTransformation T;
                T.SetSrcRect(FloatRect(Src.BoundsRect()));
                T.Rotate(2, 3, Angle);
                T.Translate(15.3f, 14.7f);
                Dst.Clear(0);
                TransformBitmap(&Dst, &Src, &T);
            }
    SUCCEED();
}

TEST(TransformBitmap, EmptySourceTouchesNoPixel) {
    TBitmap32 Src, Dst;
    Dst.SetSize(10, 10);
    Dst.Clear(0);
    Src.SetDrawMode(dmOpaque);
    Src.SetOuterColor(0xFFFFFFFF);
    TAffineTransformation T;
    T.Translate(3.5f, 3.5f);
    TransformBitmap(&Dst, &Src, &T);
    for (int I = 0; I < 100; ++I)
        ASSERT_EQ(Dst.Bits()[I], 0u);
    EXPECT_THROW(TransformBitmap(nullptr, &Src, &T), EBitmapException);
}

} // namespace
