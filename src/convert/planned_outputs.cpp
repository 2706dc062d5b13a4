#include "convert/planned_outputs.h"

#include <sys/stat.h>

#include <filesystem>
#include <numeric>
#include <set>
#include <unordered_map>

#include "convert/frame_conversion.h"
#include "formats/c_header.h"
#include "formats/output_shell.h"
#include "platform/output_place.h"

namespace fs = std::filesystem;

namespace kav {
namespace {

// The spelling of `path` from the root with its existing part's links resolved, for a path
// that cannot be walked yet. It begins with '/', an identity with a digit, so the two never
// meet.
std::string SpellingOf(const fs::path& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error).lexically_normal();
  const fs::path canonical = fs::weakly_canonical(absolute, error);
  return (error ? absolute : canonical).native();
}

// PlannedOutput::file for the outputs of one batch. Nearly every output is no link: it is its
// folder, looked at once per batch, and its name there. Only a link is walked as its writer
// will walk it.
class OutputFiles {
 public:
  PlannedOutput Of(std::size_t input, std::string output) {
    const fs::path path(output);
    PlannedOutput planned{
        .input = input, .path = std::move(output), .file = {}, .existing = {}, .cName = {}};
    struct stat info {};
    if (lstat(planned.path.c_str(), &info) != 0) {
      planned.file = FolderOf(path.parent_path()) + path.filename().native();
    } else if (!S_ISLNK(info.st_mode)) {
      planned.file = FolderOf(path.parent_path()) + path.filename().native();
      planned.existing = FileId{info.st_dev, info.st_ino};
    } else {
      std::optional<std::string> identity = OutputIdentity(planned.path);
      planned.file = identity ? std::move(*identity) : SpellingOf(path);
      planned.existing = SourceFiles::IdOf(planned.path);
    }
    return planned;
  }

 private:
  // The folder's identity as OutputIdentity() gives it, with a '/'.
  const std::string& FolderOf(const fs::path& folder) {
    auto [entry, added] = folders_.try_emplace(folder.native());
    if (added) {
      struct stat info {};
      entry->second = stat(folder.empty() ? "." : folder.c_str(), &info) == 0
                          ? std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino)
                          : SpellingOf(folder);
      entry->second += '/';
    }
    return entry->second;
  }

  std::unordered_map<std::string, std::string> folders_;  // by the folder's spelling
};

