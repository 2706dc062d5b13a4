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

// One frame as libimagequant reads it: a pixel below the threshold is transparent (none
// with a threshold of 0).
struct FrameSource {
  RgbaPixels pixels;
  std::uint8_t alphaThreshold = 0;
  bool IsTransparent(std::uint8_t alpha) const { return alpha < alphaThreshold; }
};

// What `transparency` makes transparent, as a frame source's threshold.
std::uint8_t ThresholdOf(const Transparency& transparency) {
  return transparency.index ? transparency.alphaThreshold : 0;
}

// libimagequant sees every pixel opaque: an opaque pixel in its colour as stored (never
// blended by its alpha), a transparent one in the colour given to the pixel on its left (at
// the start of a row the row's first opaque colour, black in a row without one), so that
// error diffusion meets no edge where transparency starts. Transparent pixels take T
// afterwards, and weigh nothing in the histogram.
void FillRow(liq_color rowOut[], int row, int width, void* user) {
  const FrameSource& source = *static_cast<const FrameSource*>(user);
  const auto columns = static_cast<std::size_t>(width);
  const std::span<liq_color> out(rowOut, columns);
  const std::span<const std::uint8_t> pixels = source.pixels.bytes.subspan(
      static_cast<std::size_t>(row) * columns * kRgbaPixelBytes, columns * kRgbaPixelBytes);
  const auto opaqueAt = [&](std::size_t x) {
    return !source.IsTransparent(pixels[x * kRgbaPixelBytes + 3]);
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
      liq_image_create_custom(attributes, FillRow, &source, static_cast<int>(source.pixels.width),
                              static_cast<int>(source.pixels.height), kDefaultGamma));
}

bool HasTransparentPixel(const FrameSource& source) {
  const std::span<const std::uint8_t> bytes = source.pixels.bytes;
  for (std::size_t at = 3; at < bytes.size(); at += kRgbaPixelBytes) {
    if (source.IsTransparent(bytes[at])) {
      return true;
    }
  }
  return false;
}

bool IsAllTransparent(const FrameSource& source) {
  const std::span<const std::uint8_t> bytes = source.pixels.bytes;
  for (std::size_t at = 3; at < bytes.size(); at += kRgbaPixelBytes) {
    if (!source.IsTransparent(bytes[at])) {
      return false;
    }
  }
  return true;
}

// A frame with transparent pixels gets a weight map that leaves them out of the histogram
// (libimagequant drops colours of no weight). One without keeps libimagequant's own map,
// which weighs noisy areas less.
bool LeaveOutTransparent(liq_image* image, const FrameSource& source) {
  if (!HasTransparentPixel(source)) {
    return true;
  }
  const std::span<const std::uint8_t> bytes = source.pixels.bytes;
  std::vector<unsigned char> weights(source.pixels.PixelCount());
  for (std::size_t i = 0; i < weights.size(); ++i) {
    const bool transparent = source.IsTransparent(bytes[i * kRgbaPixelBytes + 3]);
    weights[i] = transparent ? kNoWeight : kFullWeight;
  }
  return liq_image_set_importance_map(image, weights.data(), weights.size(), LIQ_COPY_PIXELS) ==
         LIQ_OK;
}

// Whether libimagequant takes `frame`: not empty, its sides ints, its bytes its pixels'.
bool FrameFits(const RgbaPixels& frame) {
  return frame.width != 0 && frame.height != 0 && frame.width <= INT_MAX &&
         frame.height <= INT_MAX && frame.bytes.size() / kRgbaPixelBytes == frame.PixelCount() &&
         frame.bytes.size() % kRgbaPixelBytes == 0;
}

bool FramesMatch(std::span<const RgbaPixels> frames,
                 std::span<const std::span<std::uint8_t>> indices) {
  if (frames.empty() || frames.size() != indices.size()) {
    return false;
  }
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (!FrameFits(frames[i]) || indices[i].size() != frames[i].PixelCount()) {
      return false;
    }
  }
  return true;
}

