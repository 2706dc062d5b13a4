#pragma once
// The decoders from a BMP file's stored pixels to rows of 8-bit indices, one per encoding that
// must be decoded (raw 8-bit rows are handed over as they are). They work on bytes already in
// memory and write every byte of `rows`, padding 0.

#include <cstdint>
#include <span>

namespace kav {

// Where decoded rows go: `rowCount` rows of `stride` bytes, the first `width` of each the
// pixels.
struct DecodedRows {
  std::span<std::uint8_t> bytes;  // rowCount * stride bytes
  std::uint32_t width = 0;
  std::uint32_t rowCount = 0;
  std::uint64_t stride = 0;
};

// Rows of `bits`-bit indices (1, 2 or 4; high bits first within a byte), PackedStride(width,
// bits) bytes each, which `packed` holds; decoded row i comes from stored row i.
void UnpackRows(std::span<const std::uint8_t> packed, unsigned bits, const DecodedRows& rows);

// An RLE8 (`bits` 8) or RLE4 (`bits` 4) stream, bottom row first. Pixels the stream does not
// set are 0, pixels past the right edge of their row are dropped, and the stream may end
// anywhere, even inside an escape: what it holds is used. False when the stream places a
// pixel below the last row or moves its cursor out of the picture: the rows are then
// unfinished.
bool DecodeRle(std::span<const std::uint8_t> stream, unsigned bits, const DecodedRows& rows);

}  // namespace kav
