// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <climits>
#include <sstream>

#include "DesignNeedle.h"
#include "GR32.h"
#include "GR32_Resamplers.h"
#include "NeedleArtwork.h"

namespace {

struct Counters {
    int Change = 0, Resize = 0, Area = 0;
    TRect LastArea;
    void Attach(TCustomBitmap32& B) {
        B.OnChange = [this](TNotifiablePersistent*) { ++Change; };
        B.OnResize = [this](TNotifiablePersistent*) { ++Resize; };
        B.OnAreaChanged = [this](TCustomBitmap32*, const TRect& R, uint32_t) {
            ++Area;
            LastArea = R;
        };
    }
};

TEST(Bitmap, NegativeSideGivesAnEmptyBitmapWithoutStorage) {
    TBitmap32 B;
    EXPECT_TRUE(B.SetSize(-5, 10));
    EXPECT_EQ(B.Width(), 0);
    EXPECT_EQ(B.Height(), 10);
    EXPECT_TRUE(B.Empty());
    EXPECT_EQ(B.Bits(), nullptr);
    Counters C;
    C.Attach(B);
    B.Clear(clWhite32);
    EXPECT_EQ(C.Change, 0);
}

TEST(Bitmap, SameSizeReturnsFalseAndFiresNothing) {
    TBitmap32 B;
    Counters C;
    C.Attach(B);
    EXPECT_TRUE(B.SetSize(3, 2));
    EXPECT_EQ(C.Change, 1);
    EXPECT_EQ(C.Resize, 1);
    EXPECT_FALSE(B.SetSize(3, 2));
    EXPECT_EQ(C.Change, 1);
    EXPECT_EQ(C.Resize, 1);
    for (int I = 0; I < 6; ++I)
        EXPECT_EQ(B.Bits()[I], 0xFF000000u);
}

TEST(Bitmap, SizeWhosePixelCountOverflowsIsRefusedAndLeavesAnEmptyBitmap) {
    TBitmap32 B;
    B.SetSize(4, 4);
    EXPECT_THROW(B.SetSize(INT_MAX, INT_MAX), EOutOfMemory);
    EXPECT_TRUE(B.Empty());
    EXPECT_EQ(B.Width(), 0);
    B.SetSize(2, 2);
    B.Clear(clWhite32);
    EXPECT_EQ(B.Pixel(1, 1), clWhite32);
}

TEST(Bitmap, SettersNotifyOnlyOnChange) {
    TBitmap32 B;
    Counters C;
    C.Attach(B);
    B.SetDrawMode(dmOpaque);
    B.SetCombineMode(cmBlend);
    B.SetWrapMode(wmClamp);
    B.SetMasterAlpha(255);
    B.SetResamplerClassName("TNearestResampler");
    B.SetResamplerClassName("TCubicResampler"); // unknown: ignored
    B.Resampler()->SetPixelAccessMode(pamSafe);
    EXPECT_EQ(C.Change, 0);
    EXPECT_EQ(B.ResamplerClassName(), "TNearestResampler");
    B.SetDrawMode(dmBlend);
    EXPECT_EQ(C.Change, 1);
    B.SetResamplerClassName("TLinearResampler");
    EXPECT_EQ(B.ResamplerClassName(), "TLinearResampler");
    EXPECT_EQ(B.Resampler()->Bitmap(), &B);
    B.Resampler()->SetPixelAccessMode(pamWrap);
    EXPECT_EQ(C.Change, 3);
}

TEST(Bitmap, ClippedClearFillsOnlyTheClipRectangleAndReportsIt) {
    TBitmap32 B;
    B.SetSize(4, 3);
    B.Clear(0);
    B.SetClipRect(TRect{1, 1, 10, 2});
    EXPECT_EQ(B.ClipRect(), (TRect{1, 1, 4, 2}));
    Counters C;
    C.Attach(B);
    B.Clear(clWhite32);
    EXPECT_EQ(C.LastArea, B.BoundsRect()); // the closing whole-bitmap notice
    EXPECT_EQ(C.Area, 2);
    for (int Y = 0; Y < 3; ++Y)
        for (int X = 0; X < 4; ++X)
            EXPECT_EQ(B.Pixel(X, Y), (Y == 1 && X >= 1) ? clWhite32 : 0u) << X << "," << Y;
}

TEST(Bitmap, SafeAndWrappedReads) {
    TBitmap32 B;
    B.SetSize(3, 1);
    B.SetPixel(0, 0, 10);
    B.SetPixel(1, 0, 11);
    B.SetPixel(2, 0, 12);
    B.SetOuterColor(99);
    struct Case {
        TWrapMode Mode;
        int X;
        TColor32 Expected;
    } Cases[] = {{wmClamp, -4, 10}, {wmClamp, 7, 12},   {wmRepeat, 3, 10}, {wmRepeat, -1, 12},
                 {wmMirror, 3, 12}, {wmMirror, -1, 10}, {wmMirror, 5, 10}, {wmMirror, 6, 10}};
    for (auto& C : Cases) {
        B.SetWrapMode(C.Mode);
        EXPECT_EQ(B.PixelW(C.X, 0), C.Expected) << C.Mode << " " << C.X;
    }
    EXPECT_EQ(B.PixelS(3, 0), 99u);
    EXPECT_EQ(B.PixelS(-1, 0), 99u);
    EXPECT_EQ(B.PixelS(2, 0), 12u);
}

TEST(Bitmap, ClearBorderAlphaClearsTheOuterRingOnly) {
    TBitmap32 One;
    One.SetSize(1, 1);
    One.Clear(0xFF123456);
    ClearBorderAlpha(&One, One.BoundsRect());
    EXPECT_EQ(One.Pixel(0, 0), 0x00123456u);

    TBitmap32 B;
    B.SetSize(4, 3);
    B.Clear(0xFFABCDEF);
    Counters C;
    C.Attach(B);
    ClearBorderAlpha(&B, TRect{10, 10, 20, 20});
    EXPECT_EQ(C.Change, 0);
    ClearBorderAlpha(&B, TRect{-5, -5, 50, 50});
    EXPECT_EQ(C.Change, 1);
    for (int Y = 0; Y < 3; ++Y)
        for (int X = 0; X < 4; ++X)
            EXPECT_EQ(B.Pixel(X, Y), (Y == 1 && (X == 1 || X == 2)) ? 0xFFABCDEFu : 0x00ABCDEFu)
                << X << "," << Y;
}

TEST(Bitmap, AssignCopiesPixelsPropertiesAndResamplerClass) {
    TBitmap32 A, B;
    A.SetSize(2, 2);
    A.Clear(0x80112233);
    A.SetDrawMode(dmBlend);
    A.SetMasterAlpha(100);
    A.SetOuterColor(5);
    A.SetResamplerClassName("TLinearResampler");
    A.Resampler()->SetPixelAccessMode(pamTransparentEdge);
    Counters C;
    C.Attach(B);
    B.Assign(A);
    EXPECT_EQ(C.Change, 1);
    EXPECT_EQ(B.Width(), 2);
    EXPECT_EQ(B.Pixel(1, 1), 0x80112233u);
    EXPECT_EQ(B.DrawMode(), dmBlend);
    EXPECT_EQ(B.MasterAlpha(), 100u);
    EXPECT_EQ(B.OuterColor(), 5u);
    EXPECT_EQ(B.ResamplerClassName(), "TLinearResampler");
    EXPECT_EQ(B.Resampler()->PixelAccessMode(), pamTransparentEdge);
    B.Assign(nullptr);
    EXPECT_EQ(B.Width(), 0);
    EXPECT_EQ(B.Height(), 0);
}

TEST(Bitmap, TakePixelsMovesTheBlockKeepsOwnPropertiesAndNotifiesAsSetSize) {
    TBitmap32 From, To;
    From.SetSize(3, 2);
    From.Clear(0x80112233);
    From.SetPixel(2, 1, 7);
    From.SetClipRect(TRect{0, 0, 1, 1});
    const TColor32* Block = From.Bits();
    To.SetDrawMode(dmBlend);
    Counters C;
    C.Attach(To);
    To.TakePixels(From);
    EXPECT_EQ(To.Bits(), Block);
    EXPECT_EQ(To.Pixel(2, 1), 7u);
    EXPECT_EQ(To.ClipRect(), To.BoundsRect());
    EXPECT_EQ(To.DrawMode(), dmBlend);
    EXPECT_TRUE(From.Empty());
    EXPECT_EQ(C.Change, 1);
    EXPECT_EQ(C.Resize, 1);
    From.SetSize(3, 2); // the same size again: no resize notice
    To.TakePixels(From);
    EXPECT_EQ(C.Change, 2);
    EXPECT_EQ(C.Resize, 1);
    EXPECT_EQ(To.Pixel(2, 1), 0xFF000000u);
}

TEST(Bitmap, StoredFormRoundTripsAndShortFormsAreRefusedBeforeAllocating) {
    TBitmap32 A;
    A.SetSize(3, 2);
    for (int I = 0; I < 6; ++I)
        A.Bits()[I] = 0x01020304u * TColor32(I + 1);
    std::vector<uint8_t> Data = A.WriteData();
    ASSERT_EQ(Data.size(), 8u + 24u);
    EXPECT_EQ(Data[0], 3);
    EXPECT_EQ(Data[4], 2);
    EXPECT_EQ(Data[8], 0x04); // blue first
    EXPECT_EQ(Data[11], 0x01);

    TBitmap32 B;
    EXPECT_EQ(B.ReadData(Data.data(), Data.size()), Data.size());
    EXPECT_EQ(B.Width(), 3);
    EXPECT_EQ(B.Pixel(2, 1), A.Pixel(2, 1));

    TBitmap32 C;
    C.SetSize(1, 1);
    EXPECT_THROW(C.ReadData(Data.data(), Data.size() - 1), EReadError);
    EXPECT_THROW(C.ReadData(Data.data(), 7), EReadError);
    EXPECT_EQ(C.Width(), 1);
    // A damaged header claiming 2^31 x 2^31 pixels.
    uint8_t Huge[12] = {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3, 4};
    EXPECT_THROW(C.ReadData(Huge, sizeof Huge), EReadError);
    std::istringstream S(std::string(reinterpret_cast<char*>(Huge), sizeof Huge));
    EXPECT_THROW(C.ReadData(S), EReadError);
    EXPECT_EQ(C.Width(), 1);

    std::stringstream Stream;
    A.WriteData(Stream);
    TBitmap32 D;
    D.ReadData(Stream);
    EXPECT_EQ(D.WriteData(), Data);
}

TEST(Bitmap, DesignNeedleIsTheOpaqueOrangeArrowOnWhite) {
    TBitmap32 N;
    LoadDesignNeedle(&N);
    ASSERT_EQ(N.Width(), 25);
    ASSERT_EQ(N.Height(), 147);
    EXPECT_EQ(N.WriteData().size(), 14708u);
    std::vector<uint32_t> Art = GenerateNeedleArtwork();
    for (int I = 0; I < 25 * 147; ++I) {
        ASSERT_EQ(N.Bits()[I], Art[size_t(I)]) << I;
        ASSERT_EQ(N.Bits()[I] >> 24, 0xFFu);
    }
    auto IsOrange = [](TColor32 C) {
        return RedComponent(C) > 200 && GreenComponent(C) < 200 && BlueComponent(C) < 100;
    };
    auto Span = [&](int Y) {
        int Count = 0;
        for (int X = 0; X < 25; ++X)
            Count += IsOrange(N.Pixel(X, Y));
        return Count;
    };
    EXPECT_EQ(Span(0), 1);
    EXPECT_TRUE(IsOrange(N.Pixel(12, 0)));
    EXPECT_EQ(N.Pixel(0, 0), clWhite32);
    for (int Y = 40; Y <= 47; ++Y)
        EXPECT_EQ(Span(Y), 25) << Y;
    EXPECT_LT(Span(100), Span(140));
    EXPECT_TRUE(IsOrange(N.Pixel(12, 134))); // the pivot lies on the needle
}

// --- drawing one bitmap onto another -----------------------------------------

void FillIndexed(TCustomBitmap32& B) {
    for (int Y = 0; Y < B.Height(); ++Y)
        for (int X = 0; X < B.Width(); ++X)
            B.SetPixel(X, Y, 0xFF000000u | TColor32(Y << 8 | X));
}

TEST(Drawing, NilBitmapsRaise) {
    TBitmap32 B;
    B.SetSize(2, 2);
    try {
        B.DrawOnto(nullptr, TRect{0, 0, 2, 2});
        FAIL();
    } catch (const EBitmapException& E) {
        EXPECT_STREQ(E.what(), "Destination bitmap is nil");
    }
    try {
        B.DrawFrom(TRect{0, 0, 2, 2}, TRect{0, 0, 2, 2}, nullptr);
        FAIL();
    } catch (const EBitmapException& E) {
        EXPECT_STREQ(E.what(), "Source bitmap is nil");
    }
}

TEST(Drawing, SourceReachingOutsideIsCutWithTheDestinationInProportion) {
    TBitmap32 Src, Dst;
    Src.SetSize(10, 10);
    FillIndexed(Src);
    Dst.SetSize(40, 40);
    Dst.Clear(0);
    Counters C;
    C.Attach(Dst);
    // One to one: the 5 columns left of the source vanish with 5 destination columns.
    Dst.DrawFrom(TRect{10, 10, 20, 20}, TRect{-5, 0, 5, 10}, &Src);
    EXPECT_EQ(Dst.Pixel(14, 10), 0u);
    EXPECT_EQ(Dst.Pixel(15, 10), Src.Pixel(0, 0));
    EXPECT_EQ(Dst.Pixel(19, 19), Src.Pixel(4, 9));
    EXPECT_EQ(Dst.Pixel(20, 19), 0u);
    EXPECT_EQ(C.LastArea, (TRect{15, 10, 20, 20}));
    // Doubled: 5 source columns cut on the left remove 10 destination columns.
    Dst.Clear(0);
    Dst.DrawFrom(TRect{0, 20, 20, 40}, TRect{-5, 0, 5, 10}, &Src);
    EXPECT_EQ(Dst.Pixel(9, 20), 0u);
    EXPECT_EQ(Dst.Pixel(10, 20), Src.Pixel(0, 0));
    EXPECT_EQ(Dst.Pixel(11, 21), Src.Pixel(0, 0));
    EXPECT_EQ(Dst.Pixel(12, 22), Src.Pixel(1, 1));
    EXPECT_EQ(Dst.Pixel(19, 39), Src.Pixel(4, 9));
}

TEST(Drawing, ExtremeRectanglesStayInsideBothBitmaps) {
    TBitmap32 Src, Dst;
    Src.SetSize(7, 5);
    FillIndexed(Src);
    Dst.SetSize(9, 6);
    const int Big = INT_MAX, Small = INT_MIN;
    TRect Rects[] = {{Small, Small, Big, Big}, {-3, -3, 4, 4},           {5, 5, 4, 4},
                     {Big - 1, 0, Big, 3},     {Small, 0, Small + 2, 5}, {0, 0, 1, 1},
                     {-100, 2, 300, 3}};
    for (TDrawMode Mode : {dmOpaque, dmBlend, dmTransparent}) {
        Src.SetDrawMode(Mode);
        for (auto& D : Rects)
            for (auto& S : Rects) {
                Dst.DrawFrom(D, S, &Src);
                Src.DrawOnto(&Dst, D.Left, D.Top);
            }
    }
    SUCCEED();
}

TEST(Drawing, BlendModeUsesMasterAlphaAndTransparentModeSkipsOuterColor) {
    TBitmap32 Src, Dst;
    Src.SetSize(2, 1);
    Src.SetPixel(0, 0, 0xFFFFFFFF);
    Src.SetPixel(1, 0, 0x00000000);
    Dst.SetSize(2, 1);
    Dst.Clear(0xFF000000);
    Src.SetDrawMode(dmBlend);
    Src.DrawOnto(&Dst);
    EXPECT_EQ(Dst.Pixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Dst.Pixel(1, 0), 0xFF000000u);
    Dst.Clear(0xFF000000);
    Src.SetMasterAlpha(254);
    Src.DrawOnto(&Dst);
    EXPECT_EQ(Dst.Pixel(0, 0), 0xFFFDFDFDu); // W = (255 * 255) shr 8 = 254
    Src.SetMasterAlpha(0);
    Dst.Clear(0xFF000000);
    Src.DrawOnto(&Dst);
    EXPECT_EQ(Dst.Pixel(0, 0), 0xFF000000u);
    Src.SetDrawMode(dmTransparent);
    Src.DrawOnto(&Dst);
    EXPECT_EQ(Dst.Pixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Dst.Pixel(1, 0), 0xFF000000u);
}

TEST(Drawing, MeasuringReportsTheAreaAndWritesNoPixel) {
    TBitmap32 Src, Dst;
    Src.SetSize(3, 3);
    Src.Clear(clWhite32);
    Dst.SetSize(10, 10);
    Dst.Clear(0);
    TRect Seen;
    Dst.BeginMeasuring([&](TCustomBitmap32*, const TRect& R, uint32_t) { Seen = R; });
    Src.DrawOnto(&Dst, 2, 3);
    Dst.EndMeasuring();
    EXPECT_EQ(Seen, (TRect{2, 3, 5, 6}));
    EXPECT_EQ(Dst.Pixel(3, 4), 0u);
}

} // namespace
