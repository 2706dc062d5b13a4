#include "input/gif_frames.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>

#include "input/gif_lzw_values.h"
#include "platform/memory_block.h"

namespace kav {
namespace {

constexpr std::string_view kGif87a = "GIF87a";
constexpr std::string_view kGif89a = "GIF89a";

// The rows of an interlaced frame arrive in four passes: every 8th row from row 0, every 8th
// from row 4, every 4th from row 2, every 2nd from row 1.
constexpr std::array<std::uint32_t, 4> kInterlaceFirstRow{0, 4, 2, 1};
constexpr std::array<std::uint32_t, 4> kInterlaceStep{8, 8, 4, 2};

constexpr int kNoTransparentIndex = NO_TRANSPARENT_COLOR;

// What giflib's read callback reads from: the whole file in memory.
struct GifInput {
  std::span<const std::uint8_t> file;
  std::size_t position = 0;
};

int ReadGifBytes(GifFileType* gif, GifByteType* into, int wanted) {
  GifInput& input = *static_cast<GifInput*>(gif->UserData);
  const std::size_t count =
      std::min(static_cast<std::size_t>(std::max(wanted, 0)), input.file.size() - input.position);
  std::copy_n(input.file.subspan(input.position, count).begin(), count, into);
  input.position += count;
  return static_cast<int>(count);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

FrameStatus StatusOfGifError(int error) {
  return error == D_GIF_ERR_NOT_ENOUGH_MEM ? FrameStatus::kOutOfMemory : FrameStatus::kGifCorrupt;
}

// One pass of giflib over the file, from its first record on. It points into itself, so it
// stays where it was made.
class GifDecoder {
 public:
  GifDecoder() = default;
  GifDecoder(const GifDecoder&) = delete;
  GifDecoder& operator=(const GifDecoder&) = delete;

  FrameStatus Open(std::span<const std::uint8_t> file) {
    if (!HasGifSignature(file)) {
      return FrameStatus::kGifCorrupt;
    }
    gif_.reset();
    input_ = {file, 0};
    int error = 0;
    gif_.reset(DGifOpen(&input_, ReadGifBytes, &error));
    if (!gif_) {
      return StatusOfGifError(error);
    }
    return gif_->SWidth > 0 && gif_->SHeight > 0 ? FrameStatus::kOk : FrameStatus::kGifCorrupt;
  }
  GifFileType& gif() { return *gif_; }
  FrameStatus Failed() const { return StatusOfGifError(gif_->Error); }

 private:
  GifInput input_;
  GifHandle gif_;
};

// What a frame's Graphic Control Extension says.
struct FrameControl {
  int transparentIndex = kNoTransparentIndex;
  int disposal = DISPOSAL_UNSPECIFIED;
};

// The part of the logical screen a frame covers.
struct Area {
  std::uint32_t left = 0, top = 0, width = 0, height = 0;
  std::uint64_t Pixels() const { return std::uint64_t{width} * height; }
};

Area OnScreen(const GifImageDesc& frame, std::uint32_t screenWidth, std::uint32_t screenHeight) {
  const auto left = static_cast<std::uint32_t>(frame.Left);
  const auto top = static_cast<std::uint32_t>(frame.Top);
  const auto width = static_cast<std::uint32_t>(frame.Width);
  const auto height = static_cast<std::uint32_t>(frame.Height);
  if (left >= screenWidth || top >= screenHeight) {
    return {};
  }
  return {left, top, std::min(width, screenWidth - left), std::min(height, screenHeight - top)};
}

FrameStatus SkipExtension(GifDecoder& decoder, GifByteType* block) {
  while (block != nullptr) {
    if (DGifGetExtensionNext(&decoder.gif(), &block) == GIF_ERROR) {
      return decoder.Failed();
    }
  }
  return FrameStatus::kOk;
}

FrameStatus ReadExtension(GifDecoder& decoder, FrameControl& control) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(&decoder.gif(), &code, &block) == GIF_ERROR) {
    return decoder.Failed();
  }
  if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
    GraphicsControlBlock gcb{};
    if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_ERROR) {
      return FrameStatus::kGifCorrupt;
    }
    control = {gcb.TransparentColor, gcb.DisposalMode};
  }
  return SkipExtension(decoder, block);
}

