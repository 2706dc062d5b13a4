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
bool DataSizeFits(const Picture& picture, RunLengthVariant variant, RunLengthLayout& layout,
                  CodingBuffers& buffers) {
  if (!MayOverflowDataSize(layout)) {
    return true;
  }
  CodeRows(picture, variant, layout, buffers.Offsets(), buffers.scratch.bytes(), nullptr);
  return layout.DataSize() <= std::numeric_limits<std::uint32_t>::max();
}

// One pass over the pixels: the coded rows go first, after room for the head, and the head
// follows once coding has given every offset.
bool WriteRunLengthFile(OutputStream& file, const Picture& picture, RunLengthVariant variant,
                        RunLengthLayout& layout, CodingBuffers& buffers) {
  if (!file.Seek(layout.HeadSize())) {
    return false;
  }
  FileSink rows(file);
  CodeRows(picture, variant, layout, buffers.Offsets(), buffers.scratch.bytes(), &rows);
  if (!rows.Flush() || !file.Seek(0)) {
    return false;
  }
  FileSink head(file);
  WriteRunLengthHead(picture, variant, layout, buffers.Offsets(), head);
  return head.Flush();
}

bool ConvertToRunLength(ConverterHost& host, const std::string& sourcePath,
                        const std::string& outputPath, RunLengthVariant variant) {
  std::optional<Picture> picture = LoadSource(host, sourcePath, kLoadErrorText);
  if (!picture) {
    return false;
  }
  if (picture->width() == 0 || picture->height() == 0) {
    host.SetStatusText(std::string(kEmptyImageText));
    return false;
  }
  if (!FitsFileHeader(*picture)) {
    return RefuseTooLarge(host, *picture);
  }
  std::optional<CodingBuffers> buffers = AllocateCodingBuffers(*picture);
  if (!buffers) {
    host.SetStatusText(std::string(kAllocationErrorText));
    return false;
  }
  RunLengthLayout layout = LayoutOf(*picture);
  if (!DataSizeFits(*picture, variant, layout, *buffers)) {
    return RefuseTooLarge(host, *picture);
  }
  return WriteOutputs(host, outputPath, sourcePath, *picture,
                      {.loadErrorStatus = kLoadErrorText, .writtenFormat = kSuccessFormat},
                      [&](OutputStream& file) {
                        return WriteRunLengthFile(file, *picture, variant, layout, *buffers);
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
