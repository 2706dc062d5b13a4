// kavconv convert: BMP, PNG, GIF and Aseprite files (a file of several frames to one output
// per frame), and the pictures in folders, to MZR, RLE or RLS files (or C headers of them)
// beside them or where the options say, then, with --watch, again whenever they change.

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
#include <thread>

#include "cli/command_line_host.h"
#include "cli/commands.h"
#include "cli/printable.h"
#include "cli/progress_bar.h"
#include "cli/watch.h"
#include "convert/inputs.h"
#include "convert/parallel_batch.h"
#include "convert/planned_outputs.h"
#include "convert/up_to_date.h"
#include "formats/c_header.h"
#include "formats/output_format.h"
#include "input/palette_source.h"
#include "input/read_picture.h"
#include "platform/memory_budget.h"

namespace kav {
namespace {

const std::map<std::string, Emit> kEmits{
    {"binary", Emit::kBinary}, {"c", Emit::kHeader}, {"both", Emit::kBoth}};
const std::map<std::string, Dither> kDithers{
    {"none", Dither::kNone}, {"ordered", Dither::kOrdered}, {"diffusion", Dither::kDiffusion}};

void PrintCollision(std::ostream& err, const std::string& first, const std::string& second,
                    const std::string& what) {
  err << Printable("kavconv: " + first + " and " + second + " would both " + what) << '\n';
}

// Whether two frames of one file of `inputs` would write one file ("kavconv: A and A would
// both write OUT", printed), for a batch that plans nothing else: only its files of frames
// are planned.
bool FramesCollide(std::ostream& err, std::span<const BatchInput> inputs,
                   const ConversionSettings& settings) {
  std::vector<BatchInput> framed;
  std::ranges::copy_if(inputs, std::back_inserter(framed),
                       [](const BatchInput& input) { return MayHoldFrames(input.source); });
  const std::vector<OutputCollision> collisions =
      FindCollisions(framed, PlanOutputs(framed, settings));
  for (const OutputCollision& collision : collisions) {
    PrintCollision(err, framed[collision.first].source, framed[collision.second].source,
                   "write " + collision.path);
  }
  err << std::flush;
  return !collisions.empty();
}

// The outputs of `inputs` planned, or nullopt once each pair of inputs that would write one
// file where kavconv placed the outputs itself ("kavconv: A and B would both write OUT"), or
// whose C headers would define one name ("kavconv: A and B would both be named NAME"), and
// each file two of whose frames would write one file, is printed. Files named beside their
// sources are otherwise left to the batch to plan: the later one's output stands.
std::optional<std::vector<PlannedOutput>> PlanWithoutCollisions(
    std::ostream& err, std::span<const BatchInput> inputs, const ConversionSettings& settings) {
  if (std::ranges::none_of(inputs, &BatchInput::exclusiveOutputs) &&
      settings.emitted == Emit::kBinary) {
    return FramesCollide(err, inputs, settings) ? std::nullopt
                                                : std::optional(std::vector<PlannedOutput>{});
  }
  std::vector<PlannedOutput> planned = PlanOutputs(inputs, settings);
  const auto print = [&err, inputs](std::size_t first, std::size_t second,
                                    const std::string& what) {
    PrintCollision(err, inputs[first].source, inputs[second].source, what);
  };
  const std::vector<OutputCollision> collisions = FindCollisions(inputs, planned);
  for (const OutputCollision& collision : collisions) {
    print(collision.first, collision.second, "write " + collision.path);
  }
  const std::vector<NameCollision> names = FindNameCollisions(planned);
  for (const NameCollision& collision : names) {
    print(collision.first, collision.second, "be named " + collision.name);
  }
  err << std::flush;
  if (!collisions.empty() || !names.empty()) {
    return std::nullopt;
  }
  return planned;
}

// Whether `path` stays inside the folder it is taken in: relative, and never above it.
bool IsPathInside(const std::string& path) {
  const std::filesystem::path relative = std::filesystem::path(path).lexically_normal();
  return relative.is_relative() && !relative.empty() && *relative.begin() != ".." &&
         relative != ".";
}

// "OPTION: NAME FAULT" when the C name (or prefix) given with `option` breaks the rules of C
// names (CNameFault), or nullopt.
std::optional<std::string> CNameError(std::string_view option,
                                      const std::optional<std::string>& name, bool prefix) {
  const std::optional<std::string> fault = name ? CNameFault(*name, prefix) : std::nullopt;
  if (!fault) {
    return std::nullopt;
  }
  return std::string(option) + ": " + (name->empty() ? "''" : *name) + " " + *fault;
}

bool IsFolder(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_directory(path, ignored);
}

// The inputs the arguments name, in argument order, and the folders that could not be read.
struct Arguments {
  std::vector<BatchInput> inputs;
  std::vector<PathFailure> failures;
  std::vector<std::optional<FolderWalk>> walks;  // for each argument: its walk, if a folder
  std::vector<std::string> empty;                // folders read whole that hold no picture
};

// The formats by their names, for CLI11 to turn a name into its format.
std::map<std::string, OutputFormat> FormatsByName() {
  std::map<std::string, OutputFormat> formats;
  for (const OutputFormatInfo& format : OutputFormats()) {
    formats.emplace(format.name, format.format);
  }
  return formats;
}

std::vector<std::string> FormatNameList() {
  std::vector<std::string> names;
  for (const OutputFormatInfo& format : OutputFormats()) {
    names.emplace_back(format.name);
  }
  return names;
}

// "mzr, rle or rls".
std::string FormatNames() {
  std::string names;
  const std::span<const OutputFormatInfo> formats = OutputFormats();
  for (std::size_t i = 0; i < formats.size(); ++i) {
    names += i == 0 ? "" : i + 1 == formats.size() ? " or " : ", ";
    names += formats[i].name;
  }
  return names;
}

class ConvertCommand final : public Command {
 public:
  explicit ConvertCommand(CLI::App& app);
  int Run(std::ostream& out, std::ostream& err) override;

