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

void Check(const std::string& path, CheckedFile& checked) {
  checked.mapped = MapWholeFile(path);
  checked.failure = MappingFailure(checked.mapped);
  if (checked.failure) {
    return;
  }
  checked.kind = DetectFileKind(checked.bytes());
  if (checked.kind == FileKind::kUnknown) {
    checked.failure = "not an MZR, RLE or RLS file";
    checked.failureOffset = 0;
    return;
  }
  DecodeResult result = DecodeFile(checked.bytes(), PixelOutput::kCheckOnly);
  if (checked.mapped.block.Damaged()) {
    checked.failure = kShrankText;
  } else if (auto* error = std::get_if<DecodeError>(&result)) {
    checked.damage = std::move(*error);
  } else {
    checked.image = std::move(std::get<DecodedImage>(result));
  }
}

}  // namespace

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
