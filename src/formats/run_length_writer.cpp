// The RLE and RLS writer: code a picture and write the file.

#include <limits>

#include "formats/output_shell.h"
#include "formats/run_length.h"

namespace kav {
namespace {

// The offset tables and the coding scratch of one picture.
struct CodingBuffers {
  MemoryBlock offsetBlock;
  MemoryBlock scratch;

  std::span<std::uint32_t> Offsets() {
    // malloc'd memory is aligned for any scalar type.
    return {reinterpret_cast<std::uint32_t*>(offsetBlock.data()),
            offsetBlock.size() / kOffsetEntrySize};
  }
};

// Both blocks, or nullopt when either cannot be had.
std::optional<CodingBuffers> AllocateCodingBuffers(const Picture& picture) {
  const std::uint64_t offsetEntries =
      std::uint64_t{SegmentCountFor(picture.width())} * picture.height();
  CodingBuffers buffers;
  buffers.offsetBlock =
      MemoryBlock::Allocate(static_cast<std::size_t>(offsetEntries * kOffsetEntrySize));
  if (buffers.offsetBlock) {
    buffers.scratch =
        MemoryBlock::Allocate(static_cast<std::size_t>(CodingScratchBytes(picture.width())));
  }
  if (!buffers.offsetBlock || !buffers.scratch) {
    return std::nullopt;
  }
  return buffers;
}

// Whether dataSize fits its 32 bits. Only a measuring pass can tell for the largest
// pictures; it runs before anything is made.
bool DataSizeFits(const Picture& picture, const RunCodedIndices& runCoded, RunLengthLayout& layout,
                  CodingBuffers& buffers) {
  if (!MayOverflowDataSize(layout)) {
    return true;
  }
  CodeRows(picture, runCoded, layout, buffers.Offsets(), buffers.scratch.bytes(), nullptr);
  return layout.DataSize() <= std::numeric_limits<std::uint32_t>::max();
}

// Pictures up to this many pixels are coded into memory first, so that the whole file goes
// out in one write: for a sprite, a second write costs about what coding it does.
constexpr std::uint64_t kMostPixelsCodedInMemory = 64 * 1024;

// One pass over the pixels: the coded rows go first, after room for the head, and the head
// follows once coding has given every offset. A small picture's rows wait in memory for the
// head instead.
bool WriteRunLengthFile(OutputStream& file, const Picture& picture, const OutputFormatInfo& format,
                        RunLengthLayout& layout, CodingBuffers& buffers) {
  if (std::uint64_t{picture.width()} * picture.height() <= kMostPixelsCodedInMemory) {
    VectorSink rows;
    CodeRows(picture, format.runCoded, layout, buffers.Offsets(), buffers.scratch.bytes(), &rows);
    FileSink whole(file);
    WriteRunLengthHead(picture, format.signature, layout, buffers.Offsets(), whole);
    whole.Write(rows.bytes());
    return whole.Flush();
  }
  if (!file.Seek(layout.HeadSize())) {
    return false;
  }
  FileSink rows(file);
  CodeRows(picture, format.runCoded, layout, buffers.Offsets(), buffers.scratch.bytes(), &rows);
  if (!rows.Flush() || !file.Seek(0)) {
    return false;
  }
  FileSink head(file);
  WriteRunLengthHead(picture, format.signature, layout, buffers.Offsets(), head);
  return head.Flush();
}

}  // namespace

Conversion WriteRunLength(Picture& picture, const ConversionSettings& settings,
                          const OutputTarget& target) {
  const OutputFormatInfo& format = FormatOf(settings.format);
  if (picture.width() == 0 || picture.height() == 0) {
    return Refuse(picture, Outcome::kNoPixels);
  }
  if (!FitsFileHeader(picture)) {
    return Refuse(picture, Outcome::kTooLarge);
  }
  std::optional<CodingBuffers> buffers = AllocateCodingBuffers(picture);
  if (!buffers) {
    return Refuse(picture, Outcome::kOutOfMemory);
  }
  RunLengthLayout layout = LayoutOf(picture);
  if (!DataSizeFits(picture, format.runCoded, layout, *buffers)) {
    return Refuse(picture, Outcome::kTooLarge);
  }
  return WriteOutputs(picture, settings, target, [&](OutputStream& file) {
    return WriteRunLengthFile(file, picture, format, layout, *buffers);
  });
}

}  // namespace kav
