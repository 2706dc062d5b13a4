#pragma once
// What the bmp_convert and png targets share: the reader over bytes in memory and, when it
// accepts them, every encoder, with the checks an accepted picture must pass.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "formats/mzr.h"
#include "formats/run_length.h"
#include "input/palette_picture.h"
#include "input/read_picture.h"
#include "platform/byte_source.h"

namespace kav::fuzz {

// Counts bytes instead of keeping them, so large images cost no memory here.
class CountingSink final : public ByteSink {
 public:
  void Write(std::span<const std::uint8_t> bytes) override { count += bytes.size(); }
  std::uint64_t count = 0;
};

// A few bytes of RLE can ask for a picture of gigabytes; decoding and encoding pictures up to
// this size reaches every path, and keeps each run fast and inside libFuzzer's memory limit.
// The reader draws from a budget of that size, which refuses larger pictures at once.
constexpr std::uint64_t kLargestDecoded = std::uint64_t{64} << 10;
inline MemoryBudget& FuzzBudget() {
  static MemoryBudget budget(kLargestDecoded);
  return budget;
}

// The transparency rules a run is read with, told by the input's length so that the corpus
// reaches each: the run-length formats' T of 255, MZR's T of 0 with and without remapping,
// and indices kept.
inline TransparencyRules RulesFor(std::span<const std::uint8_t> bytes) {
  switch (bytes.size() % 4) {
    case 0:
      return {};
    case 1:
      return {.transparentIndex = 0, .formatDrawsTransparent = true, .alphaThreshold = 1};
    case 2:
      return {.transparentIndex = 0, .formatDrawsTransparent = false, .alphaThreshold = 255};
    default:
      return {.keepIndices = true};
  }
}

// Reads `bytes`; an accepted picture must be of the kind its first bytes say, and give an MZR
// file of 16404 + width x height bytes and run-length files holding at least their header.
inline void ReadAndEncode(std::span<const std::uint8_t> bytes) {
  MemorySource source(bytes);
  ReadResult read = ReadPalettePicture(source, RulesFor(bytes), FuzzBudget());
  if (!read) {
    return;
  }
  const Picture& picture = *read;
  if (RecogniseInput(bytes) != picture.kind()) {
    __builtin_trap();
  }
  CountingSink mzr;
  if (EncodeMzr(picture, {}, mzr) == EncodeResult::kOk &&
      mzr.count != kMzrRowsOffset + std::uint64_t{picture.width()} * picture.height()) {
    __builtin_trap();
  }
  if (picture.width() > 0 && picture.height() > 0 && FitsFileHeader(picture)) {
    for (const auto format : {OutputFormat::kRle, OutputFormat::kRls}) {
      if (EncodeRunLength(picture, format).size() < kRowTablesOffset) {
        __builtin_trap();
      }
    }
  }
}

}  // namespace kav::fuzz
