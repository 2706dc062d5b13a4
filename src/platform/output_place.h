#pragma once
// Where an output goes, found through folder descriptors so that what was checked is what
// is written: the path is walked one part at a time, and a symbolic link is followed only
// where the link rules (output_place.cpp) allow. OutputFile uses these to place an output,
// the batch to make output folders and to tell which outputs are one file.

#include <sys/stat.h>

#include <optional>
#include <string>
#include <system_error>

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

// The folder and name the output `path` is written to, every link on the way followed, or
// nullopt with `error` set to the failed call's errno or to the rule that refused the path.
std::optional<OutputPlace> FindOutputPlace(const std::string& path, std::error_code& error);

// Why the existing file of `place` must not be replaced by an output, or no error: it is the
// file at `protectedPath`, no regular file, read-only to its owner, or not writable by this
// user.
std::error_code WhyNotReplaceable(const OutputPlace& place, const std::string& protectedPath);

// Makes the folder `path` and every missing folder above it, one at a time, walking the path
// as an output's is walked: a link is followed only where an output's would be, and a path
// refused anywhere makes nothing. No error when the folder exists afterwards.
std::error_code MakeFolders(const std::string& path);

// The file the output `path` is, the same for every spelling of it: its folder's device and
// inode and its name there, once every link is followed. nullopt when the path cannot be
// walked (a folder is missing) or is refused.
std::optional<std::string> OutputIdentity(const std::string& path);

}  // namespace kav