std::vector<FrameSource> SourcesOf(std::span<const RgbaPixels> frames,
                                   const Transparency& transparency) {
  std::vector<FrameSource> sources;
  for (const RgbaPixels& frame : frames) {
    sources.push_back({frame, ThresholdOf(transparency)});
  }
  return sources;
}

// Our index for each of libimagequant's palette entries.
using EntryMap = std::array<std::uint8_t, kPaletteEntries>;

// libimagequant's indices of one frame turned into ours; transparent pixels take T (there is
// a T wherever a pixel is transparent).
void Translate(std::span<std::uint8_t> indices, const FrameSource& source, const EntryMap& ours,
               std::optional<std::uint8_t> transparentIndex) {
  const std::span<const std::uint8_t> bytes = source.pixels.bytes;
  for (std::size_t i = 0; i < indices.size(); ++i) {
    indices[i] = source.IsTransparent(bytes[i * kRgbaPixelBytes + 3]) ? transparentIndex.value_or(0)
                                                                      : ours[indices[i]];
  }
}

// One frame remapped by libimagequant (through `image`, or one made for it), then translated.
bool RemapFrame(const liq_attr* attributes, liq_result* result, FrameSource& source,
                LiqPointer<liq_image> image, std::span<std::uint8_t> indices, const EntryMap& ours,
                std::optional<std::uint8_t> transparentIndex) {
  if (!image) {
    image = MakeImage(attributes, source);
  }
  if (!image ||
      liq_write_remapped_image(result, image.get(), indices.data(), indices.size()) != LIQ_OK) {
    return false;
  }
  Translate(indices, source, ours, transparentIndex);
  return true;
}

// Every frame remapped, one image made at a time, so that one frame's working memory is
// held at once.
bool RemapFrames(const liq_attr* attributes, liq_result* result, std::span<FrameSource> sources,
                 std::span<const std::span<std::uint8_t>> indices, const EntryMap& ours,
                 std::optional<std::uint8_t> transparentIndex) {
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (!RemapFrame(attributes, result, sources[i], nullptr, indices[i], ours, transparentIndex)) {
      return false;
    }
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

}  // namespace

struct FrameReducer::State {
  std::uint8_t alphaThreshold = 0;  // every frame's
  Dither dither = Dither::kNone;
  LiqPointer<liq_attr> attributes;
  LiqPointer<liq_histogram> histogram;
  std::size_t added = 0;
  bool sawTransparent = false;
  bool sawOpaque = false;
  // The image of the first frame and what it reads, while it is the only one.
  LiqPointer<liq_image> kept;
  FrameSource keptSource;
  // Once chosen:
  LiqPointer<liq_result> result;
  PlacedPalette placed;
  std::optional<std::uint8_t> transparentIndex;
  std::optional<PaletteMapper> ordered;  // ordered dithering's mapper onto the palette
  bool chosen = false;
};

FrameReducer::FrameReducer(std::uint8_t alphaThreshold, Dither dither)
    : state_(std::make_unique<State>()) {
  state_->alphaThreshold = alphaThreshold;
  state_->dither = dither;
  // The capacity is set once it is known (Choose); the histogram does not depend on it.
  state_->attributes = MakeAttributes(kPaletteEntries);
  state_->histogram.reset(state_->attributes ? liq_histogram_create(state_->attributes.get())
                                             : nullptr);
}

FrameReducer::~FrameReducer() = default;

bool FrameReducer::SawTransparent() const {
  return state_->sawTransparent;
}

