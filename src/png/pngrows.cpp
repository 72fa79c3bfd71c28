// SPDX-License-Identifier: GPL-3.0-or-later
#include "pngrows.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "GR32_Bindings.h"
#include "pngimage.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline uint8_t PaethPredictor(int A, int B, int C) {
    int Pa = std::abs(B - C), Pb = std::abs(A - C), Pc = std::abs(A + B - 2 * C);
    if (Pa <= Pb && Pa <= Pc) return uint8_t(A);
    return uint8_t(Pb <= Pc ? B : C);
}

#if defined(__SSE2__)
template <int Bpp> inline __m128i LoadPixel(const uint8_t* P) {
    uint32_t V = 0;
    std::memcpy(&V, P, Bpp);
    return _mm_cvtsi32_si128(int(V));
}
template <int Bpp> inline void StorePixel(uint8_t* P, __m128i V) {
    uint32_t X = uint32_t(_mm_cvtsi128_si32(V));
    std::memcpy(P, &X, Bpp);
}
inline __m128i Select(__m128i Mask, __m128i A, __m128i B) {
    return _mm_or_si128(_mm_and_si128(Mask, A), _mm_andnot_si128(Mask, B));
}
void UpRowSSE2(uint8_t* Row, const uint8_t* Prior, size_t Length) {
    size_t i = 0;
    for (; i + 16 <= Length; i += 16) {
        __m128i* R = reinterpret_cast<__m128i*>(Row + i);
        __m128i P = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Prior + i));
        _mm_storeu_si128(R, _mm_add_epi8(_mm_loadu_si128(R), P));
    }
    for (; i < Length; ++i)
        Row[i] = uint8_t(Row[i] + Prior[i]);
}
inline __m128i Abs16(__m128i X) {
    return _mm_max_epi16(X, _mm_sub_epi16(_mm_setzero_si128(), X));
}

// One pixel at a time, all channels of it at once; Bpp is 3 or 4.
template <int Bpp>
void UnfilterRowSSE2(int FilterType, uint8_t* Row, const uint8_t* Prior, size_t Length) {
    const __m128i Zero = _mm_setzero_si128();
    __m128i A = Zero;
    if (FilterType == 1) {
        size_t i = 0;
        if (Bpp == 4) {
            // Four pixels at a time: a running sum within the group, then the
            // last pixel before it added to each.
            for (; i + 16 <= Length; i += 16) {
                __m128i* R = reinterpret_cast<__m128i*>(Row + i);
                __m128i X = _mm_loadu_si128(R);
                X = _mm_add_epi8(X, _mm_slli_si128(X, 4));
                X = _mm_add_epi8(X, _mm_slli_si128(X, 8));
                X = _mm_add_epi8(X, A);
                _mm_storeu_si128(R, X);
                A = _mm_shuffle_epi32(X, 0xFF);
            }
        }
        for (; i + Bpp <= Length; i += Bpp) {
            A = _mm_add_epi8(A, LoadPixel<Bpp>(Row + i));
            StorePixel<Bpp>(Row + i, A);
        }
    } else if (FilterType == 3) {
        const __m128i One = _mm_set1_epi8(1);
        for (size_t i = 0; i + Bpp <= Length; i += Bpp) {
            __m128i B = LoadPixel<Bpp>(Prior + i);
            // Rounding-down average: the rounding-up one minus the odd bit.
            __m128i Avg = _mm_sub_epi8(_mm_avg_epu8(A, B), _mm_and_si128(_mm_xor_si128(A, B), One));
            A = _mm_add_epi8(Avg, LoadPixel<Bpp>(Row + i));
            StorePixel<Bpp>(Row + i, A);
        }
    } else {
        // Each pixel waits for its left neighbour, so the work that hangs on
        // A is kept short: everything from the row above is prepared first,
        // and the sum stays in 16-bit lanes.
        const __m128i Low = _mm_set1_epi16(0xFF);
        __m128i C = Zero;
        for (size_t i = 0; i + Bpp <= Length; i += Bpp) {
            __m128i B = _mm_unpacklo_epi8(LoadPixel<Bpp>(Prior + i), Zero);
            __m128i Pa = Abs16(_mm_sub_epi16(B, C));
            __m128i K = _mm_sub_epi16(_mm_add_epi16(C, C), B); // |A + B - 2C| = |A - K|
            __m128i Raw = _mm_unpacklo_epi8(LoadPixel<Bpp>(Row + i), Zero);
            __m128i Pb = _mm_max_epi16(_mm_sub_epi16(A, C), _mm_sub_epi16(C, A));
            __m128i Pc = _mm_max_epi16(_mm_sub_epi16(A, K), _mm_sub_epi16(K, A));
            __m128i NotA = _mm_cmpgt_epi16(Pa, _mm_min_epi16(Pb, Pc));
            __m128i Pred = Select(NotA, Select(_mm_cmpgt_epi16(Pb, Pc), C, B), A);
            A = _mm_and_si128(_mm_add_epi16(Pred, Raw), Low);
            StorePixel<Bpp>(Row + i, _mm_packus_epi16(A, Zero));
            C = B;
        }
    }
}
#endif

} // namespace

