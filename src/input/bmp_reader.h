#pragma once
// ReadBmp: the reader of BMP files: palette pictures of 1, 2, 4 and 8 bits, truecolour of 16, 24
// and 32 (input/bmp_header.cpp describes their masks).
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
//   28     2    biBitCount      1, 2, 4 or 8; 16, 24 or 32
//   30     4    biCompression   0 raw rows, 1 RLE8 (8 bits), 2 RLE4 (4 bits); for 16 to 32
//                               bits also 3 BI_BITFIELDS, 6 BI_ALPHABITFIELDS (masks at 54)
//   46     4    biClrUsed       palette entries; 0 means 2^bits, more than 256 use the first 256
//
// Palette entries of these headers are 4 bytes: blue, green, red, reserved. Raw rows are
// padded to a multiple of 4 bytes, pixels high bits first within a byte. RLE8 and RLE4 rows
// are stored bottom row first, coded from bfOffBits to bfSize or the end of the file.
//
// The picture's rows are stored bottom row first unless the height is negative. Uncompressed
// 8-bit rows are taken as the file holds them, padded to 4 bytes: in the common layout
// (40-byte info header, 256 colours, rows at 1078) the picture's block is the file's bytes 54
// to bfSize - 1, palette and rows, mapped when large; otherwise the rows alone. Packed and RLE
// rows are decoded into a block of the rows alone, one byte an index and no padding;
// truecolour rows into a truecolour picture, 4 bytes a pixel (red, green, blue, alpha), top
// row first.

#include <cstdint>

#include "input/read_picture.h"
#include "platform/byte_source.h"
#include "platform/memory_budget.h"

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

// Reads the BMP file `source` (from its start) into a picture. Its memory is reserved in
// `budget` before anything is decoded, sized from the header alone.
// The rules are not looked at: a truecolour BMP is given whole.
ReadResult ReadBmp(ByteSource& source, MemoryBudget& budget,
                   const TransparencyRules* rules = nullptr);

// The length of one stored row of 8-bit indices: `width` rounded up to a multiple of 4.
constexpr std::uint64_t BmpStride(std::uint32_t width) {
  return (std::uint64_t{width} + 3) & ~3ULL;
}

}  // namespace kav
