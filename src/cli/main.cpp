// kavconv: converts 8-bit BMP images to MZR, RLE and RLS files from the command line.
//
// Exit status: 0 when every file was converted, 1 when any failed, 2 for a usage error
// (nothing is converted then).

#include <unistd.h>

#include <csignal>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/command_line_host.h"
#include "cli/progress_bar.h"
#include "convert/parallel_batch.h"
#include "platform/file.h"

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct ConvertOptions {
  std::string format = "rle";
  int startColor = 240;
  int endColor = 255;
  int transparentColor = 0;
  bool noRemapping = false;
  bool failFast = false;
  bool quiet = false;
  unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::string> files;
};

const std::map<std::string, std::int32_t> kFormats{
    {"mzr", kav::kFormatMzr}, {"rle", kav::kFormatRle}, {"rls", kav::kFormatRls}};

void AddConvertCommand(CLI::App& app, ConvertOptions& options) {
  CLI::App* convert = app.add_subcommand(
      "convert", "Convert 8-bit BMP files; each output is written beside its source.");
  convert->add_option("-f,--format", options.format, "Output format: mzr, rle or rls")
      ->transform(CLI::IsMember({"mzr", "rle", "rls"}, CLI::ignore_case))
      ->capture_default_str();
  const CLI::Range colour(0, 255);
  convert->add_option("--start", options.startColor, "MZR start colour (0-255)")
      ->check(colour)
      ->capture_default_str();
  convert->add_option("--end", options.endColor, "MZR end colour (0-255)")
      ->check(colour)
      ->capture_default_str();
  convert->add_option("--transparent", options.transparentColor, "MZR transparent colour (0-255)")
      ->check(colour)
      ->capture_default_str();
  convert->add_flag("--no-remapping", options.noRemapping, "Clear the MZR remapping flag");
  convert->add_flag("--fail-fast", options.failFast, "Start no new file after a failure");
  convert->add_flag("-q,--quiet", options.quiet, "Print no status lines and no progress");
  convert->add_option("-j,--jobs", options.jobs, "Files converted at once (default: every core)")
      ->check(CLI::Range(1u, 1024u))
      ->capture_default_str();
  convert->add_option("FILE", options.files, "BMP files to convert")->required();
}

int RunConvert(const ConvertOptions& options) {
  kav::ConversionSettings settings;
  settings.format = kFormats.at(options.format);
  settings.startColor = options.startColor;
  settings.endColor = options.endColor;
  settings.transparentColor = options.transparentColor;
  settings.useRemapping = !options.noRemapping;
  kav::CommandLineHost host(settings, options.quiet, std::cout, std::cerr);
  std::optional<kav::ProgressBar> progress;
  const std::size_t columns = kav::TerminalColumns();
  if (!options.quiet && columns > 0 && options.files.size() > 1) {
    progress.emplace(std::cerr, options.files.size(), columns);
    host.ShowProgressOn(&*progress, isatty(STDOUT_FILENO) != 0);
  }
  kav::ParallelBatchOptions batch{
      .jobs = options.jobs,
      .policy = {.stopAfterMzrFailure = false, .stopAfterAnyFailure = options.failFast},
      .onProgress = {}};
  if (progress) {
    batch.onProgress = [&progress](std::size_t done, std::size_t) { progress->Update(done); };
  }
  const kav::BatchOutcome outcome = kav::RunParallelBatch(host, options.files, batch);
  if (progress) {
    progress->Clear();
  }
  return outcome.failed == 0 ? kExitConverted : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  // A write beyond the file size limit then fails with an error instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
  kav::InstallInterruptCleanup();

  CLI::App app{"Converts 8-bit BMP images to MZR, RLE and RLS asset files.", "kavconv"};
  app.set_version_flag("--version", KAV_VERSION);
  app.require_subcommand(1);
  ConvertOptions convert;
  AddConvertCommand(app, convert);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }
  return RunConvert(convert);
}
