#include "input/png_reader.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

#include "color/exact_palette.h"
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
  int interlace = PNG_INTERLACE_NONE;
  std::array<png_color, kPaletteEntries> plte{};
  std::size_t plteEntries = 0;
  // From the tRNS chunk: each palette entry's alpha (255 past the chunk's length), or the
  // colour key of a grey or RGB file.
  std::array<std::uint8_t, kPaletteEntries> plteAlphas{};
  std::optional<png_color_16> key;
};

// ---- The tRNS chunk, honoured when it is the file's only one and libpng would take it.

// The chunk layout: a 4-byte big-endian length, a 4-byte type, the data, a 4-byte CRC; IHDR,
// always first, holds the bit depth at data offset 8 and the colour type at 9.
constexpr std::size_t kPngSignatureSize = 8;
constexpr std::size_t kChunkLengthSize = 4;
constexpr std::size_t kChunkTypeSize = 4;
constexpr std::size_t kChunkCrcSize = 4;
constexpr std::size_t kChunkOverhead = kChunkLengthSize + kChunkTypeSize + kChunkCrcSize;
constexpr std::size_t kIhdrColourTypeOffset = 9;
constexpr std::size_t kPlteEntrySize = 3;
constexpr std::size_t kGreyKeyBytes = 2;
constexpr std::size_t kRgbKeyBytes = 6;

struct TrnsScan {
  std::size_t chunks = 0;           // tRNS chunks in the file
  bool placed = true;               // the first lies after PLTE (palette files) and before IDAT
  std::size_t length = 0;           // the first one's
  std::optional<std::size_t> plte;  // PLTE entries, when PLTE came before it
  int colourType = -1;
};

std::uint32_t LoadBe32(std::span<const std::uint8_t> bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | bytes[3];
}

bool IsType(std::span<const std::uint8_t> type, std::string_view name) {
  return std::equal(name.begin(), name.end(), type.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

// Walks the chunks' headers (libpng checks their CRCs as it reads them).
TrnsScan ScanForTrns(std::span<const std::uint8_t> file) {
  TrnsScan scan;
  bool idat = false;
  for (std::size_t at = kPngSignatureSize;
       at <= file.size() && file.size() - at >= kChunkOverhead;) {
    const std::uint64_t length = LoadBe32(file.subspan(at, kChunkLengthSize));
    const std::span<const std::uint8_t> type = file.subspan(at + kChunkLengthSize, kChunkTypeSize);
    const std::span<const std::uint8_t> data = file.subspan(at + kChunkLengthSize + kChunkTypeSize);
    if (length > data.size()) {
      break;
    }
    if (IsType(type, "IHDR") && length > kIhdrColourTypeOffset && scan.colourType < 0) {
      scan.colourType = data[kIhdrColourTypeOffset];
    } else if (IsType(type, "PLTE") && !scan.plte) {
      scan.plte = static_cast<std::size_t>(length / kPlteEntrySize);
    } else if (IsType(type, "IDAT")) {
      idat = true;
    } else if (IsType(type, "tRNS") && scan.chunks++ == 0) {
      scan.length = static_cast<std::size_t>(length);
      scan.placed = !idat && (scan.colourType != PNG_COLOR_TYPE_PALETTE || scan.plte);
    }
    at += kChunkOverhead + static_cast<std::size_t>(length);
  }
  return scan;
}

// Whether libpng would take the tRNS chunk without complaint: any other is skipped, as every
// ancillary chunk the reader does not use is.
bool HonoursTrns(std::span<const std::uint8_t> file) {
  const TrnsScan scan = ScanForTrns(file);
  if (scan.chunks != 1 || !scan.placed) {
    return false;
  }
  switch (scan.colourType) {
    case PNG_COLOR_TYPE_GRAY:
      return scan.length == kGreyKeyBytes;
    case PNG_COLOR_TYPE_RGB:
      return scan.length == kRgbKeyBytes;
    case PNG_COLOR_TYPE_PALETTE:
      return scan.length >= 1 && scan.length <= std::min(*scan.plte, kPaletteEntries);
    default:
      return false;
  }
}

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

// Every ancillary chunk but a sound tRNS is skipped, and any fault in what is left ends the read: a
// bad CRC anywhere, an image stream with too much data or a wrong checksum. Width and height are
// limited by the reader's own memory check, not libpng's default of a million; indices past
// the PLTE are the picture's own business. A skipped chunk is read through a small buffer
// and never held, so no limit on chunk lengths applies (libpng's default refuses any chunk
// over 8 MB, a long text among them); the critical chunks have limits of their own (IHDR 13
// bytes, PLTE 768, and the image stream is inflated as it is read).
void ConfigureStrictRead(png_structp png, PngInput& input) {
  png_set_read_fn(png, &input, ReadFromFile);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  if (!HonoursTrns(input.file)) {
    static constexpr std::array<png_byte, 5> kTrns{'t', 'R', 'N', 'S', '\0'};
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kTrns.data(), 1);
  }
  png_set_chunk_malloc_max(png, 0);
  png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
  png_set_benign_errors(png, 0);
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_check_for_invalid_index(png, 0);
}

void ReadTrns(png_structp png, png_infop info, PngHeader& header) {
  std::ranges::fill(header.plteAlphas, std::uint8_t{255});
  png_bytep alphas = nullptr;
  int count = 0;
  png_color_16p key = nullptr;
  if (png_get_tRNS(png, info, &alphas, &count, &key) == 0) {
    return;
  }
  if (header.colourType == PNG_COLOR_TYPE_PALETTE && alphas != nullptr) {
    std::copy_n(alphas, std::min(static_cast<std::size_t>(count), kPaletteEntries),
                header.plteAlphas.begin());
  } else if (key != nullptr) {
    header.key = *key;
  }
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
               &header.interlace, nullptr, nullptr);
  png_colorp plte = nullptr;
  int entries = 0;
  if (png_get_PLTE(png, info, &plte, &entries) != 0) {
    header.plteEntries = std::min(static_cast<std::size_t>(entries), header.plte.size());
    std::copy_n(plte, header.plteEntries, header.plte.begin());
  }
  ReadTrns(png, info, header);
  return true;
}

