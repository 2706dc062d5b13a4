#pragma once
// A converted file as info and render take it: mapped, never copied, its header judged
// against its length before the rest is read, then its whole structure checked.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "formats/decode.h"
#include "platform/mapped_file.h"

namespace kav {

struct CheckedFile {
  MappedFile mapped;  // the bytes, which RowDecoder reads for as long as the rows are wanted
  // Why the file could not be read or recognised, and where, when any byte could be read.
  std::optional<std::string> failure;
  std::optional<std::uint64_t> failureOffset;
  FileKind kind = FileKind::kUnknown;
  std::optional<DecodedImage> image;
  std::optional<DecodeError> damage;

  std::span<const std::uint8_t> bytes() const { return mapped.block.bytes(); }
  bool Sound() const { return !failure && !damage; }
};

// Maps and checks the file at `path`. A failed system call adds its cause to the failure
// ("Cannot open this file: No such file or directory"), and a failed allocation is the
// failure "Out of memory".
CheckedFile CheckFile(const std::string& path);

// The failure of a file that shrank while it was read (its missing part reads as zeros).
inline constexpr std::string_view kShrankText = "the file shrank while it was read";

}  // namespace kav
