#pragma once
// RLE and RLS: run-length coded rows in 128-column segments, with per-segment row offset
// tables and eight Rgb565 colour-effect tables. Little-endian throughout:
//
//   offset  size              field
//   0       2                 signature "RL" (RLE) or "RS" (RLS)
//   2       4                 dataSize: allRowTablesSize + coded length; file = 4118 + dataSize
//   6       2                 width
//   8       2                 height (row count)
//   10      4096              8 effect tables of 256 Rgb565 entries
//   4106    4                 rowTableSize = height * 4
//   4110    4                 allRowTablesSize = segmentCount * height * 4
//   4114    2                 segmentCount = ceil(width / 128), signed
//   4116    2                 padding, written as zero
//   4118    allRowTablesSize  segmentCount offset tables, segment 0 first; each holds one
//                             32-bit offset per row, top row first
//   4118 + allRowTablesSize   the coded rows, top row first, back to back
//
// Bytes 2 to 4117 are the run-length header. An offset is counted from file offset 4118 and
// points at the first code of that row that belongs to that segment.
//
// A row whose pixels are all 255 is the two bytes 255, 255 (every segment entry points at
// them). Any other row is a sequence of codes, left to right, with no end marker:
//   run            p, k   k (1..128) pixels of a run-coded index p: 255, and in RLS also 250
//   single pixel   p      one pixel of any other index
// A run ends at a different index, at the row's end or at a segment boundary, so a
// segment's codes begin exactly at its first column.

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "color/rgb565.h"
#include "formats/byte_sink.h"
#include "formats/dimensions.h"
#include "formats/output_format.h"
#include "input/picture.h"

namespace kav {

inline constexpr std::string_view kRleSignature = "RL";
inline constexpr std::string_view kRlsSignature = "RS";
inline constexpr std::size_t kRunLengthSignatureSize = 2;
inline constexpr std::size_t kRlDataSizeOffset = 2;
inline constexpr std::size_t kRlWidthOffset = 6;
inline constexpr std::size_t kRlHeightOffset = 8;
inline constexpr std::size_t kEffectTablesOffset = 10;
inline constexpr std::size_t kEffectTableCount = 8;
inline constexpr std::size_t kEffectTablesBytes = kEffectTableCount * kColourTableBytes;  // 4096
inline constexpr std::size_t kRowTableSizeOffset = 4106;
inline constexpr std::size_t kAllRowTablesSizeOffset = 4110;
inline constexpr std::size_t kSegmentCountOffset = 4114;
inline constexpr std::size_t kRowTablesOffset = 4118;
// The header is everything between the signature and the offset tables.
inline constexpr std::size_t kRunLengthHeaderSize =
    kRowTablesOffset - kRunLengthSignatureSize;  // 4116
inline constexpr std::size_t kOffsetEntrySize = 4;

inline constexpr std::uint32_t kSegmentWidth = 128;
inline constexpr std::uint32_t kMaxRunLength = 128;
inline constexpr std::uint8_t kBlankIndex = 255;   // run-coded in both formats
inline constexpr std::uint8_t kShadowIndex = 250;  // run-coded in RLS only

constexpr std::uint32_t SegmentCountFor(std::uint32_t width) {
  return width == 0 ? 0 : (width - 1) / kSegmentWidth + 1;
}

// The longest code a row of `width` pixels can have: two bytes a pixel.
constexpr std::uint64_t MaxCodedRowBytes(std::uint32_t width) {
  return 2 * std::uint64_t{width} + 2;
}

using EffectTables = std::array<Rgb565, kEffectTableCount * kColourTableEntries>;

// Table t, entry i: the effects of table t applied to PackRgb565 of palette entry i.
//   0 none; 1 darken 6; 2 lighten 6; 3 darken 5, blue 3; 4 darken 7, red 3;
//   5 darken 6, red 2, blue 2; 6 grey; 7 cyan 7.
EffectTables BuildEffectTables(const Palette& palette);

// Codes one row (exactly its pixels) into `out`, which holds MaxCodedRowBytes(width)
// bytes, and sets `segmentStarts[s]` to where segment s begins within the row's code. The
// run-coded indices are the format's; kBlankIndex must be one of them. Returns the code's
// length.
std::size_t CodeRow(std::span<const std::uint8_t> pixels, const RunCodedIndices& runCoded,
                    std::span<std::uint8_t> out, std::span<std::uint32_t> segmentStarts);

// Sizes of one file's sections.
struct RunLengthLayout {
  std::uint32_t width = 0;
  std::uint32_t rowCount = 0;
  std::uint32_t segmentCount = 0;
  std::uint64_t rowTableSize = 0;
  std::uint64_t allRowTablesSize = 0;
  std::uint64_t codedBytes = 0;  // known once the rows are coded
  std::uint64_t DataSize() const { return allRowTablesSize + codedBytes; }
  // Bytes before the coded rows: signature, header and offset tables.
  std::uint64_t HeadSize() const { return kRowTablesOffset + allRowTablesSize; }
};

// Everything but the coded length, which only coding tells.
RunLengthLayout LayoutOf(const Picture& picture);

// Whether the coded rows could make `dataSize` overflow 32 bits (then they are measured
// before anything is written). Only images of about two gigapixels and more can.
bool MayOverflowDataSize(const RunLengthLayout& layout);

// Rows are coded in bands of up to 256 rows holding about 64 KiB of pixels, each band in
// the order its rows are stored, so memory is read upwards even in a bottom-up picture. A band
// and its codes stay in the processor's second-level cache.
inline constexpr std::uint64_t kBandPixelBytes = 64 * 1024;
inline constexpr std::uint32_t kMaxBandRows = 256;

constexpr std::uint32_t BandRowsFor(std::uint32_t width) {
  const std::uint64_t rows = width == 0 ? kMaxBandRows : kBandPixelBytes / width;
  return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(rows, 1, kMaxBandRows));
}

