// The RLE and RLS decoder. Rows are decoded one after the other from the segment-0 entry of
// the top row; at the start of every row and at every segment boundary the position reached
// must be the one that the offset table gives, so a file that passes can be decoded from any
// entry by a reader that trusts the tables, as RowDecoder does. The offset tables and codes
// are read where they lie in the file, and only one row's indices are held at a time.

#include <algorithm>

#include "formats/byte_sink.h"
#include "formats/decode.h"
#include "platform/format_text.h"

namespace kav {
namespace {

unsigned long long Num(std::uint64_t value) {
  return value;
}

// The two bytes that code a row made only of index 255.
bool IsRowMarker(std::uint8_t first, std::uint8_t second) {
  return first == kBlankIndex && second == kBlankIndex;
}

// One code of a row: `count` pixels of `index` (1 for a single-pixel code).
struct Code {
  std::uint8_t index = 0;
  std::uint32_t count = 0;
};

class RunLengthDecoder {
 public:
  RunLengthDecoder(std::span<const std::uint8_t> file, RunLengthVariant variant)
      : file_(file), variant_(variant) {}

  DecodeResult Decode() {
    std::optional<DecodeError> fault = CheckSignature();
    if (!fault) {
      fault = ReadHeader();
    }
    if (!fault) {
      fault = ReadOffsetTables();
    }
    if (!fault) {
      fault = DecodeRows();
    }
    if (fault) {
      return *std::move(fault);
    }
    image_.runLength = std::move(fields_);
    return std::move(image_);
  }

 private:
  std::optional<DecodeError> CheckSignature() const {
    const std::string_view expected = SignatureOf(variant_);
    if (file_.size() < kRunLengthSignatureSize) {
      return DecodeError{file_.size(), FormatText("the file ends after %zu bytes, inside the "
                                                  "%zu-byte signature",
                                                  file_.size(), kRunLengthSignatureSize)};
    }
    if (file_[0] != expected[0] || file_[1] != expected[1]) {
      return DecodeError{
          0, FormatText("the signature bytes are %02X %02X, not \"%.*s\" (%02X %02X)", file_[0],
                        file_[1], static_cast<int>(expected.size()), expected.data(),
                        static_cast<unsigned>(expected[0]), static_cast<unsigned>(expected[1]))};
    }
    return std::nullopt;
  }

  // Reads the header fields and checks that they agree with each other and with the length
  // of the file, so that every later read lies inside the file.
  std::optional<DecodeError> ReadHeader() {
    if (file_.size() < kRowTablesOffset) {
      return DecodeError{file_.size(), FormatText("the file ends after %zu bytes, inside the "
                                                  "%zu-byte header",
                                                  file_.size(), kRowTablesOffset)};
    }
    image_.kind = variant_ == RunLengthVariant::kRls ? FileKind::kRls : FileKind::kRle;
    image_.width = LoadLe16(file_.subspan(kRlWidthOffset));
    image_.height = LoadLe16(file_.subspan(kRlHeightOffset));
    fields_.dataSize = LoadLe32(file_.subspan(kRlDataSizeOffset));
    fields_.rowTableSize = LoadLe32(file_.subspan(kRowTableSizeOffset));
    fields_.allRowTablesSize = LoadLe32(file_.subspan(kAllRowTablesSizeOffset));
    const auto segmentCount =
        static_cast<std::int16_t>(LoadLe16(file_.subspan(kSegmentCountOffset)));

    if (auto fault = CheckFileLength()) {
      return fault;
    }
    if (image_.width == 0) {
      return DecodeError{kRlWidthOffset, "the width is 0"};
    }
    if (image_.height == 0) {
      return DecodeError{kRlHeightOffset, "the height is 0"};
    }
    const std::uint64_t rowTableSize = std::uint64_t{image_.height} * kOffsetEntrySize;
    if (fields_.rowTableSize != rowTableSize) {
      return DecodeError{
          kRowTableSizeOffset,
          FormatText("rowTableSize is %u, but a height of %u needs %llu (height x 4)",
                     fields_.rowTableSize, image_.height, Num(rowTableSize))};
    }
    const std::uint32_t segments = SegmentCountFor(image_.width);
    if (segmentCount < 0 || static_cast<std::uint32_t>(segmentCount) != segments) {
      return DecodeError{kSegmentCountOffset,
                         FormatText("segmentCount is %d, but a width of %u needs %u segments of "
                                    "%u columns",
                                    segmentCount, image_.width, segments, kSegmentWidth)};
    }
    fields_.segmentCount = static_cast<std::uint16_t>(segmentCount);
    const std::uint64_t allRowTablesSize = std::uint64_t{segments} * rowTableSize;
    if (fields_.allRowTablesSize != allRowTablesSize) {
      return DecodeError{
          kAllRowTablesSizeOffset,
          FormatText("allRowTablesSize is %u, not segmentCount x rowTableSize = %llu",
                     fields_.allRowTablesSize, Num(allRowTablesSize))};
    }
    if (fields_.dataSize <= fields_.allRowTablesSize) {
      return DecodeError{kRlDataSizeOffset,
                         FormatText("dataSize %u leaves no room for coded rows after the %u bytes "
                                    "of offset tables",
                                    fields_.dataSize, fields_.allRowTablesSize)};
    }
    image_.tables = ReadColourTables(file_.subspan(kEffectTablesOffset, kEffectTablesBytes));
    body_ = file_.subspan(kRowTablesOffset);
    return std::nullopt;
  }

