#include <algorithm>

#include "input/bmp_header.h"
#include "input/pixel_decoders.h"

namespace kav {
namespace {

constexpr unsigned kBitsPerByte = 8;

void UnpackRow(std::span<const std::uint8_t> packed, unsigned bits, std::span<std::uint8_t> row,
               std::uint32_t width) {
  const unsigned perByte = kBitsPerByte / bits;
  const auto mask = static_cast<std::uint8_t>((1U << bits) - 1);
  for (std::uint32_t x = 0; x < width; ++x) {
    const unsigned shift = kBitsPerByte - bits * (x % perByte + 1);
    row[x] = static_cast<std::uint8_t>(packed[x / perByte] >> shift & mask);
  }
  std::fill(row.begin() + width, row.end(), std::uint8_t{0});
}

}  // namespace

void UnpackRows(std::span<const std::uint8_t> packed, unsigned bits, const DecodedRows& rows) {
  const std::uint64_t packedStride = PackedStride(rows.width, bits);
  // Rows without columns are not walked: a header may claim 2^31 of them.
  for (std::uint64_t r = 0; rows.width != 0 && r < rows.rowCount; ++r) {
    UnpackRow(packed.subspan(static_cast<std::size_t>(r * packedStride),
                             static_cast<std::size_t>(packedStride)),
              bits,
              rows.bytes.subspan(static_cast<std::size_t>(r * rows.stride),
                                 static_cast<std::size_t>(rows.stride)),
              rows.width);
  }
}

}  // namespace kav
