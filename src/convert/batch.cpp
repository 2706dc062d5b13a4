#include "convert/batch.h"

#include "convert/frame_conversion.h"
#include "convert/output_path.h"
#include "convert/planned_outputs.h"
#include "formats/output_format.h"
#include "formats/output_shell.h"
#include "input/fixed_palette.h"
#include "input/palette_picture.h"
#include "platform/format_text.h"

namespace kav {
namespace {

constexpr const char* kSummaryFormat = "%d files processed!";

ColourRules ColourRulesOf(const ConversionSettings& settings) {
  return {
      .fixedPalette = settings.palette.get(), .dither = settings.dither, .reduce = settings.reduce};
}

}  // namespace

bool FailureStopsBatch(const BatchPolicy& policy, OutputFormat format) {
  return policy.stopAfterAnyFailure ||
         (policy.stopAfterFormatFailure && FormatOf(format).failureEndsBatch);
}

void ShowBatchSummary(ConverterHost& host, const BatchOutcome& outcome) {
  if (outcome.taken > 1 && !outcome.stoppedByFailure) {
    host.SetStatusText(FormatText(kSummaryFormat, static_cast<int>(outcome.taken)));
  }
}

bool FixedPaletteServes(const ConversionSettings& settings) {
  return !settings.palette ||
         HasEntryBesides(*settings.palette, TransparencyRulesOf(settings).transparentIndex);
}

Conversion ConvertFile(const ConversionSettings& settings, const std::string& sourcePath,
                       const std::string& outputPath, const OutputWanted& stillWanted) {
  const OutputTarget target{
      .path = outputPath, .source = sourcePath, .stillWanted = stillWanted, .held = nullptr};
  ColourReduction reduction;
  std::variant<ReadResult, FrameFile> input = ReadPaletteInput(
      sourcePath, TransparencyRulesOf(settings), ColourRulesOf(settings), &reduction);
  if (FrameFile* frames = std::get_if<FrameFile>(&input)) {
    return ConvertFrames(*frames, settings, target);
  }
  ReadResult read = std::get<ReadResult>(std::move(input));
  Conversion conversion;
  if (!read) {
    conversion = NothingWritten(Outcome::kUnreadable);
    conversion.read = read.failed();
  } else if (settings.frame.value_or(0) != 0) {
    conversion = Refuse(*read, Outcome::kNoSuchFrame);  // a still picture is frame 0
  } else {
    conversion = FormatOf(settings.format).write(*read, settings, target);
  }
  conversion.format = settings.format;
  if (reduction.found != 0) {
    conversion.reduction = reduction;
  }
  return conversion;
}

std::string OutputPathOf(const BatchInput& input, OutputFormat format) {
  return input.output.empty() ? MakeOutputPath(input.source, FormatOf(format).extension)
                              : input.output;
}

ConversionSettings SettingsFor(const ConversionSettings& settings, const BatchInput& input) {
  ConversionSettings own = settings;
  own.headerFolder = input.nameFolder;
  return own;
}

std::vector<BatchInput> InputsBesideSources(std::span<const std::string> paths) {
  std::vector<BatchInput> inputs;
  inputs.reserve(paths.size());
  for (const std::string& path : paths) {
    inputs.push_back({.source = path, .output = {}});
  }
  return inputs;
}

BatchOutcome RunBatch(ConverterHost& host, std::span<const std::string> paths,
                      const BatchPolicy& policy) {
  return RunBatch(host, InputsBesideSources(paths), policy, ConvertFile);
}

BatchOutcome RunBatch(ConverterHost& host, std::span<const BatchInput> inputs,
                      const BatchPolicy& policy, const ConvertFileFunction& convertFile) {
  const ConvertFileFunction convert =
      RefusingSources(std::make_shared<const SourceFiles>(inputs), convertFile);
  const OutputWanted stillWanted = [&host] { return host.OutputStillWanted(); };
  BatchOutcome outcome;
  for (const BatchInput& input : inputs) {
    host.OnFileStarting(outcome.taken, inputs.size(), input.source);
    ++outcome.taken;
    host.ReadBack();  // a failed validation is shown by the host; the file is converted anyway
    const ConversionSettings settings = SettingsFor(host.Settings(), input);
    const Conversion conversion =
        convert(settings, input.source, OutputPathOf(input, settings.format), stillWanted);
    host.Report(conversion);
    if (!Succeeded(conversion)) {
      ++outcome.failed;
      if (FailureStopsBatch(policy, settings.format)) {
        outcome.stoppedByFailure = true;
        return outcome;
      }
    }
    if (host.StopRequested()) {
      break;
    }
  }
  ShowBatchSummary(host, outcome);
  return outcome;
}

}  // namespace kav