  std::optional<DecodeError> CheckFileLength() const {
    const std::uint64_t expected = kRowTablesOffset + std::uint64_t{fields_.dataSize};
    if (file_.size() < expected) {
      return DecodeError{file_.size(), FormatText("the file ends after %zu bytes, but dataSize %u "
                                                  "gives a length of %llu (%zu + dataSize)",
                                                  file_.size(), fields_.dataSize, Num(expected),
                                                  kRowTablesOffset)};
    }
    if (file_.size() > expected) {
      return DecodeError{
          expected, FormatText("the file is %zu bytes long, but dataSize %u gives a "
                               "length of %llu (%zu + dataSize)",
                               file_.size(), fields_.dataSize, Num(expected), kRowTablesOffset)};
    }
    return std::nullopt;
  }

  std::size_t EntryIndex(std::uint32_t segment, std::uint32_t row) const {
    return std::size_t{segment} * image_.height + row;
  }

  std::uint64_t EntryFileOffset(std::uint32_t segment, std::uint32_t row) const {
    return kRowTablesOffset + std::uint64_t{EntryIndex(segment, row)} * kOffsetEntrySize;
  }

  // Positions in body_ are counted like the offset entries, from the first offset table.
  static std::uint64_t FileOffsetOf(std::size_t position) {
    return kRowTablesOffset + std::uint64_t{position};
  }

  // ReadHeader has shown that the tables lie inside body_.
  std::uint32_t Entry(std::uint32_t segment, std::uint32_t row) const {
    return LoadLe32(body_.subspan(EntryIndex(segment, row) * kOffsetEntrySize, kOffsetEntrySize));
  }

  std::optional<DecodeError> ReadOffsetTables() const {
    for (std::uint32_t segment = 0; segment < fields_.segmentCount; ++segment) {
      for (std::uint32_t row = 0; row < image_.height; ++row) {
        const std::uint32_t entry = Entry(segment, row);
        if (entry < fields_.allRowTablesSize || entry >= fields_.dataSize) {
          return DecodeError{
              EntryFileOffset(segment, row),
              FormatText("offset entry for segment %u of row %u is %u, outside the "
                         "coded rows (%u to %u)",
                         segment, row, entry, fields_.allRowTablesSize, fields_.dataSize - 1)};
        }
      }
    }
    return std::nullopt;
  }

  std::optional<DecodeError> DecodeRows() {
    std::vector<std::uint8_t> scratchRow(image_.width);
    position_ = fields_.allRowTablesSize;
    for (std::uint32_t row = 0; row < image_.height; ++row) {
      if (auto fault = DecodeRow(row, scratchRow)) {
        return fault;
      }
    }
    if (position_ != body_.size()) {
      return DecodeError{FileOffsetOf(position_),
                         FormatText("the code of the last row ends at file offset %llu, but the "
                                    "coded rows go on to %zu (%zu + dataSize)",
                                    Num(FileOffsetOf(position_)), file_.size(), kRowTablesOffset)};
    }
    return std::nullopt;
  }

  // Decodes `row` into `out` (width pixels) from position_ and leaves position_ after it.
  std::optional<DecodeError> DecodeRow(std::uint32_t row, std::span<std::uint8_t> out) {
    if (auto fault = CheckSegmentStart(0, row)) {
      return fault;
    }
    if (position_ + 1 < body_.size() && IsRowMarker(body_[position_], body_[position_ + 1])) {
      return DecodeMarkerRow(row, out);
    }
    for (std::uint32_t column = 0; column < image_.width;) {
      if (column > 0 && column % kSegmentWidth == 0) {
        if (auto fault = CheckSegmentStart(column / kSegmentWidth, row)) {
          return fault;
        }
      }
      Code code;
      if (auto fault = ReadCode(row, column, code)) {
        return fault;
      }
      std::fill_n(out.subspan(column, code.count).begin(), code.count, code.index);
      column += code.count;
    }
    return std::nullopt;
  }

  // The row is the 255, 255 marker at position_: every segment entry must point at it.
  std::optional<DecodeError> DecodeMarkerRow(std::uint32_t row, std::span<std::uint8_t> out) {
    for (std::uint32_t segment = 1; segment < fields_.segmentCount; ++segment) {
      if (Entry(segment, row) != position_) {
        return DecodeError{
            EntryFileOffset(segment, row),
            FormatText("offset entry for segment %u of row %u is %u, but the row "
                       "is coded as the 255, 255 marker at %zu (file offset %llu)",
                       segment, row, Entry(segment, row), position_, Num(FileOffsetOf(position_)))};
      }
    }
    std::fill(out.begin(), out.end(), kBlankIndex);
    position_ += 2;
    return std::nullopt;
  }

