#include "color/reduce.h"

#include <libimagequant.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <vector>

#include "color/palette_mapper.h"

namespace kav {
namespace {

struct LiqDeleter {
  void operator()(liq_attr* attributes) const { liq_attr_destroy(attributes); }
  void operator()(liq_histogram* histogram) const { liq_histogram_destroy(histogram); }
  void operator()(liq_image* image) const { liq_image_destroy(image); }
  void operator()(liq_result* result) const { liq_result_destroy(result); }
};
template <typename T>
using LiqPointer = std::unique_ptr<T, LiqDeleter>;

// libimagequant shares its loops among OpenMP threads, by default one per core, and adds up
// the threads' partial sums in an order that depends on how many there are, which changes
// the palette. One thread makes the result the same on every machine and beside any number
// of workers, and runs no more threads than the caller's own. The count is a setting of the
// calling thread, given back afterwards.
class OneOpenMpThread {
 public:
  OneOpenMpThread() : previous_(omp_get_max_threads()) { omp_set_num_threads(1); }
  ~OneOpenMpThread() { omp_set_num_threads(previous_); }
  OneOpenMpThread(const OneOpenMpThread&) = delete;
  OneOpenMpThread& operator=(const OneOpenMpThread&) = delete;

 private:
  int previous_;
};

// Speed 4 (of 1, slowest, to 10): libimagequant's default and pngquant's, its authors'
// balance of quality against time; slower speeds try more palettes for little gain, and
// faster ones drop the map that keeps error diffusion out of edges and noise.
constexpr int kSpeed = 4;
// libimagequant's default gamma (0 asks for it): sRGB's approximate 1 / 2.2, for pixels and
// fixed colours alike.
constexpr double kDefaultGamma = 0;
constexpr float kNoDiffusion = 0.0F;
constexpr float kFullDiffusion = 1.0F;  // plain Floyd-Steinberg
constexpr unsigned char kOpaque = 255;
// A pixel's weight in the histogram: opaque ones the weight libimagequant gives every pixel
// when it has no map of its own; transparent ones none, so their colours are left out.
constexpr unsigned char kFullWeight = 255;
constexpr unsigned char kNoWeight = 0;

// The attributes for a palette of `colours`. The quality stays at its default, 0 to 100: the
// target of 100 makes libimagequant use every colour it may, and with no minimum a
// reduction never fails for quality. Minimum opacity does nothing in this version and no
// entry is transparent (transparent pixels never reach the palette: see FillRow), so
// neither that nor the transparent entry's place is set.
LiqPointer<liq_attr> MakeAttributes(std::size_t colours) {
  LiqPointer<liq_attr> attributes(liq_attr_create());
  if (!attributes || liq_set_speed(attributes.get(), kSpeed) != LIQ_OK ||
      liq_set_max_colors(attributes.get(), static_cast<int>(colours)) != LIQ_OK) {
    return nullptr;
  }
  return attributes;
}

struct FrameSource {
  const RgbaPixels* pixels = nullptr;
  Transparency transparency;
};

// libimagequant sees every pixel opaque: an opaque pixel in its colour as stored (never
// blended by its alpha), a transparent one in the colour given to the pixel on its left (at
// the start of a row the row's first opaque colour, black in a row without one), so that
// error diffusion meets no edge where transparency starts. Transparent pixels take T
// afterwards, and weigh nothing in the histogram.
void FillRow(liq_color rowOut[], int row, int width, void* user) {
  const FrameSource& source = *static_cast<const FrameSource*>(user);
  const auto columns = static_cast<std::size_t>(width);
  const std::span<liq_color> out(rowOut, columns);
  const std::span<const std::uint8_t> pixels = source.pixels->bytes.subspan(
      static_cast<std::size_t>(row) * columns * kRgbaPixelBytes, columns * kRgbaPixelBytes);
  const auto opaqueAt = [&](std::size_t x) {
    return !source.transparency.IsTransparent(pixels[x * kRgbaPixelBytes + 3]);
  };
  const auto colourAt = [&](std::size_t x) {
    const std::size_t at = x * kRgbaPixelBytes;
    return liq_color{pixels[at], pixels[at + 1], pixels[at + 2], kOpaque};
  };
  liq_color carried{0, 0, 0, kOpaque};
  for (std::size_t x = 0; x < columns; ++x) {
    if (opaqueAt(x)) {
      carried = colourAt(x);
      break;
    }
  }
  for (std::size_t x = 0; x < columns; ++x) {
    if (opaqueAt(x)) {
      carried = colourAt(x);
    }
    out[x] = carried;
  }
}

LiqPointer<liq_image> MakeImage(const liq_attr* attributes, FrameSource& source) {
  return LiqPointer<liq_image>(
      liq_image_create_custom(attributes, FillRow, &source, static_cast<int>(source.pixels->width),
                              static_cast<int>(source.pixels->height), kDefaultGamma));
}

bool HasTransparentPixel(const FrameSource& source) {
  const std::span<const std::uint8_t> bytes = source.pixels->bytes;
  for (std::size_t at = 3; at < bytes.size(); at += kRgbaPixelBytes) {
    if (source.transparency.IsTransparent(bytes[at])) {
      return true;
    }
  }
  return false;
}

// A frame with transparent pixels gets a weight map that leaves them out of the histogram
// (libimagequant drops colours of no weight). One without keeps libimagequant's own map,
// which weighs noisy areas less.
bool LeaveOutTransparent(liq_image* image, const FrameSource& source) {
  if (!HasTransparentPixel(source)) {
    return true;
  }
  const std::span<const std::uint8_t> bytes = source.pixels->bytes;
  std::vector<unsigned char> weights(source.pixels->PixelCount());
  for (std::size_t i = 0; i < weights.size(); ++i) {
    const bool transparent = source.transparency.IsTransparent(bytes[i * kRgbaPixelBytes + 3]);
    weights[i] = transparent ? kNoWeight : kFullWeight;
  }
  return liq_image_set_importance_map(image, weights.data(), weights.size(), LIQ_COPY_PIXELS) ==
         LIQ_OK;
}

bool FramesMatch(std::span<const RgbaPixels> frames,
                 std::span<const std::span<std::uint8_t>> indices) {
  if (frames.empty() || frames.size() != indices.size()) {
    return false;
  }
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const RgbaPixels& frame = frames[i];
    if (frame.width == 0 || frame.height == 0 || frame.width > INT_MAX || frame.height > INT_MAX ||
        indices[i].size() != frame.PixelCount() ||
        frame.bytes.size() / kRgbaPixelBytes != frame.PixelCount() ||
        frame.bytes.size() % kRgbaPixelBytes != 0) {
      return false;
    }
  }
  return true;
}

std::vector<FrameSource> SourcesOf(std::span<const RgbaPixels> frames,
                                   const Transparency& transparency) {
  std::vector<FrameSource> sources;
  for (const RgbaPixels& frame : frames) {
    sources.push_back({&frame, transparency});
  }
  return sources;
}

// Our index for each of libimagequant's palette entries.
using EntryMap = std::array<std::uint8_t, kPaletteEntries>;

// libimagequant's indices of one frame turned into ours; transparent pixels take T.
void Translate(std::span<std::uint8_t> indices, const FrameSource& source, const EntryMap& ours) {
  const std::span<const std::uint8_t> bytes = source.pixels->bytes;
  const Transparency& transparency = source.transparency;
  for (std::size_t i = 0; i < indices.size(); ++i) {
    indices[i] = transparency.IsTransparent(bytes[i * kRgbaPixelBytes + 3]) ? *transparency.index
                                                                            : ours[indices[i]];
  }
}

// Every frame remapped by libimagequant, then translated. An image kept from making the
// histogram is used again (with the noise and edge maps it has already worked out); others
// are made one at a time, so that one frame's working memory is held at once.
bool RemapFrames(const liq_attr* attributes, liq_result* result, std::span<FrameSource> sources,
                 std::span<LiqPointer<liq_image>> kept,
                 std::span<const std::span<std::uint8_t>> indices, const EntryMap& ours) {
  for (std::size_t i = 0; i < sources.size(); ++i) {
    LiqPointer<liq_image> image = kept[i] ? std::move(kept[i]) : MakeImage(attributes, sources[i]);
    if (!image || liq_write_remapped_image(result, image.get(), indices[i].data(),
                                           indices[i].size()) != LIQ_OK) {
      return false;
    }
    Translate(indices[i], sources[i], ours);
  }
  return true;
}

struct PlacedPalette {
  RgbPalette palette;
  EntryMap ours{};
};

// libimagequant's colours sorted by 0xRRGGBB ascending at the lowest indices other than T,
// each colour once (two entries that round to the same 24 bits become one).
PlacedPalette Place(const liq_palette& theirs, std::optional<std::uint8_t> transparentIndex) {
  std::vector<Rgb24> colours;
  for (std::size_t i = 0; i < std::min<std::size_t>(theirs.count, kPaletteEntries); ++i) {
    const liq_color& entry = theirs.entries[i];
    colours.push_back(MakeRgb24(entry.r, entry.g, entry.b));
  }
  std::vector<Rgb24> sorted = colours;
  std::ranges::sort(sorted);
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  const auto slotOf = [transparentIndex](std::size_t rank) {
    return static_cast<std::uint8_t>(transparentIndex && rank >= *transparentIndex ? rank + 1
                                                                                   : rank);
  };
  PlacedPalette placed;
  for (std::size_t rank = 0; rank < sorted.size(); ++rank) {
    placed.palette.colours[slotOf(rank)] = sorted[rank];
  }
  placed.palette.count =
      sorted.empty() ? 0 : static_cast<std::uint16_t>(slotOf(sorted.size() - 1) + 1);
  for (std::size_t i = 0; i < colours.size(); ++i) {
    const auto rank =
        static_cast<std::size_t>(std::ranges::lower_bound(sorted, colours[i]) - sorted.begin());
    placed.ours[i] = slotOf(rank);
  }
  return placed;
}

bool AllTransparent(std::span<const FrameSource> sources) {
  return std::ranges::all_of(sources, [](const FrameSource& source) {
    const std::span<const std::uint8_t> bytes = source.pixels->bytes;
    for (std::size_t at = 3; at < bytes.size(); at += kRgbaPixelBytes) {
      if (!source.transparency.IsTransparent(bytes[at])) {
        return false;
      }
    }
    return true;
  });
}

// The quantized result of a histogram, set to diffuse or not.
LiqPointer<liq_result> Quantize(liq_histogram* histogram, liq_attr* attributes, bool diffusion) {
  liq_result* made = nullptr;
  const liq_error quantized = liq_histogram_quantize(histogram, attributes, &made);
  LiqPointer<liq_result> result(made);
  if (quantized != LIQ_OK || !result ||
      liq_set_dithering_level(result.get(), diffusion ? kFullDiffusion : kNoDiffusion) != LIQ_OK) {
    return nullptr;
  }
  return result;
}

// Every frame's pixels into the histogram. A single frame's image is kept for remapping.
bool AddFrames(liq_histogram* histogram, const liq_attr* attributes, std::span<FrameSource> sources,
               std::span<LiqPointer<liq_image>> kept) {
  for (FrameSource& source : sources) {
    LiqPointer<liq_image> image = MakeImage(attributes, source);
    if (!image || !LeaveOutTransparent(image.get(), source) ||
        liq_histogram_add_image(histogram, attributes, image.get()) != LIQ_OK) {
      return false;
    }
    if (sources.size() == 1) {
      kept.front() = std::move(image);
    }
  }
  return true;
}

// A fixed palette's colours, each once, from its lowest entry; T and the entries past the
// count never.
struct OfferedColours {
  std::vector<Rgb24> colours;
  EntryMap ours{};
};

OfferedColours Offer(const RgbPalette& palette, std::optional<std::uint8_t> transparentIndex) {
  OfferedColours offered;
  for (std::size_t i = 0; i < std::min<std::size_t>(palette.count, kPaletteEntries); ++i) {
    const Rgb24 colour = palette.colours[i];
    if (i != transparentIndex &&
        std::ranges::find(offered.colours, colour) == offered.colours.end()) {
      offered.ours[offered.colours.size()] = static_cast<std::uint8_t>(i);
      offered.colours.push_back(colour);
    }
  }
  return offered;
}

// libimagequant quantizes a histogram, not a palette: the palette's colours go in as fixed
// colours, which it keeps as they are and in the order given, and as the histogram, which
// must hold one colour at least; it takes those out again as copies of fixed colours, so
// the palette comes out as offered.
bool AddFixedColours(liq_histogram* histogram, const liq_attr* attributes,
                     std::span<const Rgb24> colours) {
  std::vector<liq_histogram_entry> entries;
  for (const Rgb24 colour : colours) {
    const liq_color fixed{static_cast<unsigned char>(colour >> 16),
                          static_cast<unsigned char>(colour >> 8),
                          static_cast<unsigned char>(colour), kOpaque};
    if (liq_histogram_add_fixed_color(histogram, fixed, kDefaultGamma) != LIQ_OK) {
      return false;
    }
    entries.push_back({fixed, 1});
  }
  return liq_histogram_add_colors(histogram, attributes, entries.data(),
                                  static_cast<int>(entries.size()), kDefaultGamma) == LIQ_OK;
}

// Ordered dithering onto the reduced palette, by the nearest-colour rule.
bool MapOrdered(std::span<const RgbaPixels> frames, const RgbPalette& palette,
                const Transparency& transparency,
                std::span<const std::span<std::uint8_t>> indices) {
  std::optional<PaletteMapper> mapper = PaletteMapper::Make(palette, transparency);
  for (std::size_t i = 0; mapper && i < frames.size(); ++i) {
    if (!mapper->MapOrdered(frames[i], indices[i])) {
      return false;
    }
  }
  return mapper.has_value();
}

}  // namespace

