// SPDX-License-Identifier: GPL-3.0-or-later
// The PNG reader against built files with exact expected pixels and
// exceptions, and against the public PNG test suite.
#include "pngimage.h"
#include "GR32_System.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <typeinfo>

#include <sys/stat.h>
#include <unistd.h>

#include "PngWriter.h"

using namespace pngtest;

namespace {

const std::string SuiteDir = std::string(VORTA_TESTDATA_DIR) + "/pngsuite/";

// Name of the exception class that loading Bytes raises ("" for none).
std::string LoadError(const std::string& Bytes, TBitmap32* Target = nullptr) {
    TBitmap32 Local;
    std::istringstream In(Bytes);
    bool UsesAlpha = false;
    try {
        LoadPictureStream(Target ? *Target : Local, In, UsesAlpha);
    } catch (const Exception& E) {
        return typeid(E).name();
    }
    return "";
}

template <class E> std::string Name() {
    return typeid(E).name();
}

std::string ReadFile(const std::string& Path) {
    std::ifstream F(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(F), {});
}

std::vector<TColor32> Load(const std::string& Bytes, bool& UsesAlpha) {
    TBitmap32 B;
    std::istringstream In(Bytes);
    LoadPictureStream(B, In, UsesAlpha);
    return std::vector<TColor32>(B.Bits(), B.Bits() + size_t(B.Width()) * B.Height());
}

} // namespace

TEST(PngLoad, HalfTransparentRedIsDrawnOntoWhiteAndKeepsItsAlpha) {
    bool UsesAlpha = false;
    auto P = Load(MakePng(IhdrData(1, 1, 8, 6), std::string("\0\xff\0\0\x80", 5)), UsesAlpha);
    EXPECT_EQ(P[0], 0x80FF7F7Fu);
    EXPECT_TRUE(UsesAlpha);
}

TEST(PngLoad, RgbWithoutTransparencyIsOpaqueAndClearsUsesAlpha) {
    bool UsesAlpha = true;
    auto P = Load(MakePng(IhdrData(2, 1, 8, 2), std::string("\0\x10\x20\x30\xff\xff\xff", 7)),
                  UsesAlpha);
    EXPECT_EQ(P, (std::vector<TColor32>{0xFF102030, 0xFFFFFFFF}));
    EXPECT_FALSE(UsesAlpha);
}

// Key pixels show the white surface; only a white key ends up transparent.
TEST(PngLoad, ColorKeyTable) {
    struct Case {
        std::string Ihdr, Raw, Extra;
        std::vector<TColor32> Expected;
    } Cases[] = {
        // Grey keyed on white.
        {IhdrData(3, 1, 8, 0),
         std::string("\0\xff\x80\0", 4),
         Chunk("tRNS", std::string("\0\xff", 2)),
         {0x00FFFFFF, 0xFF808080, 0xFF000000}},
        // Grey keyed on black: black becomes opaque white.
        {IhdrData(2, 1, 8, 0),
         std::string("\0\0\x80", 3),
         Chunk("tRNS", std::string("\0\0", 2)),
         {0xFFFFFFFF, 0xFF808080}},
        // 16-bit grey: samples and key both by their high byte.
        {IhdrData(2, 1, 16, 0),
         std::string("\0\xff\xff\x00\xff", 5),
         Chunk("tRNS", std::string("\xff\x00", 2)),
         {0x00FFFFFF, 0xFF000000}},
        // 2-bit grey keyed on level 3 (white).
        {IhdrData(4, 1, 2, 0),
         std::string("\0\x1b", 2),
         Chunk("tRNS", std::string("\0\x03", 2)),
         {0xFF000000, 0xFF555555, 0xFFAAAAAA, 0x00FFFFFF}},
        // RGB keyed on white.
        {IhdrData(2, 1, 8, 2),
         std::string("\0\xff\xff\xff\x01\x02\x03", 7),
         Chunk("tRNS", std::string("\0\xff\0\xff\0\xff", 6)),
         {0x00FFFFFF, 0xFF010203}},
        // Palette whose only non-opaque entry (white) is fully transparent.
        {IhdrData(2, 1, 8, 3),
         std::string("\0\0\x01", 3),
         Chunk("PLTE", std::string("\xff\xff\xff\x10\x20\x30", 6)) +
             Chunk("tRNS", std::string("\0", 1)),
         {0x00FFFFFF, 0xFF102030}},
    };
    for (const Case& C : Cases) {
        bool UsesAlpha = false;
        EXPECT_EQ(Load(MakePng(C.Ihdr, C.Raw, C.Extra), UsesAlpha), C.Expected) << C.Extra.size();
        EXPECT_TRUE(UsesAlpha);
    }
}