// Reads records up to the next frame's image descriptor (then gif().Image describes it and
// its data comes next), gathering that frame's control on the way. `found` is false at the
// trailer.
FrameStatus FindFrame(GifDecoder& decoder, FrameControl& control, bool& found) {
  control = {};
  found = false;
  for (;;) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(&decoder.gif(), &record) == GIF_ERROR) {
      return decoder.Failed();
    }
    if (record == TERMINATE_RECORD_TYPE) {
      return FrameStatus::kOk;
    }
    if (record == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(&decoder.gif()) == GIF_ERROR) {
        return decoder.Failed();
      }
      found = true;
      return FrameStatus::kOk;
    }
    if (record != EXTENSION_RECORD_TYPE) {
      return FrameStatus::kGifCorrupt;
    }
    if (const FrameStatus status = ReadExtension(decoder, control); status != FrameStatus::kOk) {
      return status;
    }
  }
}

// Passes over the frame's LZW data without decoding it.
FrameStatus SkipFrameData(GifDecoder& decoder) {
  int codeSize = 0;
  GifByteType* block = nullptr;
  if (DGifGetCode(&decoder.gif(), &codeSize, &block) == GIF_ERROR) {
    return decoder.Failed();
  }
  while (block != nullptr) {
    if (DGifGetCodeNext(&decoder.gif(), &block) == GIF_ERROR) {
      return decoder.Failed();
    }
  }
  return FrameStatus::kOk;
}

// Decodes the frame's lines into `line`, handing each to draw(row, line) with its row in the
// frame, in the order they arrive.
template <typename DrawLine>
FrameStatus DecodeFrame(GifDecoder& decoder, std::span<std::uint8_t> line, DrawLine drawLine) {
  const GifImageDesc& frame = decoder.gif().Image;
  const auto width = static_cast<std::uint32_t>(frame.Width);
  const auto height = static_cast<std::uint32_t>(frame.Height);
  if (width == 0 || height == 0) {
    return SkipFrameData(decoder);
  }
  const std::span<std::uint8_t> pixels = line.first(width);
  const std::size_t passes = frame.Interlace ? kInterlaceFirstRow.size() : 1;
  for (std::size_t pass = 0; pass < passes; ++pass) {
    const std::uint32_t first = frame.Interlace ? kInterlaceFirstRow[pass] : 0;
    const std::uint32_t step = frame.Interlace ? kInterlaceStep[pass] : 1;
    for (std::uint32_t row = first; row < height; row += step) {
      if (DGifGetLine(&decoder.gif(), pixels.data(), frame.Width) == GIF_ERROR) {
        return decoder.Failed();
      }
      drawLine(row, std::span<const std::uint8_t>(pixels));
    }
  }
  return FrameStatus::kOk;
}

const ColorMapObject* TableOf(GifFileType& gif) {
  return gif.Image.ColorMap != nullptr ? gif.Image.ColorMap : gif.SColorMap;
}

std::size_t EntriesOf(const ColorMapObject* table) {
  return table == nullptr ? 0
                          : std::min<std::size_t>(static_cast<std::size_t>(table->ColorCount),
                                                  kFramePaletteEntries);
}

// Each index's RGBA pixel, as its 4 bytes, so that drawing one is a copy.
using PixelLookup = std::array<std::array<std::uint8_t, kRgbaPixelBytes>, kFramePaletteEntries>;

