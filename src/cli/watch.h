#pragma once
// kavconv convert --watch: the folders of the files given and the folders given (with every
// folder under them) are watched through inotify, which sees a file written in place as well
// as one an editor saves under another name and renames over it. An input is converted again
// once it has been written and closed, renamed into place or has newly appeared, and 100 ms
// have passed without another event for it.

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "convert/inputs.h"
#include "platform/file.h"

namespace kav {

// Prints "kavconv: PATH: TEXT: CAUSE" for each failure.
void PrintPathFailures(std::ostream& err, std::span<const PathFailure> failures,
                       std::string_view text);

class ChangeWatch {
 public:
  ChangeWatch(ConverterHost& host, OutputPlacement placement, ConvertFileFunction convert,
              std::ostream& err);

  // Starts inotify; false, with the cause printed, when it cannot be had.
  bool Open();
  // Watches for the file argument `path` in its folder, and for the pictures of the folder
  // argument `root` in every folder of `walk`; `argument` orders inputs that change together.
  void WatchFile(std::size_t argument, const std::string& path);
  void WatchFolder(std::size_t argument, const std::string& root, const FolderWalk& walk);
  // Converts each input that changes, as a batch does but for the summary, until an
  // interrupt ends the process; returns the exit status only when waiting fails or the host
  // asks to stop (its lines can no longer be printed).
  int Run();

 private:
  using Clock = std::chrono::steady_clock;
  // What a watched folder's names are inputs of: one file argument, or the pictures of a
  // folder argument found at `relative` under it.
  struct Rule {
    std::size_t argument = 0;
    std::string file;  // the file argument, or empty
    std::string root;
    std::string relative;
    bool operator==(const Rule&) const = default;
  };
  using Key = std::pair<int, std::string>;  // a folder's watch and a name in it
  struct Change {
    std::size_t argument;
    BatchInput input;
  };

  int AddWatch(const std::string& folder, const Rule& rule);
  std::map<std::string, int> WatchWalk(std::size_t argument, const std::string& root,
                                       const std::string& relative, const FolderWalk& walk);
  std::optional<BatchInput> InputOf(const Rule& rule, const std::string& name) const;
  void ReadEvents();
  void Take(int watch, std::uint32_t mask, const std::string& name);
  void EnterNewFolder(int watch, const std::string& name);
  void ConvertDue();

  ConverterHost& host_;
  OutputPlacement placement_;
  ConvertFileFunction convert_;
  std::ostream& err_;
  std::int32_t format_;
  Descriptor inotify_;
  std::map<int, std::vector<Rule>> rules_;
  std::map<Key, Clock::time_point> pending_;  // when each is due, unless another event comes
};

}  // namespace kav
