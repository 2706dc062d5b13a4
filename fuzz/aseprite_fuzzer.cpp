// Any bytes as an Aseprite file: opened, and every frame composed twice, the second walk
// after a rewind giving the same frames.

#include <cstdint>
#include <span>

#include "input/aseprite_frames.h"
#include "walk_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kav::fuzz::CheckFrames(std::span<const std::uint8_t>(data, size), kav::OpenAsepriteFrames,
                         kav::FrameStatus::kAsepriteCorrupt,
                         [](const kav::FrameSourceInfo&, std::span<const std::uint8_t>) {});
  return 0;
}
