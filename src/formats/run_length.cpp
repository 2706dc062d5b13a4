#include "formats/run_length.h"

#include <algorithm>
#include <limits>

#include "color/effects.h"
#include "formats/output_shell.h"
#include "platform/format_text.h"

namespace kav {
namespace {

constexpr std::string_view kLoadErrorText = "Error while loading BMP file!";
constexpr std::string_view kAllocationErrorText = "Error allocating memory!";
constexpr std::string_view kEmptyImageText = "Error: this image has no pixels!";
constexpr const char* kSuccessFormat = "SUCCESS!!  %s converted!";

constexpr std::uint32_t kMaxSegments = SegmentCountFor(kRunLengthMaxDimension);  // 512
constexpr std::size_t kOffsetChunkEntries = 4096;

using SegmentStarts = std::array<std::uint32_t, kMaxSegments>;

bool IsBlankRow(std::span<const std::uint8_t> pixels) {
  return std::all_of(pixels.begin(), pixels.end(), [](std::uint8_t p) { return p == kBlankIndex; });
}

// How many pixels of `index` follow from `column` on, stopping at another index, at the end
// of the row, or before the next segment boundary.
std::uint32_t CountRun(std::span<const std::uint8_t> pixels, std::uint32_t column,
                       std::uint8_t index) {
  const std::uint32_t segmentEnd = (column / kSegmentWidth + 1) * kSegmentWidth;
  const std::uint32_t limit =
      std::min<std::uint32_t>(segmentEnd, static_cast<std::uint32_t>(pixels.size()));
  std::uint32_t end = column;
  while (end < limit && pixels[end] == index) {
    ++end;
  }
  return end - column;
}

// Appends codes to a row's output; the caller sized it for the longest possible row.
class RowWriter {
 public:
  explicit RowWriter(std::span<std::uint8_t> out) : out_(out) {}
  void EmitRun(std::uint8_t index, std::uint32_t count) {
    out_[length_++] = index;
    out_[length_++] = static_cast<std::uint8_t>(count);
  }
  void EmitSingle(std::uint8_t index) { out_[length_++] = index; }
  std::size_t length() const { return length_; }