TEST(PngLoad, PaletteWithPartialAlphaIsBlendedOpaqueAndLeavesUsesAlpha) {
    // One entry at alpha 128 is no key: blended onto white, alpha 255.
    std::string Extra =
        Chunk("PLTE", std::string("\xff\0\0\0\0\0", 6)) + Chunk("tRNS", std::string("\x80", 1));
    for (bool Initial : {false, true}) {
        bool UsesAlpha = Initial;
        auto P = Load(MakePng(IhdrData(2, 1, 8, 3), std::string("\0\0\x01", 3), Extra), UsesAlpha);
        EXPECT_EQ(P, (std::vector<TColor32>{0xFFFF7F7F, 0xFF000000}));
        EXPECT_EQ(UsesAlpha, Initial);
    }
}

TEST(PngLoad, GreyWithAlphaIsDrawnOntoWhite) {
    bool UsesAlpha = false;
    auto P = Load(MakePng(IhdrData(3, 1, 8, 4), std::string("\0\0\0\0\xff\x40\x80", 7)), UsesAlpha);
    EXPECT_EQ(P, (std::vector<TColor32>{0x00FFFFFF, 0xFF000000, 0x809F9F9F}));
}

TEST(PngGamma, TablesAreBuiltFromTheGammaValue) {
    TPNGObject Png;
    std::istringstream In(
        MakePng(IhdrData(1, 1, 8, 0), std::string("\0\0", 2), Chunk("gAMA", Be32(100000))));
    Png.LoadFromStream(In);
    const uint8_t* T = Png.GammaTable();
    EXPECT_EQ((std::vector<int>{T[0], T[1], T[2], T[7], T[128], T[254], T[255]}),
              (std::vector<int>{0, 21, 28, 50, 186, 255, 255}));
    // Second table: entry T(i) is i, every other entry keeps its identity.
    const uint8_t* I = Png.InverseTable();
    EXPECT_EQ((std::vector<int>{I[0], I[1], I[20], I[21], I[22], I[28], I[186], I[255]}),
              (std::vector<int>{0, 1, 20, 1, 22, 2, 128, 255}));
}

TEST(PngGamma, LevelsAndColoursPassThroughTheFirstTable) {
    bool UsesAlpha;
    std::string Gamma = Chunk("gAMA", Be32(100000));
    EXPECT_EQ(Load(MakePng(IhdrData(1, 1, 8, 0), std::string("\0\x80", 2), Gamma), UsesAlpha)[0],
              0xFFBABABAu);
    EXPECT_EQ(
        Load(MakePng(IhdrData(1, 1, 8, 2), std::string("\0\x01\x02\x80", 4), Gamma), UsesAlpha)[0],
        0xFF151CBAu);
    EXPECT_EQ(Load(MakePng(IhdrData(1, 1, 8, 3), std::string("\0\0", 2),
                           Gamma + Chunk("PLTE", "\x01\x02\x80")),
                   UsesAlpha)[0],
              0xFF151CBAu);
}

