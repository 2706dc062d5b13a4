#include "cli/png_writer.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csetjmp>
#include <ostream>
#include <vector>

#include "platform/file.h"
#include "platform/format_text.h"
#include "platform/png_state.h"

namespace kav {
namespace {

// zlib's fastest level: for a 256 x 256 thumbnail, about 1 ms instead of libpng's 5 (level 6
// and every filter tried on every row), for a file up to two thirds larger.
constexpr int kFastLevel = 1;

// Where the encoded bytes go: an output file or a stream. Returns false when a write failed.
using PngBytesOut = std::function<bool(std::span<const std::uint8_t> bytes)>;

// What libpng reported while one file was written. Filled from C callbacks, so it holds no
// object that could throw.
struct PngReport {
  const PngWarnings* warnings = nullptr;
  const PngBytesOut* bytesOut = nullptr;
  std::array<char, 256> error{};  // libpng's message, cut to fit
  bool sourceFailed = false;
};

PngReport& ReportOf(png_structp png) {
  return *static_cast<PngReport*>(png_get_error_ptr(png));
}

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
  std::array<char, 256>& error = ReportOf(png).error;
  const std::string_view text(message);
  const std::size_t length = std::min(text.size(), error.size() - 1);
  std::copy_n(text.begin(), length, error.begin());
  error[length] = '\0';
  png_longjmp(png, 1);
}

void OnPngWarning(png_structp png, png_const_charp message) {
  const PngReport& report = ReportOf(png);
  if (report.warnings != nullptr && *report.warnings) {
    (*report.warnings)(message);
  }
}

void WriteBytes(png_structp png, png_bytep data, png_size_t length) {
  if (!(*ReportOf(png).bytesOut)(std::span<const std::uint8_t>(data, length))) {
    png_error(png, "write failed");
  }
}

void FlushNothing(png_structp /*png*/) {}

// libpng reports errors by longjmp back to the setjmp here, so this function keeps no
// object with a destructor between the two: the row buffer and the report belong to the
// caller.
bool EncodeRows(PngWriteState& state, std::uint64_t width, std::uint64_t height,
                const RgbaRowSource& rows, std::vector<std::uint8_t>& row,
                PngCompression compression) {
  png_structp png = state.png();
  png_infop info = state.info();
  if (setjmp(png_jmpbuf(png)) != 0) {
    return false;
  }
  png_set_write_fn(png, nullptr, WriteBytes, FlushNothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (compression == PngCompression::kFast) {
    png_set_compression_level(png, kFastLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  }
  png_write_info(png, info);
  for (std::uint64_t y = 0; y < height; ++y) {
    if (!rows(y, row)) {
      ReportOf(png).sourceFailed = true;
      png_error(png, "the picture's source failed");
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  return true;
}

// Encodes the picture into `bytesOut`; the cause of a failure is libpng's message.
PngOutcome Encode(const PngBytesOut& bytesOut, std::uint64_t width, std::uint64_t height,
                  const RgbaRowSource& rows, const PngWarnings& warnings,
                  PngCompression compression) {
  using Result = PngOutcome::Result;
  if (width > kPngMaxDimension || height > kPngMaxDimension) {
    return {Result::kCannotWrite, "the picture is too large for a PNG file"};
  }
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width * 4));
  PngReport report{.warnings = &warnings, .bytesOut = &bytesOut};
  PngWriteState state(
      png_create_write_struct(PNG_LIBPNG_VER_STRING, &report, OnPngError, OnPngWarning));
  if (!state.Ready()) {
    return {Result::kCannotWrite, SystemErrorText(ENOMEM)};
  }
  if (EncodeRows(state, width, height, rows, row, compression)) {
    return {};
  }
  if (report.sourceFailed) {
    return {Result::kSourceFailed, {}};
  }
  return {Result::kCannotWrite, report.error.data()};
}

}  // namespace

PngOutcome WriteRgbaPngFile(const std::string& path, const std::string& protectedPath,
                            std::uint64_t width, std::uint64_t height, const RgbaRowSource& rows,
                            const PngWarnings& warnings, PngCompression compression) {
  using Result = PngOutcome::Result;
  const auto causeOf = [](const OutputFile& file) {
    // The picture's source is the file being drawn, whatever the writers call it.
    return file.LastError() == OutputRefusal::kInput ? std::string("it is the file being drawn")
                                                     : ErrorText(file.LastError());
  };
  OutputFile file;
  if (!file.Create(path, protectedPath)) {
    return {Result::kCannotCreate, causeOf(file)};
  }
  PngOutcome outcome =
      Encode([&file](std::span<const std::uint8_t> bytes) { return file.Write(bytes); }, width,
             height, rows, warnings, compression);
  if (outcome.result == Result::kWritten && !file.Commit()) {
    outcome.result = Result::kCannotWrite;
  }
  if (outcome.result == Result::kCannotWrite && file.LastError()) {
    outcome.cause = causeOf(file);  // the system's word over libpng's "write failed"
  }
  return outcome;
}

PngOutcome WriteRgbaPng(std::ostream& out, std::uint64_t width, std::uint64_t height,
                        const RgbaRowSource& rows, const PngWarnings& warnings) {
  PngOutcome outcome = Encode(
      [&out](std::span<const std::uint8_t> bytes) {
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return out.good();
      },
      width, height, rows, warnings, PngCompression::kDefault);
  if (outcome.result == PngOutcome::Result::kWritten && !out.flush()) {
    outcome.result = PngOutcome::Result::kCannotWrite;
  }
  return outcome;
}

}  // namespace kav