  // The entry for `segment` of `row` must be where decoding has arrived.
  std::optional<DecodeError> CheckSegmentStart(std::uint32_t segment, std::uint32_t row) const {
    const std::uint32_t entry = Entry(segment, row);
    if (entry == position_) {
      return std::nullopt;
    }
    std::string where;
    if (segment > 0) {
      where = FormatText("the code of column %u begins at", segment * kSegmentWidth);
    } else if (row > 0) {
      where = FormatText("the code of row %u ends at", row - 1);
    } else {
      where = "the coded rows begin at";
    }
    return DecodeError{
        EntryFileOffset(segment, row),
        FormatText("offset entry for segment %u of row %u is %u, but %s %zu (file "
                   "offset %llu)",
                   segment, row, entry, where.c_str(), position_, Num(FileOffsetOf(position_)))};
  }

  // Reads the code at position_, for the pixel at `column` of `row`, and moves past it.
  std::optional<DecodeError> ReadCode(std::uint32_t row, std::uint32_t column, Code& code) {
    if (position_ >= body_.size()) {
      return EndOfCodedRows(row, column);
    }
    code.index = body_[position_];
    if (!IsRunCoded(variant_, code.index)) {
      code.count = 1;
      ++position_;
      return std::nullopt;
    }
    if (position_ + 1 >= body_.size()) {
      return EndOfCodedRows(row, column);
    }
    code.count = body_[position_ + 1];
    if (code.count == 0 || code.count > kMaxRunLength) {
      return DecodeError{FileOffsetOf(position_ + 1),
                         FormatText("run count %u of index %u at column %u of row %u is not 1 to "
                                    "%u%s",
                                    code.count, code.index, column, row, kMaxRunLength,
                                    IsRowMarker(code.index, static_cast<std::uint8_t>(code.count))
                                        ? " (255, 255 marks a row of 255 only at the row's start)"
                                        : "")};
    }
    const std::uint32_t segmentEnd = (column / kSegmentWidth + 1) * kSegmentWidth;
    const std::uint32_t limit = std::min<std::uint32_t>(segmentEnd, image_.width);
    if (column + code.count > limit) {
      const std::string overflow =
          limit == image_.width ? FormatText("goes past the row's end (width %u)", image_.width)
                                : FormatText("crosses the segment boundary at column %u", limit);
      return DecodeError{FileOffsetOf(position_),
                         FormatText("run of %u pixels of index %u at column %u of row %u %s",
                                    code.count, code.index, column, row, overflow.c_str())};
    }
    position_ += 2;
    return std::nullopt;
  }

  DecodeError EndOfCodedRows(std::uint32_t row, std::uint32_t column) const {
    return {file_.size(), FormatText("the coded rows end inside row %u, after %u of its %u pixels",
                                     row, column, image_.width)};
  }

  std::span<const std::uint8_t> file_;
  RunLengthVariant variant_;
  DecodedImage image_;
  RunLengthFields fields_;
  std::span<const std::uint8_t> body_;  // from the offset tables on; entries index it
  std::size_t position_ = 0;            // of the next code in body_
};

}  // namespace

DecodeResult DecodeRunLength(std::span<const std::uint8_t> bytes, RunLengthVariant variant,
                             PixelOutput pixels) {
  return KeepIndicesIf(pixels, RunLengthDecoder(bytes, variant).Decode(), bytes);
}

void RowDecoder::DecodeRunLengthRow(std::uint32_t r) {
  const auto variant = kind_ == FileKind::kRls ? RunLengthVariant::kRls : RunLengthVariant::kRle;
  const std::size_t entryAt = kRowTablesOffset + std::size_t{r} * kOffsetEntrySize;
  std::size_t at = entryAt + kOffsetEntrySize <= bytes_.size()
                       ? kRowTablesOffset + LoadLe32(bytes_.subspan(entryAt, kOffsetEntrySize))
                       : bytes_.size();
  const auto byteAt = [this](std::size_t i) -> std::uint8_t {
    return i < bytes_.size() ? bytes_[i] : std::uint8_t{0};
  };
  if (IsRowMarker(byteAt(at), byteAt(at + 1))) {
    std::fill(row_.begin(), row_.end(), kBlankIndex);
    return;
  }
  // The codes were checked when the file was decoded; the bounds here only keep a file that
  // changed since from being read outside its bytes, and such a row ends in zeros.
  std::size_t column = 0;
  while (column < row_.size() && at < bytes_.size()) {
    const std::uint8_t index = bytes_[at];
    const bool run = IsRunCoded(variant, index);
    const std::size_t count = run ? std::max<std::size_t>(byteAt(at + 1), 1) : 1;
    const std::size_t filled = std::min(count, row_.size() - column);
    std::fill_n(row_.begin() + static_cast<std::ptrdiff_t>(column), filled, index);
    column += filled;
    at += run ? 2 : 1;
  }
  std::fill(row_.begin() + static_cast<std::ptrdiff_t>(column), row_.end(), std::uint8_t{0});
}

}  // namespace kav
