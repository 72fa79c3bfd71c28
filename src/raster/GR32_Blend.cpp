// SPDX-License-Identifier: GPL-3.0-or-later
#include "GR32_Blend.h"

#include <algorithm>

#include "GR32_Bindings.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

uint8_t ProductTable[256][256];
uint8_t RatioTable[256][256];

// The blend formula on all four channels at once: red/blue and alpha/green
// each in one 32-bit word, 16 bits per channel. Per channel the sum
// B * (256 - W) + F * W + 128 stays below 65 536, so no carry crosses lanes.
static inline TColor32 BlendWeighted(TColor32 F, TColor32 B, uint32_t W) {
    uint32_t IW = 256 - W;
    uint32_t RB = ((B & 0x00FF00FF) * IW + (F & 0x00FF00FF) * W + 0x00800080) >> 8;
    uint32_t AG = ((B >> 8) & 0x00FF00FF) * IW + ((F >> 8) & 0x00FF00FF) * W + 0x00800080;
    return (RB & 0x00FF00FF) | (AG & 0xFF00FF00);
}

static inline uint32_t ClampWeight(uint32_t W) {
    return W > 255 ? 255 : W;
}

TColor32 BlendReg_Pas(TColor32 F, TColor32 B) {
    return BlendWeighted(F, B, F >> 24);
}

void BlendMem_Pas(TColor32 F, TColor32& B) {
    uint32_t Fa = F >> 24;
    if (Fa == 0) return;
    if (Fa == 255) {
        B = F;
        return;
    }
    B = BlendWeighted(F, B, Fa);
}

TColor32 BlendRegEx_Pas(TColor32 F, TColor32 B, TColor32 M) {
    uint32_t Fa = F >> 24;
    if (Fa == 0) return B;
    uint32_t W = ((ClampWeight(M) + 1) * Fa) >> 8;
    if (W == 0) return B;
    return BlendWeighted(F, B, W);
}

void BlendMemEx_Pas(TColor32 F, TColor32& B, TColor32 M) {
    B = BlendRegEx_Pas(F, B, M);
}

void BlendLine_Pas(const TColor32* Src, TColor32* Dst, int Count) {
    for (int I = 0; I < Count; ++I)
        BlendMem_Pas(Src[I], Dst[I]);
}

void BlendLineEx_Pas(const TColor32* Src, TColor32* Dst, int Count, TColor32 M) {
    for (int I = 0; I < Count; ++I)
        Dst[I] = BlendRegEx_Pas(Src[I], Dst[I], M);
}

TColor32 CombineReg_Pas(TColor32 X, TColor32 Y, TColor32 W) {
    return BlendWeighted(X, Y, ClampWeight(W));
}
static void CombineMem_Pas(TColor32 X, TColor32& Y, TColor32 W) {
    Y = CombineReg_Pas(X, Y, W);
}

// Merge: result alpha = 1 - (1 - Fa)(1 - Ba); the colour leans to F by Fa
// over the result alpha.
TColor32 MergeReg_Pas(TColor32 F, TColor32 B) {
    uint32_t Fa = F >> 24, Ba = B >> 24;
    if (Fa == 255 || Ba == 0) return F;
    if (Fa == 0) return B;
    uint32_t Ra = ProductTable[Fa ^ 255][Ba ^ 255] ^ 255;
    uint32_t Wa = RatioTable[Ra][Fa];
    const uint8_t* Fw = ProductTable[Wa];
    const uint8_t* Bw = ProductTable[Wa ^ 255];
    auto Ch = [&](int Shift) {
        uint32_t V = Fw[(F >> Shift) & 0xFF] + Bw[(B >> Shift) & 0xFF];
        return std::min<uint32_t>(V, 255) << Shift;
    };
    return (Ra << 24) | Ch(16) | Ch(8) | Ch(0);
}

static void MergeMem_Pas(TColor32 F, TColor32& B) {
    B = MergeReg_Pas(F, B);
}

static TColor32 MergeRegEx_Pas(TColor32 F, TColor32 B, TColor32 M) {
    uint32_t Fa = ProductTable[ClampWeight(M)][F >> 24];
    return MergeReg_Pas((F & 0x00FFFFFF) | (Fa << 24), B);
}

static void MergeMemEx_Pas(TColor32 F, TColor32& B, TColor32 M) {
    B = MergeRegEx_Pas(F, B, M);
}

static void MergeLine_Pas(const TColor32* Src, TColor32* Dst, int Count) {
    for (int I = 0; I < Count; ++I)
        Dst[I] = MergeReg_Pas(Src[I], Dst[I]);
}

static void MergeLineEx_Pas(const TColor32* Src, TColor32* Dst, int Count, TColor32 M) {
    for (int I = 0; I < Count; ++I)
        Dst[I] = MergeRegEx_Pas(Src[I], Dst[I], M);
}

static void EMMS_Pas() {}

// Table forms ----------------------------------------------------------------

