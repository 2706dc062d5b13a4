#include "input/bmp_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <span>
#include <utility>

#include "input/bmp_header.h"
#include "input/pixel_decoders.h"

namespace kav {
namespace {

using Refusal = std::optional<ReadFailure>;

bool ReadExactly(ByteSource& source, std::span<std::uint8_t> into) {
  const std::optional<std::size_t> got = source.Read(into);
  return got.has_value() && *got == into.size();
}

// Below this size reading costs less than setting up a mapping.
constexpr std::uint64_t kSmallestMappedBlock = std::uint64_t{1} << 20;

// The stored palette entries of 3 or 4 bytes each: blue, green, red (and one reserved).
Palette PaletteOf(std::span<const std::uint8_t> stored, std::size_t entrySize) {
  Palette palette;
  palette.count = std::min(stored.size() / entrySize, kPaletteEntries);
  for (std::size_t i = 0; i < palette.count; ++i) {
    const std::span<const std::uint8_t> entry = stored.subspan(i * entrySize, 3);
    palette.entries[i] = {.red = entry[2], .green = entry[1], .blue = entry[0]};
  }
  return palette;
}

bool ReadPalette(ByteSource& source, const BmpLayout& layout, Palette& palette) {
  std::array<std::uint8_t, kBmpPaletteBytes> stored{};
  const std::span<std::uint8_t> entries = std::span(stored).first(
      static_cast<std::size_t>(layout.paletteEntries * layout.paletteEntrySize));
  if (!source.Seek(layout.paletteOffset) || !ReadExactly(source, entries)) {
    return false;
  }
  palette = PaletteOf(entries, static_cast<std::size_t>(layout.paletteEntrySize));
  return true;
}

// The rows as the BMP stores them: bottom row first unless the height is negative.
RowLayout StoredRows(const BmpHeader& header, std::uint64_t offset, std::uint64_t stride) {
  return {.offset = offset, .stride = stride, .bottomUp = header.height > 0};
}

ReadResult PictureOf(const BmpLayout& layout, const Palette& palette, MemoryBlock block,
                     const RowLayout& rows) {
  std::optional<Picture> picture =
      Picture::Of(InputKind::kBmp, layout.width, layout.rowCount, palette, std::move(block), rows);
  if (!picture) {
    return ReadFailure::kBmpCorrupt;
  }
  return std::move(*picture);
}

// `size` bytes reserved in `budget`, then allocated and holding the reservation.
Refusal AllocatePicture(std::uint64_t size, MemoryBudget& budget, MemoryBlock& block) {
  block = MemoryBlock::AllocateReserved(size, size, budget);
  if (!block) {
    return ReadFailure::kOutOfMemory;
  }
  return std::nullopt;
}

// ---- Raw 8-bit rows: handed over as the file holds them, up to bfSize.

// The common layout is one contiguous run of file bytes from offset 54, palette and rows.
bool IsCommonLayout(const BmpLayout& layout) {
  return layout.pixels == BmpPixels::kRaw8 && layout.paletteOffset == kBmpHeadersSize &&
         layout.paletteEntries == kBmpPaletteEntries &&
         layout.paletteEntrySize == kBmpPaletteEntrySize &&
         layout.rowsOffset == kBmpHeadersSize + kBmpPaletteBytes;
}

// A large file is mapped instead of read: its cached pages become the block, with no copy.
ReadResult LoadCommonLayout(ByteSource& source, const BmpHeader& header, const BmpLayout& layout,
                            MemoryBudget& budget) {
  // Bounded by bfSize, which the file has been shown to hold.
  const auto blockSize = static_cast<std::size_t>(header.fileSize - kBmpHeadersSize);
  // A mapped picture's pages are resident too once the writers have read them.
  MemoryReservation reservation = budget.Reserve(blockSize);
  if (!reservation) {
    return ReadFailure::kOutOfMemory;
  }
  MemoryBlock block = source.CanMap() && blockSize >= kSmallestMappedBlock
                          ? source.Map(kBmpHeadersSize, blockSize)
                          : MemoryBlock::Allocate(blockSize);
  if (!block) {
    return ReadFailure::kOutOfMemory;
  }
  block.Hold(std::move(reservation));
  if (!block.IsMapped() && !(source.Seek(kBmpHeadersSize) && ReadExactly(source, block.bytes()))) {
    return ReadFailure::kBmpCorrupt;
  }
  const Palette palette = PaletteOf(block.bytes().first(kBmpPaletteBytes), kBmpPaletteEntrySize);
  return PictureOf(layout, palette, std::move(block),
                   StoredRows(header, kBmpPaletteBytes, BmpStride(layout.width)));
}

ReadResult LoadRaw8(ByteSource& source, const BmpHeader& header, const BmpLayout& layout,
                    MemoryBudget& budget) {
  if (IsCommonLayout(layout)) {
    return LoadCommonLayout(source, header, layout, budget);
  }
  Palette palette;
  MemoryBlock block;
  if (const Refusal refused = AllocatePicture(header.fileSize - layout.rowsOffset, budget, block)) {
    return *refused;
  }
  if (!ReadPalette(source, layout, palette) || !source.Seek(layout.rowsOffset) ||
      !ReadExactly(source, block.bytes())) {
    return ReadFailure::kBmpCorrupt;
  }
  return PictureOf(layout, palette, std::move(block),
                   StoredRows(header, 0, BmpStride(layout.width)));
}

// ---- Decoded pixels: packed and RLE rows become 8-bit rows in a block of their own.

// The file's bytes [offset, offset + length): mapped when large, else read.
Refusal LoadStored(ByteSource& source, std::uint64_t offset, std::uint64_t length,
                   MemoryBlock& stored) {
  const auto size = static_cast<std::size_t>(length);
  if (source.CanMap() && length >= kSmallestMappedBlock) {
    stored = source.Map(offset, size);
    if (stored) {
      return std::nullopt;
    }
  }
  stored = MemoryBlock::Allocate(size);
  if (!stored) {
    return ReadFailure::kOutOfMemory;
  }
  if (!source.Seek(offset) || !ReadExactly(source, stored.bytes())) {
    return ReadFailure::kBmpCorrupt;
  }
  return std::nullopt;
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

// The rows are decoded in the order they are stored, one byte an index; width and height
// below 2^32 keep their product inside 64 bits.
ReadResult LoadDecoded(ByteSource& source, const BmpHeader& header, const BmpLayout& layout,
                       MemoryBudget& budget) {
  // Packed rows are as long as the layout says; an RLE stream runs to bfSize or the file's end.
  const std::uint64_t storedBytes = layout.pixels == BmpPixels::kPacked
                                        ? layout.storedStride * layout.rowCount
                                        : layout.dataEnd - layout.rowsOffset;
  MemoryBlock block;
  MemoryBlock stored;
  Palette palette;
  Refusal refused = AllocatePicture(std::uint64_t{layout.width} * layout.rowCount, budget, block);
  if (!refused) {
    refused = LoadStored(source, layout.rowsOffset, storedBytes, stored);
  }
  if (!refused && !ReadPalette(source, layout, palette)) {
    refused = ReadFailure::kBmpCorrupt;
  }
  if (refused) {
    return *refused;
  }
  const bool sound = DecodePixels(stored.bytes(), header, layout,
                                  {.bytes = block.bytes(),
                                   .width = layout.width,
                                   .rowCount = layout.rowCount,
                                   .stride = layout.width});
  // A mapped file that shrank while it was decoded read as zeros.
  if (!sound || stored.Damaged()) {
    return ReadFailure::kBmpCorrupt;
  }
  return PictureOf(layout, palette, std::move(block), StoredRows(header, 0, layout.width));
}

// ---- Truecolour pixels: 16, 24 or 32 bits each become 4 bytes, red, green, blue, alpha.

// One channel's bits of a pixel value, widened to 8 bits: n bits of value v give
// (v x 255 + (2^n - 1) / 2) / (2^n - 1).
class ChannelReader {
 public:
  explicit ChannelReader(std::uint32_t mask)
      : mask_(mask),
        shift_(mask == 0 ? 0 : static_cast<unsigned>(std::countr_zero(mask))),
        max_(mask == 0 ? 0 : std::uint64_t{mask >> shift_}) {}
  bool Present() const { return mask_ != 0; }
  std::uint8_t operator()(std::uint32_t pixel) const {
    const std::uint64_t v = (pixel & mask_) >> shift_;
    if (max_ == 0xFF || max_ == 0) {
      return static_cast<std::uint8_t>(v);
    }
    return static_cast<std::uint8_t>((v * 255 + max_ / 2) / max_);
  }

 private:
  std::uint32_t mask_;
  unsigned shift_;
  std::uint64_t max_;
};

struct ChannelReaders {
  ChannelReader red, green, blue, alpha;
};

// One stored row of `bytesPerPixel`-byte pixels into `out`, 4 bytes a pixel. Returns whether
// any pixel's alpha is not 0.
bool DecodeTrueColourRow(std::span<const std::uint8_t> stored, std::size_t bytesPerPixel,
                         const ChannelReaders& channels, std::span<std::uint8_t> out) {
  bool anyAlpha = false;
  for (std::size_t x = 0; x < out.size() / kRgbaPixelBytes; ++x) {
    const std::span<const std::uint8_t> bytes = stored.subspan(x * bytesPerPixel, bytesPerPixel);
    std::uint32_t pixel = 0;
    for (std::size_t i = 0; i < bytesPerPixel; ++i) {
      pixel |= std::uint32_t{bytes[i]} << (8 * i);
    }
    const std::span<std::uint8_t> rgba = out.subspan(x * kRgbaPixelBytes, kRgbaPixelBytes);
    rgba[0] = channels.red(pixel);
    rgba[1] = channels.green(pixel);
    rgba[2] = channels.blue(pixel);
    rgba[3] = channels.alpha.Present() ? channels.alpha(pixel) : std::uint8_t{255};
    anyAlpha = anyAlpha || rgba[3] != 0;
  }
  return anyAlpha;
}

// Writers that store no alpha often leave the alpha bits 0: a picture whose every alpha is 0
// is opaque.
void MakeOpaque(std::span<std::uint8_t> rgba) {
  for (std::size_t at = 3; at < rgba.size(); at += kRgbaPixelBytes) {
    rgba[at] = 255;
  }
}

void DecodeTrueColour(std::span<const std::uint8_t> stored, const BmpHeader& header,
                      const BmpLayout& layout, std::span<std::uint8_t> rgba) {
  const ChannelReaders channels{ChannelReader(header.masks.red), ChannelReader(header.masks.green),
                                ChannelReader(header.masks.blue),
                                ChannelReader(header.masks.alpha)};
  const std::size_t bytesPerPixel = header.bitCount / 8U;
  const std::size_t rowBytes = std::size_t{layout.width} * kRgbaPixelBytes;
  bool anyAlpha = false;
  // Rows without columns are not walked: a header may claim 2^31 of them.
  for (std::uint32_t r = 0; rowBytes != 0 && r < layout.rowCount; ++r) {
    // The picture's rows run top first; the file's bottom first unless the height is negative.
    const std::uint32_t y = header.height > 0 ? layout.rowCount - 1 - r : r;
    anyAlpha |= DecodeTrueColourRow(
        stored.subspan(static_cast<std::size_t>(r * layout.storedStride),
                       static_cast<std::size_t>(layout.storedStride)),
        bytesPerPixel, channels, rgba.subspan(std::size_t{y} * rowBytes, rowBytes));
  }
  if (!anyAlpha) {
    MakeOpaque(rgba);
  }
}

// The picture's pixels, 4 bytes each, top row first; its indices will take their place.
ReadResult LoadTrueColour(ByteSource& source, const BmpHeader& header, const BmpLayout& layout,
                          MemoryBudget& budget) {
  const std::uint64_t pixels = std::uint64_t{layout.width} * layout.rowCount;
  MemoryBlock block;
  if (const Refusal refused = AllocatePicture(pixels * kRgbaPixelBytes, budget, block)) {
    return *refused;
  }
  MemoryBlock stored;
  if (const Refusal refused =
          LoadStored(source, layout.rowsOffset, layout.storedStride * layout.rowCount, stored)) {
    return *refused;
  }
  DecodeTrueColour(stored.bytes(), header, layout, block.bytes());
  if (stored.Damaged()) {
    return ReadFailure::kBmpCorrupt;
  }
  std::optional<Picture> picture =
      Picture::OfRgba(InputKind::kBmp, layout.width, layout.rowCount, std::move(block));
  if (!picture) {
    return ReadFailure::kBmpCorrupt;
  }
  return std::move(*picture);
}

ReadResult LoadPixels(ByteSource& source, const BmpHeader& header, const BmpLayout& layout,
                      MemoryBudget& budget) {
  switch (layout.pixels) {
    case BmpPixels::kRaw8:
      return LoadRaw8(source, header, layout, budget);
    case BmpPixels::kTrueColour:
      return LoadTrueColour(source, header, layout, budget);
    default:
      return LoadDecoded(source, header, layout, budget);
  }
}

}  // namespace

// The steps, in order; the first refusal counts.
ReadResult ReadBmp(ByteSource& source, MemoryBudget& budget, const TransparencyRules* /*rules*/) {
  BmpHeader header;
  Refusal refused = ReadBmpHeader(source, header);
  if (!refused) {
    refused = CheckBmpHeader(header);
  }
  if (refused) {
    return *refused;
  }
  const BmpLayout layout = BmpLayoutOf(header, source.Length());
  if (!BmpLayoutFits(header, layout, source.Length())) {
    return ReadFailure::kBmpCorrupt;
  }
  return LoadPixels(source, header, layout, budget);
}

}  // namespace kav
