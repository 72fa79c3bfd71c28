// SPDX-License-Identifier: GPL-3.0-or-later
// PNG loading: this reader (into a TBitmap32) side by side with libpng
// decoding the same bytes to RGBA, and with zlib's inflate alone on the same
// image data as the floor. Pictures: a 403 x 404 RGBA dial drawn here and
// written by libpng with its default settings, the dial pictures under img/
// when present, and the public PNG test suite.
#include <benchmark/benchmark.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include "GR32_System.h"
#include "pngimage.h"

namespace {

struct MemoryBuf : std::streambuf {
    MemoryBuf(const std::string& S) {
        char* P = const_cast<char*>(S.data());
        setg(P, P, P + S.size());
    }
};

std::string ReadFile(const std::string& Path) {
    std::ifstream F(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(F), {});
}

void WriteCallback(png_structp Png, png_bytep Data, png_size_t Size) {
    static_cast<std::string*>(png_get_io_ptr(Png))->append(reinterpret_cast<char*>(Data), Size);
}

// A gauge face: shaded disc with an anti-aliased rim, ticks and coloured
// bands, transparent outside.
std::string DrawDial() {
    const int W = 403, H = 404;
    const double Cx = 202, Cy = 200, R = 195;
    std::vector<uint8_t> Rgba(size_t(W) * H * 4);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            double Dx = x + 0.5 - Cx, Dy = y + 0.5 - Cy, D = std::hypot(Dx, Dy);
            double Angle = std::atan2(Dy, Dx) * 180 / M_PI + 180;
            double Cover = std::clamp(R - D + 0.5, 0.0, 1.0);
            double Shade = 255 - 40 * D / R;
            uint8_t Pr = uint8_t(Shade), Pg = uint8_t(Shade), Pb = uint8_t(Shade - 8);
            if (D > R - 8) Pr = Pg = Pb = 60;
            bool Tick = std::fmod(Angle + 0.6, 10.0) < 1.2 && D > R - 30 && D < R - 10;
            if (Tick) Pr = Pg = Pb = 10;
            if (D > R - 45 && D < R - 35 && Angle > 20 && Angle < 80) Pr = 40, Pg = 180, Pb = 60;
            if (D > R - 45 && D < R - 35 && Angle > 100 && Angle < 160) Pr = 220, Pg = 40, Pb = 30;
            uint8_t* P = &Rgba[(size_t(y) * W + x) * 4];
            P[0] = Pr, P[1] = Pg, P[2] = Pb, P[3] = uint8_t(std::lround(Cover * 255));
        }
    std::string Out;
    png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop Info = png_create_info_struct(Png);
    png_set_write_fn(Png, &Out, WriteCallback, nullptr);
    png_set_IHDR(Png, Info, W, H, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(Png, Info);
    for (int y = 0; y < H; ++y)
        png_write_row(Png, &Rgba[size_t(y) * W * 4]);
    png_write_end(Png, Info);
    png_destroy_write_struct(&Png, &Info);
    return Out;
}

struct Picture {
    std::string Name, Bytes, Idat; // Idat: the concatenated compressed image data
    size_t RawSize = 0;            // inflated size
};

Picture Prepare(std::string Name, std::string Bytes) {
    Picture P{std::move(Name), std::move(Bytes), {}, 0};
    for (size_t At = 8; At + 12 <= P.Bytes.size();) {
        const uint8_t* H = reinterpret_cast<const uint8_t*>(&P.Bytes[At]);
        size_t Len = size_t(H[0]) << 24 | H[1] << 16 | H[2] << 8 | H[3];
        if (std::memcmp(H + 4, "IDAT", 4) == 0) P.Idat.append(P.Bytes, At + 8, Len);
        At += Len + 12;
    }
    TPNGObject Png;
    MemoryBuf Buf(P.Bytes);
    std::istream In(&Buf);
    Png.LoadFromStream(In);
    P.RawSize = Png.Header()->ImageDataSize();
    return P;
}

std::vector<Picture>& Dials() {
    static std::vector<Picture> List = [] {
        std::vector<Picture> L{Prepare("drawn", DrawDial())};
        std::error_code Ec;
        for (auto& E :
             std::filesystem::directory_iterator(std::string(VORTA_SOURCE_DIR) + "/img", Ec)) {
            std::string N = E.path().filename().string();
            std::transform(N.begin(), N.end(), N.begin(), ::tolower);
            if (N.rfind("mode", 0) == 0 && N.size() > 4 && N.substr(N.size() - 4) == ".png")
                L.push_back(Prepare(N, ReadFile(E.path().string())));
        }
        return L;
    }();
    return List;
}

std::vector<Picture>& Suite() {
    static std::vector<Picture> List = [] {
        std::vector<Picture> L;
        for (const char* Folder : {"primary", "16bit"})
            for (auto& E : std::filesystem::directory_iterator(std::string(VORTA_TESTDATA_DIR) +
                                                               "/pngsuite/" + Folder))
                L.push_back(Prepare(E.path().filename().string(), ReadFile(E.path().string())));
        return L;
    }();
    return List;
}

void DecodeVorta(const Picture& P, TBitmap32& B) {
    MemoryBuf Buf(P.Bytes);
    std::istream In(&Buf);
    bool UsesAlpha = false;
    LoadPictureStream(B, In, UsesAlpha);
    benchmark::DoNotOptimize(B.Bits());
}

struct ReadState {
    const std::string* Bytes;
    size_t At;
};
void ReadCallback(png_structp Png, png_bytep Data, png_size_t Size) {
    auto* S = static_cast<ReadState*>(png_get_io_ptr(Png));
    if (S->At + Size > S->Bytes->size()) png_error(Png, "short");
    std::memcpy(Data, S->Bytes->data() + S->At, Size);
    S->At += Size;
}

void DecodeLibpng(const Picture& P, std::vector<uint8_t>& Out) {
    ReadState S{&P.Bytes, 0};
    png_structp Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop Info = png_create_info_struct(Png);
    if (setjmp(png_jmpbuf(Png))) {
        png_destroy_read_struct(&Png, &Info, nullptr);
        throw std::runtime_error("libpng failed on " + P.Name);
    }
    png_set_read_fn(Png, &S, ReadCallback);
    png_read_info(Png, Info);
    png_set_expand(Png);
    png_set_strip_16(Png);
    png_set_gray_to_rgb(Png);
    png_set_add_alpha(Png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(Png);
    png_read_update_info(Png, Info);
    const uint32_t W = png_get_image_width(Png, Info), H = png_get_image_height(Png, Info);
    Out.resize(size_t(W) * H * 4);
    std::vector<png_bytep> Rows(H);
    for (uint32_t y = 0; y < H; ++y)
        Rows[y] = &Out[size_t(y) * W * 4];
    png_read_image(Png, Rows.data());
    png_read_end(Png, nullptr);
    png_destroy_read_struct(&Png, &Info, nullptr);
    benchmark::DoNotOptimize(Out.data());
}

void InflateOnly(const Picture& P, std::vector<uint8_t>& Out) {
    Out.resize(P.RawSize);
    uLongf Size = uLongf(Out.size());
    uncompress(Out.data(), &Size, reinterpret_cast<const Bytef*>(P.Idat.data()),
               uLong(P.Idat.size()));
    benchmark::DoNotOptimize(Out.data());
}

void SetBytes(benchmark::State& State, const std::vector<Picture>& L) {
    size_t Raw = 0;
    for (auto& P : L)
        Raw += P.RawSize;
    State.SetBytesProcessed(int64_t(State.iterations() * Raw));
}

void BM_Dial_Vorta(benchmark::State& State) {
    const Picture& P = Dials()[size_t(State.range(0))];
    TBitmap32 B;
    for (auto _ : State)
        DecodeVorta(P, B);
    State.SetLabel(P.Name);
}
void BM_Dial_VortaPortable(benchmark::State& State) {
    const Picture& P = Dials()[size_t(State.range(0))];
    RestrictCPUFeatures(NoCPUFeatures);
    TBitmap32 B;
    for (auto _ : State)
        DecodeVorta(P, B);
    RestrictCPUFeatures(~NoCPUFeatures);
    State.SetLabel(P.Name);
}
void BM_Dial_Libpng(benchmark::State& State) {
    const Picture& P = Dials()[size_t(State.range(0))];
    std::vector<uint8_t> Out;
    for (auto _ : State)
        DecodeLibpng(P, Out);
    State.SetLabel(P.Name);
}
void BM_Dial_InflateOnly(benchmark::State& State) {
    const Picture& P = Dials()[size_t(State.range(0))];
    std::vector<uint8_t> Out;
    for (auto _ : State)
        InflateOnly(P, Out);
    State.SetLabel(P.Name);
}

// Both decoders on the same picture in turn, in one loop: the ratio is this
// reader's time over libpng's.
void BM_Dial_VersusLibpng(benchmark::State& State) {
    const Picture& P = Dials()[size_t(State.range(0))];
    TBitmap32 B;
    std::vector<uint8_t> Out;
    using Clock = std::chrono::steady_clock;
    Clock::duration Vorta{}, Libpng{};
    for (auto _ : State) {
        const auto T0 = Clock::now();
        DecodeVorta(P, B);
        const auto T1 = Clock::now();
        DecodeLibpng(P, Out);
        Vorta += T1 - T0;
        Libpng += Clock::now() - T1;
    }
    const double N = double(State.iterations());
    State.counters["vorta_us"] = std::chrono::duration<double, std::micro>(Vorta).count() / N;
    State.counters["libpng_us"] = std::chrono::duration<double, std::micro>(Libpng).count() / N;
    State.counters["ratio"] = double(Vorta.count()) / double(Libpng.count());
    State.SetLabel(P.Name);
}

void BM_Suite_Vorta(benchmark::State& State) {
    TBitmap32 B;
    for (auto _ : State)
        for (auto& P : Suite())
            DecodeVorta(P, B);
    SetBytes(State, Suite());
}
void BM_Suite_Libpng(benchmark::State& State) {
    std::vector<uint8_t> Out;
    for (auto _ : State)
        for (auto& P : Suite())
            DecodeLibpng(P, Out);
    SetBytes(State, Suite());
}
void BM_Suite_InflateOnly(benchmark::State& State) {
    std::vector<uint8_t> Out;
    for (auto _ : State)
        for (auto& P : Suite())
            InflateOnly(P, Out);
    SetBytes(State, Suite());
}

void DialArgs(benchmark::internal::Benchmark* B) {
    for (size_t i = 0; i < Dials().size(); ++i)
        B->Arg(int64_t(i));
    B->Unit(benchmark::kMicrosecond);
}

} // namespace

BENCHMARK(BM_Dial_Vorta)->Apply(DialArgs);
BENCHMARK(BM_Dial_VortaPortable)->Apply(DialArgs);
BENCHMARK(BM_Dial_Libpng)->Apply(DialArgs);
BENCHMARK(BM_Dial_InflateOnly)->Apply(DialArgs);
BENCHMARK(BM_Dial_VersusLibpng)->Apply(DialArgs);
BENCHMARK(BM_Suite_Vorta)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Suite_Libpng)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Suite_InflateOnly)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
