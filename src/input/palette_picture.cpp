#include "input/palette_picture.h"

#include <algorithm>
#include <utility>

#include "color/exact_palette.h"

namespace kav {
namespace {

ReadResult RemapPalettePicture(Picture picture, const TransparencyRules& rules) {
  IndexUsage usage;
  for (std::uint32_t y = 0; y < picture.height(); ++y) {
    usage.Add(picture.Row(y));
  }
  const IndexRemap remap = RemapForTransparency(EntryAlphas(picture.palette()), usage, rules);
  if (!remap.changes) {
    return picture;
  }
  // Only BMP rows are ever mapped, and BMP palettes are opaque: a remapped picture is always
  // in memory of its own.
  if (picture.WritableRows().empty() && picture.width() != 0 && picture.height() != 0) {
    return ReadFailure::kOutOfMemory;
  }
  ApplyRemap(remap, picture.WritableRows());
  picture.SetPalette(SwappedPalette(picture.palette(), remap));
  return picture;
}

ReadResult MapTrueColour(Picture picture, const TransparencyRules& rules) {
  ExactPalette exact(rules);
  exact.Gather(picture.Rgba());
  // More colours than fit: where colour reduction takes the picture instead.
  if (exact.Choose() == PaletteChoice::kTooManyColours) {
    return ReadFailure::kTooManyColours;
  }
  // The reader reserved the indices' memory with the pixels', so nothing waits here.
  MemoryBlock block = MemoryBlock::Allocate(picture.Rgba().PixelCount());
  if (!block) {
    return ReadFailure::kOutOfMemory;
  }
  block.Hold(picture.TakeIndicesReservation());
  exact.Map(picture.Rgba(), block.bytes());
  const InputKind kind = picture.kind();
  const std::uint32_t width = picture.width();
  const std::uint32_t height = picture.height();
  picture.Release();
  std::optional<Picture> mapped =
      Picture::Of(kind, width, height, PaletteOf(exact.Palette()), std::move(block),
                  {.offset = 0, .stride = width, .bottomUp = false});
  if (!mapped) {
    return ReadFailure::kOutOfMemory;
  }
  return std::move(*mapped);
}

}  // namespace

std::array<std::uint8_t, kPaletteEntries> EntryAlphas(const Palette& palette) {
  std::array<std::uint8_t, kPaletteEntries> alphas{};
  std::ranges::transform(palette.entries, alphas.begin(), &Colour::alpha);
  return alphas;
}

Palette SwappedPalette(Palette palette, const IndexRemap& remap) {
  if (remap.swapped) {
    const auto [low, high] = *remap.swapped;
    std::swap(palette.entries[low], palette.entries[high]);
    palette.count = std::max<std::size_t>(palette.count, std::size_t{high} + 1);
    palette.count = std::max<std::size_t>(palette.count, std::size_t{low} + 1);
  }
  return palette;
}

Palette PaletteOf(const RgbPalette& exact) {
  Palette palette;
  palette.count = exact.count;
  for (std::size_t i = 0; i < exact.count; ++i) {
    const Rgb24 colour = exact.colours[i];
    palette.entries[i] = {.red = static_cast<std::uint8_t>(colour >> 16),
                          .green = static_cast<std::uint8_t>(colour >> 8),
                          .blue = static_cast<std::uint8_t>(colour)};
  }
  return palette;
}

ReadResult ToPalettePicture(Picture picture, const TransparencyRules& rules) {
  const InputKind kind = picture.kind();
  ReadResult result = picture.IsTrueColour() ? MapTrueColour(std::move(picture), rules)
                                             : RemapPalettePicture(std::move(picture), rules);
  if (!result) {
    result.failed().kind = kind;
  }
  return result;
}

ReadResult ReadPalettePicture(const std::string& path, const TransparencyRules& rules,
                              MemoryBudget& budget) {
  ReadResult read = ReadPicture(path, budget);
  if (!read) {
    return read;
  }
  return ToPalettePicture(std::move(*read), rules);
}

ReadResult ReadPalettePicture(ByteSource& source, const TransparencyRules& rules,
                              MemoryBudget& budget) {
  ReadResult read = ReadPicture(source, budget);
  if (!read) {
    return read;
  }
  return ToPalettePicture(std::move(*read), rules);
}

}  // namespace kav
