// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz entry for the PNG loader. Each input is loaded twice, with the SSE2
// forms on and off; both must fail with the same exception or give the same
// pixels and transparency flag.
#include <cstdint>
#include <cstdlib>
#include <istream>
#include <string>
#include <typeinfo>
#include <vector>

#include "GR32_System.h"
#include "pngimage.h"

namespace {

struct MemoryBuf : std::streambuf {
    MemoryBuf(const uint8_t* Data, size_t Size) {
        char* P = reinterpret_cast<char*>(const_cast<uint8_t*>(Data));
        setg(P, P, P + Size);
    }
};

struct Outcome {
    std::string Error;
    int Width = 0, Height = 0;
    bool UsesAlpha = false;
    std::vector<TColor32> Pixels;
};

Outcome LoadOnce(const uint8_t* Data, size_t Size, bool SSE2) {
    RestrictCPUFeatures(SSE2 ? ~NoCPUFeatures : NoCPUFeatures);
    MemoryBuf Buf(Data, Size);
    std::istream In(&Buf);
    TBitmap32 B;
    Outcome O;
    try {
        LoadPictureStream(B, In, O.UsesAlpha);
    } catch (const Exception& E) {
        O.Error = typeid(E).name();
    }
    O.Width = B.Width();
    O.Height = B.Height();
    if (B.Bits()) O.Pixels.assign(B.Bits(), B.Bits() + size_t(B.Width()) * B.Height());
    return O;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    Outcome A = LoadOnce(Data, Size, true), B = LoadOnce(Data, Size, false);
    RestrictCPUFeatures(~NoCPUFeatures);
    if (A.Error != B.Error || A.Width != B.Width || A.Height != B.Height ||
        A.UsesAlpha != B.UsesAlpha || A.Pixels != B.Pixels)
        std::abort();
    return 0;
}
