#pragma once
// C headers of converted files: a file's bytes as an array that a program compiles in, the
// same in every C from C89 and every C++ from C++98:
//
//   #ifndef HERO_RLE_H
//   #define HERO_RLE_H
//
//   #define HERO_RLE_SIZE 4242
//
//   #if defined(__cplusplus) && __cplusplus >= 201103L
//   alignas(4)
//   #elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
//   _Alignas(4)
//   #endif
//   static const unsigned char hero_RLE[4242] = {
//    0x52, 0x4c, ...          (16 bytes a line)
//   };
//
//   #endif
//
// In C11 and C++11 and later the array is aligned to 4 bytes, so that a runtime may read
// the files' 16- and 32-bit fields in place; the older dialects cannot ask for it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/byte_sink.h"

namespace kav {

// The text of one byte in the array: " 0x4b,".
inline constexpr std::size_t kCHeaderByteText = 6;

// The array's name for `text`, a prefix and an output's path ("ui/hero.RLE" gives
// "ui_hero_RLE"), as a valid, unreserved identifier in every C and C++: each character but an
// ASCII letter or digit becomes '_' (a UTF-8 character as a whole), a run of '_' becomes one,
// a name that would begin with '_' or a digit begins with "kav_" instead ("_a" and "3d" give
// "kav_a" and "kav_3d"), and a keyword of C23 or C++23 gets a '_' after it.
std::string CIdentifierFor(std::string_view text);

// Why `name` cannot be used as it stands for an array that CIdentifierFor would leave alone,
// or nullopt when it can: "is empty", "holds a character other than an ASCII letter, digit
// or _", "begins with a digit", "begins with _", "holds __", "is a keyword of C or C++".
// A prefix (`prefix` true) may be a keyword: other text always follows it.
std::optional<std::string> CNameFault(std::string_view name, bool prefix = false);

// The names a header with the array `name` defines: the array, its size macro and its
// include guard ("ui_hero_RLE", "UI_HERO_RLE_SIZE", "UI_HERO_RLE_H"). The macros are the
// array's name upper-cased, without the '_' a keyword was given, so that no macro holds "__".
struct CHeaderNames {
  std::string array;
  std::string size;
  std::string guard;
};
CHeaderNames CHeaderNamesOf(std::string_view name);

// Writes the header holding `bytes` as the array `name` (as CIdentifierFor gives it) into
// `sink`. An empty file gets an array of one zero byte, since C has no empty arrays; its size
// stays 0.
void EncodeCHeader(std::span<const std::uint8_t> bytes, std::string_view name, ByteSink& sink);

// What the start of a header written by EncodeCHeader holds: the array's name and its first
// bytes, as many as `text` holds up to `count`; nullopt when `text` is no such header.
struct CHeaderStart {
  std::string name;
  std::vector<std::uint8_t> bytes;
};
std::optional<CHeaderStart> ReadCHeaderStart(std::string_view text, std::size_t count);

}  // namespace kav
