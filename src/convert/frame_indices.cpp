#include "convert/frame_indices.h"

#include <algorithm>
#include <vector>

#include "color/exact_palette.h"
#include "color/palette_mapper.h"
#include "formats/output_format.h"
#include "input/gif_frames.h"
#include "input/palette_picture.h"

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

RgbPalette ColoursOf(const FramePalette& frames) {
  RgbPalette palette;
  palette.count = std::min<std::uint16_t>(frames.count, kPaletteEntries);
  for (std::size_t i = 0; i < palette.count; ++i) {
    const FrameColour& entry = frames.entries[i];
    palette.colours[i] = MakeRgb24(entry.red, entry.green, entry.blue);
  }
  return palette;
}

RgbaPixels PixelsOf(const FrameSourceInfo& info, std::span<const std::uint8_t> frame) {
  return {.bytes = frame, .width = info.width, .height = info.height};
}

// Makes every frame into `composed`, handing each to look(frame), then starts the source
// again; the status of the first frame that fails.
template <typename Look>
FrameStatus LookAtEveryFrame(FrameSource& frames, std::span<std::uint8_t> composed, Look look) {
  for (std::uint32_t frame = 0; frame < frames.Info().frameCount; ++frame) {
    if (const FrameStatus status = frames.Next(composed); status != FrameStatus::kOk) {
      return status;
    }
    look(std::span<const std::uint8_t>(composed));
  }
  return frames.Rewind();
}

// A palette input's indices, as the transparency rules remap them.
class KeptIndices final : public FrameIndices {
 public:
  KeptIndices(const Palette& palette, const IndexRemap& remap) : remap_(remap) {
    palette_ = SwappedPalette(palette, remap);
  }
  void Index(std::span<const std::uint8_t> frame, std::span<std::uint8_t> indices) override {
    std::ranges::copy(frame.first(indices.size()), indices.begin());
    ApplyRemap(remap_, indices);
  }

 private:
  IndexRemap remap_;
};

// Truecolour frames through their exact palette.
class ExactIndices final : public FrameIndices {
 public:
  ExactIndices(std::shared_ptr<const ExactPalette> exact, const FrameSourceInfo& info)
      : exact_(std::move(exact)), info_(info) {
    palette_ = OpaquePalette(exact_->Palette());
  }
  void Index(std::span<const std::uint8_t> frame, std::span<std::uint8_t> indices) override {
    exact_->Map(PixelsOf(info_, frame), indices);
  }

 private:
  std::shared_ptr<const ExactPalette> exact_;
  const FrameSourceInfo& info_;
};

// Frames the source makes as indices of their exact palette itself (FrameSource::ComposeIndices).
class ComposedIndices final : public FrameIndices {
 public:
  explicit ComposedIndices(const RgbPalette& colours) { palette_ = OpaquePalette(colours); }
  void Index(std::span<const std::uint8_t> frame, std::span<std::uint8_t> indices) override {
    std::ranges::copy(frame.first(indices.size()), indices.begin());
  }
};

// Each opaque colour to its entry in `exact`.
ColourIndexer IndexerOf(std::shared_ptr<const ExactPalette> exact) {
  return [exact](std::span<const std::uint8_t> rgba, std::span<std::uint8_t> indices) {
    exact->Map({.bytes = rgba, .width = static_cast<std::uint32_t>(indices.size()), .height = 1},
               indices);
  };
}

// Frames onto the file's own palette by the nearest colour.
class NearestIndices final : public FrameIndices {
 public:
  NearestIndices(PaletteMapper mapper, const FrameSourceInfo& info)
      : mapper_(std::move(mapper)), info_(info) {
    palette_ = PaletteOfFrames(info.palette);
    // The entries hold colours only: which pixels are transparent the mapper has decided.
    for (Colour& entry : palette_.entries) {
      entry.alpha = 255;
    }
  }
  void Index(std::span<const std::uint8_t> frame, std::span<std::uint8_t> indices) override {
    mapper_.Map(PixelsOf(info_, frame), indices);
  }

 private:
  PaletteMapper mapper_;
  const FrameSourceInfo& info_;
};

PreparedIndices Failed(FrameStatus status) {
  return {.indices = nullptr, .status = status, .failure = std::nullopt};
}

PreparedIndices Failed(ReadFailure failure) {
  return {.indices = nullptr, .status = FrameStatus::kOk, .failure = failure};
}

PreparedIndices Ready(std::unique_ptr<FrameIndices> indices) {
  return {.indices = std::move(indices), .status = FrameStatus::kOk, .failure = std::nullopt};
}

