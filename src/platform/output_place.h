#pragma once
// Where an output goes, found through folder descriptors so that what was checked is what
// is written: the path is walked one part at a time, and a symbolic link planted by someone
// else in a shared folder is never followed. Only OutputFile uses these.

#include <sys/stat.h>

#include <optional>
#include <string>

#include "platform/file.h"

namespace kav {

// Where an output goes: its folder, open, and its name there, with what is there now.
struct OutputPlace {
  Descriptor folder;
  std::string folderPath;  // the path the folder was opened by without meeting a link, or empty
  std::string name;
  bool exists = false;
  struct stat info {};
};

// The folder and name the output `path` is written to, or nullopt with `error` set to the
// errno of the call that failed (0 when a link was refused).
std::optional<OutputPlace> FindOutputPlace(const std::string& path, int& error);

// Whether the existing file `name` in `folder` must not be replaced: its owner made it
// read-only, or this user may not write it.
bool IsReadOnly(int folder, const std::string& name, const struct stat& info);

}  // namespace kav
