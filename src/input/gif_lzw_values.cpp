#include "input/gif_lzw_values.h"

#include <algorithm>

namespace kav {
namespace {

constexpr int kSmallestCodeSize = 2;
constexpr int kLargestCodeSize = 8;

}  // namespace

GifLzwValues::GifLzwValues(int minimumCodeSize, std::uint64_t pixels)
    : minimumBits_(static_cast<std::uint32_t>(
          std::clamp(minimumCodeSize, kSmallestCodeSize, kLargestCodeSize))),
      clearCode_(1U << minimumBits_),
      pixels_(pixels),
      lost_(minimumCodeSize < kSmallestCodeSize || minimumCodeSize > kLargestCodeSize) {
  std::fill_n(lengths_.begin(), clearCode_, std::uint16_t{1});
  Restart();
}

void GifLzwValues::Restart() {
  bits_ = minimumBits_ + 1;
  nextFree_ = clearCode_ + 2;  // past the clear and end codes
  previous_ = kNoCode;
}

void GifLzwValues::Add(std::span<const std::uint8_t> block) {
  for (const std::uint8_t byte : block) {
    if (lost_ || given_ == pixels_) {
      return;  // what follows the last pixel is not read
    }
    pending_ |= std::uint32_t{byte} << pendingBits_;
    pendingBits_ += 8;
    while (pendingBits_ >= bits_ && !lost_ && given_ < pixels_) {
      const std::uint32_t code = pending_ & ((1U << bits_) - 1);
      pending_ >>= bits_;
      pendingBits_ -= bits_;
      Take(code);
    }
  }
}

void GifLzwValues::Take(std::uint32_t code) {
  if (code == clearCode_) {
    Restart();
    return;
  }
  std::uint32_t length = 0;
  if (code < clearCode_) {
    values_[code] = true;
    length = 1;
  } else if (code > clearCode_ + 1 && code < nextFree_) {
    length = lengths_[code];
  } else if (code == nextFree_ && previous_ != kNoCode) {
    length = lengths_[previous_] + 1U;  // the previous string and its own first value
  } else {
    lost_ = true;  // the end code before the last pixel, or a code that names nothing
    return;
  }
  if (previous_ != kNoCode && nextFree_ < kTableCodes) {
    lengths_[nextFree_] = static_cast<std::uint16_t>(lengths_[previous_] + 1U);
    ++nextFree_;
    if (nextFree_ == 1U << bits_ && bits_ < kMaxCodeBits) {
      ++bits_;
    }
  }
  previous_ = code;
  given_ = std::min(pixels_, given_ + length);
}

}  // namespace kav
