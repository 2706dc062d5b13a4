#include "input/bmp_reader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <span>
#include <utility>

#include "input/bmp_header.h"
#include "input/pixel_decoders.h"
#include "input/png_reader.h"
#include "platform/file.h"
#include "platform/format_text.h"

namespace kav {
namespace {

constexpr std::string_view kCannotOpenText = "Cannot open this file";
constexpr std::string_view kNotBmpText = "This is not a BMP file";
constexpr std::string_view kNot8BitText = "This BMP file not 8 bit";
constexpr std::string_view kOutOfMemoryText = "Out of memory";
constexpr std::string_view kCompressedText = "This BMP file is compressed";
constexpr std::string_view kPngNoPaletteText = "This PNG file has no palette";
constexpr std::string_view kPngCorruptText = "This PNG file is corrupt";

std::string_view MessageFor(std::int16_t code) {
  switch (code) {
    case kBmpCannotOpen:
      return kCannotOpenText;
    case kBmpNot8Bit:
      return kNot8BitText;
    case kBmpNotBmp:
      return kNotBmpText;
    case kBmpOutOfMemory:
      return kOutOfMemoryText;
    case kBmpCompressed:
      return kCompressedText;
    case kPngNoPalette:
      return kPngNoPaletteText;
    case kPngCorrupt:
      return kPngCorruptText;
    default:
      return kBmpCorruptText;
  }
}

// The kinds of input the reader takes, told apart by their first bytes.
enum class InputKind { kBmp, kPng, kUnknown };

constexpr std::size_t kLongestSignature = std::max(kBmpSignatureSize, kPngSignatureSize);

// The one place that decides what an input is.
InputKind RecogniseInput(std::span<const std::uint8_t> first) {
  if (first.size() >= kBmpSignatureSize && first[0] == 'B' && first[1] == 'M') {
    return InputKind::kBmp;
  }
  if (HasPngSignature(first)) {
    return InputKind::kPng;
  }
  return InputKind::kUnknown;
}

bool ReadExactly(ByteSource& source, std::span<std::uint8_t> into) {
  const std::optional<std::size_t> got = source.Read(into);
  return got.has_value() && *got == into.size();
}

// Below this size reading costs less than setting up a mapping.
constexpr std::uint64_t kSmallestMappedBlock = std::uint64_t{1} << 20;

// ---- Raw 8-bit rows: handed over as the file holds them, up to bfSize.

// The common layout is one contiguous run of file bytes from offset 54: read it in one go.
bool IsCommonLayout(const BmpLayout& layout) {
  return layout.pixels == BmpPixels::kRaw8 && layout.paletteOffset == kBmpHeadersSize &&
         layout.paletteEntries == kBmpPaletteEntries &&
         layout.paletteEntrySize == kBmpPaletteEntrySize &&
         layout.rowsOffset == kBmpHeadersSize + kBmpPaletteBytes;
}

// Palette entries of 3 or 4 bytes into the block's 1024 bytes of 4-byte entries; entries the
// file does not have are black.
bool ReadPalette(ByteSource& source, const BmpLayout& layout, std::span<std::uint8_t> palette) {
  std::fill(palette.begin(), palette.end(), std::uint8_t{0});
  const auto entries = static_cast<std::size_t>(layout.paletteEntries);
  const auto entrySize = static_cast<std::size_t>(layout.paletteEntrySize);
  if (!source.Seek(layout.paletteOffset)) {
    return false;
  }
  if (entrySize == kBmpPaletteEntrySize) {
    return ReadExactly(source, palette.first(entries * entrySize));
  }
  std::array<std::uint8_t, kBmpPaletteEntries * 3> stored{};
  if (!ReadExactly(source, std::span(stored).first(entries * entrySize))) {
    return false;
  }
  for (std::size_t i = 0; i < entries; ++i) {
    std::copy_n(stored.begin() + static_cast<std::ptrdiff_t>(i * entrySize), entrySize,
                palette.begin() + static_cast<std::ptrdiff_t>(i * kBmpPaletteEntrySize));
  }
  return true;
}

// A large file in the common layout is mapped instead of read: its cached pages become the
// block, with no copy.
std::int16_t LoadRaw8(ByteSource& source, const BmpHeader& header, const BmpLayout& layout,
                      MemoryBudget& budget, MemoryBlock& block) {
  // Bounded by bfSize, which the file has been shown to hold.
  const auto rowsBytes = static_cast<std::size_t>(header.fileSize - layout.rowsOffset);
  const std::size_t blockSize = kBmpPaletteBytes + rowsBytes;
  // A mapped picture's pages are resident too once the writers have read them.
  MemoryReservation reservation = budget.Reserve(blockSize);
  if (!reservation) {
    return kBmpOutOfMemory;
  }
  const bool common = IsCommonLayout(layout);
  block = common && source.CanMap() && blockSize >= kSmallestMappedBlock
              ? source.Map(kBmpHeadersSize, blockSize)
              : MemoryBlock::Allocate(blockSize);
  if (!block) {
    return kBmpOutOfMemory;
  }
  block.Hold(std::move(reservation));
  if (block.IsMapped()) {
    return kBmpOk;
  }
  const bool read = common ? source.Seek(kBmpHeadersSize) && ReadExactly(source, block.bytes())
                           : ReadPalette(source, layout, block.bytes().first(kBmpPaletteBytes)) &&
                                 source.Seek(layout.rowsOffset) &&
                                 ReadExactly(source, block.bytes().subspan(kBmpPaletteBytes));
  return read ? kBmpOk : kBmpCorrupt;
}

// ---- Decoded pixels: packed and RLE rows become 8-bit rows in a block of their own.

// The file's bytes [offset, offset + length): mapped when large, else read.
std::int16_t LoadStored(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                        MemoryBlock& stored) {
  const auto size = static_cast<std::size_t>(length);
  if (source.CanMap() && length >= kSmallestMappedBlock) {
    stored = source.Map(offset, size);
    if (stored) {
      return kBmpOk;
    }
  }
  stored = MemoryBlock::Allocate(size);
  if (!stored) {
    return kBmpOutOfMemory;
  }
  return source.Seek(offset) && ReadExactly(source, stored.bytes()) ? kBmpOk : kBmpCorrupt;
}

// The block for the palette and the decoded rows, reserved in `budget` first: width and
// height below 2^32 keep the product far from wrapping in 64 bits.
std::int16_t AllocateDecoded(const BmpLayout& layout, MemoryBudget& budget, MemoryBlock& block) {
  const std::uint64_t size = kBmpPaletteBytes + BmpStride(layout.width) * layout.rowCount;
  MemoryReservation reservation = size <= SIZE_MAX ? budget.Reserve(size) : MemoryReservation();
  if (!reservation) {
    return kBmpOutOfMemory;
  }
  block = MemoryBlock::Allocate(static_cast<std::size_t>(size));
  block.Hold(std::move(reservation));
  return block ? kBmpOk : kBmpOutOfMemory;
}

// False when the stored pixels are damaged; packed rows cannot be, once the layout fits.
bool DecodePixels(std::span<const std::uint8_t> stored, const BmpHeader& header,
                  const BmpLayout& layout, const DecodedRows& rows) {
  if (layout.pixels == BmpPixels::kPacked) {
    UnpackRows(stored, header.bitCount, rows);
    return true;
  }
  return DecodeRle(stored, header.bitCount, rows);
}

std::int16_t LoadDecoded(ByteSource& source, const BmpHeader& header, const BmpLayout& layout,
                         MemoryBudget& budget, MemoryBlock& block) {
  // Packed rows are as long as the layout says; an RLE stream runs to bfSize or the file's end.
  const std::uint64_t storedBytes = layout.pixels == BmpPixels::kPacked
                                        ? layout.storedStride * layout.rowCount
                                        : layout.dataEnd - layout.rowsOffset;
  MemoryBlock stored;
  std::int16_t code = AllocateDecoded(layout, budget, block);
  if (code == kBmpOk) {
    code = LoadStored(source, layout.rowsOffset, storedBytes, stored);
  }
  if (code == kBmpOk && !ReadPalette(source, layout, block.bytes().first(kBmpPaletteBytes))) {
    code = kBmpCorrupt;
  }
  if (code != kBmpOk) {
    return code;
  }
  const bool sound = DecodePixels(stored.bytes(), header, layout,
                                  {.bytes = block.bytes().subspan(kBmpPaletteBytes),
                                   .width = layout.width,
                                   .rowCount = layout.rowCount,
                                   .stride = BmpStride(layout.width)});
  // A mapped file that shrank while it was decoded read as zeros.
  return sound && !stored.Damaged() ? kBmpOk : kBmpCorrupt;
}

// ---- The steps, in order; the first refusal counts.

std::int16_t ReadBmp(ByteSource& source, MemoryBudget& budget, LoadedBitmap& bitmap) {
  BmpHeader header;
  std::int16_t code = ReadBmpHeader(source, header);
  if (code == kBmpOk) {
    code = CheckBmpHeader(header);
  }
  if (code != kBmpOk) {
    return code;
  }
  const BmpLayout layout = BmpLayoutOf(header, source.Length());
  if (!BmpLayoutFits(header, layout, source.Length())) {
    return kBmpCorrupt;
  }
  MemoryBlock block;
  code = layout.pixels == BmpPixels::kRaw8 ? LoadRaw8(source, header, layout, budget, block)
                                           : LoadDecoded(source, header, layout, budget, block);
  if (code != kBmpOk) {
    return code;
  }
  bitmap.block = std::move(block);
  bitmap.width = header.width;
  bitmap.height = header.height;
  return kBmpOk;
}

// Shows the message of `code`, with what the system said when a call failed with `error`
// (not 0).
std::int16_t Fail(MessageBoxes& messages, std::int16_t code, int error = 0) {
  messages.ShowError(MessageOwner::kNone, MessageFor(code),
                     error != 0 ? SystemErrorText(error) : "");
  return code;
}

// Remembers why the last read failed, so the message can say it: a failing disk is told
// apart from a file that is too short.
class ReadErrorRecorder final : public ByteSource {
 public:
  explicit ReadErrorRecorder(ByteSource& source) : source_(source) {}
  std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override {
    std::optional<std::size_t> got = source_.Read(buffer);
    if (!got) {
      error_ = errno;
    }
    return got;
  }
  bool Seek(std::uint64_t offset) override { return source_.Seek(offset); }
  std::uint64_t Length() const override { return source_.Length(); }
  MemoryBlock Map(std::uint64_t offset, std::size_t length) override {
    return source_.Map(offset, length);
  }
  bool CanMap() const override { return source_.CanMap(); }
  int Error() const { return error_; }

