#include "input/palette_picture.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "color/exact_palette.h"
#include "color/reduce.h"
#include "input/fixed_palette.h"

namespace kav {
namespace {

ReadResult RemapPalettePicture(Picture picture, const TransparencyRules& rules) {
  const std::array<std::uint8_t, kPaletteEntries> alphas = EntryAlphas(picture.palette());
  // Which indices the pixels use matters only where some entry is transparent: a palette
  // without one (every BMP's) keeps its indices, and its rows are not walked.
  if (!RemapForTransparency(alphas, IndexUsage{}, rules).changes) {
    return picture;
  }
  IndexUsage usage;
  // A picture without columns uses no index however many rows it claims: its rows are not
  // walked, which would take seconds for the 2^31 rows a header may give.
  for (std::uint32_t y = 0; picture.width() != 0 && y < picture.height(); ++y) {
    usage.Add(picture.Row(y));
  }
  const IndexRemap remap = RemapForTransparency(alphas, usage, rules);
  // Only BMP rows are ever mapped, and BMP palettes are opaque: a remapped picture is always
  // in memory of its own.
  if (picture.WritableRows().empty() && picture.width() != 0 && picture.height() != 0) {
    return ReadFailure::kOutOfMemory;
  }
  ApplyRemap(remap, picture.WritableRows());
  picture.SetPalette(SwappedPalette(picture.palette(), remap));
  return picture;
}

bool HasTransparentPixel(const RgbaPixels& pixels, const TransparencyRules& rules) {
  for (std::size_t at = 3; at < pixels.bytes.size(); at += kRgbaPixelBytes) {
    if (rules.IsTransparent(pixels.bytes[at])) {
      return true;
    }
  }
  return false;
}

// `found` distinct opaque colours, more than fit, reduced to the capacity, T set aside as for
// an exact palette.
ReadResult ReduceTrueColour(Picture picture, const TransparencyRules& rules, Dither dither,
                            std::size_t found, ColourReduction* reduced) {
  const RgbaPixels pixels = picture.Rgba();
  const bool setAside = rules.formatDrawsTransparent || HasTransparentPixel(pixels, rules);
  const ReductionSettings settings{
      .capacity = static_cast<std::uint16_t>(setAside ? kPaletteEntries - 1 : kPaletteEntries),
      .transparency = {.index = setAside ? std::optional(rules.transparentIndex) : std::nullopt,
                       .alphaThreshold = rules.alphaThreshold},
      .dither = dither};
  // Not over the pixels: libimagequant reads them again while it writes the indices.
  MemoryBlock block = MemoryBlock::Allocate(pixels.PixelCount());
  if (!block) {
    return ReadFailure::kOutOfMemory;
  }
  const std::array<std::span<std::uint8_t>, 1> indices{block.bytes()};
  const std::optional<RgbPalette> palette = ReduceColours(std::span(&pixels, 1), settings, indices);
  if (!palette) {
    return ReadFailure::kOutOfMemory;
  }
  if (reduced != nullptr) {
    *reduced = {.found = found, .capacity = settings.capacity};
  }
  return PictureOfIndices(std::move(picture), OpaquePalette(*palette), std::move(block));
}

ReadResult MapTrueColour(Picture picture, const TransparencyRules& rules,
                         const ColourRules& colours, ColourReduction* reduced) {
  ExactPalette exact(rules);
  exact.Gather(picture.Rgba());
  // More colours than fit (ColourCount() of them): the one place where colour reduction
  // takes the picture instead.
  if (exact.Choose() == PaletteChoice::kTooManyColours) {
    if (!colours.reduce) {
      return ReadFailure::kTooManyColours;
    }
    return ReduceTrueColour(std::move(picture), rules, colours.dither, exact.ColourCount(),
                            reduced);
  }
  // Each pixel's index over the start of its own 4 bytes, already read: no memory is added.
  const RgbaPixels pixels = picture.Rgba();
  exact.Map(pixels, picture.WritableRows().first(pixels.PixelCount()));
  picture.BecomeIndices(OpaquePalette(exact.Palette()));
  return picture;
}

// A picture whose rows were mapped as they came, but which has more colours than fit, is
// read again whole, so that every truecolour picture of too many colours reaches
// MapTrueColour, the one place where colour reduction takes it. With a fixed palette every
// picture is read whole at once.
template <typename Input>
ReadResult ReadThenMap(Input& input, const TransparencyRules& rules, MemoryBudget& budget,
                       const ColourRules& colours, ColourReduction* reduced) {
  ReadResult read = colours.fixedPalette != nullptr ? ReadPicture(input, budget)
                                                    : ReadPicture(input, budget, &rules);
  if (!read && read.failed().failure == ReadFailure::kTooManyColours) {
    read = ReadPicture(input, budget);
  }
  if (!read) {
    return read;
  }
  return ToPalettePicture(std::move(*read), rules, colours, reduced);
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

ReadResult ToPalettePicture(Picture picture, const TransparencyRules& rules,
                            const ColourRules& colours, ColourReduction* reduced) {
  const InputKind kind = picture.kind();
  ReadResult result =
      colours.fixedPalette != nullptr ? OntoFixedPalette(std::move(picture), *colours.fixedPalette,
                                                         {.index = rules.transparentIndex,
                                                          .alphaThreshold = rules.alphaThreshold},
                                                         colours.dither)
      : picture.IsTrueColour()        ? MapTrueColour(std::move(picture), rules, colours, reduced)
                                      : RemapPalettePicture(std::move(picture), rules);
  if (!result) {
    result.failed().kind = kind;
  }
  return result;
}

ReadResult ReadPalettePicture(const std::string& path, const TransparencyRules& rules,
                              const ColourRules& colours, ColourReduction* reduced) {
  return ReadThenMap(path, rules, PictureMemory(), colours, reduced);
}

ReadResult ReadPalettePicture(const std::string& path, const TransparencyRules& rules,
                              MemoryBudget& budget) {
  return ReadThenMap(path, rules, budget, {}, nullptr);
}

ReadResult ReadPalettePicture(ByteSource& source, const TransparencyRules& rules,
                              MemoryBudget& budget) {
  return ReadThenMap(source, rules, budget, {}, nullptr);
}

std::variant<ReadResult, FrameFile> ReadPaletteInput(const std::string& path,
                                                     const TransparencyRules& rules,
                                                     const ColourRules& colours,
                                                     ColourReduction* reduced,
                                                     MemoryBudget& budget) {
  // As ReadThenMap: a picture for a fixed palette is read whole at once, and one whose rows
  // were mapped as they came but hold too many colours is read again whole.
  std::variant<ReadResult, FrameFile> input =
      ReadInput(path, budget, colours.fixedPalette != nullptr ? nullptr : &rules);
  ReadResult* read = std::get_if<ReadResult>(&input);
  if (read == nullptr) {
    return input;
  }
  if (!*read && read->failed().failure == ReadFailure::kTooManyColours) {
    *read = ReadPicture(path, budget);
  }
  if (*read) {
    *read = ToPalettePicture(std::move(**read), rules, colours, reduced);
  }
  return input;
}

}  // namespace kav
