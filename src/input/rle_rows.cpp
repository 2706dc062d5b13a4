#include <algorithm>

#include "input/pixel_decoders.h"

namespace kav {
namespace {

// A code is two bytes: a count of 1 to 255 with the pixel value(s) to repeat, or 0 and one of
// these escapes; any other second byte starts an absolute block of that many pixels, padded to
// a 16-bit boundary.
constexpr std::uint8_t kEscape = 0;
constexpr std::uint8_t kEndOfLine = 0;
constexpr std::uint8_t kEndOfBitmap = 1;
constexpr std::uint8_t kDelta = 2;

enum class Step { kGoOn, kEnd, kDamage };

// The cursor over the rows. It only moves forward (right along a row, or to a later row), so
// the bytes it passes without placing a pixel (skipped pixels, the rest of a row, padding) are
// zeroed once, on the way to the next pixel placed or at the end.
class RowCursor {
 public:
  explicit RowCursor(const DecodedRows& rows) : rows_(rows) {}

  bool OnPicture() const { return y_ < rows_.rowCount; }

  // Room for up to `count` pixels from the cursor on, in its row (past the right edge they are
  // dropped); the cursor moves past them. Only on the picture.
  std::span<std::uint8_t> Place(std::uint32_t count) {
    const std::uint32_t kept = std::min(count, rows_.width - x_);
    const std::uint64_t at = y_ * rows_.stride + x_;
    ZeroUpTo(at);
    filled_ = at + kept;
    x_ += kept;
    return rows_.bytes.subspan(static_cast<std::size_t>(at), kept);
  }

  void NextLine() {
    x_ = 0;
    ++y_;
  }

  // Moves right and down; landing on column 0 just below the last row ends the picture.
  Step Move(std::uint32_t right, std::uint32_t down) {
    const std::uint64_t x = std::uint64_t{x_} + right;
    const std::uint64_t y = y_ + down;
    if (x > rows_.width || y > rows_.rowCount || (y == rows_.rowCount && x != 0)) {
      return Step::kDamage;
    }
    x_ = static_cast<std::uint32_t>(x);
    y_ = y;
    return y == rows_.rowCount ? Step::kEnd : Step::kGoOn;
  }

  void Finish() { ZeroUpTo(rows_.bytes.size()); }

 private:
  void ZeroUpTo(std::uint64_t end) {
    const std::uint64_t to = std::min<std::uint64_t>(end, rows_.bytes.size());
    if (to > filled_) {
      std::fill(rows_.bytes.begin() + static_cast<std::ptrdiff_t>(filled_),
                rows_.bytes.begin() + static_cast<std::ptrdiff_t>(to), std::uint8_t{0});
      filled_ = to;
    }
  }

  const DecodedRows& rows_;
  std::uint32_t x_ = 0;  // at most the width
  std::uint64_t y_ = 0;  // stored row, counted from the bottom; past the last after its end
  std::uint64_t filled_ = 0;
};

// The nibble of RLE4 pixel `i` of a run or block: high first.
std::uint8_t NibbleOf(std::uint8_t byte, std::size_t i) {
  return static_cast<std::uint8_t>(i % 2 == 0 ? byte >> 4 : byte & 0x0F);
}

class RleDecoder {
 public:
  RleDecoder(std::span<const std::uint8_t> stream, unsigned bits, const DecodedRows& rows)
      : stream_(stream), bits_(bits), cursor_(rows) {}

  bool Decode() {
    Step step = Step::kGoOn;
    while (step == Step::kGoOn) {
      step = NextCode();
    }
    if (step == Step::kDamage) {
      return false;
    }
    cursor_.Finish();
    return true;
  }

 private:
  std::size_t Left() const { return stream_.size() - at_; }

  Step NextCode() {
    if (Left() < 2) {
      return Step::kEnd;  // the data ends, maybe with a lone count or escape byte
    }
    const std::uint8_t count = stream_[at_];
    const std::uint8_t value = stream_[at_ + 1];
    at_ += 2;
    if (count != kEscape) {
      return Run(count, value);
    }
    switch (value) {
      case kEndOfLine:
        cursor_.NextLine();
        return Step::kGoOn;
      case kEndOfBitmap:
        return Step::kEnd;
      case kDelta:
        return Delta();
      default:
        return Absolute(value);
    }
  }

  Step Run(std::uint8_t count, std::uint8_t value) {
    if (!cursor_.OnPicture()) {
      return Step::kDamage;
    }
    const std::span<std::uint8_t> pixels = cursor_.Place(count);
    if (bits_ == 8 || NibbleOf(value, 0) == NibbleOf(value, 1)) {
      std::fill(pixels.begin(), pixels.end(), bits_ == 8 ? value : NibbleOf(value, 0));
    } else {
      for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = NibbleOf(value, i);
      }
    }
    return Step::kGoOn;
  }

  Step Delta() {
    if (Left() < 2) {
      return Step::kEnd;
    }
    const std::uint8_t right = stream_[at_];
    const std::uint8_t down = stream_[at_ + 1];
    at_ += 2;
    return cursor_.Move(right, down);
  }

  // `count` pixels (3 to 255) stored as they are; a block the data cuts short places what it
  // holds and ends the picture.
  Step Absolute(std::uint8_t count) {
    const std::size_t blockBytes = bits_ == 8 ? count : (count + 1U) / 2;
    const std::size_t heldBytes = std::min(blockBytes, Left());
    const std::size_t held = bits_ == 8 ? heldBytes : std::min<std::size_t>(count, 2 * heldBytes);
    if (held == 0) {
      return Step::kEnd;
    }
    if (!cursor_.OnPicture()) {
      return Step::kDamage;
    }
    const std::span<const std::uint8_t> block = stream_.subspan(at_, heldBytes);
    const std::span<std::uint8_t> pixels = cursor_.Place(static_cast<std::uint32_t>(held));
    if (bits_ == 8) {
      std::copy_n(block.begin(), pixels.size(), pixels.begin());
    } else {
      for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = NibbleOf(block[i / 2], i);
      }
    }
    at_ += std::min(blockBytes + blockBytes % 2, Left());
    return held < count ? Step::kEnd : Step::kGoOn;
  }

  std::span<const std::uint8_t> stream_;
  std::size_t at_ = 0;
  unsigned bits_;
  RowCursor cursor_;
};

}  // namespace

bool DecodeRle(std::span<const std::uint8_t> stream, unsigned bits, const DecodedRows& rows) {
  return RleDecoder(stream, bits, rows).Decode();
}

}  // namespace kav