std::optional<RgbPalette> ReduceColours(std::span<const RgbaPixels> frames,
                                        const ReductionSettings& settings,
                                        std::span<const std::span<std::uint8_t>> indices) {
  const Transparency& transparency = settings.transparency;
  const std::size_t setAside = transparency.index ? 1 : 0;
  if (!FramesMatch(frames, indices) || settings.capacity < 2 ||
      settings.capacity + setAside > kPaletteEntries) {
    return std::nullopt;
  }
  std::vector<FrameSource> sources = SourcesOf(frames, transparency);
  if (AllTransparent(sources)) {  // no colour to reduce, and libimagequant wants one
    for (const std::span<std::uint8_t> frame : indices) {
      std::ranges::fill(frame, *transparency.index);
    }
    return RgbPalette{};
  }
  const OneOpenMpThread oneThread;
  const LiqPointer<liq_attr> attributes = MakeAttributes(settings.capacity);
  const LiqPointer<liq_histogram> histogram(attributes ? liq_histogram_create(attributes.get())
                                                       : nullptr);
  std::vector<LiqPointer<liq_image>> kept(sources.size());
  if (!histogram || !AddFrames(histogram.get(), attributes.get(), sources, kept)) {
    return std::nullopt;
  }
  const LiqPointer<liq_result> result =
      Quantize(histogram.get(), attributes.get(), settings.dither == Dither::kDiffusion);
  if (!result) {
    return std::nullopt;
  }
  const PlacedPalette placed = Place(*liq_get_palette(result.get()), transparency.index);
  const bool mapped =
      settings.dither == Dither::kOrdered
          ? MapOrdered(frames, placed.palette, transparency, indices)
          : RemapFrames(attributes.get(), result.get(), sources, kept, indices, placed.ours);
  return mapped ? std::optional<RgbPalette>(placed.palette) : std::nullopt;
}

