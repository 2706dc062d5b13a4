// Writes benchmark inputs for bench/run:
//   kav_make_bench_input FILE WIDTH HEIGHT [sprite|noise|alternating]

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench_images.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s FILE WIDTH HEIGHT [sprite|noise|alternating]\n", argv[0]);
    return 2;
  }
  const auto width = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
  const auto height = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
  const std::string kind = argc > 4 ? argv[4] : "sprite";
  const kav::bench::Content content = kind == "noise"         ? kav::bench::Content::kNoise
                                      : kind == "alternating" ? kav::bench::Content::kAlternating
                                                              : kav::bench::Content::kSprite;
  const std::vector<std::uint8_t> bmp = kav::bench::MakeBenchBmp(width, height, content);
  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
  return out ? 0 : 1;
}
