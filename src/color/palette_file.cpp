#include "color/palette_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace kav {
namespace {

constexpr std::string_view kGimpFirstLine = "GIMP Palette";
constexpr std::string_view kJascFirstLine = "JASC-PAL";
constexpr std::string_view kJascVersion = "0100";
constexpr std::string_view kGimpName = "Name:";
constexpr std::string_view kGimpColumns = "Columns:";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

constexpr std::size_t kMaxTextBytes = std::size_t{1} << 20;
constexpr std::size_t kMaxLineBytes = 1024;
constexpr unsigned kChannelMax = 255;
constexpr std::size_t kHexDigits = 6;

// The Adobe colour table: 256 entries of red, green, blue, then in the longer form two
// 16-bit big-endian fields.
constexpr std::size_t kAdobeEntryBytes = 3;
constexpr std::size_t kAdobeTableBytes = kPaletteEntries * kAdobeEntryBytes;  // 768
constexpr std::size_t kAdobeCountOffset = 768;
constexpr std::size_t kAdobeTransparentOffset = 770;
constexpr std::size_t kAdobeLongBytes = 772;
constexpr unsigned kAdobeNoTransparent = 0xFFFF;

std::string_view TextOf(std::span<const std::uint8_t> bytes) {
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.starts_with(kByteOrderMark)) {
    text.remove_prefix(kByteOrderMark.size());
  }
  return text;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view line) {
  while (!line.empty() && IsBlank(line.front())) {
    line.remove_prefix(1);
  }
  while (!line.empty() && IsBlank(line.back())) {
    line.remove_suffix(1);
  }
  return line;
}

// The file's lines, trimmed, with their LF or CR LF taken off; nullopt when the file or a
// line is too long.
std::optional<std::vector<std::string_view>> LinesOf(std::string_view text) {
  if (text.size() > kMaxTextBytes) {
    return std::nullopt;
  }
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    if (line.size() > kMaxLineBytes) {
      return std::nullopt;
    }
    lines.push_back(Trimmed(line));
  }
  return lines;
}

// Takes the blank-separated word at the front of `line` off it.
std::string_view NextWord(std::string_view& line) {
  line = Trimmed(line);
  std::size_t end = 0;
  while (end < line.size() && !IsBlank(line[end])) {
    ++end;
  }
  const std::string_view word = line.substr(0, end);
  line.remove_prefix(end);
  return word;
}

// A decimal number of 1 to 3 digits, at most `max`.
std::optional<unsigned> DecimalOf(std::string_view word, unsigned max) {
  if (word.empty() || word.size() > 3) {
    return std::nullopt;
  }
  unsigned value = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value <= max ? std::optional<unsigned>(value) : std::nullopt;
}

// Three decimal channels at the front of `line`, taken off it.
std::optional<Rgb24> DecimalColourOf(std::string_view& line) {
  std::array<unsigned, 3> channels{};
  for (unsigned& channel : channels) {
    const std::optional<unsigned> value = DecimalOf(NextWord(line), kChannelMax);
    if (!value) {
      return std::nullopt;
    }
    channel = *value;
  }
  return MakeRgb24(channels[0], channels[1], channels[2]);
}

bool Add(RgbPalette& palette, Rgb24 colour) {
  if (palette.count >= kPaletteEntries) {
    return false;
  }
  palette.colours[palette.count++] = colour;
  return true;
}

std::optional<PaletteFile> Finished(const RgbPalette& palette) {
  if (palette.count == 0) {
    return std::nullopt;
  }
  return PaletteFile{palette, std::nullopt};
}

// A GIMP header line (Name, or Columns with a number of columns 0..256).
bool IsGimpHeader(std::string_view line) {
  if (line.starts_with(kGimpName)) {
    return true;
  }
  if (line.starts_with(kGimpColumns)) {
    line.remove_prefix(kGimpColumns.size());
    return DecimalOf(Trimmed(line), kPaletteEntries).has_value();
  }
  return false;
}

std::optional<PaletteFile> ParseGimp(std::span<const std::string_view> lines) {
  RgbPalette palette;
  for (std::string_view line : lines.subspan(1)) {
    if (line.empty() || line.starts_with('#') || IsGimpHeader(line)) {
      continue;
    }
    const std::optional<Rgb24> colour = DecimalColourOf(line);  // the rest of it is a name
    if (!colour || !Add(palette, *colour)) {
      return std::nullopt;
    }
  }
  return Finished(palette);
}

