// kavconv convert: 8-bit BMP files to MZR, RLE or RLS files beside them.

#include <unistd.h>

#include <map>
#include <optional>
#include <ostream>
#include <thread>

#include "cli/command_line_host.h"
#include "cli/commands.h"
#include "cli/progress_bar.h"
#include "convert/parallel_batch.h"

namespace kav {
namespace {

const std::map<std::string, std::int32_t> kFormats{
    {"mzr", kFormatMzr}, {"rle", kFormatRle}, {"rls", kFormatRls}};

std::string FormatName(std::int32_t format) {
  for (const auto& [name, value] : kFormats) {
    if (value == format) {
      return name;
    }
  }
  return "mzr";  // every other value selects MZR
}

class ConvertCommand final : public Command {
 public:
  explicit ConvertCommand(CLI::App& app);
  int Run(std::ostream& out, std::ostream& err) override;

 private:
  ConversionSettings settings_;  // the defaults, until the options say otherwise
  std::string format_ = FormatName(settings_.format);
  bool noRemapping_ = false;
  bool failFast_ = false;
  bool quiet_ = false;
  unsigned jobs_ = std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::string> files_;
};

ConvertCommand::ConvertCommand(CLI::App& app)
    : Command(app.add_subcommand(
          "convert", "Convert 8-bit BMP files; each output is written beside its source.")) {
  subcommand_->add_option("-f,--format", format_, "Output format: mzr, rle or rls")
      ->transform(CLI::IsMember({"mzr", "rle", "rls"}, CLI::ignore_case))
      ->capture_default_str();
  const CLI::Range colour(0, 255);
  subcommand_->add_option("--start", settings_.startColor, "MZR start colour (0-255)")
      ->check(colour)
      ->capture_default_str();
  subcommand_->add_option("--end", settings_.endColor, "MZR end colour (0-255)")
      ->check(colour)
      ->capture_default_str();
  subcommand_
      ->add_option("--transparent", settings_.transparentColor, "MZR transparent colour (0-255)")
      ->check(colour)
      ->capture_default_str();
  subcommand_->add_flag("--no-remapping", noRemapping_, "Clear the MZR remapping flag");
  subcommand_->add_flag("--fail-fast", failFast_, "Start no new file after a failure");
  subcommand_->add_flag("-q,--quiet", quiet_, "Print no status lines and no progress");
  subcommand_->add_option("-j,--jobs", jobs_, "Files converted at once (default: every core)")
      ->check(CLI::Range(1u, 1024u))
      ->capture_default_str();
  subcommand_->add_option("FILE", files_, "BMP files to convert")->required();
}

int ConvertCommand::Run(std::ostream& out, std::ostream& err) {
  ConversionSettings settings = settings_;
  settings.format = kFormats.at(format_);
  settings.useRemapping = settings.useRemapping && !noRemapping_;
  CommandLineHost host(settings, quiet_, out, err);
  std::optional<ProgressBar> progress;
  const std::size_t columns = TerminalColumns();
  if (!quiet_ && columns > 0 && files_.size() > 1) {
    progress.emplace(err, files_.size(), columns);
    host.ShowProgressOn(&*progress, isatty(STDOUT_FILENO) != 0);
  }
  ParallelBatchOptions batch{
      .jobs = jobs_,
      .policy = {.stopAfterMzrFailure = false, .stopAfterAnyFailure = failFast_},
      .onProgress = {}};
  if (progress) {
    batch.onProgress = [&progress](std::size_t done, std::size_t) { progress->Update(done); };
  }
  const BatchOutcome outcome = RunParallelBatch(host, files_, batch);
  if (progress) {
    progress->Clear();
  }
  return outcome.failed == 0 ? kExitSuccess : kExitFailure;
}

}  // namespace

std::unique_ptr<Command> AddConvertCommand(CLI::App& app) {
  return std::make_unique<ConvertCommand>(app);
}

}  // namespace kav
