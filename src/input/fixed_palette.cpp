#include "input/fixed_palette.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "color/nearest_colour.h"
#include "color/palette_mapper.h"
#include "color/reduce.h"

namespace kav {
namespace {

// A palette picture's pixels in their entries' colours and alpha, 4 bytes a pixel.
MemoryBlock RgbaOf(const Picture& picture) {
  const std::size_t width = picture.width();
  MemoryBlock block = MemoryBlock::Allocate(width * picture.height() * kRgbaPixelBytes);
  if (!block) {
    return block;
  }
  const std::span<std::uint8_t> bytes = block.bytes();
  for (std::uint32_t y = 0; y < picture.height(); ++y) {
    EntryColours(picture.Row(y), picture.palette(),
                 bytes.subspan(y * width * kRgbaPixelBytes, width * kRgbaPixelBytes));
  }
  return block;
}

// The indices of `picture`, each through `newIndex`, into `indices`.
void Translate(const Picture& picture, const std::array<std::uint8_t, kPaletteEntries>& newIndex,
               std::span<std::uint8_t> indices) {
  const std::size_t width = picture.width();
  for (std::uint32_t y = 0; y < picture.height(); ++y) {
    std::ranges::transform(picture.Row(y), indices.subspan(y * width, width).begin(),
                           [&newIndex](std::uint8_t index) { return newIndex[index]; });
  }
}

// The indices of a palette picture onto the palette, or the failure that stops them.
std::optional<ReadFailure> MapPalettePicture(const Picture& picture, const RgbPalette& palette,
                                             const Transparency& transparency, Dither dither,
                                             std::span<std::uint8_t> indices) {
  if (dither == Dither::kNone) {
    const auto newIndex = EntriesOntoPalette(picture.palette(), palette, transparency);
    if (!newIndex) {
      return ReadFailure::kPaletteFileUnreadable;
    }
    Translate(picture, *newIndex, indices);
    return std::nullopt;
  }
  if (indices.empty()) {
    return std::nullopt;
  }
  // Dithering works on each pixel's own colour and place.
  const MemoryBlock rgba = RgbaOf(picture);
  if (!rgba) {
    return ReadFailure::kOutOfMemory;
  }
  const RgbaPixels pixels{
      .bytes = rgba.bytes(), .width = picture.width(), .height = picture.height()};
  const std::array<std::span<std::uint8_t>, 1> frameIndices{indices};
  if (!MapOntoFixedPalette(std::span(&pixels, 1), palette, transparency, dither, frameIndices)) {
    return ReadFailure::kOutOfMemory;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::array<std::uint8_t, kPaletteEntries>> EntriesOntoPalette(
    const Palette& entries, const RgbPalette& palette, const Transparency& transparency) {
  std::array<std::uint8_t, kPaletteEntries> newIndex{};
  for (std::size_t i = 0; i < kPaletteEntries; ++i) {
    const Colour& entry = entries.entries[i];
    if (transparency.IsTransparent(entry.alpha)) {
      newIndex[i] = *transparency.index;
      continue;
    }
    const std::optional<std::uint8_t> nearest =
        NearestEntry(MakeRgb24(entry.red, entry.green, entry.blue), palette, transparency.index);
    if (!nearest) {
      return std::nullopt;
    }
    newIndex[i] = *nearest;
  }
  return newIndex;
}

void EntryColours(std::span<const std::uint8_t> indices, const Palette& entries,
                  std::span<std::uint8_t> rgba) {
  for (std::size_t i = 0; i < indices.size(); ++i) {
    const Colour& entry = entries.entries[indices[i]];
    const std::array<std::uint8_t, kRgbaPixelBytes> pixel{entry.red, entry.green, entry.blue,
                                                          entry.alpha};
    std::ranges::copy(pixel, rgba.subspan(i * kRgbaPixelBytes, kRgbaPixelBytes).begin());
  }
}

bool HasEntryBesides(const RgbPalette& palette, std::optional<std::uint8_t> excluded) {
  return palette.count > 1 || (palette.count == 1 && excluded != 0);
}

bool MapOntoFixedPalette(std::span<const RgbaPixels> frames, const RgbPalette& palette,
                         const Transparency& transparency, Dither dither,
                         std::span<const std::span<std::uint8_t>> indices) {
  if (frames.size() != indices.size() || !HasEntryBesides(palette, transparency.index)) {
    return false;
  }
  if (dither == Dither::kDiffusion) {
    return DiffuseOntoPalette(frames, palette, transparency, indices);
  }
  std::optional<PaletteMapper> mapper = PaletteMapper::Make(palette, transparency);
  for (std::size_t i = 0; mapper && i < frames.size(); ++i) {
    const bool mapped = dither == Dither::kOrdered ? mapper->MapOrdered(frames[i], indices[i])
                                                   : mapper->Map(frames[i], indices[i]);
    if (!mapped) {
      return false;
    }
  }
  return mapper.has_value();
}

ReadResult PictureOfIndices(Picture picture, const Palette& palette, MemoryBlock block) {
  const InputKind kind = picture.kind();
  const std::uint32_t width = picture.width();
  const std::uint32_t height = picture.height();
  if (picture.Damaged()) {  // a mapped input that shrank meanwhile gave zeros for indices
    return FailedRead{.failure = CorruptFailureOf(kind), .kind = kind, .cause = {}};
  }
  picture.Release();
  std::optional<Picture> mapped = Picture::Of(kind, width, height, palette, std::move(block),
                                              {.offset = 0, .stride = width, .bottomUp = false});
  if (!mapped) {
    return FailedRead{.failure = ReadFailure::kOutOfMemory, .kind = kind, .cause = {}};
  }
  return std::move(*mapped);
}

ReadResult OntoFixedPalette(Picture picture, const RgbPalette& palette,
                            const Transparency& transparency, Dither dither) {
  const InputKind kind = picture.kind();
  const auto failed = [kind](ReadFailure failure) {
    return FailedRead{.failure = failure, .kind = kind, .cause = {}};
  };
  if (!HasEntryBesides(palette, transparency.index)) {
    return failed(ReadFailure::kPaletteFileUnreadable);
  }
  const std::size_t pixels = std::size_t{picture.width()} * picture.height();
  MemoryBlock block = MemoryBlock::Allocate(pixels);
  if (!block && pixels != 0) {
    return failed(ReadFailure::kOutOfMemory);
  }
  if (picture.IsTrueColour()) {
    const RgbaPixels rgba = picture.Rgba();
    const std::array<std::span<std::uint8_t>, 1> indices{block.bytes()};
    if (pixels != 0 &&
        !MapOntoFixedPalette(std::span(&rgba, 1), palette, transparency, dither, indices)) {
      return failed(ReadFailure::kOutOfMemory);
    }
  } else if (const std::optional<ReadFailure> refused =
                 MapPalettePicture(picture, palette, transparency, dither, block.bytes())) {
    return failed(*refused);
  }
  return PictureOfIndices(std::move(picture), OpaquePalette(palette), std::move(block));
}

}  // namespace kav