PixelLookup LookupOf(const ColorMapObject* table) {
  PixelLookup lookup;
  lookup.fill({0, 0, 0, 255});
  for (std::size_t i = 0; i < EntriesOf(table); ++i) {
    const GifColorType& colour = table->Colors[i];
    lookup[i] = {colour.Red, colour.Green, colour.Blue, 255};
  }
  return lookup;
}

void DrawRgbaLine(std::span<const std::uint8_t> indices, int transparentIndex,
                  const PixelLookup& lookup, std::span<std::uint8_t> out) {
  for (std::size_t x = 0; x < indices.size(); ++x) {
    const std::uint8_t index = indices[x];
    if (index != transparentIndex) {
      std::memcpy(out.subspan(x * kRgbaPixelBytes, kRgbaPixelBytes).data(), lookup[index].data(),
                  kRgbaPixelBytes);
    }
  }
}

// Written as a select rather than a branch, so that the compiler draws many pixels at once.
void DrawIndexLine(std::span<const std::uint8_t> indices, int transparentIndex,
                   std::span<std::uint8_t> out) {
  if (transparentIndex == kNoTransparentIndex) {
    std::ranges::copy(indices, out.begin());
    return;
  }
  const auto transparent = static_cast<std::uint8_t>(transparentIndex);
  for (std::size_t x = 0; x < indices.size(); ++x) {
    out[x] = indices[x] == transparent ? out[x] : indices[x];
  }
}

// As DrawIndexLine, each index drawn as `indexOf` says.
void DrawMappedLine(std::span<const std::uint8_t> indices, int transparentIndex,
                    const std::array<std::uint8_t, kFramePaletteEntries>& indexOf,
                    std::span<std::uint8_t> out) {
  if (transparentIndex == kNoTransparentIndex) {
    std::ranges::transform(indices, out.begin(),
                           [&](std::uint8_t index) { return indexOf[index]; });
    return;
  }
  const auto transparent = static_cast<std::uint8_t>(transparentIndex);
  for (std::size_t x = 0; x < indices.size(); ++x) {
    out[x] = indices[x] == transparent ? out[x] : indexOf[indices[x]];
  }
}

// What the walk over the whole file at opening learns.
struct GifLayout {
  std::uint32_t frames = 0;
  std::uint32_t widestFrame = 0;
  std::uint64_t largestRestoredArea = 0;  // pixels of the largest frame disposed of by 3
  bool localTables = false;
  bool transparencyDiffers = false;
  std::optional<int> transparentIndex;  // the first frame's, kNoTransparentIndex for none
  bool firstCoversScreen = false;
  bool clearedBeforeLast = false;  // a frame but the last disposed of by 2, or the first by 3
  int lastDisposal = DISPOSAL_UNSPECIFIED;
};

void NoteFrame(GifLayout& layout, const GifImageDesc& frame, const FrameControl& control,
               const Area& area, std::uint32_t screenWidth, std::uint32_t screenHeight) {
  if (layout.frames > 0 && (layout.lastDisposal == DISPOSE_BACKGROUND ||
                            (layout.frames == 1 && layout.lastDisposal == DISPOSE_PREVIOUS))) {
    layout.clearedBeforeLast = true;
  }
  if (layout.frames == 0) {
    layout.transparentIndex = control.transparentIndex;
    layout.firstCoversScreen = area.width == screenWidth && area.height == screenHeight;
  } else if (control.transparentIndex != layout.transparentIndex) {
    layout.transparencyDiffers = true;
  }
  layout.localTables = layout.localTables || frame.ColorMap != nullptr;
  layout.widestFrame = std::max(layout.widestFrame, static_cast<std::uint32_t>(frame.Width));
  if (control.disposal == DISPOSE_PREVIOUS) {
    layout.largestRestoredArea = std::max(layout.largestRestoredArea, area.Pixels());
  }
  layout.lastDisposal = control.disposal;
  ++layout.frames;
}

