// SPDX-License-Identifier: GPL-3.0-or-later
// PNG picture reader and the loader that turns a PNG file into a TBitmap32.
//
// No Qt. User-interface thread only (nothing here is shared between threads;
// separate TPNGObject instances may be used on separate threads).
//
// Reading validates every header before it allocates. The decoded picture is
// held as unfiltered scanlines until it is drawn; a target bitmap is touched
// only after the whole stream has been read and checked, so a failed read
// leaves it as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "GR32.h"
#include "SysUtils.h"
#include "pnglang.h"

// Every failure of the reader maps to exactly one of these classes.
#define VORTA_PNG_EXCEPTION(Name, Text)                                                            \
    class Name : public Exception {                                                                \
      public:                                                                                      \
        Name() : Exception(pnglang::Text) {}                                                       \
        explicit Name(std::string Msg) : Exception(std::move(Msg)) {}                              \
    };

VORTA_PNG_EXCEPTION(EPNGOutMemory, EPNGOutMemoryText)
VORTA_PNG_EXCEPTION(EPngError, EPNGCannotAssignChunkText)
VORTA_PNG_EXCEPTION(EPngUnexpectedEnd, EPngUnexpectedEndText)
VORTA_PNG_EXCEPTION(EPngInvalidCRC, EPngInvalidCRCText)
VORTA_PNG_EXCEPTION(EPngInvalidIHDR, EPngInvalidIHDRText)
VORTA_PNG_EXCEPTION(EPNGMissingMultipleIDAT, EPNGMissingMultipleIDATText)
VORTA_PNG_EXCEPTION(EPNGInvalidPalette, EPNGInvalidPaletteText)
VORTA_PNG_EXCEPTION(EPNGInvalidFileHeader, EPNGInvalidFileHeaderText)
VORTA_PNG_EXCEPTION(EPNGIHDRNotFirst, EPNGIHDRNotFirstText)
VORTA_PNG_EXCEPTION(EPNGSizeExceeds, EPNGSizeExceedsText)
VORTA_PNG_EXCEPTION(EPNGUnknownCriticalChunk, EPNGUnknownCriticalChunkText)
VORTA_PNG_EXCEPTION(EPNGUnknownCompression, EPNGUnknownCompressionText)
VORTA_PNG_EXCEPTION(EPNGUnknownInterlace, EPNGUnknownInterlaceText)
VORTA_PNG_EXCEPTION(EPNGNoImageData, EPNGNoImageDataText)
VORTA_PNG_EXCEPTION(EPNGHeaderNotPresent, EPNGHeaderNotPresentText)
VORTA_PNG_EXCEPTION(EPNGInvalidNewSize, EPNGInvalidNewSizeText)
#undef VORTA_PNG_EXCEPTION

// The decompressor's fault; the message ends with the decompressor's own text.
class EPNGZLIBError : public Exception {
  public:
    explicit EPNGZLIBError(const std::string& Description)
        : Exception(std::string(pnglang::EPNGZLIBErrorText) + Description) {}
};

// Colour types of the header.
enum : uint8_t {
    COLOR_GRAYSCALE = 0,
    COLOR_RGB = 2,
    COLOR_PALETTE = 3,
    COLOR_GRAYSCALEALPHA = 4,
    COLOR_RGBALPHA = 6,
};

// How the loader treats the picture's transparency.
enum TPNGTransparencyMode { ptmNone, ptmColorKey, ptmPartial };

// Largest picture the reader accepts, in pixels: the loader needs 4 bytes per
// pixel for the bitmap on top of the decoded scanlines (up to 8 bytes per
// pixel), so anything beyond this cannot be held and is refused with
// EPNGOutMemory before anything is allocated.
constexpr uint64_t PNGMaxPixels = uint64_t(1) << 28;

