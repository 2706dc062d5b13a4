#include "convert/planned_outputs.h"

#include <sys/stat.h>

#include <filesystem>
#include <numeric>
#include <set>
#include <unordered_map>

#include "formats/output_shell.h"
#include "platform/format_text.h"
#include "platform/output_place.h"

namespace fs = std::filesystem;

namespace kav {
namespace {

// See PlannedOutput::file. An identity begins with a digit, a spelling with '/', so the two
// never meet.
std::string FileOf(const std::string& path) {
  if (std::optional<std::string> identity = OutputIdentity(path)) {
    return *identity;
  }
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error).lexically_normal();
  const fs::path canonical = fs::weakly_canonical(absolute, error);
  return (error ? absolute : canonical).native();
}

// Inputs joined into groups, each named by one of its inputs.
class InputGroups {
 public:
  explicit InputGroups(std::size_t count) : parent_(count) {
    std::iota(parent_.begin(), parent_.end(), std::size_t{0});
  }
  std::size_t Of(std::size_t input) {
    while (parent_[input] != input) {
      input = parent_[input] = parent_[parent_[input]];
    }
    return input;
  }
  void Join(std::size_t a, std::size_t b) { parent_[Of(a)] = Of(b); }

 private:
  std::vector<std::size_t> parent_;
};

}  // namespace

std::vector<std::string> FilesWritten(const std::string& outputPath,
                                      const ConversionSettings& settings) {
  switch (settings.emitted) {
    case Emit::kBinary:
      return {outputPath};
    case Emit::kHeader:
      return {HeaderPathOf(outputPath)};
    case Emit::kBoth:
      return {outputPath, HeaderPathOf(outputPath)};
  }
  return {outputPath};
}

std::vector<PlannedOutput> PlanOutputs(std::span<const BatchInput> inputs,
                                       const ConversionSettings& settings) {
  std::vector<PlannedOutput> outputs;
  outputs.reserve(inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    for (std::string& path : FilesWritten(OutputPathOf(inputs[i], settings.format), settings)) {
      std::string file = FileOf(path);
      outputs.push_back({.input = i, .path = std::move(path), .file = std::move(file)});
    }
  }
  return outputs;
}

// Inputs that share a file, directly or through others, form one group, and each follows the
// group's input before it: then no input ever has two that follow it.
std::vector<std::size_t> EarlierWithSameOutput(std::span<const PlannedOutput> outputs,
                                               std::size_t inputCount) {
  InputGroups groups(inputCount);
  std::unordered_map<std::string, std::size_t> writer;
  for (const PlannedOutput& output : outputs) {
    const auto [entry, added] = writer.try_emplace(output.file, output.input);
    if (!added) {
      groups.Join(entry->second, output.input);
    }
  }
  std::vector<std::size_t> earlier(inputCount, kNoInput);
  std::vector<std::size_t> lastOfGroup(inputCount, kNoInput);
  for (std::size_t i = 0; i < inputCount; ++i) {
    earlier[i] = std::exchange(lastOfGroup[groups.Of(i)], i);
  }
  return earlier;
}

SourceFiles::SourceFiles(std::span<const BatchInput> inputs) {
  firstAlike_.reserve(inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const std::optional<FileId> id = IdOf(inputs[i].source);
    firstAlike_.push_back(id ? first_.try_emplace(*id, i).first->second : i);
  }
}

std::optional<SourceFiles::FileId> SourceFiles::IdOf(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return std::nullopt;
  }
  return FileId{info.st_dev, info.st_ino};
}

bool SourceFiles::Holds(const std::string& path) const {
  const std::optional<FileId> id = IdOf(path);
  return id && first_.contains(*id);
}

std::vector<OutputCollision> FindCollisions(std::span<const BatchInput> inputs,
                                            std::span<const PlannedOutput> outputs,
                                            const SourceFiles& sources) {
  std::unordered_map<std::string, const PlannedOutput*> firstWriter;
  std::set<std::pair<std::size_t, std::size_t>> found;
  std::vector<OutputCollision> collisions;
  for (const PlannedOutput& output : outputs) {
    const auto [entry, added] = firstWriter.try_emplace(output.file, &output);
    const PlannedOutput& first = *entry->second;
    if (added || first.input == output.input) {
      continue;
    }
    const bool exclusive =
        inputs[first.input].exclusiveOutputs || inputs[output.input].exclusiveOutputs;
    const std::size_t a = sources.FirstAlike(first.input);
    const std::size_t b = sources.FirstAlike(output.input);
    if (exclusive && a != b && found.emplace(a, b).second) {
      collisions.push_back({.first = first.input, .second = output.input, .path = first.path});
    }
  }
  return collisions;
}

ConvertFileFunction RefusingSources(std::shared_ptr<const SourceFiles> sources,
                                    ConvertFileFunction convertFile) {
  return [sources = std::move(sources), convertFile = std::move(convertFile)](
             ConverterHost& host, std::int32_t format, const std::string& source,
             const std::string& output) {
    for (const std::string& path : FilesWritten(output, host.Settings())) {
      if (sources->Holds(path)) {
        host.ShowError(MessageOwner::kMainDialog, kCannotCreateText,
                       ErrorText(OutputRefusal::kInput));
        return false;
      }
    }
    return convertFile(host, format, source, output);
  };
}

}  // namespace kav
