#include "input/png_reader.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdlib>
#include <utility>

namespace kav {
namespace {

constexpr std::array<std::uint8_t, kPngSignatureSize> kPngSignature{0x89, 'P',  'N',  'G',
                                                                    '\r', '\n', 0x1A, '\n'};

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
  std::array<png_color, kBmpPaletteEntries> plte{};
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

// Owns libpng's read state for one file.
class PngReadState {
 public:
  explicit PngReadState(PngInput& input)
      : png_(png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &input, OnPngError, IgnorePngWarning,
                                      &input, AllocateForPng, FreeForPng)),
        info_(png_ != nullptr ? png_create_info_struct(png_) : nullptr) {}
  ~PngReadState() { png_destroy_read_struct(&png_, &info_, nullptr); }
  PngReadState(const PngReadState&) = delete;
  PngReadState& operator=(const PngReadState&) = delete;

  bool Ready() const { return png_ != nullptr && info_ != nullptr; }
  png_structp png() { return png_; }
  png_infop info() { return info_; }

 private:
  png_structp png_;
  png_infop info_;
};

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

// Decodes every row, one byte per pixel, into `rows` (top row first, `stride` bytes apart),
// then checks the rest of the file up to IEND.
bool DecodeRows(PngReadState& state, std::span<std::uint8_t> rows, std::uint64_t stride,
                const PngHeader& header) {
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
      png_read_row(png, rows.subspan(static_cast<std::size_t>(y * stride), header.width).data(),
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

// The palette as a BMP of the same picture holds it: blue, green, red, 0; entries past the
// file's own are black.
void FillPalette(const PngHeader& header, std::span<std::uint8_t> palette) {
  std::fill(palette.begin(), palette.end(), std::uint8_t{0});
  const auto store = [&palette](std::size_t i, png_color colour) {
    const std::array entry{colour.blue, colour.green, colour.red, png_byte{0}};
    std::copy(entry.begin(), entry.end(), palette.subspan(i * kBmpPaletteEntrySize).begin());
  };
  if (header.colourType == PNG_COLOR_TYPE_PALETTE) {
    for (std::size_t i = 0; i < header.plteEntries; ++i) {
      store(i, header.plte[i]);
    }
    return;
  }
  const unsigned levels = 1U << static_cast<unsigned>(header.bitDepth);
  for (unsigned v = 0; v < levels; ++v) {
    const auto grey = static_cast<png_byte>(v * 255 / (levels - 1));
    store(v, {grey, grey, grey});
  }
}

// The file's bytes: mapped when large, else read.
std::int16_t LoadWholeFile(ByteSource& source, MemoryBlock& file) {
  const std::uint64_t length = source.Length();
  if (length > SIZE_MAX) {
    return kBmpOutOfMemory;
  }
  if (source.CanMap() && length >= kSmallestMappedFile) {
    file = source.Map(0, static_cast<std::size_t>(length));
    if (file) {
      return kBmpOk;
    }
  }
  file = MemoryBlock::Allocate(static_cast<std::size_t>(length));
  if (!file) {
    return kBmpOutOfMemory;
  }
  const std::optional<std::size_t> got = source.Seek(0) ? source.Read(file.bytes()) : std::nullopt;
  return got == file.size() ? kBmpOk : kPngCorrupt;
}

std::int16_t Failed(const PngInput& input) {
  return input.outOfMemory ? kBmpOutOfMemory : kPngCorrupt;
}

}  // namespace

bool HasPngSignature(std::span<const std::uint8_t> first) {
  return first.size() >= kPngSignatureSize &&
         std::equal(kPngSignature.begin(), kPngSignature.end(), first.begin());
}

std::int16_t ReadPng(ByteSource& source, MemoryBudget& budget, LoadedBitmap& bitmap) {
  MemoryBlock file;
  const std::int16_t loaded = LoadWholeFile(source, file);
  if (loaded != kBmpOk) {
    return loaded;
  }
  PngInput input{.file = file.bytes()};
  PngReadState state(input);
  PngHeader header;
  if (!state.Ready()) {
    return kBmpOutOfMemory;
  }
  if (!ReadHeaderChunks(state, input, header)) {
    return Failed(input);
  }
  if (!HasPalette(header)) {
    return kPngNoPalette;
  }
  // Width and height below 2^31 keep every product far from wrapping in 64 bits.
  const std::uint64_t stride = BmpStride(header.width);
  const std::uint64_t size = kBmpPaletteBytes + stride * header.height;
  const std::uint64_t needed = size + kLibpngRowBuffers * (header.width + kLibpngRowSlack);
  MemoryReservation reservation = size <= SIZE_MAX ? budget.Reserve(needed) : MemoryReservation();
  if (!reservation) {
    return kBmpOutOfMemory;
  }
  MemoryBlock block = MemoryBlock::Allocate(static_cast<std::size_t>(size));
  if (!block) {
    return kBmpOutOfMemory;
  }
  block.Hold(std::move(reservation));
  FillPalette(header, block.bytes().first(kBmpPaletteBytes));
  const std::span<std::uint8_t> rows = block.bytes().subspan(kBmpPaletteBytes);
  // The padding at the end of each row is zero, as in a BMP twin.
  for (std::uint64_t y = 0; y < header.height; ++y) {
    std::ranges::fill(rows.subspan(static_cast<std::size_t>(y * stride + header.width),
                                   static_cast<std::size_t>(stride - header.width)),
                      std::uint8_t{0});
  }
  if (!DecodeRows(state, rows, stride, header)) {
    return Failed(input);
  }
  // A mapped file that shrank while it was decoded read as zeros.
  if (file.Damaged()) {
    return kPngCorrupt;
  }
  bitmap.block = std::move(block);
  bitmap.width = static_cast<std::int32_t>(header.width);
  bitmap.height = -static_cast<std::int32_t>(header.height);
  return kBmpOk;
}

}  // namespace kav
