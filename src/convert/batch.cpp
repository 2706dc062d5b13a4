#include "convert/batch.h"

#include "convert/output_path.h"
#include "convert/planned_outputs.h"
#include "formats/mzr.h"
#include "formats/run_length.h"
#include "platform/format_text.h"

namespace kav {
namespace {

constexpr const char* kSummaryFormat = "%d files processed!";

}  // namespace

bool FailureStopsBatch(const BatchPolicy& policy, std::int32_t format) {
  const bool mzr = format != kFormatRle && format != kFormatRls;
  return policy.stopAfterAnyFailure || (policy.stopAfterMzrFailure && mzr);
}

void ShowBatchSummary(ConverterHost& host, const BatchOutcome& outcome) {
  if (outcome.taken > 1 && !outcome.stoppedByFailure) {
    host.SetStatusText(FormatText(kSummaryFormat, static_cast<int>(outcome.taken)));
  }
}

bool ConvertFile(ConverterHost& host, std::int32_t format, const std::string& sourcePath,
                 const std::string& outputPath) {
  if (format == kFormatRle) {
    return ConvertToRle(host, sourcePath, outputPath);
  }
  if (format == kFormatRls) {
    return ConvertToRls(host, sourcePath, outputPath);
  }
  return ConvertToMzr(host, sourcePath, outputPath);
}

std::string OutputPathOf(const BatchInput& input, std::int32_t format) {
  return input.output.empty() ? MakeOutputPath(input.source, ExtensionForFormat(format))
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
  BatchOutcome outcome;
  for (const BatchInput& input : inputs) {
    host.OnFileStarting(outcome.taken, inputs.size(), input.source);
    ++outcome.taken;
    host.ReadBack();  // a failed validation is shown by the host; the file is converted anyway
    const std::int32_t format = host.Settings().format;
    if (!convert(host, format, input.source, OutputPathOf(input, format))) {
      ++outcome.failed;
      if (FailureStopsBatch(policy, format)) {
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

BatchOutcome OnConvertFile(ConverterHost& host, FileChooser& chooser) {
  const std::optional<std::vector<std::string>> chosen = chooser.ChooseFiles();
  if (!chosen) {
    return {};
  }
  return RunBatch(host, *chosen);
}

}  // namespace kav
