#pragma once
// ReadPng: loads one palette or grey PNG file into the block ReadBmp8 hands over, so that a
// PNG gives exactly what its uncompressed 8-bit BMP twin gives.
//
//   palette PNG, depth 1, 2, 4 or 8   the PLTE entries are the palette; each pixel's value is
//                                     its index, kept as it is when it lies at or past the
//                                     PLTE's length (such an index has a black entry)
//   grey PNG, depth d of 1, 2, 4, 8   2^d greys: level v is v * 255 / (2^d - 1), index v
//
// Interlaced and plain files read alike. Colours are taken as stored: tRNS, gAMA, sRGB,
// iCCP and every other ancillary chunk are skipped (their CRCs are still checked).
// Truecolour, grey with alpha and 16-bit files are refused as having no palette; a bad CRC,
// a file cut short or a damaged image stream as corrupt.
//
// The rows are stored top row first, so the loaded height is negative.

#include <cstdint>
#include <span>

#include "input/bmp_reader.h"
#include "platform/byte_source.h"

namespace kav {

// "\x89PNG\r\n\x1a\n": the 8 bytes every PNG file begins with.
inline constexpr std::size_t kPngSignatureSize = 8;
bool HasPngSignature(std::span<const std::uint8_t> first);

// Reads the PNG file `source` (from its start) into `bitmap`, giving a result code of
// bmp_reader.h. The block, with libpng's row buffers, is reserved in `budget` once the
// header has told the picture's size, before any of the image stream is inflated; a picture
// larger than the whole budget is refused as out of memory. On failure `bitmap` is untouched.
std::int16_t ReadPng(ByteSource& source, MemoryBudget& budget, LoadedBitmap& bitmap);

}  // namespace kav
