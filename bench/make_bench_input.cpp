// Writes benchmark inputs for bench/run:
//   kav_make_bench_input FILE WIDTH HEIGHT [sprite|noise|alternating] [rle8|png|rgba]
//   kav_make_bench_input FILE WIDTH HEIGHT sprite gif|gif-local FRAMES   (an animated GIF)
//   kav_make_bench_input --batch FOLDER COUNT WIDTH HEIGHT   (sprites of varied content)

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench_images.h"

namespace {

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::uint32_t Number(const char* text) {
  return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
}

kav::bench::Content ContentNamed(const std::string& name) {
  if (name == "noise") {
    return kav::bench::Content::kNoise;
  }
  if (name == "alternating") {
    return kav::bench::Content::kAlternating;
  }
  return kav::bench::Content::kSprite;
}

int WriteBatch(const std::string& folder, std::uint32_t count, std::uint32_t width,
               std::uint32_t height) {
  // Three kinds in turn, so a batch holds sprites, noisy tiles and worst cases.
  const kav::bench::Content kinds[] = {kav::bench::Content::kSprite, kav::bench::Content::kSprite,
                                       kav::bench::Content::kNoise,
                                       kav::bench::Content::kAlternating};
  for (std::uint32_t i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/sprite%05u.bmp", i);
    // Varied sizes around the given one, so no two files are alike.
    const std::uint32_t w = width - (i % 5);
    const std::uint32_t h = height - (i % 3);
    if (!WriteBytes(folder + name, kav::bench::MakeBenchBmp(w, h, kinds[i % 4]))) {
      return 1;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "--batch") {
    return WriteBatch(argv[2], Number(argv[3]), Number(argv[4]), Number(argv[5]));
  }
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: %s FILE WIDTH HEIGHT [sprite|noise|alternating] [rle8|png|rgba]\n"
                 "       %s FILE WIDTH HEIGHT sprite gif|gif-local FRAMES\n"
                 "       %s --batch FOLDER COUNT WIDTH HEIGHT\n",
                 argv[0], argv[0], argv[0]);
    return 2;
  }
  const kav::bench::Content content = ContentNamed(argc > 4 ? argv[4] : "sprite");
  const std::string kind = argc > 5 ? argv[5] : "";
  const std::uint32_t width = Number(argv[2]);
  const std::uint32_t height = Number(argv[3]);
  const std::uint32_t frames = argc > 6 ? Number(argv[6]) : 1;
  const std::vector<std::uint8_t> file =
      kind == "rle8"        ? kav::bench::MakeBenchRle8Bmp(width, height, content)
      : kind == "png"       ? kav::bench::MakeBenchPng(width, height, content)
      : kind == "rgba"      ? kav::bench::MakeBenchRgbaPng(width, height, content)
      : kind == "gif"       ? kav::bench::MakeBenchGif(width, height, frames, false)
      : kind == "gif-local" ? kav::bench::MakeBenchGif(width, height, frames, true)
                            : kav::bench::MakeBenchBmp(width, height, content);
  return !file.empty() && WriteBytes(argv[1], file) ? 0 : 1;
}
