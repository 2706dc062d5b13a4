// Any bytes as a GIF: opened, every frame composed twice, and the colours gathered without
// composing. Where the frames are made, the gathered colours are exactly the opaque colours
// of the composed frames, every RGBA pixel is opaque or fully transparent, and a file that
// fails in one pass fails in the other.

#include <cstdint>
#include <set>
#include <span>
#include <vector>

#include "input/gif_frames.h"
#include "walk_frames.h"

namespace {

using kav::FrameColour;
using kav::FrameSourceInfo;
using kav::fuzz::Require;

std::uint32_t Rgb(const FrameColour& colour) {
  return std::uint32_t{colour.red} << 16 | std::uint32_t{colour.green} << 8 | colour.blue;
}

void NoteColours(const FrameSourceInfo& info, std::span<const std::uint8_t> frame,
                 std::set<std::uint32_t>& seen) {
  if (info.kind == kav::FrameKind::kPaletteIndices) {
    for (const std::uint8_t index : frame) {
      if (index != info.transparentIndex) {
        seen.insert(index < info.palette.count ? Rgb(info.palette.entries[index]) : 0);
      }
    }
    return;
  }
  for (std::size_t i = 0; i + 3 < frame.size(); i += 4) {
    Require(frame[i + 3] == 0 || frame[i + 3] == 255);
    if (frame[i + 3] == 255) {
      seen.insert(Rgb({frame[i], frame[i + 1], frame[i + 2], 255}));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  std::set<std::uint32_t> seen;
  const std::optional<kav::FrameStatus> composed =
      kav::fuzz::CheckFrames(input, kav::OpenGifFrames, kav::FrameStatus::kGifCorrupt,
                             [&](const FrameSourceInfo& info, std::span<const std::uint8_t> frame) {
                               NoteColours(info, frame, seen);
                             });
  std::vector<std::uint32_t> colours;
  const kav::FrameStatus gathered = kav::GifFrameColours(input, colours);
  if (composed) {
    Require(*composed == gathered);
    Require(gathered != kav::FrameStatus::kOk ||
            colours == std::vector<std::uint32_t>(seen.begin(), seen.end()));
  }
  return 0;
}
