#include "input/aseprite_frames.h"

#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>
#include <array>
#include <optional>

#include "input/aseprite_file.h"
#include "platform/little_endian.h"

namespace kav {
namespace {

constexpr std::uint8_t kOpaque = 255;
constexpr std::size_t kAlpha = 3;  // of a pixel's RGBA bytes
// What zlib holds while it inflates: its state and the 32 KiB window.
constexpr std::uint64_t kInflateBytes = 48 << 10;

std::uint8_t TimesOpacity(std::uint32_t value, std::uint32_t opacity) {
  return static_cast<std::uint8_t>((value * opacity + 127) / 255);
}

// `source` drawn over the canvas pixel `under` (4 bytes) in the normal way, its alpha scaled
// by `opacity` first (aseprite_frames.h gives the arithmetic).
void BlendOver(FrameColour source, std::uint8_t opacity, std::span<std::uint8_t> under) {
  const std::uint32_t alpha = TimesOpacity(source.alpha, opacity);
  if (alpha == 0) {
    return;
  }
  const std::uint32_t underAlpha = under[kAlpha];
  if (alpha == kOpaque || underAlpha == 0) {
    under[0] = source.red;
    under[1] = source.green;
    under[2] = source.blue;
    under[kAlpha] = static_cast<std::uint8_t>(alpha);
    return;
  }
  const std::uint32_t underWeight = underAlpha * (kOpaque - alpha);
  const std::uint32_t total = alpha * kOpaque + underWeight;
  const auto mix = [&](std::uint8_t over, std::uint8_t below) {
    return static_cast<std::uint8_t>((over * alpha * kOpaque + below * underWeight + total / 2) /
                                     total);
  };
  under[0] = mix(source.red, under[0]);
  under[1] = mix(source.green, under[1]);
  under[2] = mix(source.blue, under[2]);
  under[kAlpha] = static_cast<std::uint8_t>((total + 127) / 255);
}

template <typename ColourOf>
void BlendRow(std::size_t pixels, ColourOf colourOf, std::uint8_t opacity,
              std::span<std::uint8_t> out) {
  for (std::size_t x = 0; x < pixels; ++x) {
    BlendOver(colourOf(x), opacity, out.subspan(x * kRgbaPixelBytes, kRgbaPixelBytes));
  }
}

// Owns a zlib stream, started again for each compressed cel.
class Inflater {
 public:
  Inflater() : ready_(inflateInit(&stream_) == Z_OK) {}
  ~Inflater() {
    if (ready_) {
      inflateEnd(&stream_);
    }
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  bool ready() const { return ready_; }
  // `compressed` is at most a chunk long, whose size is a 32-bit number.
  void Start(std::span<const std::uint8_t> compressed) {
    inflateReset(&stream_);
    stream_.next_in = compressed.data();
    stream_.avail_in = static_cast<uInt>(compressed.size());
  }
  // Fills `out` (at most a cel's row) with the next bytes the stream gives, and no more.
  FrameStatus Fill(std::span<std::uint8_t> out) {
    stream_.next_out = out.data();
    stream_.avail_out = static_cast<uInt>(out.size());
    while (stream_.avail_out > 0) {
      const int result = inflate(&stream_, Z_NO_FLUSH);
      if (result == Z_MEM_ERROR) {
        return FrameStatus::kOutOfMemory;
      }
      if (result != Z_OK && !(result == Z_STREAM_END && stream_.avail_out == 0)) {
        return FrameStatus::kAsepriteCorrupt;  // damaged, or ended before the cel's pixels
      }
    }
    return FrameStatus::kOk;
  }

 private:
  z_stream stream_{};
  bool ready_ = false;
};

// The part of a cel on the canvas: its rows [firstRow, endRow) and `columns` pixels of each
// from `firstColumn`, which land from (left, top) on.
struct CelOnCanvas {
  std::uint32_t firstRow = 0, endRow = 0, firstColumn = 0, columns = 0;
  std::uint32_t left = 0, top = 0;
};

std::optional<CelOnCanvas> PlaceOnCanvas(const AsepriteCel& cel, std::uint32_t width,
                                         std::uint32_t height) {
  const std::int64_t x = cel.x, y = cel.y;
  const std::int64_t firstColumn = std::max<std::int64_t>(0, -x);
  const std::int64_t endColumn = std::min<std::int64_t>(cel.width, std::int64_t{width} - x);
  const std::int64_t firstRow = std::max<std::int64_t>(0, -y);
  const std::int64_t endRow = std::min<std::int64_t>(cel.height, std::int64_t{height} - y);
  if (endColumn <= firstColumn || endRow <= firstRow) {
    return std::nullopt;
  }
  return CelOnCanvas{static_cast<std::uint32_t>(firstRow),
                     static_cast<std::uint32_t>(endRow),
                     static_cast<std::uint32_t>(firstColumn),
                     static_cast<std::uint32_t>(endColumn - firstColumn),
                     static_cast<std::uint32_t>(x + firstColumn),
                     static_cast<std::uint32_t>(y + firstRow)};
}

// Whether a cel on a drawn background layer covers the canvas in every frame.
bool BackgroundCoversEveryFrame(const AsepriteSprite& sprite) {
  for (std::uint32_t frame = 0; frame < sprite.frames; ++frame) {
    bool covered = false;
    for (std::uint32_t i = sprite.frameStart[frame]; i < sprite.frameStart[frame + 1]; ++i) {
      const AsepriteCel& cel = sprite.cels[sprite.drawOrder[i]];
      const AsepriteCel& picture = sprite.cels[cel.picture];
      covered =
          covered || (sprite.layers[cel.layer].background && picture.x <= 0 && picture.y <= 0 &&
                      picture.x + std::int64_t{picture.width} >= sprite.width &&
                      picture.y + std::int64_t{picture.height} >= sprite.height);
    }
    if (!covered) {
      return false;
    }
  }
  return true;
}

bool EverythingDrawnOpaque(const AsepriteSprite& sprite) {
  for (const std::uint32_t i : sprite.drawOrder) {
    const AsepriteCel& cel = sprite.cels[i];
    if (sprite.layers[cel.layer].opacity != kOpaque ||
        sprite.cels[cel.picture].opacity != kOpaque) {
      return false;
    }
  }
  for (std::size_t i = 0; i < sprite.palette.count; ++i) {
    if (sprite.palette.entries[i].alpha != kOpaque && i != sprite.transparentIndex) {
      return false;
    }
  }
  return true;
}

bool AnyBackgroundDrawn(const AsepriteSprite& sprite) {
  return std::ranges::any_of(
      sprite.layers, [](const AsepriteLayer& layer) { return layer.drawn && layer.background; });
}

class AsepriteFrames final : public FrameSource {
 public:
  FrameStatus Open(std::span<const std::uint8_t> file);
  FrameStatus Next(std::span<std::uint8_t> frame) override;
  FrameStatus Rewind() override {
    nextFrame_ = 0;
    return FrameStatus::kOk;
  }