// Where a transparent entry other than T is there, the remap depends on whether opaque pixels
// use T anywhere, so every frame is looked at first; otherwise the indices stay as stored.
PreparedIndices PrepareKept(FrameSource& frames, std::span<std::uint8_t> composed,
                            const TransparencyRules& rules) {
  const Palette palette = PaletteOfFrames(frames.Info().palette);
  const std::array<std::uint8_t, kPaletteEntries> alphas = EntryAlphas(palette);
  IndexRemap remap = RemapForTransparency(alphas, IndexUsage{}, rules);
  if (remap.changes) {
    IndexUsage usage;
    const FrameStatus status =
        LookAtEveryFrame(frames, composed, [&usage](auto frame) { usage.Add(frame); });
    if (status != FrameStatus::kOk) {
      return Failed(status);
    }
    remap = RemapForTransparency(alphas, usage, rules);
  }
  return Ready(std::make_unique<KeptIndices>(palette, remap));
}

// The colours of every composed frame of a GIF, found from the frames' lines alone
// (GifFrameColours), as the opaque pixels of a picture of one row.
FrameStatus GatherGifColours(std::span<const std::uint8_t> file, ExactPalette& exact) {
  std::vector<Rgb24> colours;
  if (const FrameStatus status = GifFrameColours(file, colours); status != FrameStatus::kOk) {
    return status;
  }
  std::vector<std::uint8_t> row;
  row.reserve(colours.size() * kRgbaPixelBytes);
  for (const Rgb24 colour : colours) {
    row.insert(row.end(),
               {static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
                static_cast<std::uint8_t>(colour), std::uint8_t{255}});
  }
  exact.Gather({.bytes = row, .width = static_cast<std::uint32_t>(colours.size()), .height = 1});
  return FrameStatus::kOk;
}

// Whether a pixel is transparent matters to the palette only where T is not set aside anyway:
// elsewhere a GIF's colours are gathered without composing its frames.
PreparedIndices PrepareExact(FrameFile& input, std::span<std::uint8_t> composed,
                             const TransparencyRules& rules) {
  FrameSource& frames = *input.frames;
  const FrameSourceInfo& info = frames.Info();
  auto exact = std::make_unique<ExactPalette>(rules);
  const FrameStatus status = input.kind == InputKind::kGif && rules.formatDrawsTransparent
                                 ? GatherGifColours(input.bytes.bytes(), *exact)
                                 : LookAtEveryFrame(frames, composed, [&](auto frame) {
                                     exact->Gather(PixelsOf(info, frame));
                                   });
  if (status != FrameStatus::kOk) {
    return Failed(status);
  }
  if (exact->Choose() == PaletteChoice::kTooManyColours) {
    return Failed(ReadFailure::kTooManyColours);
  }
  // Where T is set aside, a pixel left transparent is T whatever: the source can draw indices.
  std::shared_ptr<const ExactPalette> chosen(std::move(exact));
  const std::optional<std::uint8_t> t = chosen->TransparencyOf().index;
  if (t && frames.ComposeIndices(IndexerOf(chosen), *t)) {
    return Ready(std::make_unique<ComposedIndices>(chosen->Palette()));
  }
  return Ready(std::make_unique<ExactIndices>(std::move(chosen), info));
}

// T is set aside where the format draws it transparent, or where some pixel of some frame is
// transparent (looked for only then), as for an exact palette.
PreparedIndices PrepareNearest(FrameSource& frames, std::span<std::uint8_t> composed,
                               const TransparencyRules& rules) {
  const FrameSourceInfo& info = frames.Info();
  bool transparentPixels = rules.formatDrawsTransparent;
  if (!transparentPixels) {
    const FrameStatus status = LookAtEveryFrame(frames, composed, [&](auto frame) {
      for (std::size_t alpha = kRgbaPixelBytes - 1; alpha < frame.size();
           alpha += kRgbaPixelBytes) {
        transparentPixels = transparentPixels || rules.IsTransparent(frame[alpha]);
      }
    });
    if (status != FrameStatus::kOk) {
      return Failed(status);
    }
  }
  const Transparency transparency{
      .index = transparentPixels ? std::optional(rules.transparentIndex) : std::nullopt,
      .alphaThreshold = rules.alphaThreshold};
  RgbPalette colours = ColoursOf(info.palette);
  std::optional<PaletteMapper> mapper = PaletteMapper::Make(colours, transparency);
  if (!mapper) {
    // A palette of T alone, or of nothing: the entries past it are black, as its indices
    // past it are drawn.
    colours.count = kPaletteEntries;
    mapper = PaletteMapper::Make(colours, transparency);
  }
  if (!mapper) {
    return Failed(ReadFailure::kOutOfMemory);
  }
  return Ready(std::make_unique<NearestIndices>(std::move(*mapper), info));
}

}  // namespace

PreparedIndices PrepareFrameIndices(FrameFile& input, std::span<std::uint8_t> composed,
                                    const ConversionSettings& settings) {
  FrameSource& frames = *input.frames;
  const TransparencyRules rules = TransparencyRulesOf(settings);
  switch (frames.Info().kind) {
    case FrameKind::kPaletteIndices:
      return PrepareKept(frames, composed, rules);
    case FrameKind::kTrueColour:
      return PrepareExact(input, composed, rules);
    case FrameKind::kOwnPaletteColour:
      return PrepareNearest(frames, composed, rules);
  }
  return Failed(ReadFailure::kOutOfMemory);
}

}  // namespace kav
