#pragma once
// ReadBmp8: loads one palette-indexed BMP or PNG file for the format writers. The file's
// first bytes tell which it is; a PNG is read by ReadPng (png_reader.h) into the same block
// its uncompressed 8-bit BMP twin would give.
//
// The file starts with the 14-byte file header, then an info header whose kind its length
// (biSize, at offset 14) tells:
//
//   12 bytes        the OS/2 1.x core header: 16-bit unsigned width (18) and height (20), bit
//                   count at 24, no compression; 3-byte palette entries (blue, green, red),
//                   2^bits of them, or as many as fit before bfOffBits
//   16 to 39 bytes  an OS/2 2.x header cut short: the fields of the 40-byte layout below that
//                   lie wholly inside it, the others 0
//   40 and more     the 40-byte layout (OS/2 2.x headers of up to 64 bytes, and the longer
//                   headers that begin with it, read alike):
//
//   offset size field           use
//   0      2    bfType          "BM"
//   2      4    bfSize          unsigned; the file's own idea of its length
//   10     4    bfOffBits       where the pixel rows start
//   14     4    biSize          info header length; the palette follows it
//   18     4    biWidth         signed; must not be negative
//   22     4    biHeight        signed; negative means rows are stored top row first
//   28     2    biBitCount      1, 2, 4 or 8
//   30     4    biCompression   0 raw rows, 1 RLE8 (8 bits), 2 RLE4 (4 bits)
//   46     4    biClrUsed       palette entries; 0 means 2^bits, more than 256 use the first 256
//
// Palette entries of these headers are 4 bytes: blue, green, red, reserved. Raw rows are
// padded to a multiple of 4 bytes, pixels high bits first within a byte. RLE8 and RLE4 rows
// are stored bottom row first, coded from bfOffBits to bfSize or the end of the file.
//
// The loaded block is normalised to what every writer reads: 1024 palette bytes (entries
// the file does not have are zero) followed by the rows as 8-bit indices, `stride` bytes
// each (width rounded up to a multiple of 4), bottom row first unless the height is
// negative. An uncompressed 8-bit file gives its own bytes from bfOffBits up to bfSize;
// for the common layout (40-byte info header, 256 colours, rows at 1078) that is exactly
// the file's bytes 54 to bfSize - 1. Every other file is decoded into a block of palette
// and rows alone, padding zero.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/byte_source.h"
#include "platform/memory_block.h"
#include "platform/memory_budget.h"
#include "platform/message_box.h"

namespace kav {

inline constexpr std::size_t kBmpFileHeaderSize = 14;
inline constexpr std::size_t kBmpMinInfoHeaderSize = 40;
inline constexpr std::size_t kBmpHeadersSize = kBmpFileHeaderSize + kBmpMinInfoHeaderSize;  // 54
inline constexpr std::size_t kBmpSignatureSize = 2;
inline constexpr std::size_t kBmpPaletteEntries = 256;
inline constexpr std::size_t kBmpPaletteEntrySize = 4;
inline constexpr std::size_t kBmpPaletteBytes = kBmpPaletteEntries * kBmpPaletteEntrySize;  // 1024

// Field offsets in the file, for the info headers of 40 bytes and more.
inline constexpr std::size_t kBfSizeOffset = 2;
inline constexpr std::size_t kBfOffBitsOffset = 10;
inline constexpr std::size_t kBiSizeOffset = 14;
inline constexpr std::size_t kBiWidthOffset = 18;
inline constexpr std::size_t kBiHeightOffset = 22;
inline constexpr std::size_t kBiBitCountOffset = 28;
inline constexpr std::size_t kBiCompressionOffset = 30;
inline constexpr std::size_t kBiClrUsedOffset = 46;

// Result codes of ReadBmp8; callers only test for zero.
inline constexpr std::int16_t kBmpOk = 0;
inline constexpr std::int16_t kBmpCannotOpen = -1;
inline constexpr std::int16_t kBmpNot8Bit = -2;
inline constexpr std::int16_t kBmpNotBmp = -3;
inline constexpr std::int16_t kBmpCorrupt = -4;
inline constexpr std::int16_t kBmpOutOfMemory = -5;
inline constexpr std::int16_t kBmpCompressed = -6;
inline constexpr std::int16_t kPngNoPalette = -7;
inline constexpr std::int16_t kPngCorrupt = -8;

// The reader's message for a file whose contents do not hold what its header says; writers
// use it too when a file changes under them while it is being converted.
inline constexpr std::string_view kBmpCorruptText = "This BMP file is corrupt";

// A loaded bitmap. The receiver owns the block.
struct LoadedBitmap {
  MemoryBlock block;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// Reads the BMP file at `path` into `bitmap`. On failure the reason has been shown in an
// unowned message box, the block is empty and width and height are untouched.
std::int16_t ReadBmp8(const std::string& path, MessageBoxes& messages, LoadedBitmap& bitmap);

// The same over any byte source (bytes in memory for tests and fuzzing). `source` is read
// from its start. The block (palette and rows, sized from the header alone) is reserved in
// `budget` before anything is decoded, waiting while other conversions leave too little of it
// free, and held by the block; a picture larger than the whole budget is refused as "Out of
// memory".
std::int16_t ReadBmp8(ByteSource& source, MessageBoxes& messages, LoadedBitmap& bitmap,
                      MemoryBudget& budget = PictureMemory());

// The length of one row in the loaded block: `width` rounded up to a multiple of 4.
constexpr std::uint64_t BmpStride(std::uint32_t width) {
  return (std::uint64_t{width} + 3) & ~3ULL;
}

}  // namespace kav