 private:
  std::span<std::uint8_t> out_;
  std::size_t length_ = 0;
};

void WriteOffsetTables(std::span<const std::uint32_t> offsets, ByteSink& sink) {
  std::array<std::uint8_t, kOffsetChunkEntries * kOffsetEntrySize> chunk;
  for (std::size_t first = 0; first < offsets.size(); first += kOffsetChunkEntries) {
    const std::size_t count = std::min(kOffsetChunkEntries, offsets.size() - first);
    for (std::size_t i = 0; i < count; ++i) {
      StoreLe32(std::span(chunk).subspan(i * kOffsetEntrySize), offsets[first + i]);
    }
    sink.Write(std::span(chunk).first(count * kOffsetEntrySize));
  }
}

std::array<std::uint8_t, kRunLengthHeaderSize> BuildRunLengthHeader(const RunLengthLayout& layout,
                                                                    PaletteBytes palette) {
  // Offsets in the file are 2 more than in this array, which starts after the signature.
  constexpr std::size_t kBase = kRunLengthSignatureSize;
  std::array<std::uint8_t, kRunLengthHeaderSize> header{};  // padding stays zero
  const std::span<std::uint8_t> bytes(header);
  StoreLe32(bytes.subspan(kRlDataSizeOffset - kBase),
            static_cast<std::uint32_t>(layout.DataSize()));
  StoreLe16(bytes.subspan(kRlWidthOffset - kBase), static_cast<std::uint16_t>(layout.width));
  StoreLe16(bytes.subspan(kRlHeightOffset - kBase), static_cast<std::uint16_t>(layout.rowCount));
  const EffectTables tables = BuildEffectTables(palette);
  for (std::size_t i = 0; i < tables.size(); ++i) {
    StoreLe16(bytes.subspan(kEffectTablesOffset - kBase + 2 * i), tables[i]);
  }
  StoreLe32(bytes.subspan(kRowTableSizeOffset - kBase),
            static_cast<std::uint32_t>(layout.rowTableSize));
  StoreLe32(bytes.subspan(kAllRowTablesSizeOffset - kBase),
            static_cast<std::uint32_t>(layout.allRowTablesSize));
  StoreLe16(bytes.subspan(kSegmentCountOffset - kBase),
            static_cast<std::uint16_t>(layout.segmentCount));
  return header;
}

std::span<std::uint32_t> OffsetsIn(MemoryBlock& block) {
  // malloc'd memory is aligned for any scalar type.
  return {reinterpret_cast<std::uint32_t*>(block.data()), block.size() / kOffsetEntrySize};
}

bool ConvertToRunLength(ConverterHost& host, const std::string& sourcePath,
                        const std::string& outputPath, RunLengthVariant variant) {
  LoadedBitmap bitmap;
  std::optional<BitmapView> view;
  if (ReadBmp8(sourcePath, host, bitmap) == kBmpOk) {
    view = ViewBitmap(bitmap);
  }
  if (!view) {
    host.SetStatusText(std::string(kLoadErrorText));
    return false;
  }
  switch (CheckRunLengthSize(*view)) {
    case RunLengthRefusal::kNone:
      break;
    case RunLengthRefusal::kEmpty:
      host.SetStatusText(std::string(kEmptyImageText));
      return false;
    case RunLengthRefusal::kTooLarge:
      bitmap.block.Release();
      host.ShowError(MessageOwner::kMainDialog, kTooLargeText);
      return false;
  }
  const std::uint64_t offsetEntries = std::uint64_t{SegmentCountFor(view->width)} * view->rowCount;
  MemoryBlock offsetBlock =
      MemoryBlock::Allocate(static_cast<std::size_t>(offsetEntries * kOffsetEntrySize));
  MemoryBlock scratch;
  if (offsetBlock) {
    scratch = MemoryBlock::Allocate(static_cast<std::size_t>(MaxCodedRowBytes(view->width)));
  }
  if (!offsetBlock || !scratch) {
    host.SetStatusText(std::string(kAllocationErrorText));
    return false;
  }
  const std::span<std::uint32_t> offsets = OffsetsIn(offsetBlock);
  const RunLengthLayout layout = PlanRunLength(*view, variant, offsets, scratch.bytes());
  if (layout.DataSize() > std::numeric_limits<std::uint32_t>::max()) {
    bitmap.block.Release();
    host.ShowError(MessageOwner::kMainDialog, kTooLargeText);
    return false;
  }
  const WriteOutcome outcome = WriteOutputFile(outputPath, sourcePath, [&](ByteSink& sink) {
    EmitRunLength(*view, variant, layout, offsets, scratch.bytes(), sink);
  });
  bitmap.block.Release();
  offsetBlock.Release();
  scratch.Release();
  if (!ReportWriteOutcome(host, outcome)) {
    return false;
  }
  host.SetStatusText(FormatText(kSuccessFormat, outputPath.c_str()));
  return true;
}

}  // namespace

std::string_view SignatureOf(RunLengthVariant variant) {
  return variant == RunLengthVariant::kRls ? "RS" : "RL";
}

EffectTables BuildEffectTables(PaletteBytes palette) {
  EffectTables tables{};
  const auto table = [&tables](std::size_t t) {
    return std::span(tables).subspan(t * kEffectTableEntries, kEffectTableEntries);
  };
  for (std::size_t i = 0; i < kEffectTableEntries; ++i) {
    const auto entry = palette.subspan(i * kBmpPaletteEntrySize, kBmpPaletteEntrySize);
    table(0)[i] = PackRgb565(entry[2], entry[1], entry[0]);
  }
  for (std::size_t i = 0; i < kEffectTableEntries; ++i) {
    const Rgb565 plain = table(0)[i];
    Rgb565 c = plain;
    DarkenRgb565(c, 6);
    table(1)[i] = c;
    c = plain;
    LightenRgb565(c, 6);
    table(2)[i] = c;
    c = plain;
    DarkenRgb565(c, 5);
    TintBlueRgb565(c, 3);
    table(3)[i] = c;
    c = plain;
    DarkenRgb565(c, 7);
    TintRedRgb565(c, 3);
    table(4)[i] = c;
    c = plain;
    DarkenRgb565(c, 6);
    TintRedRgb565(c, 2);
    TintBlueRgb565(c, 2);
    table(5)[i] = c;
    c = plain;
    GreyRgb565(c);
    table(6)[i] = c;
    c = plain;
    TintCyanRgb565(c, 7);
    table(7)[i] = c;
  }
  return tables;
}

std::size_t CodeRow(std::span<const std::uint8_t> pixels, RunLengthVariant variant,
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
  segmentStarts[0] = 0;
  for (std::uint32_t column = 0; column < width;) {
    const std::uint8_t index = pixels[column];
    if (IsRunCoded(variant, index)) {
      const std::uint32_t count = CountRun(pixels, column, index);
      writer.EmitRun(index, count);
      column += count;
    } else {
      writer.EmitSingle(index);
      ++column;
    }
    if (column % kSegmentWidth == 0 && column < width) {
      segmentStarts[column / kSegmentWidth] = static_cast<std::uint32_t>(writer.length());
    }
  }
  return writer.length();
}

RunLengthRefusal CheckRunLengthSize(const BitmapView& bitmap) {
  if (bitmap.width == 0 || bitmap.rowCount == 0) {
    return RunLengthRefusal::kEmpty;
  }
  if (bitmap.width > kRunLengthMaxDimension || bitmap.rowCount > kRunLengthMaxDimension) {
    return RunLengthRefusal::kTooLarge;
  }
  return RunLengthRefusal::kNone;
}

RunLengthLayout PlanRunLength(const BitmapView& bitmap, RunLengthVariant variant,
                              std::span<std::uint32_t> offsets, std::span<std::uint8_t> scratch) {
  RunLengthLayout layout;
  layout.width = bitmap.width;
  layout.rowCount = bitmap.rowCount;
  layout.segmentCount = SegmentCountFor(bitmap.width);
  layout.rowTableSize = std::uint64_t{bitmap.rowCount} * kOffsetEntrySize;
  layout.allRowTablesSize = layout.segmentCount * layout.rowTableSize;
  SegmentStarts starts{};
  for (std::uint32_t r = 0; r < bitmap.rowCount; ++r) {
    const std::uint64_t rowStart = layout.allRowTablesSize + layout.codedBytes;
    layout.codedBytes += CodeRow(bitmap.TopRow(r), variant, scratch, starts);
    for (std::uint32_t s = 0; s < layout.segmentCount; ++s) {
      // Entries wrap beyond 4 GiB; such files are refused before anything is written.
      offsets[std::size_t{s} * bitmap.rowCount + r] =
          static_cast<std::uint32_t>(rowStart + starts[s]);
    }
  }
  return layout;
}

void EmitRunLength(const BitmapView& bitmap, RunLengthVariant variant,
                   const RunLengthLayout& layout, std::span<const std::uint32_t> offsets,
                   std::span<std::uint8_t> scratch, ByteSink& sink) {
  const std::string_view signature = SignatureOf(variant);
  sink.Write({reinterpret_cast<const std::uint8_t*>(signature.data()), signature.size()});
  sink.Write(BuildRunLengthHeader(layout, bitmap.palette));
  WriteOffsetTables(
      offsets.first(static_cast<std::size_t>(layout.allRowTablesSize / kOffsetEntrySize)), sink);
  SegmentStarts starts{};
  for (std::uint32_t r = 0; r < bitmap.rowCount; ++r) {
    const std::size_t length = CodeRow(bitmap.TopRow(r), variant, scratch, starts);
    sink.Write(scratch.first(length));
  }
}

std::vector<std::uint8_t> EncodeRunLength(const BitmapView& bitmap, RunLengthVariant variant) {
  std::vector<std::uint32_t> offsets(std::size_t{SegmentCountFor(bitmap.width)} * bitmap.rowCount);
  std::vector<std::uint8_t> scratch(static_cast<std::size_t>(MaxCodedRowBytes(bitmap.width)));
  const RunLengthLayout layout = PlanRunLength(bitmap, variant, offsets, scratch);
  VectorSink sink;
  EmitRunLength(bitmap, variant, layout, offsets, scratch, sink);
  return std::move(sink.bytes());
}

bool ConvertToRle(ConverterHost& host, const std::string& sourcePath,
                  const std::string& outputPath) {
  return ConvertToRunLength(host, sourcePath, outputPath, RunLengthVariant::kRle);
}

bool ConvertToRls(ConverterHost& host, const std::string& sourcePath,
                  const std::string& outputPath) {
  return ConvertToRunLength(host, sourcePath, outputPath, RunLengthVariant::kRls);
}

}  // namespace kav
