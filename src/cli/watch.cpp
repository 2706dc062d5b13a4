#include "cli/watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <ostream>

#include "cli/printable.h"
#include "convert/up_to_date.h"
#include "platform/format_text.h"
#include "platform/test_seams.h"

namespace fs = std::filesystem;

namespace kav {
namespace {

// Events of one input this close together are taken together, and a file changed this
// recently is still being written.
constexpr std::chrono::milliseconds kQuietTime{100};
// How often a watched folder that is gone is looked for.
constexpr std::chrono::milliseconds kReturnCheck{100};
// What is watched in each folder. A write only postpones an input already due; its close,
// a rename into place or a new name makes it due. A folder argument moved away is watched
// no more, as one removed.
constexpr std::uint32_t kWatchedEvents =
    IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY | IN_MOVE_SELF | IN_ONLYDIR;
constexpr std::uint32_t kDueEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE;

constexpr std::string_view kOverflowText =
    "kavconv: too many changes at once (the system's event queue overflowed); looking at every "
    "watched folder again\n";
constexpr std::string_view kWatchLimitText =
    "too many folders to watch (raise fs.inotify.max_user_watches)";

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty() || name.empty()) {
    return folder + name;
  }
  return (fs::path(folder) / name).native();
}

std::string FolderOf(const std::string& file) {
  const fs::path folder = fs::path(file).parent_path();
  return folder.empty() ? "." : folder.native();
}

// How long ago the file at `path` was last changed, by its modification time; nullopt when
// it cannot be looked at.
std::optional<std::chrono::nanoseconds> TimeSinceChange(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return std::nullopt;
  }
  const auto changed = std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::seconds(status.st_mtim.tv_sec) +
          std::chrono::nanoseconds(status.st_mtim.tv_nsec)));
  return std::chrono::system_clock::now() - changed;
}

}  // namespace

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
  const int watch = seams::RefuseFolderWatch()
                        ? (errno = ENOSPC, -1)
                        : inotify_add_watch(inotify_.Get(), folder.c_str(), kWatchedEvents);
  if (watch < 0) {
    // The kernel's text for the per-user limit ("No space left on device") misleads.
    const std::string cause =
        errno == ENOSPC ? std::string(kWatchLimitText) : SystemErrorText(errno);
    err_ << Printable("kavconv: " + folder + ": Cannot watch this folder: " + cause) << '\n'
         << std::flush;
    return watch;
  }
  std::vector<Rule>& rules = rules_[watch];
  if (std::find(rules.begin(), rules.end(), rule) == rules.end()) {
    rules.push_back(rule);
  }
  return watch;
}

void ChangeWatch::WatchFile(std::size_t argument, const std::string& path) {
  const Rule rule{.argument = argument, .file = path, .root = {}, .relative = {}};
  roots_.push_back({.rule = rule, .folder = FolderOf(path), .watch = -1, .gone = false});
  roots_.back().watch = AddWatch(roots_.back().folder, rule);
}

