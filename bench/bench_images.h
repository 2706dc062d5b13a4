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

}  // namespace kav::bench
