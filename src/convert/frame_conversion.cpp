#include "convert/frame_conversion.h"

#include <algorithm>
#include <string_view>

#include "convert/frame_indices.h"
#include "convert/output_path.h"
#include "formats/c_header.h"
#include "formats/output_shell.h"
#include "platform/memory_block.h"

namespace kav {
namespace {

Conversion Failed(Outcome outcome, OutputFormat format) {
  Conversion failed = NothingWritten(outcome);
  failed.format = format;
  return failed;
}

Conversion Unreadable(ReadFailure failure, InputKind kind, OutputFormat format) {
  Conversion failed = Failed(Outcome::kUnreadable, format);
  failed.read = {.failure = failure, .kind = kind, .cause = {}};
  return failed;
}

// Whether two of `outputs` are one path (frames of tags named alike): kavconv refuses such a
// file before converting anything; a batch that does not plan its outputs must not let the
// later frame replace the earlier unseen.
bool NamedAlike(const std::vector<FrameOutput>& outputs) {
  std::vector<std::string_view> paths;
  for (const FrameOutput& output : outputs) {
    paths.push_back(output.path);
  }
  std::ranges::sort(paths);
  return std::ranges::adjacent_find(paths) != paths.end();
}

// The memory one conversion of frames takes besides the input: the composed frame, what the
// source holds, what the indices hold, and the picture handed to the writer. A reduction's
// histogram and libimagequant's working memory for one frame are its own, as for a single
// picture.
struct FrameMemory {
  MemoryReservation reservation;
  MemoryBlock composed;
};

bool TakeFrameMemory(const FrameSourceInfo& info, const ConversionSettings& settings,
                     MemoryBudget& budget, FrameMemory& memory) {
  const std::uint64_t pictureBytes = std::uint64_t{info.width} * info.height;
  const std::uint64_t frameBytes = info.FrameBytes();
  if (frameBytes > SIZE_MAX) {
    return false;
  }
  memory.reservation = budget.Reserve(frameBytes + info.workingBytes + pictureBytes +
                                      FrameIndicesBytes(info, settings));
  if (!memory.reservation) {
    return false;
  }
  memory.composed = MemoryBlock::Allocate(static_cast<std::size_t>(frameBytes));
  return static_cast<bool>(memory.composed);
}

// The composed frame's indices as a picture of their own, which the writer gives back.
std::optional<Picture> PictureOfFrame(InputKind kind, const FrameSourceInfo& info,
                                      std::span<const std::uint8_t> composed,
                                      FrameIndices& indices) {
  MemoryBlock block = MemoryBlock::Allocate(std::size_t{info.width} * info.height);
  if (!block) {
    return std::nullopt;
  }
  if (!indices.Index(composed, block.bytes())) {
    return std::nullopt;
  }
  return Picture::Of(kind, info.width, info.height, indices.palette(), std::move(block),
                     {.offset = 0, .stride = info.width, .bottomUp = false});
}

// Makes the frames up to the last one asked for, writing each one asked for into `held`;
// the conversion of the first that fails, or a written one. A reduction of the frames'
// colours is told in `reduced`.
Conversion WriteFrames(FrameFile& input, const std::vector<FrameOutput>& outputs,
                       const ConversionSettings& settings, const OutputTarget& target,
                       FrameMemory& memory, HeldOutputs& held,
                       std::optional<ColourReduction>& reduced) {
  FrameSource& frames = *input.frames;
  const PreparedIndices prepared = PrepareFrameIndices(input, memory.composed.bytes(), settings);
  reduced = prepared.reduction;
  if (prepared.status != FrameStatus::kOk) {
    return Unreadable(ReadFailureOf(prepared.status), input.kind, settings.format);
  }
  if (!prepared.indices) {
    return Unreadable(prepared.failure.value_or(ReadFailure::kOutOfMemory), input.kind,
                      settings.format);
  }
  const FrameSourceInfo& info = frames.Info();
  auto next = outputs.begin();
  for (std::uint32_t frame = 0; next != outputs.end(); ++frame) {
    if (const FrameStatus status = frames.Next(memory.composed.bytes());
        status != FrameStatus::kOk) {
      return Unreadable(ReadFailureOf(status), input.kind, settings.format);
    }
    if (frame != next->frame) {
      continue;
    }
    std::optional<Picture> picture =
        PictureOfFrame(input.kind, info, memory.composed.bytes(), *prepared.indices);
    if (!picture) {
      return Failed(Outcome::kOutOfMemory, settings.format);
    }
    const Conversion written =
        FormatOf(settings.format)
            .write(*picture, SettingsOfFrame(settings, *next),
                   {.path = next->path, .source = target.source, .stillWanted = {}, .held = &held});
    if (!Succeeded(written)) {
      return written;
    }
    ++next;
  }
  return Failed(Outcome::kWritten, settings.format);
}

}  // namespace

ConversionSettings SettingsOfFrame(const ConversionSettings& settings, const FrameOutput& frame) {
  ConversionSettings own = settings;
  if (!own.headerName.empty() && !frame.suffix.empty()) {
    own.headerName = CIdentifierFor(own.headerName + "_" + frame.suffix);
  }
  return own;
}

std::optional<std::vector<FrameOutput>> FrameOutputs(const FrameSourceInfo& info,
                                                     const std::string& outputPath,
                                                     std::optional<std::uint32_t> only) {
  if (only) {
    if (*only >= info.frameCount) {
      return std::nullopt;
    }
    return std::vector<FrameOutput>{{.frame = *only, .path = outputPath, .suffix = {}}};
  }
  std::vector<FrameOutput> outputs;
  outputs.reserve(info.frameCount);
  for (std::uint32_t frame = 0; frame < info.frameCount; ++frame) {
    std::string suffix = FrameSuffix(frame, info.frameCount, info.tags);
    outputs.push_back(
        {.frame = frame, .path = FrameOutputPath(outputPath, suffix), .suffix = std::move(suffix)});
  }
  return outputs;
}

std::vector<FrameOutput> OutputsOfSource(const std::string& sourcePath,
                                         const std::string& outputPath,
                                         const ConversionSettings& settings) {
  const std::optional<FrameSourceInfo> info =
      MayHoldFrames(sourcePath) ? FrameInfoOf(sourcePath) : std::nullopt;
  if (!info) {
    return {{.frame = 0, .path = outputPath, .suffix = {}}};
  }
  return FrameOutputs(*info, outputPath, settings.frame).value_or(std::vector<FrameOutput>{});
}

Conversion ConvertFrames(FrameFile& input, const ConversionSettings& settings,
                         const OutputTarget& target, MemoryBudget& budget) {
  const FrameSourceInfo& info = input.frames->Info();
  const std::optional<std::vector<FrameOutput>> outputs =
      FrameOutputs(info, target.path, settings.frame);
  if (!outputs) {
    return Failed(Outcome::kNoSuchFrame, settings.format);
  }
  if (NamedAlike(*outputs)) {
    Conversion refused = Failed(Outcome::kCannotCreate, settings.format);
    refused.cause = OutputRefusal::kFramesNamedAlike;
    return refused;
  }
  HeldOutputs held;
  std::optional<ColourReduction> reduced;
  {
    FrameMemory memory;
    if (!TakeFrameMemory(info, settings, budget, memory)) {
      return Unreadable(ReadFailure::kOutOfMemory, input.kind, settings.format);
    }
    Conversion written = WriteFrames(input, *outputs, settings, target, memory, held, reduced);
    if (!Succeeded(written)) {
      written.skippedContent = info.skippedContent;
      written.reduction = reduced;
      return written;
    }
  }  // the frames' memory is given back before the batch may make this file wait
  if (input.bytes.Damaged()) {
    Conversion damaged = Failed(Outcome::kSourceDamaged, settings.format);
    damaged.read = {.failure = CorruptFailureOf(input.kind), .kind = input.kind, .cause = {}};
    return damaged;
  }
  if (target.stillWanted && !target.stillWanted()) {
    return Failed(Outcome::kNotWanted, settings.format);
  }
  Conversion conversion;
  conversion.format = settings.format;
  conversion.skippedContent = info.skippedContent;
  conversion.reduction = reduced;
  conversion.outcome = held.PutInPlace(conversion.files, conversion.cause);
  return conversion;
}

}  // namespace kav