 private:
  void Describe();
  FrameStatus DrawCel(const AsepriteCel& cel, std::span<std::uint8_t> frame);
  void DrawRow(std::span<const std::uint8_t> pixels, const AsepriteLayer& layer,
               std::uint8_t opacity, std::span<std::uint8_t> out) const;

  AsepriteSprite sprite_;
  std::uint32_t nextFrame_ = 0;
  std::array<FrameColour, kFramePaletteEntries> colours_{};  // of each index
  Inflater inflater_;
  std::vector<std::uint8_t> row_;  // a compressed cel's row
};

FrameStatus AsepriteFrames::Open(std::span<const std::uint8_t> file) {
  if (const FrameStatus status = ReadAsepriteStructure(file, sprite_); status != FrameStatus::kOk) {
    return status;
  }
  if (!inflater_.ready()) {
    return FrameStatus::kOutOfMemory;
  }
  std::size_t widest = 0;
  for (const AsepriteCel& cel : sprite_.cels) {
    widest = std::max<std::size_t>(widest, cel.width);
  }
  row_.resize(widest * sprite_.PixelBytes());
  colours_.fill({0, 0, 0, kOpaque});
  std::copy_n(sprite_.palette.entries.begin(), sprite_.palette.count, colours_.begin());
  Describe();
  return FrameStatus::kOk;
}

void AsepriteFrames::Describe() {
  info_.width = sprite_.width;
  info_.height = sprite_.height;
  info_.frameCount = sprite_.frames;
  info_.tags = sprite_.tags;
  info_.skippedContent = sprite_.skippedContent;
  info_.workingBytes = row_.size() + kInflateBytes + sprite_.cels.size() * sizeof(AsepriteCel) +
                       sprite_.drawOrder.size() * sizeof(std::uint32_t);
  if (sprite_.mode != AsepriteMode::kIndexed) {
    info_.kind = FrameKind::kTrueColour;
    return;
  }
  info_.palette = sprite_.palette;
  const std::uint8_t transparent = sprite_.transparentIndex;
  const bool opaqueEverywhere = AnyBackgroundDrawn(sprite_);
  if (EverythingDrawnOpaque(sprite_) &&
      (!opaqueEverywhere || BackgroundCoversEveryFrame(sprite_))) {
    info_.kind = FrameKind::kPaletteIndices;
    if (opaqueEverywhere) {
      info_.palette.entries[transparent].alpha = kOpaque;
      return;
    }
    info_.transparentIndex = transparent;
  } else {
    info_.kind = FrameKind::kOwnPaletteColour;
  }
  info_.palette.entries[transparent].alpha = 0;
  info_.palette.count = std::max(info_.palette.count, static_cast<std::uint16_t>(transparent + 1));
}

void AsepriteFrames::DrawRow(std::span<const std::uint8_t> pixels, const AsepriteLayer& layer,
                             std::uint8_t opacity, std::span<std::uint8_t> out) const {
  const std::uint8_t transparent = sprite_.transparentIndex;
  const bool background = layer.background;
  if (info_.kind == FrameKind::kPaletteIndices) {
    for (std::size_t x = 0; x < pixels.size(); ++x) {
      if (background || pixels[x] != transparent) {
        out[x] = pixels[x];
      }
    }
    return;
  }
  switch (sprite_.mode) {
    case AsepriteMode::kIndexed:
      BlendRow(
          pixels.size(),
          [&](std::size_t x) {
            const FrameColour colour = colours_[pixels[x]];
            if (background) {
              return FrameColour{colour.red, colour.green, colour.blue, kOpaque};
            }
            return pixels[x] != transparent ? colour : FrameColour{};
          },
          opacity, out);
      break;
    case AsepriteMode::kGrayscale:
      BlendRow(
          pixels.size() / 2,
          [&](std::size_t x) {
            const std::uint8_t value = pixels[2 * x];
            return FrameColour{value, value, value, pixels[2 * x + 1]};
          },
          opacity, out);
      break;
    case AsepriteMode::kRgba:
      BlendRow(
          pixels.size() / kRgbaPixelBytes,
          [&](std::size_t x) {
            const std::span<const std::uint8_t> pixel = pixels.subspan(x * kRgbaPixelBytes, 4);
            return FrameColour{pixel[0], pixel[1], pixel[2], pixel[3]};
          },
          opacity, out);
      break;
  }
}

FrameStatus AsepriteFrames::DrawCel(const AsepriteCel& cel, std::span<std::uint8_t> frame) {
  const AsepriteCel& picture = sprite_.cels[cel.picture];
  const std::optional<CelOnCanvas> place = PlaceOnCanvas(picture, sprite_.width, sprite_.height);
  if (!place) {
    return FrameStatus::kOk;
  }
  const AsepriteLayer& layer = sprite_.layers[cel.layer];
  const std::uint8_t opacity = TimesOpacity(picture.opacity, layer.opacity);
  const std::size_t pixelBytes = sprite_.PixelBytes();
  const std::size_t outBytes = info_.kind == FrameKind::kPaletteIndices ? 1 : kRgbaPixelBytes;
  const std::size_t rowBytes = std::size_t{picture.width} * pixelBytes;
  const auto draw = [&](std::uint32_t row, std::span<const std::uint8_t> pixels) {
    const std::size_t start =
        (std::size_t{place->top + row - place->firstRow} * sprite_.width + place->left) * outBytes;
    DrawRow(pixels.subspan(place->firstColumn * pixelBytes, place->columns * pixelBytes), layer,
            opacity, frame.subspan(start, place->columns * outBytes));
  };
  if (picture.type == kRawCel) {
    for (std::uint32_t row = place->firstRow; row < place->endRow; ++row) {
      draw(row, picture.data.subspan(row * rowBytes, rowBytes));
    }
    return FrameStatus::kOk;
  }
  // Rows above the canvas are inflated and passed over; those below it are never inflated.
  inflater_.Start(picture.data);
  const std::span<std::uint8_t> pixels = std::span(row_).first(rowBytes);
  for (std::uint32_t row = 0; row < place->endRow; ++row) {
    if (const FrameStatus status = inflater_.Fill(pixels); status != FrameStatus::kOk) {
      return status;
    }
    if (row >= place->firstRow) {
      draw(row, pixels);
    }
  }
  return FrameStatus::kOk;
}

FrameStatus AsepriteFrames::Next(std::span<std::uint8_t> frame) {
  if (frame.size() != info_.FrameBytes()) {
    return FrameStatus::kWrongBuffer;
  }
  if (nextFrame_ >= info_.frameCount) {
    return FrameStatus::kOk;
  }
  const bool indices = info_.kind == FrameKind::kPaletteIndices;
  std::ranges::fill(frame, indices ? info_.transparentIndex.value_or(0) : 0);
  for (std::uint32_t i = sprite_.frameStart[nextFrame_]; i < sprite_.frameStart[nextFrame_ + 1];
       ++i) {
    if (const FrameStatus status = DrawCel(sprite_.cels[sprite_.drawOrder[i]], frame);
        status != FrameStatus::kOk) {
      return status;
    }
  }
  ++nextFrame_;
  return FrameStatus::kOk;
}

}  // namespace

bool HasAsepriteSignature(std::span<const std::uint8_t> first) {
  return first.size() >= kAsepriteMagicOffset + 2 &&
         LoadLe16(first.subspan(kAsepriteMagicOffset)) == kAsepriteMagic;
}

OpenedFrames OpenAsepriteFrames(std::span<const std::uint8_t> file) {
  auto frames = std::make_unique<AsepriteFrames>();
  const FrameStatus status = frames->Open(file);
  if (status != FrameStatus::kOk) {
    return {nullptr, status};
  }
  return {std::move(frames), FrameStatus::kOk};
}

}  // namespace kav