FrameStatus WalkFile(GifDecoder& decoder, GifLayout& layout) {
  GifFileType& gif = decoder.gif();
  const auto screenWidth = static_cast<std::uint32_t>(gif.SWidth);
  const auto screenHeight = static_cast<std::uint32_t>(gif.SHeight);
  for (;;) {
    FrameControl control;
    bool found = false;
    if (const FrameStatus status = FindFrame(decoder, control, found);
        status != FrameStatus::kOk || !found) {
      return status;
    }
    NoteFrame(layout, gif.Image, control, OnScreen(gif.Image, screenWidth, screenHeight),
              screenWidth, screenHeight);
    if (const FrameStatus status = SkipFrameData(decoder); status != FrameStatus::kOk) {
      return status;
    }
  }
}

bool IsPaletteInput(const GifFileType& gif, const GifLayout& layout) {
  if (gif.SColorMap == nullptr || layout.localTables || layout.transparencyDiffers) {
    return false;
  }
  return *layout.transparentIndex != kNoTransparentIndex ||
         (layout.firstCoversScreen && !layout.clearedBeforeLast);
}

FramePalette PaletteOf(const ColorMapObject* table, int transparentIndex) {
  FramePalette palette;
  palette.entries.fill({0, 0, 0, 255});
  const std::size_t entries = EntriesOf(table);
  for (std::size_t i = 0; i < entries; ++i) {
    const GifColorType& colour = table->Colors[i];
    palette.entries[i] = {colour.Red, colour.Green, colour.Blue, 255};
  }
  palette.count = static_cast<std::uint16_t>(entries);
  if (transparentIndex != kNoTransparentIndex) {
    const auto index = static_cast<std::size_t>(transparentIndex);
    palette.entries[index].alpha = 0;
    palette.count = static_cast<std::uint16_t>(std::max(entries, index + 1));
  }
  return palette;
}

class GifFrames final : public FrameSource {
 public:
  explicit GifFrames(std::span<const std::uint8_t> file) : file_(file) {}

  FrameStatus Open();
  FrameStatus Next(std::span<std::uint8_t> frame) override;
  FrameStatus Rewind() override;
  bool ComposeIndices(ColourIndexer indexer, std::uint8_t empty) override;

 private:
  bool OfIndices() const { return info_.kind == FrameKind::kPaletteIndices || indexer_; }
  std::size_t PixelBytes() const { return OfIndices() ? 1 : kRgbaPixelBytes; }
  std::span<std::uint8_t> RowOf(std::span<std::uint8_t> frame, const Area& area,
                                std::uint32_t row) const;
  void Fill(std::span<std::uint8_t> frame, const Area& area) const;
  void CopyArea(std::span<std::uint8_t> frame, const Area& area, bool save);
  void Dispose(std::span<std::uint8_t> frame);
  FrameStatus Draw(std::span<std::uint8_t> frame, const FrameControl& control, const Area& area);

  std::span<const std::uint8_t> file_;
  GifDecoder decoder_;
  std::uint32_t nextFrame_ = 0;
  FrameControl lastControl_;  // of the frame drawn last, and the area it covered
  Area lastArea_;
  // The area under a frame to be restored to previous, taken when the first such frame comes
  // (so that opening allocates nothing of a frame's size).
  MemoryBlock saved_;
  std::uint64_t savedBytes_ = 0;
  std::vector<std::uint8_t> line_;
  std::uint8_t clearIndex_ = 0;  // what an empty pixel is in frames of indices
  ColourIndexer indexer_;        // truecolour frames made as indices (ComposeIndices)
};

