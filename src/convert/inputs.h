#pragma once
// What kavconv convert is given: files, and folders walked for the pictures in them, each
// with where its output goes.

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "convert/batch.h"

namespace kav {

// A path that could not be used, and why.
struct PathFailure {
  std::string path;
  std::error_code error;
};

// Whether a file met in a folder is converted: its name is not hidden and ends as the names
// of an input kind's files do (HasInputExtension), in any letter case.
bool IsPictureName(std::string_view name);

// What a folder holds, as paths relative to it: every picture (a regular file or a link to
// one) in byte order, and every folder entered, the folder itself ("") first. Hidden files
// and folders are passed over, and linked folders are not entered, so no walk loops.
struct FolderWalk {
  std::vector<std::string> pictures;
  std::vector<std::string> folders;
  std::vector<PathFailure> failures;  // folders that could not be read
};
FolderWalk WalkFolder(const std::string& folder);

// Where outputs go: beside their sources (both empty), at one path (-o), under a folder
// (--output-dir), or at one path inside that folder (both).
struct OutputPlacement {
  std::string file;
  std::string folder;
};

// The input of a file argument: its output at the one path, if any (inside the output folder,
// if any), else in the output folder, if any, under its name.
BatchInput InputOfFile(const std::string& path, const OutputPlacement& placement,
                       OutputFormat format);
// The input of the picture at `relative` under the folder argument `folder`: its output at
// the same relative path under the output folder, if any.
BatchInput InputUnderFolder(const std::string& folder, const std::string& relative,
                            const OutputPlacement& placement, OutputFormat format);

// Makes every folder that the inputs' outputs go into, once each, through the link rules of
// outputs (MakeFolders); the folders that could not be made.
std::vector<PathFailure> MakeOutputFolders(std::span<const BatchInput> inputs);

}  // namespace kav
