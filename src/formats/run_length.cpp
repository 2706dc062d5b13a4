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

constexpr std::size_t kOffsetChunkEntries = 4096;

// Where the segments of each row of a band begin.
using BandStarts = std::array<std::uint32_t, MaxBandSegments()>;

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

// The rows of one band, coded in the order they are stored: the processor's prefetcher
// follows memory read upwards, but a bottom-up bitmap stores the top row last, and walking it
// backwards one row at a time made every row start cold (narrow pictures, with many rows per
// megapixel, cost up to twice as much per pixel). Row i of the band goes to slot i of
// `scratch`, its length to `lengths[i]`, and where its segments begin within its code to
// entries i * segmentCount onwards of `starts`.
void CodeBand(const BitmapView& bitmap, RunLengthVariant variant, std::uint32_t firstRow,
              std::uint32_t count, std::span<std::uint8_t> scratch,
              std::span<std::uint32_t> lengths, std::span<std::uint32_t> starts) {
  const auto slotBytes = static_cast<std::size_t>(MaxCodedRowBytes(bitmap.width));
  const std::uint32_t segments = SegmentCountFor(bitmap.width);
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint32_t i = bitmap.topDown ? k : count - 1 - k;
    lengths[i] = static_cast<std::uint32_t>(CodeRow(bitmap.TopRow(firstRow + i), variant,
                                                    scratch.subspan(i * slotBytes, slotBytes),
                                                    starts.subspan(i * segments, segments)));
  }
}

std::span<std::uint32_t> OffsetsIn(MemoryBlock& block) {
  // malloc'd memory is aligned for any scalar type.
  return {reinterpret_cast<std::uint32_t*>(block.data()), block.size() / kOffsetEntrySize};
}

