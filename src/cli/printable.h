#pragma once
// Text that is safe to print on a terminal: file names are chosen by whoever made the files,
// and a name holding control characters could otherwise set the terminal's title, clear it
// or move its cursor through any line kavconv prints.

#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

#include "convert/inputs.h"

namespace kav {

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view text);

// The length of the control character at the start of `text`, 0 when there is none: a byte
// 0x00-0x1F or 0x7F; a byte 0x80-0x9F that is not part of a UTF-8 character (a terminal
// reading Latin-1 takes it as a C1 control); a C1 control character U+0080-U+009F in UTF-8;
// or a bidirectional control, U+202A-U+202E or U+2066-U+2069, which reorders what follows
// on the line.
std::size_t ControlLength(std::string_view text);

// `text` with each control character (ControlLength) written as \xHH, upper-case hex, one per
// byte of its encoding. Every other character, the backslash included, stays as it is, and
// so do the other bytes that are not UTF-8: a terminal reading UTF-8 shows them as
// replacement characters and does not act on them.
std::string Printable(std::string_view text);

// `text` as lower-case hex digits, two per byte.
std::string HexBytes(std::string_view text);

// Prints "kavconv: PATH: TEXT: CAUSE" for each failure, printable.
void PrintPathFailures(std::ostream& err, std::span<const PathFailure> failures,
                       std::string_view text);

}  // namespace kav
