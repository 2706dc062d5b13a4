#pragma once
// Pictures of several frames (GIF animations, Aseprite sprites) read one frame at a time.
//
// A frame source is opened over the whole file in memory (read or mapped; the caller keeps
// the bytes alive as long as the source). It says what its frames are before any is made:
//
//   kPaletteIndices    each frame is width * height palette indices, top row first, kept as
//                      the file stores them; `palette` is theirs, and its entry at
//                      `transparentIndex` (when there is one) has alpha 0: it stands for every
//                      pixel the file leaves transparent
//   kTrueColour        each frame is width * height RGBA pixels (4 bytes: red, green, blue,
//                      alpha), top row first, composed as the file says; the frames have no
//                      palette of their own, so one is made for all of them together
//   kOwnPaletteColour  RGBA frames as above, to be mapped onto `palette`, the file's own, by
//                      the nearest-colour rule (an indexed Aseprite sprite whose layers had to
//                      be blended)
//
// Frames come in order, each into the caller's buffer of FrameBytes(): the same buffer on
// every call, left as the call before left it, because a GIF frame is drawn over the frame
// before it. Rewind() starts again from the first frame, so the frames can be walked twice
// (once to gather their colours, once to convert them). Besides the input and that buffer,
// a source holds at most one more frame (a GIF's area saved for "restore to previous", taken
// when the first frame needs it) and a few rows: FrameSourceInfo::workingBytes, known once
// the source is open, so that a caller can reserve FrameBytes() and it before any frame.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "color/palette.h"

namespace kav {

enum class FrameKind { kPaletteIndices, kTrueColour, kOwnPaletteColour };

// What a call gives. Each damaged-file status belongs to one kind of file, so that the
// caller can tell the user which.
enum class FrameStatus {
  kOk,
  kGifCorrupt,       // "This GIF file is corrupt"
  kAsepriteCorrupt,  // "This Aseprite file is corrupt"
  kOutOfMemory,      // the source's own buffers or the decoder's could not be had
  kWrongBuffer,      // the caller's frame buffer is not FrameBytes() long
};

inline constexpr std::size_t kFramePaletteEntries = 256;

struct FrameColour {
  std::uint8_t red = 0, green = 0, blue = 0, alpha = 0;
  friend bool operator==(const FrameColour&, const FrameColour&) = default;
};

// Entries past `count` are black and opaque wherever an index names them.
struct FramePalette {
  std::array<FrameColour, kFramePaletteEntries> entries{};
  std::uint16_t count = 0;
};

// Frames `from` to `to` (inclusive, from 0) as an Aseprite tag names them.
struct FrameTag {
  std::uint32_t from = 0;
  std::uint32_t to = 0;
  std::string name;
};

struct FrameSourceInfo {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t frameCount = 0;
  FrameKind kind = FrameKind::kTrueColour;
  FramePalette palette;                          // count 0 for kTrueColour
  std::optional<std::uint8_t> transparentIndex;  // kPaletteIndices only
  std::vector<FrameTag> tags;                    // in the order the file lists them
  // Parts of the file that draw something but were left out (Aseprite tilemap layers and
  // chunks of unknown kinds); the caller says so once.
  bool skippedContent = false;
  std::uint64_t workingBytes = 0;  // what the source holds besides the input and the frame

  std::uint64_t FrameBytes() const {
    const std::uint64_t pixels = std::uint64_t{width} * height;
    return kind == FrameKind::kPaletteIndices ? pixels : pixels * kRgbaPixelBytes;
  }
};

// Opaque RGBA pixels (4 bytes each) to palette indices (one byte each), as many as there are.
using ColourIndexer =
    std::function<void(std::span<const std::uint8_t> rgba, std::span<std::uint8_t> indices)>;

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  FrameSource() = default;
  FrameSource(const FrameSource&) = delete;
  FrameSource& operator=(const FrameSource&) = delete;

  const FrameSourceInfo& Info() const { return info_; }
  // The next frame into `frame` (see above). After the last frame a call changes nothing.
  // On a failure the buffer holds a partly drawn frame and the source must be rewound.
  virtual FrameStatus Next(std::span<std::uint8_t> frame) = 0;
  virtual FrameStatus Rewind() = 0;
  // For kTrueColour frames whose palette is known before the first is made: where the source
  // can, every frame from now on comes as palette indices, one byte a pixel in the first
  // width * height bytes of the buffer, each drawn pixel the index `indexer` gives its colour
  // and each pixel left transparent `empty`; so no RGBA frame is made and mapped. false, with
  // nothing changed, where it cannot (or a frame was made since the source opened or rewound).
  virtual bool ComposeIndices(ColourIndexer /*indexer*/, std::uint8_t /*empty*/) { return false; }

 protected:
  FrameSourceInfo info_;
};

// A source, or why the file gives none (`source` is null exactly when `status` is not kOk).
struct OpenedFrames {
  std::unique_ptr<FrameSource> source;
  FrameStatus status = FrameStatus::kOk;
};

// What the output of frame `frame` of `frameCount` adds to the input's name ("" for the only
// frame of a file). Frames are numbered from 0 and padded with zeros to the width of the
// largest number: "00" to "11" for 12 frames. A tagged frame is named by the first tag in the
// file that covers it, as the tag's name and the frame's number within the tag, padded to
// the width of the tag's own largest number: "walk_0" to "walk_3" for frames 4 to 7 tagged
// "walk". Characters of a tag's name other than A-Z, a-z, 0-9, "_" and "-" become "_" (a
// character of several UTF-8 bytes becomes one "_").
std::string FrameSuffix(std::uint32_t frame, std::uint32_t frameCount,
                        std::span<const FrameTag> tags);

}  // namespace kav
