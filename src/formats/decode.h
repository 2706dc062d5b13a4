#pragma once
// Decoders for the three output formats, over a whole file in memory (usually mapped): every
// header field, every colour table and the palette index of every pixel.
//
// They check the complete structure of the file (the layouts are described beside their
// writers in mzr.h and run_length.h) and refuse a damaged file with the file offset of the
// fault and one sentence saying what is wrong. Whatever the bytes, they never read outside
// `bytes`. The header is judged against the length of the file before anything after it is
// read, so a huge file with a bad header costs nothing (its pages are never touched when it
// is mapped). PixelOutput::kCheckOnly decodes and checks every row in memory for one row;
// kKeep then keeps every index as well, allocated only once every check has passed (for tests
// and fuzzing: RowDecoder gives the rows of a large image one at a time).
//
// The results own their data; `bytes` is not referenced after a call returns.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "color/rgb565.h"
#include "formats/run_length.h"

namespace kav {

enum class FileKind { kMzr, kRle, kRls, kUnknown };

// The kind of file by its first bytes: "KAV8BMP" for MZR (the zero byte that ends the
// magic is checked by the decoder), "RL" for RLE, "RS" for RLS. File names play no part.
FileKind DetectFileKind(std::span<const std::uint8_t> bytes);

// Whether a converted file that begins with `leading` was written with `settings`: in their
// format (RLE and RLS are told apart by their signatures) and, for MZR, with the four
// settings its 20-byte header holds.
bool WrittenWith(std::span<const std::uint8_t> leading, const ConversionSettings& settings);

// "MZR", "RLE", "RLS" or "unknown".
std::string_view FileKindName(FileKind kind);

// One table of a file: the colour of each palette index, entry 0 first.

// The settings stored in an MZR header.
struct MzrFields {
  bool useRemapping = false;
  std::uint16_t startColor = 0;
  std::uint16_t endColor = 0;
  std::uint16_t transparentColor = 0;
};

// The sizes stored in a run-length header.
struct RunLengthFields {
  std::uint32_t dataSize = 0;
  std::uint32_t rowTableSize = 0;
  std::uint32_t allRowTablesSize = 0;
  std::uint16_t segmentCount = 0;
};

struct DecodedImage {
  FileKind kind = FileKind::kUnknown;
  std::uint16_t width = 0;
  std::uint16_t height = 0;                  // the number of rows
  std::optional<MzrFields> mzr;              // set for MZR files
  std::optional<RunLengthFields> runLength;  // set for RLE and RLS files
  // MZR: 32 shade tables (8 * group + level, groups untinted, red, green, blue; level 4 is
  // the plain palette). RLE and RLS: the 8 effect tables, table 0 the plain palette.
  std::vector<ColourTable> tables;
  // width * height palette indices, top row first; empty after PixelOutput::kCheckOnly.
  std::vector<std::uint8_t> indices;
};

struct DecodeError {
  std::uint64_t offset = 0;  // where in the file the fault lies
  std::string reason;        // what is wrong, as one sentence without a final full stop
};

using DecodeResult = std::variant<DecodedImage, DecodeError>;

enum class PixelOutput { kKeep, kCheckOnly };

// Decodes a file of any of the three kinds, recognised by DetectFileKind.
DecodeResult DecodeFile(std::span<const std::uint8_t> bytes,
                        PixelOutput pixels = PixelOutput::kKeep);

// Decodes an MZR file. Its length must be exactly 16404 + width * height, the magic
// "KAV8BMP" and a zero byte, the reserved byte 0 and the remapping byte 0 or 1.
DecodeResult DecodeMzr(std::span<const std::uint8_t> bytes,
                       PixelOutput pixels = PixelOutput::kKeep);

// Decodes an RLE or RLS file (the signature must be the variant's). Besides the header
// sizes it checks that every offset entry points at the first code of its segment, that
// run counts are 1 to 128, that no run crosses a segment boundary or the end of its row,
// and that every coded byte belongs to a row.
DecodeResult DecodeRunLength(std::span<const std::uint8_t> bytes, RunLengthVariant variant,
                             PixelOutput pixels = PixelOutput::kKeep);

// Reads consecutive little-endian colour tables; bytes beyond the last whole table are
// ignored.
std::vector<ColourTable> ReadColourTables(std::span<const std::uint8_t> bytes);

// The rows of a file that the decoders have accepted, decoded one at a time from its bytes
// when asked for, in memory for one row whatever the size of the image. The offsets and codes
// are trusted as checked, but no read leaves `bytes`, which must outlive the decoder.
class RowDecoder {
 public:
  RowDecoder(const DecodedImage& image, std::span<const std::uint8_t> bytes);

  // Row `r` counted from the top: width palette indices, valid until the next call. Empty
  // when `r` is not a row.
  std::span<const std::uint8_t> Row(std::uint32_t r);

 private:
  void DecodeRunLengthRow(std::uint32_t r);

  FileKind kind_;
  std::uint32_t height_;
  std::span<const std::uint8_t> bytes_;
  std::vector<std::uint8_t> row_;
  std::optional<std::uint32_t> decoded_;  // the row in row_
};

// `result`, with every index of an accepted image added when `pixels` asks to keep them.
DecodeResult KeepIndicesIf(PixelOutput pixels, DecodeResult result,
                           std::span<const std::uint8_t> bytes);

}  // namespace kav
