// SPDX-License-Identifier: GPL-3.0-or-later
#include "pngimage.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <new>
#include <streambuf>

#include "ScopeGuards.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pngrows.h"

namespace {

const uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// Larger pieces would not make reading faster; smaller ones cost calls.
constexpr size_t ReadPiece = 65535;
// Output handed to the decompressor per call: small enough that the rows it
// produces are still in the cache when they are unfiltered.
constexpr size_t InflateStep = 64 * 1024;
// First allocation for the decoded data; it doubles from there, so beyond
// this much, memory follows the data actually present rather than what the
// header claims.
constexpr size_t InitialImageCapacity = 64u << 20;

uint32_t BigEndian32(const uint8_t* P) {
    return (uint32_t(P[0]) << 24) | (uint32_t(P[1]) << 16) | (uint32_t(P[2]) << 8) | P[3];
}

void ReadExact(std::istream& Stream, void* Buffer, size_t Count) {
    Stream.read(static_cast<char*>(Buffer), std::streamsize(Count));
    if (size_t(Stream.gcount()) != Count) throw EPngUnexpectedEnd();
}

void Skip(std::istream& Stream, uint64_t Count) {
    Stream.ignore(std::streamsize(Count));
    if (uint64_t(Stream.gcount()) != Count) throw EPngUnexpectedEnd();
}

std::string ZDescription(const z_stream& Z, int Result) {
    return Z.msg ? Z.msg : zError(Result);
}

bool ValidColorDepth(uint8_t ColorType, uint8_t Depth) {
    switch (ColorType) {
    case COLOR_GRAYSCALE:
        return Depth == 1 || Depth == 2 || Depth == 4 || Depth == 8 || Depth == 16;
    case COLOR_PALETTE:
        return Depth == 1 || Depth == 2 || Depth == 4 || Depth == 8;
    case COLOR_RGB:
    case COLOR_GRAYSCALEALPHA:
    case COLOR_RGBALPHA:
        return Depth == 8 || Depth == 16;
    default:
        return false;
    }
}

} // namespace

// ---------------------------------------------------------------- chunks

namespace {

// Appends a chunk's Size data bytes to Into and checks its CRC; on failure
// Into is left as it was.
void ReadChunkData(std::istream& Stream, const std::string& Name, uint32_t Size,
                   std::vector<uint8_t>& Into) {
    const size_t Start = Into.size();
    try {
        Into.reserve(Start + std::min<size_t>(Size, 1u << 20));
        for (size_t Got = 0; Got < Size;) {
            size_t Piece = std::min<size_t>(Size - Got, ReadPiece);
            Into.resize(Start + Got + Piece);
            ReadExact(Stream, Into.data() + Start + Got, Piece);
            Got += Piece;
        }
        uint8_t CrcBytes[4];
        ReadExact(Stream, CrcBytes, 4);
        uint32_t Crc = libdeflate_crc32(0, Name.data(), 4);
        // (A null buffer would make the sum restart, whatever its length.)
        if (Size != 0) Crc = libdeflate_crc32(Crc, Into.data() + Start, Size);
        if (Crc != BigEndian32(CrcBytes)) throw EPngInvalidCRC();
    } catch (...) {
        Into.resize(Start);
        throw;
    }
}

} // namespace

void TChunk::LoadFromStream(std::istream& Stream, uint32_t Size) {
    FData.clear();
    ReadChunkData(Stream, FName, Size, FData);
}

TChunkIHDR::~TChunkIHDR() {
    std::free(FImageData);
}

int TChunkIHDR::Channels() const {
    switch (FColorType) {
    case COLOR_RGB:
        return 3;
    case COLOR_GRAYSCALEALPHA:
        return 2;
    case COLOR_RGBALPHA:
        return 4;
    default:
        return 1;
    }
}

int TChunkIHDR::FilterBpp() const {
    return std::max(1, Channels() * FBitDepth / 8);
}

