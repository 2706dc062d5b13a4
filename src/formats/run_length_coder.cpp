// The row coder: one row of palette indices into run and single-pixel codes.
//
// Rows are scanned eight pixels at a time: runs end at the first byte that differs from the
// run's index, and stretches of single pixels end at the first run-coded index. Single
// pixels are copied as one block, since their code is the pixel itself.

#include <algorithm>
#include <bit>
#include <cstring>

#include "formats/run_length.h"

namespace kav {
namespace {

constexpr std::uint64_t kEveryByte = 0x0101010101010101;
constexpr std::uint64_t kEveryHighBit = 0x8080808080808080;
constexpr std::uint32_t kWord = 8;

std::uint64_t LoadWord(const std::uint8_t* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    word = __builtin_bswap64(word);  // byte 0 of the row in the lowest bits, as below
  }
  return word;
}

// High bits marking the zero bytes of `word`; the lowest mark is always a true zero byte
// (marks above it may be false).
constexpr std::uint64_t ZeroByteMarks(std::uint64_t word) {
  return (word - kEveryByte) & ~word & kEveryHighBit;
}

constexpr std::uint32_t FirstMarkedByte(std::uint64_t marks) {
  return static_cast<std::uint32_t>(std::countr_zero(marks)) / kWord;
}

bool IsBlankRow(std::span<const std::uint8_t> pixels) {
  std::size_t at = 0;
  for (; at + kWord <= pixels.size(); at += kWord) {
    if (LoadWord(pixels.data() + at) != ~std::uint64_t{0}) {
      return false;
    }
  }
  return std::all_of(pixels.begin() + static_cast<std::ptrdiff_t>(at), pixels.end(),
                     [](std::uint8_t p) { return p == kBlankIndex; });
}

// How many pixels of `index` there are from `from` on, before `end`.
std::uint32_t RunFrom(std::span<const std::uint8_t> pixels, std::uint32_t from, std::uint32_t end,
                      std::uint8_t index) {
  const std::uint64_t pattern = kEveryByte * index;
  std::uint32_t at = from;
  for (; at + kWord <= end; at += kWord) {
    const std::uint64_t differences = LoadWord(pixels.data() + at) ^ pattern;
    if (differences != 0) {
      return at + static_cast<std::uint32_t>(std::countr_zero(differences)) / kWord - from;
    }
  }
  while (at < end && pixels[at] == index) {
    ++at;
  }
  return at - from;
}

// The column of the first run-coded index from `from` on, or `end` when there is none. One
// index is searched for as a byte; two, eight pixels at a time.
std::uint32_t NextRunCoded(std::span<const std::uint8_t> pixels, std::uint32_t from,
                           std::uint32_t end, const RunCodedIndices& runCoded) {
  const std::uint8_t* row = pixels.data();
  const std::span<const std::uint8_t> indices = runCoded.Indices();
  if (indices.size() == 1) {
    const void* found = std::memchr(row + from, indices[0], end - from);
    return found == nullptr
               ? end
               : static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(found) - row);
  }
  std::uint32_t at = from;
  if (indices.size() == 2) {
    const std::uint64_t first = kEveryByte * indices[0];
    const std::uint64_t second = kEveryByte * indices[1];
    for (; at + kWord <= end; at += kWord) {
      const std::uint64_t word = LoadWord(row + at);
      const std::uint64_t marks = ZeroByteMarks(word ^ first) | ZeroByteMarks(word ^ second);
      if (marks != 0) {
        return at + FirstMarkedByte(marks);
      }
    }
  }
  while (at < end && !runCoded.Contains(row[at])) {
    ++at;
  }
  return at;
}

// Appends codes to a row's output, which the caller sized for the longest possible row.
class RowWriter {
 public:
  explicit RowWriter(std::span<std::uint8_t> out) : out_(out) {}
  void EmitRun(std::uint8_t index, std::uint32_t count) {
    out_[length_++] = index;
    out_[length_++] = static_cast<std::uint8_t>(count);
  }
  void EmitSinglePixels(std::span<const std::uint8_t> pixels) {
    std::copy(pixels.begin(), pixels.end(), out_.subspan(length_, pixels.size()).begin());
    length_ += pixels.size();
  }
  std::size_t length() const { return length_; }

 private:
  std::span<std::uint8_t> out_;
  std::size_t length_ = 0;
};

// The codes of columns [begin, end) of one segment.
void CodeSegment(std::span<const std::uint8_t> pixels, std::uint32_t begin, std::uint32_t end,
                 const RunCodedIndices& runCoded, RowWriter& writer) {
  for (std::uint32_t column = begin; column < end;) {
    const std::uint8_t index = pixels[column];
    if (runCoded.Contains(index)) {
      const std::uint32_t count = RunFrom(pixels, column, end, index);
      writer.EmitRun(index, count);
      column += count;
    } else {
      const std::uint32_t next = NextRunCoded(pixels, column, end, runCoded);
      writer.EmitSinglePixels(pixels.subspan(column, next - column));
      column = next;
    }
  }
}

}  // namespace

std::size_t CodeRow(std::span<const std::uint8_t> pixels, const RunCodedIndices& runCoded,
                    std::span<std::uint8_t> out, std::span<std::uint32_t> segmentStarts) {
  const auto width = static_cast<std::uint32_t>(pixels.size());
  const std::uint32_t segments = SegmentCountFor(width);
  if (out.size() < MaxCodedRowBytes(width) || segmentStarts.size() < segments) {
    return 0;  // the caller did not size the buffers for this row
  }
  RowWriter writer(out);
  if (IsBlankRow(pixels)) {
    writer.EmitRun(kBlankIndex, kBlankIndex);  // the row marker 255, 255
    std::fill_n(segmentStarts.begin(), segments, 0u);
    return writer.length();
  }
  // No code crosses a segment boundary, so each segment is coded on its own.
  for (std::uint32_t s = 0; s < segments; ++s) {
    segmentStarts[s] = static_cast<std::uint32_t>(writer.length());
    const std::uint32_t begin = s * kSegmentWidth;
    CodeSegment(pixels, begin, std::min(begin + kSegmentWidth, width), runCoded, writer);
  }
  return writer.length();
}

}  // namespace kav
