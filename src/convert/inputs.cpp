#include "convert/inputs.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "convert/output_path.h"
#include "formats/output_format.h"
#include "input/read_picture.h"
#include "platform/output_place.h"

namespace fs = std::filesystem;

namespace kav {
namespace {

// The output of `relative` under the output folder, or "" (beside its source) without one.
std::string PlacedOutput(const fs::path& relative, const OutputPlacement& placement,
                         OutputFormat format) {
  if (placement.folder.empty()) {
    return {};
  }
  return MakeOutputPath((fs::path(placement.folder) / relative).native(),
                        FormatOf(format).extension);
}

// BatchInput::nameFolder of an output at `relative` below the folder names start from.
std::string NameFolderOf(const fs::path& relative) {
  const fs::path folder = relative.parent_path();
  return folder.empty() ? std::string() : folder.native() + '/';
}

}  // namespace

bool IsPictureName(std::string_view name) {
  return !name.starts_with('.') && HasInputExtension(name);
}

FolderWalk WalkFolder(const std::string& folder) {
  FolderWalk walk;
  std::vector<fs::path> pending{fs::path()};
  while (!pending.empty()) {
    const fs::path relative = std::move(pending.back());
    pending.pop_back();
    walk.folders.push_back(relative.native());
    const fs::path here = fs::path(folder) / relative;
    std::error_code error;
    for (fs::directory_iterator entries(here, error), end; !error && entries != end;
         entries.increment(error)) {
      const fs::directory_entry& entry = *entries;
      const std::string name = entry.path().filename().native();
      std::error_code ignored;  // an entry that vanished or cannot be looked at is no picture
      if (name.starts_with('.')) {
        continue;
      }
      if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) {
        pending.push_back(relative / name);
      } else if (IsPictureName(name) && entry.is_regular_file(ignored)) {
        walk.pictures.push_back((relative / name).native());
      }
    }
    if (error) {
      walk.failures.push_back({here.native(), error});
    }
  }
  std::sort(walk.pictures.begin(), walk.pictures.end());
  return walk;
}

BatchInput InputOfFile(const std::string& path, const OutputPlacement& placement,
                       OutputFormat format) {
  if (!placement.file.empty() && !placement.folder.empty()) {
    return {.source = path,
            .output = (fs::path(placement.folder) / placement.file).native(),
            .nameFolder = NameFolderOf(placement.file)};
  }
  if (!placement.file.empty()) {
    return {.source = path, .output = placement.file};
  }
  return {.source = path,
          .output = PlacedOutput(fs::path(path).filename(), placement, format),
          .exclusiveOutputs = !placement.folder.empty()};
}

BatchInput InputUnderFolder(const std::string& folder, const std::string& relative,
                            const OutputPlacement& placement, OutputFormat format) {
  return {.source = (fs::path(folder) / relative).native(),
          .output = PlacedOutput(relative, placement, format),
          .exclusiveOutputs = true,
          .nameFolder = NameFolderOf(relative)};
}

std::vector<PathFailure> MakeOutputFolders(std::span<const BatchInput> inputs) {
  std::set<fs::path> folders;
  std::vector<PathFailure> failures;
  for (const BatchInput& input : inputs) {
    const fs::path folder = fs::path(input.output).parent_path();
    if (folder.empty() || !folders.insert(folder).second) {
      continue;
    }
    if (const std::error_code error = MakeFolders(folder.native())) {
      failures.push_back({folder.native(), error});
    }
  }
  return failures;
}

}  // namespace kav
