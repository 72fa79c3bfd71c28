// SPDX-License-Identifier: GPL-3.0-or-later
// Message texts of the PNG reader. They are shown to the operator and written
// to the error log as they stand, so their wording (spelling included) is
// part of the program's visible behaviour and must not be "corrected".
#pragma once

namespace pnglang {

inline constexpr const char* EPNGInvalidFileHeaderText =
    "The file being readed is not a valid \"Portable Network Graphics\" image because it contains "
    "an "
    "invalid header. This file may be corruped, try obtaining it again.";
inline constexpr const char* EPngUnexpectedEndText =
    "This \"Portable Network Graphics\" image is invalid because the decoder found an unexpected "
    "end of the "
    "file.";
inline constexpr const char* EPNGIHDRNotFirstText =
    "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n(IHDR "
    "chunk is not "
    "the first)";
inline constexpr const char* EPNGUnknownCriticalChunkText =
    "This \"Portable Network Graphics\" image contains an unknown critical part which could not be "
    "decoded.";
inline constexpr const char* EPngInvalidCRCText =
    "This \"Portable Network Graphics\" image is not valid because it contains invalid pieces of "
    "data (crc "
    "error)";
inline constexpr const char* EPngInvalidIHDRText =
    "The \"Portable Network Graphics\" image could not be loaded because one of its main piece of "
    "data "
    "(ihdr) might be corrupted";
inline constexpr const char* EPNGSizeExceedsText =
    "This \"Portable Network Graphics\" image is not supported because either it's width or height "
    "exceeds "
    "the maximum size, which is 65535 pixels length.";
inline constexpr const char* EPNGUnknownCompressionText =
    "This \"Portable Network Graphics\" image is encoded with an unknown compression scheme which "
    "could not "
    "be decoded.";
inline constexpr const char* EPNGUnknownInterlaceText =
    "This \"Portable Network Graphics\" image uses an unknown interlace scheme which could not be "
    "decoded.";
inline constexpr const char* EPNGInvalidPaletteText =
    "The \"Portable Network Graphics\" image contains an invalid palette.";
inline constexpr const char* EPNGMissingMultipleIDATText =
    "This \"Portable Network Graphics\" image is invalid because it has missing image parts.";
// Followed by the decompressor's own description of the fault.
inline constexpr const char* EPNGZLIBErrorText =
    "Could not decompress the image because it contains invalid compressed data.\r\n Description: ";
inline constexpr const char* EPNGNoImageDataText =
    "This \"Portable Network Graphics\" image contains no data.";
inline constexpr const char* EPNGOutMemoryText =
    "Some operation could not be performed because the system is out of resources. Close some "
    "windows and "
    "try again.";
inline constexpr const char* EPNGHeaderNotPresentText =
    "This operation is not valid because the current image contains no valid header.";
inline constexpr const char* EPNGInvalidNewSizeText =
    "The new size provided for image resizing is invalid.";
inline constexpr const char* EPNGPaletteEntryText = "There is no such palette entry.";
inline constexpr const char* EPNGCannotAssignChunkText =
    "The chunks must be compatible to be assigned.";

// Descriptions for faults of the decompressed image data that the
// decompressor itself cannot see.
inline constexpr const char* ZDescTooMuchData = "too much image data";
inline constexpr const char* ZDescBadFilter = "invalid filter type";

} // namespace pnglang
