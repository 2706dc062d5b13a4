#include "formats/decode.h"

#include <algorithm>

#include "formats/byte_sink.h"
#include "formats/mzr.h"
#include "platform/format_text.h"

namespace kav {
namespace {

// The part of the magic that identifies an MZR file; its last byte, zero, is checked later.
constexpr std::string_view kMzrMagicText = kMzrMagic.substr(0, kMzrMagic.size() - 1);

unsigned long long Num(std::uint64_t value) {
  return value;
}

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                    [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
}

DecodeError MzrLengthError(std::uint64_t length, std::uint16_t width, std::uint16_t height) {
  const std::uint64_t expected = kMzrRowsOffset + std::uint64_t{width} * height;
  if (length < expected) {
    return {length, FormatText("the file ends after %llu bytes, but a %u x %u image needs %llu "
                               "(%zu + width x height)",
                               Num(length), width, height, Num(expected), kMzrRowsOffset)};
  }
  return {expected, FormatText("the file is %llu bytes long, but a %u x %u image ends at %llu "
                               "(%zu + width x height)",
                               Num(length), width, height, Num(expected), kMzrRowsOffset)};
}

// The header checks that do not depend on the length of the pixel rows.
std::optional<DecodeError> CheckMzrHeader(std::span<const std::uint8_t> header) {
  for (std::size_t i = 0; i < kMzrMagic.size(); ++i) {
    const auto expected = static_cast<std::uint8_t>(kMzrMagic[i]);
    if (header[kMzrMagicOffset + i] != expected) {
      return DecodeError{kMzrMagicOffset + i,
                         FormatText("magic byte %zu is 0x%02X, not 0x%02X: an MZR file begins "
                                    "with \"KAV8BMP\" and a zero byte",
                                    i, header[kMzrMagicOffset + i], expected)};
    }
  }
  if (header[kMzrRemappingOffset] > 1) {
    return DecodeError{kMzrRemappingOffset, FormatText("the remapping flag is %u, not 0 or 1",
                                                       header[kMzrRemappingOffset])};
  }
  if (header[kMzrReservedOffset] != 0) {
    return DecodeError{kMzrReservedOffset,
                       FormatText("the reserved byte is %u, not 0", header[kMzrReservedOffset])};
  }
  return std::nullopt;
}

}  // namespace

FileKind DetectFileKind(std::span<const std::uint8_t> bytes) {
  if (StartsWith(bytes, kMzrMagicText)) {
    return FileKind::kMzr;
  }
  if (StartsWith(bytes, SignatureOf(RunLengthVariant::kRle))) {
    return FileKind::kRle;
  }
  if (StartsWith(bytes, SignatureOf(RunLengthVariant::kRls))) {
    return FileKind::kRls;
  }
  return FileKind::kUnknown;
}

bool WrittenWith(std::span<const std::uint8_t> leading, const ConversionSettings& settings) {
  if (settings.format == kFormatRle || settings.format == kFormatRls) {
    const FileKind kind = settings.format == kFormatRle ? FileKind::kRle : FileKind::kRls;
    return DetectFileKind(leading) == kind;
  }
  if (leading.size() < kMzrHeaderSize || CheckMzrHeader(leading)) {
    return false;
  }
  const auto holds = [leading](std::size_t offset, std::int32_t value) {
    return LoadLe16(leading.subspan(offset)) == static_cast<std::uint16_t>(value);
  };
  return leading[kMzrRemappingOffset] == (settings.useRemapping ? 1 : 0) &&
         holds(kMzrStartColorOffset, settings.startColor) &&
         holds(kMzrEndColorOffset, settings.endColor) &&
         holds(kMzrTransparentColorOffset, settings.transparentColor);
}

std::string_view FileKindName(FileKind kind) {
  switch (kind) {
    case FileKind::kMzr:
      return "MZR";
    case FileKind::kRle:
      return "RLE";
    case FileKind::kRls:
      return "RLS";
    case FileKind::kUnknown:
      break;
  }
  return "unknown";
}

RowDecoder::RowDecoder(const DecodedImage& image, std::span<const std::uint8_t> bytes)
    : kind_(image.kind), height_(image.height), bytes_(bytes), row_(image.width) {}

std::span<const std::uint8_t> RowDecoder::Row(std::uint32_t r) {
  if (r >= height_) {
    return {};
  }
  if (kind_ == FileKind::kMzr) {
    const std::uint64_t start = kMzrRowsOffset + std::uint64_t{r} * row_.size();
    if (start + row_.size() > bytes_.size()) {
      return {};
    }
    return bytes_.subspan(static_cast<std::size_t>(start), row_.size());
  }
  if (decoded_ != r) {
    DecodeRunLengthRow(r);
    decoded_ = r;
  }
  return row_;
}

DecodeResult KeepIndicesIf(PixelOutput pixels, DecodeResult result,
                           std::span<const std::uint8_t> bytes) {
  auto* image = std::get_if<DecodedImage>(&result);
  if (pixels == PixelOutput::kCheckOnly || image == nullptr) {
    return result;
  }
  RowDecoder rows(*image, bytes);
  image->indices.reserve(std::size_t{image->width} * image->height);
  for (std::uint32_t r = 0; r < image->height; ++r) {
    const std::span<const std::uint8_t> row = rows.Row(r);
    image->indices.insert(image->indices.end(), row.begin(), row.end());
  }
  return result;
}

std::vector<ColourTable> ReadColourTables(std::span<const std::uint8_t> bytes) {
  std::vector<ColourTable> tables(bytes.size() / kColourTableBytes);
  for (std::size_t t = 0; t < tables.size(); ++t) {
    const auto table = bytes.subspan(t * kColourTableBytes, kColourTableBytes);
    for (std::size_t i = 0; i < kColourTableEntries; ++i) {
      tables[t][i] = LoadLe16(table.subspan(2 * i, 2));
    }
  }
  return tables;
}

DecodeResult DecodeFile(std::span<const std::uint8_t> bytes, PixelOutput pixels) {
  switch (DetectFileKind(bytes)) {
    case FileKind::kMzr:
      return DecodeMzr(bytes, pixels);
    case FileKind::kRle:
      return DecodeRunLength(bytes, RunLengthVariant::kRle, pixels);
    case FileKind::kRls:
      return DecodeRunLength(bytes, RunLengthVariant::kRls, pixels);
    case FileKind::kUnknown:
      break;
  }
  return DecodeError{0,
                     "not an MZR, RLE or RLS file: it begins with neither \"KAV8BMP\" nor "
                     "\"RL\" nor \"RS\""};
}

DecodeResult DecodeMzr(std::span<const std::uint8_t> bytes, PixelOutput pixels) {
  if (bytes.size() < kMzrHeaderSize) {
    return DecodeError{bytes.size(),
                       FormatText("the file ends after %zu bytes, inside the %zu-byte MZR header",
                                  bytes.size(), kMzrHeaderSize)};
  }
  const std::span<const std::uint8_t> header = bytes.first(kMzrHeaderSize);
  if (auto fault = CheckMzrHeader(header)) {
    return *std::move(fault);
  }
  DecodedImage image;
  image.kind = FileKind::kMzr;
  image.width = LoadLe16(header.subspan(kMzrWidthOffset));
  image.height = LoadLe16(header.subspan(kMzrHeightOffset));
  const std::uint64_t pixelCount = std::uint64_t{image.width} * image.height;
  if (bytes.size() != kMzrRowsOffset + pixelCount) {
    return MzrLengthError(bytes.size(), image.width, image.height);
  }
  image.mzr = MzrFields{.useRemapping = header[kMzrRemappingOffset] == 1,
                        .startColor = LoadLe16(header.subspan(kMzrStartColorOffset)),
                        .endColor = LoadLe16(header.subspan(kMzrEndColorOffset)),
                        .transparentColor = LoadLe16(header.subspan(kMzrTransparentColorOffset))};
  image.tables = ReadColourTables(bytes.subspan(kMzrTablesOffset, kMzrTablesBytes));
  return KeepIndicesIf(pixels, std::move(image), bytes);
}

}  // namespace kav
