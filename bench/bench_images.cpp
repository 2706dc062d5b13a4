#include "bench_images.h"

#include <gif_lib.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <span>

namespace kav::bench {
namespace {

constexpr std::uint32_t kHeadersAndPalette = 54 + 1024;

void PutLe32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// Row y (from the top) of a sprite sheet: cells of 200 x 150 pixels, each a filled ellipse on
// index 255 with a shadow of 250 below it, so runs cross the 128-column boundaries.
void SpriteRow(std::uint32_t y, std::span<std::uint8_t> row, std::mt19937& random) {
  std::memset(row.data(), 255, row.size());
  const std::uint32_t cellY = y % 150;
  for (std::uint32_t cellX = 0; cellX < row.size(); cellX += 200) {
    const double dy = (static_cast<double>(cellY) - 60.0) / 50.0;
    if (dy * dy < 1.0) {
      const auto half = static_cast<std::uint32_t>(80.0 * std::sqrt(1.0 - dy * dy));
      for (std::uint32_t x = cellX + 100 - half; x < cellX + 100 + half && x < row.size(); ++x) {
        row[x] = static_cast<std::uint8_t>(16 + (x + y) % 64 + (random() % 4 == 0 ? 1 : 0));
      }
    } else if (cellY >= 120 && cellY < 132) {
      for (std::uint32_t x = cellX + 40; x < cellX + 160 && x < row.size(); ++x) {
        row[x] = 250;
      }
    }
  }
}

constexpr std::size_t kLongestCode = 255;
constexpr std::size_t kShortestRun = 3;

std::size_t RunAt(std::span<const std::uint8_t> row, std::size_t x) {
  std::size_t run = 1;
  while (x + run < row.size() && run < kLongestCode && row[x + run] == row[x]) {
    ++run;
  }
  return run;
}

void CodeRle8Row(std::span<const std::uint8_t> row, std::vector<std::uint8_t>& out) {
  std::size_t x = 0;
  while (x < row.size()) {
    const std::size_t run = RunAt(row, x);
    if (run >= kShortestRun) {
      out.insert(out.end(), {static_cast<std::uint8_t>(run), row[x]});
      x += run;
      continue;
    }
    std::size_t end = x;
    while (end < row.size() && end - x < kLongestCode && RunAt(row, end) < kShortestRun) {
      ++end;
    }
    if (end - x < kShortestRun) {  // too short for a block: runs of one
      for (; x < end; ++x) {
        out.insert(out.end(), {1, row[x]});
      }
      continue;
    }
    out.insert(out.end(), {0, static_cast<std::uint8_t>(end - x)});
    out.insert(out.end(), row.begin() + static_cast<std::ptrdiff_t>(x),
               row.begin() + static_cast<std::ptrdiff_t>(end));
    if ((end - x) % 2 != 0) {
      out.push_back(0);  // blocks end on a 16-bit boundary
    }
    x = end;
  }
  out.insert(out.end(), {0, 0});
}

}  // namespace

std::vector<std::uint8_t> MakeBenchBmp(std::uint32_t width, std::uint32_t height, Content content) {
  const std::uint32_t stride = (width + 3) & ~3u;
  const std::uint64_t rowsBytes = std::uint64_t{stride} * height;
  std::vector<std::uint8_t> file(kHeadersAndPalette + rowsBytes, 0);
  std::uint8_t* header = file.data();
  header[0] = 'B';
  header[1] = 'M';
  PutLe32(header + 2, static_cast<std::uint32_t>(file.size()));
  PutLe32(header + 10, kHeadersAndPalette);
  PutLe32(header + 14, 40);
  PutLe32(header + 18, width);
  PutLe32(header + 22, height);
  header[26] = 1;
  header[28] = 8;
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint8_t* entry = header + 54 + 4 * i;
    entry[0] = static_cast<std::uint8_t>(i * 3);
    entry[1] = static_cast<std::uint8_t>(255 - i);
    entry[2] = static_cast<std::uint8_t>(i);
  }
  std::mt19937 random(width * 31 + height);
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::span<std::uint8_t> row(
        file.data() + kHeadersAndPalette + std::uint64_t{height - 1 - y} * stride, width);
    switch (content) {
      case Content::kSprite:
        SpriteRow(y, row, random);
        break;
      case Content::kNoise:
        for (std::uint8_t& pixel : row) {
          pixel = static_cast<std::uint8_t>(random());
        }
        break;
      case Content::kAlternating:
        for (std::uint32_t x = 0; x < width; ++x) {
          row[x] = x % 2 == 0 ? 255 : static_cast<std::uint8_t>(1 + y % 200);
        }
        break;
    }
  }
  return file;
}

