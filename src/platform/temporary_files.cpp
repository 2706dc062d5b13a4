#include "platform/temporary_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "platform/file.h"

namespace kav {
namespace {

std::atomic<unsigned> temporaryCounter{0};

// The temporary files of this process that exist now, for removal from a signal handler:
// fixed slots of a name and the descriptor of the folder it is in, so the handler reads them
// without locks or allocation. A slot is taken by its name and given its folder next; the
// folder goes before the name when the slot is freed, so a folder of -1 means "skip".
struct TemporarySlot {
  std::atomic<const char*> name{nullptr};
  std::atomic<int> folder{-1};
};
std::array<TemporarySlot, kTemporarySlots> liveTemporaryFiles{};

// Changes to the registry against the interrupt handler: a thread that has counted itself
// in either finds the handler already running and changes nothing, or is waited for until
// its change is complete, so the handler's sweep never sees a file half registered or a
// name being freed, and never misses a file being created.
std::atomic<bool> terminating{false};
std::atomic<int> interruptExitStatus{-1};  // -1: SIGINT ends the process as a signal
std::atomic<int> changesInFlight{0};
thread_local int changesOnThisThread = 0;

constexpr int kChangeWaitSteps = 2000;
constexpr long kChangeWaitStepNanoseconds = 50'000;  // at most 0.1 s in all

extern "C" void RemoveTemporariesAndEnd(int signal) {
  terminating = true;
  // The handler may have interrupted a change on its own thread, which cannot finish.
  const int own = changesOnThisThread;
  for (int step = 0; changesInFlight.load() > own && step < kChangeWaitSteps; ++step) {
    const timespec pause{0, kChangeWaitStepNanoseconds};
    nanosleep(&pause, nullptr);
  }
  for (TemporarySlot& slot : liveTemporaryFiles) {
    const char* name = slot.name.load();
    const int folder = slot.folder.load();
    if (name != nullptr && folder >= 0) {
      unlinkat(folder, name, 0);
    }
  }
  const int status = interruptExitStatus.load();
  if (signal == SIGINT && status >= 0) {
    _exit(status);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}
// The longest file name (one path component) that Linux file systems accept.
constexpr std::size_t kMaxFileNameLength = 255;
// What a temporary name adds to the target's name: "." before it and ".kav-PID-N.tmp"
// after it, both numbers at their longest (10 digits).
constexpr std::size_t kTemporaryNameExtra = 1 + 5 + 10 + 1 + 10 + 4;
constexpr std::size_t kMaxKeptTargetName = kMaxFileNameLength - kTemporaryNameExtra;
constexpr std::string_view kTemporaryMark = ".kav-";
constexpr std::string_view kTemporarySuffix = ".tmp";

// The part of a target's name that its temporary names hold.
std::string_view KeptTargetName(std::string_view target) {
  return target.substr(0, kMaxKeptTargetName);
}

bool IsDecimal(std::string_view digits) {
  return !digits.empty() &&
         std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A temporary file's name taken apart: the kept part of its target's name and the process
// that made it.
struct TemporaryName {
  std::string target;
  pid_t process = 0;
};

// Only names of the exact shape ".NAME.kav-PID-N.tmp" are temporary files' names.
std::optional<TemporaryName> ParseTemporaryName(std::string_view entry) {
  if (entry.size() < 2 || entry.front() != '.' || !entry.ends_with(kTemporarySuffix)) {
    return std::nullopt;
  }
  entry = entry.substr(1, entry.size() - 1 - kTemporarySuffix.size());  // NAME.kav-PID-N
  const std::size_t dash = entry.rfind('-');
  if (dash == std::string_view::npos || dash < kTemporaryMark.size() ||
      !IsDecimal(entry.substr(dash + 1))) {
    return std::nullopt;
  }
  const std::size_t mark = entry.rfind(kTemporaryMark, dash - kTemporaryMark.size());
  if (mark == std::string_view::npos || mark == 0) {
    return std::nullopt;
  }
  const std::string_view process =
      entry.substr(mark + kTemporaryMark.size(), dash - mark - kTemporaryMark.size());
  pid_t id = 0;
  const auto parsed = std::from_chars(process.data(), process.data() + process.size(), id);
  if (!IsDecimal(process) || parsed.ec != std::errc{} || id <= 0) {
    return std::nullopt;
  }
  return TemporaryName{std::string(entry.substr(0, mark)), id};
}

// The temporary files that processes which ended without removing them (SIGKILL cannot be
// caught) left in output folders. Each folder is read once per process, when an output is
// first created in it, and what was found is remembered by the target name it belongs to,
// so a batch of thousands of outputs in one folder reads it once.
class LeftoverTemporaries {
 public:
  // The leftover names found in `folder` for the output `target`, forgotten once taken.
  // `folderPath` is the path `folder` was opened by without meeting a link, or empty.
  std::vector<std::string> Take(int folder, const std::string& target,
                                const std::string& folderPath) {
    // A folder's leftovers are only ever taken, never added, so once none are left the
    // threads of a batch writing there by one path need not even look which folder it is.
    // Should another folder take its place meanwhile, its leftovers wait for the next process.
    thread_local std::string lastPathWithout;
    if (!folderPath.empty() && folderPath == lastPathWithout) {
      return {};
    }
    const std::optional<FolderId> id = IdOf(folder);
    if (!id) {
      return {};
    }
    const std::string kept(KeptTargetName(target));
    const std::lock_guard lock(mutex_);
    auto known = folders_.find(*id);
    if (known == folders_.end()) {
      known = folders_.emplace(*id, Read(folder)).first;
    }
    std::vector<std::string> names;
    if (const auto found = known->second.find(kept); found != known->second.end()) {
      names = std::move(found->second);
      known->second.erase(found);
    }
    if (known->second.empty()) {
      lastPathWithout = folderPath;
    }
    return names;
  }

 private:
  // The birth time tells a folder from a later one that was given the same inode number.
  using FolderId = std::tuple<std::uint64_t, std::uint64_t, std::int64_t, std::uint32_t>;
  using NamesByTarget = std::unordered_map<std::string, std::vector<std::string>>;

  static std::optional<FolderId> IdOf(int folder) {
    struct statx info {};
    if (statx(folder, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &info) != 0) {
      return std::nullopt;
    }
    const bool born = (info.stx_mask & STATX_BTIME) != 0;
    return FolderId{makedev(info.stx_dev_major, info.stx_dev_minor), info.stx_ino,
                    born ? info.stx_btime.tv_sec : 0, born ? info.stx_btime.tv_nsec : 0};
  }

  static NamesByTarget Read(int folder) {
    NamesByTarget found;
    const int listing = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::unique_ptr<DIR, int (*)(DIR*)> entries(listing >= 0 ? fdopendir(listing) : nullptr,
                                                      closedir);
    if (!entries) {
      if (listing >= 0) {
        close(listing);
      }
      return found;
    }
    while (const dirent* entry = readdir(entries.get())) {
      if (std::optional<TemporaryName> name = ParseTemporaryName(entry->d_name)) {
        found[std::move(name->target)].emplace_back(entry->d_name);
      }
    }
    return found;
  }

  std::mutex mutex_;
  std::map<FolderId, NamesByTarget> folders_;
};

}  // namespace

// Returns the slot taken, or kTemporarySlots when every slot is in use (the file is then
// still removed on every ordinary path, only not on an interrupt).
std::size_t RegisterTemporary(int folder, const char* name) {
  for (std::size_t slot = 0; slot < kTemporarySlots; ++slot) {
    const char* expected = nullptr;
    if (liveTemporaryFiles[slot].name.compare_exchange_strong(expected, name)) {
      liveTemporaryFiles[slot].folder.store(folder);
      return slot;
    }
  }
  return kTemporarySlots;
}

void UnregisterTemporary(std::size_t slot) {
  if (slot < kTemporarySlots) {
    liveTemporaryFiles[slot].folder.store(-1);
    liveTemporaryFiles[slot].name.store(nullptr);
  }
}

RegistryChange::RegistryChange() {
  ++changesInFlight;
  ++changesOnThisThread;
}

RegistryChange::~RegistryChange() {
  --changesOnThisThread;
  --changesInFlight;
}

bool RegistryChange::Allowed() {
  return !terminating.load();
}

// A name of its own for each temporary file: hidden, beside the target, unique per process
// and call, so that concurrent writers of the same target never share one. Only as much of
// the target's name is kept as leaves room for the rest, so that a target whose name is at
// the length limit still gets a temporary file.
std::string TemporaryNameFor(const std::string& target) {
  const unsigned number = ++temporaryCounter;
  std::string name = ".";
  name += KeptTargetName(target);
  name += kTemporaryMark;
  static const std::string process = std::to_string(getpid());
  return name + process + "-" + std::to_string(number) + std::string(kTemporarySuffix);
}

// Removes the temporary files of `target` in `folder` whose process no longer runs; a
// running process of that id keeps its file, which may be one it is writing now.
void RemoveLeftoverTemporaries(int folder, const std::string& target,
                               const std::string& folderPath) {
  static LeftoverTemporaries leftovers;
  for (const std::string& name : leftovers.Take(folder, target, folderPath)) {
    const std::optional<TemporaryName> parsed = ParseTemporaryName(name);
    struct stat info {};
    if (parsed && kill(parsed->process, 0) != 0 && errno == ESRCH &&
        fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)) {
      unlinkat(folder, name.c_str(), 0);
    }
  }
}

void InstallInterruptCleanup() {
  struct sigaction action {};
  action.sa_handler = RemoveTemporariesAndEnd;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&action.sa_mask, signal);  // one sweep at a time
  }
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal, &action, nullptr);
  }
}

void EndInterruptsWithStatus(int status) {
  interruptExitStatus = status;
}

}  // namespace kav
