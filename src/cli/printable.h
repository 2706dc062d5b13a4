#pragma once
// Text that is safe to print on a terminal: file names are chosen by whoever made the files,
// and a name holding control characters could otherwise set the terminal's title, clear it
// or move its cursor through any line kavconv prints.

#include <string>
#include <string_view>

namespace kav {

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view text);

// `text` with each byte 0x00-0x1F and 0x7F, and each C1 control character U+0080-U+009F in
// UTF-8, written as \xHH (upper-case hex, one per byte of its encoding). Every other
// character, the backslash included, stays as it is, and so do bytes that are not UTF-8:
// a terminal reading UTF-8 shows them as replacement characters and does not act on them.
std::string Printable(std::string_view text);

// `text` as lower-case hex digits, two per byte.
std::string HexBytes(std::string_view text);

}  // namespace kav