std::vector<std::uint8_t> MakeBenchRle8Bmp(std::uint32_t width, std::uint32_t height,
                                           Content content) {
  const std::vector<std::uint8_t> raw = MakeBenchBmp(width, height, content);
  const std::uint64_t stride = (width + 3) & ~3u;
  std::vector<std::uint8_t> file(raw.begin(), raw.begin() + kHeadersAndPalette);
  for (std::uint64_t stored = 0; stored < height; ++stored) {
    CodeRle8Row(std::span(raw).subspan(kHeadersAndPalette + stored * stride, width), file);
  }
  file.insert(file.end(), {0, 1});
  PutLe32(file.data() + 2, static_cast<std::uint32_t>(file.size()));
  PutLe32(file.data() + 30, 1);  // RLE8
  PutLe32(file.data() + 34, static_cast<std::uint32_t>(file.size() - kHeadersAndPalette));
  return file;
}

namespace {

void AppendToVector(png_structp png, png_bytep data, png_size_t length) {
  auto& out = *static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out.insert(out.end(), data, data + length);
}

[[noreturn]] void OnWriteError(png_structp png, png_const_charp /*message*/) {
  png_longjmp(png, 1);
}

// libpng's longjmp must pass over no destructor: everything with one belongs to the caller.
bool EncodePng(png_structp png, png_infop info, std::span<const std::uint8_t> bmp,
               std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t>& out,
               std::array<png_color, 256>& palette) {
  if (setjmp(png_jmpbuf(png)) != 0) {
    return false;
  }
  png_set_write_fn(png, &out, AppendToVector, nullptr);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  for (std::size_t i = 0; i < palette.size(); ++i) {
    const std::span<const std::uint8_t> entry = bmp.subspan(54 + 4 * i, 4);
    palette[i] = {entry[2], entry[1], entry[0]};
  }
  png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  png_write_info(png, info);
  const std::uint64_t stride = (width + 3) & ~3u;
  for (std::uint64_t y = 0; y < height; ++y) {  // the BMP's rows are stored bottom row first
    const std::uint64_t stored = height - 1 - y;
    png_write_row(png, bmp.subspan(kHeadersAndPalette + stored * stride, width).data());
  }
  png_write_end(png, info);
  return true;
}

bool EncodeRgbaPng(png_structp png, png_infop info, std::span<const std::uint8_t> bmp,
                   std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t>& out,
                   std::vector<std::uint8_t>& row) {
  if (setjmp(png_jmpbuf(png)) != 0) {
    return false;
  }
  png_set_write_fn(png, &out, AppendToVector, nullptr);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const std::uint64_t stride = (width + 3) & ~3u;
  for (std::uint64_t y = 0; y < height; ++y) {  // the BMP's rows are stored bottom row first
    const std::span<const std::uint8_t> indices =
        bmp.subspan(kHeadersAndPalette + (height - 1 - y) * stride, width);
    for (std::size_t x = 0; x < width; ++x) {
      const std::span<const std::uint8_t> entry = bmp.subspan(54 + 4 * std::size_t{indices[x]}, 4);
      const std::uint8_t alpha = indices[x] == 255 ? 0 : 255;
      std::array<std::uint8_t, 4> pixel{entry[2], entry[1], entry[0], alpha};
      if (alpha == 0) {
        pixel = {0, 0, 0, 0};
      }
      std::copy(pixel.begin(), pixel.end(), row.begin() + static_cast<std::ptrdiff_t>(4 * x));
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  return true;
}

}  // namespace

std::vector<std::uint8_t> MakeBenchRgbaPng(std::uint32_t width, std::uint32_t height,
                                           Content content) {
  const std::vector<std::uint8_t> bmp = MakeBenchBmp(width, height, content);
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> row(std::size_t{width} * 4);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnWriteError, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  const bool written = info != nullptr && EncodeRgbaPng(png, info, bmp, width, height, out, row);
  png_destroy_write_struct(&png, &info);
  return written ? out : std::vector<std::uint8_t>{};
}

std::vector<std::uint8_t> MakeBenchPng(std::uint32_t width, std::uint32_t height, Content content) {
  const std::vector<std::uint8_t> bmp = MakeBenchBmp(width, height, content);
  std::vector<std::uint8_t> out;
  std::array<png_color, 256> palette{};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnWriteError, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  const bool written = info != nullptr && EncodePng(png, info, bmp, width, height, out, palette);
  png_destroy_write_struct(&png, &info);
  return written ? out : std::vector<std::uint8_t>{};
}

namespace {

int WriteGifBytes(GifFileType* gif, const GifByteType* bytes, int count) {
  auto& out = *static_cast<std::vector<std::uint8_t>*>(gif->UserData);
  out.insert(out.end(), bytes, bytes + count);
  return count;
}

struct GifWriterCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    EGifCloseFile(gif, &error);
  }
};

struct ColourTableFree {
  void operator()(ColorMapObject* table) const { GifFreeMapObject(table); }
};
using ColourTable = std::unique_ptr<ColorMapObject, ColourTableFree>;

// 256 colours, entry i of table `shade` being (i, 255 - i, i * 7 + shade).
ColourTable MakeTable(int shade) {
  std::array<GifColorType, 256> colours{};
  for (std::size_t i = 0; i < colours.size(); ++i) {
    colours[i] = {static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i),
                  static_cast<GifByteType>(i * 7 + static_cast<std::size_t>(shade))};
  }
  return ColourTable(GifMakeMapObject(256, colours.data()));
}