FrameStatus GifFrames::Open() {
  if (const FrameStatus status = decoder_.Open(file_); status != FrameStatus::kOk) {
    return status;
  }
  GifLayout layout;
  if (const FrameStatus status = WalkFile(decoder_, layout); status != FrameStatus::kOk) {
    return status;
  }
  if (layout.frames == 0) {
    return FrameStatus::kGifCorrupt;
  }
  GifFileType& gif = decoder_.gif();
  info_.width = static_cast<std::uint32_t>(gif.SWidth);
  info_.height = static_cast<std::uint32_t>(gif.SHeight);
  info_.frameCount = layout.frames;
  if (IsPaletteInput(gif, layout)) {
    info_.kind = FrameKind::kPaletteIndices;
    info_.palette = PaletteOf(gif.SColorMap, *layout.transparentIndex);
    if (*layout.transparentIndex != kNoTransparentIndex) {
      info_.transparentIndex = static_cast<std::uint8_t>(*layout.transparentIndex);
      clearIndex_ = *info_.transparentIndex;
    }
  }
  savedBytes_ = layout.largestRestoredArea * PixelBytes();
  line_.resize(layout.widestFrame);
  info_.workingBytes = savedBytes_ + line_.size();
  return Rewind();
}

FrameStatus GifFrames::Rewind() {
  nextFrame_ = 0;
  lastControl_ = {};
  lastArea_ = {};
  return decoder_.Open(file_);
}

std::span<std::uint8_t> GifFrames::RowOf(std::span<std::uint8_t> frame, const Area& area,
                                         std::uint32_t row) const {
  const std::size_t pixel = PixelBytes();
  const std::size_t start = (std::size_t{area.top + row} * info_.width + area.left) * pixel;
  return frame.subspan(start, std::size_t{area.width} * pixel);
}

bool GifFrames::ComposeIndices(ColourIndexer indexer, std::uint8_t empty) {
  if (info_.kind != FrameKind::kTrueColour || nextFrame_ != 0 || !indexer) {
    return false;
  }
  indexer_ = std::move(indexer);
  clearIndex_ = empty;
  return true;
}

// Makes the area empty: transparent pixels, or the index that stands for them.
void GifFrames::Fill(std::span<std::uint8_t> frame, const Area& area) const {
  const std::uint8_t empty = OfIndices() ? clearIndex_ : 0;
  for (std::uint32_t row = 0; row < area.height; ++row) {
    std::ranges::fill(RowOf(frame, area, row), empty);
  }
}

void GifFrames::CopyArea(std::span<std::uint8_t> frame, const Area& area, bool save) {
  const std::size_t rowBytes = std::size_t{area.width} * PixelBytes();
  for (std::uint32_t row = 0; row < area.height; ++row) {
    const std::span<std::uint8_t> onScreen = RowOf(frame, area, row);
    const std::span<std::uint8_t> kept = saved_.bytes().subspan(row * rowBytes, rowBytes);
    std::ranges::copy(save ? onScreen : kept, (save ? kept : onScreen).begin());
  }
}

void GifFrames::Dispose(std::span<std::uint8_t> frame) {
  if (lastControl_.disposal == DISPOSE_BACKGROUND) {
    Fill(frame, lastArea_);
  } else if (lastControl_.disposal == DISPOSE_PREVIOUS) {
    CopyArea(frame, lastArea_, /*save=*/false);
  }
}

FrameStatus GifFrames::Draw(std::span<std::uint8_t> frame, const FrameControl& control,
                            const Area& area) {
  const int transparentIndex = control.transparentIndex;
  if (info_.kind == FrameKind::kPaletteIndices) {
    return DecodeFrame(decoder_, line_, [&](std::uint32_t row, std::span<const std::uint8_t> line) {
      if (row < area.height) {
        DrawIndexLine(line.first(area.width), transparentIndex, RowOf(frame, area, row));
      }
    });
  }
  const PixelLookup lookup = LookupOf(TableOf(decoder_.gif()));
  if (indexer_) {
    static_assert(sizeof(PixelLookup) == kFramePaletteEntries * kRgbaPixelBytes);
    std::array<std::uint8_t, sizeof(PixelLookup)> colours{};
    std::memcpy(colours.data(), lookup.data(), colours.size());
    std::array<std::uint8_t, kFramePaletteEntries> indexOf{};
    indexer_(colours, indexOf);
    return DecodeFrame(decoder_, line_, [&](std::uint32_t row, std::span<const std::uint8_t> line) {
      if (row < area.height) {
        DrawMappedLine(line.first(area.width), transparentIndex, indexOf, RowOf(frame, area, row));
      }
    });
  }
  return DecodeFrame(decoder_, line_, [&](std::uint32_t row, std::span<const std::uint8_t> line) {
    if (row < area.height) {
      DrawRgbaLine(line.first(area.width), transparentIndex, lookup, RowOf(frame, area, row));
    }
  });
}

