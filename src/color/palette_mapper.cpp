#include "color/palette_mapper.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <utility>

#include "color/ordered_dither.h"

namespace kav {
namespace {

// The table: one answer byte for each of the 2^24 colours, then one bit each that says
// whether the answer has been worked out (only the bits need clearing).
constexpr std::size_t kColours = std::size_t{1} << 24;
constexpr std::size_t kBitsPerWord = 8;
constexpr std::size_t kTableBytes = kColours + kColours / kBitsPerWord;

// SrgbToLinear of every channel value, computed by it once: the same doubles, looked up.
const std::array<double, 256>& LinearChannels() {
  static const std::array<double, 256> table = [] {
    std::array<double, 256> linear{};
    for (std::size_t v = 0; v < linear.size(); ++v) {
      linear[v] = SrgbToLinear(static_cast<std::uint8_t>(v));
    }
    return linear;
  }();
  return table;
}

}  // namespace

std::optional<PaletteMapper> PaletteMapper::Make(const RgbPalette& palette,
                                                 const Transparency& transparency) {
  std::vector<Candidate> candidates;
  for (std::size_t i = 0; i < palette.count && i < kPaletteEntries; ++i) {
    const auto index = static_cast<std::uint8_t>(i);
    if (index != transparency.index) {
      candidates.push_back({OkLabOf(palette.colours[i]), index});
    }
  }
  if (candidates.empty()) {
    return std::nullopt;
  }
  std::ranges::sort(candidates, [](const Candidate& x, const Candidate& y) {
    return x.lab.l != y.lab.l ? x.lab.l < y.lab.l : x.index < y.index;
  });
  return PaletteMapper(std::move(candidates), transparency);
}

PaletteMapper::PaletteMapper(std::vector<Candidate> candidates, const Transparency& transparency)
    : candidates_(std::move(candidates)),
      transparency_(transparency),
      table_(MemoryBlock::Allocate(kTableBytes)) {
  if (table_) {
    std::memset(table_.data() + kColours, 0, kColours / kBitsPerWord);
  }
}

// Entries are met in order of their distance in lightness from the wanted colour, both ways
// from it; one whose lightness alone is farther than the nearest so far (squared, as in the
// distance) cannot be nearer or as near, and neither can any beyond it.
std::uint8_t PaletteMapper::Search(Rgb24 colour) const {
  const std::array<double, 256>& linear = LinearChannels();
  const OkLab wanted = OkLabOfLinear(linear[(colour >> 16) & 0xFF], linear[(colour >> 8) & 0xFF],
                                     linear[colour & 0xFF]);
  double nearestDistance = std::numeric_limits<double>::infinity();
  std::uint8_t nearest = 0;
  const auto consider = [&](const Candidate& candidate) {
    const double distance = SquaredDistance(wanted, candidate.lab);
    if (distance < nearestDistance || (distance == nearestDistance && candidate.index < nearest)) {
      nearestDistance = distance;
      nearest = candidate.index;
    }
  };
  const auto first = std::ranges::lower_bound(candidates_, wanted.l, {},
                                              [](const Candidate& c) { return c.lab.l; });
  for (auto it = first; it != candidates_.end(); ++it) {
    const double dl = wanted.l - it->lab.l;
    if (dl * dl > nearestDistance) {
      break;
    }
    consider(*it);
  }
  for (auto it = first; it != candidates_.begin();) {
    --it;
    const double dl = wanted.l - it->lab.l;
    if (dl * dl > nearestDistance) {
      break;
    }
    consider(*it);
  }
  return nearest;
}

std::uint8_t PaletteMapper::Nearest(Rgb24 colour) {
  colour &= kColours - 1;
  if (!table_) {
    return Search(colour);
  }
  std::uint8_t* answers = table_.data();
  std::uint8_t& known = answers[kColours + colour / kBitsPerWord];
  const auto bit = static_cast<std::uint8_t>(1U << (colour % kBitsPerWord));
  if ((known & bit) == 0) {
    answers[colour] = Search(colour);
    known = static_cast<std::uint8_t>(known | bit);
  }
  return answers[colour];
}

template <bool kOrdered>
bool PaletteMapper::MapPixels(const RgbaPixels& pixels, std::span<std::uint8_t> indices) {
  const std::size_t count = pixels.PixelCount();
  if (indices.size() != count || count > SIZE_MAX / kRgbaPixelBytes ||
      pixels.bytes.size() != count * kRgbaPixelBytes) {
    return false;
  }
  const bool keyed = transparency_.index.has_value();
  const std::uint8_t transparentIndex = transparency_.index.value_or(0);
  const std::uint8_t threshold = transparency_.alphaThreshold;
  // Neighbours often share a colour: the last answer is kept beside the table.
  Rgb24 lastColour = Rgb24{1} << 24;  // no colour
  std::uint8_t lastIndex = 0;
  const std::uint8_t* pixel = pixels.bytes.data();
  std::uint8_t* index = indices.data();
  for (std::uint32_t y = 0; y < pixels.height; ++y) {
    for (std::uint32_t x = 0; x < pixels.width; ++x, pixel += kRgbaPixelBytes, ++index) {
      if (keyed && pixel[3] < threshold) {
        *index = transparentIndex;
        continue;
      }
      Rgb24 colour = MakeRgb24(pixel[0], pixel[1], pixel[2]);
      if constexpr (kOrdered) {
        colour = DitherColour(colour, x, y);
      }
      if (colour != lastColour) {
        lastColour = colour;
        lastIndex = Nearest(colour);
      }
      *index = lastIndex;
    }
  }
  return true;
}

bool PaletteMapper::Map(const RgbaPixels& pixels, std::span<std::uint8_t> indices) {
  return MapPixels<false>(pixels, indices);
}

bool PaletteMapper::MapOrdered(const RgbaPixels& pixels, std::span<std::uint8_t> indices) {
  return MapPixels<true>(pixels, indices);
}

}  // namespace kav
