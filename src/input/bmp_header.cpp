#include "input/bmp_header.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <span>

#include "platform/little_endian.h"

namespace kav {
namespace {

constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kShortestInfoHeader = 16;
constexpr std::size_t kBiSizeEnd = kBiSizeOffset + 4;

// Fields of the core header.
constexpr std::size_t kCoreWidthOffset = 18;
constexpr std::size_t kCoreHeightOffset = 20;
constexpr std::size_t kCoreBitCountOffset = 24;
constexpr std::uint64_t kCorePaletteEntrySize = 3;

constexpr std::uint32_t kUncompressed = 0;
constexpr std::uint32_t kRle8Compression = 1;
constexpr std::uint32_t kRle4Compression = 2;
constexpr std::uint32_t kBitFields = 3;       // red, green and blue masks
constexpr std::uint32_t kAlphaBitFields = 6;  // red, green, blue and alpha masks

// The masks of truecolour files lie at offset 54, red, green, blue and alpha, 4 bytes each:
// after a 40-byte info header (three with kBitFields, four with kAlphaBitFields), or inside
// the longer Windows headers (52 bytes: red, green, blue; 56, 108 and 124: alpha too). The
// OS/2 2.x header of 64 bytes holds other fields there, and its compression 3 is Huffman
// coding, not masks.
constexpr std::size_t kMasksOffset = kBmpHeadersSize;
constexpr std::size_t kMaskSize = 4;
constexpr std::size_t kColourMasks = 3;
constexpr std::size_t kAllMasks = 4;
constexpr std::uint32_t kOs2InfoHeaderSize = 64;
constexpr std::uint32_t kColourMasksHeaderSize = 52;
constexpr std::uint32_t kAlphaMaskHeaderSize = 56;
constexpr std::uint32_t kV4HeaderSize = 108;
// An uncompressed file's masks: 5-5-5 for 16 bits, 8-8-8 for 24 and 32.
constexpr BmpMasks kMasks555{.red = 0x7C00, .green = 0x03E0, .blue = 0x001F};
constexpr BmpMasks kMasks888{.red = 0x00FF0000, .green = 0x0000FF00, .blue = 0x000000FF};

// The file header, at most the first 40 bytes of the info header (what a shorter header does
// not hold is 0), then the 16 bytes where masks lie.
using HeaderBytes = std::array<std::uint8_t, kMasksOffset + kAllMasks * kMaskSize>;

// How much of the info header to read: the fields after its first 16 bytes are 4 bytes each,
// and one that a short header holds only part of is left out.
std::size_t InfoBytesToRead(BmpHeaderKind kind, std::uint32_t infoSize) {
  if (kind == BmpHeaderKind::kCore) {
    return kCoreHeaderSize;
  }
  return std::min<std::uint32_t>(infoSize, kBmpMinInfoHeaderSize) & ~3U;
}

void ParseCoreFields(std::span<const std::uint8_t> bytes, BmpHeader& header) {
  header.width = LoadLe16(bytes.subspan(kCoreWidthOffset));
  header.height = LoadLe16(bytes.subspan(kCoreHeightOffset));
  header.bitCount = LoadLe16(bytes.subspan(kCoreBitCountOffset));
}

void ParseInfoFields(std::span<const std::uint8_t> bytes, BmpHeader& header) {
  header.width = static_cast<std::int32_t>(LoadLe32(bytes.subspan(kBiWidthOffset)));
  header.height = static_cast<std::int32_t>(LoadLe32(bytes.subspan(kBiHeightOffset)));
  header.bitCount = LoadLe16(bytes.subspan(kBiBitCountOffset));
  header.compression = LoadLe32(bytes.subspan(kBiCompressionOffset));
  header.coloursUsed = LoadLe32(bytes.subspan(kBiClrUsedOffset));
}

bool IsPaletteDepth(std::uint16_t bits) {
  return bits == 1 || bits == 2 || bits == 4 || bits == 8;
}

bool IsTrueColourDepth(std::uint16_t bits) {
  return bits == 16 || bits == 24 || bits == 32;
}

bool IsWindowsHeader(const BmpHeader& header) {
  return header.kind == BmpHeaderKind::kInfo && header.infoSize >= kBmpMinInfoHeaderSize &&
         header.infoSize != kOs2InfoHeaderSize;
}

bool HasMasks(const BmpHeader& header) {
  return IsWindowsHeader(header) &&
         (header.compression == kBitFields || header.compression == kAlphaBitFields);
}

// How many masks the file holds at kMasksOffset.
std::size_t StoredMasks(const BmpHeader& header) {
  if (!IsWindowsHeader(header)) {
    return 0;
  }
  if (header.infoSize >= kAlphaMaskHeaderSize || header.compression == kAlphaBitFields) {
    return kAllMasks;
  }
  if (header.infoSize >= kColourMasksHeaderSize || header.compression == kBitFields) {
    return kColourMasks;
  }
  return 0;
}

// The masks a truecolour file's pixels are read with. An uncompressed file has the default
// ones, and alpha only from a V4 or V5 header's alpha mask, and only at 32 bits.
BmpMasks MasksOf(const BmpHeader& header, std::span<const std::uint8_t> stored) {
  const auto mask = [&](std::size_t i) {
    return i < stored.size() / kMaskSize ? LoadLe32(stored.subspan(i * kMaskSize)) : 0U;
  };
  if (HasMasks(header)) {
    return {.red = mask(0), .green = mask(1), .blue = mask(2), .alpha = mask(3)};
  }
  BmpMasks masks = header.bitCount == 16 ? kMasks555 : kMasks888;
  if (header.bitCount == 32 && header.infoSize >= kV4HeaderSize) {
    masks.alpha = mask(3);
  }
  return masks;
}

bool IsContiguous(std::uint32_t mask) {
  const std::uint32_t shifted = mask >> std::countr_zero(mask | 0x80000000U);
  return mask == 0 || (shifted & (shifted + 1)) == 0;
}

bool MasksSound(const BmpMasks& masks) {
  return IsContiguous(masks.red) && IsContiguous(masks.green) && IsContiguous(masks.blue) &&
         IsContiguous(masks.alpha);
}

BmpPixels PixelsOf(const BmpHeader& header) {
  if (IsTrueColourDepth(header.bitCount)) {
    return BmpPixels::kTrueColour;
  }
  switch (header.compression) {
    case kRle8Compression:
      return BmpPixels::kRle8;
    case kRle4Compression:
      return BmpPixels::kRle4;
    default:
      return header.bitCount == 8 ? BmpPixels::kRaw8 : BmpPixels::kPacked;
  }
}

bool IsRle(BmpPixels pixels) {
  return pixels == BmpPixels::kRle8 || pixels == BmpPixels::kRle4;
}

// Some writers set bfSize to the two headers' size (26, 54, 78) instead of the file's: such a
// bfSize stands for the file's length.
void TakeOs2SizeHabit(BmpHeader& header, std::uint64_t fileLength) {
  if (header.fileSize == kBmpFileHeaderSize + std::uint64_t{header.infoSize}) {
    header.fileSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(fileLength, UINT32_MAX));
  }
}

}  // namespace