void ChangeWatch::WatchFolder(std::size_t argument, const std::string& root,
                              const FolderWalk& walk) {
  const Rule rule{.argument = argument, .file = {}, .root = root, .relative = {}};
  const std::map<std::string, int> watches = WatchWalk(argument, root, "", walk);
  const auto own = watches.find("");
  roots_.push_back({.rule = rule,
                    .folder = root,
                    .watch = own != watches.end() ? own->second : -1,
                    .gone = false});
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

int ChangeWatch::EnterFolder(const Rule& rule, const std::string& relative, Clock::time_point due,
                             bool onlyOutOfDate) {
  const FolderWalk walk = WalkFolder(Join(rule.root, relative));
  const std::map<std::string, int> watches = WatchWalk(rule.argument, rule.root, relative, walk);
  for (const std::string& picture : walk.pictures) {
    const BatchInput input =
        InputUnderFolder(rule.root, Join(relative, picture), placement_, format_);
    if (!onlyOutOfDate || OutOfDate(input)) {
      MakeDue(rule.argument, input, due);
    }
  }
  const auto own = watches.find("");
  return own != watches.end() ? own->second : -1;
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

void ChangeWatch::MakeDue(std::size_t argument, const BatchInput& input, Clock::time_point due) {
  pending_.insert_or_assign({argument, input.source}, Pending{.input = input, .due = due});
}

bool ChangeWatch::OutOfDate(const BatchInput& input) const {
  return !OutputsUpToDate(SettingsFor(host_.Settings(), input), input.source,
                          OutputPathOf(input, format_));
}

int ChangeWatch::Run() {
  for (;;) {
    pollfd events{.fd = inotify_.Get(), .events = POLLIN, .revents = 0};
    if (poll(&events, 1, MillisecondsToWait()) < 0 && errno != EINTR) {
      err_ << "kavconv: cannot watch for changes: " << SystemErrorText(errno) << '\n' << std::flush;
      return 1;
    }
    ReadEvents();
    if (std::exchange(overflowed_, false)) {
      LookAgainAtEverything();
    }
    WatchReturnedRoots();
    ConvertDue();
    if (host_.StopRequested()) {
      return 1;  // its lines can no longer be printed
    }
  }
}

// Until the earliest change is due, or a folder that is gone is looked for again; -1 (for
// ever) when nothing waits.
int ChangeWatch::MillisecondsToWait() const {
  std::optional<Clock::time_point> wake;
  for (const auto& [key, pending] : pending_) {
    wake = std::min(wake.value_or(pending.due), pending.due);
  }
  if (std::ranges::any_of(roots_, [](const Root& root) { return root.gone; })) {
    wake = std::min(wake.value_or(Clock::now() + kReturnCheck), Clock::now() + kReturnCheck);
  }
  if (!wake) {
    return -1;
  }
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*wake - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
}

// Changes seen together fall due together, so that they are converted in argument order.
void ChangeWatch::ReadEvents() {
  alignas(inotify_event) std::array<char, 64 * 1024> buffer;
  const Clock::time_point due = Clock::now() + kQuietTime;
  for (;;) {
    const ssize_t got = read(inotify_.Get(), buffer.data(), buffer.size());
    if (got <= 0) {
      return;  // EAGAIN: none left
    }
    if (seams::LoseWatchEvents()) {
      overflowed_ = true;  // as the kernel reports a queue that overflowed
      continue;
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
      Take(event.wd, event.mask, name, due);
      at = nameAt + event.len;
    }
  }
}

void ChangeWatch::Take(int watch, std::uint32_t mask, const std::string& name,
                       Clock::time_point due) {
  if ((mask & IN_Q_OVERFLOW) != 0) {
    overflowed_ = true;
    return;
  }
  if ((mask & IN_IGNORED) != 0) {  // the folder is gone, or no longer watched
    Forget(watch);
    return;
  }
  const auto rules = rules_.find(watch);
  if (rules == rules_.end()) {
    return;
  }
  if ((mask & IN_MOVE_SELF) != 0) {
    if (std::ranges::any_of(roots_, [watch](const Root& root) { return root.watch == watch; })) {
      inotify_rm_watch(inotify_.Get(), watch);  // IN_IGNORED follows
    }
    return;
  }
  if (name.empty()) {
    return;
  }
  // A copy: entering a folder changes rules_.
  const std::vector<Rule> folderRules = rules->second;
  if ((mask & IN_ISDIR) != 0) {
    TakeFolder(folderRules, mask, name, due);
  } else {
    TakeFile(folderRules, mask, name, due);
  }
}

// A folder that appears in a watched folder is watched too, and its pictures are new.
void ChangeWatch::TakeFolder(const std::vector<Rule>& rules, std::uint32_t mask,
                             const std::string& name, Clock::time_point due) {
  if ((mask & (IN_CREATE | IN_MOVED_TO)) == 0 || name.starts_with('.')) {
    return;
  }
  for (const Rule& rule : rules) {
    if (rule.file.empty()) {
      EnterFolder(rule, Join(rule.relative, name), due, false);
    }
  }
}

// A file written, renamed into place or new falls due; one only being written waits longer.
void ChangeWatch::TakeFile(const std::vector<Rule>& rules, std::uint32_t mask,
                           const std::string& name, Clock::time_point due) {
  for (const Rule& rule : rules) {
    if (std::optional<BatchInput> input = InputOf(rule, name)) {
      if ((mask & kDueEvents) != 0 || pending_.contains({rule.argument, input->source})) {
        MakeDue(rule.argument, *input, due);
      }
    }
  }
}

void ChangeWatch::Forget(int watch) {
  rules_.erase(watch);
  for (Root& root : roots_) {
    if (root.watch == watch) {
      root.watch = -1;
      root.gone = true;
    }
  }
}

// A folder argument, or the folder of a file argument, that exists again after it was
// removed is watched again, and what is in it is taken as new.
void ChangeWatch::WatchReturnedRoots() {
  for (Root& root : roots_) {
    std::error_code ignored;
    if (!root.gone || !fs::is_directory(root.folder, ignored)) {
      continue;
    }
    root.gone = false;  // a failure to watch it again is told once, as at the start
    const Clock::time_point due = Clock::now() + kQuietTime;
    if (root.rule.file.empty()) {
      root.watch = EnterFolder(root.rule, "", due, false);
    } else if ((root.watch = AddWatch(root.folder, root.rule)) >= 0) {
      MakeDue(root.rule.argument, InputOfFile(root.rule.file, placement_, format_), due);
    }
  }
}

// After events were lost: every input whose outputs are not up to date is converted, and
// folders that appeared unseen are watched.
void ChangeWatch::LookAgainAtEverything() {
  err_ << kOverflowText << std::flush;
  for (const Root& root : roots_) {
    if (root.gone) {
      continue;  // looked at whole when it returns
    }
    if (root.rule.file.empty()) {
      EnterFolder(root.rule, "", Clock::now(), true);
      continue;
    }
    const BatchInput input = InputOfFile(root.rule.file, placement_, format_);
    std::error_code ignored;
    if (fs::is_regular_file(input.source, ignored) && OutOfDate(input)) {
      MakeDue(root.rule.argument, input, Clock::now());
    }
  }
}

void ChangeWatch::ConvertDue() {
  const Clock::time_point now = Clock::now();
  std::vector<std::pair<ChangeKey, BatchInput>> due;
  for (auto entry = pending_.begin(); entry != pending_.end();) {
    if (entry->second.due > now) {
      ++entry;
      continue;
    }
    due.emplace_back(entry->first, std::move(entry->second.input));
    entry = pending_.erase(entry);
  }
  for (const auto& [key, input] : due) {
    if (host_.StopRequested()) {
      return;
    }
    std::error_code error;
    if (!fs::is_regular_file(input.source, error)) {
      continue;  // gone again, or never a file
    }
    // Changed since it fell due (while earlier files were converted): still being written.
    if (const auto age = TimeSinceChange(input.source);
        age && std::chrono::abs(*age) < kQuietTime) {
      MakeDue(key.first, input, now + kQuietTime);  // with the others that wait
      continue;
    }
    const std::vector<PathFailure> failures = MakeOutputFolders({&input, 1});
    PrintPathFailures(err_, failures, "Cannot create this folder");
    host_.OnFileStarting(0, 1, input.source);
    host_.Report(convert_(SettingsFor(host_.Settings(), input), input.source,
                          OutputPathOf(input, format_),
                          [this] { return host_.OutputStillWanted(); }));
  }
}

}  // namespace kav