// What the reader is prepared to hold for one picture. Every limit is checked
// before the memory it guards is taken.
struct TPNGLimits {
    // The caller's own limit on width and height (0: none): a larger picture
    // is refused with EPNGOutMemory right after its header.
    uint32_t MaxSide = 0;
    // Width or height beyond this: EPNGSizeExceeds.
    uint32_t MaxDimension = 65535;
    // Width times height beyond this: EPNGOutMemory.
    uint64_t MaxPixels = PNGMaxPixels;
    // Chunks kept besides the image data, and the bytes they hold: a file
    // beyond either is refused with EPNGOutMemory when the chunk that
    // crosses the limit is met, before its data is read. (The image data is
    // held until its run ends, up to a little more than the header's decoded
    // size, and from there one chunk at a time, released once decoded.)
    size_t MaxChunks = 1000;
    size_t MaxKeptBytes = size_t(64) << 20;
    // A zTXt text longer than this reads as empty.
    size_t MaxTextBytes = size_t(1) << 20;
};

class TPNGObject;

// One chunk as read from the stream: its name and data bytes. Chunk kinds
// that the reader does not know are kept as plain TChunk objects.
class TChunk {
  public:
    TChunk(TPNGObject* Owner, std::string Name) : FOwner(Owner), FName(std::move(Name)) {}
    virtual ~TChunk() = default;
    TChunk(const TChunk&) = delete;
    TChunk& operator=(const TChunk&) = delete;

    TPNGObject* Owner() const { return FOwner; }
    const std::string& Name() const { return FName; }
    const std::vector<uint8_t>& Data() const { return FData; }
    uint32_t DataSize() const { return uint32_t(FData.size()); }

    // Reads Size data bytes and the CRC-32 after them. The data is read in
    // pieces, so a length that the stream cannot back costs no memory.
    // EPngUnexpectedEnd when the stream ends early, EPngInvalidCRC when the
    // CRC over name and data does not match.
    virtual void LoadFromStream(std::istream& Stream, uint32_t Size);

  protected:
    friend class TPNGObject;
    TPNGObject* FOwner;
    std::string FName;
    std::vector<uint8_t> FData;
};

// One interlace pass (the whole picture for non-interlaced pictures): where
// its pixels land and where its scanlines lie in the decoded data.
struct TPNGPass {
    uint32_t X0, Y0, Dx, Dy; // first pixel and spacing in the picture
    uint32_t Width, Height;  // 0 when the pass holds no pixel
    size_t RowBytes;         // without the filter byte
    size_t Offset;           // of the pass's first filter byte
};

// The header; holds the decoded picture.
class TChunkIHDR : public TChunk {
  public:
    using TChunk::TChunk;
    ~TChunkIHDR() override;
    // Validates the header against the owner's limits: EPngInvalidIHDR
    // (short, width or height 0, impossible colour type / bit depth pair),
    // EPNGSizeExceeds, EPNGUnknownCompression, EPNGUnknownInterlace,
    // EPNGOutMemory (too many pixels to hold).
    void LoadFromStream(std::istream& Stream, uint32_t Size) override;

    uint32_t Width() const { return FWidth; }
    uint32_t Height() const { return FHeight; }
    uint8_t BitDepth() const { return FBitDepth; }
    uint8_t ColorType() const { return FColorType; }
    uint8_t CompressionMethod() const { return FCompressionMethod; }
    uint8_t FilterMethod() const { return FFilterMethod; }
    uint8_t InterlaceMethod() const { return FInterlaceMethod; }

    int Channels() const;
    // Bytes per complete pixel for the filters (at least 1).
    int FilterBpp() const;
    const std::vector<TPNGPass>& Passes() const { return FPasses; }
    // Length of the decompressed image data: every pass's scanlines with
    // their filter bytes.
    size_t ImageDataSize() const { return FImageDataSize; }

    // Decoded data: unfiltered scanlines laid out as in Passes() (filter
    // bytes left in place). Valid once the image data has been read.
    const uint8_t* ImageData() const { return FImageData; }

