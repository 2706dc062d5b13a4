#pragma once
// RGBA PNG files, written row by row through libpng, either into an output file that appears
// only when it is complete or onto a stream (standard output).

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

namespace kav {

// Fills row `y` (width * 4 bytes: red, green, blue, alpha); false when the picture's source
// failed, which stops the writing.
using RgbaRowSource = std::function<bool(std::uint64_t y, std::span<std::uint8_t> rgba)>;

// Shows one warning of libpng's.
using PngWarnings = std::function<void(std::string_view text)>;

// The largest width or height a PNG file can have.
inline constexpr std::uint64_t kPngMaxDimension = 0x7FFFFFFF;

struct PngOutcome {
  enum class Result { kWritten, kCannotCreate, kCannotWrite, kSourceFailed };
  Result result = Result::kWritten;
  // Why, for kCannotCreate and kCannotWrite: what the system said of the failed call, the
  // rule that refused the output, or libpng's own message.
  std::string cause;
};

// Writes a width x height RGBA PNG to `path`, never over the file at `protectedPath` (the
// picture's source); nothing is left at `path` unless it is written whole.
PngOutcome WriteRgbaPngFile(const std::string& path, const std::string& protectedPath,
                            std::uint64_t width, std::uint64_t height, const RgbaRowSource& rows,
                            const PngWarnings& warnings);

// The same onto `out` as it is encoded; a failed write shows in the stream's state too.
PngOutcome WriteRgbaPng(std::ostream& out, std::uint64_t width, std::uint64_t height,
                        const RgbaRowSource& rows, const PngWarnings& warnings);

}  // namespace kav
