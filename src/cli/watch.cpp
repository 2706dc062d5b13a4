#include "cli/watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "cli/printable.h"
#include "platform/format_text.h"

namespace fs = std::filesystem;

namespace kav {
namespace {

// Events of one input this close together are taken together.
constexpr std::chrono::milliseconds kQuietTime{100};
// What is watched in each folder. A write only postpones an input already due; its close,
// a rename into place or a new name makes it due.
constexpr std::uint32_t kWatchedEvents =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY | IN_ONLYDIR;
constexpr std::uint32_t kDueEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE;

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty() || name.empty()) {
    return folder + name;
  }
  return (fs::path(folder) / name).native();
}

}  // namespace

void PrintPathFailures(std::ostream& err, std::span<const PathFailure> failures,
                       std::string_view text) {
  for (const PathFailure& failure : failures) {
    err << Printable("kavconv: " + failure.path + ": " + std::string(text) + ": " +
                     SystemErrorText(failure.error.value()))
        << '\n'
        << std::flush;
  }
}

ChangeWatch::ChangeWatch(ConverterHost& host, OutputPlacement placement,
                         ConvertFileFunction convert, std::ostream& err)
    : host_(host),
      placement_(std::move(placement)),
      convert_(std::move(convert)),
      err_(err),
      format_(host.Settings().format) {}

