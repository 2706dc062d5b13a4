// Each encoder in memory, and the reader, on pictures of 1, 16 and 64 megapixels; the decoder
// of include/kav/kav_formats.h on their RLE and RLS files: opening (the whole check), every
// row to indices beside memcpy of the same rows, and one segment of every row of the widest
// picture, from its start, middle and end; drawing sprites into a frame buffer in each
// format beside a keyed copy and memcpy of the same sprites decoded beforehand; a
// 256-pixel thumbnail on one thread and two; the frames of a 1024 x 1024 GIF of 64 frames
// composed, beside giflib alone decoding every frame's lines; and libpng decoding an
// 8192 x 8192 photograph beside mapping its pixels onto a palette of 256 colours.

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <tuple>

#include "bench_images.h"
#include "color/palette_mapper.h"
#include "formats/c_header.h"
#include "formats/mzr.h"
#include "formats/run_length.h"
#include "formats/thumbnail.h"
#include "input/gif_frames.h"
#include "input/read_picture.h"
#include "kav/kav_formats.h"
#include "photo_images.h"
#include "platform/byte_source.h"

namespace {

using kav::bench::Content;

// Counts the bytes, as a stand-in for a file that costs nothing.
class CountingSink final : public kav::ByteSink {
 public:
  void Write(std::span<const std::uint8_t> bytes) override { count += bytes.size(); }
  std::uint64_t count = 0;
};

std::uint32_t SideFor(std::int64_t megapixels) {
  switch (megapixels) {
    case 1:
      return 1024;
    case 16:
      return 4096;
    default:
      return 8192;
  }
}

// Pictures are made once and kept for every benchmark that uses them.
const std::vector<std::uint8_t>& Picture(std::int64_t megapixels, Content content,
                                         bool rle8 = false) {
  static std::map<std::tuple<std::int64_t, Content, bool>, std::vector<std::uint8_t>> pictures;
  auto& picture = pictures[{megapixels, content, rle8}];
  if (picture.empty()) {
    const std::uint32_t side = SideFor(megapixels);
    picture = rle8 ? kav::bench::MakeBenchRle8Bmp(side, side, content)
                   : kav::bench::MakeBenchBmp(side, side, content);
  }
  return picture;
}

kav::Picture Load(const std::vector<std::uint8_t>& bmp) {
  kav::MemorySource source(bmp);
  kav::ReadResult read = kav::ReadPicture(source);
  if (!read) {
    std::abort();
  }
  return std::move(*read);
}

std::int64_t PixelsOf(const kav::Picture& picture) {
  return std::int64_t{picture.width()} * picture.height();
}

// Bytes processed: the picture's pixels, so raw and RLE8 inputs compare.
void ReadBmp(benchmark::State& state, Content content, bool rle8) {
  const std::vector<std::uint8_t>& bmp = Picture(state.range(0), content, rle8);
  std::int64_t loaded = 0;
  for (auto _ : state) {
    const kav::Picture picture = Load(bmp);
    benchmark::DoNotOptimize(picture.Row(0).data());
    loaded = PixelsOf(picture);
  }
  state.SetBytesProcessed(state.iterations() * loaded);
}

void EncodeMzr(benchmark::State& state, Content content) {
  const kav::Picture picture = Load(Picture(state.range(0), content));
  for (auto _ : state) {
    CountingSink sink;
    kav::EncodeMzr(picture, {}, sink);
    benchmark::DoNotOptimize(sink.count);
  }
  state.SetBytesProcessed(state.iterations() * PixelsOf(picture));
}

void EncodeRunLength(benchmark::State& state, Content content, kav::OutputFormat format) {
  const kav::Picture picture = Load(Picture(state.range(0), content));
  std::vector<std::uint32_t> offsets(std::size_t{kav::SegmentCountFor(picture.width())} *
                                     picture.height());
  std::vector<std::uint8_t> scratch(kav::CodingScratchBytes(picture.width()));
  for (auto _ : state) {
    CountingSink sink;
    kav::RunLengthLayout layout = kav::LayoutOf(picture);
    kav::CodeRows(picture, kav::FormatOf(format).runCoded, layout, offsets, scratch, &sink);
    kav::WriteRunLengthHead(picture, kav::FormatOf(format).signature, layout, offsets, sink);
    benchmark::DoNotOptimize(sink.count);
  }
  state.SetBytesProcessed(state.iterations() * PixelsOf(picture));
}

void EncodeRle(benchmark::State& state, Content content) {
  EncodeRunLength(state, content, kav::OutputFormat::kRle);
}

void EncodeRls(benchmark::State& state, Content content) {
  EncodeRunLength(state, content, kav::OutputFormat::kRls);
}

// Bytes processed: the header text written; the picture's BMP file stands in for a file.
void EncodeCHeader(benchmark::State& state) {
  const std::span<const std::uint8_t> bytes = Picture(state.range(0), Content::kNoise);
  std::uint64_t text = 0;
  for (auto _ : state) {
    CountingSink sink;
    kav::EncodeCHeader(bytes, "picture_MZR", sink);
    text = sink.count;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text));
}

