// The band driver: every row of a picture coded through a scratch block of one band, with
// the offset of each row's segments recorded as it goes.

#include <algorithm>

#include "formats/run_length.h"

namespace kav {
namespace {

// Where the segments of each row of a band begin.
using BandStarts = std::array<std::uint32_t, MaxBandSegments()>;

// The rows of one band, coded in the order they are stored: the processor's prefetcher
// follows memory read upwards, but a bottom-up picture stores the top row last, and walking it
// backwards one row at a time made every row start cold (narrow pictures, with many rows per
// megapixel, cost up to twice as much per pixel). Row i of the band goes to slot i of
// `scratch`, its length to `lengths[i]`, and where its segments begin within its code to
// entries i * segmentCount onwards of `starts`.
void CodeBand(const Picture& picture, const RunCodedIndices& runCoded, std::uint32_t firstRow,
              std::uint32_t count, std::span<std::uint8_t> scratch,
              std::span<std::uint32_t> lengths, std::span<std::uint32_t> starts) {
  const auto slotBytes = static_cast<std::size_t>(MaxCodedRowBytes(picture.width()));
  const std::uint32_t segments = SegmentCountFor(picture.width());
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint32_t i = picture.StoredBottomUp() ? count - 1 - k : k;
    lengths[i] = static_cast<std::uint32_t>(CodeRow(picture.Row(firstRow + i), runCoded,
                                                    scratch.subspan(i * slotBytes, slotBytes),
                                                    starts.subspan(i * segments, segments)));
  }
}

}  // namespace

void CodeRows(const Picture& picture, const RunCodedIndices& runCoded, RunLengthLayout& layout,
              std::span<std::uint32_t> offsets, std::span<std::uint8_t> scratch,
              ByteSink* codedRows) {
  layout.codedBytes = 0;
  if (scratch.size() < CodingScratchBytes(picture.width()) ||
      offsets.size() < std::uint64_t{layout.segmentCount} * picture.height()) {
    return;  // the caller did not size the buffers for this picture
  }
  const std::uint32_t bandRows = BandRowsFor(picture.width());
  const auto slotBytes = static_cast<std::size_t>(MaxCodedRowBytes(picture.width()));
  std::array<std::uint32_t, kMaxBandRows> lengths{};
  BandStarts starts{};
  for (std::uint32_t first = 0; first < picture.height(); first += bandRows) {
    const std::uint32_t count = std::min(bandRows, picture.height() - first);
    CodeBand(picture, runCoded, first, count, scratch, lengths, starts);
    // The band's rows go out top row first.
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint64_t rowStart = layout.allRowTablesSize + layout.codedBytes;
      for (std::uint32_t s = 0; s < layout.segmentCount; ++s) {
        // Entries wrap beyond 4 GiB; such files are refused before they are written.
        offsets[std::size_t{s} * picture.height() + first + i] =
            static_cast<std::uint32_t>(rowStart + starts[i * layout.segmentCount + s]);
      }
      if (codedRows != nullptr) {
        codedRows->Write(scratch.subspan(i * slotBytes, lengths[i]));
      }
      layout.codedBytes += lengths[i];
    }
  }
}

std::vector<std::uint8_t> EncodeRunLength(const Picture& picture, OutputFormat format) {
  const OutputFormatInfo& info = FormatOf(format);
  RunLengthLayout layout = LayoutOf(picture);
  std::vector<std::uint32_t> offsets(std::size_t{layout.segmentCount} * layout.rowCount);
  std::vector<std::uint8_t> scratch(static_cast<std::size_t>(CodingScratchBytes(picture.width())));
  VectorSink rows;
  CodeRows(picture, info.runCoded, layout, offsets, scratch, &rows);
  VectorSink file;
  WriteRunLengthHead(picture, info.signature, layout, offsets, file);
  file.Write(rows.bytes());
  return std::move(file.bytes());
}

}  // namespace kav
