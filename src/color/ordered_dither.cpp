#include "color/ordered_dither.h"

#include <algorithm>
#include <array>

namespace kav {
namespace {

constexpr std::uint32_t kBayerSide = 8;
constexpr std::array<std::array<std::uint8_t, kBayerSide>, kBayerSide> kBayer{{
    {0, 32, 8, 40, 2, 34, 10, 42},
    {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},
    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},
    {63, 31, 55, 23, 61, 29, 53, 21},
}};

// v + (M - 31.5) / 2 in quarters is 4v + 2M - 63: always odd, so the sum is never halfway
// between two integers and rounding to the nearest is adding a half (2 quarters) and taking
// the floor.
constexpr int kQuarters = 4;
constexpr int kMatrixCentreTimesTwo = 63;  // 2 x 31.5
constexpr int kHalfInQuarters = 2;
constexpr int kChannelMax = 255;
// Whole units added before dividing so that the sum is never negative (it falls at most
// 15.75 below zero), then taken off again.
constexpr int kBias = 16;

}  // namespace

std::uint8_t DitherChannel(std::uint8_t value, std::uint32_t x, std::uint32_t y) {
  const int matrix = kBayer[y % kBayerSide][x % kBayerSide];
  const int quarters = kQuarters * value + 2 * matrix - kMatrixCentreTimesTwo;
  const int rounded = (quarters + kHalfInQuarters + kBias * kQuarters) / kQuarters - kBias;
  return static_cast<std::uint8_t>(std::clamp(rounded, 0, kChannelMax));
}

Rgb24 DitherColour(Rgb24 colour, std::uint32_t x, std::uint32_t y) {
  return MakeRgb24(DitherChannel(static_cast<std::uint8_t>(colour >> 16), x, y),
                   DitherChannel(static_cast<std::uint8_t>(colour >> 8), x, y),
                   DitherChannel(static_cast<std::uint8_t>(colour), x, y));
}

}  // namespace kav
