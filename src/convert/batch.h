#pragma once
// The conversion batch: every chosen file converted on its own, one after the other, into
// the format the settings select, with its output beside it or where the front end says.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "convert/converter_host.h"

namespace kav {

struct BatchPolicy {
  bool stopAfterFormatFailure = true;  // the dialog's rule: a failure in MZR ends the batch
  bool stopAfterAnyFailure = false;    // the command line's --fail-fast
};

struct BatchOutcome {
  std::size_t taken = 0;   // paths taken, converted or not
  std::size_t failed = 0;  // conversions that failed
  bool stoppedByFailure = false;
};

// One file of a batch and where its output goes. An empty output goes beside the source,
// named for the format the file is converted in.
struct BatchInput {
  std::string source;
  std::string output;
  // Whether no other input may write this one's outputs: kavconv's rule where it places
  // outputs itself (under --output-dir, from folder arguments). Files named beside their
  // sources let the later one's output stand, as the dialog does.
  bool exclusiveOutputs = false;
  // The folder of the output below the one its C name's path starts from, with a '/' ("ui/"),
  // or "" (ConversionSettings::headerFolder).
  std::string nameFolder{};
};

// The output of `input` converted in `format`.
std::string OutputPathOf(const BatchInput& input, OutputFormat format);

// The batch's `settings` for converting `input`: with the folder its C names start from.
ConversionSettings SettingsFor(const ConversionSettings& settings, const BatchInput& input);

// Whether a failed file ends the batch: any failure under --fail-fast, and in the dialog a
// failure in a format whose failures end it (MZR).
bool FailureStopsBatch(const BatchPolicy& policy, OutputFormat format);

// "%d files processed!" once a batch of more than one file ends without a stopping failure.
void ShowBatchSummary(ConverterHost& host, const BatchOutcome& outcome);

// Whether the settings' fixed palette (when they name one) has an entry that opaque pixels
// may take: one other than the index transparent pixels take.
bool FixedPaletteServes(const ConversionSettings& settings);

// Reads `sourcePath` and writes it with the writer of the settings' format into `outputPath`,
// asking `stillWanted` (if any) before each output goes in place.
Conversion ConvertFile(const ConversionSettings& settings, const std::string& sourcePath,
                       const std::string& outputPath, const OutputWanted& stillWanted);

// Converts one file as ConvertFile does.
using ConvertFileFunction =
    std::function<Conversion(const ConversionSettings& settings, const std::string& sourcePath,
                             const std::string& outputPath, const OutputWanted& stillWanted)>;

// Converts every path in order, reporting each file to `host`. Before each file the settings
// are read back (a failed validation does not stop the file). An output that is one of the
// batch's sources is refused ("Cannot create output file": "it is an input of this batch").
// After a stopping failure the rest is skipped and no summary is shown; otherwise a batch of
// more than one path ends with "%d files processed!".
BatchOutcome RunBatch(ConverterHost& host, std::span<const std::string> paths,
                      const BatchPolicy& policy = {});
// The same over inputs with outputs of their own, each converted by `convertFile`.
BatchOutcome RunBatch(ConverterHost& host, std::span<const BatchInput> inputs,
                      const BatchPolicy& policy, const ConvertFileFunction& convertFile);

// The inputs of `paths`, each output beside its source.
std::vector<BatchInput> InputsBesideSources(std::span<const std::string> paths);

}  // namespace kav
