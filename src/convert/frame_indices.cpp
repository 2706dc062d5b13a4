#include "convert/frame_indices.h"

#include <algorithm>
#include <vector>

#include "color/exact_palette.h"
#include "color/palette_mapper.h"
#include "color/reduce.h"
#include "formats/output_format.h"
#include "input/fixed_palette.h"
#include "input/gif_frames.h"
#include "input/palette_picture.h"
#include "platform/memory_block.h"

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
  bool Index(std::span<const std::uint8_t> frame, std::span<std::uint8_t> indices) override {
    std::ranges::copy(frame.first(indices.size()), indices.begin());
    ApplyRemap(remap_, indices);
    return true;
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
  bool Index(std::span<const std::uint8_t> frame, std::span<std::uint8_t> indices) override {
    return exact_->Map(PixelsOf(info_, frame), indices);
  }

 private:
  std::shared_ptr<const ExactPalette> exact_;
  const FrameSourceInfo& info_;
};

// Frames the source makes as indices of their exact palette itself (FrameSource::ComposeIndices).
class ComposedIndices final : public FrameIndices {
 public:
  explicit ComposedIndices(const RgbPalette& colours) { palette_ = OpaquePalette(colours); }
  bool Index(std::span<const std::uint8_t> frame, std::span<std::uint8_t> indices) override {
    std::ranges::copy(frame.first(indices.size()), indices.begin());
    return true;
  }
};

// Each opaque colour to its entry in `exact`.
ColourIndexer IndexerOf(std::shared_ptr<const ExactPalette> exact) {
  return [exact](std::span<const std::uint8_t> rgba, std::span<std::uint8_t> indices) {
    exact->Map({.bytes = rgba, .width = static_cast<std::uint32_t>(indices.size()), .height = 1},
               indices);
  };
}

// Truecolour frames onto the palette reduced over all of them.
class ReducedIndices final : public FrameIndices {
 public:
  ReducedIndices(std::unique_ptr<FrameReducer> reducer, const RgbPalette& palette,
                 const FrameSourceInfo& info)
      : reducer_(std::move(reducer)), info_(info) {
    palette_ = OpaquePalette(palette);
  }
  bool Index(std::span<const std::uint8_t> frame, std::span<std::uint8_t> indices) override {
    return reducer_->Map(PixelsOf(info_, frame), indices);
  }

 private:
  std::unique_ptr<FrameReducer> reducer_;
  const FrameSourceInfo& info_;
};

// RGBA pixels onto a palette that need not hold their colours: by the nearest-colour rule,
// after ordered dithering when asked, or by error diffusion (which needs no mapper and its
// table).
class OntoPalette {
 public:
  static std::optional<OntoPalette> Make(const RgbPalette& colours,
                                         const Transparency& transparency, Dither dither) {
    if (!HasEntryBesides(colours, transparency.index)) {
      return std::nullopt;
    }
    std::optional<PaletteMapper> mapper;
    if (dither != Dither::kDiffusion) {
      mapper = PaletteMapper::Make(colours, transparency);
      if (!mapper) {
        return std::nullopt;
      }
    }
    return OntoPalette(colours, transparency, dither, std::move(mapper));
  }
  bool Map(const RgbaPixels& pixels, std::span<std::uint8_t> indices) {
    if (!mapper_) {
      const std::array<std::span<std::uint8_t>, 1> frameIndices{indices};
      return DiffuseOntoPalette(std::span(&pixels, 1), colours_, transparency_, frameIndices);
    }
    return dither_ == Dither::kOrdered ? mapper_->MapOrdered(pixels, indices)
                                       : mapper_->Map(pixels, indices);
  }

 private:
  OntoPalette(const RgbPalette& colours, const Transparency& transparency, Dither dither,
              std::optional<PaletteMapper> mapper)
      : colours_(colours),
        transparency_(transparency),
        dither_(dither),
        mapper_(std::move(mapper)) {}

  RgbPalette colours_;
  Transparency transparency_;
  Dither dither_;
  std::optional<PaletteMapper> mapper_;  // none for error diffusion
};