 private:
  ByteSource& source_;
  int error_ = 0;
};

}  // namespace

std::int16_t ReadBmp8(ByteSource& source, MessageBoxes& messages, LoadedBitmap& bitmap,
                      MemoryBudget& budget) {
  bitmap.block.Release();
  ReadErrorRecorder recorded(source);
  std::array<std::uint8_t, kLongestSignature> first{};
  const std::optional<std::size_t> got = recorded.Seek(0) ? recorded.Read(first) : std::nullopt;
  std::int16_t code = kBmpNotBmp;
  switch (RecogniseInput(std::span(first).first(got.value_or(0)))) {
    case InputKind::kBmp:
      code = ReadBmp(recorded, budget, bitmap);
      break;
    case InputKind::kPng:
      code = ReadPng(recorded, budget, bitmap);
      break;
    case InputKind::kUnknown:
      break;
  }
  return code == kBmpOk ? kBmpOk : Fail(messages, code, recorded.Error());
}

std::int16_t ReadBmp8(const std::string& path, MessageBoxes& messages, LoadedBitmap& bitmap) {
  bitmap.block.Release();
  InputFile file;
  // A failed open leaves errno as its failing call set it; refusing what is not a regular
  // file calls nothing that fails, and the cause stays empty.
  errno = 0;
  if (!file.Open(path)) {
    return Fail(messages, kBmpCannotOpen, errno);
  }
  return ReadBmp8(file, messages, bitmap);
}

}  // namespace kav