std::optional<PaletteFile> ParseJasc(std::span<const std::string_view> lines) {
  constexpr std::size_t kFirstColourLine = 3;
  if (lines.size() < kFirstColourLine || lines[1] != kJascVersion) {
    return std::nullopt;
  }
  const std::optional<unsigned> count = DecimalOf(lines[2], kPaletteEntries);
  if (!count || *count == 0 || lines.size() < kFirstColourLine + *count) {
    return std::nullopt;
  }
  RgbPalette palette;
  for (std::string_view line : lines.subspan(kFirstColourLine, *count)) {
    const std::optional<Rgb24> colour = DecimalColourOf(line);
    if (!colour || !Trimmed(line).empty()) {
      return std::nullopt;
    }
    Add(palette, *colour);
  }
  const auto rest = lines.subspan(kFirstColourLine + *count);
  if (!std::ranges::all_of(rest, [](std::string_view line) { return line.empty(); })) {
    return std::nullopt;
  }
  return Finished(palette);
}

std::optional<Rgb24> HexColourOf(std::string_view line) {
  if (line.starts_with('#')) {
    line.remove_prefix(1);
  }
  if (line.size() != kHexDigits) {
    return std::nullopt;
  }
  Rgb24 colour = 0;
  for (const char c : line) {
    const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                      : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                                  : -1;
    if (digit < 0) {
      return std::nullopt;
    }
    colour = colour << 4 | static_cast<Rgb24>(digit);
  }
  return colour;
}

std::optional<PaletteFile> ParseHex(std::span<const std::string_view> lines) {
  RgbPalette palette;
  for (const std::string_view line : lines) {
    if (line.empty()) {
      continue;
    }
    const std::optional<Rgb24> colour = HexColourOf(line);
    if (!colour || !Add(palette, *colour)) {
      return std::nullopt;
    }
  }
  return Finished(palette);
}

unsigned BigEndian16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return unsigned{bytes[offset]} << 8 | bytes[offset + 1];
}

std::optional<PaletteFile> ParseAdobe(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kAdobeTableBytes && bytes.size() != kAdobeLongBytes) {
    return std::nullopt;
  }
  unsigned count = kPaletteEntries;
  unsigned transparent = kAdobeNoTransparent;
  if (bytes.size() == kAdobeLongBytes) {
    count = BigEndian16(bytes, kAdobeCountOffset);
    transparent = BigEndian16(bytes, kAdobeTransparentOffset);
    if (count == 0 || count > kPaletteEntries ||
        (transparent != kAdobeNoTransparent && transparent >= count)) {
      return std::nullopt;
    }
  }
  PaletteFile file;
  for (std::size_t i = 0; i < count; ++i) {
    const std::span<const std::uint8_t> entry =
        bytes.subspan(i * kAdobeEntryBytes, kAdobeEntryBytes);
    Add(file.palette, MakeRgb24(entry[0], entry[1], entry[2]));
  }
  if (transparent != kAdobeNoTransparent) {
    file.transparentEntry = static_cast<std::uint8_t>(transparent);
  }
  return file;
}

bool HasExtension(std::string_view fileName, std::string_view extension) {
  return fileName.size() >= extension.size() &&
         std::ranges::equal(
             fileName.substr(fileName.size() - extension.size()), extension,
             [](char x, char y) { return std::tolower(static_cast<unsigned char>(x)) == y; });
}

}  // namespace

PaletteFileKind PaletteFileKindOf(std::span<const std::uint8_t> bytes, std::string_view fileName) {
  const std::string_view text = TextOf(bytes);
  const auto firstLineIs = [text](std::string_view wanted) {
    const std::string_view rest = text.substr(std::min(wanted.size(), text.size()));
    return text.starts_with(wanted) &&
           (rest.empty() || rest.front() == '\n' || rest.front() == '\r' || IsBlank(rest.front()));
  };
  if (firstLineIs(kGimpFirstLine)) {
    return PaletteFileKind::kGimp;
  }
  if (firstLineIs(kJascFirstLine)) {
    return PaletteFileKind::kJasc;
  }
  if (HasExtension(fileName, ".act")) {
    return PaletteFileKind::kAdobe;
  }
  if (HasExtension(fileName, ".hex")) {
    return PaletteFileKind::kHex;
  }
  return PaletteFileKind::kPicture;
}

std::optional<PaletteFile> ParsePaletteFile(PaletteFileKind kind,
                                            std::span<const std::uint8_t> bytes) {
  if (kind == PaletteFileKind::kPicture) {
    return std::nullopt;
  }
  if (kind == PaletteFileKind::kAdobe) {
    return ParseAdobe(bytes);
  }
  const std::optional<std::vector<std::string_view>> lines = LinesOf(TextOf(bytes));
  if (!lines) {
    return std::nullopt;
  }
  switch (kind) {
    case PaletteFileKind::kGimp:
      return !lines->empty() && lines->front() == kGimpFirstLine ? ParseGimp(*lines) : std::nullopt;
    case PaletteFileKind::kJasc:
      return !lines->empty() && lines->front() == kJascFirstLine ? ParseJasc(*lines) : std::nullopt;
    default:
      return ParseHex(*lines);
  }
}

}  // namespace kav