TEST(PngLoad, InterlacedAndSplitImageDataGiveTheSamePixels) {
    // 9 x 9 RGB, value (x, y, x ^ y) at every pixel.
    const int W = 9, H = 9;
    std::string Plain;
    for (int y = 0; y < H; ++y) {
        Plain += '\0';
        for (int x = 0; x < W; ++x)
            Plain += {char(x), char(y), char(x ^ y)};
    }
    // Adam7 scanlines with the Sub filter on every row.
    static const int P[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    std::string Interlaced;
    for (auto& S : P)
        for (int y = S[1]; y < H; y += S[3]) {
            Interlaced += '\1';
            int Prev[3] = {0, 0, 0};
            for (int x = S[0]; x < W; x += S[2]) {
                int V[3] = {x, y, x ^ y};
                for (int c = 0; c < 3; ++c)
                    Interlaced += char(V[c] - Prev[c]), Prev[c] = V[c];
            }
        }
    std::string Split = Deflate(Plain), Chunks;
    for (char Byte : Split)
        Chunks += Chunk("IDAT", std::string(1, Byte));
    bool UsesAlpha;
    auto A = Load(MakePng(IhdrData(W, H, 8, 2), Plain), UsesAlpha);
    auto B = Load(MakePng(IhdrData(W, H, 8, 2, 1), Interlaced), UsesAlpha);
    auto C = Load(Signature + Chunk("IHDR", IhdrData(W, H, 8, 2)) + Chunks + Chunk("IEND", ""),
                  UsesAlpha);
    EXPECT_EQ(A[8 * W + 5], 0xFF05080Du);
    EXPECT_EQ(A, B);
    EXPECT_EQ(A, C);
}

TEST(PngErrors, EachFaultRaisesItsException) {
    const std::string Good = MakePng(IhdrData(1, 1, 8, 0), std::string("\0\x7f", 2));
    const std::string Ihdr = Chunk("IHDR", IhdrData(1, 1, 8, 0));
    const std::string Idat = Chunk("IDAT", Deflate(std::string("\0\x7f", 2)));
    const std::string End = Chunk("IEND", "");
    std::string BadSum = Deflate(std::string("\0\x7f", 2));
    BadSum.back() ^= 1;
    auto With = [&](const std::string& Before, const std::string& After = "") {
        return Signature + Ihdr + Before + Idat + After + End;
    };
    struct Case {
        const char* What;
        std::string Bytes;
        std::string Expected;
    } Cases[] = {
        {"good", Good, ""},
        {"not png", "GIF89a\0\0\0\0\0\0", Name<EPNGInvalidFileHeader>()},
        {"empty", "", Name<EPNGInvalidFileHeader>()},
        {"signature only", Signature, Name<EPngUnexpectedEnd>()},
        {"cut in length", Good.substr(0, 35), Name<EPngUnexpectedEnd>()},
        {"no IEND", Good.substr(0, Good.size() - 12), Name<EPngUnexpectedEnd>()},
        {"IHDR not first", Signature + Chunk("gAMA", Be32(1)) + Ihdr + Idat + End,
         Name<EPNGIHDRNotFirst>()},
        {"second IHDR", With(Ihdr), Name<EPngInvalidIHDR>()},
        {"short IHDR", Signature + Chunk("IHDR", IhdrData(1, 1, 8, 0).substr(0, 12)) + Idat + End,
         Name<EPngInvalidIHDR>()},
        {"65536 wide", MakePng(IhdrData(65536, 1, 8, 0), std::string("\0\x7f", 2)),
         Name<EPNGSizeExceeds>()},
        {"huge high", MakePng(IhdrData(1, 0xFFFFFFFF, 8, 0), ""), Name<EPNGSizeExceeds>()},
        {"zero wide", MakePng(IhdrData(0, 1, 8, 0), std::string("\0", 1)), Name<EPngInvalidIHDR>()},
        {"zero high", MakePng(IhdrData(1, 0, 8, 0), ""), Name<EPngInvalidIHDR>()},
        {"compression 1", MakePng(IhdrData(1, 1, 8, 0, 0, 1), ""), Name<EPNGUnknownCompression>()},
        {"interlace 2", MakePng(IhdrData(1, 1, 8, 0, 2), ""), Name<EPNGUnknownInterlace>()},
        {"too many pixels", MakePng(IhdrData(65535, 65535, 8, 6), ""), Name<EPNGOutMemory>()},
        {"bad IHDR crc", Signature + Chunk("IHDR", IhdrData(1, 1, 8, 0), true) + Idat + End,
         Name<EPngInvalidCRC>()},
        {"bad IDAT crc",
         Signature + Ihdr + Chunk("IDAT", Deflate(std::string("\0\x7f", 2)), true) + End,
         Name<EPngInvalidCRC>()},
        {"bad cHRM crc skipped", With(Chunk("cHRM", std::string(32, 'x'), true)), ""},
        {"bad ancillary crc", With(Chunk("abCd", "x", true)), Name<EPngInvalidCRC>()},
        {"good ancillary kept", With(Chunk("abCd", "x")), ""},
        {"unknown critical", With(Chunk("ABCD", "x")), Name<EPNGUnknownCriticalChunk>()},
        {"PLTE not by 3", With(Chunk("PLTE", "abcd")), Name<EPNGInvalidPalette>()},
        {"PLTE 257", With(Chunk("PLTE", std::string(771, 'x'))), Name<EPNGInvalidPalette>()},
        {"tRNS 257", With(Chunk("tRNS", std::string(257, 'x'))), Name<EPNGInvalidPalette>()},
        {"no IDAT", Signature + Ihdr + End, Name<EPNGNoImageData>()},
        {"later IDAT skipped", With("", Chunk("tEXt", "a") + Chunk("IDAT", "junk", true)), ""},
        {"data short", MakePng(IhdrData(2, 1, 8, 0), std::string("\0\x7f", 2)),
         Name<EPNGMissingMultipleIDAT>()},
        {"stream unfinished",
         Signature + Ihdr + Chunk("IDAT", Deflate(std::string("\0\x7f", 2)).substr(0, 6)) + End,
         Name<EPNGMissingMultipleIDAT>()},
        {"data long", MakePng(IhdrData(1, 1, 8, 0), std::string("\0\x7f\x7f", 3)),
         Name<EPNGZLIBError>()},
        {"not deflate", Signature + Ihdr + Chunk("IDAT", "garbage") + End, Name<EPNGZLIBError>()},
        {"bad checksum", Signature + Ihdr + Chunk("IDAT", BadSum) + End, Name<EPNGZLIBError>()},
        {"filter 5", MakePng(IhdrData(1, 1, 8, 0), std::string("\5\x7f", 2)),
         Name<EPNGZLIBError>()},
        // A fault in the data comes before one in a later chunk of its run.
        {"not deflate, then bad crc",
         Signature + Ihdr + Chunk("IDAT", "garbage") + Chunk("IDAT", "x", true) + End,
         Name<EPNGZLIBError>()},
        {"data long, then cut",
         MakePng(IhdrData(1, 1, 8, 0), std::string("\0\x7f\x7f", 3)).substr(0, 60),
         Name<EPNGZLIBError>()},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(LoadError(C.Bytes), C.Expected) << C.What;
}

TEST(PngErrors, ImpossibleColourTypeAndDepthPairsAreRefused) {
    const int Allowed[7][5] = {{1, 2, 4, 8, 16}, {}, {8, 16}, {1, 2, 4, 8}, {8, 16}, {}, {8, 16}};
    for (int Type = 0; Type < 8; ++Type)
        for (int Depth : {0, 1, 2, 3, 4, 8, 16, 32}) {
            bool Ok =
                Type < 7 && Depth != 0 && std::count(Allowed[Type], Allowed[Type] + 5, Depth) > 0;
            std::string Error =
                LoadError(MakePng(IhdrData(1, 1, Depth, Type), std::string(9, '\0')));
            if (Ok)
                EXPECT_NE(Error, Name<EPngInvalidIHDR>()) << Type << "/" << Depth;
            else
                EXPECT_EQ(Error, Name<EPngInvalidIHDR>()) << Type << "/" << Depth;
        }
}

TEST(PngErrors, ZlibFaultCarriesZlibsText) {
    std::istringstream In(Signature + Chunk("IHDR", IhdrData(1, 1, 8, 0)) +
                          Chunk("IDAT", "garbage") + Chunk("IEND", ""));
    TPNGObject Png;
    try {
        Png.LoadFromStream(In);
        FAIL();
    } catch (const EPNGZLIBError& E) {
        EXPECT_EQ(E.Message(), "Could not decompress the image because it contains invalid "
                               "compressed data.\r\n Description: "
                               "incorrect header check");
    }
}

TEST(PngErrors, EveryTruncationFailsAndLeavesTheBitmapAsItWas) {
    const std::string Good = ReadFile(SuiteDir + "primary/basi6a08.png");
    TBitmap32 B;
    B.SetSize(2, 1);
    B.Bits()[0] = 0x12345678;
    B.Bits()[1] = 0x9ABCDEF0;
    for (size_t Cut = 0; Cut < Good.size(); ++Cut) {
        ASSERT_NE(LoadError(Good.substr(0, Cut), &B), "") << Cut;
        ASSERT_EQ(B.Width(), 2);
        ASSERT_EQ(B.Bits()[0], 0x12345678u);
        ASSERT_EQ(B.Bits()[1], 0x9ABCDEF0u);
    }
    EXPECT_EQ(LoadError(Good, &B), "");
    EXPECT_EQ(B.Width(), 32);
}

TEST(PngErrors, AHugeHeaderWithLittleDataCostsLittle) {
    // 16000 x 16000 RGBA would be 1 GB of data; the stream holds a few rows.
    std::string Rows(4 * (1 + 16000 * 4), '\0');
    EXPECT_EQ(LoadError(MakePng(IhdrData(16000, 16000, 8, 6), Rows)),
              Name<EPNGMissingMultipleIDAT>());
}

TEST(PngLoad, MissingFileRaisesTheFileOpenError) {
    TBitmap32 B;
    EXPECT_THROW(LoadPictureFile(B, "/nonexistent/x.png"), EInOutError);
}

TEST(PngErrors, ACallersSizeLimitRefusesLargerPicturesBeforeTheirData) {
    // A header alone: a picture within the limit goes on to miss its data,
    // one beyond it is refused as soon as its size is known.
    auto Error = [](uint32_t W, uint32_t H, uint32_t MaxSide) {
        std::istringstream In(Signature + Chunk("IHDR", IhdrData(W, H, 8, 6)));
        TBitmap32 B;
        bool UsesAlpha = false;
        try {
            LoadPictureStream(B, In, UsesAlpha, MaxSide);
        } catch (const Exception& E) {
            return std::string(typeid(E).name()) + ": " + E.Message();
        }
        return std::string();
    };
    const std::string Refused = Name<EPNGOutMemory>() + ": " + pnglang::EPNGOutMemoryText;
    const std::string CutShort = Name<EPngUnexpectedEnd>() + ": " + pnglang::EPngUnexpectedEndText;
    EXPECT_EQ(Error(4097, 1, 4096), Refused);
    EXPECT_EQ(Error(1, 4097, 4096), Refused);
    EXPECT_EQ(Error(16384, 16384, 4096), Refused);
    EXPECT_EQ(Error(4096, 4096, 4096), CutShort);
    EXPECT_EQ(Error(16384, 16384, 0), CutShort); // the reader's own limit lets it pass
    EXPECT_EQ(Error(65536, 1, 4096), Name<EPNGSizeExceeds>() + ": " + pnglang::EPNGSizeExceedsText);
}

TEST(PngLoad, OnlyRegularFilesAreRead) {
    // A FIFO with no writer would block an ordinary open for ever; a
    // directory would open and read as empty. Both fail as files that
    // cannot be opened, and the bitmap stays as it was.
    const std::string Dir = testing::TempDir() + "png_regular_" + std::to_string(getpid());
    std::filesystem::create_directories(Dir);
    const std::string Fifo = Dir + "/arrow2.PNG";
    ASSERT_EQ(mkfifo(Fifo.c_str(), 0600), 0);
    const std::string Good = Dir + "/good.png";
    std::ofstream(Good, std::ios::binary)
        << MakePng(IhdrData(1, 1, 8, 0), std::string("\0\x7f", 2));
    const struct {
        std::string Path;
        std::string Reason; // "" when the file loads
    } Cases[] = {
        {Fifo, "Not a regular file"},
        {Dir, "Is a directory"},
        {Dir + "/missing.png", "No such file or directory"},
        {"/dev/null", "Not a regular file"},
        {Good, ""},
    };
    for (const auto& C : Cases) {
        TBitmap32 B;
        B.SetSize(2, 1);
        std::string Message;
        try {
            LoadPictureFile(B, C.Path);
        } catch (const EInOutError& E) {
            Message = E.Message();
        }
        EXPECT_EQ(Message,
                  C.Reason.empty() ? "" : "Cannot open file \"" + C.Path + "\". " + C.Reason)
            << C.Path;
        EXPECT_EQ(B.Width(), C.Reason.empty() ? 1 : 2) << C.Path;
    }
    std::filesystem::remove_all(Dir);
}

TEST(PngLoad, OneChangeNoticeAfterTheWholePicture) {
    TBitmap32 B;
    int Changes = 0;
    TColor32 Seen = 0;
    B.OnChange = [&](TNotifiablePersistent*) {
        ++Changes;
        Seen = B.Bits()[0];
    };
    bool UsesAlpha;
    std::istringstream In(MakePng(IhdrData(1, 1, 8, 0), std::string("\0\x7f", 2)));
    LoadPictureStream(B, In, UsesAlpha);
    EXPECT_EQ(Changes, 1);
    EXPECT_EQ(Seen, 0xFF7F7F7Fu);
}

// The budgets for what a file may make the reader keep: chunks and their
// bytes (the image data aside, which is released once decoded).
TEST(PngErrors, ChunkBudgetsRefuseAFloodBeforeItsData) {
    std::string Texts;
    for (int i = 0; i < 3; ++i)
        Texts += Chunk("tEXt", std::string("K\0") + std::string(100, 'v'));
    const std::string File = MakePng(IhdrData(1, 1, 8, 0), std::string("\0\0", 2), Texts);
    auto Load = [&](const TPNGLimits& Limits) {
        std::istringstream In(File);
        TPNGObject Png;
        try {
            Png.LoadFromStream(In, Limits);
        } catch (const Exception& E) {
            return std::string(typeid(E).name()) + " after " + std::to_string(Png.ChunkCount());
        }
        const TChunkIDAT* Idat = Png.FindChunk<TChunkIDAT>();
        return "read " + std::to_string(Png.ChunkCount()) + " idat " +
               std::to_string(Idat->DataSize());
    };
    TPNGLimits L;
    EXPECT_EQ(Load(L), "read 6 idat 0");
    L.MaxChunks = 4; // header and three texts; the image data is not counted, the end is
    EXPECT_EQ(Load(L), Name<EPNGOutMemory>() + " after 5");
    L.MaxChunks = 5;
    EXPECT_EQ(Load(L), "read 6 idat 0");
    L.MaxKeptBytes = 13 + 2 * 102; // header and two texts
    EXPECT_EQ(Load(L), Name<EPNGOutMemory>() + " after 3");
    L = TPNGLimits();
    L.MaxDimension = 0;
    EXPECT_EQ(Load(L), Name<EPNGSizeExceeds>() + " after 1");
    L = TPNGLimits();
    L.MaxPixels = 0;
    EXPECT_EQ(Load(L), Name<EPNGOutMemory>() + " after 1");
}

TEST(PngChunks, TextTimeAndResolutionAreKept) {
    std::string Z = Deflate("hello");
    std::istringstream In(
        MakePng(IhdrData(1, 1, 8, 0), std::string("\0\0", 2),
                Chunk("tEXt", std::string("Title\0Dial", 10)) +
                    Chunk("zTXt", std::string("Note\0\0", 6) + Z) +
                    Chunk("tIME", std::string("\x07\xe8\x02\x1d\x0c\x22\x38", 7)) +
                    Chunk("pHYs", Be32(2835) + Be32(2836) + '\1')));
    TPNGObject Png;
    Png.LoadFromStream(In);
    ASSERT_EQ(Png.ChunkCount(), 7u);
    EXPECT_EQ(Png.FindChunk<TChunktEXt>()->Keyword(), "Title");
    EXPECT_EQ(Png.FindChunk<TChunktEXt>()->Text(), "Dial");
    EXPECT_EQ(Png.FindChunk<TChunkzTXt>()->Text(), "hello");
    auto* T = Png.FindChunk<TChunktIME>();
    EXPECT_EQ(
        (std::vector<int>{T->Year(), T->Month(), T->Day(), T->Hour(), T->Minute(), T->Second()}),
        (std::vector<int>{2024, 2, 29, 12, 34, 56}));
    auto* P = Png.FindChunk<TChunkpHYs>();
    EXPECT_EQ((std::vector<uint32_t>{P->PPUnitX(), P->PPUnitY(), P->UnitType()}),
              (std::vector<uint32_t>{2835, 2836, 1}));
}

// The reader's processor-specific forms follow the raster core's one switch.
TEST(PngFilters, ProcessorFormsFollowTheCommonSwitch) {
    RestrictCPUFeatures(NoCPUFeatures);
    EXPECT_EQ(PngUnfilterRow, &PngUnfilterRowPortable);
    EXPECT_EQ(PngAdler32, &PngAdler32Portable);
    RestrictCPUFeatures(~NoCPUFeatures);
#if defined(__SSE2__)
    if (HasInstructionSet(ciSSE2)) {
        EXPECT_NE(PngUnfilterRow, &PngUnfilterRowPortable);
        EXPECT_NE(PngAdler32, &PngAdler32Portable);
    }
#endif
}

TEST(PngFilters, SSE2FormGivesTheSameBytesAsThePortableOne) {
    std::mt19937 Rng(7);
    for (int Bpp : {3, 4})
        for (int Filter = 0; Filter <= 4; ++Filter)
            for (bool HasPrior : {false, true})
                for (size_t Pixels : {1, 2, 5, 33}) {
                    std::vector<uint8_t> Prior(Pixels * Bpp), A(Pixels * Bpp);
                    for (auto& V : Prior)
                        V = uint8_t(Rng());
                    for (auto& V : A)
                        V = uint8_t(Rng());
                    std::vector<uint8_t> B = A;
                    PngUnfilterRowPortable(Filter, A.data(), HasPrior ? Prior.data() : nullptr,
                                           A.size(), Bpp);
                    PngUnfilterRow(Filter, B.data(), HasPrior ? Prior.data() : nullptr, B.size(),
                                   Bpp);
                    ASSERT_EQ(A, B) << Bpp << " " << Filter << " " << HasPrior << " " << Pixels;
                }
}

TEST(PngFilters, ChecksumMatchesZlibs) {
    std::mt19937 Rng(3);
    std::vector<uint8_t> Data(100000);
    for (auto& V : Data)
        V = uint8_t(Rng());
    std::fill(Data.begin() + 50000, Data.end(), 0xFF); // the sums' largest values
    for (size_t Length : {0, 1, 15, 16, 17, 5551, 5552, 5553, 5568, 70000, 100000})
        for (size_t Start : {0, 3})
            for (uint32_t Seed : {1u, 0xFFF0FFF0u}) {
                const size_t N = std::min(Length, Data.size() - Start);
                EXPECT_EQ(PngAdler32(Seed, Data.data() + Start, N),
                          adler32(Seed, Data.data() + Start, uInt(N)))
                    << Length;
                EXPECT_EQ(PngAdler32Portable(Seed, Data.data() + Start, N),
                          adler32(Seed, Data.data() + Start, uInt(N)));
            }
}

// ------------------------------------------------------------------ suite

namespace {

// libpng's reading as RGBA (16-bit samples by their high byte), with this
// loader's rules applied: gamma table on the colours, transparency mode,
// drawing onto white.
std::vector<TColor32> Oracle(const std::string& Path, bool& UsesAlpha) {
    FILE* F = fopen(Path.c_str(), "rb");
    png_structp Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop Info = png_create_info_struct(Png);
    png_init_io(Png, F);
    png_read_info(Png, Info);
    const int Type = png_get_color_type(Png, Info), Depth = png_get_bit_depth(Png, Info);
    const uint32_t W = png_get_image_width(Png, Info), H = png_get_image_height(Png, Info);
    double Gamma = 0;
    uint8_t T[256];
    for (int i = 0; i < 256; ++i)
        T[i] = uint8_t(i);
    if (png_get_gAMA(Png, Info, &Gamma) && Gamma > 0)
        for (int i = 0; i < 256; ++i)
            T[i] = uint8_t(std::nearbyint(255 * std::pow(i / 255.0, 1 / (Gamma * 2.2))));
    png_bytep TrnsAlpha = nullptr;
    int TrnsCount = 0;
    png_color_16p TrnsColor = nullptr;
    const bool HasTrns = png_get_tRNS(Png, Info, &TrnsAlpha, &TrnsCount, &TrnsColor);
    png_set_expand(Png);
    png_set_strip_16(Png);
    png_set_gray_to_rgb(Png);
    png_set_add_alpha(Png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(Png);
    png_read_update_info(Png, Info);
    std::vector<uint8_t> Rgba(size_t(W) * H * 4);
    std::vector<png_bytep> Rows(H);
    for (uint32_t y = 0; y < H; ++y)
        Rows[y] = &Rgba[size_t(y) * W * 4];
    png_read_image(Png, Rows.data());

    // The key as a colour of the image.
    enum { None, Key, Partial } Mode = None;
    TColor32 K = 0;
    if (Type == PNG_COLOR_TYPE_GRAY_ALPHA || Type == PNG_COLOR_TYPE_RGB_ALPHA) Mode = Partial;
    if (HasTrns && Type == PNG_COLOR_TYPE_GRAY) {
        int V = Depth == 16 ? TrnsColor->gray >> 8 : TrnsColor->gray * 255 / ((1 << Depth) - 1);
        Mode = Key, K = T[V] * 0x010101u;
    }
    if (HasTrns && Type == PNG_COLOR_TYPE_RGB) {
        int S = Depth == 16 ? 8 : 0;
        Mode = Key,
        K = T[TrnsColor->red >> S] << 16 | T[TrnsColor->green >> S] << 8 | T[TrnsColor->blue >> S];
    }
    if (HasTrns && Type == PNG_COLOR_TYPE_PALETTE) {
        int NotOpaque =
            int(std::count_if(TrnsAlpha, TrnsAlpha + TrnsCount, [](int A) { return A != 255; }));
        Mode =
            NotOpaque == 1 && std::count(TrnsAlpha, TrnsAlpha + TrnsCount, 0) == 1 ? Key : Partial;
        png_colorp Pal;
        int N;
        png_get_PLTE(Png, Info, &Pal, &N);
        for (int i = 0; i < TrnsCount; ++i)
            if (TrnsAlpha[i] == 0) {
                K = T[Pal[i].red] << 16 | T[Pal[i].green] << 8 | T[Pal[i].blue];
                break;
            }
    }
    png_destroy_read_struct(&Png, &Info, nullptr);
    fclose(F);

    std::vector<TColor32> Out(size_t(W) * H);
    for (size_t i = 0; i < Out.size(); ++i) {
        const uint8_t* P = &Rgba[i * 4];
        TColor32 C = T[P[0]] << 16 | T[P[1]] << 8 | T[P[2]];
        unsigned A = Mode == Key ? 255 : P[3];
        auto Mix = [&](unsigned V) {
            return A == 0 ? 255 : A == 255 ? V : (V * A + (255 - A) * 255 + 255) >> 8;
        };
        TColor32 Drawn = Mix(C >> 16) << 16 | Mix((C >> 8) & 255) << 8 | Mix(C & 255);
        if (Mode == Key && C == K) Drawn = 0xFFFFFF;
        unsigned FinalA = Type == PNG_COLOR_TYPE_PALETTE || Mode == Key ? 255 : A;
        if (Mode == Key && Drawn == K) FinalA = 0;
        Out[i] = FinalA << 24 | Drawn;
    }
    if (Mode == None) UsesAlpha = false;
    if (Mode == Key || (Mode == Partial && Type != PNG_COLOR_TYPE_PALETTE)) UsesAlpha = true;
    return Out;
}

std::vector<std::string> SuiteFiles(const std::string& Folder) {
    std::vector<std::string> Files;
    for (auto& E : std::filesystem::directory_iterator(SuiteDir + Folder))
        if (E.path().extension() == ".png") Files.push_back(E.path().string());
    std::sort(Files.begin(), Files.end());
    return Files;
}

} // namespace

TEST(PngSuite, EveryPictureMatchesTheIndependentDecoder) {
    int Count = 0;
    for (bool SSE2 : {true, false})
        for (const char* Folder : {"primary", "16bit"})
            for (const std::string& File : SuiteFiles(Folder)) {
                RestrictCPUFeatures(SSE2 ? ~NoCPUFeatures : NoCPUFeatures);
                TBitmap32 B;
                bool UsesAlpha = false, Expected = false;
                ASSERT_NO_THROW(LoadPictureFile(B, File, UsesAlpha)) << File;
                auto Want = Oracle(File, Expected);
                std::vector<TColor32> Got(B.Bits(), B.Bits() + size_t(B.Width()) * B.Height());
                ASSERT_EQ(Got.size(), Want.size()) << File;
                for (size_t i = 0; i < Got.size(); ++i)
                    ASSERT_EQ(Got[i], Want[i]) << File << " pixel " << i << " sse2 " << SSE2;
                EXPECT_EQ(UsesAlpha, Expected) << File;
                ++Count;
            }
    RestrictCPUFeatures(~NoCPUFeatures);
    EXPECT_EQ(Count, 2 * (77 + 23));
}

TEST(PngSuite, EveryCorruptFileRaisesItsException) {
    const std::map<std::string, std::string> Expected = {
        {"xs1n0g01", Name<EPNGInvalidFileHeader>()}, {"xs2n0g01", Name<EPNGInvalidFileHeader>()},
        {"xs4n0g01", Name<EPNGInvalidFileHeader>()}, {"xs7n0g01", Name<EPNGInvalidFileHeader>()},
        {"xcrn0g04", Name<EPNGInvalidFileHeader>()}, {"xlfn0g04", Name<EPNGInvalidFileHeader>()},
        {"xc1n0g08", Name<EPngInvalidIHDR>()},       {"xc9n2c08", Name<EPngInvalidIHDR>()},
        {"xd0n2c08", Name<EPngInvalidIHDR>()},       {"xd3n2c08", Name<EPngInvalidIHDR>()},
        {"xd9n2c08", Name<EPngInvalidIHDR>()},       {"xcsn0g01", Name<EPngInvalidCRC>()},
        {"xhdn0g08", Name<EPngInvalidCRC>()},        {"xdtn0g01", Name<EPNGNoImageData>()},
    };
    auto Files = SuiteFiles("corrupt");
    ASSERT_EQ(Files.size(), Expected.size());
    for (const std::string& File : Files) {
        TBitmap32 B;
        B.SetSize(1, 1);
        B.Bits()[0] = 0x11223344;
        std::string Stem = std::filesystem::path(File).stem().string();
        EXPECT_EQ(LoadError(ReadFile(File), &B), Expected.at(Stem)) << Stem;
        EXPECT_EQ(B.Bits()[0], 0x11223344u) << Stem;
    }
}