// The picture's RLE or RLS file, made once.
const std::vector<std::uint8_t>& Encoded(std::int64_t megapixels, Content content,
                                         kav::OutputFormat format) {
  static std::map<std::tuple<std::int64_t, Content, kav::OutputFormat>, std::vector<std::uint8_t>>
      files;
  auto& file = files[{megapixels, content, format}];
  if (file.empty()) {
    file = kav::EncodeRunLength(Load(Picture(megapixels, content)), format);
  }
  return file;
}

kav_image Opened(const std::vector<std::uint8_t>& file) {
  kav_image image;
  if (kav_open(&image, file.data(), file.size(), nullptr) != KAV_OK) {
    std::abort();
  }
  return image;
}

// Bytes processed, here and below: the indices the file decodes to.
void Open(benchmark::State& state, Content content, kav::OutputFormat format) {
  const std::vector<std::uint8_t>& file = Encoded(state.range(0), content, format);
  kav_image image;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kav_open(&image, file.data(), file.size(), nullptr));
  }
  state.SetBytesProcessed(state.iterations() * image.width * image.height);
}

void DecodeRows(benchmark::State& state, Content content, kav::OutputFormat format) {
  const kav_image image = Opened(Encoded(state.range(0), content, format));
  std::vector<std::uint8_t> row(image.width);
  for (auto _ : state) {
    for (std::uint32_t y = 0; y < image.height; ++y) {
      benchmark::DoNotOptimize(kav_row_indices(&image, y, row.data()));
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(state.iterations() * image.width * image.height);
}

// The same rows copied from the picture in memory into one row, as decoding writes them.
void MemcpyRows(benchmark::State& state, Content content) {
  const kav::Picture picture = Load(Picture(state.range(0), content));
  std::vector<std::uint8_t> row(picture.width());
  for (auto _ : state) {
    for (std::uint32_t y = 0; y < picture.height(); ++y) {
      std::memcpy(row.data(), picture.Row(y).data(), row.size());
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(state.iterations() * PixelsOf(picture));
}

// Segment state.range(0) of each row of a 65535 x 256 sprite sheet (512 segments a row).
void DecodeSegment(benchmark::State& state) {
  static const std::vector<std::uint8_t> file = [] {
    return kav::EncodeRunLength(Load(kav::bench::MakeBenchBmp(65535, 256, Content::kSprite)),
                                kav::OutputFormat::kRls);
  }();
  const kav_image image = Opened(file);
  std::array<std::uint8_t, KAV_SEGMENT_WIDTH> segment{};
  const auto which = static_cast<std::uint32_t>(state.range(0));
  for (auto _ : state) {
    for (std::uint32_t y = 0; y < image.height; ++y) {
      benchmark::DoNotOptimize(kav_segment_indices(&image, y, which, segment.data()));
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * image.height);
}

// Drawing into a 320 x 240 RGB565 frame buffer. Items processed: the sprites' pixels that
// fall inside it, so every way of drawing counts the same pixels.
constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 240;
constexpr std::uint32_t kSpriteSide = 64;
constexpr std::size_t kPlaces = 1024;

enum Drawn : std::size_t { kDrawnMzr, kDrawnRle, kDrawnRls, kDrawnKinds };

// A sprite as each format holds it, and decoded to RGB565 colours with an alpha byte per
// pixel, as an engine holds it for a keyed copy. The MZR's transparent colour is 255, the
// run-length formats' background, so that the same pixels are transparent in all of them.
struct Sprite {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::array<std::vector<std::uint8_t>, kDrawnKinds> files{};
  std::array<kav_image, kDrawnKinds> images{};  // opened once the sprite has its place
  std::vector<std::uint16_t> rgb{};
  std::vector<std::uint8_t> alpha{};
};

// Columns [left, left + width) of rows [top, top + height) of `sheet`, as a picture of its own.
kav::Picture Cut(const kav::Picture& sheet, std::uint32_t left, std::uint32_t top,
                 std::uint32_t width, std::uint32_t height) {
  kav::MemoryBlock block = kav::MemoryBlock::Allocate(std::size_t{width} * height);
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::span<const std::uint8_t> row = sheet.Row(top + y).subspan(left, width);
    std::ranges::copy(row, block.bytes().subspan(std::size_t{y} * width).begin());
  }
  return *kav::Picture::Of(sheet.kind(), width, height, sheet.palette(), std::move(block),
                           {.offset = 0, .stride = width, .bottomUp = false});
}

Sprite MakeSprite(const kav::Picture& view) {
  Sprite sprite;
  sprite.width = view.width();
  sprite.height = view.height();
  kav::ConversionSettings settings;
  settings.transparentColor = 255;
  kav::VectorSink mzr;
  kav::EncodeMzr(view, settings, mzr);
  sprite.files[kDrawnMzr] = std::move(mzr.bytes());
  sprite.files[kDrawnRle] = kav::EncodeRunLength(view, kav::OutputFormat::kRle);
  sprite.files[kDrawnRls] = kav::EncodeRunLength(view, kav::OutputFormat::kRls);
  return sprite;
}

void Finish(Sprite& sprite) {
  for (std::size_t kind = 0; kind < kDrawnKinds; ++kind) {
    sprite.images[kind] = Opened(sprite.files[kind]);
  }
  sprite.rgb.resize(std::size_t{sprite.width} * sprite.height);
  sprite.alpha.resize(sprite.rgb.size());
  for (std::uint32_t y = 0; y < sprite.height; ++y) {
    kav_row_rgb565(&sprite.images[kDrawnRle], y, KAV_RL_TABLE_PLAIN, &sprite.rgb[y * sprite.width],
                   &sprite.alpha[y * sprite.width]);
  }
}

// The 64 sprites of 64 x 64 cut from a 1024 x 256 sheet of the bench's sprite content.
const std::vector<Sprite>& SheetSprites() {
  static const std::vector<Sprite> sprites = [] {
    const kav::Picture view = Load(kav::bench::MakeBenchBmp(1024, 256, Content::kSprite));
    std::vector<Sprite> made;
    for (std::uint32_t top = 0; top < view.height(); top += kSpriteSide) {
      for (std::uint32_t left = 0; left < view.width(); left += kSpriteSide) {
        made.push_back(MakeSprite(Cut(view, left, top, kSpriteSide, kSpriteSide)));
      }
    }
    std::ranges::for_each(made, Finish);
    return made;
  }();
  return sprites;
}

struct Place {
  int x = 0;
  int y = 0;
};

// Places for 64 x 64 sprites: three in four wholly inside the buffer, the fourth across one
// of its edges (both sides of a corner now and then).
const std::vector<Place>& SpritePlaces() {
  static const std::vector<Place> places = [] {
    std::mt19937 random(26);
    const auto pick = [&random](int low, int high) {
      return std::uniform_int_distribution<int>(low, high)(random);
    };
    constexpr int side = kSpriteSide;
    std::vector<Place> made;
    for (std::size_t i = 0; i < kPlaces; ++i) {
      Place place{pick(0, kScreenWidth - side), pick(0, kScreenHeight - side)};
      if (i % 4 == 3) {
        const int edge = pick(0, 3);
        const int across = pick(1 - side, -1);
        (edge < 2 ? place.x : place.y) = edge == 0   ? across
                                         : edge == 1 ? kScreenWidth - side - across
                                         : edge == 2 ? across
                                                     : kScreenHeight - side - across;
      }
      made.push_back(place);
    }
    return made;
  }();
  return places;
}

// The rows and columns of `sprite` at `place` that fall inside the buffer.
struct Visible {
  int left, right, top, bottom;
  std::int64_t Pixels() const { return std::int64_t{right - left} * (bottom - top); }
};

Visible VisibleOf(const Sprite& sprite, Place place) {
  const int width = static_cast<int>(sprite.width), height = static_cast<int>(sprite.height);
  return {std::max(0, -place.x), std::min(width, kScreenWidth - place.x), std::max(0, -place.y),
          std::min(height, kScreenHeight - place.y)};
}

std::int64_t PixelsPerRound() {
  std::int64_t pixels = 0;
  const std::vector<Sprite>& sprites = SheetSprites();
  const std::vector<Place>& places = SpritePlaces();
  for (std::size_t i = 0; i < places.size(); ++i) {
    pixels += VisibleOf(sprites[i % sprites.size()], places[i]).Pixels();
  }
  return pixels;
}

// The yardstick: a sprite decoded beforehand, each pixel whose alpha is not 0 copied.
void KeyedCopy(const Sprite& sprite, Place place, std::uint16_t* screen) {
  const Visible visible = VisibleOf(sprite, place);
  for (int r = visible.top; r < visible.bottom; ++r) {
    const std::size_t from = static_cast<std::size_t>(r) * sprite.width;
    const std::uint16_t* rgb = sprite.rgb.data() + from;
    const std::uint8_t* alpha = sprite.alpha.data() + from;
    std::uint16_t* out = screen + (place.y + r) * kScreenWidth + place.x + visible.left;
    for (int c = visible.left; c < visible.right; ++c, ++out) {
      if (alpha[c] != 0) {
        *out = rgb[c];
      }
    }
  }
}

// The floor: the visible part of every row copied whole, transparency ignored.
void CopyRows(const Sprite& sprite, Place place, std::uint16_t* screen) {
  const Visible visible = VisibleOf(sprite, place);
  for (int r = visible.top; r < visible.bottom; ++r) {
    std::memcpy(screen + (place.y + r) * kScreenWidth + place.x + visible.left,
                sprite.rgb.data() + static_cast<std::size_t>(r) * sprite.width + visible.left,
                static_cast<std::size_t>(visible.right - visible.left) * 2);
  }
}

void DrawFormat(const Sprite& sprite, Place place, std::uint16_t* screen, std::size_t kind) {
  const kav_image& image = sprite.images[kind];
  kav_draw_rgb565(&image, kav_plain_table(&image), screen, kScreenWidth, kScreenWidth,
                  kScreenHeight, place.x, place.y, 0);
}

template <typename Draw>
void DrawSprites(benchmark::State& state, Draw draw) {
  const std::vector<Sprite>& sprites = SheetSprites();
  const std::vector<Place>& places = SpritePlaces();
  std::vector<std::uint16_t> screen(std::size_t{kScreenWidth} * kScreenHeight);
  for (auto _ : state) {
    for (std::size_t i = 0; i < places.size(); ++i) {
      draw(sprites[i % sprites.size()], places[i], screen.data());
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * PixelsPerRound());
}

void DrawSpritesKeyedCopy(benchmark::State& state) {
  DrawSprites(state, KeyedCopy);
}
void DrawSpritesMemcpy(benchmark::State& state) {
  DrawSprites(state, CopyRows);
}
void DrawSpritesFormat(benchmark::State& state, std::size_t kind) {
  DrawSprites(state, [kind](const Sprite& sprite, Place place, std::uint16_t* screen) {
    DrawFormat(sprite, place, screen, kind);
  });
}

// A 4096 x 64 strip of the sheet, and the 320 columns of it from column 1900 on as a sprite
// of their own: the same pixels drawn, from the middle of a segment in the wide one.
constexpr std::uint32_t kWindowLeft = 1900;

const std::array<Sprite, 2>& WideAndWindow() {
  static const std::array<Sprite, 2> sprites = [] {
    const kav::Picture view = Load(kav::bench::MakeBenchBmp(4096, 64, Content::kSprite));
    std::array<Sprite, 2> made{MakeSprite(view),
                               MakeSprite(Cut(view, kWindowLeft, 0, kScreenWidth, 64))};
    std::ranges::for_each(made, Finish);
    return made;
  }();
  return sprites;
}

// state.range(0): 1 draws the 4096-wide sprite at x = -1900, 0 the 320-wide one at x = 0.
void DrawWindow(benchmark::State& state, std::size_t kind) {
  const bool wide = state.range(0) == 1;
  const Sprite& sprite = WideAndWindow()[wide ? 0 : 1];
  const Place place{wide ? -static_cast<int>(kWindowLeft) : 0, 88};
  std::vector<std::uint16_t> screen(std::size_t{kScreenWidth} * kScreenHeight);
  for (auto _ : state) {
    DrawFormat(sprite, place, screen.data(), kind);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * VisibleOf(sprite, place).Pixels());
}

// The thumbnail kavconv thumbnail -s 256 draws, every band decoding its own rows; the file is
// opened (and checked) once, outside the timing.
void Thumbnail(benchmark::State& state, Content content) {
  const kav_image image = Opened(Encoded(state.range(0), content, kav::OutputFormat::kRle));
  const kav::ThumbnailSize size = kav::FitThumbnail(image.width, image.height, 256);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        kav::DrawThumbnail(image, 0, size, static_cast<unsigned>(state.range(1))));
  }
  state.SetBytesProcessed(state.iterations() * image.width * image.height);
}

// The GIF of 1024 x 1024 and 64 frames; state.range(0) 1 gives some frames local colour
// tables (composed in RGBA), 0 none (a palette input, composed as indices).
constexpr std::uint32_t kGifSide = 1024;
constexpr std::uint32_t kGifFrames = 64;

const std::vector<std::uint8_t>& BenchGif(bool localTables) {
  static std::map<bool, std::vector<std::uint8_t>> files;
  auto& file = files[localTables];
  if (file.empty()) {
    file = kav::bench::MakeBenchGif(kGifSide, kGifSide, kGifFrames, localTables);
  }
  return file;
}

struct GifMemory {
  std::span<const std::uint8_t> file;
  std::size_t position = 0;
};

int ReadGifMemory(GifFileType* gif, GifByteType* into, int wanted) {
  auto& memory = *static_cast<GifMemory*>(gif->UserData);
  const auto count =
      std::min(static_cast<std::size_t>(wanted), memory.file.size() - memory.position);
  std::memcpy(into, memory.file.data() + memory.position, count);
  memory.position += count;
  return static_cast<int>(count);
}

// Skips the extension whose first block `block` is.
bool SkipExtension(GifFileType* gif, GifByteType* block) {
  while (block != nullptr) {
    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
      return false;
    }
  }
  return true;
}

// giflib alone: every record read and every frame's lines decoded into one line, nothing
// composed (the frames cover the screen and are not interlaced).
bool DecodeGifLines(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& line) {
  GifMemory memory{file};
  int error = 0;
  GifFileType* gif = DGifOpen(&memory, ReadGifMemory, &error);
  bool decoded = gif != nullptr;
  for (GifRecordType record = UNDEFINED_RECORD_TYPE; decoded && record != TERMINATE_RECORD_TYPE;) {
    decoded = DGifGetRecordType(gif, &record) != GIF_ERROR;
    if (decoded && record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      decoded = DGifGetExtension(gif, &code, &block) != GIF_ERROR && SkipExtension(gif, block);
    } else if (decoded && record == IMAGE_DESC_RECORD_TYPE) {
      decoded = DGifGetImageDesc(gif) != GIF_ERROR;
      for (int y = 0; decoded && y < gif->Image.Height; ++y) {
        decoded = DGifGetLine(gif, line.data(), gif->Image.Width) != GIF_ERROR;
        benchmark::ClobberMemory();
      }
    }
  }
  if (gif != nullptr) {
    DGifCloseFile(gif, &error);
  }
  return decoded;
}

// Items processed, here and below: the pixels of every frame.
void GifDecodeLines(benchmark::State& state) {
  const std::vector<std::uint8_t>& file = BenchGif(state.range(0) == 1);
  std::vector<std::uint8_t> line(kGifSide);
  for (auto _ : state) {
    if (!DecodeGifLines(file, line)) {
      std::abort();
    }
  }
  state.SetItemsProcessed(state.iterations() * kGifSide * kGifSide * kGifFrames);
}

// The frame source opened (a walk over the file) and every frame composed, as a conversion
// makes them.
void GifComposeFrames(benchmark::State& state) {
  const std::vector<std::uint8_t>& file = BenchGif(state.range(0) == 1);
  std::vector<std::uint8_t> frame;
  for (auto _ : state) {
    const kav::OpenedFrames opened = kav::OpenGifFrames(file);
    if (!opened.source || opened.source->Info().frameCount != kGifFrames) {
      std::abort();
    }
    frame.resize(opened.source->Info().FrameBytes());
    for (std::uint32_t i = 0; i < kGifFrames; ++i) {
      if (opened.source->Next(frame) != kav::FrameStatus::kOk) {
        std::abort();
      }
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * kGifSide * kGifSide * kGifFrames);
}

// An 8192 x 8192 photograph as an RGBA PNG (KAV_BENCH_PHOTO names a PNG to use instead of
// the one drawn here), decoded, and a palette of 256 of its colours, taken at evenly spaced
// pixels. The target: mapping its pixels onto the palette without dithering takes at most
// twice the time libpng takes to decode it.
struct Photo {
  std::vector<std::uint8_t> png;
  kav::bench::RgbaPicture picture;
  kav::RgbPalette palette;
  std::size_t colours = 0;
};

const Photo& BenchPhoto() {
  static const Photo photo = [] {
    Photo made;
    if (const char* path = std::getenv("KAV_BENCH_PHOTO")) {
      std::ifstream file(path, std::ios::binary);
      made.png.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } else {
      made.png = kav::bench::EncodeRgbaPng(kav::bench::MakeBenchPhoto(8192, 8192));
    }
    made.picture = kav::bench::DecodePngToRgba(made.png);
    const std::size_t pixels = made.picture.pixels.size() / 4;
    if (pixels == 0) {
      std::abort();
    }
    for (std::size_t i = 0; i < kav::kPaletteEntries; ++i) {
      const std::uint8_t* pixel = made.picture.pixels.data() + (i * 2 + 1) * (pixels / 512) * 4;
      made.palette.colours[i] = kav::MakeRgb24(pixel[0], pixel[1], pixel[2]);
    }
    made.palette.count = kav::kPaletteEntries;
    made.colours = kav::bench::DistinctColours(made.picture);
    return made;
  }();
  return photo;
}

// Items processed, here and below: pixels.
void DecodePhotoPng(benchmark::State& state) {
  const Photo& photo = BenchPhoto();
  for (auto _ : state) {
    const kav::bench::RgbaPicture decoded = kav::bench::DecodePngToRgba(photo.png);
    benchmark::DoNotOptimize(decoded.pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * photo.picture.width * photo.picture.height);
}

// A new mapper each time, its table empty, as for one conversion.
void MapPhotoToPalette(benchmark::State& state) {
  const Photo& photo = BenchPhoto();
  const kav::RgbaPixels pixels{photo.picture.pixels, photo.picture.width, photo.picture.height};
  std::vector<std::uint8_t> indices(pixels.PixelCount());
  for (auto _ : state) {
    std::optional<kav::PaletteMapper> mapper = kav::PaletteMapper::Make(photo.palette, {});
    if (!mapper || !mapper->Map(pixels, indices)) {
      std::abort();
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pixels.PixelCount()));
  state.counters["colours"] = static_cast<double>(photo.colours);
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK_CAPTURE(ReadBmp, sprite, Content::kSprite, false)->Apply(Sizes);
BENCHMARK_CAPTURE(ReadBmp, sprite_rle8, Content::kSprite, true)->Apply(Sizes);
BENCHMARK_CAPTURE(EncodeMzr, sprite, Content::kSprite)->Apply(Sizes);
BENCHMARK_CAPTURE(EncodeRle, sprite, Content::kSprite)->Apply(Sizes);
BENCHMARK_CAPTURE(EncodeRle, noise, Content::kNoise)->Apply(Sizes);
BENCHMARK_CAPTURE(EncodeRle, alternating, Content::kAlternating)->Apply(Sizes);
BENCHMARK_CAPTURE(EncodeRls, sprite, Content::kSprite)->Apply(Sizes);
BENCHMARK_CAPTURE(EncodeRls, noise, Content::kNoise)->Apply(Sizes);
BENCHMARK_CAPTURE(EncodeRls, alternating, Content::kAlternating)->Apply(Sizes);
BENCHMARK(EncodeCHeader)->Apply(Sizes);

BENCHMARK_CAPTURE(Open, rle_sprite, Content::kSprite, kav::OutputFormat::kRle)->Apply(Sizes);
BENCHMARK_CAPTURE(Open, rle_noise, Content::kNoise, kav::OutputFormat::kRle)->Apply(Sizes);
BENCHMARK_CAPTURE(Open, rls_sprite, Content::kSprite, kav::OutputFormat::kRls)->Apply(Sizes);
BENCHMARK_CAPTURE(Open, rls_noise, Content::kNoise, kav::OutputFormat::kRls)->Apply(Sizes);
BENCHMARK_CAPTURE(DecodeRows, rle_sprite, Content::kSprite, kav::OutputFormat::kRle)->Apply(Sizes);
BENCHMARK_CAPTURE(DecodeRows, rle_noise, Content::kNoise, kav::OutputFormat::kRle)->Apply(Sizes);
BENCHMARK_CAPTURE(DecodeRows, rls_sprite, Content::kSprite, kav::OutputFormat::kRls)->Apply(Sizes);
BENCHMARK_CAPTURE(DecodeRows, rls_noise, Content::kNoise, kav::OutputFormat::kRls)->Apply(Sizes);
BENCHMARK_CAPTURE(MemcpyRows, sprite, Content::kSprite)->Apply(Sizes);
BENCHMARK_CAPTURE(MemcpyRows, noise, Content::kNoise)->Apply(Sizes);
BENCHMARK(DecodeSegment)->Arg(0)->Arg(255)->Arg(511);
BENCHMARK_CAPTURE(Thumbnail, sprite, Content::kSprite)
    ->ArgsProduct({{64}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Thumbnail, noise, Content::kNoise)
    ->ArgsProduct({{64}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK(GifDecodeLines)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(GifComposeFrames)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodePhotoPng)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MapPhotoToPalette)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK(DrawSpritesKeyedCopy);
BENCHMARK(DrawSpritesMemcpy);
BENCHMARK_CAPTURE(DrawSpritesFormat, mzr, kDrawnMzr);
BENCHMARK_CAPTURE(DrawSpritesFormat, rle, kDrawnRle);
BENCHMARK_CAPTURE(DrawSpritesFormat, rls, kDrawnRls);
BENCHMARK_CAPTURE(DrawWindow, mzr, kDrawnMzr)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(DrawWindow, rle, kDrawnRle)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(DrawWindow, rls, kDrawnRls)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
