// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <random>

#include "GR32_Bindings.h"
#include "GR32_Blend.h"
#include "GR32_LowLevel.h"
#include "GR32_Resamplers.h"

namespace {

// The blend formula written out per channel, as the reference for every form.
TColor32 FormulaBlend(TColor32 F, TColor32 B, int W) {
    TColor32 R = 0;
    for (int S = 0; S < 32; S += 8) {
        int Fc = (F >> S) & 0xFF, Bc = (B >> S) & 0xFF;
        R |= TColor32((Bc * 256 + 128 + (Fc - Bc) * W) >> 8) << S;
    }
    return R;
}

TColor32 RefPlain(TColor32 F, TColor32 B) {
    int Fa = F >> 24;
    return Fa == 0 ? B : Fa == 255 ? F : FormulaBlend(F, B, Fa);
}

TColor32 RefWeighted(TColor32 F, TColor32 B, int M) {
    int Fa = F >> 24;
    if (Fa == 0) return B;
    int W = ((M + 1) * Fa) >> 8;
    return W == 0 ? B : FormulaBlend(F, B, W);
}

TEST(Blend, PlainAndWeightedExamples) {
    struct Case {
        TColor32 F, B, Plain, Weighted;
    } Cases[] = {
        {0x00FFFFFF, 0xFF000000, 0xFF000000, 0xFF000000},
        {0x00FFFFFF, 0x12345678, 0x12345678, 0x12345678},
        {0x00FFFFFF, 0x00000000, 0x00000000, 0x00000000},
        {0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF, 0xFFFEFEFE},
        {0x80FF0000, 0xFF0000FF, 0xC0800080, 0xC0800080},
        {0xFF0000FF, 0x00000000, 0xFF0000FF, 0xFE0000FE},
    };
    for (auto& C : Cases) {
        TColor32 B = C.B;
        BlendMem(C.F, B);
        EXPECT_EQ(B, C.Plain) << std::hex << C.F << " over " << C.B;
        B = C.B;
        BlendMemEx(C.F, B, 255);
        EXPECT_EQ(B, C.Weighted) << std::hex << C.F << " over " << C.B;
        EXPECT_EQ(BlendRegEx(C.F, C.B, 255), C.Weighted);
    }
}

TEST(Blend, TwoColourAndCombineForms) {
    EXPECT_EQ(BlendReg(0xFFFFFFFF, 0xFF000000), 0xFFFEFEFEu); // no shortcut for Fa = 255
    EXPECT_EQ(CombineReg(0x12345678, 0x9ABCDEF0, 0), 0x9ABCDEF0u);
    EXPECT_EQ(CombineReg(0xFFFFFFFF, 0x00000000, 255), 0xFEFEFEFEu);
}

TEST(Blend, PortableFormsMatchTheFormulaOnRandomData) {
    std::mt19937 Rng(7);
    for (int I = 0; I < 200000; ++I) {
        TColor32 F = Rng(), B = Rng();
        if (I % 4 == 0) F = (F & 0x00FFFFFF) | (Rng() % 2 ? 0xFF000000 : 0);
        int M = Rng() % 256, W = Rng() % 256;
        ASSERT_EQ(BlendReg_Pas(F, B), FormulaBlend(F, B, F >> 24));
        TColor32 D = B;
        BlendMem_Pas(F, D);
        ASSERT_EQ(D, RefPlain(F, B));
        ASSERT_EQ(BlendRegEx_Pas(F, B, M), RefWeighted(F, B, M));
        ASSERT_EQ(CombineReg_Pas(F, B, W), FormulaBlend(F, B, W));
    }
}

#if defined(GR32_HAS_SSE2_VARIANTS)
TEST(Blend, SSE2RowFormsAreBitExactWithThePortableOnes) {
    std::mt19937 Rng(11);
    for (int Round = 0; Round < 300; ++Round) {
        int N = Rng() % 70;
        std::vector<TColor32> Src(N), A(N), B(N);
        for (int I = 0; I < N; ++I) {
            Src[I] = Rng();
            // Runs of fully transparent and fully opaque pixels take the shortcuts.
            if (Round % 3 == 1) Src[I] &= 0x00FFFFFF;
            if (Round % 3 == 2 && I % 5) Src[I] |= 0xFF000000;
            A[I] = B[I] = Rng();
        }
        BlendLine_Pas(Src.data(), A.data(), N);
        BlendLine_SSE2(Src.data(), B.data(), N);
        ASSERT_EQ(A, B) << "round " << Round;
        TColor32 M = Rng() % 256;
        BlendLineEx_Pas(Src.data(), A.data(), N, M);
        BlendLineEx_SSE2(Src.data(), B.data(), N, M);
        ASSERT_EQ(A, B) << "round " << Round << " master alpha " << M;
    }
}

TEST(Blend, SSE2BilinearCoreIsBitExactWithThePortableOne) {
    std::mt19937 Rng(13);
    std::vector<TColor32> Bits(16 * 16);
    for (auto& P : Bits)
        P = Rng();
    for (int I = 0; I < 100000; ++I) {
        int X8 = Rng() % (15 * 256), Y8 = Rng() % (15 * 256);
        ASSERT_EQ(BilinearCore_SSE2(Bits.data(), 16, X8, Y8),
                  BilinearCore_Pas(Bits.data(), 16, X8, Y8));
    }
}

TEST(Blend, SSE2FillMatchesPortableFillAtEveryAlignment) {
    for (TColor32 V : {0x12345678u, 0xFFFFFFFFu, 0u}) {
        for (size_t Offset = 0; Offset < 4; ++Offset)
            for (size_t N : {0u, 1u, 3u, 4u, 17u, 64u, 1001u}) {
                std::vector<TColor32> A(N + 8, 7), B(N + 8, 7);
                FillLongword_Pas(A.data() + Offset, N, V);
                FillLongword_SSE2(B.data() + Offset, N, V);
                ASSERT_EQ(A, B);
            }
    }
}
#endif

TEST(Blend, TableFormKeepsDestinationAlphaAndRoundsThroughProducts) {
    EXPECT_EQ(ProductTable[255][200], 200);
    EXPECT_EQ(ProductTable[128][255], 128);
    EXPECT_EQ(ProductTable[0][77], 0);
    EXPECT_EQ(RatioTable[0][9], 0);
    EXPECT_EQ(RatioTable[255][100], 100);
    EXPECT_EQ(BlendReg_Table(0x80FF0000, 0x400000FF), 0x4080007Fu);
    EXPECT_EQ(BlendReg_Table(0x00FFFFFF, 0x12345678), 0x12345678u);
    EXPECT_EQ(BlendReg_Table(0xFF112233, 0x12345678), 0xFF112233u);
}

TEST(Blend, MergeGivesTheUnionOfBothAlphas) {
    EXPECT_EQ(MergeReg(0xFF123456, 0x80FFFFFF), 0xFF123456u);
    EXPECT_EQ(MergeReg(0x00123456, 0x80FFFFFF), 0x80FFFFFFu);
    EXPECT_EQ(MergeReg(0x80123456, 0x00FFFFFF), 0x80123456u);
    // 1 - (1 - 0.5)(1 - 0.5) = 0.75.
    EXPECT_EQ(MergeReg(0x80000000, 0x80000000) >> 24, 0xC0u);
}

TEST(Bindings, LatestUsableVariantWinsAndSwitchingOffRebindsToPortable) {
    TFunctionRegistry R("test bindings");
    using F = int (*)();
    F Bound = nullptr;
    R.Add(
        1, +[] { return 1; });
    R.Add(
        1, +[] { return 2; }, CPUFeature(ciSSE2));
    R.Add(
        1, +[] { return 3; }, CPUFeature(ci3DNow));
    R.RegisterBinding(1, &Bound);
    R.RebindAll(CPUFeature(ciSSE2) | CPUFeature(ciMMX));
    EXPECT_EQ(Bound(), 2);
    R.RebindAll(NoCPUFeatures);
    EXPECT_EQ(Bound(), 1);
    R.RebindAll(CPUFeature(ci3DNow) | CPUFeature(ciSSE2));
    EXPECT_EQ(Bound(), 3);

    RestrictCPUFeatures(NoCPUFeatures);
    EXPECT_EQ(BlendLine, &BlendLine_Pas);
    EXPECT_EQ(FillLongword, &FillLongword_Pas);
    EXPECT_EQ(BlendMem,
              &BlendMem_Pas); // the portable form, not the table form registered before it
    RestrictCPUFeatures(~NoCPUFeatures);
#if defined(GR32_HAS_SSE2_VARIANTS)
    if (HasInstructionSet(ciSSE2)) {
        EXPECT_EQ(BlendLine, &BlendLine_SSE2);
    }
#endif
}

} // namespace
