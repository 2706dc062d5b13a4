// libpng alone decoding a PNG into one block of its rows as stored (8-bit indices for a
// palette PNG, 4 bytes a pixel for an RGBA one), as the converter's reader does, and nothing
// else: the floor bench/run holds converting a PNG to RLE against.
//   kav_png_decode FILE

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>

namespace {

[[noreturn]] void OnError(png_structp png, png_const_charp /*message*/) {
  png_longjmp(png, 1);
}

// libpng's longjmp must pass over no destructor: the picture belongs to the caller.
bool Decode(png_structp png, png_infop info, std::FILE* file,
            std::unique_ptr<png_byte[]>& picture) {
  if (setjmp(png_jmpbuf(png)) != 0) {
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  png_set_packing(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const png_size_t rowBytes = png_get_rowbytes(png, info);
  // Left uninitialised, as the reader's block is: the rows are its first writes.
  picture = std::make_unique_for_overwrite<png_byte[]>(rowBytes * height);
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, picture.get() + rowBytes * y, nullptr);
    }
  }
  png_read_end(png, nullptr);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(argv[1], "rb"),
                                                             std::fclose);
  if (!file) {
    return 1;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  std::unique_ptr<png_byte[]> picture;
  const bool decoded = info != nullptr && Decode(png, info, file.get(), picture);
  png_destroy_read_struct(&png, &info, nullptr);
  return decoded ? 0 : 1;
}
