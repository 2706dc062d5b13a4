#pragma once
// The steps of reading a BMP file before its pixels: the headers by kind, the checks on them,
// and where palette and pixels lie. A step that refuses the file says why.

#include <cstdint>
#include <optional>

#include "input/bmp_reader.h"
#include "platform/byte_source.h"

namespace kav {

// The info header's kind, told by its length.
enum class BmpHeaderKind {
  kCore,  // 12 bytes: 16-bit width and height, 3-byte palette entries
  kInfo,  // 16 bytes or more: the 40-byte layout, or as much of it as the header holds
};

// How the pixels are stored.
enum class BmpPixels {
  kRaw8,    // 8-bit indices, rows padded to 4 bytes: handed over as they are
  kPacked,  // 1, 2 or 4 bits per index, rows padded to 4 bytes
  kRle8,
  kRle4,
  kTrueColour,  // 16, 24 or 32 bits a pixel, little-endian, channels by masks; rows padded
};

// Where a truecolour pixel's channels lie in its little-endian value: contiguous runs of
// bits, 0 for a channel the file does not have.
struct BmpMasks {
  std::uint32_t red = 0;
  std::uint32_t green = 0;
  std::uint32_t blue = 0;
  std::uint32_t alpha = 0;
};

// The fields the reader looks at.
struct BmpHeader {
  BmpHeaderKind kind = BmpHeaderKind::kInfo;
  std::uint32_t fileSize = 0;
  std::uint32_t rowsOffset = 0;
  std::uint32_t infoSize = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t bitCount = 0;
  std::uint32_t compression = 0;
  std::uint32_t coloursUsed = 0;
  BmpMasks masks;  // truecolour files
};

// Where palette and pixels lie in the file; all sizes in 64 bits so nothing can wrap.
struct BmpLayout {
  BmpPixels pixels = BmpPixels::kRaw8;
  std::uint64_t paletteOffset = 0;
  std::uint64_t paletteEntries = 0;    // at most 256
  std::uint64_t paletteEntrySize = 0;  // 3 or 4
  std::uint64_t rowsOffset = 0;
  std::uint64_t dataEnd = 0;  // bfSize or the end of the file, whichever comes first
  std::uint32_t width = 0;
  std::uint32_t rowCount = 0;      // the height without its sign
  std::uint64_t storedStride = 0;  // bytes per stored row; 0 for RLE rows
};

// Reads the file header and the info header, after the signature the caller has checked
// (corrupt when they are cut short or the info header has no known length).
std::optional<ReadFailure> ReadBmpHeader(ByteSource& source, BmpHeader& header);

// Refuses depths, compressions and sizes the reader does not take.
std::optional<ReadFailure> CheckBmpHeader(const BmpHeader& header);

BmpLayout BmpLayoutOf(const BmpHeader& header, std::uint64_t fileLength);

// Whether palette and pixels lie after the headers and inside bfSize and the file.
bool BmpLayoutFits(const BmpHeader& header, const BmpLayout& layout, std::uint64_t fileLength);

// The length of one stored row of `bits`-bit indices: padded to a multiple of 4 bytes.
constexpr std::uint64_t PackedStride(std::uint32_t width, unsigned bits) {
  return (std::uint64_t{width} * bits + 31) / 32 * 4;
}

}  // namespace kav
