#include "cli/checked_file.h"

#include <new>

#include "platform/format_text.h"

namespace kav {
namespace {

constexpr std::uint64_t kOffsetTables = KAV_RL_OFFSET_TABLES;

unsigned long long Num(std::uint64_t value) {
  return value;
}

std::string WithCause(std::string_view text, int error) {
  return error != 0 ? std::string(text) + ": " + SystemErrorText(error) : std::string(text);
}

std::optional<std::string> MappingFailure(const MappedFile& mapped) {
  switch (mapped.failure) {
    case MappedFile::Failure::kNone:
      break;
    case MappedFile::Failure::kCannotOpen:
      return WithCause("Cannot open this file", mapped.error);
    case MappedFile::Failure::kCannotRead:
      return WithCause("Cannot read this file", mapped.error);
    case MappedFile::Failure::kOutOfMemory:
      return "Out of memory";
  }
  return std::nullopt;
}

void Check(const std::string& path, CheckedFile& checked) {
  checked.mapped = MapWholeFile(path);
  checked.failure = MappingFailure(checked.mapped);
  if (checked.failure) {
    return;
  }
  const std::span<const std::uint8_t> bytes = checked.bytes();
  checked.kind = kav_detect(bytes.data(), bytes.size());
  if (checked.kind == KAV_KIND_NONE) {
    checked.failure = "not an MZR, RLE or RLS file";
    checked.failureOffset = 0;
    return;
  }
  kav_error error{};
  const bool sound =
      kav_open_header(&checked.image, bytes.data(), bytes.size(), &error) == KAV_OK &&
      kav_check(&checked.image, &error) == KAV_OK;
  if (checked.mapped.block.Damaged()) {
    checked.failure = kShrankText;
  } else if (!sound) {
    checked.damage = Damage{error.offset, DamageText(checked.image, error)};
  } else if (checked.image.width == 0 || checked.image.height == 0) {
    // Sound for an MZR file, whose header allows it, but nothing to show or draw.
    checked.failure = kNoPixelsText;
  }
}

// The byte at `offset` of the file, 0 outside it.
unsigned ByteAt(const kav_image& image, std::uint64_t offset) {
  const std::span<const std::uint8_t> bytes(image.bytes, image.size);
  return offset < bytes.size() ? bytes[static_cast<std::size_t>(offset)] : 0u;
}

// The entry for segment s of row r is number s x height + r of the offset tables.
std::string EntryText(const kav_image& image, const kav_error& error) {
  const std::uint64_t number = (error.offset - kOffsetTables) / 4;
  const auto segment = static_cast<unsigned>(number / image.height);
  const auto row = static_cast<unsigned>(number % image.height);
  const std::uint32_t at = error.number[1];
  const std::string entry =
      FormatText("offset entry for segment %u of row %u is %u, ", segment, row, error.number[0]);
  if (error.reason == KAV_ERR_ENTRY_OUTSIDE) {
    return entry + FormatText("outside the coded rows (%u to %u)", image.rl.all_row_tables_size,
                              image.rl.data_size - 1);
  }
  std::string where = "the row is coded as the 255, 255 marker at";
  if (error.reason == KAV_ERR_ENTRY_MISPLACED) {
    where = segment > 0 ? FormatText("the code of column %u begins at", segment * KAV_SEGMENT_WIDTH)
            : row > 0   ? FormatText("the code of row %u ends at", row - 1)
                        : "the coded rows begin at";
  }
  return entry +
         FormatText("but %s %u (file offset %llu)", where.c_str(), at, Num(kOffsetTables + at));
}

// A run's index and count lie at the offset; for a bad count the offset is the count's.
std::string RunText(const kav_image& image, const kav_error& error) {
  const std::uint32_t column = error.number[0];
  const std::uint32_t row = error.number[1];
  if (error.reason == KAV_ERR_RUN_COUNT) {
    const unsigned index = ByteAt(image, error.offset - 1);
    const unsigned count = ByteAt(image, error.offset);
    return FormatText("run count %u of index %u at column %u of row %u is not 1 to %u%s", count,
                      index, column, row, KAV_MAX_RUN,
                      index == 255 && count == 255
                          ? " (255, 255 marks a row of 255 only at the row's start)"
                          : "");
  }
  const std::string overflow =
      error.reason == KAV_ERR_RUN_PAST_ROW_END
          ? FormatText("goes past the row's end (width %u)", image.width)
          : FormatText("crosses the segment boundary at column %u",
                       (column / KAV_SEGMENT_WIDTH + 1) * KAV_SEGMENT_WIDTH);
  return FormatText("run of %u pixels of index %u at column %u of row %u %s",
                    ByteAt(image, error.offset + 1), ByteAt(image, error.offset), column, row,
                    overflow.c_str());
}

std::string MzrText(const kav_image& image, const kav_error& error) {
  const std::uint32_t first = error.number[0];
  const std::uint32_t second = error.number[1];
  const auto end = Num(KAV_MZR_ROWS_OFFSET + std::uint64_t{first} * second);
  switch (error.reason) {
    case KAV_ERR_MZR_HEADER_CUT:
      return FormatText("the file ends after %u bytes, inside the 20-byte MZR header", first);
    case KAV_ERR_MZR_MAGIC:
      return FormatText(
          "magic byte %zu is 0x%02X, not 0x%02X: an MZR file begins with "
          "\"KAV8BMP\" and a zero byte",
          error.offset, first, second);
    case KAV_ERR_MZR_REMAPPING:
      return FormatText("the remapping flag is %u, not 0 or 1", first);
    case KAV_ERR_MZR_RESERVED:
      return FormatText("the reserved byte is %u, not 0", first);
    case KAV_ERR_MZR_TOO_SHORT:
      return FormatText(
          "the file ends after %zu bytes, but a %u x %u image needs %llu (16404 + "
          "width x height)",
          image.size, first, second, end);
    default:
      return FormatText(
          "the file is %zu bytes long, but a %u x %u image ends at %llu (16404 + "
          "width x height)",
          image.size, first, second, end);
  }
}

std::string HeaderText(const kav_image& image, const kav_error& error) {
  const std::uint32_t first = error.number[0];
  const std::uint32_t second = error.number[1];
  const auto length = Num(kOffsetTables + first);
  switch (error.reason) {
    case KAV_ERR_HEADER_CUT:
      return FormatText("the file ends after %u bytes, inside the 4118-byte header", first);
    case KAV_ERR_TOO_SHORT:
      return FormatText(
          "the file ends after %zu bytes, but dataSize %u gives a length of %llu "
          "(4118 + dataSize)",
          image.size, first, length);
    case KAV_ERR_TOO_LONG:
      return FormatText(
          "the file is %zu bytes long, but dataSize %u gives a length of %llu "
          "(4118 + dataSize)",
          image.size, first, length);
    case KAV_ERR_ROW_TABLE_SIZE:
      return FormatText("rowTableSize is %u, but a height of %u needs %llu (height x 4)", first,
                        second, Num(std::uint64_t{second} * 4));
    case KAV_ERR_SEGMENT_COUNT:
      return FormatText("segmentCount is %d, but a width of %u needs %u segments of 128 columns",
                        static_cast<std::int16_t>(first), second,
                        (second + KAV_SEGMENT_WIDTH - 1) / KAV_SEGMENT_WIDTH);
    case KAV_ERR_ALL_ROW_TABLES_SIZE:
      return FormatText("allRowTablesSize is %u, not segmentCount x rowTableSize = %u", first,
                        second);
    case KAV_ERR_NO_CODED_ROWS:
      return FormatText(
          "dataSize %u leaves no room for coded rows after the %u bytes of offset "
          "tables",
          first, second);
    default:
      return kav_error_text(error.reason);
  }
}

}  // namespace

std::string DamageText(const kav_image& image, const kav_error& error) {
  switch (error.reason) {
    case KAV_ERR_MZR_HEADER_CUT:
    case KAV_ERR_MZR_MAGIC:
    case KAV_ERR_MZR_REMAPPING:
    case KAV_ERR_MZR_RESERVED:
    case KAV_ERR_MZR_TOO_SHORT:
    case KAV_ERR_MZR_TOO_LONG:
      return MzrText(image, error);
    case KAV_ERR_ENTRY_OUTSIDE:
    case KAV_ERR_ENTRY_MISPLACED:
    case KAV_ERR_MARKER_ENTRY:
      return EntryText(image, error);
    case KAV_ERR_RUN_COUNT:
    case KAV_ERR_RUN_CROSSES_SEGMENT:
    case KAV_ERR_RUN_PAST_ROW_END:
      return RunText(image, error);
    case KAV_ERR_ROWS_CUT:
      return FormatText("the coded rows end inside row %u, after %u of its %u pixels",
                        error.number[0], error.number[1], image.width);
    case KAV_ERR_CODES_AFTER_ROWS:
      return FormatText(
          "the code of the last row ends at file offset %zu, but the coded rows go "
          "on to %zu (4118 + dataSize)",
          error.offset, image.size);
    default:
      return HeaderText(image, error);
  }
}

CheckedFile CheckFile(const std::string& path) {
  CheckedFile checked;
  try {
    Check(path, checked);
  } catch (const std::bad_alloc&) {
    checked = CheckedFile{};
    checked.failure = "Out of memory";
  }
  return checked;
}

}  // namespace kav