void TChunkIHDR::LoadFromStream(std::istream& Stream, uint32_t Size) {
    TChunk::LoadFromStream(Stream, Size);
    if (FData.size() < 13) throw EPngInvalidIHDR();
    const uint32_t W = BigEndian32(&FData[0]), H = BigEndian32(&FData[4]);
    // The standard forbids an empty picture; reading one on would leave
    // scanlines of no length for the image data to fill.
    if (W == 0 || H == 0) throw EPngInvalidIHDR();
    const TPNGLimits& Limits = FOwner->Limits();
    if (W > Limits.MaxDimension || H > Limits.MaxDimension) throw EPNGSizeExceeds();
    if (FData[10] != 0) throw EPNGUnknownCompression();
    if (FData[12] > 1) throw EPNGUnknownInterlace();
    // An impossible pair would make the scanline lengths below wrong.
    if (!ValidColorDepth(FData[9], FData[8])) throw EPngInvalidIHDR();
    if (uint64_t(W) * H > Limits.MaxPixels) throw EPNGOutMemory();
    FWidth = W;
    FHeight = H;
    FBitDepth = FData[8];
    FColorType = FData[9];
    FCompressionMethod = FData[10];
    FFilterMethod = FData[11];
    FInterlaceMethod = FData[12];

    static const uint32_t Adam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                         {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    static const uint32_t Plain[1][4] = {{0, 0, 1, 1}};
    const auto* Layout = FInterlaceMethod ? Adam7 : Plain;
    const int Count = FInterlaceMethod ? 7 : 1;
    const uint64_t BitsPerPixel = uint64_t(Channels()) * FBitDepth;
    FPasses.clear();
    uint64_t Offset = 0;
    for (int p = 0; p < Count; ++p) {
        TPNGPass P{Layout[p][0], Layout[p][1], Layout[p][2], Layout[p][3], 0, 0, 0, 0};
        if (W > P.X0 && H > P.Y0) {
            P.Width = (W - P.X0 + P.Dx - 1) / P.Dx;
            P.Height = (H - P.Y0 + P.Dy - 1) / P.Dy;
            P.RowBytes = size_t((P.Width * BitsPerPixel + 7) / 8);
        }
        P.Offset = size_t(Offset);
        Offset += uint64_t(P.Height) * (P.RowBytes + 1) * (P.Width != 0);
        FPasses.push_back(P);
    }
    FImageDataSize = size_t(Offset);
}

void TChunkPLTE::LoadFromStream(std::istream& Stream, uint32_t Size) {
    TChunk::LoadFromStream(Stream, Size);
    if (FData.size() % 3 != 0 || FData.size() / 3 > 256) throw EPNGInvalidPalette();
}

TColor32 TChunkPLTE::Item(int Index) const {
    if (Index < 0 || Index >= Count()) throw EPngError(pnglang::EPNGPaletteEntryText);
    const uint8_t* P = &FData[size_t(Index) * 3];
    return 0xFF000000u | PngRgb(P[0], P[1], P[2]);
}

void TChunktRNS::LoadFromStream(std::istream& Stream, uint32_t Size) {
    TChunk::LoadFromStream(Stream, Size);
    if (FData.size() > 256) throw EPNGInvalidPalette();
}

bool TChunktRNS::KeySample(int K, uint16_t& Value) const {
    const size_t At = size_t(K) * 2;
    if (At + 2 > FData.size()) return false;
    Value = uint16_t((FData[At] << 8) | FData[At + 1]);
    return true;
}

uint32_t TChunkgAMA::Gamma() const {
    return FData.size() >= 4 ? BigEndian32(FData.data()) : 0;
}

void TChunkgAMA::LoadFromStream(std::istream& Stream, uint32_t Size) {
    TChunk::LoadFromStream(Stream, Size);
    const uint32_t V = Gamma();
    if (V == 0) return;
    // Pictures of one set carry the same value; the powers are dear.
    thread_local uint32_t CachedValue = 0;
    thread_local uint8_t Cached[256];
    if (V != CachedValue) {
        const double Exponent = 1.0 / (V / 100000.0 * 2.2);
        for (int i = 0; i < 256; ++i)
            Cached[i] = uint8_t(
                std::clamp(std::nearbyint(255.0 * std::pow(i / 255.0, Exponent)), 0.0, 255.0));
        CachedValue = V;
    }
    for (int i = 0; i < 256; ++i) {
        FOwner->FGammaTable[i] = Cached[i];
        FOwner->FInverseTable[Cached[i]] = uint8_t(i);
    }
}

uint32_t TChunkpHYs::PPUnitX() const {
    return FData.size() >= 9 ? BigEndian32(&FData[0]) : 0;
}
uint32_t TChunkpHYs::PPUnitY() const {
    return FData.size() >= 9 ? BigEndian32(&FData[4]) : 0;
}

std::string TChunktEXt::Keyword() const {
    auto End = std::find(FData.begin(), FData.end(), uint8_t(0));
    return std::string(FData.begin(), End);
}

std::string TChunktEXt::Text() const {
    auto End = std::find(FData.begin(), FData.end(), uint8_t(0));
    return End == FData.end() ? std::string() : std::string(End + 1, FData.end());
}

std::string TChunkzTXt::Text() const {
    const size_t MaxText = FOwner->Limits().MaxTextBytes;
    auto End = std::find(FData.begin(), FData.end(), uint8_t(0));
    if (FData.end() - End < 2 || End[1] != 0) return {};
    const uint8_t* In = &*End + 2;
    z_stream Z{};
    if (inflateInit(&Z) != Z_OK) return {};
    std::string Out(MaxText, '\0');
    Z.next_in = const_cast<Bytef*>(In);
    Z.avail_in = uInt(FData.data() + FData.size() - In);
    Z.next_out = reinterpret_cast<Bytef*>(&Out[0]);
    Z.avail_out = uInt(MaxText);
    int R = inflate(&Z, Z_FINISH);
    Out.resize(MaxText - Z.avail_out);
    inflateEnd(&Z);
    return R == Z_STREAM_END ? Out : std::string();
}

// ---------------------------------------------------------------- image data

// Inflates the run of IDAT chunks into the header's storage and unfilters
// each scanline as soon as it is complete.
class TPNGDecoder {
  public:
    explicit TPNGDecoder(TChunkIHDR& Header) : FH(Header) {
        if (inflateInit(&FZ) != Z_OK) throw EPNGOutMemory();
        // The stream's checksum is verified here, on each piece while it is
        // still in the cache, with a faster sum than the decompressor's.
        inflateValidate(&FZ, 0);
    }
    ~TPNGDecoder() { inflateEnd(&FZ); }
    TPNGDecoder(const TPNGDecoder&) = delete;
    TPNGDecoder& operator=(const TPNGDecoder&) = delete;

    void Feed(const uint8_t* Data, size_t Size) {
        FZ.next_in = const_cast<Bytef*>(Data);
        FZ.avail_in = uInt(Size);
        while (!FEnded && FZ.avail_in > 0) {
            if (FProduced == FH.FImageDataSize) {
                // The picture is complete: the stream may only end now.
                uint8_t Extra;
                FZ.next_out = &Extra;
                FZ.avail_out = 1;
                int R = Inflate();
                if (FZ.avail_out == 0) throw EPNGZLIBError(pnglang::ZDescTooMuchData);
                Check(R);
                continue;
            }
            if (FProduced == FH.FImageCapacity) Grow();
            const size_t Room = std::min(FH.FImageCapacity - FProduced, InflateStep);
            uint8_t* Out = FH.FImageData + FProduced;
            FZ.next_out = Out;
            FZ.avail_out = uInt(Room);
            int R = Inflate();
            const size_t Made = Room - FZ.avail_out;
            FAdler = PngAdler32(FAdler, Out, Made);
            FProduced += Made;
            Check(R);
            UnfilterReady();
        }
    }

    // The run of IDAT chunks is over: the stream must have ended with
    // exactly the picture's data.
    void Finish() {
        if (!FEnded || FProduced != FH.FImageDataSize) throw EPNGMissingMultipleIDAT();
    }

  private:
    // Keeps the last four bytes consumed: at the stream's end they are its
    // checksum, wherever the chunk boundaries fell.
    int Inflate() {
        const Bytef* In = FZ.next_in;
        int R = inflate(&FZ, Z_NO_FLUSH);
        const size_t Used = size_t(FZ.next_in - In);
        for (size_t k = Used > 4 ? Used - 4 : 0; k < Used; ++k)
            FTrailer = (FTrailer << 8) | In[k];
        return R;
    }

    void Check(int R) {
        if (R == Z_STREAM_END) {
            FEnded = true;
            if (FTrailer != FAdler) throw EPNGZLIBError("incorrect data check");
        } else if (R == Z_MEM_ERROR) {
            throw EPNGOutMemory();
        } else if (R != Z_OK && R != Z_BUF_ERROR) {
            throw EPNGZLIBError(ZDescription(FZ, R));
        }
    }

    void Grow() {
        size_t Capacity = FH.FImageCapacity ? FH.FImageCapacity * 2 : InitialImageCapacity;
        Capacity = std::min(Capacity, FH.FImageDataSize);
        void* P = std::realloc(FH.FImageData, Capacity);
        if (!P) throw EPNGOutMemory();
        FH.FImageData = static_cast<uint8_t*>(P);
        FH.FImageCapacity = Capacity;
    }

    void UnfilterReady() {
        const auto& Passes = FH.FPasses;
        const int Bpp = FH.FilterBpp();
        while (FPass < Passes.size()) {
            const TPNGPass& P = Passes[FPass];
            if (P.Width == 0) {
                ++FPass;
                continue;
            }
            const size_t Length = P.RowBytes + 1;
            if (FRowStart + Length > FProduced) break;
            uint8_t* Row = FH.FImageData + FRowStart;
            if (Row[0] > 4) throw EPNGZLIBError(pnglang::ZDescBadFilter);
            PngUnfilterRow(Row[0], Row + 1, FRow ? Row + 1 - Length : nullptr, P.RowBytes, Bpp);
            FRowStart += Length;
            if (++FRow == P.Height) {
                ++FPass;
                FRow = 0;
            }
        }
    }

    TChunkIHDR& FH;
    z_stream FZ{};
    bool FEnded = false;
    uint32_t FAdler = 1, FTrailer = 0;
    size_t FProduced = 0;
    size_t FRowStart = 0;
    size_t FPass = 0;
    uint32_t FRow = 0;
};

namespace {

// Deflate cannot expand its input by more than this (a 258-byte match coded
// in one bit, plus block overhead).
constexpr uint64_t DeflateMaxRatio = 1032;

struct TDecompressorFree {
    void operator()(libdeflate_decompressor* D) const { libdeflate_free_decompressor(D); }
};

// Inflates a whole run's data in one call and unfilters it. Gives up (false)
// wherever the streaming decoder could see anything but a clean picture:
// then the streaming decoder runs over the same data and reports exactly what
// it always has. It also gives up where it would allocate for a size that
// the data cannot fill.
bool InflateAtOnce(TChunkIHDR& H, const std::vector<uint8_t>& Data, uint8_t*& Image,
                   size_t& Capacity) {
    const size_t Size = H.ImageDataSize();
    if (Data.size() < 2 || Size > Data.size() * DeflateMaxRatio) return false;
    thread_local std::unique_ptr<libdeflate_decompressor, TDecompressorFree> Decompressor(
        libdeflate_alloc_decompressor());
    if (!Decompressor) return false;
    if (Capacity < Size) {
        void* P = std::realloc(Image, Size);
        if (!P) return false;
        Image = static_cast<uint8_t*>(P);
        Capacity = Size;
    }
    size_t Used = 0;
    // No count of bytes out: the data must fill the picture exactly.
    if (libdeflate_zlib_decompress_ex(Decompressor.get(), Data.data(), Data.size(), Image, Size,
                                      &Used, nullptr) != LIBDEFLATE_SUCCESS)
        return false;
    const int Bpp = H.FilterBpp();
    for (const TPNGPass& P : H.Passes()) {
        if (P.Width == 0) continue;
        const size_t Length = P.RowBytes + 1;
        uint8_t* Row = Image + P.Offset;
        for (uint32_t r = 0; r < P.Height; ++r, Row += Length) {
            if (Row[0] > 4) return false;
            PngUnfilterRow(Row[0], Row + 1, r ? Row + 1 - Length : nullptr, P.RowBytes, Bpp);
        }
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------- picture

TPNGObject::TPNGObject() {
    Clear();
}
TPNGObject::~TPNGObject() = default;

void TPNGObject::Clear() {
    FChunks.clear();
    FComplete = false;
    for (int i = 0; i < 256; ++i)
        FGammaTable[i] = FInverseTable[i] = uint8_t(i);
}

TChunkIHDR* TPNGObject::Header() const {
    return FChunks.empty() ? nullptr : static_cast<TChunkIHDR*>(FChunks.front().get());
}

int TPNGObject::Width() const {
    return FComplete ? int(Header()->Width()) : 0;
}
int TPNGObject::Height() const {
    return FComplete ? int(Header()->Height()) : 0;
}

namespace {

std::unique_ptr<TChunk> CreateChunk(TPNGObject* Owner, const std::string& Name) {
    if (Name == "IHDR") return std::make_unique<TChunkIHDR>(Owner, Name);
    if (Name == "IDAT") return std::make_unique<TChunkIDAT>(Owner, Name);
    if (Name == "PLTE") return std::make_unique<TChunkPLTE>(Owner, Name);
    if (Name == "tRNS") return std::make_unique<TChunktRNS>(Owner, Name);
    if (Name == "gAMA") return std::make_unique<TChunkgAMA>(Owner, Name);
    if (Name == "pHYs") return std::make_unique<TChunkpHYs>(Owner, Name);
    if (Name == "tIME") return std::make_unique<TChunktIME>(Owner, Name);
    if (Name == "tEXt") return std::make_unique<TChunktEXt>(Owner, Name);
    if (Name == "zTXt") return std::make_unique<TChunkzTXt>(Owner, Name);
    if (Name == "IEND") return std::make_unique<TChunkIEND>(Owner, Name);
    if (Name[0] >= 'A' && Name[0] <= 'Z') throw EPNGUnknownCriticalChunk();
    return std::make_unique<TChunk>(Owner, Name);
}

} // namespace

void TPNGObject::LoadFromStream(std::istream& Stream, uint32_t MaxSide) {
    TPNGLimits Limits;
    Limits.MaxSide = MaxSide;
    LoadFromStream(Stream, Limits);
}

void TPNGObject::LoadFromStream(std::istream& Stream, const TPNGLimits& Limits) {
    Clear();
    FLimits = Limits;
    const uint32_t MaxSide = Limits.MaxSide;
    size_t KeptChunks = 0;
    uint64_t KeptBytes = 0;
    try {
        uint8_t Signature[8];
        Stream.read(reinterpret_cast<char*>(Signature), 8);
        if (Stream.gcount() != 8 || std::memcmp(Signature, PngSignature, 8) != 0)
            throw EPNGInvalidFileHeader();

        // The run of image data is held and inflated at once when it ends;
        // the streaming decoder takes over what is held where that cannot be
        // done, where the data outgrows the picture, or where the stream
        // fails during the run (it reports any fault in the data before the
        // one that ended the stream, as it met it first).
        std::unique_ptr<TPNGDecoder> Decoder;
        std::vector<uint8_t> Held;
        auto TakeOver = [&] {
            Decoder = std::make_unique<TPNGDecoder>(*Header());
            std::vector<uint8_t> Data;
            Data.swap(Held);
            Decoder->Feed(Data.data(), Data.size());
        };
        bool InRun = false, RunDone = false;
        for (;;)
            try {
                uint8_t Head[8];
                ReadExact(Stream, Head, 8);
                const uint32_t Length = BigEndian32(Head);
                const std::string Name(reinterpret_cast<char*>(Head + 4), 4);
                if (FChunks.empty() && Name != "IHDR") throw EPNGIHDRNotFirst();
                if (InRun && Name != "IDAT") {
                    TChunkIHDR& H = *Header();
                    if (Decoder || !InflateAtOnce(H, Held, H.FImageData, H.FImageCapacity)) {
                        if (!Decoder) TakeOver();
                        Decoder->Finish();
                        Decoder.reset();
                    }
                    std::vector<uint8_t>().swap(Held);
                    InRun = false;
                    RunDone = true;
                }
                if (Name == "cHRM" || (Name == "IDAT" && RunDone)) {
                    Skip(Stream, uint64_t(Length) + 4);
                    continue;
                }
                // A second header would describe data already decoded.
                if (Name == "IHDR" && !FChunks.empty()) throw EPngInvalidIHDR();
                if (Name != "IDAT") {
                    KeptBytes += Length;
                    if (++KeptChunks > Limits.MaxChunks || KeptBytes > Limits.MaxKeptBytes)
                        throw EPNGOutMemory();
                }
                FChunks.push_back(CreateChunk(this, Name));
                TChunk* Chunk = FChunks.back().get();
                if (Name == "IDAT") {
                    InRun = true;
                    if (!Decoder) {
                        ReadChunkData(Stream, Name, Length, Held);
                        const size_t Size = Header()->ImageDataSize();
                        if (Held.size() > Size + Size / 8 + 65536) TakeOver();
                    } else {
                        Chunk->LoadFromStream(Stream, Length);
                        Decoder->Feed(Chunk->Data().data(), Chunk->DataSize());
                        std::vector<uint8_t>().swap(Chunk->FData);
                    }
                    continue;
                }
                Chunk->LoadFromStream(Stream, Length);
                if (Name == "IHDR" && MaxSide != 0 &&
                    (Header()->Width() > MaxSide || Header()->Height() > MaxSide))
                    throw EPNGOutMemory();
                if (Name == "IEND") break;
            } catch (...) {
                if (InRun && !Decoder && !Held.empty()) TakeOver();
                throw;
            }
        if (!RunDone) throw EPNGNoImageData();
    } catch (const std::bad_alloc&) {
        throw EPNGOutMemory();
    }
    FComplete = true;
}

TPNGTransparencyMode TPNGObject::TransparencyMode() const {
    const TChunkIHDR* H = Header();
    if (!H) return ptmNone;
    const TChunktRNS* T = FindChunk<TChunktRNS>();
    uint16_t V;
    switch (H->ColorType()) {
    case COLOR_GRAYSCALE:
        if (T && T->KeySample(0, V) && (H->BitDepth() == 16 || V < (1u << H->BitDepth())))
            return ptmColorKey;
        return ptmNone;
    case COLOR_RGB:
        return T && T->KeySample(2, V) ? ptmColorKey : ptmNone;
    case COLOR_PALETTE: {
        if (!T) return ptmNone;
        int NotOpaque = 0, Value = 255;
        for (uint8_t A : T->Data())
            if (A != 255) {
                ++NotOpaque;
                Value = A;
            }
        // A single entry that is only partly transparent is no key: keying
        // it would make the first fully transparent entry's colour (black
        // when there is none) the key instead.
        return NotOpaque == 1 && Value == 0 ? ptmColorKey : ptmPartial;
    }
    default:
        return ptmPartial;
    }
}

namespace {

// The pixel's grey/palette colour for each sample value, through the gamma
// table (RGB, alpha ignored).
void BuildPalette(const TPNGObject& Png, TColor32 (&Colors)[256]) {
    const TChunkIHDR* H = Png.Header();
    const uint8_t* G = Png.GammaTable();
    std::fill(std::begin(Colors), std::end(Colors), 0u);
    if (H->ColorType() == COLOR_PALETTE) {
        if (const TChunkPLTE* P = Png.FindChunk<TChunkPLTE>())
            for (int i = 0; i < P->Count(); ++i) {
                const uint8_t* E = &P->Data()[size_t(i) * 3];
                Colors[i] = PngRgb(G[E[0]], G[E[1]], G[E[2]]);
            }
        return;
    }
    // 16-bit grey is held at 8 bits.
    const int Depth = std::min<int>(H->BitDepth(), 8);
    const int Max = (1 << Depth) - 1;
    for (int i = 0; i <= Max; ++i) {
        uint8_t L = G[i * 255 / Max];
        Colors[i] = PngRgb(L, L, L);
    }
}

// 16-bit samples are held by their high byte; a key is matched the same way.
uint8_t KeyByte(uint16_t Value, int Depth) {
    return uint8_t(Depth == 16 ? Value >> 8 : Value & 0xFF);
}

} // namespace

TColor32 TPNGObject::TransparentColor() const {
    const TChunkIHDR* H = Header();
    const TChunktRNS* T = FindChunk<TChunktRNS>();
    if (!H || !T) return 0xFF000000u;
    const int Depth = H->BitDepth();
    uint16_t R, G, B;
    if (H->ColorType() == COLOR_RGB && T->KeySample(0, R) && T->KeySample(1, G) &&
        T->KeySample(2, B))
        return 0xFF000000u | PngRgb(FGammaTable[KeyByte(R, Depth)], FGammaTable[KeyByte(G, Depth)],
                                    FGammaTable[KeyByte(B, Depth)]);
    TColor32 Colors[256];
    BuildPalette(*this, Colors);
    if (H->ColorType() == COLOR_GRAYSCALE && T->KeySample(0, R))
        return 0xFF000000u | Colors[KeyByte(R, Depth)];
    if (H->ColorType() == COLOR_PALETTE)
        for (size_t i = 0; i < T->Data().size(); ++i)
            if (T->Data()[i] == 0) return 0xFF000000u | Colors[i];
    return 0xFF000000u;
}

void TPNGObject::DrawTo(TColor32* Bits) const {
    if (!FComplete) throw EPNGHeaderNotPresent();
    const TChunkIHDR& H = *Header();
    const TPNGTransparencyMode Mode = TransparencyMode();
    const int Depth = H.BitDepth(), Type = H.ColorType();
    const uint8_t* Gamma = FGammaTable;
    bool GammaIdentity = true;
    for (int i = 0; i < 256; ++i)
        GammaIdentity = GammaIdentity && Gamma[i] == i;

    // Key pixels show the white surface; it stays opaque unless the key
    // colour is white itself.
    const TColor32 Key = TransparentColor() & 0xFFFFFF;
    const TColor32 Keyed = Key == 0xFFFFFF ? 0x00FFFFFFu : 0xFFFFFFFFu;
    auto Final = [&](TColor32 C) {
        return Mode == ptmColorKey && C == Key ? Keyed : 0xFF000000u | C;
    };

    // Final pixel for each sample value of grey and palette pictures.
    TColor32 Lut[256];
    TColor32 Colors[256];
    BuildPalette(*this, Colors);
    const TChunktRNS* Trns = FindChunk<TChunktRNS>();
    for (int i = 0; i < 256; ++i)
        Lut[i] = Mode == ptmPartial
                     ? 0xFF000000u | PngOverWhite(Colors[i], Trns ? Trns->PaletteAlpha(i) : 255)
                     : Final(Colors[i]);

    const size_t Step = Depth == 16 ? 2 : 1; // 16-bit samples: high byte only
    const uint8_t* Data = H.ImageData();
    for (const TPNGPass& P : H.Passes()) {
        for (uint32_t r = 0; P.Width && r < P.Height; ++r) {
            const uint8_t* S = Data + P.Offset + size_t(r) * (P.RowBytes + 1) + 1;
            TColor32* D = Bits + (size_t(P.Y0) + size_t(r) * P.Dy) * H.Width() + P.X0;
            switch (Type) {
            case COLOR_GRAYSCALE:
            case COLOR_PALETTE:
                if (Depth >= 8) {
                    PutRow(D, P.Width, P.Dx, [&](uint32_t i) { return Lut[S[i * Step]]; });
                } else {
                    const unsigned Mask = (1u << Depth) - 1;
                    PutRow(D, P.Width, P.Dx, [&](uint32_t i) {
                        const size_t Bit = size_t(i) * Depth;
                        return Lut[(S[Bit >> 3] >> (8 - Depth - (Bit & 7))) & Mask];
                    });
                }
                break;
            case COLOR_GRAYSCALEALPHA:
                PutRow(D, P.Width, P.Dx, [&](uint32_t i) {
                    return PngOverWhite(Colors[S[2 * i * Step]], S[(2 * i + 1) * Step]);
                });
                break;
            case COLOR_RGB:
                PutRow(D, P.Width, P.Dx, [&](uint32_t i) {
                    const uint8_t* X = S + 3 * i * Step;
                    return Final(PngRgb(Gamma[X[0]], Gamma[X[Step]], Gamma[X[2 * Step]]));
                });
                break;
            default:
                if (Step == 1 && P.Dx == 1 && GammaIdentity) {
                    PngRgbaRow(S, P.Width, D);
                    break;
                }
                PutRow(D, P.Width, P.Dx, [&](uint32_t i) {
                    const uint8_t* X = S + 4 * i * Step;
                    return PngOverWhite(PngRgb(Gamma[X[0]], Gamma[X[Step]], Gamma[X[2 * Step]]),
                                        X[3 * Step]);
                });
                break;
            }
        }
    }
}

// ---------------------------------------------------------------- loader

namespace {

// A picture file read through its descriptor. The open never blocks (a FIFO
// with no writer would otherwise hold the caller for ever), and only a
// regular file is accepted; anything else fails as a file that cannot be
// opened.
class TFileReader : public std::streambuf {
  public:
    explicit TFileReader(const std::string& FileName)
        : FName(FileName), FFd(::open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
        if (FFd < 0) Fail(std::strerror(errno));
        struct stat St;
        if (::fstat(FFd, &St) != 0) Fail(std::strerror(errno));
        if (!S_ISREG(St.st_mode))
            Fail(S_ISDIR(St.st_mode) ? std::strerror(EISDIR) : "Not a regular file");
    }
    ~TFileReader() override {
        if (FFd >= 0) ::close(FFd);
    }
    TFileReader(const TFileReader&) = delete;
    TFileReader& operator=(const TFileReader&) = delete;

  protected:
    int_type underflow() override {
        ssize_t N;
        do
            N = ::read(FFd, FBuffer, sizeof FBuffer);
        while (N < 0 && errno == EINTR);
        // A read error ends the stream; the reader reports the picture as cut short.
        if (N <= 0) return traits_type::eof();
        setg(FBuffer, FBuffer, FBuffer + N);
        return traits_type::to_int_type(FBuffer[0]);
    }

  private:
    [[noreturn]] void Fail(const char* Reason) {
        if (FFd >= 0) ::close(FFd);
        FFd = -1;
        throw EInOutError("Cannot open file \"" + FName + "\". " + Reason);
    }

    std::string FName;
    int FFd;
    char FBuffer[ReadPiece];
};

} // namespace

void LoadPictureStream(TBitmap32& Bitmap, std::istream& Stream, bool& UsesAlpha, uint32_t MaxSide) {
    TPNGObject Png;
    Png.LoadFromStream(Stream, MaxSide);
    const TPNGTransparencyMode Mode = Png.TransparencyMode();

    try {
        TUpdateGuard<TBitmap32> Update(Bitmap);
        Bitmap.SetSize(Png.Width(), Png.Height());
        if (!Bitmap.Empty()) Png.DrawTo(Bitmap.Bits());
    } catch (const std::bad_alloc&) {
        throw EPNGOutMemory();
    } catch (const EOutOfMemory&) {
        throw EPNGOutMemory();
    }
    Bitmap.Changed();

    if (Mode == ptmNone)
        UsesAlpha = false;
    else if (Mode == ptmColorKey || Png.Header()->ColorType() != COLOR_PALETTE)
        UsesAlpha = true;
}

void LoadPictureFile(TBitmap32& Bitmap, const std::string& FileName, bool& UsesAlpha,
                     uint32_t MaxSide) {
    TFileReader File(FileName);
    std::istream In(&File);
    LoadPictureStream(Bitmap, In, UsesAlpha, MaxSide);
}

void LoadPictureFile(TBitmap32& Bitmap, const std::string& FileName, uint32_t MaxSide) {
    bool UsesAlpha = false;
    LoadPictureFile(Bitmap, FileName, UsesAlpha, MaxSide);
}
