// The RLE and RLS writers: read a BMP file, code it and write the file, telling the user
// how it went.

#include <limits>

#include "formats/output_shell.h"
#include "formats/run_length.h"

namespace kav {
namespace {

constexpr std::string_view kLoadErrorText = "Error while loading BMP file!";
constexpr std::string_view kEmptyImageText = "Error: this image has no pixels!";
constexpr const char* kSuccessFormat = "SUCCESS!!  %s converted!";

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
std::optional<CodingBuffers> AllocateCodingBuffers(const BitmapView& view) {
  const std::uint64_t offsetEntries = std::uint64_t{SegmentCountFor(view.width)} * view.rowCount;
  CodingBuffers buffers;
  buffers.offsetBlock =
      MemoryBlock::Allocate(static_cast<std::size_t>(offsetEntries * kOffsetEntrySize));
  if (buffers.offsetBlock) {
    buffers.scratch =
        MemoryBlock::Allocate(static_cast<std::size_t>(CodingScratchBytes(view.width)));
  }
  if (!buffers.offsetBlock || !buffers.scratch) {
    return std::nullopt;
  }
  return buffers;
}

// Whether dataSize fits its 32 bits. Only a measuring pass can tell for the largest
// pictures; it runs before anything is made.
bool DataSizeFits(const BitmapView& view, RunLengthVariant variant, RunLengthLayout& layout,
                  CodingBuffers& buffers) {
  if (!MayOverflowDataSize(layout)) {
    return true;
  }
  CodeRows(view, variant, layout, buffers.Offsets(), buffers.scratch.bytes(), nullptr);
  return layout.DataSize() <= std::numeric_limits<std::uint32_t>::max();
}

// One pass over the pixels: the coded rows go first, after room for the head, and the head
// follows once coding has given every offset.
bool WriteRunLengthFile(OutputStream& file, const BitmapView& view, RunLengthVariant variant,
                        RunLengthLayout& layout, CodingBuffers& buffers) {
  if (!file.Seek(layout.HeadSize())) {
    return false;
  }
  FileSink rows(file);
  CodeRows(view, variant, layout, buffers.Offsets(), buffers.scratch.bytes(), &rows);
  if (!rows.Flush() || !file.Seek(0)) {
    return false;
  }
  FileSink head(file);
  WriteRunLengthHead(view, variant, layout, buffers.Offsets(), head);
  return head.Flush();
}

bool ConvertToRunLength(ConverterHost& host, const std::string& sourcePath,
                        const std::string& outputPath, RunLengthVariant variant) {
  LoadedBitmap bitmap;
  const std::optional<BitmapView> view = LoadSource(host, sourcePath, bitmap, kLoadErrorText);
  if (!view) {
    return false;
  }
  if (view->width == 0 || view->rowCount == 0) {
    host.SetStatusText(std::string(kEmptyImageText));
    return false;
  }
  if (!FitsFileHeader(*view)) {
    return RefuseTooLarge(host, bitmap);
  }
  std::optional<CodingBuffers> buffers = AllocateCodingBuffers(*view);
  if (!buffers) {
    host.SetStatusText(std::string(kAllocationErrorText));
    return false;
  }
  RunLengthLayout layout = LayoutOf(*view);
  if (!DataSizeFits(*view, variant, layout, *buffers)) {
    return RefuseTooLarge(host, bitmap);
  }
  return WriteOutputs(host, outputPath, sourcePath, bitmap.block,
                      {.loadErrorStatus = kLoadErrorText, .writtenFormat = kSuccessFormat},
                      [&](OutputStream& file) {
                        return WriteRunLengthFile(file, *view, variant, layout, *buffers);
                      });
}

}  // namespace

bool ConvertToRle(ConverterHost& host, const std::string& sourcePath,
                  const std::string& outputPath) {
  return ConvertToRunLength(host, sourcePath, outputPath, RunLengthVariant::kRle);
}

bool ConvertToRls(ConverterHost& host, const std::string& sourcePath,
                  const std::string& outputPath) {
  return ConvertToRunLength(host, sourcePath, outputPath, RunLengthVariant::kRls);
}

}  // namespace kav
