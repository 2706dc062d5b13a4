#pragma once
// How the composed frames of a file become the palette indices the writers take: every frame
// with one palette, chosen over all of them before the first is written.
//
//   kPaletteIndices    the indices as stored, under the transparency rules of palette inputs
//                      (color/transparency.h), the remap worked out over every frame
//   kTrueColour        the exact palette of every frame's opaque colours together
//                      (color/exact_palette.h), or, with more colours than fit, one palette
//                      reduced over every frame together (color/reduce.h)
//   kOwnPaletteColour  each pixel the nearest entry of the file's own palette
//                      (color/palette_mapper.h), transparent pixels T
//
// With a fixed palette (the settings' palette) every frame of any kind takes it instead, as a
// single picture does (input/fixed_palette.h). The settings' dithering applies wherever
// colours go onto a palette that may not hold them: a fixed, a reduced or the file's own.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "formats/conversion.h"
#include "input/frames.h"
#include "input/picture.h"
#include "input/read_picture.h"

namespace kav {

class FrameIndices {
 public:
  virtual ~FrameIndices() = default;
  FrameIndices() = default;
  FrameIndices(const FrameIndices&) = delete;
  FrameIndices& operator=(const FrameIndices&) = delete;

  // The palette of every frame's picture.
  const Palette& palette() const { return palette_; }
  // The indices of the composed `frame` into `indices`, one a pixel; false when memory runs
  // out.
  virtual bool Index(std::span<const std::uint8_t> frame, std::span<std::uint8_t> indices) = 0;

 protected:
  Palette palette_;
};

// The indices of the frames of `input`, or why they cannot be had (a frame that fails, too
// many colours without reduction, a fixed palette of T alone). Where the palette depends on
// every frame, each is made into `composed` (a frame's bytes) first, and the source is
// rewound; a GIF's colours are gathered from its frames' lines without composing them where
// which pixels are transparent does not matter. A reduction makes every frame once more,
// into its histogram, so that no more than the one frame is held.
struct PreparedIndices {
  std::unique_ptr<FrameIndices> indices;
  FrameStatus status = FrameStatus::kOk;     // of the frame that failed
  std::optional<ReadFailure> failure;        // why there are none when no frame failed
  std::optional<ColourReduction> reduction;  // the colours found and the count kept
};

// The memory the indices of `info`'s frames hold besides the composed frame, with `settings`.
std::uint64_t FrameIndicesBytes(const FrameSourceInfo& info, const ConversionSettings& settings);
PreparedIndices PrepareFrameIndices(FrameFile& input, std::span<std::uint8_t> composed,
                                    const ConversionSettings& settings);

}  // namespace kav
