// Any bytes through the decoders of every format, keeping the pixels and checking only,
// and through the row decoder and rendering when they decode.

#include <algorithm>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "formats/decode.h"
#include "formats/render.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const kav::DecodeResult kept = kav::DecodeFile(bytes, kav::PixelOutput::kKeep);
  const kav::DecodeResult checked = kav::DecodeFile(bytes, kav::PixelOutput::kCheckOnly);
  if (kept.index() != checked.index()) {
    __builtin_trap();  // keeping the pixels must not change the verdict
  }
  const auto* image = std::get_if<kav::DecodedImage>(&kept);
  if (image == nullptr) {
    return 0;
  }
  if (image->indices.size() != std::size_t{image->width} * image->height) {
    __builtin_trap();
  }
  // Rows decoded on demand, in any order, are the rows kept.
  kav::RowDecoder rows(*image, bytes);
  std::vector<std::uint8_t> rgba(std::size_t{image->width} * kav::kRgbaBytes);
  for (std::uint32_t y = image->height; y-- > 0;) {
    const std::span<const std::uint8_t> row = rows.Row(y);
    const auto keptRow =
        std::span(image->indices).subspan(std::size_t{y} * image->width, row.size());
    if (row.size() != image->width || !std::equal(row.begin(), row.end(), keptRow.begin())) {
      __builtin_trap();
    }
    kav::RenderRow(*image, kav::DefaultTableOf(image->kind), row, rgba);
  }
  return 0;
}