FrameStatus GifFrames::Next(std::span<std::uint8_t> whole) {
  if (whole.size() != info_.FrameBytes()) {
    return FrameStatus::kWrongBuffer;
  }
  const std::span<std::uint8_t> frame =
      whole.first(std::size_t{info_.width} * info_.height * PixelBytes());
  if (nextFrame_ >= info_.frameCount) {
    return FrameStatus::kOk;
  }
  if (nextFrame_ == 0) {
    Fill(frame, {0, 0, info_.width, info_.height});
  } else {
    Dispose(frame);
  }
  FrameControl control;
  bool found = false;
  if (const FrameStatus status = FindFrame(decoder_, control, found); status != FrameStatus::kOk) {
    return status;
  }
  if (!found) {
    return FrameStatus::kGifCorrupt;  // the file had more frames when it was opened
  }
  const Area area = OnScreen(decoder_.gif().Image, info_.width, info_.height);
  if (control.disposal == DISPOSE_PREVIOUS) {
    if (!saved_ && savedBytes_ > 0) {
      saved_ = MemoryBlock::Allocate(static_cast<std::size_t>(savedBytes_));
      if (!saved_) {
        return FrameStatus::kOutOfMemory;
      }
    }
    CopyArea(frame, area, /*save=*/true);
  }
  if (const FrameStatus status = Draw(frame, control, area); status != FrameStatus::kOk) {
    return status;
  }
  lastControl_ = control;
  lastArea_ = area;
  ++nextFrame_;
  return FrameStatus::kOk;
}

// Marks the indices of `line` that are drawn.
void NoteUsed(std::span<const std::uint8_t> line, int transparentIndex,
              std::array<bool, kFramePaletteEntries>& used) {
  for (const std::uint8_t index : line) {
    used[index] = used[index] || index != transparentIndex;
  }
}

void AddColours(const ColorMapObject* table, const std::array<bool, kFramePaletteEntries>& used,
                std::vector<std::uint32_t>& colours) {
  const std::size_t entries = EntriesOf(table);
  for (std::size_t i = 0; i < used.size(); ++i) {
    if (!used[i]) {
      continue;
    }
    if (i >= entries) {
      colours.push_back(0);  // black
      continue;
    }
    const GifColorType& colour = table->Colors[i];
    colours.push_back(std::uint32_t{colour.Red} << 16 | std::uint32_t{colour.Green} << 8 |
                      colour.Blue);
  }
}

// The values of the frame's pixels inside `area` into `used`, by decoding its lines.
FrameStatus ValuesFromPixels(GifDecoder& decoder, const Area& area, std::vector<std::uint8_t>& line,
                             std::array<bool, kFramePaletteEntries>& used) {
  line.resize(std::max(line.size(), static_cast<std::size_t>(decoder.gif().Image.Width)));
  return DecodeFrame(decoder, line, [&](std::uint32_t row, std::span<const std::uint8_t> pixels) {
    if (row < area.height) {
      NoteUsed(pixels.first(area.width), kNoTransparentIndex, used);
    }
  });
}