// 8-bit RGBA without gamma, the common case of the dial pictures.
void PngRgbaRowPortable(const uint8_t* Src, uint32_t Count, TColor32* Dst) {
    for (uint32_t i = 0; i < Count; ++i) {
        const uint8_t* P = Src + 4 * size_t(i);
        Dst[i] = PngOverWhite(PngRgb(P[0], P[1], P[2]), P[3]);
    }
}

#if defined(__SSE2__)
void PngRgbaRowSSE2(const uint8_t* Src, uint32_t Count, TColor32* Dst) {
    uint32_t i = 0;
    {
        const __m128i AlphaMask = _mm_set1_epi32(int(0xFF000000u));
        const __m128i AgMask = _mm_set1_epi32(int(0xFF00FF00u));
        const __m128i RbMask = _mm_set1_epi32(0x00FF00FF);
        const __m128i Clear = _mm_set1_epi32(0x00FFFFFF);
        for (; i + 4 <= Count; i += 4) {
            __m128i V = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Src + 4 * size_t(i)));
            __m128i Alpha = _mm_and_si128(V, AlphaMask);
            int Opaque = _mm_movemask_epi8(_mm_cmpeq_epi32(Alpha, AlphaMask));
            int Transparent = _mm_movemask_epi8(_mm_cmpeq_epi32(Alpha, _mm_setzero_si128()));
            __m128i* Out = reinterpret_cast<__m128i*>(Dst + i);
            if (Opaque == 0xFFFF) {
                __m128i Rb = _mm_and_si128(V, RbMask);
                Rb = _mm_shufflehi_epi16(_mm_shufflelo_epi16(Rb, 0xB1), 0xB1);
                _mm_storeu_si128(Out, _mm_or_si128(_mm_and_si128(V, AgMask), Rb));
            } else if (Transparent == 0xFFFF) {
                _mm_storeu_si128(Out, Clear);
            } else {
                for (uint32_t k = i; k < i + 4; ++k) {
                    const uint8_t* P = Src + 4 * size_t(k);
                    Dst[k] = PngOverWhite(PngRgb(P[0], P[1], P[2]), P[3]);
                }
            }
        }
    }
    for (; i < Count; ++i) {
        const uint8_t* P = Src + 4 * size_t(i);
        Dst[i] = PngOverWhite(PngRgb(P[0], P[1], P[2]), P[3]);
    }
}
#endif

// ---------------------------------------------------------------- checksum

uint32_t PngAdler32Portable(uint32_t Adler, const uint8_t* Data, size_t Length) {
    constexpr uint32_t Base = 65521, NMax = 5552;
    uint32_t S1 = Adler & 0xFFFF, S2 = Adler >> 16;
    while (Length > 0) {
        size_t N = std::min<size_t>(Length, NMax);
        Length -= N;
        while (N--) {
            S1 += *Data++;
            S2 += S1;
        }
        S1 %= Base;
        S2 %= Base;
    }
    return (S2 << 16) | S1;
}

#if defined(__SSE2__)
uint32_t PngAdler32SSE2(uint32_t Adler, const uint8_t* Data, size_t Length) {
    constexpr uint32_t Base = 65521;
    uint64_t S1 = Adler & 0xFFFF, S2 = Adler >> 16;
    const __m128i Zero = _mm_setzero_si128();
    // Byte k of a 16-byte group adds (16 - k) times itself to S2.
    const __m128i WeightLo = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i WeightHi = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    auto Sum = [](__m128i V) {
        alignas(16) uint32_t L[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(L), V);
        return uint64_t(L[0]) + L[1] + L[2] + L[3];
    };
    while (Length >= 16) {
        // 347 groups keep every 32-bit lane far from overflowing.
        const size_t Groups = std::min<size_t>(Length / 16, 347);
        __m128i V1 = Zero, VPrefix = Zero, V2 = Zero;
        for (size_t g = 0; g < Groups; ++g, Data += 16) {
            __m128i D = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Data));
            VPrefix = _mm_add_epi32(VPrefix, V1);
            V1 = _mm_add_epi32(V1, _mm_sad_epu8(D, Zero));
            V2 = _mm_add_epi32(V2, _mm_madd_epi16(_mm_unpacklo_epi8(D, Zero), WeightLo));
            V2 = _mm_add_epi32(V2, _mm_madd_epi16(_mm_unpackhi_epi8(D, Zero), WeightHi));
        }
        S2 += S1 * Groups * 16 + 16 * Sum(VPrefix) + Sum(V2);
        S1 += Sum(V1);
        S1 %= Base;
        S2 %= Base;
        Length -= Groups * 16;
    }
    return PngAdler32Portable(uint32_t((S2 << 16) | S1), Data, Length);
}
#endif