// The most segments a band can hold, over every width a file can have. Among the widths with
// the same segment count the narrowest has the most rows per band, so only the first width of
// each segment count needs a look: 512 steps, well inside every compiler's constexpr limits.
constexpr std::uint32_t MaxBandSegments() {
  std::uint32_t most = 0;
  for (std::uint32_t width = 1; width <= kMaxDimension; width += kSegmentWidth) {
    most = std::max(most, BandRowsFor(width) * SegmentCountFor(width));
  }
  return most;
}

// The scratch CodeRows needs: one band of the longest coded rows (at most about 129 KiB).
constexpr std::uint64_t CodingScratchBytes(std::uint32_t width) {
  return BandRowsFor(width) * MaxCodedRowBytes(width);
}

// Codes every row through `scratch` (CodingScratchBytes(width) bytes) into `codedRows`, top
// row first, or only measures them when `codedRows` is null. Fills `offsets`
// (segmentCount * rowCount entries, segment 0 first) and sets `layout.codedBytes`.
void CodeRows(const Picture& picture, const RunCodedIndices& runCoded, RunLengthLayout& layout,
              std::span<std::uint32_t> offsets, std::span<std::uint8_t> scratch,
              ByteSink* codedRows);

// The file's head, once the rows are coded: `signature`, header with the eight effect tables,
// and the offset tables.
void WriteRunLengthHead(const Picture& picture, std::string_view signature,
                        const RunLengthLayout& layout, std::span<const std::uint32_t> offsets,
                        ByteSink& sink);

// The whole file in memory, for tests and fuzzing; the picture must have pixels and fit
// FitsFileHeader.
std::vector<std::uint8_t> EncodeRunLength(const Picture& picture, OutputFormat format);

// The writer of RLE and RLS files (or their C headers, as the settings ask), as the settings'
// format says. A picture without pixels is refused, as is one too large: its width or row
// count above 65535, or its coded rows making dataSize overflow 32 bits.
Conversion WriteRunLength(Picture& picture, const ConversionSettings& settings,
                          const OutputTarget& target);

}  // namespace kav
