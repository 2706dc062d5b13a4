#include "input/bitmap_view.h"

#include <cstdlib>

namespace kav {

std::optional<BitmapView> ViewBitmap(const LoadedBitmap& bitmap) {
  if (!bitmap.block || bitmap.width < 0 || bitmap.block.size() < kBmpPaletteBytes) {
    return std::nullopt;
  }
  const auto width = static_cast<std::uint32_t>(bitmap.width);
  const auto rowCount = static_cast<std::uint32_t>(std::llabs(std::int64_t{bitmap.height}));
  const std::uint64_t stride = BmpStride(width);
  const std::uint64_t rowBytes = stride * rowCount;
  const std::span<const std::uint8_t> afterPalette = bitmap.block.bytes().subspan(kBmpPaletteBytes);
  if (rowBytes > afterPalette.size()) {
    return std::nullopt;
  }
  const BitmapView view{.palette = PaletteBytes(bitmap.block.data(), kBmpPaletteBytes),
                        .width = width,
                        .rowCount = rowCount,
                        .stride = stride,
                        .topDown = bitmap.height < 0,
                        .rows = afterPalette.first(static_cast<std::size_t>(rowBytes))};
  return view;
}

}  // namespace kav
