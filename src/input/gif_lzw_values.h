#pragma once
// Which pixel values a GIF frame's LZW data gives, found without making its pixels.
//
// Every string in the code table is a string given before it plus the first value of the
// string given next, so every value given is a value some literal code (below the clear code)
// gave first: the values of a frame are those of the literal codes read until its pixels are
// all given. Reading the codes alone costs a fraction of decoding them.
//
// Codes are read least significant bit first, from (minimum code size + 1) bits, one bit more
// each time the next free code reaches a power of two, at most 12; a clear code starts the
// table again; a full table (4096 codes) takes no more strings until a clear code. The data
// is followed only as far as every decoder agrees on it: a code that names no string yet
// (other than the next free code, right after another code), an end code before the last
// pixel, or data that ends early leave the values unknown, and the caller decodes the frame.

#include <array>
#include <cstdint>
#include <span>

namespace kav {

class GifLzwValues {
 public:
  static constexpr std::size_t kValues = 256;

  // `minimumCodeSize` as the frame's data starts with it; `pixels` the frame's width * height.
  GifLzwValues(int minimumCodeSize, std::uint64_t pixels);

  // The next data sub-block's bytes (without its length byte).
  void Add(std::span<const std::uint8_t> block);
  // After the last sub-block: whether every pixel was followed; then Values() says which
  // values the pixels take.
  bool Known() const { return !lost_ && given_ == pixels_; }
  const std::array<bool, kValues>& Values() const { return values_; }

 private:
  static constexpr unsigned kMaxCodeBits = 12;
  static constexpr std::uint32_t kTableCodes = 1U << kMaxCodeBits;
  static constexpr std::uint32_t kNoCode = kTableCodes;

  void Take(std::uint32_t code);
  void Restart();

  std::uint32_t minimumBits_;
  std::uint32_t clearCode_;
  std::uint64_t pixels_;
  std::uint64_t given_ = 0;
  bool lost_ = false;
  std::uint32_t bits_ = 0;      // of the code being read
  std::uint32_t nextFree_ = 0;  // the code the next string takes
  std::uint32_t previous_ = kNoCode;
  std::uint32_t pending_ = 0;  // bits read towards the next code, low first
  std::uint32_t pendingBits_ = 0;
  std::array<std::uint16_t, kTableCodes> lengths_{};  // of each code's string
  std::array<bool, kValues> values_{};
};

}  // namespace kav
