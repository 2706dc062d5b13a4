// The head of a run-length file: signature, header with the eight effect tables, and the
// offset tables, written once coding has given every offset.

#include <algorithm>

#include "formats/run_length.h"
#include "formats/tables_by_palette.h"

namespace kav {
namespace {

constexpr std::size_t kOffsetChunkEntries = 4096;

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
                                                                    const Palette& palette) {
  // Offsets in the file are 2 more than in this array, which starts after the signature.
  constexpr std::size_t kBase = kRunLengthSignatureSize;
  std::array<std::uint8_t, kRunLengthHeaderSize> header{};  // padding stays zero
  const std::span<std::uint8_t> bytes(header);
  StoreLe32(bytes.subspan(kRlDataSizeOffset - kBase),
            static_cast<std::uint32_t>(layout.DataSize()));
  StoreLe16(bytes.subspan(kRlWidthOffset - kBase), static_cast<std::uint16_t>(layout.width));
  StoreLe16(bytes.subspan(kRlHeightOffset - kBase), static_cast<std::uint16_t>(layout.rowCount));
  static TablesByPalette<EffectTables> kept(BuildEffectTables);
  const std::shared_ptr<const EffectTables> tables = kept.Of(palette);
  for (std::size_t i = 0; i < tables->size(); ++i) {
    StoreLe16(bytes.subspan(kEffectTablesOffset - kBase + 2 * i), (*tables)[i]);
  }
  StoreLe32(bytes.subspan(kRowTableSizeOffset - kBase),
            static_cast<std::uint32_t>(layout.rowTableSize));
  StoreLe32(bytes.subspan(kAllRowTablesSizeOffset - kBase),
            static_cast<std::uint32_t>(layout.allRowTablesSize));
  StoreLe16(bytes.subspan(kSegmentCountOffset - kBase),
            static_cast<std::uint16_t>(layout.segmentCount));
  return header;
}

}  // namespace

void WriteRunLengthHead(const Picture& picture, std::string_view signature,
                        const RunLengthLayout& layout, std::span<const std::uint32_t> offsets,
                        ByteSink& sink) {
  sink.Write({reinterpret_cast<const std::uint8_t*>(signature.data()), signature.size()});
  sink.Write(BuildRunLengthHeader(layout, picture.palette()));
  WriteOffsetTables(
      offsets.first(static_cast<std::size_t>(layout.allRowTablesSize / kOffsetEntrySize)), sink);
}

}  // namespace kav