// ---------------------------------------------------------------- filters

void PngUnfilterRowPortable(int FilterType, uint8_t* Row, const uint8_t* Prior, size_t Length,
                            int Bpp) {
    const size_t N = std::min(size_t(Bpp), Length);
    // Without a prior row Up adds nothing, Paeth predicts from the left (Sub)
    // and Average halves the left neighbour.
    if (!Prior && FilterType == 4) FilterType = 1;
    switch (FilterType) {
    case 1:
        for (size_t i = N; i < Length; ++i)
            Row[i] = uint8_t(Row[i] + Row[i - N]);
        break;
    case 2:
        if (Prior)
            for (size_t i = 0; i < Length; ++i)
                Row[i] = uint8_t(Row[i] + Prior[i]);
        break;
    case 3:
        if (!Prior) {
            for (size_t i = N; i < Length; ++i)
                Row[i] = uint8_t(Row[i] + (Row[i - N] >> 1));
            break;
        }
        for (size_t i = 0; i < N; ++i)
            Row[i] = uint8_t(Row[i] + (Prior[i] >> 1));
        for (size_t i = N; i < Length; ++i)
            Row[i] = uint8_t(Row[i] + ((Row[i - N] + Prior[i]) >> 1));
        break;
    case 4:
        for (size_t i = 0; i < N; ++i)
            Row[i] = uint8_t(Row[i] + Prior[i]);
        for (size_t i = N; i < Length; ++i)
            Row[i] = uint8_t(Row[i] + PaethPredictor(Row[i - N], Prior[i], Prior[i - N]));
        break;
    default:
        break;
    }
}

#if defined(__SSE2__)
void PngUnfilterRowSSE2(int FilterType, uint8_t* Row, const uint8_t* Prior, size_t Length,
                        int Bpp) {
    // Without a prior row (the first scanline of a pass) only Sub reads
    // nothing above; the other filters take the portable form there.
    if (FilterType == 2 && Prior) {
        UpRowSSE2(Row, Prior, Length);
        return;
    }
    if ((Bpp == 3 || Bpp == 4) && (FilterType == 1 || (Prior && FilterType >= 3))) {
        if (Bpp == 3)
            UnfilterRowSSE2<3>(FilterType, Row, Prior, Length);
        else
            UnfilterRowSSE2<4>(FilterType, Row, Prior, Length);
        return;
    }
    PngUnfilterRowPortable(FilterType, Row, Prior, Length, Bpp);
}
#endif

// ---------------------------------------------------------------- bindings

// Portable until the registration below has run, so that a call made while
// the program is still starting is served too.
void (*PngUnfilterRow)(int, uint8_t*, const uint8_t*, size_t, int) = PngUnfilterRowPortable;
uint32_t (*PngAdler32)(uint32_t, const uint8_t*, size_t) = PngAdler32Portable;
void (*PngRgbaRow)(const uint8_t*, uint32_t, TColor32*) = PngRgbaRowPortable;

namespace {
enum { FID_UNFILTERROW, FID_ADLER32, FID_RGBAROW };
struct TPngRowRegistration {
    TPngRowRegistration() {
        TFunctionRegistry* R = NewRegistry("PNG reader bindings");
        R->Add(FID_UNFILTERROW, PngUnfilterRowPortable);
        R->Add(FID_ADLER32, PngAdler32Portable);
        R->Add(FID_RGBAROW, PngRgbaRowPortable);
#if defined(__SSE2__)
        R->Add(FID_UNFILTERROW, PngUnfilterRowSSE2, CPUFeature(ciSSE2));
        R->Add(FID_ADLER32, PngAdler32SSE2, CPUFeature(ciSSE2));
        R->Add(FID_RGBAROW, PngRgbaRowSSE2, CPUFeature(ciSSE2));
#endif
        R->RegisterBinding(FID_UNFILTERROW, &PngUnfilterRow);
        R->RegisterBinding(FID_ADLER32, &PngAdler32);
        R->RegisterBinding(FID_RGBAROW, &PngRgbaRow);
        R->RebindAll();
    }
} PngRowRegistration;
} // namespace