bool DiffuseOntoPalette(std::span<const RgbaPixels> frames, const RgbPalette& palette,
                        const Transparency& transparency,
                        std::span<const std::span<std::uint8_t>> indices) {
  if (!FramesMatch(frames, indices)) {
    return false;
  }
  const OfferedColours offered = Offer(palette, transparency.index);
  std::vector<FrameSource> sources = SourcesOf(frames, transparency);
  if (offered.colours.size() < 2) {  // libimagequant wants two; one takes every opaque pixel
    for (std::size_t i = 0; !offered.colours.empty() && i < sources.size(); ++i) {
      std::ranges::fill(indices[i], 0);
      Translate(indices[i], sources[i], offered.ours);
    }
    return !offered.colours.empty();
  }
  const OneOpenMpThread oneThread;
  const LiqPointer<liq_attr> attributes = MakeAttributes(offered.colours.size());
  const LiqPointer<liq_histogram> histogram(attributes ? liq_histogram_create(attributes.get())
                                                       : nullptr);
  if (!histogram || !AddFixedColours(histogram.get(), attributes.get(), offered.colours)) {
    return false;
  }
  const LiqPointer<liq_result> result = Quantize(histogram.get(), attributes.get(), true);
  if (!result || liq_get_palette(result.get())->count != offered.colours.size()) {
    return false;
  }
  std::vector<LiqPointer<liq_image>> kept(sources.size());
  return RemapFrames(attributes.get(), result.get(), sources, kept, indices, offered.ours);
}

}  // namespace kav
