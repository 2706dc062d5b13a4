#include "convert/batch.h"

#include "convert/output_path.h"
#include "convert/planned_outputs.h"
#include "formats/output_format.h"
#include "input/fixed_palette.h"
#include "platform/format_text.h"

namespace kav {
namespace {

constexpr const char* kSummaryFormat = "%d files processed!";

// The index T transparent pixels take, which the fixed palette's opaque pixels never take.
Transparency TransparencyOf(const ConversionSettings& settings) {
  constexpr std::uint8_t kRunCodedTransparent = 255;
  return {.index = settings.format == OutputFormat::kMzr
                       ? static_cast<std::uint8_t>(settings.transparentColor)
                       : kRunCodedTransparent,
          .alphaThreshold = 128};
}

// The picture as the writers take it: onto the fixed palette when the settings name one.
ReadResult WithColourRules(ReadResult read, const ConversionSettings& settings) {
  if (!read || !settings.palette) {
    return read;
  }
  return OntoFixedPalette(std::move(*read), *settings.palette, TransparencyOf(settings),
                          settings.dither);
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
  return !settings.palette || HasEntryBesides(*settings.palette, TransparencyOf(settings).index);
}

Conversion ConvertFile(const ConversionSettings& settings, const std::string& sourcePath,
                       const std::string& outputPath, const OutputWanted& stillWanted) {
  ReadResult read = WithColourRules(ReadPicture(sourcePath), settings);
  Conversion conversion;
  if (read) {
    conversion = FormatOf(settings.format)
                     .write(*read, settings,
                            {.path = outputPath, .source = sourcePath, .stillWanted = stillWanted});
  } else {
    conversion = NothingWritten(Outcome::kUnreadable);
    conversion.read = read.failed();
  }
  conversion.format = settings.format;
  return conversion;
}

std::string OutputPathOf(const BatchInput& input, OutputFormat format) {
  return input.output.empty() ? MakeOutputPath(input.source, FormatOf(format).extension)
                              : input.output;
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
    const ConversionSettings settings = host.Settings();
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