// What libpng is asked to turn the rows into: one byte an index, or 4 bytes of 8-bit red,
// green, blue and alpha (each 16-bit sample its high byte, a colour key compared on the
// full samples).
void SetTransforms(png_structp png, bool trueColour) {
  if (!trueColour) {
    png_set_packing(png);
    png_set_strip_16(png);
    return;
  }
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
}

// Decodes every row, `pixelBytes` a pixel, into `rows` (top row first, with no padding),
// then checks the rest of the file up to IEND.
bool DecodeRows(PngReadState& state, std::span<std::uint8_t> rows, const PngHeader& header,
                std::size_t pixelBytes) {
  png_structp png = state.png();
  png_infop info = state.info();
  if (setjmp(png_jmpbuf(png)) != 0) {
    return false;
  }
  SetTransforms(png, pixelBytes != 1);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::size_t rowBytes = std::size_t{header.width} * pixelBytes;
  if (png_get_rowbytes(png, info) != rowBytes) {
    png_error(png, "rows of an unexpected length");
  }
  for (int pass = 0; pass < passes; ++pass) {
    for (std::uint64_t y = 0; y < header.height; ++y) {
      png_read_row(png, rows.subspan(static_cast<std::size_t>(y) * rowBytes, rowBytes).data(),
                   nullptr);
    }
  }
  png_read_end(png, nullptr);
  return true;
}

constexpr int kSixteenBits = 16;

// Palette files and grey files are read as indices; a 16-bit grey file with a colour key is
// read as truecolour, since its key may tell apart pixels of one 8-bit level.
// Decodes every row of a truecolour file that is not interlaced into `row`, 4 bytes a pixel,
// and maps it at once into its part of `indices` (top row first, no padding). `tooMany` is
// set, and the rest of the file left, once the rows have more colours than any palette.
bool DecodeMappedRows(PngReadState& state, std::span<std::uint8_t> row,
                      std::span<std::uint8_t> indices, const PngHeader& header,
                      StreamedExactPalette& palette, bool& tooMany) {
  png_structp png = state.png();
  png_infop info = state.info();
  if (setjmp(png_jmpbuf(png)) != 0) {
    return false;
  }
  SetTransforms(png, true);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != row.size()) {
    png_error(png, "rows of an unexpected length");
  }
  for (std::uint64_t y = 0; y < header.height; ++y) {
    png_read_row(png, row.data(), nullptr);
    if (!palette.MapRow(
            row, indices.subspan(static_cast<std::size_t>(y) * header.width, header.width))) {
      tooMany = true;
      return true;
    }
  }
  png_read_end(png, nullptr);
  return true;
}

bool HasPalette(const PngHeader& header) {
  return header.colourType == PNG_COLOR_TYPE_PALETTE ||
         (header.colourType == PNG_COLOR_TYPE_GRAY &&
          (header.bitDepth < kSixteenBits || !header.key));
}