// RGBA frames onto a palette: the file's own, or a fixed one.
class MappedIndices final : public FrameIndices {
 public:
  MappedIndices(const Palette& palette, OntoPalette onto, const FrameSourceInfo& info)
      : onto_(std::move(onto)), info_(info) {
    palette_ = palette;
  }
  bool Index(std::span<const std::uint8_t> frame, std::span<std::uint8_t> indices) override {
    return onto_.Map(PixelsOf(info_, frame), indices);
  }

 private:
  OntoPalette onto_;
  const FrameSourceInfo& info_;
};

// A palette input's frames onto a fixed palette: each entry's pixels to the entry's nearest
// without dithering, else each pixel in its entry's colour and alpha, as a single palette
// picture is.
class EntriesOntoFixed final : public FrameIndices {
 public:
  EntriesOntoFixed(const RgbPalette& fixed, const Palette& entries,
                   const std::array<std::uint8_t, kPaletteEntries>& newIndex,
                   std::optional<OntoPalette> dithered, const FrameSourceInfo& info)
      : entries_(entries), newIndex_(newIndex), dithered_(std::move(dithered)), info_(info) {
    palette_ = OpaquePalette(fixed);
  }
  bool Index(std::span<const std::uint8_t> frame, std::span<std::uint8_t> indices) override {
    if (!dithered_) {
      std::ranges::transform(frame.first(indices.size()), indices.begin(),
                             [this](std::uint8_t index) { return newIndex_[index]; });
      return true;
    }
    if (!rgba_) {
      rgba_ = MemoryBlock::Allocate(indices.size() * kRgbaPixelBytes);
    }
    if (!rgba_) {
      return false;
    }
    EntryColours(frame.first(indices.size()), entries_, rgba_.bytes());
    return dithered_->Map({.bytes = rgba_.bytes(), .width = info_.width, .height = info_.height},
                          indices);
  }

 private:
  Palette entries_;
  std::array<std::uint8_t, kPaletteEntries> newIndex_;
  std::optional<OntoPalette> dithered_;
  const FrameSourceInfo& info_;
  MemoryBlock rgba_;  // the frame in its entries' colours, for dithering
};

PreparedIndices Failed(FrameStatus status) {
  return {.indices = nullptr, .status = status, .failure = std::nullopt, .reduction = {}};
}

PreparedIndices Failed(ReadFailure failure) {
  return {.indices = nullptr, .status = FrameStatus::kOk, .failure = failure, .reduction = {}};
}

