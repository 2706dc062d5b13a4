#pragma once
// What the bmp_convert and png targets share: the reader over bytes in memory and, when it
// accepts them, every encoder, with the checks an accepted picture must pass.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "input/bitmap_view.h"
#include "input/bmp_reader.h"
#include "formats/mzr.h"
#include "formats/run_length.h"
#include "platform/byte_source.h"

namespace kav::fuzz {

class SilentMessages final : public MessageBoxes {
 public:
  void ShowError(MessageOwner /*owner*/, std::string_view /*text*/,
                 std::string_view /*cause*/) override {}
};

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

// Reads `bytes`; an accepted picture must have a view (top row first when `topDown`), an MZR
// file of 16404 + width x height bytes, and run-length files holding at least their header.
inline void ReadAndEncode(std::span<const std::uint8_t> bytes, bool topDown = false) {
  SilentMessages messages;
  MemorySource source(bytes);
  LoadedBitmap bitmap;
  if (ReadBmp8(source, messages, bitmap, FuzzBudget()) != kBmpOk) {
    return;
  }
  const std::optional<BitmapView> view = ViewBitmap(bitmap);
  if (!view || (topDown && !view->topDown)) {
    __builtin_trap();  // the reader must never hand over a block too short for its image
  }
  CountingSink mzr;
  if (EncodeMzr(*view, {}, mzr) == EncodeResult::kOk &&
      mzr.count != kMzrRowsOffset + std::uint64_t{view->width} * view->rowCount) {
    __builtin_trap();
  }
  if (view->width > 0 && view->rowCount > 0 && FitsFileHeader(*view)) {
    for (const auto variant : {RunLengthVariant::kRle, RunLengthVariant::kRls}) {
      if (EncodeRunLength(*view, variant).size() < kRowTablesOffset) {
        __builtin_trap();
      }
    }
  }
}

}  // namespace kav::fuzz