bool PutGifFrame(GifFileType* gif, std::uint32_t frame, std::uint32_t width, std::uint32_t height,
                 ColorMapObject* table, std::mt19937& random) {
  const GraphicsControlBlock control{DISPOSE_DO_NOT, false, 4, 255};
  std::array<GifByteType, 4> extension{};
  EGifGCBToExtension(&control, extension.data());
  if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension.data()) == GIF_ERROR ||
      EGifPutImageDesc(gif, 0, 0, static_cast<int>(width), static_cast<int>(height), false,
                       table) == GIF_ERROR) {
    return false;
  }
  std::vector<std::uint8_t> row(width);
  for (std::uint32_t y = 0; y < height; ++y) {
    SpriteRow(y, row, random);
    std::rotate(row.begin(), row.begin() + static_cast<std::ptrdiff_t>((frame * 16) % width),
                row.end());
    if (EGifPutLine(gif, row.data(), static_cast<int>(width)) == GIF_ERROR) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::vector<std::uint8_t> MakeBenchGif(std::uint32_t width, std::uint32_t height,
                                       std::uint32_t frames, bool localTables) {
  std::vector<std::uint8_t> out;
  int error = 0;
  std::unique_ptr<GifFileType, GifWriterCloser> gif(EGifOpen(&out, WriteGifBytes, &error));
  const ColourTable global = MakeTable(0);
  const ColourTable local = MakeTable(3);
  if (!gif || !global || !local) {
    return {};
  }
  EGifSetGifVersion(gif.get(), true);
  if (EGifPutScreenDesc(gif.get(), static_cast<int>(width), static_cast<int>(height), 8, 0,
                        global.get()) == GIF_ERROR) {
    return {};
  }
  std::mt19937 random(24);
  for (std::uint32_t frame = 0; frame < frames; ++frame) {
    ColorMapObject* table = localTables && frame % 8 == 7 ? local.get() : nullptr;
    if (!PutGifFrame(gif.get(), frame, width, height, table, random)) {
      return {};
    }
  }
  gif.reset();  // writes the trailer
  return out;
}

}  // namespace kav::bench