 private:
  // The text of a usage error in the options that CLI11 cannot check, or nullopt.
  std::optional<std::string> UsageError() const;
  Arguments Gather(OutputFormat format) const;
  // Watches what the arguments name; false, with the cause printed, when it cannot.
  bool Arm(ChangeWatch& watch, const Arguments& arguments) const;
  // The batch, with a progress bar on a terminal.
  BatchOutcome Convert(CommandLineHost& host, std::span<const BatchInput> inputs,
                       std::span<const PlannedOutput> planned, std::ostream& err) const;
  ConvertFileFunction Converter() const { return update_ ? ConvertUnlessUpToDate : ConvertFile; }
  // The options in the order --help lists them.
  void AddSettingOptions();
  CLI::Option* AddRunOptions();  // gives --fail-fast, which --watch excludes
  void AddOutputOptions();
  void AddColourOptions();
  // The settings' fixed palette read from --palette's file; false, with the failure printed,
  // when it cannot be read or leaves no entry for opaque pixels.
  bool LoadPalette(ConversionSettings& settings, std::ostream& err) const;

  ConversionSettings settings_;  // the defaults, until the options say otherwise
  bool noRemapping_ = false;
  bool failFast_ = false;
  bool quiet_ = false;
  unsigned jobs_ = std::max(1u, std::thread::hardware_concurrency());
  OutputPlacement placement_;
  bool update_ = false;
  std::string emit_ = "binary";
  std::string dither_ = "none";
  bool noReduce_ = false;
  std::optional<std::string> headerName_;
  std::optional<std::string> headerPrefix_;
  std::optional<std::uint32_t> frame_;
  bool watch_ = false;
  std::uint64_t memoryLimit_ = 0;  // 0: half of the machine's physical memory
  std::vector<std::string> files_;
};

ConvertCommand::ConvertCommand(CLI::App& app)
    : Command(app.add_subcommand(
          "convert",
          "Convert BMP, PNG, GIF and Aseprite files (one output per frame), and the pictures "
          "in folders; each output is written beside its source unless -o or --output-dir says "
          "otherwise.")) {
  AddSettingOptions();
  AddColourOptions();
  CLI::Option* failFast = AddRunOptions();
  AddOutputOptions();
  subcommand_
      ->add_flag("--watch", watch_,
                 "After converting, convert each input again whenever it changes, until Ctrl-C")
      ->excludes(failFast);
  subcommand_
      ->add_option(
          "FILE", files_,
          "BMP, PNG, GIF and Aseprite files, and folders whose .bmp, .dib, .png, .gif, .ase and "
          ".aseprite files (at any depth) are converted")
      ->required();
}

// The format and the MZR settings.
void ConvertCommand::AddSettingOptions() {
  // A transform added later runs first: the names alone are taken ("png not in
  // {mzr,rle,rls}"), though the transformer would also take the formats' numbers.
  subcommand_->add_option("-f,--format", settings_.format, "Output format: " + FormatNames())
      ->transform(CLI::CheckedTransformer(FormatsByName(), CLI::ignore_case).description(""))
      ->transform(CLI::IsMember(FormatNameList(), CLI::ignore_case))
      ->type_name("TEXT")
      ->default_str(std::string(FormatOf(settings_.format).name));
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
  subcommand_
      ->add_option("--alpha-threshold", settings_.alphaThreshold,
                   "A pixel whose alpha is below N is transparent (1-255)")
      ->type_name("N")
      ->check(CLI::Range(1, 255))
      ->capture_default_str();
  subcommand_->add_flag("--keep-indices", settings_.keepIndices,
                        "Keep a palette picture's indices as stored, its transparency ignored");
  subcommand_
      ->add_option("--frame", frame_,
                   "Convert only frame N (from 0) of a GIF or Aseprite file, into the plain "
                   "output name (default: every frame, each into NAME_0, NAME_1 ...)")
      ->type_name("N");
}

// Which palette the outputs take and how colours are brought onto it.
void ConvertCommand::AddColourOptions() {
  subcommand_
      ->add_option("--palette", settings_.paletteFile,
                   "Give every output this palette: a GIMP (.gpl), JASC (.pal), Adobe (.act) or "
                   "hex (.hex) palette, or a palette picture; each opaque pixel takes its "
                   "nearest entry")
      ->type_name("FILE")
      ->check(kPathNotEmpty);
  subcommand_
      ->add_option("--dither", dither_,
                   "none, ordered (8 x 8 Bayer) or diffusion (Floyd-Steinberg), onto --palette's "
                   "or a reduced palette")
      ->transform(CLI::IsMember({"none", "ordered", "diffusion"}, CLI::ignore_case))
      ->capture_default_str();
  subcommand_->add_flag("--no-reduce", noReduce_,
                        "Refuse a picture with more colours than the format holds instead of "
                        "reducing them");
}

// How the batch runs.
CLI::Option* ConvertCommand::AddRunOptions() {
  CLI::Option* failFast =
      subcommand_->add_flag("--fail-fast", failFast_, "Start no new file after a failure");
  subcommand_->add_flag("-q,--quiet", quiet_, "Print no status lines and no progress");
  subcommand_->add_option("-j,--jobs", jobs_, "Files converted at once (default: every core)")
      ->check(CLI::Range(1u, 1024u))
      ->capture_default_str();
  subcommand_
      ->add_option("--memory-limit", memoryLimit_,
                   "Memory for the pictures of all files converted at once, in bytes or with K, "
                   "M, G or T (512M, 2G); a picture waits until it fits, one larger than SIZE "
                   "fails as out of memory (default: half of the physical memory)")
      ->type_name("SIZE")
      ->transform(CLI::AsSizeValue(false).description(""))
      ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{UINT64_MAX}).description(""))
      ->envname("KAV_MEMORY_LIMIT");
  return failFast;
}