std::optional<ReadFailure> ReadBmpHeader(ByteSource& source, BmpHeader& header) {
  // Everything after the signature up to the longest header looked at, in one read; a file
  // with a shorter header may end sooner.
  HeaderBytes bytes{};
  const std::span<std::uint8_t> all(bytes);
  const std::optional<std::size_t> got =
      source.Seek(kBmpSignatureSize) ? source.Read(all.subspan(kBmpSignatureSize)) : std::nullopt;
  const std::size_t held = kBmpSignatureSize + got.value_or(0);
  if (held < kBiSizeEnd) {
    return ReadFailure::kBmpCorrupt;
  }
  header.infoSize = LoadLe32(all.subspan(kBiSizeOffset));
  if (header.infoSize == kCoreHeaderSize) {
    header.kind = BmpHeaderKind::kCore;
  } else if (header.infoSize >= kShortestInfoHeader) {
    header.kind = BmpHeaderKind::kInfo;
  } else {
    return ReadFailure::kBmpCorrupt;
  }
  const std::size_t headersEnd = kBiSizeOffset + InfoBytesToRead(header.kind, header.infoSize);
  if (held < headersEnd) {
    return ReadFailure::kBmpCorrupt;
  }
  std::fill(all.begin() + static_cast<std::ptrdiff_t>(headersEnd),
            all.begin() + static_cast<std::ptrdiff_t>(kMasksOffset), std::uint8_t{0});
  header.fileSize = LoadLe32(all.subspan(kBfSizeOffset));
  header.rowsOffset = LoadLe32(all.subspan(kBfOffBitsOffset));
  if (header.kind == BmpHeaderKind::kCore) {
    ParseCoreFields(all, header);
  } else {
    ParseInfoFields(all, header);
  }
  if (IsTrueColourDepth(header.bitCount)) {
    const std::size_t masksEnd = kMasksOffset + StoredMasks(header) * kMaskSize;
    if (held < masksEnd) {
      return ReadFailure::kBmpCorrupt;
    }
    header.masks = MasksOf(header, all.subspan(kMasksOffset, masksEnd - kMasksOffset));
  }
  TakeOs2SizeHabit(header, source.Length());
  return std::nullopt;
}

