// Each encoder in memory, and the reader, on pictures of 1, 16 and 64 megapixels; the decoder
// of include/kav/kav_formats.h on their RLE and RLS files: opening (the whole check), every
// row to indices beside memcpy of the same rows, one segment of every row of the widest
// picture, from its start, middle and end, and a 256-pixel thumbnail on one thread and two.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <tuple>

#include "bench_images.h"
#include "bmp/bitmap_view.h"
#include "bmp/bmp_reader.h"
#include "formats/c_header.h"
#include "formats/mzr.h"
#include "formats/run_length.h"
#include "formats/thumbnail.h"
#include "kav/kav_formats.h"
#include "platform/byte_source.h"

namespace {

using kav::bench::Content;

class SilentMessages final : public kav::MessageBoxes {
 public:
  void ShowError(kav::MessageOwner, std::string_view, std::string_view) override {}
};

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

kav::LoadedBitmap Load(const std::vector<std::uint8_t>& bmp) {
  SilentMessages messages;
  kav::MemorySource source(bmp);
  kav::LoadedBitmap bitmap;
  kav::ReadBmp8(source, messages, bitmap);
  return bitmap;
}

// Bytes processed: those of the loaded block, so raw and RLE8 inputs compare.
void ReadBmp(benchmark::State& state, Content content, bool rle8) {
  const std::vector<std::uint8_t>& bmp = Picture(state.range(0), content, rle8);
  std::int64_t loaded = 0;
  for (auto _ : state) {
    const kav::LoadedBitmap bitmap = Load(bmp);
    benchmark::DoNotOptimize(bitmap.block.data());
    loaded = static_cast<std::int64_t>(bitmap.block.size());
  }
  state.SetBytesProcessed(state.iterations() * loaded);
}

void EncodeMzr(benchmark::State& state, Content content) {
  const kav::LoadedBitmap bitmap = Load(Picture(state.range(0), content));
  const kav::BitmapView view = *kav::ViewBitmap(bitmap);
  for (auto _ : state) {
    CountingSink sink;
    kav::EncodeMzr(view, {}, sink);
    benchmark::DoNotOptimize(sink.count);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(view.rows.size()));
}

void EncodeRunLength(benchmark::State& state, Content content, kav::RunLengthVariant variant) {
  const kav::LoadedBitmap bitmap = Load(Picture(state.range(0), content));
  const kav::BitmapView view = *kav::ViewBitmap(bitmap);
  std::vector<std::uint32_t> offsets(std::size_t{kav::SegmentCountFor(view.width)} * view.rowCount);
  std::vector<std::uint8_t> scratch(kav::CodingScratchBytes(view.width));
  for (auto _ : state) {
    CountingSink sink;
    kav::RunLengthLayout layout = kav::LayoutOf(view);
    kav::CodeRows(view, variant, layout, offsets, scratch, &sink);
    kav::WriteRunLengthHead(view, variant, layout, offsets, sink);
    benchmark::DoNotOptimize(sink.count);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(view.rows.size()));
}

void EncodeRle(benchmark::State& state, Content content) {
  EncodeRunLength(state, content, kav::RunLengthVariant::kRle);
}

void EncodeRls(benchmark::State& state, Content content) {
  EncodeRunLength(state, content, kav::RunLengthVariant::kRls);
}

// Bytes processed: the header text written; the picture's pixel bytes stand in for a file.
void EncodeCHeader(benchmark::State& state) {
  const kav::LoadedBitmap bitmap = Load(Picture(state.range(0), Content::kNoise));
  const std::span<const std::uint8_t> bytes = bitmap.block.bytes();
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
                                         kav::RunLengthVariant variant) {
  static std::map<std::tuple<std::int64_t, Content, kav::RunLengthVariant>,
                  std::vector<std::uint8_t>>
      files;
  auto& file = files[{megapixels, content, variant}];
  if (file.empty()) {
    const kav::LoadedBitmap bitmap = Load(Picture(megapixels, content));
    file = kav::EncodeRunLength(*kav::ViewBitmap(bitmap), variant);
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
void Open(benchmark::State& state, Content content, kav::RunLengthVariant variant) {
  const std::vector<std::uint8_t>& file = Encoded(state.range(0), content, variant);
  kav_image image;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kav_open(&image, file.data(), file.size(), nullptr));
  }
  state.SetBytesProcessed(state.iterations() * image.width * image.height);
}

void DecodeRows(benchmark::State& state, Content content, kav::RunLengthVariant variant) {
  const kav_image image = Opened(Encoded(state.range(0), content, variant));
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
  const kav::LoadedBitmap bitmap = Load(Picture(state.range(0), content));
  const kav::BitmapView view = *kav::ViewBitmap(bitmap);
  std::vector<std::uint8_t> row(view.width);
  for (auto _ : state) {
    for (std::uint32_t y = 0; y < view.rowCount; ++y) {
      std::memcpy(row.data(), view.TopRow(y).data(), row.size());
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(state.iterations() * view.width * view.rowCount);
}

// Segment state.range(0) of each row of a 65535 x 256 sprite sheet (512 segments a row).
void DecodeSegment(benchmark::State& state) {
  static const std::vector<std::uint8_t> file = [] {
    const kav::LoadedBitmap bitmap = Load(kav::bench::MakeBenchBmp(65535, 256, Content::kSprite));
    return kav::EncodeRunLength(*kav::ViewBitmap(bitmap), kav::RunLengthVariant::kRls);
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

// The thumbnail kavconv thumbnail -s 256 draws, every band decoding its own rows; the file is
// opened (and checked) once, outside the timing.
void Thumbnail(benchmark::State& state, Content content) {
  const kav_image image = Opened(Encoded(state.range(0), content, kav::RunLengthVariant::kRle));
  const kav::ThumbnailSize size = kav::FitThumbnail(image.width, image.height, 256);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        kav::DrawThumbnail(image, 0, size, static_cast<unsigned>(state.range(1))));
  }
  state.SetBytesProcessed(state.iterations() * image.width * image.height);
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

BENCHMARK_CAPTURE(Open, rle_sprite, Content::kSprite, kav::RunLengthVariant::kRle)->Apply(Sizes);
BENCHMARK_CAPTURE(Open, rle_noise, Content::kNoise, kav::RunLengthVariant::kRle)->Apply(Sizes);
BENCHMARK_CAPTURE(Open, rls_sprite, Content::kSprite, kav::RunLengthVariant::kRls)->Apply(Sizes);
BENCHMARK_CAPTURE(Open, rls_noise, Content::kNoise, kav::RunLengthVariant::kRls)->Apply(Sizes);
BENCHMARK_CAPTURE(DecodeRows, rle_sprite, Content::kSprite, kav::RunLengthVariant::kRle)
    ->Apply(Sizes);
BENCHMARK_CAPTURE(DecodeRows, rle_noise, Content::kNoise, kav::RunLengthVariant::kRle)
    ->Apply(Sizes);
BENCHMARK_CAPTURE(DecodeRows, rls_sprite, Content::kSprite, kav::RunLengthVariant::kRls)
    ->Apply(Sizes);
BENCHMARK_CAPTURE(DecodeRows, rls_noise, Content::kNoise, kav::RunLengthVariant::kRls)
    ->Apply(Sizes);
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

BENCHMARK_MAIN();
