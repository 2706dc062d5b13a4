#pragma once
// Colour reduction and error diffusion, done by libimagequant.
//
// Both work on one picture or on several that share one palette (the frames of an
// animation), write one index a pixel into the caller's buffers (rows top first) and give
// transparent pixels T. libimagequant runs on the calling thread alone, so the result is the
// same bytes on every run and however many workers run beside it.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "color/ordered_dither.h"
#include "color/palette.h"

namespace kav {

struct ReductionSettings {
  // How many colours the palette may hold: 2..256, and at most 255 while T is set aside.
  std::uint16_t capacity = 255;
  Transparency transparency;
  // kNone: libimagequant's remapping to the nearest entry; kDiffusion: its Floyd-Steinberg
  // error diffusion; kOrdered: ordered dithering and the nearest-colour rule of
  // color/palette_mapper.h onto the reduced palette.
  Dither dither = Dither::kNone;
};

// Reduction over frames that come one at a time, so that only one need be held: each
// frame's pixels go into one histogram (Add), the palette is chosen over all of them
// (Choose), then each frame is given again and mapped onto it (Map). A pixel below
// `alphaThreshold` is transparent: it weighs nothing and takes T. libimagequant's working
// memory is one frame's at a time besides the histogram, whose size grows with the distinct
// colours added. The frame last added, when it is the only one and Map is given the same
// bytes, is not read again.
class FrameReducer {
 public:
  FrameReducer(std::uint8_t alphaThreshold, Dither dither);
  ~FrameReducer();
  FrameReducer(const FrameReducer&) = delete;
  FrameReducer& operator=(const FrameReducer&) = delete;

  // false when the frame is empty or too large, or libimagequant fails (out of memory).
  bool Add(const RgbaPixels& frame);
  // Whether some pixel added is transparent.
  bool SawTransparent() const;
  // The palette of at most `capacity` colours (2..256) of every pixel added, as ReduceColours
  // places it around `transparentIndex` (T). nullopt when the capacity is out of range (or
  // leaves no room for T), a pixel is transparent with no T, or libimagequant fails.
  std::optional<RgbPalette> Choose(std::uint16_t capacity,
                                   std::optional<std::uint8_t> transparentIndex);
  // `frame`, one added before Choose, onto the palette: one index a pixel into `indices`.
  bool Map(const RgbaPixels& frame, std::span<std::uint8_t> indices);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The opaque pixels of all `frames` reduced together to at most `capacity` colours. The
// palette holds them sorted by their value 0xRRGGBB ascending at the lowest indices other
// than T; its count reaches past the last colour (and T, when T lies below it), the other
// entries are black. `indices[i]` receives frame i. nullopt when `indices` does not match
// the frames, the settings are out of range, or libimagequant fails (out of memory).
std::optional<RgbPalette> ReduceColours(std::span<const RgbaPixels> frames,
                                        const ReductionSettings& settings,
                                        std::span<const std::span<std::uint8_t>> indices);

// The opaque pixels of all `frames` onto the fixed `palette` (its own entries other than T;
// of equal entries the lowest), with libimagequant's Floyd-Steinberg error diffusion.
// false when `indices` does not match the frames, no entry may be taken, or libimagequant
// fails (out of memory).
bool DiffuseOntoPalette(std::span<const RgbaPixels> frames, const RgbPalette& palette,
                        const Transparency& transparency,
                        std::span<const std::span<std::uint8_t>> indices);

}  // namespace kav