std::optional<ReadFailure> CheckBmpHeader(const BmpHeader& header) {
  const bool trueColour = IsTrueColourDepth(header.bitCount);
  if (!IsPaletteDepth(header.bitCount) && !trueColour) {
    return ReadFailure::kNot8Bit;
  }
  if (header.compression != kUncompressed && header.compression != kRle8Compression &&
      header.compression != kRle4Compression && !(trueColour && HasMasks(header))) {
    return ReadFailure::kCompressed;
  }
  if (trueColour && !MasksSound(header.masks)) {
    return ReadFailure::kBmpCorrupt;
  }
  if ((header.compression == kRle8Compression && header.bitCount != 8) ||
      (header.compression == kRle4Compression && header.bitCount != 4)) {
    return ReadFailure::kBmpCorrupt;
  }
  // RLE rows are coded bottom row first only.
  if (header.width < 0 || (IsRle(PixelsOf(header)) && header.height < 0)) {
    return ReadFailure::kBmpCorrupt;
  }
  // A file shorter than its own headers: the size of what follows them would wrap.
  if (header.fileSize <
      kBmpFileHeaderSize + std::min<std::uint64_t>(header.infoSize, kBmpMinInfoHeaderSize)) {
    return ReadFailure::kOutOfMemory;
  }
  return std::nullopt;
}

BmpLayout BmpLayoutOf(const BmpHeader& header, std::uint64_t fileLength) {
  BmpLayout layout;
  layout.pixels = PixelsOf(header);
  layout.paletteOffset = kBmpFileHeaderSize + std::uint64_t{header.infoSize};
  layout.rowsOffset = header.rowsOffset;
  layout.dataEnd = std::min<std::uint64_t>(header.fileSize, fileLength);
  layout.width = static_cast<std::uint32_t>(header.width);
  layout.rowCount = static_cast<std::uint32_t>(std::llabs(std::int64_t{header.height}));
  layout.storedStride = IsRle(layout.pixels) ? 0 : PackedStride(layout.width, header.bitCount);
  // A truecolour file's colour table, if any, is not used.
  const std::uint64_t depthEntries =
      layout.pixels == BmpPixels::kTrueColour ? 0 : std::uint64_t{1} << header.bitCount;
  if (layout.pixels == BmpPixels::kTrueColour) {
    layout.paletteEntrySize = kBmpPaletteEntrySize;
  } else if (header.kind == BmpHeaderKind::kCore) {
    // No count field: a full palette, or as many entries as lie before the rows.
    layout.paletteEntrySize = kCorePaletteEntrySize;
    layout.paletteEntries =
        layout.rowsOffset < layout.paletteOffset
            ? 0
            : std::min(depthEntries,
                       (layout.rowsOffset - layout.paletteOffset) / kCorePaletteEntrySize);
  } else {
    layout.paletteEntrySize = kBmpPaletteEntrySize;
    layout.paletteEntries = header.coloursUsed == 0
                                ? depthEntries
                                : std::min<std::uint64_t>(header.coloursUsed, kBmpPaletteEntries);
  }
  return layout;
}

bool BmpLayoutFits(const BmpHeader& header, const BmpLayout& layout, std::uint64_t fileLength) {
  // Raw rows are taken up to bfSize, which must lie inside the file; an RLE stream simply
  // ends where the file does.
  if (!IsRle(layout.pixels) && header.fileSize > fileLength) {
    return false;
  }
  const std::uint64_t paletteEnd =
      layout.paletteOffset + layout.paletteEntries * layout.paletteEntrySize;
  const std::uint64_t rowsBytes = layout.storedStride * layout.rowCount;
  return paletteEnd <= layout.dataEnd && layout.rowsOffset >= layout.paletteOffset &&
         layout.rowsOffset <= layout.dataEnd && rowsBytes <= layout.dataEnd - layout.rowsOffset;
}

}  // namespace kav
