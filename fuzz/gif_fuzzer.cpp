// Any bytes as a GIF: opened, every frame composed twice, and the colours gathered without
// composing. Where the frames are made, the gathered colours are exactly the opaque colours
// of the composed frames, every RGBA pixel is opaque or fully transparent, and a file that
// fails in one pass fails in the other. Truecolour frames are composed a third time as
// indices (FrameSource::ComposeIndices), each colour's index a hash of it: they must be the
// RGBA frames with each pixel so mapped.

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

// Any colour to an index from 1 to 255; 0 stands for transparent pixels.
std::uint8_t IndexOf(std::span<const std::uint8_t> rgba) {
  return static_cast<std::uint8_t>((rgba[0] * 7U + rgba[1] * 13U + rgba[2] * 29U) % 255U + 1U);
}

std::vector<std::uint8_t> Indexed(std::span<const std::uint8_t> frame) {
  std::vector<std::uint8_t> indices;
  for (std::size_t i = 0; i + 3 < frame.size(); i += 4) {
    indices.push_back(frame[i + 3] == 0 ? 0 : IndexOf(frame.subspan(i, 4)));
  }
  return indices;
}

// The frames made as indices, up to the first that fails, against `expected`.
void CheckComposedIndices(std::span<const std::uint8_t> input,
                          const std::vector<std::uint64_t>& expected) {
  kav::OpenedFrames opened = kav::OpenGifFrames(input);
  Require(opened.source != nullptr);
  kav::FrameSource& source = *opened.source;
  Require(source.ComposeIndices(
      [](std::span<const std::uint8_t> rgba, std::span<std::uint8_t> indices) {
        for (std::size_t i = 0; i < indices.size(); ++i) {
          Require(rgba[i * 4 + 3] == 255);
          indices[i] = IndexOf(rgba.subspan(i * 4, 4));
        }
      },
      0));
  const FrameSourceInfo& info = source.Info();
  std::vector<std::uint8_t> frame(info.FrameBytes());
  const std::size_t pixels = std::size_t{info.width} * info.height;
  for (const std::uint64_t fingerprint : expected) {
    Require(source.Next(frame) == kav::FrameStatus::kOk);
    Require(kav::fuzz::Fingerprint(std::span(frame).first(pixels)) == fingerprint);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  std::set<std::uint32_t> seen;
  std::vector<std::uint64_t> indexed;  // of truecolour frames
  const std::optional<kav::FrameStatus> composed =
      kav::fuzz::CheckFrames(input, kav::OpenGifFrames, kav::FrameStatus::kGifCorrupt,
                             [&](const FrameSourceInfo& info, std::span<const std::uint8_t> frame) {
                               NoteColours(info, frame, seen);
                               if (info.kind == kav::FrameKind::kTrueColour) {
                                 indexed.push_back(kav::fuzz::Fingerprint(Indexed(frame)));
                               }
                             });
  if (!indexed.empty()) {
    CheckComposedIndices(input, indexed);
  }
  std::vector<std::uint32_t> colours;
  const kav::FrameStatus gathered = kav::GifFrameColours(input, colours);
  if (composed) {
    Require(*composed == gathered);
    Require(gathered != kav::FrameStatus::kOk ||
            colours == std::vector<std::uint32_t>(seen.begin(), seen.end()));
  }
  return 0;
}