// Where the outputs go and what they are.
void ConvertCommand::AddOutputOptions() {
  subcommand_
      ->add_option("-o,--output", placement_.file,
                   "With one input file: the output's path, whatever its name (with "
                   "--output-dir, a path inside DIR)")
      ->type_name("OUT")
      ->check(kPathNotEmpty);
  subcommand_
      ->add_option("--output-dir", placement_.folder,
                   "Write outputs under DIR: a file's directly in it, a folder's pictures at "
                   "their paths inside that folder (folders are made as needed)")
      ->type_name("DIR")
      ->check(kPathNotEmpty);
  subcommand_->add_flag("-u,--update", update_,
                        "Skip an input whose outputs are not older than it and were written in "
                        "this format with these settings");
  subcommand_
      ->add_option("--emit", emit_,
                   "binary, c (a C header of the bytes, named after the output plus .h) or both")
      ->transform(CLI::IsMember({"binary", "c", "both"}, CLI::ignore_case))
      ->capture_default_str();
  subcommand_
      ->add_option("--c-name", headerName_,
                   "The C header's array name (one input file only; default: the output's "
                   "path below --output-dir or the folder argument, or its file name, as a C "
                   "identifier: ui/hero.RLE gives ui_hero_RLE)")
      ->type_name("NAME");
  subcommand_
      ->add_option("--c-prefix", headerPrefix_,
                   "Put P in front of every C array's name, and P upper-cased in front of "
                   "every macro and include guard")
      ->type_name("P");
}