bool ChangeWatch::Open() {
  inotify_.Reset(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
  if (!inotify_.IsOpen()) {
    err_ << "kavconv: cannot watch for changes: " << SystemErrorText(errno) << '\n' << std::flush;
  }
  return inotify_.IsOpen();
}

int ChangeWatch::AddWatch(const std::string& folder, const Rule& rule) {
  const int watch = inotify_add_watch(inotify_.Get(), folder.c_str(), kWatchedEvents);
  if (watch < 0) {
    const PathFailure failure{folder, std::error_code(errno, std::generic_category())};
    PrintPathFailures(err_, {&failure, 1}, "Cannot watch this folder");
    return watch;
  }
  std::vector<Rule>& rules = rules_[watch];
  if (std::find(rules.begin(), rules.end(), rule) == rules.end()) {
    rules.push_back(rule);
  }
  return watch;
}

void ChangeWatch::WatchFile(std::size_t argument, const std::string& path) {
  const fs::path folder = fs::path(path).parent_path();
  AddWatch(folder.empty() ? "." : folder.native(),
           {.argument = argument, .file = path, .root = {}, .relative = {}});
}

void ChangeWatch::WatchFolder(std::size_t argument, const std::string& root,
                              const FolderWalk& walk) {
  WatchWalk(argument, root, "", walk);
}

// Watches every folder of `walk`, found at `relative` under the folder argument `root`;
// returns each one's watch by its path in the walk.
std::map<std::string, int> ChangeWatch::WatchWalk(std::size_t argument, const std::string& root,
                                                  const std::string& relative,
                                                  const FolderWalk& walk) {
  std::map<std::string, int> watches;
  for (const std::string& folder : walk.folders) {
    const std::string inRoot = Join(relative, folder);
    const int watch = AddWatch(
        Join(root, inRoot), {.argument = argument, .file = {}, .root = root, .relative = inRoot});
    if (watch >= 0) {
      watches[folder] = watch;
    }
  }
  return watches;
}

std::optional<BatchInput> ChangeWatch::InputOf(const Rule& rule, const std::string& name) const {
  if (!rule.file.empty()) {
    if (fs::path(rule.file).filename() != name) {
      return std::nullopt;
    }
    return InputOfFile(rule.file, placement_, format_);
  }
  if (!IsPictureName(name)) {
    return std::nullopt;
  }
  return InputUnderFolder(rule.root, Join(rule.relative, name), placement_, format_);
}

int ChangeWatch::Run() {
  for (;;) {
    int timeout = -1;
    if (!pending_.empty()) {
      const auto earliest =
          std::min_element(pending_.begin(), pending_.end(), [](auto& a, auto& b) {
            return a.second < b.second;
          })->second;
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(earliest - Clock::now());
      timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
    }
    pollfd events{.fd = inotify_.Get(), .events = POLLIN, .revents = 0};
    if (poll(&events, 1, timeout) < 0 && errno != EINTR) {
      err_ << "kavconv: cannot watch for changes: " << SystemErrorText(errno) << '\n' << std::flush;
      return 1;
    }
    ReadEvents();
    ConvertDue();
    if (host_.StopRequested()) {
      return 1;  // its lines can no longer be printed
    }
  }
}

void ChangeWatch::ReadEvents() {
  alignas(inotify_event) std::array<char, 64 * 1024> buffer;
  for (;;) {
    const ssize_t got = read(inotify_.Get(), buffer.data(), buffer.size());
    if (got <= 0) {
      return;  // EAGAIN: none left
    }
    const auto end = static_cast<std::size_t>(got);
    for (std::size_t at = 0; at + sizeof(inotify_event) <= end;) {
      inotify_event event{};
      std::memcpy(&event, buffer.data() + at, sizeof event);
      const std::size_t nameAt = at + sizeof event;
      if (event.len > end - nameAt) {
        break;
      }
      const std::string name(buffer.data() + nameAt, strnlen(buffer.data() + nameAt, event.len));
      Take(event.wd, event.mask, name);
      at = nameAt + event.len;
    }
  }
}

void ChangeWatch::Take(int watch, std::uint32_t mask, const std::string& name) {
  if ((mask & IN_IGNORED) != 0) {  // the folder is gone
    rules_.erase(watch);
    return;
  }
  if (name.empty()) {
    return;
  }
  if ((mask & IN_ISDIR) != 0) {
    if ((mask & (IN_CREATE | IN_MOVED_TO)) != 0 && !name.starts_with('.')) {
      EnterNewFolder(watch, name);
    }
    return;
  }
  const Key key{watch, name};
  if ((mask & kDueEvents) != 0 || pending_.contains(key)) {
    pending_[key] = Clock::now() + kQuietTime;
  }
}

// A folder that appears under a folder argument is watched as well, and the pictures already
// in it are taken as new.
void ChangeWatch::EnterNewFolder(int watch, const std::string& name) {
  const auto rules = rules_.find(watch);
  if (rules == rules_.end()) {
    return;
  }
  const std::vector<Rule> folderRules = rules->second;  // the watches added change rules_
  for (const Rule& rule : folderRules) {
    if (!rule.file.empty()) {
      continue;
    }
    const std::string relative = Join(rule.relative, name);
    const FolderWalk walk = WalkFolder(Join(rule.root, relative));
    const std::map<std::string, int> watches = WatchWalk(rule.argument, rule.root, relative, walk);
    for (const std::string& picture : walk.pictures) {
      const fs::path path(picture);
      if (const auto folder = watches.find(path.parent_path().native()); folder != watches.end()) {
        pending_[{folder->second, path.filename().native()}] = Clock::now() + kQuietTime;
      }
    }
  }
}

void ChangeWatch::ConvertDue() {
  const Clock::time_point now = Clock::now();
  std::vector<Change> changes;
  for (auto entry = pending_.begin(); entry != pending_.end();) {
    if (entry->second > now) {
      ++entry;
      continue;
    }
    const auto& [watch, name] = entry->first;
    if (const auto rules = rules_.find(watch); rules != rules_.end()) {
      for (const Rule& rule : rules->second) {
        if (std::optional<BatchInput> input = InputOf(rule, name)) {
          changes.push_back({rule.argument, std::move(*input)});
        }
      }
    }
    entry = pending_.erase(entry);
  }
  std::sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
    return std::tie(a.argument, a.input.source) < std::tie(b.argument, b.input.source);
  });
  for (const Change& change : changes) {
    if (host_.StopRequested()) {
      return;
    }
    std::error_code error;
    if (!fs::is_regular_file(change.input.source, error)) {
      continue;  // gone again, or never a file
    }
    const std::vector<PathFailure> failures = MakeOutputFolders({&change.input, 1});
    PrintPathFailures(err_, failures, "Cannot create this folder");
    host_.OnFileStarting(0, 1, change.input.source);
    convert_(host_, format_, change.input.source, OutputPathOf(change.input, format_));
  }
}

}  // namespace kav