  private:
    friend class TPNGDecoder;
    friend class TPNGObject;
    uint32_t FWidth = 0, FHeight = 0;
    uint8_t FBitDepth = 0, FColorType = 0, FCompressionMethod = 0, FFilterMethod = 0,
            FInterlaceMethod = 0;
    std::vector<TPNGPass> FPasses;
    size_t FImageDataSize = 0;
    uint8_t* FImageData = nullptr; // malloc'ed, grown while inflating
    size_t FImageCapacity = 0;
};

// Compressed image data; each chunk of a run keeps its own bytes.
class TChunkIDAT : public TChunk {
  public:
    using TChunk::TChunk;
};

class TChunkPLTE : public TChunk {
  public:
    using TChunk::TChunk;
    // EPNGInvalidPalette when the length is not a multiple of 3 or gives more
    // than 256 entries.
    void LoadFromStream(std::istream& Stream, uint32_t Size) override;
    int Count() const { return int(FData.size() / 3); }
    // Entry as stored in the file (no gamma), alpha 255; EPngError for a
    // missing entry.
    TColor32 Item(int Index) const;
};

class TChunktRNS : public TChunk {
  public:
    using TChunk::TChunk;
    // EPNGInvalidPalette for more than 256 bytes.
    void LoadFromStream(std::istream& Stream, uint32_t Size) override;
    // Alpha of a palette entry; entries the chunk does not list are opaque.
    uint8_t PaletteAlpha(int Index) const {
        return Index >= 0 && size_t(Index) < FData.size() ? FData[Index] : 255;
    }
    // The 16-bit key sample k (grey: k = 0; RGB: k = 0, 1, 2 for red, green,
    // blue); false when the chunk is too short to hold it.
    bool KeySample(int K, uint16_t& Value) const;
};

class TChunkgAMA : public TChunk {
  public:
    using TChunk::TChunk;
    // Rebuilds the owner's gamma tables from a non-zero value.
    void LoadFromStream(std::istream& Stream, uint32_t Size) override;
    // Gamma times 100 000, 0 when the chunk is too short.
    uint32_t Gamma() const;
};

class TChunkpHYs : public TChunk {
  public:
    using TChunk::TChunk;
    uint32_t PPUnitX() const;
    uint32_t PPUnitY() const;
    uint8_t UnitType() const { return FData.size() >= 9 ? FData[8] : 0; }
};

class TChunktIME : public TChunk {
  public:
    using TChunk::TChunk;
    int Year() const { return FData.size() >= 7 ? (FData[0] << 8) | FData[1] : 0; }
    int Month() const { return FData.size() >= 7 ? FData[2] : 0; }
    int Day() const { return FData.size() >= 7 ? FData[3] : 0; }
    int Hour() const { return FData.size() >= 7 ? FData[4] : 0; }
    int Minute() const { return FData.size() >= 7 ? FData[5] : 0; }
    int Second() const { return FData.size() >= 7 ? FData[6] : 0; }
};

class TChunktEXt : public TChunk {
  public:
    using TChunk::TChunk;
    // Up to the first zero byte.
    std::string Keyword() const;
    // The bytes after the keyword's zero byte.
    virtual std::string Text() const;
};

class TChunkzTXt : public TChunktEXt {
  public:
    using TChunktEXt::TChunktEXt;
    // Decompressed on demand; at most the owner's MaxTextBytes (1 MiB) is
    // produced, and an empty text stands for data that does not decompress.
    std::string Text() const override;
};

class TChunkIEND : public TChunk {
  public:
    using TChunk::TChunk;
};

class TPNGObject {
  public:
    static constexpr const char* Extension = "PNG";
    static constexpr const char* Description = "Portable Network Graphics";

    TPNGObject();
    ~TPNGObject();
    TPNGObject(const TPNGObject&) = delete;
    TPNGObject& operator=(const TPNGObject&) = delete;

    // Drops every chunk and resets the gamma tables to the identity.
    void Clear();
    // Reads a whole PNG stream up to and including its IEND chunk, within
    // Limits. On failure the exception propagates and the object holds what
    // was read so far (it is not drawable). The image data chunks stay in
    // the list without their bytes.
    void LoadFromStream(std::istream& Stream, const TPNGLimits& Limits);
    // The default limits with MaxSide as the caller's limit on width and
    // height (0: none).
    void LoadFromStream(std::istream& Stream, uint32_t MaxSide = 0);
    // The limits of the last (or current) read.
    const TPNGLimits& Limits() const { return FLimits; }