std::optional<std::string> ConvertCommand::UsageError() const {
  const bool oneFile = files_.size() == 1 && !IsFolder(files_.front());
  if (!placement_.file.empty() && !oneFile) {
    return "--output takes exactly one input file; for folders and several files use "
           "--output-dir";
  }
  if (headerName_ && !oneFile) {
    return "--c-name takes exactly one input file";
  }
  if (headerName_ && kEmits.at(emit_) == Emit::kBinary) {
    return "--c-name needs --emit c or --emit both";
  }
  if (headerPrefix_ && kEmits.at(emit_) == Emit::kBinary) {
    return "--c-prefix needs --emit c or --emit both";
  }
  if (settings_.keepIndices && !settings_.paletteFile.empty()) {
    return "--palette gives pictures new indices: it cannot be used with --keep-indices";
  }
  if (!placement_.file.empty() && !placement_.folder.empty() && !IsPathInside(placement_.file)) {
    return "--output: with --output-dir, OUT is a path inside DIR";
  }
  if (std::optional<std::string> fault = CNameError("--c-name", headerName_, false)) {
    return fault;
  }
  return CNameError("--c-prefix", headerPrefix_, true);
}

bool ConvertCommand::LoadPalette(ConversionSettings& settings, std::ostream& err) const {
  if (settings.paletteFile.empty()) {
    return true;
  }
  if (const std::optional<RgbPalette> palette = ReadPaletteFile(settings.paletteFile)) {
    settings.palette = std::make_shared<const RgbPalette>(*palette);
  }
  if (settings.palette && FixedPaletteServes(settings)) {
    return true;
  }
  err << Printable("kavconv: " + settings.paletteFile + ": " +
                   std::string(ReadFailureText(ReadFailure::kPaletteFileUnreadable)))
      << '\n'
      << std::flush;
  return false;
}

Arguments ConvertCommand::Gather(OutputFormat format) const {
  Arguments arguments;
  for (const std::string& path : files_) {
    arguments.walks.emplace_back();
    if (!IsFolder(path)) {
      arguments.inputs.push_back(InputOfFile(path, placement_, format));
      continue;
    }
    FolderWalk& walk = arguments.walks.back().emplace(WalkFolder(path));
    if (walk.pictures.empty() && walk.failures.empty()) {
      arguments.empty.push_back(path);
    }
    for (const std::string& picture : walk.pictures) {
      arguments.inputs.push_back(InputUnderFolder(path, picture, placement_, format));
    }
    arguments.failures.insert(arguments.failures.end(), walk.failures.begin(), walk.failures.end());
  }
  return arguments;
}

bool ConvertCommand::Arm(ChangeWatch& watch, const Arguments& arguments) const {
  if (!watch.Open()) {
    return false;
  }
  for (std::size_t i = 0; i < files_.size(); ++i) {
    if (arguments.walks[i]) {
      watch.WatchFolder(i, files_[i], *arguments.walks[i]);
    } else {
      watch.WatchFile(i, files_[i]);
    }
  }
  return true;
}

