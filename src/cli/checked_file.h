#pragma once
// A converted file as info and render take it: mapped, never copied, its header judged
// against its length before the rest is read, then its whole structure checked by the
// decoder of include/kav/kav_formats.h.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "kav/kav_formats.h"
#include "platform/mapped_file.h"

namespace kav {

// Where a damaged file goes wrong, and the decoder's line saying how (kav_error_describe).
struct Damage {
  std::uint64_t offset = 0;
  std::string reason;
};

struct CheckedFile {
  MappedFile mapped;  // the bytes, which `image` reads for as long as the rows are wanted
  // Why the file could not be read or recognised, and where, when any byte could be read.
  std::optional<std::string> failure;
  std::optional<std::uint64_t> failureOffset;
  kav_kind kind = KAV_KIND_NONE;
  kav_image image{};  // the header once it is sound; the rows when the file is
  std::optional<Damage> damage;

  std::span<const std::uint8_t> bytes() const { return mapped.block.bytes(); }
  bool Sound() const { return !failure && !damage; }
};

// Maps and checks the file at `path`. A failed system call adds its cause to the failure
// ("Cannot open this file: No such file or directory"), a failed allocation is the failure
// "Out of memory", and a file without pixels (an MZR file may be 0 pixels wide or high) the
// failure "no pixels".
CheckedFile CheckFile(const std::string& path);

// CheckFile in two steps, so that rows can be decoded while the rest is checked: OpenFile maps
// the file and judges its header (`image` holds it when the result is Sound()), and
// CheckStructure then checks the offset tables and codes. It only adds a failure or damage,
// so another thread may read `mapped` and `image` meanwhile.
CheckedFile OpenFile(const std::string& path);
void CheckStructure(CheckedFile& checked);

// The failure of a file that shrank while it was read (its missing part reads as zeros).
inline constexpr std::string_view kShrankText = "the file shrank while it was read";
// The failure of a sound file of width or height 0.
inline constexpr std::string_view kNoPixelsText = "no pixels";

}  // namespace kav
