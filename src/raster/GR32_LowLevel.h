// SPDX-License-Identifier: GPL-3.0-or-later
// Filling, moving, clamping and wrapping helpers; the rounding helpers of
// Rounding.h come along. FillLongword is bound through the registry
// "GR32_LowLevel bindings".
#pragma once

#include <cstddef>
#include <cstdint>

#include "GR32.h"
#include "Rounding.h"

using TFillLongword = void (*)(TColor32* X, size_t Count, TColor32 Value);
extern TFillLongword FillLongword;

void FillLongword_Pas(TColor32* X, size_t Count, TColor32 Value);
#if defined(__SSE2__)
void FillLongword_SSE2(TColor32* X, size_t Count, TColor32 Value);
#endif

void MoveLongword(const TColor32* Src, TColor32* Dst, size_t Count);

inline int Clamp(int Value, int Min, int Max) {
    return Value < Min ? Min : (Value > Max ? Max : Value);
}
inline int Clamp255(int Value) {
    return Value < 0 ? 0 : (Value > 255 ? 255 : Value);
}
// Wrap functions of the wrap modes, for 0..Max.
int ClampWrap(int Value, int Min, int Max);
int RepeatWrap(int Value, int Min, int Max);
int MirrorWrap(int Value, int Min, int Max);