BatchOutcome ConvertCommand::Convert(CommandLineHost& host, std::span<const BatchInput> inputs,
                                     std::span<const PlannedOutput> planned,
                                     std::ostream& err) const {
  std::optional<ProgressBar> progress;
  const std::size_t columns = TerminalColumns();
  if (!quiet_ && columns > 0 && inputs.size() > 1) {
    progress.emplace(err, inputs.size(), columns);
    host.ShowProgressOn(&*progress, isatty(STDOUT_FILENO) != 0);
  }
  ParallelBatchOptions batch{
      .jobs = jobs_,
      .policy = {.stopAfterFormatFailure = false, .stopAfterAnyFailure = failFast_},
      .onProgress = {},
      .convertFile = Converter(),
      .plannedOutputs = planned};
  if (progress) {
    batch.onProgress = [&progress](std::size_t done, std::size_t) { progress->Update(done); };
  }
  const BatchOutcome outcome = RunParallelBatch(host, inputs, batch);
  if (progress) {
    progress->Clear();
    host.ShowProgressOn(nullptr, false);
  }
  return outcome;
}

int ConvertCommand::Run(std::ostream& out, std::ostream& err) {
  if (const std::optional<std::string> usage = UsageError()) {
    err << Printable("kavconv: " + *usage) << "\nRun with --help for more information.\n"
        << std::flush;
    return kExitUsage;
  }
  ConversionSettings settings = settings_;
  settings.useRemapping = settings.useRemapping && !noRemapping_;
  settings.emitted = kEmits.at(emit_);
  settings.headerName = headerName_.value_or("");
  settings.headerPrefix = headerPrefix_.value_or("");
  settings.frame = frame_;
  settings.dither = kDithers.at(dither_);
  settings.reduce = !noReduce_;
  PictureMemory().SetLimit(memoryLimit_ != 0 ? memoryLimit_ : PhysicalMemory() / 2);
  if (!LoadPalette(settings, err)) {  // a palette picture's memory comes from the same budget
    return kExitFailure;
  }
  CommandLineHost host(settings, quiet_, out, err);
  const Arguments arguments = Gather(settings.format);
  PrintPathFailures(err, arguments.failures, "Cannot read this folder");
  for (const std::string& folder : arguments.empty) {  // an empty asset folder is no failure
    err << Printable("kavconv: " + folder + ": no pictures here") << '\n' << std::flush;
  }
  const std::optional<std::vector<PlannedOutput>> planned =
      PlanWithoutCollisions(err, arguments.inputs, settings);
  if (!planned) {
    return kExitUsage;  // before any folder is made
  }
  // Made before any conversion, so that threads group outputs by their folders' identities.
  const std::vector<PathFailure> unmade = MakeOutputFolders(arguments.inputs);
  PrintPathFailures(err, unmade, "Cannot create this folder");
  std::optional<ChangeWatch> watch;
  if (watch_) {  // armed before converting, so that nothing changed meanwhile is missed
    EndInterruptsWithStatus(kExitSuccess);  // Ctrl-C is how a watch ends
    const ConvertFileFunction convert =
        RefusingSources(std::make_shared<const SourceFiles>(arguments.inputs), Converter());
    if (!Arm(watch.emplace(host, placement_, convert, err), arguments)) {
      return kExitFailure;
    }
  }
  const BatchOutcome outcome = Convert(host, arguments.inputs, *planned, err);
  if (watch && !host.StopRequested()) {
    err << "Watching for changes; press Ctrl-C to stop.\n" << std::flush;
    return watch->Run();
  }
  const bool failed = outcome.failed > 0 || !arguments.failures.empty() || !unmade.empty();
  return failed ? kExitFailure : kExitSuccess;
}

}  // namespace

std::unique_ptr<Command> AddConvertCommand(CLI::App& app) {
  return std::make_unique<ConvertCommand>(app);
}

}  // namespace kav
