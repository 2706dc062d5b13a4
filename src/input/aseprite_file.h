#pragma once
// The structure of an Aseprite file (.ase, .aseprite), read at once without decoding any
// pixels: layers, cels, palette and tags. aseprite_frames.h composes frames from it.
//
// Every number is little-endian. The file is a 128-byte header, then its frames:
//
//   offset size  header field
//   0      4     file size (must not exceed the bytes there are; what follows is ignored)
//   4      2     magic 0xA5E0
//   6      2     frames (at least 1)
//   8      2     width, 10: height (neither 0)
//   12     2     colour depth: 32 RGBA, 16 grayscale (value, alpha), 8 indexed
//   14     4     flags: 1 = layer opacity is valid (otherwise every layer is opaque)
//   28     1     transparent index (indexed sprites): transparent in all but the background
//   32     2     number of colours (0 means 256), for a sprite without a palette chunk
//
// A frame is a 16-byte header (bytes in the frame with the header, magic 0xF1FA at 4, the
// chunk count at 6, or at 12 when that is not 0) and its chunks, each a 4-byte size (with the
// 6-byte chunk header), a 2-byte type and its data. Chunks read here (offsets in the data):
//
//   0x2004 layer    0 flags (1 visible, 8 background, 64 reference), 2 type (0 image,
//                   1 group, 2 tilemap), 4 child level, 12 opacity; layers are numbered in
//                   the order of their chunks, each inside the last group one level up
//   0x2005 cel      0 layer, 2 x, 4 y (signed), 6 opacity, 7 type, 9 z-index (signed), then
//                   from 16: type 0 raw: width, height, pixels row by row; type 1 linked:
//                   the frame whose cel on the same layer it shows; type 2 compressed:
//                   width, height, the pixels as a zlib stream; type 3 tilemap (skipped)
//   0x2019 palette  0 size, 4 first index, 8 last index, from 20 the entries: 2 flags
//                   (1 = a name follows), red, green, blue, alpha
//   0x0004, 0x0011  old palettes (ignored when a 0x2019 chunk is there): a packet count,
//                   then packets of entries to skip, a count (0 means 256) and that many
//                   red, green, blue of 0 to 255 (0x0004) or 0 to 63 (0x0011)
//   0x2018 tags     0 count, from 10 the tags: from frame, to frame, 13 bytes, a name
//
// Strings are a 2-byte length and that many bytes. Cel extras, colour profiles, external
// files, masks, paths, user data, slices and tilesets draw nothing and are passed over; a
// chunk of another type is skipped and noted.

#include <cstdint>
#include <span>
#include <vector>

#include "input/frames.h"

namespace kav {

inline constexpr std::size_t kAsepriteHeaderSize = 128;
inline constexpr std::size_t kAsepriteMagicOffset = 4;
inline constexpr std::uint16_t kAsepriteMagic = 0xA5E0;

enum class AsepriteMode : std::uint8_t { kIndexed, kGrayscale, kRgba };

struct AsepriteLayer {
  bool drawn = false;          // an image layer that is visible, with every group above it
  bool background = false;     // its pixels of the transparent index are drawn
  std::uint8_t opacity = 255;  // its own, times that of every group above it
};

struct AsepriteCel {
  std::uint32_t frame = 0;
  std::uint16_t layer = 0;
  std::int16_t zIndex = 0;
  std::uint16_t type = 0;
  std::uint32_t picture = 0;  // the cel whose pixels it shows: itself, or a linked cel's
  // Of cels with pixels (raw or compressed):
  std::int16_t x = 0, y = 0;
  std::uint8_t opacity = 255;
  std::uint16_t width = 0, height = 0;
  std::span<const std::uint8_t> data;  // the raw pixels, or the zlib stream
};

inline constexpr std::uint16_t kRawCel = 0;
inline constexpr std::uint16_t kLinkedCel = 1;
inline constexpr std::uint16_t kCompressedCel = 2;

struct AsepriteSprite {
  std::uint32_t width = 0, height = 0, frames = 0;
  AsepriteMode mode = AsepriteMode::kRgba;
  std::uint8_t transparentIndex = 0;
  std::vector<AsepriteLayer> layers;
  std::vector<AsepriteCel> cels;  // by frame, then layer
  // Per frame, the cels drawn (on drawn layers), bottom first: drawOrder from
  // frameStart[f] up to frameStart[f + 1], each an index into `cels`.
  std::vector<std::uint32_t> drawOrder;
  std::vector<std::uint32_t> frameStart;
  FramePalette palette;  // entries as the file gives them
  std::vector<FrameTag> tags;
  bool skippedContent = false;

  std::size_t PixelBytes() const {
    return mode == AsepriteMode::kRgba ? 4 : mode == AsepriteMode::kGrayscale ? 2 : 1;
  }
};

// Reads the structure of `file`; kAsepriteCorrupt when it is damaged. The cels point into
// `file`.
FrameStatus ReadAsepriteStructure(std::span<const std::uint8_t> file, AsepriteSprite& sprite);

}  // namespace kav
