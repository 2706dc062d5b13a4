#pragma once
// Benchmark pictures: 8-bit BMP and palette PNG files in memory with content like real sprites.

#include <cstdint>
#include <vector>

namespace kav::bench {

enum class Content {
  kSprite,       // large areas of 255, shapes, runs of 255 and 250 across segment boundaries
  kNoise,        // random indices, a few of them 255 and 250
  kAlternating,  // 255 and another index in turn: the longest coding
};

// A whole BMP file (40-byte info header, 256 colours, rows bottom first).
std::vector<std::uint8_t> MakeBenchBmp(std::uint32_t width, std::uint32_t height, Content content);

// The same picture as an RLE8 BMP: runs of three or more pixels as runs, the stretches between
// them as absolute blocks, an end of line after every row.
std::vector<std::uint8_t> MakeBenchRle8Bmp(std::uint32_t width, std::uint32_t height,
                                           Content content);

// The same picture as a palette PNG of 8 bits, not interlaced, with libpng's default
// compression and filters; its PLTE holds the BMP's 256 entries.
std::vector<std::uint8_t> MakeBenchPng(std::uint32_t width, std::uint32_t height, Content content);

// The same picture as an RGBA PNG of 8 bits a sample, as art tools export sprites: index 255
// transparent (alpha 0), every other pixel its palette colour, opaque; at most 255 colours.
std::vector<std::uint8_t> MakeBenchRgbaPng(std::uint32_t width, std::uint32_t height,
                                           Content content);

// An animated GIF: `frames` frames each covering the screen with the sprite content (shifted
// 16 pixels left each frame), index 255 transparent, disposal "leave"; with `localTables`,
// every 8th frame has a colour table of its own (so the frames are composed in RGBA), without
// them all use the global table (a palette input).
std::vector<std::uint8_t> MakeBenchGif(std::uint32_t width, std::uint32_t height,
                                       std::uint32_t frames, bool localTables);

}  // namespace kav::bench