    // 0 x 0 until a picture has been read.
    int Width() const;
    int Height() const;
    bool Empty() const { return Width() == 0 || Height() == 0; }

    // The first chunk is always the header once reading has started.
    TChunkIHDR* Header() const;
    size_t ChunkCount() const { return FChunks.size(); }
    TChunk* Chunk(size_t Index) const { return FChunks[Index].get(); }
    template <class T> T* FindChunk() const {
        for (auto& C : FChunks)
            if (auto* P = dynamic_cast<T*>(C.get())) return P;
        return nullptr;
    }

    // Palette entries, grey levels and colour samples pass through the first
    // table; the second is kept alongside (see TChunkgAMA).
    const uint8_t* GammaTable() const { return FGammaTable; }
    const uint8_t* InverseTable() const { return FInverseTable; }

    TPNGTransparencyMode TransparencyMode() const;
    // Colour whose pixels are transparent in ptmColorKey mode, alpha 255.
    TColor32 TransparentColor() const;

    // Writes Width() x Height() pixels (row-major, top row first) as the
    // loader gives them: the picture drawn onto opaque white, alpha 255,
    // then the transparency: alpha 0 for the key colour when it is white;
    // the picture's own alpha for grey/RGB with alpha. EPNGHeaderNotPresent
    // when nothing has been read.
    void DrawTo(TColor32* Bits) const;

  private:
    friend class TChunkgAMA;
    TPNGLimits FLimits;
    std::vector<std::unique_ptr<TChunk>> FChunks;
    bool FComplete = false;
    uint8_t FGammaTable[256];
    uint8_t FInverseTable[256];
};

// Loads a PNG stream into Bitmap (sized to the picture). UsesAlpha becomes
// false for pictures without transparency and true for a colour key or an
// alpha channel; palette pictures with partial transparency leave it as it
// was. Every reader exception propagates; Bitmap is unchanged when reading
// fails. MaxSide as for TPNGObject::LoadFromStream.
void LoadPictureStream(TBitmap32& Bitmap, std::istream& Stream, bool& UsesAlpha,
                       uint32_t MaxSide = 0);
// Opens FileName and loads it as LoadPictureStream does. Only a regular file
// is read: it is opened without blocking, so that a FIFO or a device cannot
// stall the caller, and anything else raises EInOutError "Cannot open file
// ..." as a file that cannot be opened does.
void LoadPictureFile(TBitmap32& Bitmap, const std::string& FileName, bool& UsesAlpha,
                     uint32_t MaxSide = 0);
void LoadPictureFile(TBitmap32& Bitmap, const std::string& FileName, uint32_t MaxSide = 0);

// Reverses one scanline's filter in place. Prior is the unfiltered previous
// scanline of the same pass, or null for the first one. FilterType must be
// 0..4. Bound to an SSE2 form where the processor has it (Up for every pixel
// size; Sub, Average and Paeth for 3 and 4 bytes per pixel), which gives the
// same bytes as the portable one; VORTA_NO_SIMD=1 or RestrictCPUFeatures
// (GR32_System.h) binds the portable form, as for the raster core.
extern void (*PngUnfilterRow)(int FilterType, uint8_t* Row, const uint8_t* Prior, size_t Length,
                              int Bpp);
void PngUnfilterRowPortable(int FilterType, uint8_t* Row, const uint8_t* Prior, size_t Length,
                            int Bpp);

// Adler-32 of the decompressed data (same result as zlib's), bound as
// PngUnfilterRow is.
extern uint32_t (*PngAdler32)(uint32_t Adler, const uint8_t* Data, size_t Length);
uint32_t PngAdler32Portable(uint32_t Adler, const uint8_t* Data, size_t Length);
