#include "cli/png_writer.h"

#include <png.h>

#include <csetjmp>
#include <vector>

#include "platform/file.h"

namespace kav {
namespace {

void WriteToOutput(png_structp png, png_bytep data, png_size_t length) {
  auto* file = static_cast<OutputFile*>(png_get_io_ptr(png));
  if (!file->Write(std::span<const std::uint8_t>(data, length))) {
    png_error(png, "write failed");
  }
}

void FlushNothing(png_structp /*png*/) {}

// Owns libpng's write state for one file.
class PngWriteState {
 public:
  PngWriteState()
      : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr)),
        info_(png_ != nullptr ? png_create_info_struct(png_) : nullptr) {}
  ~PngWriteState() { png_destroy_write_struct(&png_, &info_); }
  PngWriteState(const PngWriteState&) = delete;
  PngWriteState& operator=(const PngWriteState&) = delete;

  bool Ready() const { return png_ != nullptr && info_ != nullptr; }
  png_structp png() { return png_; }
  png_infop info() { return info_; }

 private:
  png_structp png_;
  png_infop info_;
};

// libpng reports errors by longjmp back to the setjmp here, so this function keeps no
// object with a destructor between the two: the row buffer and the file belong to the
// caller.
bool EncodeRows(PngWriteState& state, OutputFile& file, std::uint64_t width, std::uint64_t height,
                const RgbaRowSource& rows, std::vector<std::uint8_t>& row) {
  png_structp png = state.png();
  png_infop info = state.info();
  if (setjmp(png_jmpbuf(png)) != 0) {
    return false;
  }
  png_set_write_fn(png, &file, WriteToOutput, FlushNothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (std::uint64_t y = 0; y < height; ++y) {
    rows(y, row);
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  return true;
}

}  // namespace

bool WriteRgbaPng(const std::string& path, std::uint64_t width, std::uint64_t height,
                  const RgbaRowSource& rows) {
  if (width == 0 || height == 0 || width > kPngMaxDimension || height > kPngMaxDimension) {
    return false;
  }
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width * 4));
  OutputFile file;
  PngWriteState state;
  if (!state.Ready() || !file.Create(path, "")) {
    return false;
  }
  return EncodeRows(state, file, width, height, rows, row) && file.Commit();
}

}  // namespace kav