// The values of the frame's pixels into `used`, from its codes alone (GifLzwValues);
// `followed` false where the codes could not be followed.
FrameStatus ValuesFromCodes(GifDecoder& decoder, std::array<bool, kFramePaletteEntries>& used,
                            bool& followed) {
  GifFileType& gif = decoder.gif();
  const auto width = static_cast<std::uint64_t>(gif.Image.Width);
  const auto height = static_cast<std::uint64_t>(gif.Image.Height);
  int codeSize = 0;
  GifByteType* block = nullptr;
  if (DGifGetCode(&gif, &codeSize, &block) == GIF_ERROR) {
    return decoder.Failed();
  }
  GifLzwValues values(codeSize, width * height);
  while (block != nullptr) {
    values.Add(std::span<const std::uint8_t>(block + 1, block[0]));
    if (DGifGetCodeNext(&gif, &block) == GIF_ERROR) {
      return decoder.Failed();
    }
  }
  followed = values.Known();
  std::ranges::copy(values.Values(), used.begin());
  return FrameStatus::kOk;
}

enum class FrameValues { kFromCodes, kFromPixels };

// GifFrameColours: each frame's values from its codes where `how` says so and the frame lies
// wholly on the screen (otherwise its pixels off the screen would count), else from its
// pixels. `followed` false where some frame's codes could not be followed.
FrameStatus GatherColours(std::span<const std::uint8_t> file, FrameValues how,
                          std::vector<std::uint32_t>& colours, bool& followed) {
  colours.clear();
  followed = true;
  GifDecoder decoder;
  if (const FrameStatus status = decoder.Open(file); status != FrameStatus::kOk) {
    return status;
  }
  GifFileType& gif = decoder.gif();
  const auto screenWidth = static_cast<std::uint32_t>(gif.SWidth);
  const auto screenHeight = static_cast<std::uint32_t>(gif.SHeight);
  std::vector<std::uint8_t> line;
  std::uint32_t frames = 0;
  for (;; ++frames) {
    FrameControl control;
    bool found = false;
    if (const FrameStatus status = FindFrame(decoder, control, found); status != FrameStatus::kOk) {
      return status;
    }
    if (!found) {
      break;
    }
    const Area area = OnScreen(gif.Image, screenWidth, screenHeight);
    std::array<bool, kFramePaletteEntries> used{};
    const bool wholly = area.width == static_cast<std::uint32_t>(gif.Image.Width) &&
                        area.height == static_cast<std::uint32_t>(gif.Image.Height);
    const FrameStatus status = how == FrameValues::kFromCodes && wholly
                                   ? ValuesFromCodes(decoder, used, followed)
                                   : ValuesFromPixels(decoder, area, line, used);
    if (status != FrameStatus::kOk || !followed) {
      return status;
    }
    if (control.transparentIndex != kNoTransparentIndex) {
      used[static_cast<std::size_t>(control.transparentIndex)] = false;
    }
    AddColours(TableOf(gif), used, colours);
  }
  std::ranges::sort(colours);
  colours.erase(std::unique(colours.begin(), colours.end()), colours.end());
  return frames > 0 ? FrameStatus::kOk : FrameStatus::kGifCorrupt;
}

}  // namespace

bool HasGifSignature(std::span<const std::uint8_t> first) {
  if (first.size() < kGifSignatureSize) {
    return false;
  }
  const std::string_view signature(reinterpret_cast<const char*>(first.data()), kGifSignatureSize);
  return signature == kGif87a || signature == kGif89a;
}

OpenedFrames OpenGifFrames(std::span<const std::uint8_t> file) {
  auto frames = std::make_unique<GifFrames>(file);
  const FrameStatus status = frames->Open();
  if (status != FrameStatus::kOk) {
    return {nullptr, status};
  }
  return {std::move(frames), FrameStatus::kOk};
}

FrameStatus GifFrameColours(std::span<const std::uint8_t> file,
                            std::vector<std::uint32_t>& colours) {
  bool followed = false;
  FrameStatus status = GatherColours(file, FrameValues::kFromCodes, colours, followed);
  if (status == FrameStatus::kOk && !followed) {
    status = GatherColours(file, FrameValues::kFromPixels, colours, followed);
  }
  return status;
}

}  // namespace kav
