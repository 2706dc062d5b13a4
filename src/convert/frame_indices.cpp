#include "convert/frame_indices.h"

#include <algorithm>

namespace kav {
namespace {

// The entries past the palette's count are opaque black, whatever the source left there.
Palette PaletteOfFrames(const FramePalette& frames) {
  Palette palette;
  palette.count = std::min<std::size_t>(frames.count, kPaletteEntries);
  for (std::size_t i = 0; i < palette.count; ++i) {
    const FrameColour& entry = frames.entries[i];
    palette.entries[i] = {entry.red, entry.green, entry.blue, entry.alpha};
  }
  return palette;
}

// A palette input's indices, kept.
class KeptIndices final : public FrameIndices {
 public:
  explicit KeptIndices(const Palette& palette) { palette_ = palette; }
  void Index(std::span<const std::uint8_t> frame, std::span<std::uint8_t> indices) override {
    std::ranges::copy(frame.first(indices.size()), indices.begin());
  }
};

}  // namespace

PreparedIndices PrepareFrameIndices(FrameSource& frames, std::span<std::uint8_t> /*composed*/,
                                    const ConversionSettings& /*settings*/) {
  const FrameSourceInfo& info = frames.Info();
  // Frames composed in RGBA need a palette made for them, which nothing here makes yet: the
  // format cannot hold their colours as they are.
  if (info.kind != FrameKind::kPaletteIndices) {
    return {
        .indices = nullptr, .status = FrameStatus::kOk, .failure = ReadFailure::kTooManyColours};
  }
  return {.indices = std::make_unique<KeptIndices>(PaletteOfFrames(info.palette)),
          .status = FrameStatus::kOk,
          .failure = std::nullopt};
}

}  // namespace kav
