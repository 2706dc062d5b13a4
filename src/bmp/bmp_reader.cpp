#include "bmp/bmp_reader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>

#include "platform/file.h"
#include "platform/format_text.h"

namespace kav {
namespace {

constexpr std::string_view kCannotOpenText = "Cannot open this file";
constexpr std::string_view kNotBmpText = "This is not a BMP file";
constexpr std::string_view kNot8BitText = "This BMP file not 8 bit";
constexpr std::string_view kOutOfMemoryText = "Out of memory";
constexpr std::string_view kCompressedText = "This BMP file is compressed";

constexpr std::uint16_t kBitsPerPixel = 8;
constexpr std::uint32_t kUncompressed = 0;

using HeaderBytes = std::array<std::uint8_t, kBmpHeadersSize>;

std::uint16_t Le16(const HeaderBytes& header, std::size_t offset) {
  return static_cast<std::uint16_t>(header[offset] | header[offset + 1] << 8);
}

std::uint32_t Le32(const HeaderBytes& header, std::size_t offset) {
  return std::uint32_t{header[offset]} | std::uint32_t{header[offset + 1]} << 8 |
         std::uint32_t{header[offset + 2]} << 16 | std::uint32_t{header[offset + 3]} << 24;
}

// The fields the reader looks at, taken from the first 54 bytes.
struct BmpHeader {
  std::uint32_t fileSize = 0;
  std::uint32_t rowsOffset = 0;
  std::uint32_t infoSize = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t bitCount = 0;
  std::uint32_t compression = 0;
  std::uint32_t coloursUsed = 0;
};

BmpHeader ParseHeader(const HeaderBytes& bytes) {
  BmpHeader header;
  header.fileSize = Le32(bytes, kBfSizeOffset);
  header.rowsOffset = Le32(bytes, kBfOffBitsOffset);
  header.infoSize = Le32(bytes, kBiSizeOffset);
  header.width = static_cast<std::int32_t>(Le32(bytes, kBiWidthOffset));
  header.height = static_cast<std::int32_t>(Le32(bytes, kBiHeightOffset));
  header.bitCount = Le16(bytes, kBiBitCountOffset);
  header.compression = Le32(bytes, kBiCompressionOffset);
  header.coloursUsed = Le32(bytes, kBiClrUsedOffset);
  return header;
}

// Where palette and rows lie in the file; all sizes in 64 bits so nothing can wrap.
struct BmpLayout {
  std::uint64_t paletteOffset = 0;
  std::uint64_t paletteBytes = 0;
  std::uint64_t rowsOffset = 0;
  std::uint64_t rowsBytes = 0;  // from bfOffBits up to bfSize: the rows and what follows
};

BmpLayout LayoutOf(const BmpHeader& header) {
  BmpLayout layout;
  layout.paletteOffset = kBmpFileHeaderSize + std::uint64_t{header.infoSize};
  const std::uint64_t entries =
      header.coloursUsed == 0 ? kBmpPaletteEntries
                              : std::min<std::uint64_t>(header.coloursUsed, kBmpPaletteEntries);
  layout.paletteBytes = entries * kBmpPaletteEntrySize;
  layout.rowsOffset = header.rowsOffset;
  layout.rowsBytes = header.fileSize >= header.rowsOffset ? header.fileSize - header.rowsOffset : 0;
  return layout;
}

// Whether palette and rows lie inside the headers' end, bfSize and the file.
bool LayoutFits(const BmpHeader& header, const BmpLayout& layout, std::uint64_t fileLength) {
  const std::uint64_t end = std::min<std::uint64_t>(header.fileSize, fileLength);
  const std::uint64_t rowCount =
      static_cast<std::uint64_t>(std::llabs(std::int64_t{header.height}));
  const std::uint64_t pixelBytes = BmpStride(static_cast<std::uint32_t>(header.width)) * rowCount;
  return layout.paletteOffset + layout.paletteBytes <= end &&
         layout.rowsOffset >= layout.paletteOffset && layout.rowsOffset <= end &&
         pixelBytes <= end - layout.rowsOffset;
}

// The common layout is one contiguous run of file bytes from offset 54: read it in one go.
bool IsCommonLayout(const BmpLayout& layout) {
  return layout.paletteOffset == kBmpHeadersSize && layout.paletteBytes == kBmpPaletteBytes &&
         layout.rowsOffset == kBmpHeadersSize + kBmpPaletteBytes;
}

// Below this size reading costs less than setting up a mapping.
constexpr std::uint64_t kSmallestMappedBlock = std::uint64_t{1} << 20;

// A large file in the common layout is mapped instead of read: its cached pages become the
// block, with no copy.
bool ShouldMap(const ByteSource& source, const BmpLayout& layout) {
  return source.CanMap() && IsCommonLayout(layout) &&
         kBmpPaletteBytes + layout.rowsBytes >= kSmallestMappedBlock;
}

// Fills `into`; false at the end of the data or when reading failed, `error` then holding
// the errno of the failed read (0 at the end).
bool ReadExactly(ByteSource& source, std::span<std::uint8_t> into, int& error) {
  const std::optional<std::size_t> got = source.Read(into);
  error = got ? 0 : errno;
  return got.has_value() && *got == into.size();
}

bool ReadBlock(ByteSource& source, const BmpLayout& layout, MemoryBlock& block, int& error) {
  const std::span<std::uint8_t> palette = block.bytes().first(kBmpPaletteBytes);
  const std::span<std::uint8_t> rows = block.bytes().subspan(kBmpPaletteBytes);
  error = 0;
  if (IsCommonLayout(layout)) {
    return ReadExactly(source, block.bytes(), error);
  }
  std::fill(palette.begin(), palette.end(), std::uint8_t{0});
  return source.Seek(layout.paletteOffset) &&
         ReadExactly(source, palette.first(static_cast<std::size_t>(layout.paletteBytes)), error) &&
         source.Seek(layout.rowsOffset) && ReadExactly(source, rows, error);
}

// Shows `text`, with what the system said when a call failed with `error` (not 0).
std::int16_t Fail(MessageBoxes& messages, std::string_view text, std::int16_t code, int error = 0) {
  messages.ShowError(MessageOwner::kNone, text, error != 0 ? SystemErrorText(error) : "");
  return code;
}

}  // namespace

std::int16_t ReadBmp8(ByteSource& source, MessageBoxes& messages, LoadedBitmap& bitmap) {
  bitmap.block.Release();
  HeaderBytes bytes{};
  int error = 0;
  if (!source.Seek(0) || !ReadExactly(source, std::span(bytes).first(kBmpSignatureSize), error) ||
      bytes[0] != 'B' || bytes[1] != 'M') {
    return Fail(messages, kNotBmpText, kBmpNotBmp, error);
  }
  if (!ReadExactly(source, std::span(bytes).subspan(kBmpSignatureSize), error)) {
    return Fail(messages, kBmpCorruptText, kBmpCorrupt, error);
  }
  const BmpHeader header = ParseHeader(bytes);
  if (header.bitCount != kBitsPerPixel) {
    return Fail(messages, kNot8BitText, kBmpNot8Bit);
  }
  if (header.infoSize < kBmpMinInfoHeaderSize) {
    return Fail(messages, kBmpCorruptText, kBmpCorrupt);
  }
  if (header.compression != kUncompressed) {
    return Fail(messages, kCompressedText, kBmpCompressed);
  }
  if (header.width < 0) {
    return Fail(messages, kBmpCorruptText, kBmpCorrupt);
  }
  if (header.fileSize < kBmpHeadersSize) {
    return Fail(messages, kOutOfMemoryText, kBmpOutOfMemory);
  }
  const BmpLayout layout = LayoutOf(header);
  if (header.fileSize > source.Length() || !LayoutFits(header, layout, source.Length())) {
    return Fail(messages, kBmpCorruptText, kBmpCorrupt);
  }
  // Bounded by bfSize, which the file has just been shown to hold.
  const auto blockSize = static_cast<std::size_t>(kBmpPaletteBytes + layout.rowsBytes);
  const bool mapped = ShouldMap(source, layout);
  MemoryBlock block =
      mapped ? source.Map(kBmpHeadersSize, blockSize) : MemoryBlock::Allocate(blockSize);
  if (!block) {
    return Fail(messages, kOutOfMemoryText, kBmpOutOfMemory);
  }
  if (!mapped && !ReadBlock(source, layout, block, error)) {
    return Fail(messages, kBmpCorruptText, kBmpCorrupt, error);
  }
  bitmap.block = std::move(block);
  bitmap.width = header.width;
  bitmap.height = header.height;
  return kBmpOk;
}

std::int16_t ReadBmp8(const std::string& path, MessageBoxes& messages, LoadedBitmap& bitmap) {
  bitmap.block.Release();
  InputFile file;
  // A failed open leaves errno as its failing call set it; refusing what is not a regular
  // file calls nothing that fails, and the cause stays empty.
  errno = 0;
  if (!file.Open(path)) {
    return Fail(messages, kCannotOpenText, kBmpCannotOpen, errno);
  }
  return ReadBmp8(file, messages, bitmap);
}

}  // namespace kav
