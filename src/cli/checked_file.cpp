#include "cli/checked_file.h"

#include <new>

#include "platform/format_text.h"

namespace kav {
namespace {

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

// The decoder's line for `error`: what info and render print.
std::string Describe(const kav_image& image, const kav_error& error) {
  std::string line(kav_error_describe(&image, &error, nullptr, 0), '\0');
  kav_error_describe(&image, &error, line.data(), line.size() + 1);
  return line;
}

// What a step of the check found: a file that shrank meanwhile is refused for that first, as
// its missing part read as zeros.
void Judge(CheckedFile& checked, bool sound, const kav_error& error) {
  if (checked.mapped.block.Damaged()) {
    checked.failure = kShrankText;
  } else if (!sound) {
    checked.damage = Damage{error.offset, Describe(checked.image, error)};
  } else if (checked.image.width == 0 || checked.image.height == 0) {
    // Sound for an MZR file, whose header allows it, but nothing to show or draw.
    checked.failure = kNoPixelsText;
  }
}

void Open(const std::string& path, CheckedFile& checked) {
  checked.mapped = MapWholeFile(path);
  checked.failure = MappingFailure(checked.mapped);
  if (checked.failure) {
    return;
  }
  const std::span<const std::uint8_t> bytes = checked.bytes();
  checked.kind = kav_detect(bytes.data(), bytes.size());
  kav_error error{};
  const kav_reason header = kav_open_header(&checked.image, bytes.data(), bytes.size(), &error);
  if (header == KAV_ERR_UNKNOWN_KIND) {
    checked.failure = Describe(checked.image, error);
    checked.failureOffset = error.offset;
    return;
  }
  Judge(checked, header == KAV_OK, error);
}

void CheckRest(CheckedFile& checked) {
  kav_error error{};
  Judge(checked, kav_check(&checked.image, &error) == KAV_OK, error);
}

}  // namespace

CheckedFile CheckFile(const std::string& path) {
  CheckedFile checked = OpenFile(path);
  if (checked.Sound()) {
    CheckStructure(checked);
  }
  return checked;
}

CheckedFile OpenFile(const std::string& path) {
  CheckedFile checked;
  try {
    Open(path, checked);
  } catch (const std::bad_alloc&) {
    checked = CheckedFile{};
    checked.failure = "Out of memory";
  }
  return checked;
}

void CheckStructure(CheckedFile& checked) {
  try {
    CheckRest(checked);
  } catch (const std::bad_alloc&) {
    checked.failure = "Out of memory";
  }
}

}  // namespace kav
