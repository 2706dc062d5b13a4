#include "convert/up_to_date.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <span>
#include <tuple>
#include <vector>

#include "convert/batch.h"
#include "formats/c_header.h"
#include "formats/mzr.h"
#include "formats/output_shell.h"
#include "kav/kav_formats.h"
#include "platform/format_text.h"
#include "platform/little_endian.h"

namespace kav {
namespace {

constexpr const char* kUpToDateFormat = "%s is up to date";
// Every format's settings lie in its first bytes: the MZR header, or the RLE or RLS signature.
constexpr std::size_t kSettingsBytes = kMzrHeaderSize;
// A header's text before its array holds little but the array's name, four times.
constexpr std::size_t kHeaderPreambleBytes = 256;

// Whether a converted file that begins with `leading` was written with `settings`: in their
// format (RLE and RLS are told apart by their signatures) and, for MZR, with the four
// settings its 20-byte header holds.
bool WrittenWith(std::span<const std::uint8_t> leading, const ConversionSettings& settings) {
  if (settings.format == kFormatRle || settings.format == kFormatRls) {
    return kav_detect(leading.data(), leading.size()) ==
           (settings.format == kFormatRle ? KAV_KIND_RLE : KAV_KIND_RLS);
  }
  if (leading.size() < kMzrHeaderSize ||
      !std::ranges::equal(leading.first(kMzrMagic.size()), kMzrMagic)) {
    return false;
  }
  const auto holds = [leading](std::size_t offset, std::int32_t value) {
    return LoadLe16(leading.subspan(offset)) == static_cast<std::uint16_t>(value);
  };
  return leading[kMzrRemappingOffset] == (settings.useRemapping ? 1 : 0) &&
         holds(kMzrStartColorOffset, settings.startColor) &&
         holds(kMzrEndColorOffset, settings.endColor) &&
         holds(kMzrTransparentColorOffset, settings.transparentColor);
}

bool NotOlder(const struct stat& output, const struct stat& source) {
  return std::tie(output.st_mtim.tv_sec, output.st_mtim.tv_nsec) >=
         std::tie(source.st_mtim.tv_sec, source.st_mtim.tv_nsec);
}

// Up to `count` bytes from the start of the file at `path`; nullopt when it cannot be read.
std::optional<std::vector<std::uint8_t>> ReadStart(const std::string& path, std::size_t count) {
  InputFile file;
  std::vector<std::uint8_t> bytes(count);
  const std::optional<std::size_t> got = file.Open(path) ? file.Read(bytes) : std::nullopt;
  if (!got) {
    return std::nullopt;
  }
  bytes.resize(*got);
  return bytes;
}

// Whether the regular file at `path` is not older than the source and its first `count`
// bytes pass `written`.
bool UpToDate(const std::string& path, const struct stat& source, std::size_t count,
              const std::function<bool(std::span<const std::uint8_t>)>& written) {
  struct stat output {};
  if (stat(path.c_str(), &output) != 0 || !S_ISREG(output.st_mode) || !NotOlder(output, source)) {
    return false;
  }
  const std::optional<std::vector<std::uint8_t>> start = ReadStart(path, count);
  return start && written(*start);
}

bool BinaryUpToDate(const std::string& outputPath, const struct stat& source,
                    const ConversionSettings& settings) {
  return UpToDate(outputPath, source, kSettingsBytes, [&](std::span<const std::uint8_t> start) {
    return WrittenWith(start, settings);
  });
}

// A header is up to date when it holds its array under the name asked for, and the bytes that
// begin the array were written with the settings.
bool HeaderUpToDate(const std::string& outputPath, const struct stat& source,
                    const ConversionSettings& settings) {
  const std::string name = HeaderNameOf(outputPath, settings);
  const std::size_t textBytes =
      kHeaderPreambleBytes + 4 * name.size() + kSettingsBytes * kCHeaderByteText;
  return UpToDate(HeaderPathOf(outputPath), source, textBytes,
                  [&](std::span<const std::uint8_t> text) {
                    const std::optional<CHeaderStart> start = ReadCHeaderStart(
                        {reinterpret_cast<const char*>(text.data()), text.size()}, kSettingsBytes);
                    return start && start->name == name && WrittenWith(start->bytes, settings);
                  });
}

}  // namespace

bool ConvertUnlessUpToDate(ConverterHost& host, std::int32_t format, const std::string& sourcePath,
                           const std::string& outputPath) {
  ConversionSettings settings = host.Settings();
  settings.format = format;
  const bool binary = settings.emitted != Emit::kHeader;
  const bool header = settings.emitted != Emit::kBinary;
  struct stat source {};
  if (stat(sourcePath.c_str(), &source) != 0 ||
      (binary && !BinaryUpToDate(outputPath, source, settings)) ||
      (header && !HeaderUpToDate(outputPath, source, settings))) {
    return ConvertFile(host, format, sourcePath, outputPath);
  }
  if (binary) {
    host.SetStatusText(FormatText(kUpToDateFormat, outputPath.c_str()));
  }
  if (header) {
    host.SetStatusText(FormatText(kUpToDateFormat, HeaderPathOf(outputPath).c_str()));
  }
  return true;
}

}  // namespace kav
