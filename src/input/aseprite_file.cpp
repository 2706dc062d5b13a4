#include "input/aseprite_file.h"

#include <algorithm>
#include <optional>
#include <tuple>

#include "platform/little_endian.h"

namespace kav {
namespace {

constexpr std::size_t kFrameHeaderSize = 16;
constexpr std::uint16_t kFrameMagic = 0xF1FA;
constexpr std::size_t kChunkHeaderSize = 6;

constexpr std::uint16_t kDepthIndexed = 8;
constexpr std::uint16_t kDepthGrayscale = 16;
constexpr std::uint16_t kDepthRgba = 32;
constexpr std::uint32_t kLayerOpacityValid = 1;

enum ChunkType : std::uint16_t {
  kOldPalette256 = 0x0004,
  kOldPalette64 = 0x0011,
  kLayerChunk = 0x2004,
  kCelChunk = 0x2005,
  kCelExtraChunk = 0x2006,
  kColourProfileChunk = 0x2007,
  kExternalFilesChunk = 0x2008,
  kMaskChunk = 0x2016,
  kPathChunk = 0x2017,
  kTagsChunk = 0x2018,
  kPaletteChunk = 0x2019,
  kUserDataChunk = 0x2020,
  kSliceChunk = 0x2022,
  kTilesetChunk = 0x2023,
};

constexpr std::uint16_t kLayerVisible = 1;
constexpr std::uint16_t kLayerBackground = 8;
constexpr std::uint16_t kLayerReference = 64;  // a picture to draw over, not part of the art
constexpr std::uint16_t kImageLayer = 0;
constexpr std::uint16_t kGroupLayer = 1;
constexpr std::uint16_t kTilemapCel = 3;
constexpr std::uint16_t kPaletteEntryHasName = 1;
constexpr std::size_t kCelReservedBytes = 5;
constexpr std::size_t kLayerSkippedBytes = 6;  // default width and height, blend mode
constexpr std::size_t kTagSkippedBytes = 13;   // direction, repeat, reserved, colour

// Little-endian fields read in order from a run of bytes. A read past the end gives zeros and
// marks the reader failed, so a record is read whole and checked once.
class FieldReader {
 public:
  explicit FieldReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::span<const std::uint8_t> Take(std::size_t count) {
    if (failed_ || count > bytes_.size() - position_) {
      failed_ = true;
      return {};
    }
    const std::span<const std::uint8_t> taken = bytes_.subspan(position_, count);
    position_ += count;
    return taken;
  }
  std::uint8_t U8() {
    const auto at = Take(1);
    return at.empty() ? 0 : at[0];
  }
  std::uint16_t U16() {
    const auto at = Take(2);
    return at.empty() ? 0 : LoadLe16(at);
  }
  std::int16_t S16() { return static_cast<std::int16_t>(U16()); }
  std::uint32_t U32() {
    const auto at = Take(4);
    return at.empty() ? 0 : LoadLe32(at);
  }
  std::string String() {
    const auto text = Take(U16());
    return {text.begin(), text.end()};
  }
  void Skip(std::size_t count) { Take(count); }
  std::span<const std::uint8_t> Rest() { return Take(bytes_.size() - position_); }
  bool ok() const { return !failed_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
  bool failed_ = false;
};

struct LayerRecord {
  std::uint16_t flags = 0, type = 0, level = 0;
  std::uint8_t opacity = 255;
};

// What the chunks tell, gathered while they are read.
struct Reading {
  AsepriteSprite& sprite;
  bool layerOpacityValid = false;
  std::vector<LayerRecord> layers{};
  std::vector<std::uint16_t> linkedFrames{};  // per cel, for linked cels
  std::optional<FramePalette> palette{};      // from 0x2019 chunks
  std::optional<FramePalette> oldPalette{};   // from 0x0004 and 0x0011 chunks
  std::uint16_t headerColours = 0;
};

std::uint8_t TimesOpacity(std::uint8_t value, std::uint8_t opacity) {
  return static_cast<std::uint8_t>((value * opacity + 127) / 255);
}

// Entries no chunk gives are black and opaque.
FramePalette BlackPalette() {
  FramePalette palette;
  for (FrameColour& entry : palette.entries) {
    entry.alpha = 255;
  }
  return palette;
}

FrameStatus Corrupt() {
  return FrameStatus::kAsepriteCorrupt;
}

FrameStatus ReadHeader(std::span<const std::uint8_t> file, Reading& reading,
                       std::span<const std::uint8_t>& frames) {
  FieldReader header(file);
  const std::uint32_t fileSize = header.U32();
  const std::uint16_t magic = header.U16();
  AsepriteSprite& sprite = reading.sprite;
  sprite.frames = header.U16();
  sprite.width = header.U16();
  sprite.height = header.U16();
  const std::uint16_t depth = header.U16();
  const std::uint32_t flags = header.U32();
  header.Skip(10);  // speed, two reserved words
  sprite.transparentIndex = header.U8();
  header.Skip(3);
  reading.headerColours = header.U16();
  if (!header.ok() || fileSize < kAsepriteHeaderSize || fileSize > file.size() ||
      magic != kAsepriteMagic || sprite.frames == 0 || sprite.width == 0 || sprite.height == 0) {
    return Corrupt();
  }
  switch (depth) {
    case kDepthIndexed:
      sprite.mode = AsepriteMode::kIndexed;
      break;
    case kDepthGrayscale:
      sprite.mode = AsepriteMode::kGrayscale;
      break;
    case kDepthRgba:
      sprite.mode = AsepriteMode::kRgba;
      break;
    default:
      return Corrupt();
  }
  reading.layerOpacityValid = (flags & kLayerOpacityValid) != 0;
  frames = file.subspan(kAsepriteHeaderSize, fileSize - kAsepriteHeaderSize);
  return FrameStatus::kOk;
}

FrameStatus ReadLayer(FieldReader& chunk, Reading& reading) {
  LayerRecord layer;
  layer.flags = chunk.U16();
  layer.type = chunk.U16();
  layer.level = chunk.U16();
  chunk.Skip(kLayerSkippedBytes);
  layer.opacity = chunk.U8();
  chunk.Skip(3);
  chunk.String();  // the name
  reading.layers.push_back(layer);
  return chunk.ok() ? FrameStatus::kOk : Corrupt();
}

FrameStatus ReadCel(FieldReader& chunk, std::uint32_t frame, Reading& reading) {
  AsepriteCel cel;
  cel.frame = frame;
  cel.layer = chunk.U16();
  cel.x = chunk.S16();
  cel.y = chunk.S16();
  cel.opacity = chunk.U8();
  cel.type = chunk.U16();
  cel.zIndex = chunk.S16();
  chunk.Skip(kCelReservedBytes);
  std::uint16_t linkedFrame = 0;
  if (cel.type == kRawCel || cel.type == kCompressedCel) {
    cel.width = chunk.U16();
    cel.height = chunk.U16();
    cel.data = cel.type == kRawCel
                   ? chunk.Take(std::size_t{cel.width} * cel.height * reading.sprite.PixelBytes())
                   : chunk.Rest();
  } else if (cel.type == kLinkedCel) {
    linkedFrame = chunk.U16();
  } else if (cel.type != kTilemapCel) {
    return Corrupt();
  }
  if (!chunk.ok()) {
    return Corrupt();
  }
  reading.sprite.cels.push_back(cel);
  reading.linkedFrames.push_back(linkedFrame);
  return FrameStatus::kOk;
}

FrameStatus ReadPalette(FieldReader& chunk, Reading& reading) {
  const std::uint32_t size = chunk.U32();
  const std::uint32_t first = chunk.U32();
  const std::uint32_t last = chunk.U32();
  chunk.Skip(8);
  if (!chunk.ok() || first > last || last >= size) {
    return Corrupt();
  }
  FramePalette palette = reading.palette.value_or(BlackPalette());
  for (std::uint64_t index = first; index <= last && chunk.ok(); ++index) {
    const std::uint16_t flags = chunk.U16();
    const auto rgba = chunk.Take(4);
    if ((flags & kPaletteEntryHasName) != 0) {
      chunk.String();
    }
    if (index < kFramePaletteEntries && chunk.ok()) {
      palette.entries[index] = {rgba[0], rgba[1], rgba[2], rgba[3]};
    }
  }
  palette.count = static_cast<std::uint16_t>(std::min<std::uint32_t>(size, kFramePaletteEntries));
  reading.palette = palette;
  return chunk.ok() ? FrameStatus::kOk : Corrupt();
}

// Levels of 0 to 63 spread over 0 to 255 (63 is 255), rounded.
std::uint8_t FromSixBits(std::uint8_t level) {
  return static_cast<std::uint8_t>((std::min<std::uint8_t>(level, 63) * 255 + 31) / 63);
}

FrameStatus ReadOldPalette(FieldReader& chunk, bool sixBits, Reading& reading) {
  FramePalette palette = reading.oldPalette.value_or(BlackPalette());
  const std::uint16_t packets = chunk.U16();
  std::size_t index = 0;
  for (std::uint16_t packet = 0; packet < packets && chunk.ok(); ++packet) {
    index += chunk.U8();  // entries skipped
    const std::uint8_t stored = chunk.U8();
    const std::size_t colours = stored == 0 ? kFramePaletteEntries : stored;
    const auto rgb = chunk.Take(colours * 3);
    if (!chunk.ok() || index + colours > kFramePaletteEntries) {
      return Corrupt();
    }
    for (std::size_t i = 0; i < colours; ++i) {
      const auto level = [&](std::size_t channel) {
        const std::uint8_t value = rgb[i * 3 + channel];
        return sixBits ? FromSixBits(value) : value;
      };
      palette.entries[index + i] = {level(0), level(1), level(2), 255};
    }
    index += colours;
    palette.count = std::max(palette.count, static_cast<std::uint16_t>(index));
  }
  reading.oldPalette = palette;
  return chunk.ok() ? FrameStatus::kOk : Corrupt();
}

FrameStatus ReadTags(FieldReader& chunk, Reading& reading) {
  const std::uint16_t count = chunk.U16();
  chunk.Skip(8);
  for (std::uint16_t i = 0; i < count && chunk.ok(); ++i) {
    FrameTag tag;
    tag.from = chunk.U16();
    tag.to = chunk.U16();
    chunk.Skip(kTagSkippedBytes);
    tag.name = chunk.String();
    if (tag.from > tag.to || tag.to >= reading.sprite.frames) {
      return Corrupt();
    }
    reading.sprite.tags.push_back(std::move(tag));
  }
  return chunk.ok() ? FrameStatus::kOk : Corrupt();
}

bool DrawsNothing(std::uint16_t type) {
  switch (type) {
    case kCelExtraChunk:
    case kColourProfileChunk:
    case kExternalFilesChunk:
    case kMaskChunk:
    case kPathChunk:
    case kUserDataChunk:
    case kSliceChunk:
    case kTilesetChunk:
      return true;
    default:
      return false;
  }
}

FrameStatus ReadChunk(FieldReader& frame, std::uint32_t frameNumber, Reading& reading) {
  const std::uint32_t size = frame.U32();
  const std::uint16_t type = frame.U16();
  if (!frame.ok() || size < kChunkHeaderSize) {
    return Corrupt();
  }
  FieldReader chunk(frame.Take(size - kChunkHeaderSize));
  if (!frame.ok()) {
    return Corrupt();
  }
  switch (type) {
    case kLayerChunk:
      return ReadLayer(chunk, reading);
    case kCelChunk:
      return ReadCel(chunk, frameNumber, reading);
    case kPaletteChunk:
      return ReadPalette(chunk, reading);
    case kOldPalette256:
    case kOldPalette64:
      return ReadOldPalette(chunk, type == kOldPalette64, reading);
    case kTagsChunk:
      return ReadTags(chunk, reading);
    default:
      reading.sprite.skippedContent = reading.sprite.skippedContent || !DrawsNothing(type);
      return FrameStatus::kOk;
  }
}

FrameStatus ReadFrame(FieldReader& frames, std::uint32_t frameNumber, Reading& reading) {
  const std::uint32_t bytes = frames.U32();
  const std::uint16_t magic = frames.U16();
  const std::uint16_t oldChunkCount = frames.U16();
  frames.Skip(4);  // duration, reserved
  const std::uint32_t chunkCount = frames.U32();
  if (!frames.ok() || magic != kFrameMagic || bytes < kFrameHeaderSize) {
    return Corrupt();
  }
  FieldReader frame(frames.Take(bytes - kFrameHeaderSize));
  if (!frames.ok()) {
    return Corrupt();
  }
  const std::uint32_t chunks = chunkCount != 0 ? chunkCount : oldChunkCount;
  for (std::uint32_t i = 0; i < chunks; ++i) {
    if (const FrameStatus status = ReadChunk(frame, frameNumber, reading);
        status != FrameStatus::kOk) {
      return status;
    }
  }
  return FrameStatus::kOk;
}

// Places each layer in its group, and decides which are drawn and how opaque.
FrameStatus ArrangeLayers(Reading& reading) {
  AsepriteSprite& sprite = reading.sprite;
  std::vector<std::size_t> groups;  // the open group at each level
  std::vector<bool> visible(reading.layers.size());
  for (std::size_t i = 0; i < reading.layers.size(); ++i) {
    const LayerRecord& record = reading.layers[i];
    if (record.level > groups.size()) {
      return Corrupt();
    }
    groups.resize(record.level);
    const std::optional<std::size_t> parent =
        groups.empty() ? std::nullopt : std::optional(groups.back());
    visible[i] = (record.flags & kLayerVisible) != 0 && (record.flags & kLayerReference) == 0 &&
                 (!parent || visible[*parent]);
    AsepriteLayer layer;
    layer.background = (record.flags & kLayerBackground) != 0;
    layer.opacity = reading.layerOpacityValid ? record.opacity : 255;
    if (parent) {
      layer.opacity = TimesOpacity(layer.opacity, sprite.layers[*parent].opacity);
    }
    layer.drawn = visible[i] && record.type == kImageLayer;
    // Tilemap layers, and layers of kinds not known here, are what a visible layer may draw
    // that is left out.
    sprite.skippedContent = sprite.skippedContent || (visible[i] && record.type != kImageLayer &&
                                                      record.type != kGroupLayer);
    if (record.type == kGroupLayer) {
      groups.push_back(i);
    }
    sprite.layers.push_back(layer);
  }
  return FrameStatus::kOk;
}

void ChoosePalette(Reading& reading) {
  if (reading.palette || reading.oldPalette) {
    reading.sprite.palette = reading.palette ? *reading.palette : *reading.oldPalette;
    return;
  }
  FramePalette& palette = reading.sprite.palette;  // as many entries as the header says
  palette = BlackPalette();
  palette.count = reading.headerColours == 0 || reading.headerColours > kFramePaletteEntries
                      ? kFramePaletteEntries
                      : reading.headerColours;
}

bool HasPixels(const AsepriteCel& cel) {
  return cel.type == kRawCel || cel.type == kCompressedCel;
}

// Sorts the cels by frame and layer, and finds the pixels of each linked cel on a drawn layer:
// the cel on its layer in the frame it names, following links on from there.
FrameStatus LinkCels(Reading& reading) {
  AsepriteSprite& sprite = reading.sprite;
  std::vector<std::uint32_t> order(sprite.cels.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) {
    order[i] = i;
    if (sprite.cels[i].layer >= sprite.layers.size()) {
      return Corrupt();
    }
  }
  const auto key = [&](std::uint32_t i) {
    return std::tuple(sprite.cels[i].frame, sprite.cels[i].layer);
  };
  std::ranges::stable_sort(order, {}, key);
  std::vector<AsepriteCel> cels;
  std::vector<std::uint16_t> links;
  for (const std::uint32_t i : order) {
    cels.push_back(sprite.cels[i]);
    links.push_back(reading.linkedFrames[i]);
  }
  sprite.cels = std::move(cels);
  for (std::uint32_t i = 0; i < sprite.cels.size(); ++i) {
    AsepriteCel& cel = sprite.cels[i];
    cel.picture = i;
    if (!sprite.layers[cel.layer].drawn) {
      continue;
    }
    for (std::uint32_t hops = 0; sprite.cels[cel.picture].type == kLinkedCel; ++hops) {
      const auto target = std::tuple(std::uint32_t{links[cel.picture]}, cel.layer);
      const auto found = std::ranges::lower_bound(
          sprite.cels, target, {},
          [](const AsepriteCel& other) { return std::tuple(other.frame, other.layer); });
      if (hops == sprite.frames || found == sprite.cels.end() ||
          std::tuple(found->frame, found->layer) != target) {
        return Corrupt();
      }
      cel.picture = static_cast<std::uint32_t>(found - sprite.cels.begin());
    }
  }
  return FrameStatus::kOk;
}

// Each frame's drawn cels, bottom first: by layer, a cel's z-index moving it that many layers
// up (or down), the one moved less drawn first where two meet.
void OrderCels(AsepriteSprite& sprite) {
  sprite.frameStart.assign(sprite.frames + 1, 0);
  std::size_t next = 0;
  for (std::uint32_t frame = 0; frame < sprite.frames; ++frame) {
    sprite.frameStart[frame] = static_cast<std::uint32_t>(sprite.drawOrder.size());
    const std::size_t first = sprite.drawOrder.size();
    for (; next < sprite.cels.size() && sprite.cels[next].frame == frame; ++next) {
      const AsepriteCel& cel = sprite.cels[next];
      if (!sprite.layers[cel.layer].drawn) {
        continue;
      }
      if (HasPixels(sprite.cels[cel.picture])) {
        sprite.drawOrder.push_back(static_cast<std::uint32_t>(next));
      } else {
        sprite.skippedContent = true;  // a tilemap cel on an image layer
      }
    }
    std::stable_sort(sprite.drawOrder.begin() + static_cast<std::ptrdiff_t>(first),
                     sprite.drawOrder.end(), [&](std::uint32_t a, std::uint32_t b) {
                       const AsepriteCel& below = sprite.cels[a];
                       const AsepriteCel& above = sprite.cels[b];
                       return std::tuple(below.layer + below.zIndex, below.zIndex) <
                              std::tuple(above.layer + above.zIndex, above.zIndex);
                     });
  }
  sprite.frameStart[sprite.frames] = static_cast<std::uint32_t>(sprite.drawOrder.size());
}

}  // namespace

FrameStatus ReadAsepriteStructure(std::span<const std::uint8_t> file, AsepriteSprite& sprite) {
  sprite = {};
  Reading reading{sprite};
  std::span<const std::uint8_t> frameBytes;
  if (const FrameStatus status = ReadHeader(file, reading, frameBytes);
      status != FrameStatus::kOk) {
    return status;
  }
  FieldReader frames(frameBytes);
  for (std::uint32_t frame = 0; frame < sprite.frames; ++frame) {
    if (const FrameStatus status = ReadFrame(frames, frame, reading); status != FrameStatus::kOk) {
      return status;
    }
  }
  if (const FrameStatus status = ArrangeLayers(reading); status != FrameStatus::kOk) {
    return status;
  }
  ChoosePalette(reading);
  if (const FrameStatus status = LinkCels(reading); status != FrameStatus::kOk) {
    return status;
  }
  OrderCels(sprite);
  return FrameStatus::kOk;
}

}  // namespace kav