// The PLTE's entries with the tRNS's alphas, or for a grey file the greys of its depth (8
// bits for a 16-bit file), the keyed level's transparent.
Palette PaletteOf(const PngHeader& header) {
  Palette palette;
  if (header.colourType == PNG_COLOR_TYPE_PALETTE) {
    palette.count = header.plteEntries;
    for (std::size_t i = 0; i < header.plteEntries; ++i) {
      const png_color colour = header.plte[i];
      palette.entries[i] = {.red = colour.red, .green = colour.green, .blue = colour.blue};
    }
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
      palette.entries[i].alpha = header.plteAlphas[i];
    }
    return palette;
  }
  const unsigned levels = 1U << static_cast<unsigned>(std::min(header.bitDepth, 8));
  palette.count = levels;
  for (unsigned v = 0; v < levels; ++v) {
    const auto grey = static_cast<std::uint8_t>(v * 255 / (levels - 1));
    palette.entries[v] = {.red = grey, .green = grey, .blue = grey};
  }
  if (header.key && header.key->gray < levels) {
    palette.entries[header.key->gray].alpha = 0;
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

// The block for the rows of `pixelBytes` a pixel, with libpng's row buffers of
// `decodedBytes` a pixel (and `ownRows` more rows of the reader's) reserved beside it in
// `budget`. Width and height below 2^31 keep every product far from wrapping in 64 bits.
std::optional<ReadFailure> AllocateRows(const PngHeader& header, std::size_t pixelBytes,
                                        std::size_t decodedBytes, std::uint64_t ownRows,
                                        MemoryBudget& budget, MemoryBlock& block) {
  const std::uint64_t pixels = std::uint64_t{header.width} * header.height;
  const std::uint64_t size = pixels * pixelBytes;
  const std::uint64_t rowBytes = std::uint64_t{header.width} * decodedBytes;
  const std::uint64_t needed = size + (kLibpngRowBuffers + ownRows) * (rowBytes + kLibpngRowSlack);
  block = MemoryBlock::AllocateReserved(size, needed, budget);
  if (!block) {
    return ReadFailure::kOutOfMemory;
  }
  return std::nullopt;
}

// A truecolour file's palette picture, mapped row by row: its indices and one row of RGBA
// are all the memory it takes besides libpng's.
ReadResult ReadMappedRows(PngReadState& state, PngInput& input, const MemoryBlock& file,
                          const PngHeader& header, MemoryBudget& budget,
                          const TransparencyRules& rules) {
  const std::uint64_t rowBytes = std::uint64_t{header.width} * kRgbaPixelBytes;
  MemoryBlock indices;
  if (const std::optional<ReadFailure> refused =
          AllocateRows(header, 1, kRgbaPixelBytes, 1, budget, indices)) {
    return *refused;
  }
  MemoryBlock row = MemoryBlock::Allocate(static_cast<std::size_t>(rowBytes));
  if (!row) {
    return ReadFailure::kOutOfMemory;
  }
  StreamedExactPalette palette(rules);
  bool tooMany = false;
  if (!DecodeMappedRows(state, row.bytes(), indices.bytes(), header, palette, tooMany)) {
    return Failed(input);
  }
  if (file.Damaged()) {
    return ReadFailure::kPngCorrupt;
  }
  // More colours than fit: where colour reduction will read the picture whole instead.
  if (tooMany || palette.Choose() == PaletteChoice::kTooManyColours) {
    return ReadFailure::kTooManyColours;
  }
  palette.Finish(indices.bytes());
  std::optional<Picture> picture =
      Picture::Of(InputKind::kPng, header.width, header.height, OpaquePalette(palette.Palette()),
                  std::move(indices), {.offset = 0, .stride = header.width, .bottomUp = false});
  if (!picture) {
    return ReadFailure::kPngCorrupt;
  }
  return std::move(*picture);
}

// After the header chunks, with `file` held while libpng reads it.
ReadResult ReadImage(PngReadState& state, PngInput& input, const MemoryBlock& file,
                     MemoryBudget& budget, const TransparencyRules* rules) {
  PngHeader header;
  if (!ReadHeaderChunks(state, input, header)) {
    return Failed(input);
  }
  const bool trueColour = !HasPalette(header);
  if (trueColour && rules != nullptr && header.interlace == PNG_INTERLACE_NONE) {
    return ReadMappedRows(state, input, file, header, budget, *rules);
  }
  const std::size_t pixelBytes = trueColour ? kRgbaPixelBytes : 1;
  MemoryBlock block;
  if (const std::optional<ReadFailure> refused =
          AllocateRows(header, pixelBytes, pixelBytes, 0, budget, block)) {
    return *refused;
  }
  if (!DecodeRows(state, block.bytes(), header, pixelBytes)) {
    return Failed(input);
  }
  // A mapped file that shrank while it was decoded read as zeros.
  if (file.Damaged()) {
    return ReadFailure::kPngCorrupt;
  }
  std::optional<Picture> picture =
      trueColour
          ? Picture::OfRgba(InputKind::kPng, header.width, header.height, std::move(block))
          : Picture::Of(InputKind::kPng, header.width, header.height, PaletteOf(header),
                        std::move(block), {.offset = 0, .stride = header.width, .bottomUp = false});
  if (!picture) {
    return ReadFailure::kPngCorrupt;
  }
  return std::move(*picture);
}

}  // namespace

ReadResult ReadPng(ByteSource& source, MemoryBudget& budget, const TransparencyRules* rules) {
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
  return ReadImage(state, input, file, budget, rules);
}

}  // namespace kav
