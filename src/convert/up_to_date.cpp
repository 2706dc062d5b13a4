#include "convert/up_to_date.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>
#include <tuple>
#include <utility>

#include "convert/frame_conversion.h"
#include "convert/planned_outputs.h"
#include "formats/c_header.h"
#include "formats/output_format.h"
#include "formats/output_shell.h"
#include "kav/kav_formats.h"
#include "platform/mapped_file.h"

namespace kav {
namespace {

// Whether `file` passes the decoder's whole check and was written with `settings`: in their
// format (its signature) and, for MZR, with the four settings its header holds.
bool SoundAndWrittenWith(std::span<const std::uint8_t> file, const ConversionSettings& settings) {
  const std::string_view signature = FormatOf(settings.format).signature;
  kav_image image{};
  if (file.size() < signature.size() ||
      !std::equal(signature.begin(), signature.end(), file.begin(),
                  [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }) ||
      kav_open(&image, file.data(), file.size(), nullptr) != KAV_OK) {
    return false;
  }
  if (image.kind != KAV_KIND_MZR) {
    return true;
  }
  const auto holds = [](std::uint16_t field, std::int32_t value) {
    return field == static_cast<std::uint16_t>(value);
  };
  return image.mzr.use_remapping == (settings.useRemapping ? 1 : 0) &&
         holds(image.mzr.start_color, settings.startColor) &&
         holds(image.mzr.end_color, settings.endColor) &&
         holds(image.mzr.transparent_color, settings.transparentColor);
}

bool NotOlder(const struct stat& output, const struct stat& source) {
  return std::tie(output.st_mtim.tv_sec, output.st_mtim.tv_nsec) >=
         std::tie(source.st_mtim.tv_sec, source.st_mtim.tv_nsec);
}

// The regular file at `path` when it is not older than the source; nullopt otherwise, or
// when it cannot be read (an empty file has an empty block).
std::optional<MemoryBlock> NewerOutput(const std::string& path, const struct stat& source) {
  struct stat output {};
  if (stat(path.c_str(), &output) != 0 || !S_ISREG(output.st_mode) || !NotOlder(output, source)) {
    return std::nullopt;
  }
  MappedFile file = MapWholeFile(path);
  if (file.failure != MappedFile::Failure::kNone) {
    return std::nullopt;
  }
  return std::move(file.block);
}

bool BinaryUpToDate(const std::string& outputPath, const struct stat& source,
                    const ConversionSettings& settings) {
  const std::optional<MemoryBlock> file = NewerOutput(outputPath, source);
  return file && !file->Damaged() && SoundAndWrittenWith(file->bytes(), settings);
}

// A header is up to date when it is, byte for byte, the header of the array it holds under
// the name asked for, and that array is a sound file written with the settings.
bool HeaderUpToDate(const std::string& outputPath, const struct stat& source,
                    const ConversionSettings& settings) {
  const std::optional<MemoryBlock> file = NewerOutput(HeaderPathOf(outputPath), source);
  if (!file) {
    return false;
  }
  const std::string_view text(reinterpret_cast<const char*>(file->data()), file->size());
  const std::optional<CHeaderStart> held = ReadCHeaderStart(text, SIZE_MAX);
  const std::string name = HeaderNameOf(outputPath, settings);
  if (!held || held->name != name) {
    return false;
  }
  VectorSink rewritten;
  EncodeCHeader(held->bytes, name, rewritten);
  return std::string_view(reinterpret_cast<const char*>(rewritten.bytes().data()),
                          rewritten.bytes().size()) == text &&
         !file->Damaged() && SoundAndWrittenWith(held->bytes, settings);
}

}  // namespace

bool OutputsUpToDate(const ConversionSettings& settings, const std::string& sourcePath,
                     const std::string& outputPath) {
  struct stat source {};
  if (stat(sourcePath.c_str(), &source) != 0) {
    return false;
  }
  // The palette file is an input of every output too: outputs older than it are remade.
  struct stat palette {};
  if (!settings.paletteFile.empty()) {
    if (stat(settings.paletteFile.c_str(), &palette) != 0) {
      return false;
    }
    if (!NotOlder(source, palette)) {
      source = palette;
    }
  }
  const std::vector<FrameOutput> outputs = OutputsOfSource(sourcePath, outputPath, settings);
  return !outputs.empty() && std::ranges::all_of(outputs, [&](const FrameOutput& output) {
    const ConversionSettings frame = SettingsOfFrame(settings, output);
    return (frame.emitted == Emit::kHeader || BinaryUpToDate(output.path, source, frame)) &&
           (frame.emitted == Emit::kBinary || HeaderUpToDate(output.path, source, frame));
  });
}

Conversion ConvertUnlessUpToDate(const ConversionSettings& settings, const std::string& sourcePath,
                                 const std::string& outputPath, const OutputWanted& stillWanted) {
  if (!OutputsUpToDate(settings, sourcePath, outputPath)) {
    return ConvertFile(settings, sourcePath, outputPath, stillWanted);
  }
  Conversion upToDate = NothingWritten(Outcome::kUpToDate);
  upToDate.format = settings.format;
  upToDate.files = FilesWritten(sourcePath, outputPath, settings);
  return upToDate;
}

}  // namespace kav
