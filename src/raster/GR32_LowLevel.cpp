// SPDX-License-Identifier: GPL-3.0-or-later
#include "GR32_LowLevel.h"

#include <cstring>

#include "GR32_Bindings.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// A colour whose four bytes agree (white, black, transparent) is a byte fill.
static inline bool IsByteFill(TColor32 Value) {
    return Value == (Value & 0xFF) * 0x01010101u;
}

void FillLongword_Pas(TColor32* X, size_t Count, TColor32 Value) {
    if (IsByteFill(Value)) {
        std::memset(X, int(Value & 0xFF), Count * sizeof(TColor32));
        return;
    }
    for (size_t I = 0; I < Count; ++I)
        X[I] = Value;
}

#if defined(__SSE2__)
void FillLongword_SSE2(TColor32* X, size_t Count, TColor32 Value) {
    if (IsByteFill(Value)) {
        std::memset(X, int(Value & 0xFF), Count * sizeof(TColor32));
        return;
    }
    size_t I = 0;
    // Align the stores to 16 bytes when the pixels are 4-byte aligned.
    while (I < Count && (reinterpret_cast<uintptr_t>(X + I) & 15) != 0)
        X[I++] = Value;
    __m128i V = _mm_set1_epi32(int(Value));
    for (; I + 16 <= Count; I += 16) {
        _mm_store_si128(reinterpret_cast<__m128i*>(X + I), V);
        _mm_store_si128(reinterpret_cast<__m128i*>(X + I + 4), V);
        _mm_store_si128(reinterpret_cast<__m128i*>(X + I + 8), V);
        _mm_store_si128(reinterpret_cast<__m128i*>(X + I + 12), V);
    }
    for (; I + 4 <= Count; I += 4)
        _mm_store_si128(reinterpret_cast<__m128i*>(X + I), V);
    for (; I < Count; ++I)
        X[I] = Value;
}
#endif

TFillLongword FillLongword = FillLongword_Pas;

void MoveLongword(const TColor32* Src, TColor32* Dst, size_t Count) {
    std::memmove(Dst, Src, Count * sizeof(TColor32));
}

int ClampWrap(int Value, int Min, int Max) {
    return Value < Min ? Min : (Value > Max ? Max : Value);
}

int RepeatWrap(int Value, int Min, int Max) {
    int64_t N = int64_t(Max) - Min + 1;
    if (N <= 0) return Min;
    int64_t V = (int64_t(Value) - Min) % N;
    if (V < 0) V += N;
    return int(Min + V);
}

int MirrorWrap(int Value, int Min, int Max) {
    int64_t N = int64_t(Max) - Min + 1;
    if (N <= 0) return Min;
    int64_t V = (int64_t(Value) - Min) % (2 * N);
    if (V < 0) V += 2 * N;
    if (V >= N) V = 2 * N - 1 - V;
    return int(Min + V);
}

namespace {
enum { FID_FILLLONGWORD };
struct TLowLevelRegistration {
    TLowLevelRegistration() {
        TFunctionRegistry* R = NewRegistry("GR32_LowLevel bindings");
        R->Add(FID_FILLLONGWORD, FillLongword_Pas);
#if defined(__SSE2__)
        R->Add(FID_FILLLONGWORD, FillLongword_SSE2, CPUFeature(ciSSE2));
#endif
        R->RegisterBinding(FID_FILLLONGWORD, &FillLongword);
        R->RebindAll();
    }
} LowLevelRegistration;
} // namespace
