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

// The array's name for an output file named `fileName` ("hero.RLE" gives "hero_RLE"): every
// character but an ASCII letter, digit or '_' becomes '_' (a UTF-8 character as a whole), and
// a leading digit gets a '_' before it.
std::string CIdentifierFor(std::string_view fileName);

// Whether `name` is a C identifier: an ASCII letter or '_', then letters, digits and '_'.
bool IsCIdentifier(std::string_view name);

// Writes the header holding `bytes` as the array `name` (a C identifier) into `sink`. An
// empty file gets an array of one zero byte, since C has no empty arrays; its size stays 0.
void EncodeCHeader(std::span<const std::uint8_t> bytes, std::string_view name, ByteSink& sink);

// What the start of a header written by EncodeCHeader holds: the array's name and its first
// bytes, as many as `text` holds up to `count`; nullopt when `text` is no such header.
struct CHeaderStart {
  std::string name;
  std::vector<std::uint8_t> bytes;
};
std::optional<CHeaderStart> ReadCHeaderStart(std::string_view text, std::size_t count);

}  // namespace kav
