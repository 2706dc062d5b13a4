#include "input/palette_picture.h"

#include <algorithm>
#include <utility>

#include "color/exact_palette.h"

namespace kav {
namespace {

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

ReadResult RemapPalettePicture(Picture picture, const TransparencyRules& rules) {
  IndexUsage usage;
  // A picture without columns uses no index however many rows it claims: its rows are not
  // walked, which would take seconds for the 2^31 rows a header may give.
  for (std::uint32_t y = 0; picture.width() != 0 && y < picture.height(); ++y) {
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
  // More colours than fit (ColourCount() of them): the one place where colour reduction
  // takes the picture instead.
  if (exact.Choose() == PaletteChoice::kTooManyColours) {
    return ReadFailure::kTooManyColours;
  }
  // Each pixel's index over the start of its own 4 bytes, already read: no memory is added.
  const RgbaPixels pixels = picture.Rgba();
  exact.Map(pixels, picture.WritableRows().first(pixels.PixelCount()));
  picture.BecomeIndices(OpaquePalette(exact.Palette()));
  return picture;
}

// A picture whose rows were mapped as they came, but which has more colours than fit, is
// read again whole, so that every truecolour picture of too many colours reaches
// MapTrueColour, the one place where colour reduction takes it.
template <typename Input>
ReadResult ReadThenMap(Input& input, const TransparencyRules& rules, MemoryBudget& budget) {
  ReadResult read = ReadPicture(input, budget, &rules);
  if (!read && read.failed().failure == ReadFailure::kTooManyColours) {
    read = ReadPicture(input, budget);
  }
  if (!read) {
    return read;
  }
  return ToPalettePicture(std::move(*read), rules);
}

}  // namespace

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
  return ReadThenMap(path, rules, budget);
}

ReadResult ReadPalettePicture(ByteSource& source, const TransparencyRules& rules,
                              MemoryBudget& budget) {
  return ReadThenMap(source, rules, budget);
}

}  // namespace kav
