// Any bytes through the BMP reader and, when it accepts them, through every encoder.

#include <cstdint>
#include <span>

#include "bmp/bitmap_view.h"
#include "bmp/bmp_reader.h"
#include "formats/mzr.h"
#include "formats/run_length.h"
#include "platform/byte_source.h"

namespace {

class SilentMessages final : public kav::MessageBoxes {
 public:
  void ShowError(kav::MessageOwner /*owner*/, std::string_view /*text*/,
                 std::string_view /*cause*/) override {}
};

// Counts bytes instead of keeping them, so large images cost no memory here.
class CountingSink final : public kav::ByteSink {
 public:
  void Write(std::span<const std::uint8_t> bytes) override { count += bytes.size(); }
  std::uint64_t count = 0;
};

// A few bytes of RLE can ask for a picture of gigabytes; decoding and encoding pictures up to
// this size reaches every path, and keeps each run fast and inside libFuzzer's memory limit.
constexpr std::uint64_t kLargestDecoded = std::uint64_t{64} << 10;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SilentMessages messages;
  kav::MemorySource source(std::span(data, size));
  kav::LoadedBitmap bitmap;
  if (kav::ReadBmp8(source, messages, bitmap, kLargestDecoded) != kav::kBmpOk) {
    return 0;
  }
  const std::optional<kav::BitmapView> view = kav::ViewBitmap(bitmap);
  if (!view) {
    __builtin_trap();  // the reader must never hand over a block too short for its image
  }
  CountingSink mzr;
  if (kav::EncodeMzr(*view, {}, mzr) == kav::EncodeResult::kOk &&
      mzr.count != kav::kMzrRowsOffset + std::uint64_t{view->width} * view->rowCount) {
    __builtin_trap();
  }
  if (view->width > 0 && view->rowCount > 0 && kav::FitsFileHeader(*view)) {
    for (const auto variant : {kav::RunLengthVariant::kRle, kav::RunLengthVariant::kRls}) {
      const std::vector<std::uint8_t> file = kav::EncodeRunLength(*view, variant);
      if (file.size() < kav::kRowTablesOffset) {
        __builtin_trap();
      }
    }
  }
  return 0;
}
