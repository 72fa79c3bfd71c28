// SPDX-License-Identifier: GPL-3.0-or-later
// Processor instruction sets, queried once with CPUID at start-up.
#pragma once

#include <cstdint>

enum TCPUInstructionSet {
    ciMMX = 0,
    ciEMMX = 1,
    ciSSE = 2,
    ciSSE2 = 3,
    ci3DNow = 4,
    ci3DNowExt = 5
};

// A set of TCPUInstructionSet values, one bit each.
using TCPUFeatures = uint32_t;
constexpr TCPUFeatures CPUFeature(TCPUInstructionSet S) {
    return TCPUFeatures(1) << S;
}
constexpr TCPUFeatures NoCPUFeatures = 0;

// What the processor offers (none when CPUID is missing or the family is 4
// or lower), as detected at start-up.
TCPUFeatures DetectedCPUFeatures();
// What the bindings may use: the detected sets minus those switched off.
// The variable VORTA_NO_SIMD=1 in the environment switches all off at start-up.
TCPUFeatures CPUFeatures();
bool HasInstructionSet(TCPUInstructionSet S);
// Allows only the sets in Allowed (still limited to what was detected) and
// rebinds every function registry. Used to compare variants and as a way
// round a faulty variant.
void RestrictCPUFeatures(TCPUFeatures Allowed);
