// SPDX-License-Identifier: GPL-3.0-or-later
#include "GR32_System.h"

#include <cstdlib>
#include <cstring>

#include "GR32_Bindings.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

static TCPUFeatures Detect() {
    TCPUFeatures F = NoCPUFeatures;
#if defined(__i386__) || defined(__x86_64__)
    unsigned A, B, C, D;
    if (!__get_cpuid(1, &A, &B, &C, &D)) return NoCPUFeatures;
    unsigned Family = (A >> 8) & 0xF;
    if (Family <= 4) return NoCPUFeatures;
    if (D & (1u << 23)) F |= CPUFeature(ciMMX);
    if (D & (1u << 25)) F |= CPUFeature(ciSSE) | CPUFeature(ciEMMX);
    if (D & (1u << 26)) F |= CPUFeature(ciSSE2);
    if (__get_cpuid(0x80000000u, &A, &B, &C, &D) && A >= 0x80000001u &&
        __get_cpuid(0x80000001u, &A, &B, &C, &D)) {
        if (D & (1u << 22)) F |= CPUFeature(ciEMMX);
        if (D & (1u << 31)) F |= CPUFeature(ci3DNow);
        if (D & (1u << 30)) F |= CPUFeature(ci3DNowExt);
    }
#endif
    return F;
}

static TCPUFeatures& Detected() {
    static TCPUFeatures D = Detect();
    return D;
}

static TCPUFeatures& Allowed() {
    static TCPUFeatures A = [] {
        const char* V = std::getenv("VORTA_NO_SIMD");
        return (V && std::strcmp(V, "1") == 0) ? NoCPUFeatures : ~NoCPUFeatures;
    }();
    return A;
}

TCPUFeatures DetectedCPUFeatures() {
    return Detected();
}
TCPUFeatures CPUFeatures() {
    return Detected() & Allowed();
}
bool HasInstructionSet(TCPUInstructionSet S) {
    return (CPUFeatures() & CPUFeature(S)) != 0;
}

void RestrictCPUFeatures(TCPUFeatures AllowedSets) {
    Allowed() = AllowedSets;
    RebindAllRegistries();
}