TColor32 BlendReg_Table(TColor32 F, TColor32 B) {
    uint32_t Fa = F >> 24;
    if (Fa == 0) return B;
    if (Fa == 255) return F;
    const uint8_t* Fw = ProductTable[Fa];
    const uint8_t* Bw = ProductTable[255 - Fa];
    auto Ch = [&](int Shift) {
        return uint32_t(Fw[(F >> Shift) & 0xFF] + Bw[(B >> Shift) & 0xFF]) << Shift;
    };
    return (B & 0xFF000000) | Ch(16) | Ch(8) | Ch(0);
}

void BlendMem_Table(TColor32 F, TColor32& B) {
    B = BlendReg_Table(F, B);
}

TColor32 BlendRegEx_Table(TColor32 F, TColor32 B, TColor32 M) {
    uint32_t Fa = ProductTable[ClampWeight(M)][F >> 24];
    return BlendReg_Table((F & 0x00FFFFFF) | (Fa << 24), B);
}

void BlendMemEx_Table(TColor32 F, TColor32& B, TColor32 M) {
    B = BlendRegEx_Table(F, B, M);
}

// SSE2 forms: the same arithmetic in 16-bit lanes, four pixels a step. The
// sum B * 256 + 128 + (F - B) * W is taken modulo 65 536, which is exact
// because its true value lies in 0..65 535.
#if defined(__SSE2__)
static inline __m128i BlendLanes(__m128i F, __m128i B, __m128i W) {
    __m128i Bias = _mm_set1_epi16(128);
    __m128i Sum = _mm_add_epi16(_mm_slli_epi16(B, 8), Bias);
    Sum = _mm_add_epi16(Sum, _mm_mullo_epi16(_mm_sub_epi16(F, B), W));
    return _mm_srli_epi16(Sum, 8);
}

static inline __m128i AlphaLanes(__m128i P16) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(P16, 0xFF), 0xFF);
}

void BlendLine_SSE2(const TColor32* Src, TColor32* Dst, int Count) {
    const __m128i Zero = _mm_setzero_si128();
    const __m128i AlphaMask = _mm_set1_epi32(int(0xFF000000));
    int I = 0;
    for (; I + 4 <= Count; I += 4) {
        __m128i F = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + I));
        __m128i Fa = _mm_and_si128(F, AlphaMask);
        __m128i Opaque = _mm_cmpeq_epi32(Fa, AlphaMask);
        int OpaqueBits = _mm_movemask_epi8(Opaque);
        if (OpaqueBits == 0xFFFF) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + I), F);
            continue;
        }
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(Fa, Zero)) == 0xFFFF) continue;
        __m128i B = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dst + I));
        __m128i FLo = _mm_unpacklo_epi8(F, Zero), FHi = _mm_unpackhi_epi8(F, Zero);
        __m128i BLo = _mm_unpacklo_epi8(B, Zero), BHi = _mm_unpackhi_epi8(B, Zero);
        __m128i R = _mm_packus_epi16(BlendLanes(FLo, BLo, AlphaLanes(FLo)),
                                     BlendLanes(FHi, BHi, AlphaLanes(FHi)));
        R = _mm_or_si128(_mm_and_si128(Opaque, F), _mm_andnot_si128(Opaque, R));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + I), R);
    }
    for (; I < Count; ++I)
        BlendMem_Pas(Src[I], Dst[I]);
}

void BlendLineEx_SSE2(const TColor32* Src, TColor32* Dst, int Count, TColor32 M) {
    const __m128i Zero = _mm_setzero_si128();
    const __m128i M1 = _mm_set1_epi16(short(ClampWeight(M) + 1));
    int I = 0;
    for (; I + 4 <= Count; I += 4) {
        __m128i F = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + I));
        __m128i B = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Dst + I));
        __m128i FLo = _mm_unpacklo_epi8(F, Zero), FHi = _mm_unpackhi_epi8(F, Zero);
        __m128i BLo = _mm_unpacklo_epi8(B, Zero), BHi = _mm_unpackhi_epi8(B, Zero);
        // W = ((M + 1) * Fa) shr 8; W = 0 leaves B as the formula does.
        __m128i WLo = _mm_srli_epi16(_mm_mullo_epi16(AlphaLanes(FLo), M1), 8);
        __m128i WHi = _mm_srli_epi16(_mm_mullo_epi16(AlphaLanes(FHi), M1), 8);
        __m128i R = _mm_packus_epi16(BlendLanes(FLo, BLo, WLo), BlendLanes(FHi, BHi, WHi));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Dst + I), R);
    }
    for (; I < Count; ++I)
        Dst[I] = BlendRegEx_Pas(Src[I], Dst[I], M);
}
#endif

