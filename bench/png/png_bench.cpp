// SPDX-License-Identifier: GPL-3.0-or-later
// PNG loading to the same output: this reader (into a TBitmap32, drawn onto
// white with the file's gamma applied, as the console shows a picture) side
// by side with libpng, libspng and stb_image decoding the same bytes to 8-bit
// RGBA, after which each peer's pixels get the same gamma table and the same
// drawing onto white. Before timing, every peer's pixels are compared with
// this reader's (red, green and blue; alpha is left out, as this reader keeps
// key-coloured pixels opaque): a peer that differs by more than 1 in any
// channel of any pixel is reported and its row left out.
// Pictures: a 403 x 404 RGBA dial drawn here and written by libpng with its
// default settings, the dial pictures under img/, and the public PNG test
// suite (its primary and 16-bit sets). Rounds take turns over the decoders
// (the order rotating); the figures are medians of the rounds.
//
// This reader inflates a whole picture's data with libdeflate and has no
// switch to zlib, so no row shows it on zlib.
#include <benchmark/benchmark.h>
#include <png.h>
#include <spng.h>
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include "pngimage.h"
#include "pngrows.h"

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
    std::string Name, Bytes;
    uint8_t Gamma[256]; // the file's gamma table, as this reader builds it
};

Picture Prepare(std::string Name, std::string Bytes) {
    Picture P{std::move(Name), std::move(Bytes), {}};
    TPNGObject Png;
    MemoryBuf Buf(P.Bytes);
    std::istream In(&Buf);
    Png.LoadFromStream(In);
    std::memcpy(P.Gamma, Png.GammaTable(), 256);
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

using TPixels = std::vector<TColor32>;

void DecodeVorta(const Picture& P, TPixels& Out) {
    thread_local TBitmap32 B;
    MemoryBuf Buf(P.Bytes);
    std::istream In(&Buf);
    bool UsesAlpha = false;
    LoadPictureStream(B, In, UsesAlpha);
    Out.assign(B.Bits(), B.Bits() + size_t(B.Width()) * B.Height());
    benchmark::DoNotOptimize(Out.data());
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

void LibpngRgba(const Picture& P, std::vector<uint8_t>& Out) {
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
}

// The peer's RGBA drawn as this reader draws: gamma, then onto white.
void OverWhite(const Picture& P, const std::vector<uint8_t>& Rgba, TPixels& Out) {
    Out.resize(Rgba.size() / 4);
    const uint8_t* G = P.Gamma;
    for (size_t i = 0; i < Out.size(); ++i) {
        const uint8_t* X = &Rgba[i * 4];
        Out[i] = PngOverWhite(PngRgb(G[X[0]], G[X[1]], G[X[2]]), X[3]);
    }
    benchmark::DoNotOptimize(Out.data());
}

void DecodeLibpng(const Picture& P, TPixels& Out) {
    thread_local std::vector<uint8_t> Rgba;
    LibpngRgba(P, Rgba);
    OverWhite(P, Rgba, Out);
}

void DecodeSpng(const Picture& P, TPixels& Out) {
    thread_local std::vector<uint8_t> Rgba;
    spng_ctx* Ctx = spng_ctx_new(0);
    size_t Size = 0;
    if (spng_set_png_buffer(Ctx, P.Bytes.data(), P.Bytes.size()) != 0 ||
        spng_decoded_image_size(Ctx, SPNG_FMT_RGBA8, &Size) != 0) {
        spng_ctx_free(Ctx);
        throw std::runtime_error("libspng failed on " + P.Name);
    }
    Rgba.resize(Size);
    const int Err = spng_decode_image(Ctx, Rgba.data(), Size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
    spng_ctx_free(Ctx);
    if (Err != 0) throw std::runtime_error("libspng failed on " + P.Name);
    OverWhite(P, Rgba, Out);
}

void DecodeStb(const Picture& P, TPixels& Out) {
    thread_local std::vector<uint8_t> Rgba;
    int W = 0, H = 0, N = 0;
    stbi_uc* Pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(P.Bytes.data()),
                                            int(P.Bytes.size()), &W, &H, &N, 4);
    if (!Pixels) throw std::runtime_error("stb_image failed on " + P.Name);
    Rgba.assign(Pixels, Pixels + size_t(W) * H * 4);
    stbi_image_free(Pixels);
    OverWhite(P, Rgba, Out);
}

struct TDecoder {
    const char* Name;
    void (*Decode)(const Picture&, TPixels&);
};
const TDecoder Decoders[] = {{"this reader", DecodeVorta},
                             {"libpng", DecodeLibpng},
                             {"libspng", DecodeSpng},
                             {"stb_image", DecodeStb}};
constexpr size_t DecoderCount = sizeof Decoders / sizeof Decoders[0];

// Pictures on which decoder K's pixels differ from this reader's by more
// than 1 in red, green or blue (empty: the same output).
std::string Differences(size_t K, const std::vector<Picture>& Set) {
    std::string Bad;
    TPixels Ours, Theirs;
    for (const Picture& P : Set) {
        DecodeVorta(P, Ours);
        Decoders[K].Decode(P, Theirs);
        bool Same = Ours.size() == Theirs.size();
        for (size_t i = 0; Same && i < Ours.size(); ++i)
            for (int Shift : {0, 8, 16})
                Same = Same && std::abs(int((Ours[i] >> Shift) & 0xFF) -
                                        int((Theirs[i] >> Shift) & 0xFF)) <= 1;
        if (!Same) Bad += " " + P.Name;
    }
    return Bad;
}

double Median(std::vector<double> V) {
    std::sort(V.begin(), V.end());
    return V.empty() ? 0 : V[V.size() / 2];
}

// Rounds over the set, the decoders taking turns, the order rotating each
// round; per decoder the median time of decoding the whole set (µs).
void RunSet(benchmark::State& State, const std::vector<Picture>& Set, const char* SetName) {
    bool Usable[DecoderCount];
    for (size_t K = 0; K < DecoderCount; ++K) {
        const std::string Bad = K ? Differences(K, Set) : std::string();
        Usable[K] = Bad.empty();
        if (!Usable[K])
            std::printf("%s: %s's pixels differ from this reader's on%s; its row is left out\n",
                        SetName, Decoders[K].Name, Bad.c_str());
    }
    std::vector<double> Us[DecoderCount];
    TPixels Out;
    size_t Round = 0;
    using Clock = std::chrono::steady_clock;
    for (auto _ : State) {
        for (size_t j = 0; j < DecoderCount; ++j) {
            const size_t K = (j + Round) % DecoderCount;
            if (!Usable[K]) continue;
            const auto T0 = Clock::now();
            for (const Picture& P : Set)
                Decoders[K].Decode(P, Out);
            Us[K].push_back(std::chrono::duration<double, std::micro>(Clock::now() - T0).count());
        }
        ++Round;
    }
    const double Ours = Median(Us[0]);
    State.counters["this_reader_us"] = Ours;
    std::printf("%s, %zu pictures, median of %zu rounds: this reader %.1f us", SetName, Set.size(),
                Round, Ours);
    for (size_t K = 1; K < DecoderCount; ++K)
        if (Usable[K]) {
            const double Theirs = Median(Us[K]);
            State.counters[std::string(Decoders[K].Name) + "_us"] = Theirs;
            std::printf("; %s %.1f us (ratio %.2f)", Decoders[K].Name, Theirs, Ours / Theirs);
        }
    std::printf("\n");
    std::fflush(stdout);
}

void BM_Dials_AllDecoders(benchmark::State& State) {
    RunSet(State, Dials(), "dials (drawn + img/Mode*.png)");
}
BENCHMARK(BM_Dials_AllDecoders)->Unit(benchmark::kMillisecond)->Iterations(101);

void BM_Suite_AllDecoders(benchmark::State& State) {
    RunSet(State, Suite(), "PNG test suite (primary + 16-bit)");
}
BENCHMARK(BM_Suite_AllDecoders)->Unit(benchmark::kMillisecond)->Iterations(101);

} // namespace

BENCHMARK_MAIN();