bool ConvertToRunLength(ConverterHost& host, const std::string& sourcePath,
                        const std::string& outputPath, RunLengthVariant variant) {
  LoadedBitmap bitmap;
  const std::optional<BitmapView> view = LoadSource(host, sourcePath, bitmap, kLoadErrorText);
  if (!view) {
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
    scratch = MemoryBlock::Allocate(static_cast<std::size_t>(CodingScratchBytes(view->width)));
  }
  if (!offsetBlock || !scratch) {
    host.SetStatusText(std::string(kAllocationErrorText));
    return false;
  }
  const std::span<std::uint32_t> offsets = OffsetsIn(offsetBlock);
  RunLengthLayout layout = LayoutOf(*view);
  if (MayOverflowDataSize(layout)) {
    // Only a measuring pass can tell whether dataSize fits; it runs before anything is made.
    CodeRows(*view, variant, layout, offsets, scratch.bytes(), nullptr);
    if (layout.DataSize() > std::numeric_limits<std::uint32_t>::max()) {
      bitmap.block.Release();
      host.ShowError(MessageOwner::kMainDialog, kTooLargeText);
      return false;
    }
  }
  int error = 0;
  const WriteOutcome outcome = WriteOutputFile(
      host, outputPath, sourcePath, bitmap.block,
      [&](OutputFile& file) {
        // One pass over the pixels: the coded rows go first, after room for the head, and the
        // head follows once coding has given every offset.
        if (!file.Seek(layout.HeadSize())) {
          return false;
        }
        FileSink rows(file);
        CodeRows(*view, variant, layout, offsets, scratch.bytes(), &rows);
        if (!rows.Flush() || !file.Seek(0)) {
          return false;
        }
        FileSink head(file);
        WriteRunLengthHead(*view, variant, layout, offsets, head);
        return head.Flush();
      },
      &error);
  bitmap.block.Release();
  offsetBlock.Release();
  scratch.Release();
  if (!ReportWriteOutcome(host, outcome, kLoadErrorText, error)) {
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

RunLengthRefusal CheckRunLengthSize(const BitmapView& bitmap) {
  if (bitmap.width == 0 || bitmap.rowCount == 0) {
    return RunLengthRefusal::kEmpty;
  }
  if (bitmap.width > kRunLengthMaxDimension || bitmap.rowCount > kRunLengthMaxDimension) {
    return RunLengthRefusal::kTooLarge;
  }
  return RunLengthRefusal::kNone;
}

RunLengthLayout LayoutOf(const BitmapView& bitmap) {
  RunLengthLayout layout;
  layout.width = bitmap.width;
  layout.rowCount = bitmap.rowCount;
  layout.segmentCount = SegmentCountFor(bitmap.width);
  layout.rowTableSize = std::uint64_t{bitmap.rowCount} * kOffsetEntrySize;
  layout.allRowTablesSize = layout.segmentCount * layout.rowTableSize;
  return layout;
}

bool MayOverflowDataSize(const RunLengthLayout& layout) {
  const std::uint64_t longest =
      layout.allRowTablesSize + layout.rowCount * MaxCodedRowBytes(layout.width);
  return longest > std::numeric_limits<std::uint32_t>::max();
}

void CodeRows(const BitmapView& bitmap, RunLengthVariant variant, RunLengthLayout& layout,
              std::span<std::uint32_t> offsets, std::span<std::uint8_t> scratch,
              ByteSink* codedRows) {
  layout.codedBytes = 0;
  if (scratch.size() < CodingScratchBytes(bitmap.width) ||
      offsets.size() < std::uint64_t{layout.segmentCount} * bitmap.rowCount) {
    return;  // the caller did not size the buffers for this bitmap
  }
  const std::uint32_t bandRows = BandRowsFor(bitmap.width);
  const auto slotBytes = static_cast<std::size_t>(MaxCodedRowBytes(bitmap.width));
  std::array<std::uint32_t, kMaxBandRows> lengths{};
  BandStarts starts{};
  for (std::uint32_t first = 0; first < bitmap.rowCount; first += bandRows) {
    const std::uint32_t count = std::min(bandRows, bitmap.rowCount - first);
    CodeBand(bitmap, variant, first, count, scratch, lengths, starts);
    // The band's rows go out top row first.
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint64_t rowStart = layout.allRowTablesSize + layout.codedBytes;
      for (std::uint32_t s = 0; s < layout.segmentCount; ++s) {
        // Entries wrap beyond 4 GiB; such files are refused before they are written.
        offsets[std::size_t{s} * bitmap.rowCount + first + i] =
            static_cast<std::uint32_t>(rowStart + starts[i * layout.segmentCount + s]);
      }
      if (codedRows != nullptr) {
        codedRows->Write(scratch.subspan(i * slotBytes, lengths[i]));
      }
      layout.codedBytes += lengths[i];
    }
  }
}

void WriteRunLengthHead(const BitmapView& bitmap, RunLengthVariant variant,
                        const RunLengthLayout& layout, std::span<const std::uint32_t> offsets,
                        ByteSink& sink) {
  const std::string_view signature = SignatureOf(variant);
  sink.Write({reinterpret_cast<const std::uint8_t*>(signature.data()), signature.size()});
  sink.Write(BuildRunLengthHeader(layout, bitmap.palette));
  WriteOffsetTables(
      offsets.first(static_cast<std::size_t>(layout.allRowTablesSize / kOffsetEntrySize)), sink);
}

std::vector<std::uint8_t> EncodeRunLength(const BitmapView& bitmap, RunLengthVariant variant) {
  RunLengthLayout layout = LayoutOf(bitmap);
  std::vector<std::uint32_t> offsets(std::size_t{layout.segmentCount} * layout.rowCount);
  std::vector<std::uint8_t> scratch(static_cast<std::size_t>(CodingScratchBytes(bitmap.width)));
  VectorSink rows;
  CodeRows(bitmap, variant, layout, offsets, scratch, &rows);
  VectorSink file;
  WriteRunLengthHead(bitmap, variant, layout, offsets, file);
  file.Write(rows.bytes());
  return std::move(file.bytes());
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