bool FrameReducer::Add(const RgbaPixels& frame) {
  State& state = *state_;
  if (!state.histogram || state.chosen || !FrameFits(frame)) {
    return false;
  }
  const OneOpenMpThread oneThread;
  FrameSource source{frame, state.alphaThreshold};
  const bool transparent = HasTransparentPixel(source);
  state.sawTransparent = state.sawTransparent || transparent;
  state.sawOpaque = state.sawOpaque || !transparent || !IsAllTransparent(source);
  // The image reads its source as libimagequant asks: the kept one's must stay in place.
  state.kept.reset();
  FrameSource& read = state.added == 0 ? (state.keptSource = source) : source;
  LiqPointer<liq_image> image = MakeImage(state.attributes.get(), read);
  if (!image || !LeaveOutTransparent(image.get(), read) ||
      liq_histogram_add_image(state.histogram.get(), state.attributes.get(), image.get()) !=
          LIQ_OK) {
    return false;
  }
  if (state.added++ == 0) {
    state.kept = std::move(image);
  }
  return true;
}

std::optional<RgbPalette> FrameReducer::Choose(std::uint16_t capacity,
                                               std::optional<std::uint8_t> transparentIndex) {
  State& state = *state_;
  const std::size_t setAside = transparentIndex ? 1 : 0;
  if (state.chosen || state.added == 0 || capacity < 2 || capacity + setAside > kPaletteEntries ||
      (state.sawTransparent && !transparentIndex)) {
    return std::nullopt;
  }
  state.chosen = true;
  state.transparentIndex = transparentIndex;
  if (!state.sawOpaque) {  // no colour to reduce, and libimagequant wants one
    state.kept.reset();
    return RgbPalette{};
  }
  const OneOpenMpThread oneThread;
  if (liq_set_max_colors(state.attributes.get(), capacity) != LIQ_OK) {
    return std::nullopt;
  }
  state.result =
      Quantize(state.histogram.get(), state.attributes.get(), state.dither == Dither::kDiffusion);
  if (!state.result) {
    return std::nullopt;
  }
  state.placed = Place(*liq_get_palette(state.result.get()), transparentIndex);
  if (state.dither == Dither::kOrdered) {
    state.kept.reset();
    state.ordered = PaletteMapper::Make(
        state.placed.palette, {.index = transparentIndex, .alphaThreshold = state.alphaThreshold});
    if (!state.ordered) {
      return std::nullopt;
    }
  }
  return state.placed.palette;
}

bool FrameReducer::Map(const RgbaPixels& frame, std::span<std::uint8_t> indices) {
  State& state = *state_;
  if (!state.chosen || !FrameFits(frame) || indices.size() != frame.PixelCount()) {
    return false;
  }
  if (!state.result) {  // every pixel transparent
    std::ranges::fill(indices, state.transparentIndex.value_or(0));
    return true;
  }
  if (state.ordered) {
    return state.ordered->MapOrdered(frame, indices);
  }
  const OneOpenMpThread oneThread;
  const bool kept = state.kept && state.added == 1 &&
                    state.keptSource.pixels.bytes.data() == frame.bytes.data() &&
                    state.keptSource.pixels.bytes.size() == frame.bytes.size();
  FrameSource source{frame, state.alphaThreshold};
  FrameSource& read = kept ? state.keptSource : source;
  return RemapFrame(state.attributes.get(), state.result.get(), read,
                    kept ? std::move(state.kept) : nullptr, indices, state.placed.ours,
                    state.transparentIndex);
}

std::optional<RgbPalette> ReduceColours(std::span<const RgbaPixels> frames,
                                        const ReductionSettings& settings,
                                        std::span<const std::span<std::uint8_t>> indices) {
  if (!FramesMatch(frames, indices)) {
    return std::nullopt;
  }
  FrameReducer reducer(ThresholdOf(settings.transparency), settings.dither);
  for (const RgbaPixels& frame : frames) {
    if (!reducer.Add(frame)) {
      return std::nullopt;
    }
  }
  std::optional<RgbPalette> palette =
      reducer.Choose(settings.capacity, settings.transparency.index);
  for (std::size_t i = 0; palette && i < frames.size(); ++i) {
    if (!reducer.Map(frames[i], indices[i])) {
      return std::nullopt;
    }
  }
  return palette;
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
      Translate(indices[i], sources[i], offered.ours, transparency.index);
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
  return RemapFrames(attributes.get(), result.get(), sources, indices, offered.ours,
                     transparency.index);
}

}  // namespace kav
