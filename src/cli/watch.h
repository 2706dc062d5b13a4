#pragma once
// kavconv convert --watch: the folders of the files given and the folders given (with every
// folder under them) are watched through inotify, which sees a file written in place as well
// as one an editor saves under another name and renames over it. An input is converted again
// once it has been written and closed, renamed into place or has newly appeared, and 100 ms
// have passed without another event for it and without a change to the file itself (one
// still being written waits).
//
// Nothing is lost silently: when the kernel's event queue overflows (a storm of changes
// while a conversion runs), a warning is printed and every watched folder is walked again,
// converting each input whose outputs are not up to date as -u judges them; a watched
// argument's folder that is removed is watched again as soon as it exists again, and the
// pictures then in it are converted.

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
  // The folder an argument is watched in (a file argument's folder, or the folder argument
  // itself) and its watch, -1 when it could not be watched or is gone.
  struct Root {
    Rule rule;
    std::string folder;
    int watch = -1;
    bool gone = false;  // removed (or moved away) while watched: looked for until it returns
  };
  using ChangeKey = std::pair<std::size_t, std::string>;  // the argument and the source
  struct Pending {
    BatchInput input;
    Clock::time_point due;  // unless another change comes first
  };

  int AddWatch(const std::string& folder, const Rule& rule);
  std::map<std::string, int> WatchWalk(std::size_t argument, const std::string& root,
                                       const std::string& relative, const FolderWalk& walk);
  // Watches the folder at `relative` under a folder argument and every folder in it, and
  // makes the pictures in them due at `due` (all of them, or those not up to date); returns
  // the folder's own watch.
  int EnterFolder(const Rule& rule, const std::string& relative, Clock::time_point due,
                  bool onlyOutOfDate);
  std::optional<BatchInput> InputOf(const Rule& rule, const std::string& name) const;
  void MakeDue(std::size_t argument, const BatchInput& input, Clock::time_point due);
  bool OutOfDate(const BatchInput& input) const;
  void ReadEvents();
  void Take(int watch, std::uint32_t mask, const std::string& name, Clock::time_point due);
  void TakeFolder(const std::vector<Rule>& rules, std::uint32_t mask, const std::string& name,
                  Clock::time_point due);
  void TakeFile(const std::vector<Rule>& rules, std::uint32_t mask, const std::string& name,
                Clock::time_point due);
  void Forget(int watch);
  void WatchReturnedRoots();
  void LookAgainAtEverything();
  void ConvertDue();
  int MillisecondsToWait() const;

  ConverterHost& host_;
  OutputPlacement placement_;
  ConvertFileFunction convert_;
  std::ostream& err_;
  OutputFormat format_;
  Descriptor inotify_;
  std::vector<Root> roots_;
  std::map<int, std::vector<Rule>> rules_;
  std::map<ChangeKey, Pending> pending_;  // in the order changes are converted
  bool overflowed_ = false;               // events were lost since the last look
};

}  // namespace kav