// The binary file whose C header `path` is (HeaderPathOf), or "" when `path` is a binary file
// itself: `binary`, or another file of the same input.
std::string HeldBy(const std::string& path, const std::string& binary) {
  const std::size_t added = HeaderPathOf("").size();
  return path != binary && path.size() > added &&
                 HeaderPathOf(path.substr(0, path.size() - added)) == path
             ? path.substr(0, path.size() - added)
             : std::string();
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

std::vector<std::string> FilesWritten(const std::string& sourcePath, const std::string& outputPath,
                                      const ConversionSettings& settings) {
  std::vector<std::string> files;
  for (const FrameOutput& output : OutputsOfSource(sourcePath, outputPath, settings)) {
    for (std::string& file : FilesWritten(output.path, settings)) {
      files.push_back(std::move(file));
    }
  }
  return files;
}

std::vector<PlannedOutput> PlanOutputs(std::span<const BatchInput> inputs,
                                       const ConversionSettings& settings) {
  OutputFiles files;
  std::vector<PlannedOutput> outputs;
  outputs.reserve(inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const ConversionSettings inputSettings = SettingsFor(settings, inputs[i]);
    for (const FrameOutput& frame :
         OutputsOfSource(inputs[i].source, OutputPathOf(inputs[i], settings.format), settings)) {
      for (std::string& path : FilesWritten(frame.path, settings)) {
        // A header is named after the binary file it holds, whose path it extends
        // (HeaderPathOf), and an array the settings name takes the frame's suffix.
        const std::string held = HeldBy(path, frame.path);
        outputs.push_back(files.Of(i, std::move(path)));
        if (!held.empty()) {
          outputs.back().cName = HeaderNameOf(held, SettingsOfFrame(inputSettings, frame));
        }
      }
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
  paths_.reserve(inputs.size());
  for (const BatchInput& input : inputs) {
    paths_.push_back(input.source);
  }
}

std::optional<FileId> SourceFiles::IdOf(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return std::nullopt;
  }
  return FileId{info.st_dev, info.st_ino};
}

bool SourceFiles::Holds(const std::optional<FileId>& id) const {
  if (!id) {
    return false;
  }
  std::call_once(lookedAt_, [this] {
    for (const std::string& source : paths_) {
      if (const std::optional<FileId> sourceId = IdOf(source)) {
        ids_.insert(*sourceId);
      }
    }
  });
  return ids_.contains(*id);
}

// Only the sources of inputs that share an output are looked at, so a batch without a
// collision costs no look at its sources. One input writes a file twice only where two of its
// frames are named alike (tags that differ only in characters that become "_"), wherever its
// outputs go.
std::vector<OutputCollision> FindCollisions(std::span<const BatchInput> inputs,
                                            std::span<const PlannedOutput> outputs) {
  std::unordered_map<std::string, const PlannedOutput*> firstWriter;
  std::set<std::pair<std::string, std::string>> found;  // by the sources' files
  std::vector<OutputCollision> collisions;
  const auto sourceOf = [&inputs](std::size_t input) {
    const std::optional<FileId> id = SourceFiles::IdOf(inputs[input].source);
    return id ? std::to_string(id->first) + ":" + std::to_string(id->second)
              : "#" + std::to_string(input);
  };
  for (const PlannedOutput& output : outputs) {
    const auto [entry, added] = firstWriter.try_emplace(output.file, &output);
    const PlannedOutput& first = *entry->second;
    const bool itself = first.input == output.input;
    if (added || (!itself && !(inputs[first.input].exclusiveOutputs ||
                               inputs[output.input].exclusiveOutputs))) {
      continue;
    }
    const std::string a = sourceOf(first.input);
    const std::string b = sourceOf(output.input);
    if ((itself || a != b) && found.emplace(a, b).second) {
      collisions.push_back({.first = first.input, .second = output.input, .path = first.path});
    }
  }
  return collisions;
}

std::vector<NameCollision> FindNameCollisions(std::span<const PlannedOutput> outputs) {
  std::unordered_map<std::string, const PlannedOutput*> definer;
  std::set<std::pair<std::size_t, std::size_t>> found;
  std::vector<NameCollision> collisions;
  for (const PlannedOutput& output : outputs) {
    if (output.cName.empty()) {
      continue;
    }
    const CHeaderNames names = CHeaderNamesOf(output.cName);
    for (const std::string* name : {&names.array, &names.size, &names.guard}) {
      const auto [entry, added] = definer.try_emplace(*name, &output);
      const PlannedOutput& first = *entry->second;
      if (!added && first.input != output.input && first.file != output.file &&
          found.emplace(first.input, output.input).second) {
        collisions.push_back({.first = first.input, .second = output.input, .name = *name});
      }
    }
  }
  return collisions;
}

std::vector<bool> WritingOverSources(std::span<const BatchInput> inputs,
                                     std::span<const PlannedOutput> outputs) {
  const SourceFiles sources(inputs);
  std::vector<bool> writing(inputs.size(), false);
  for (const PlannedOutput& output : outputs) {
    if (sources.Holds(output.existing)) {
      writing[output.input] = true;
    }
  }
  return writing;
}

Conversion RefuseSourceAsOutput(OutputFormat format) {
  Conversion refused = NothingWritten(Outcome::kCannotCreate);
  refused.format = format;
  refused.cause = OutputRefusal::kInput;
  return refused;
}

ConvertFileFunction RefusingSources(std::shared_ptr<const SourceFiles> sources,
                                    ConvertFileFunction convertFile) {
  return [sources = std::move(sources), convertFile = std::move(convertFile)](
             const ConversionSettings& settings, const std::string& source,
             const std::string& output, const OutputWanted& stillWanted) {
    for (const std::string& path : FilesWritten(source, output, settings)) {
      if (sources->Holds(path)) {
        return RefuseSourceAsOutput(settings.format);
      }
    }
    return convertFile(settings, source, output, stillWanted);
  };
}

}  // namespace kav
