#pragma once
// Files of several frames (GIF animations, Aseprite sprites) converted a frame at a time: each
// frame into an output of its own, named by its number or its tag (FrameSuffix), or the one
// frame the settings name into the plain output name.
//
// The frames of one file go in place together, once every one is written: a file found
// damaged at its last frame leaves nothing, and older outputs stay as they were.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/conversion.h"
#include "formats/output_format.h"
#include "input/read_picture.h"
#include "platform/memory_budget.h"

namespace kav {

// One frame converted, and where its output goes.
struct FrameOutput {
  std::uint32_t frame = 0;
  std::string path;    // the binary output; its C header is named after it
  std::string suffix;  // what the frame adds to the names ("" for the plain name)
};

// The frames of `info` that `only` (the settings' frame) asks for, each with its output, in
// frame order; nullopt when `only` is past the last frame.
std::optional<std::vector<FrameOutput>> FrameOutputs(const FrameSourceInfo& info,
                                                     const std::string& outputPath,
                                                     std::optional<std::uint32_t> only);

// The settings a frame is written with: an array named by the settings takes the frame's
// suffix, as the names made from the output's file name do.
ConversionSettings SettingsOfFrame(const ConversionSettings& settings, const FrameOutput& frame);

// The frames that converting the file at `sourcePath` into `outputPath` with `settings`
// writes, each with its output: looked into only when its name may hold frames
// (MayHoldFrames); a picture, or a file that cannot be read, is frame 0 into the plain
// output. None when the settings' frame is past the last.
std::vector<FrameOutput> OutputsOfSource(const std::string& sourcePath,
                                         const std::string& outputPath,
                                         const ConversionSettings& settings);

// Converts the frames of `input` that the settings ask for, each with the writer of the
// settings' format, into the outputs FrameOutputs() names from `target.path`. A C header's
// array named by the settings takes the frame's suffix too. The memory of the frames is
// reserved in `budget` before the first is made.
Conversion ConvertFrames(FrameFile& input, const ConversionSettings& settings,
                         const OutputTarget& target, MemoryBudget& budget = PictureMemory());

}  // namespace kav
