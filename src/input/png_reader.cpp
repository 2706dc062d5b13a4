#include "input/png_reader.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdlib>
#include <utility>

#include "platform/png_state.h"

namespace kav {
namespace {

// Below this size reading costs less than setting up a mapping.
constexpr std::uint64_t kSmallestMappedFile = std::uint64_t{1} << 20;

// libpng keeps two rows of its own (the row being unfiltered and the one before), each a
// little longer than the row.
constexpr std::uint64_t kLibpngRowBuffers = 2;
constexpr std::uint64_t kLibpngRowSlack = 64;

// What libpng's C callbacks share with the reader. libpng's longjmp passes over it, so it
// holds plain data only.
struct PngInput {
  std::span<const std::uint8_t> file;
  std::size_t position = 0;
  bool outOfMemory = false;  // one of libpng's allocations failed
};

// What the reader needs of the file's header chunks.
struct PngHeader {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colourType = 0;
  std::array<png_color, kPaletteEntries> plte{};
  std::size_t plteEntries = 0;
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp /*message*/) {
  png_longjmp(png, 1);
}

void IgnorePngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

void ReadFromFile(png_structp png, png_bytep into, png_size_t length) {
  PngInput& input = *static_cast<PngInput*>(png_get_io_ptr(png));
  const std::span<const std::uint8_t> rest = input.file.subspan(input.position);
  if (length > rest.size()) {
    png_error(png, "the file is cut short");
  }
  std::copy_n(rest.begin(), length, into);
  input.position += length;
}

// libpng's allocations, watched so that a failed one is told apart from a damaged file.
png_voidp AllocateForPng(png_structp png, png_alloc_size_t size) {
  void* memory = std::malloc(size);
  if (memory == nullptr) {
    static_cast<PngInput*>(png_get_mem_ptr(png))->outOfMemory = true;
  }
  return memory;
}

void FreeForPng(png_structp /*png*/, png_voidp memory) {
  std::free(memory);
}

// Every ancillary chunk is skipped, and any fault in what is left ends the read: a bad CRC
// anywhere, an image stream with too much data or a wrong checksum. Width and height are
// limited by the reader's own memory check, not libpng's default of a million; indices past
// the PLTE are the picture's own business. A skipped chunk is read through a small buffer
// and never held, so no limit on chunk lengths applies (libpng's default refuses any chunk
// over 8 MB, a long text among them); the critical chunks have limits of their own (IHDR 13
// bytes, PLTE 768, and the image stream is inflated as it is read).
void ConfigureStrictRead(png_structp png, PngInput& input) {
  png_set_read_fn(png, &input, ReadFromFile);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  static constexpr std::array<png_byte, 5> kTrns{'t', 'R', 'N', 'S', '\0'};
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kTrns.data(), 1);
  png_set_chunk_malloc_max(png, 0);
  png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
  png_set_benign_errors(png, 0);
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_check_for_invalid_index(png, 0);
}

// libpng reports errors by longjmp back to the setjmp in each of the two functions below, so
// neither keeps an object with a destructor between the two.
bool ReadHeaderChunks(PngReadState& state, PngInput& input, PngHeader& header) {
  png_structp png = state.png();
  png_infop info = state.info();
  if (setjmp(png_jmpbuf(png)) != 0) {
    return false;
  }
  ConfigureStrictRead(png, input);
  png_read_info(png, info);
  png_get_IHDR(png, info, &header.width, &header.height, &header.bitDepth, &header.colourType,
               nullptr, nullptr, nullptr);
  png_colorp plte = nullptr;
  int entries = 0;
  if (png_get_PLTE(png, info, &plte, &entries) != 0) {
    header.plteEntries = std::min(static_cast<std::size_t>(entries), header.plte.size());
    std::copy_n(plte, header.plteEntries, header.plte.begin());
  }
  return true;
}

// Decodes every row, one byte per pixel, into `rows` (top row first, with no padding), then
// checks the rest of the file up to IEND.
bool DecodeRows(PngReadState& state, std::span<std::uint8_t> rows, const PngHeader& header) {
  png_structp png = state.png();
  png_infop info = state.info();
  if (setjmp(png_jmpbuf(png)) != 0) {
    return false;
  }
  png_set_packing(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != header.width) {
    png_error(png, "rows of more than one byte a pixel");
  }
  for (int pass = 0; pass < passes; ++pass) {
    for (std::uint64_t y = 0; y < header.height; ++y) {
      png_read_row(png,
                   rows.subspan(static_cast<std::size_t>(y * header.width), header.width).data(),
                   nullptr);
    }
  }
  png_read_end(png, nullptr);
  return true;
}

bool HasPalette(const PngHeader& header) {
  return header.colourType == PNG_COLOR_TYPE_PALETTE ||
         (header.colourType == PNG_COLOR_TYPE_GRAY && header.bitDepth <= 8);
}

// The PLTE's entries, or for a grey file 2^depth greys.
Palette PaletteOf(const PngHeader& header) {
  Palette palette;
  if (header.colourType == PNG_COLOR_TYPE_PALETTE) {
    palette.count = header.plteEntries;
    for (std::size_t i = 0; i < header.plteEntries; ++i) {
      const png_color colour = header.plte[i];
      palette.entries[i] = {.red = colour.red, .green = colour.green, .blue = colour.blue};
    }
    return palette;
  }
  const unsigned levels = 1U << static_cast<unsigned>(header.bitDepth);
  palette.count = levels;
  for (unsigned v = 0; v < levels; ++v) {
    const auto grey = static_cast<std::uint8_t>(v * 255 / (levels - 1));
    palette.entries[v] = {.red = grey, .green = grey, .blue = grey};
  }
  return palette;
}

// The file's bytes: mapped when large, else read.
std::optional<ReadFailure> LoadWholeFile(ByteSource& source, MemoryBlock& file) {
  const std::uint64_t length = source.Length();
  if (length > SIZE_MAX) {
    return ReadFailure::kOutOfMemory;
  }
  if (source.CanMap() && length >= kSmallestMappedFile) {
    file = source.Map(0, static_cast<std::size_t>(length));
    if (file) {
      return std::nullopt;
    }
  }
  file = MemoryBlock::Allocate(static_cast<std::size_t>(length));
  if (!file) {
    return ReadFailure::kOutOfMemory;
  }
  const std::optional<std::size_t> got = source.Seek(0) ? source.Read(file.bytes()) : std::nullopt;
  return got == file.size() ? std::nullopt : std::optional(ReadFailure::kPngCorrupt);
}

ReadFailure Failed(const PngInput& input) {
  return input.outOfMemory ? ReadFailure::kOutOfMemory : ReadFailure::kPngCorrupt;
}

// The block for the rows, with libpng's row buffers reserved beside it in `budget`. Width and
// height below 2^31 keep every product far from wrapping in 64 bits.
std::optional<ReadFailure> AllocateRows(const PngHeader& header, MemoryBudget& budget,
                                        MemoryBlock& block) {
  const std::uint64_t size = std::uint64_t{header.width} * header.height;
  const std::uint64_t needed = size + kLibpngRowBuffers * (header.width + kLibpngRowSlack);
  MemoryReservation reservation = size <= SIZE_MAX ? budget.Reserve(needed) : MemoryReservation();
  if (!reservation) {
    return ReadFailure::kOutOfMemory;
  }
  block = MemoryBlock::Allocate(static_cast<std::size_t>(size));
  if (!block) {
    return ReadFailure::kOutOfMemory;
  }
  block.Hold(std::move(reservation));
  return std::nullopt;
}

// After the header chunks, with `file` held while libpng reads it.
ReadResult ReadImage(PngReadState& state, PngInput& input, const MemoryBlock& file,
                     MemoryBudget& budget) {
  PngHeader header;
  if (!ReadHeaderChunks(state, input, header)) {
    return Failed(input);
  }
  if (!HasPalette(header)) {
    return ReadFailure::kNoPalette;
  }
  MemoryBlock block;
  if (const std::optional<ReadFailure> refused = AllocateRows(header, budget, block)) {
    return *refused;
  }
  if (!DecodeRows(state, block.bytes(), header)) {
    return Failed(input);
  }
  // A mapped file that shrank while it was decoded read as zeros.
  if (file.Damaged()) {
    return ReadFailure::kPngCorrupt;
  }
  std::optional<Picture> picture =
      Picture::Of(InputKind::kPng, header.width, header.height, PaletteOf(header), std::move(block),
                  {.offset = 0, .stride = header.width, .bottomUp = false});
  if (!picture) {
    return ReadFailure::kPngCorrupt;
  }
  return std::move(*picture);
}

}  // namespace

ReadResult ReadPng(ByteSource& source, MemoryBudget& budget) {
  MemoryBlock file;
  if (const std::optional<ReadFailure> refused = LoadWholeFile(source, file)) {
    return *refused;
  }
  PngInput input{.file = file.bytes()};
  PngReadState state(png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &input, OnPngError,
                                              IgnorePngWarning, &input, AllocateForPng,
                                              FreeForPng));
  if (!state.Ready()) {
    return ReadFailure::kOutOfMemory;
  }
  return ReadImage(state, input, file, budget);
}

}  // namespace kav