PreparedIndices Ready(std::unique_ptr<FrameIndices> indices) {
  return {.indices = std::move(indices),
          .status = FrameStatus::kOk,
          .failure = std::nullopt,
          .reduction = {}};
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

// Every frame's pixels reduced together, as a single truecolour picture's are: T set aside
// where the format draws it transparent or some pixel is transparent.
PreparedIndices PrepareReduced(FrameSource& frames, std::span<std::uint8_t> composed,
                               const TransparencyRules& rules, Dither dither, std::size_t found) {
  const FrameSourceInfo& info = frames.Info();
  auto reducer = std::make_unique<FrameReducer>(rules.alphaThreshold, dither);
  bool added = true;
  const FrameStatus status = LookAtEveryFrame(
      frames, composed, [&](auto frame) { added = added && reducer->Add(PixelsOf(info, frame)); });
  if (status != FrameStatus::kOk) {
    return Failed(status);
  }
  const bool setAside = rules.formatDrawsTransparent || reducer->SawTransparent();
  const auto capacity =
      static_cast<std::uint16_t>(setAside ? kPaletteEntries - 1 : kPaletteEntries);
  const std::optional<RgbPalette> palette =
      added ? reducer->Choose(capacity,
                              setAside ? std::optional(rules.transparentIndex) : std::nullopt)
            : std::nullopt;
  if (!palette) {
    return Failed(ReadFailure::kOutOfMemory);
  }
  PreparedIndices prepared =
      Ready(std::make_unique<ReducedIndices>(std::move(reducer), *palette, info));
  prepared.reduction = ColourReduction{.found = found, .capacity = capacity};
  return prepared;
}

// Whether a pixel is transparent matters to the palette only where T is not set aside anyway:
// elsewhere a GIF's colours are gathered without composing its frames.
PreparedIndices PrepareExact(FrameFile& input, std::span<std::uint8_t> composed,
                             const TransparencyRules& rules, const ColourRules& colours) {
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
    return colours.reduce
               ? PrepareReduced(frames, composed, rules, colours.dither, exact->ColourCount())
               : Failed(ReadFailure::kTooManyColours);
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
                               const TransparencyRules& rules, Dither dither) {
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
  if (!HasEntryBesides(colours, transparency.index)) {
    // A palette of T alone, or of nothing: the entries past it are black, as its indices
    // past it are drawn.
    colours.count = kPaletteEntries;
  }
  std::optional<OntoPalette> onto = OntoPalette::Make(colours, transparency, dither);
  if (!onto) {
    return Failed(ReadFailure::kOutOfMemory);
  }
  // The entries hold colours only: which pixels are transparent the mapping has decided.
  Palette palette = PaletteOfFrames(info.palette);
  for (Colour& entry : palette.entries) {
    entry.alpha = 255;
  }
  return Ready(std::make_unique<MappedIndices>(palette, std::move(*onto), info));
}

// Every frame onto the fixed palette, T never taken by an opaque pixel, as a single picture.
PreparedIndices PrepareFixed(const FrameSourceInfo& info, const RgbPalette& fixed,
                             const TransparencyRules& rules, Dither dither) {
  const Transparency transparency{.index = rules.transparentIndex,
                                  .alphaThreshold = rules.alphaThreshold};
  if (!HasEntryBesides(fixed, transparency.index)) {
    return Failed(ReadFailure::kPaletteFileUnreadable);
  }
  const bool byEntry = info.kind == FrameKind::kPaletteIndices;
  std::optional<OntoPalette> onto;
  if (!byEntry || dither != Dither::kNone) {
    onto = OntoPalette::Make(fixed, transparency, dither);
    if (!onto) {
      return Failed(ReadFailure::kOutOfMemory);
    }
  }
  if (!byEntry) {
    return Ready(std::make_unique<MappedIndices>(OpaquePalette(fixed), std::move(*onto), info));
  }
  const Palette entries = PaletteOfFrames(info.palette);
  const auto newIndex = EntriesOntoPalette(entries, fixed, transparency);
  if (!newIndex) {
    return Failed(ReadFailure::kPaletteFileUnreadable);
  }
  return Ready(
      std::make_unique<EntriesOntoFixed>(fixed, entries, *newIndex, std::move(onto), info));
}

}  // namespace

std::uint64_t FrameIndicesBytes(const FrameSourceInfo& info, const ConversionSettings& settings) {
  const bool entriesDithered = settings.palette && settings.dither != Dither::kNone &&
                               info.kind == FrameKind::kPaletteIndices;
  return entriesDithered ? std::uint64_t{info.width} * info.height * kRgbaPixelBytes : 0;
}

PreparedIndices PrepareFrameIndices(FrameFile& input, std::span<std::uint8_t> composed,
                                    const ConversionSettings& settings) {
  FrameSource& frames = *input.frames;
  const TransparencyRules rules = TransparencyRulesOf(settings);
  if (settings.palette) {
    return PrepareFixed(frames.Info(), *settings.palette, rules, settings.dither);
  }
  switch (frames.Info().kind) {
    case FrameKind::kPaletteIndices:
      return PrepareKept(frames, composed, rules);
    case FrameKind::kTrueColour:
      return PrepareExact(
          input, composed, rules,
          {.fixedPalette = nullptr, .dither = settings.dither, .reduce = settings.reduce});
    case FrameKind::kOwnPaletteColour:
      return PrepareNearest(frames, composed, rules, settings.dither);
  }
  return Failed(ReadFailure::kOutOfMemory);
}

}  // namespace kav