// Bound variables: statically the portable forms, so they work before the
// registry has run.
TBlendReg BlendReg = BlendReg_Pas;
TBlendMem BlendMem = BlendMem_Pas;
TBlendRegEx BlendRegEx = BlendRegEx_Pas;
TBlendMemEx BlendMemEx = BlendMemEx_Pas;
TBlendLine BlendLine = BlendLine_Pas;
TBlendLineEx BlendLineEx = BlendLineEx_Pas;
TCombineReg CombineReg = CombineReg_Pas;
TCombineMem CombineMem = CombineMem_Pas;
TBlendReg MergeReg = MergeReg_Pas;
TBlendMem MergeMem = MergeMem_Pas;
TBlendRegEx MergeRegEx = MergeRegEx_Pas;
TBlendMemEx MergeMemEx = MergeMemEx_Pas;
TBlendLine MergeLine = MergeLine_Pas;
TBlendLineEx MergeLineEx = MergeLineEx_Pas;
TEMMS EMMS = EMMS_Pas;

TBlendMem BlendMemOf(TCombineMode Mode) {
    return Mode == cmMerge ? MergeMem : BlendMem;
}
TBlendMemEx BlendMemExOf(TCombineMode Mode) {
    return Mode == cmMerge ? MergeMemEx : BlendMemEx;
}
TBlendLine BlendLineOf(TCombineMode Mode) {
    return Mode == cmMerge ? MergeLine : BlendLine;
}
TBlendLineEx BlendLineExOf(TCombineMode Mode) {
    return Mode == cmMerge ? MergeLineEx : BlendLineEx;
}

namespace {
enum {
    FID_BLENDREG,
    FID_BLENDMEM,
    FID_BLENDREGEX,
    FID_BLENDMEMEX,
    FID_BLENDLINE,
    FID_BLENDLINEEX,
    FID_COMBINEREG,
    FID_COMBINEMEM,
    FID_MERGEREG,
    FID_MERGEMEM,
    FID_MERGEREGEX,
    FID_MERGEMEMEX,
    FID_MERGELINE,
    FID_MERGELINEEX,
    FID_EMMS
};

void BuildTables() {
    for (int A = 0; A < 256; ++A)
        for (int B = 0; B < 256; ++B) {
            ProductTable[A][B] = uint8_t((A * B * 2 + 255) / 510);
            RatioTable[A][B] = A == 0 ? 0 : uint8_t((B * 255 * 2 + A) / (2 * A));
        }
}

struct TBlendRegistration {
    TBlendRegistration() {
        BuildTables();
        TFunctionRegistry* R = NewRegistry("GR32_Blend bindings");
        R->Add(FID_BLENDREG, BlendReg_Table);
        R->Add(FID_BLENDMEM, BlendMem_Table);
        R->Add(FID_BLENDREGEX, BlendRegEx_Table);
        R->Add(FID_BLENDMEMEX, BlendMemEx_Table);
        R->Add(FID_BLENDREG, BlendReg_Pas);
        R->Add(FID_BLENDMEM, BlendMem_Pas);
        R->Add(FID_BLENDREGEX, BlendRegEx_Pas);
        R->Add(FID_BLENDMEMEX, BlendMemEx_Pas);
        R->Add(FID_BLENDLINE, BlendLine_Pas);
        R->Add(FID_BLENDLINEEX, BlendLineEx_Pas);
        R->Add(FID_COMBINEREG, CombineReg_Pas);
        R->Add(FID_COMBINEMEM, CombineMem_Pas);
        R->Add(FID_MERGEREG, MergeReg_Pas);
        R->Add(FID_MERGEMEM, MergeMem_Pas);
        R->Add(FID_MERGEREGEX, MergeRegEx_Pas);
        R->Add(FID_MERGEMEMEX, MergeMemEx_Pas);
        R->Add(FID_MERGELINE, MergeLine_Pas);
        R->Add(FID_MERGELINEEX, MergeLineEx_Pas);
        R->Add(FID_EMMS, EMMS_Pas);
#if defined(__SSE2__)
        R->Add(FID_BLENDLINE, BlendLine_SSE2, CPUFeature(ciSSE2));
        R->Add(FID_BLENDLINEEX, BlendLineEx_SSE2, CPUFeature(ciSSE2));
#endif
        R->RegisterBinding(FID_BLENDREG, &BlendReg);
        R->RegisterBinding(FID_BLENDMEM, &BlendMem);
        R->RegisterBinding(FID_BLENDREGEX, &BlendRegEx);
        R->RegisterBinding(FID_BLENDMEMEX, &BlendMemEx);
        R->RegisterBinding(FID_BLENDLINE, &BlendLine);
        R->RegisterBinding(FID_BLENDLINEEX, &BlendLineEx);
        R->RegisterBinding(FID_COMBINEREG, &CombineReg);
        R->RegisterBinding(FID_COMBINEMEM, &CombineMem);
        R->RegisterBinding(FID_MERGEREG, &MergeReg);
        R->RegisterBinding(FID_MERGEMEM, &MergeMem);
        R->RegisterBinding(FID_MERGEREGEX, &MergeRegEx);
        R->RegisterBinding(FID_MERGEMEMEX, &MergeMemEx);
        R->RegisterBinding(FID_MERGELINE, &MergeLine);
        R->RegisterBinding(FID_MERGELINEEX, &MergeLineEx);
        R->RegisterBinding(FID_EMMS, &EMMS);
        R->RebindAll();
    }
} BlendRegistration;
} // namespace
