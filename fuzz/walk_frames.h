#pragma once
// What the gif and aseprite targets share: a frame source over bytes in memory, every frame
// made twice (the second walk after a rewind must give the same frames), and the checks every
// opened source must pass.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "input/frames.h"

namespace kav::fuzz {

inline void Require(bool holds) {
  if (!holds) {
    __builtin_trap();
  }
}

// A few bytes can ask for a screen of gigabytes; frames up to this size reach every path and
// keep each run fast and inside libFuzzer's memory limit.
constexpr std::uint64_t kLargestFrame = std::uint64_t{256} << 10;

inline std::uint64_t Fingerprint(std::span<const std::uint8_t> bytes) {
  std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
  for (const std::uint8_t byte : bytes) {
    hash = (hash ^ byte) * 1099511628211ULL;
  }
  return hash;
}

inline void CheckInfo(const FrameSourceInfo& info) {
  Require(info.width > 0 && info.height > 0 && info.frameCount > 0);
  Require(info.palette.count <= kFramePaletteEntries);
  Require(info.kind != FrameKind::kTrueColour || info.palette.count == 0);
  Require(info.kind == FrameKind::kPaletteIndices || !info.transparentIndex);
  if (info.transparentIndex) {
    Require(*info.transparentIndex < info.palette.count &&
            info.palette.entries[*info.transparentIndex].alpha == 0);
  }
  for (std::uint32_t frame = 0; frame < info.frameCount; ++frame) {
    const std::string suffix = FrameSuffix(frame, info.frameCount, info.tags);
    Require(suffix.empty() == (info.frameCount == 1));
  }
}

// Walks every frame, calling look(frame) on each; the status of the first failure, which
// must be `corrupt` or out of memory.
template <typename Look>
FrameStatus WalkFrames(FrameSource& source, FrameStatus corrupt, std::vector<std::uint8_t>& frame,
                       Look look) {
  for (std::uint32_t i = 0; i < source.Info().frameCount; ++i) {
    const FrameStatus status = source.Next(frame);
    Require(status == FrameStatus::kOk || status == corrupt || status == FrameStatus::kOutOfMemory);
    if (status != FrameStatus::kOk) {
      return status;
    }
    look(std::span<const std::uint8_t>(frame));
  }
  return FrameStatus::kOk;
}

// Opens `bytes` with `open`; when it opens and its frames are small enough, walks them twice,
// calling look(info, frame) on each frame of the first walk. The status of the first walk,
// or nothing when none was made.
template <typename Open, typename Look>
std::optional<FrameStatus> CheckFrames(std::span<const std::uint8_t> bytes, Open open,
                                       FrameStatus corrupt, Look look) {
  OpenedFrames opened = open(bytes);
  Require((opened.source == nullptr) == (opened.status != FrameStatus::kOk));
  Require(opened.status == FrameStatus::kOk || opened.status == corrupt ||
          opened.status == FrameStatus::kOutOfMemory);
  if (!opened.source) {
    return std::nullopt;
  }
  FrameSource& source = *opened.source;
  const FrameSourceInfo& info = source.Info();
  CheckInfo(info);
  if (info.FrameBytes() + info.workingBytes > kLargestFrame) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> frame(info.FrameBytes());
  std::vector<std::uint64_t> first;
  const FrameStatus status = WalkFrames(source, corrupt, frame, [&](auto pixels) {
    first.push_back(Fingerprint(pixels));
    look(info, pixels);
  });
  Require(source.Rewind() == FrameStatus::kOk);
  std::vector<std::uint64_t> second;
  Require(WalkFrames(source, corrupt, frame,
                     [&](auto pixels) { second.push_back(Fingerprint(pixels)); }) == status);
  Require(first == second);
  return status;
}

}  // namespace kav::fuzz
