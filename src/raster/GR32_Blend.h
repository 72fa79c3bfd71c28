// SPDX-License-Identifier: GPL-3.0-or-later
// Per-pixel blend arithmetic. For each channel c (alpha included) of a
// foreground F over a background B with weight W (0..255):
//   Bc' = (Bc * 256 + 128 + (Fc - Bc) * W) shr 8
// Callers reach the operations through the bound variables below; the
// registry "GR32_Blend bindings" binds the portable form or the bit-exact
// SSE2 form at start-up.
#pragma once

#include <cstdint>

#include "GR32.h"

using TBlendReg = TColor32 (*)(TColor32 F, TColor32 B);
using TBlendMem = void (*)(TColor32 F, TColor32& B);
using TBlendRegEx = TColor32 (*)(TColor32 F, TColor32 B, TColor32 M);
using TBlendMemEx = void (*)(TColor32 F, TColor32& B, TColor32 M);
using TBlendLine = void (*)(const TColor32* Src, TColor32* Dst, int Count);
using TBlendLineEx = void (*)(const TColor32* Src, TColor32* Dst, int Count, TColor32 M);
using TCombineReg = TColor32 (*)(TColor32 X, TColor32 Y, TColor32 W);
using TCombineMem = void (*)(TColor32 X, TColor32& Y, TColor32 W);
using TEMMS = void (*)();

// Two-colour form: W = Fa, no shortcuts.
extern TBlendReg BlendReg;
// Plain blend: Fa = 0 keeps B, Fa = 255 gives F exactly, else the formula.
extern TBlendMem BlendMem;
// Weighted blend with master alpha M: W = ((M + 1) * Fa) shr 8, W = 0 keeps B,
// else the formula (an opaque F does not replace B exactly).
extern TBlendRegEx BlendRegEx;
extern TBlendMemEx BlendMemEx;
// Row forms: Dst[i] := blend of Src[i] over Dst[i].
extern TBlendLine BlendLine;
extern TBlendLineEx BlendLineEx;
// Weighted combination: X in the role of F, Y of B, the given W.
extern TCombineReg CombineReg;
extern TCombineMem CombineMem;
// Merge of two transparent colours: the result's alpha is the union of both.
extern TBlendReg MergeReg;
extern TBlendMem MergeMem;
extern TBlendRegEx MergeRegEx;
extern TBlendMemEx MergeMemEx;
extern TBlendLine MergeLine;
extern TBlendLineEx MergeLineEx;
// End of a run of packed-integer operations (nothing in these variants).
extern TEMMS EMMS;

// The operations selected by a combine mode.
TBlendMem BlendMemOf(TCombineMode Mode);
TBlendMemEx BlendMemExOf(TCombineMode Mode);
TBlendLine BlendLineOf(TCombineMode Mode);
TBlendLineEx BlendLineExOf(TCombineMode Mode);

// Product table [a][b] = round(a * b / 255) and ratio table [a][b] =
// round(b * 255 / a) in its low 8 bits (0 for a = 0), built at start-up.
extern uint8_t ProductTable[256][256];
extern uint8_t RatioTable[256][256];

// Table forms: colour channels through the product table, destination
// keeps its alpha. Registered as the earliest forms of the blend operations.
TColor32 BlendReg_Table(TColor32 F, TColor32 B);
void BlendMem_Table(TColor32 F, TColor32& B);
TColor32 BlendRegEx_Table(TColor32 F, TColor32 B, TColor32 M);
void BlendMemEx_Table(TColor32 F, TColor32& B, TColor32 M);

// The variants themselves, for comparing them and for benchmarks.
TColor32 BlendReg_Pas(TColor32 F, TColor32 B);
void BlendMem_Pas(TColor32 F, TColor32& B);
TColor32 BlendRegEx_Pas(TColor32 F, TColor32 B, TColor32 M);
void BlendMemEx_Pas(TColor32 F, TColor32& B, TColor32 M);
void BlendLine_Pas(const TColor32* Src, TColor32* Dst, int Count);
void BlendLineEx_Pas(const TColor32* Src, TColor32* Dst, int Count, TColor32 M);
TColor32 CombineReg_Pas(TColor32 X, TColor32 Y, TColor32 W);
TColor32 MergeReg_Pas(TColor32 F, TColor32 B);
#if defined(__SSE2__)
#define GR32_HAS_SSE2_VARIANTS 1
void BlendLine_SSE2(const TColor32* Src, TColor32* Dst, int Count);
void BlendLineEx_SSE2(const TColor32* Src, TColor32* Dst, int Count, TColor32 M);
#endif
