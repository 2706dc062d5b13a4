// PNG files through ReadPicture with every chunk's CRC mended first: a mutated byte would
// otherwise be refused at its chunk's CRC, so the header checks, every colour type, depth and
// interlace, and the image stream are reached. bmp_convert feeds bytes as they come, damaged
// CRCs included.

#include <zlib.h>

#include <cstdint>
#include <span>
#include <vector>

#include "read_and_encode.h"

namespace {

constexpr std::size_t kSignatureSize = 8;
constexpr std::size_t kLengthSize = 4;
constexpr std::size_t kTypeSize = 4;
constexpr std::size_t kCrcSize = 4;

std::uint32_t LoadBe32(std::span<const std::uint8_t> bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | bytes[3];
}

// Rewrites the CRC of every whole chunk after the signature; a chunk cut short is left.
void MendCrcs(std::span<std::uint8_t> file) {
  std::size_t at = kSignatureSize;
  while (at <= file.size() && file.size() - at >= kLengthSize + kTypeSize + kCrcSize) {
    const std::uint64_t length = LoadBe32(file.subspan(at, kLengthSize));
    if (length > file.size() - at - kLengthSize - kTypeSize - kCrcSize) {
      return;
    }
    const std::span<std::uint8_t> typeAndData =
        file.subspan(at + kLengthSize, kTypeSize + static_cast<std::size_t>(length));
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, typeAndData.data(), static_cast<uInt>(typeAndData.size())));
    const std::span<std::uint8_t> stored =
        file.subspan(at + kLengthSize + typeAndData.size(), kCrcSize);
    for (std::size_t i = 0; i < kCrcSize; ++i) {
      stored[i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    }
    at += kLengthSize + typeAndData.size() + kCrcSize;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  if (kav::RecogniseInput(input) != kav::InputKind::kPng) {
    return 0;  // bmp_convert's ground
  }
  std::vector<std::uint8_t> file(input.begin(), input.end());
  MendCrcs(file);
  kav::fuzz::ReadAndEncode(file);
  return 0;
}
