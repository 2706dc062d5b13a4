#pragma once
// Palette files, read from bytes in memory into a palette of 1 to 256 entries:
//
//   GIMP palette    text: "GIMP Palette", then optional "Name:" and "Columns:" lines, "#"
//                   comments, blank lines, and one colour a line as three decimal numbers
//                   0..255 (red, green, blue) separated by spaces or tabs, then an optional
//                   name.
//   JASC palette    text: "JASC-PAL", "0100", the count (1..256), then exactly that many
//                   lines of three decimal numbers 0..255.
//   Adobe table     binary, 768 bytes: 256 entries of red, green, blue; or 772 bytes: the
//   (.act)          same, then the count of entries used (1..256) and the transparent
//                   entry's index (0xFFFF for none, else below the count), each 16 bits
//                   big-endian.
//   hex list        text: one colour a line as six hexadecimal digits RRGGBB (any case, a
//   (.hex)          leading "#" allowed), blank lines allowed.
//
// Text lines end with LF or CR LF, are at most 1024 bytes long (the file at most 1 MiB) and
// may have spaces or tabs around them; a UTF-8 byte order mark at the start is passed over.
// Anything else is a file that cannot be read.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "color/palette.h"

namespace kav {

enum class PaletteFileKind {
  kGimp,
  kJasc,
  kAdobe,
  kHex,
  kPicture,  // none of the above: read as a picture, whose palette is the palette file's
};

// By content where it tells (the GIMP and JASC first lines), else by the name's extension
// (.act, .hex, in any case); anything else is kPicture.
PaletteFileKind PaletteFileKindOf(std::span<const std::uint8_t> bytes, std::string_view fileName);

struct PaletteFile {
  RgbPalette palette;  // count 1..256, the entries past it black
  // The entry an Adobe table marks transparent (below the count), when it marks one.
  std::optional<std::uint8_t> transparentEntry;
};

// The palette a file of `kind` holds, or nullopt when it cannot be read. kPicture files are
// not read here (always nullopt): the conversion reads them with the picture readers.
std::optional<PaletteFile> ParsePaletteFile(PaletteFileKind kind,
                                            std::span<const std::uint8_t> bytes);

}  // namespace kav
