#include "convert/batch.h"

#include "convert/output_path.h"
#include "formats/mzr.h"
#include "formats/run_length.h"
#include "platform/format_text.h"

namespace kav {
namespace {

constexpr const char* kSummaryFormat = "%d files processed!";

bool IsMzr(std::int32_t format) {
  return format != kFormatRle && format != kFormatRls;
}

}  // namespace

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

BatchOutcome RunBatch(ConverterHost& host, std::span<const std::string> paths,
                      const BatchPolicy& policy) {
  BatchOutcome outcome;
  for (const std::string& sourcePath : paths) {
    host.OnFileStarting(outcome.taken, paths.size(), sourcePath);
    ++outcome.taken;
    host.ReadBack();  // a failed validation is shown by the host; the file is converted anyway
    const std::int32_t format = host.Settings().format;
    const std::string outputPath = MakeOutputPath(sourcePath, ExtensionForFormat(format));
    if (!ConvertFile(host, format, sourcePath, outputPath)) {
      ++outcome.failed;
      if (policy.stopAfterAnyFailure || (policy.stopAfterMzrFailure && IsMzr(format))) {
        outcome.stoppedByFailure = true;
        return outcome;
      }
    }
    if (host.StopRequested()) {
      break;
    }
  }
  if (outcome.taken > 1) {
    host.SetStatusText(FormatText(kSummaryFormat, static_cast<int>(outcome.taken)));
  }
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
