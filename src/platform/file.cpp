#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <tuple>
#include <unordered_map>

namespace kav {
namespace {

// read() and write() move at most this much per call on Linux.
constexpr std::size_t kMaxIoChunk = 0x7ffff000;
// writev() takes at most this many pieces (IOV_MAX on Linux).
constexpr std::size_t kMaxGatherPieces = 1024;

std::atomic<unsigned> temporaryCounter{0};

// The temporary files of this process that exist now, for removal from a signal handler:
// fixed slots of a name and the descriptor of the folder it is in, so the handler reads them
// without locks or allocation. A slot is taken by its name and given its folder next; the
// folder goes before the name when the slot is freed, so a folder of -1 means "skip".
struct TemporarySlot {
  std::atomic<const char*> name{nullptr};
  std::atomic<int> folder{-1};
};
constexpr std::size_t kTemporarySlots = 1024;
std::array<TemporarySlot, kTemporarySlots> liveTemporaryFiles{};

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

// Changes to the registry against the interrupt handler: a thread that has counted itself
// in either finds the handler already running and changes nothing, or is waited for until
// its change is complete, so the handler's sweep never sees a file half registered or a
// name being freed, and never misses a file being created.
std::atomic<bool> terminating{false};
std::atomic<int> changesInFlight{0};
thread_local int changesOnThisThread = 0;

constexpr int kChangeWaitSteps = 2000;
constexpr long kChangeWaitStepNanoseconds = 50'000;  // at most 0.1 s in all

class RegistryChange {
 public:
  RegistryChange() {
    ++changesInFlight;
    ++changesOnThisThread;
  }
  ~RegistryChange() {
    --changesOnThisThread;
    --changesInFlight;
  }
  RegistryChange(const RegistryChange&) = delete;
  RegistryChange& operator=(const RegistryChange&) = delete;
  static bool Allowed() { return !terminating.load(); }
};

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

bool IsReadOnly(int folder, const std::string& name, const struct stat& info) {
  // Write bits are checked as well as access(): the super-user may write anything, but a
  // file whose owner made it read-only must not be replaced behind their back.
  const mode_t writeBits = S_IWUSR | S_IWGRP | S_IWOTH;
  return (info.st_mode & writeBits) == 0 ||
         faccessat(folder, name.c_str(), W_OK, AT_SYMLINK_NOFOLLOW) != 0;
}

// The rule the kernel applies with fs.protected_symlinks, applied whatever that setting is:
// in a folder that has the sticky bit and that anyone may write in, only links of the user
// running the program or of the folder's owner are followed, since anyone else could have
// planted theirs to lead a privileged program onto a file they cannot write themselves.
enum class LinkTrust { kTrusted, kUntrusted, kUnknown };

LinkTrust TrustOf(int folder, const struct stat& link) {
  if (link.st_uid == geteuid()) {
    return LinkTrust::kTrusted;
  }
  struct stat holder {};
  if (fstat(folder, &holder) != 0) {
    return LinkTrust::kUnknown;
  }
  const bool shared = (holder.st_mode & S_ISVTX) != 0 && (holder.st_mode & S_IWOTH) != 0;
  return !shared || holder.st_uid == link.st_uid ? LinkTrust::kTrusted : LinkTrust::kUntrusted;
}

// Most links the walk of one path follows, as the kernel's own limit.
constexpr int kMaxLinksFollowed = 40;

// Where an output goes: its folder, open, and its name there, with what is there now.
struct OutputPlace {
  Descriptor folder;
  std::string folderPath;  // the path the folder was opened by without meeting a link, or empty
  std::string name;
  bool exists = false;
  struct stat info {};
};

// Walks a path one part at a time from an open folder: each folder is opened from the one
// before without following links, and a link is read through a descriptor of the link
// itself, checked and then walked in its place. Nothing is looked up twice by name, so what
// was checked is what is used.
class PathWalk {
 public:
  // False (with error() set) when `path` cannot be walked at all.
  bool Start(const std::string& path) {
    if (path.empty() || path.back() == '/') {
      error_ = EISDIR;  // a folder, never an output file
      return false;
    }
    if (OpenFolderWithoutLinks(path)) {
      return true;
    }
    if (!Restart(path.front() == '/' ? "/" : ".")) {
      return false;
    }
    Push(path);
    return true;
  }

  // The folder that holds the last part, reached by walking every part before it.
  bool WalkFolders() {
    while (pending_.size() > 1) {
      std::string part = std::move(pending_.back());
      pending_.pop_back();
      if (!EnterFolder(part)) {
        return false;
      }
    }
    return true;
  }

  // The last part, which WalkFolders() leaves, taken for the caller. A link to "/" leaves
  // none, and stands for the root folder itself.
  std::string TakeName() {
    if (pending_.empty()) {
      return ".";
    }
    std::string name = std::move(pending_.back());
    pending_.pop_back();
    return name;
  }

  // Reads the link `name` in the current folder and puts its parts in place of it. kNotALink
  // when `name` is not a link (any more).
  enum class Step { kFollowed, kNotALink, kFailed };
  Step Follow(const std::string& name) {
    const Descriptor link(openat(folder_.Get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!link.IsOpen() || fstat(link.Get(), &info) != 0) {
      return Failed(errno);
    }
    // Counted even when it is no link, so that a name changing back and forth ends the walk.
    if (++linksFollowed_ > kMaxLinksFollowed) {
      return Failed(ELOOP);
    }
    if (!S_ISLNK(info.st_mode)) {
      return Step::kNotALink;
    }
    switch (TrustOf(folder_.Get(), info)) {
      case LinkTrust::kTrusted:
        break;
      case LinkTrust::kUntrusted:
        refused_ = true;
        return Failed(0);
      case LinkTrust::kUnknown:
        return Failed(errno);
    }
    std::array<char, PATH_MAX> text{};
    const ssize_t length = readlinkat(link.Get(), "", text.data(), text.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= text.size()) {
      return Failed(length < 0 ? errno : ENOENT);
    }
    const std::string_view destination(text.data(), static_cast<std::size_t>(length));
    folderPath_.clear();
    if (destination.front() == '/' && !Restart("/")) {
      return Step::kFailed;
    }
    Push(destination);
    return Step::kFollowed;
  }

  // The parts of `path` go on the pending list so that its first part is taken next; "//"
  // leaves an empty part, which names nothing.
  void Push(std::string_view path) {
    const std::size_t before = pending_.size();
    for (std::size_t start = 0; start <= path.size();) {
      const std::size_t slash = std::min(path.find('/', start), path.size());
      if (slash > start) {
        pending_.emplace_back(path.substr(start, slash - start));
      }
      start = slash + 1;
    }
    std::reverse(pending_.begin() + static_cast<std::ptrdiff_t>(before), pending_.end());
  }

  int folder() const { return folder_.Get(); }
  const std::string& folderPath() const { return folderPath_; }
  Descriptor TakeFolder() { return std::move(folder_); }
  // A second descriptor of the current folder, which stays where it is while the walk goes on.
  Descriptor CopyFolder() {
    Descriptor copy(fcntl(folder_.Get(), F_DUPFD_CLOEXEC, 0));
    if (!copy.IsOpen()) {
      error_ = errno;
    }
    return copy;
  }
  // Whether the walk met a link it must not follow.
  bool refused() const { return refused_; }
  int error() const { return error_; }

 private:
  bool EnterFolder(const std::string& part) {
    const int next =
        openat(folder_.Get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next >= 0) {
      folder_.Reset(next);
      return true;
    }
    if (errno != ENOTDIR) {  // a link, as anything else but a folder, gives ENOTDIR
      error_ = errno;
      return false;
    }
    switch (Follow(part)) {
      case Step::kFollowed:  // its parts are walked next, as folders too
        return true;
      case Step::kNotALink:
        error_ = ENOTDIR;
        return false;
      case Step::kFailed:
        return false;
    }
    return false;
  }

  // Nearly always no link stands in the way, and the kernel opens the folder of `path` in one
  // call that fails rather than follow any; only then is the path walked part by part.
  bool OpenFolderWithoutLinks(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    const long fd = syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how);
    if (fd < 0) {
      return false;  // a link on the way, an older kernel, or a failure the walk meets again
    }
    folder_.Reset(static_cast<int>(fd));
    folderPath_ = folder;
    pending_.push_back(path.substr(slash + 1));
    return true;
  }

  bool Restart(const char* start) {
    folder_.Reset(open(start, O_PATH | O_DIRECTORY | O_CLOEXEC));
    error_ = folder_.IsOpen() ? 0 : errno;
    return folder_.IsOpen();
  }

  Step Failed(int error) {
    error_ = error;
    return Step::kFailed;
  }

  Descriptor folder_;
  std::string folderPath_;            // what the folder was opened by, while no link was met
  std::vector<std::string> pending_;  // the next part last
  int linksFollowed_ = 0;
  int error_ = 0;
  bool refused_ = false;
};

// Finds where the output `path` goes. A link at the end of the path leads to the file that
// is replaced; a link that leads nowhere (or round in a loop) is replaced itself, as a new
// file would be. nullopt when the path cannot be walked, with `error` set to the errno of the
// call that failed, or to 0 when a link was refused.
std::optional<OutputPlace> FindOutputPlace(const std::string& path, int& error) {
  PathWalk walk;
  std::optional<OutputPlace> linkAtTheEnd;
  bool walked = walk.Start(path) && walk.WalkFolders();
  while (walked) {
    OutputPlace place;
    place.name = walk.TakeName();
    // Whatever keeps the name from being looked at is met again when the file is created.
    place.exists =
        fstatat(walk.folder(), place.name.c_str(), &place.info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!place.exists || !S_ISLNK(place.info.st_mode)) {
      if (!place.exists && linkAtTheEnd) {
        return linkAtTheEnd;
      }
      place.folderPath = walk.folderPath();
      place.folder = walk.TakeFolder();
      return place;
    }
    if (!linkAtTheEnd) {
      linkAtTheEnd.emplace();
      linkAtTheEnd->folder = walk.CopyFolder();
      linkAtTheEnd->name = place.name;
      if (!linkAtTheEnd->folder.IsOpen()) {
        break;
      }
    }
    switch (walk.Follow(place.name)) {
      case PathWalk::Step::kFollowed:
        walked = walk.WalkFolders();
        break;
      case PathWalk::Step::kNotALink:  // changed since it was looked at: look again
        walk.Push(place.name);
        break;
      case PathWalk::Step::kFailed:
        walked = false;
        break;
    }
  }
  error = walk.refused() ? 0 : walk.error();
  if (walk.refused() || !linkAtTheEnd || !linkAtTheEnd->folder.IsOpen()) {
    return std::nullopt;
  }
  return linkAtTheEnd;
}

// Files opened with O_TMPFILE have no name until they are linked through /proc.
std::atomic<bool> unnamedFilesAllowed{true};

bool CanNameUnnamedFiles() {
  static const bool available = access("/proc/self/fd", X_OK) == 0;
  return available && unnamedFilesAllowed.load();
}

int LinkUnnamed(int fd, int folder, const std::string& name) {
  const std::string descriptor = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, descriptor.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW);
}

}  // namespace

std::optional<std::size_t> MemorySource::Read(std::span<std::uint8_t> buffer) {
  const std::size_t count = std::min(buffer.size(), bytes_.size() - position_);
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), count, buffer.begin());
  position_ += count;
  return count;
}

bool MemorySource::Seek(std::uint64_t offset) {
  if (offset > bytes_.size()) {
    return false;
  }
  position_ = static_cast<std::size_t>(offset);
  return true;
}

bool InputFile::Open(const std::string& path) {
  Close();
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just below, and for the
  // regular files that remain it changes nothing.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  fd_ = fd;
  length_ = static_cast<std::uint64_t>(info.st_size);
  position_ = 0;
  return true;
}

void InputFile::Close() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

std::optional<std::size_t> InputFile::Read(std::span<std::uint8_t> buffer) {
  if (fd_ < 0) {
    return std::nullopt;
  }
  // Reads at a position kept here instead of the descriptor's, so that moving costs no call.
  std::size_t done = 0;
  while (done < buffer.size() && position_ <= static_cast<std::uint64_t>(LLONG_MAX)) {
    const std::size_t chunk = std::min(buffer.size() - done, kMaxIoChunk);
    const ssize_t got = pread(fd_, buffer.data() + done, chunk, static_cast<off_t>(position_));
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return std::nullopt;
    }
    if (got == 0) {
      break;
    }
    done += static_cast<std::size_t>(got);
    position_ += static_cast<std::uint64_t>(got);
  }
  return done;
}

MemoryBlock InputFile::Map(std::uint64_t offset, std::size_t length) {
  if (fd_ < 0) {
    return {};
  }
  return MemoryBlock::MapFile(fd_, offset, length);
}

bool InputFile::Seek(std::uint64_t offset) {
  if (fd_ < 0 || offset > static_cast<std::uint64_t>(LLONG_MAX)) {
    return false;
  }
  position_ = offset;
  return true;
}

void Descriptor::Reset(int fd) {
  if (fd_ >= 0) {
    close(fd_);
  }
  fd_ = fd;
}

void AllowUnnamedOutputFiles(bool allowed) {
  unnamedFilesAllowed = allowed;
}

bool OutputFile::Create(const std::string& target, const std::string& protectedPath) {
  Abandon();
  lastError_ = 0;
  failed_ = false;
  failedReadingSource_ = false;
  position_ = 0;
  // Nearly always the target does not exist yet, and one look at it is all that is asked.
  std::optional<OutputPlace> place = FindOutputPlace(target, lastError_);
  if (!place) {
    return false;
  }
  mode_t keptMode = 0;
  if (place->exists) {
    const struct stat& existing = place->info;
    struct stat source {};
    const bool isSource = stat(protectedPath.c_str(), &source) == 0 &&
                          source.st_dev == existing.st_dev && source.st_ino == existing.st_ino;
    if (!S_ISREG(existing.st_mode) || IsReadOnly(place->folder.Get(), place->name, existing) ||
        isSource) {
      return false;
    }
    keptMode = existing.st_mode & 07777;
  }
  RemoveLeftoverTemporaries(place->folder.Get(), place->name, place->folderPath);
  folder_ = std::move(place->folder);
  targetName_ = std::move(place->name);
  targetExisted_ = place->exists;
  // An unnamed file in the target's folder needs no name, no clean-up when the process
  // dies, and one directory entry in all when it is complete. The process umask applies to
  // 0666, as for any newly created file.
  const int unnamed = CanNameUnnamedFiles()
                          ? openat(folder_.Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)
                          : -1;
  const int fd = unnamed >= 0 ? unnamed : CreateNamedTemporary();
  if (fd < 0 || (keptMode != 0 && fchmod(fd, keptMode) != 0)) {
    RememberError();
    if (fd >= 0) {
      close(fd);
    }
    RemoveNamedTemporary();
    CloseFolder();
    return false;
  }
  fd_ = fd;
  return true;
}

int OutputFile::CreateNamedTemporary() {
  const RegistryChange change;
  if (!RegistryChange::Allowed()) {
    errno = EINTR;
    return -1;
  }
  temporaryName_ = TemporaryNameFor(targetName_);
  // Known to the interrupt handler before it exists, so it can never be left behind.
  registrySlot_ = RegisterTemporary(folder_.Get(), temporaryName_.c_str());
  return openat(folder_.Get(), temporaryName_.c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

bool OutputFile::NameUnnamedTemporary() {
  const RegistryChange change;
  if (!RegistryChange::Allowed()) {
    errno = EINTR;
    return false;
  }
  temporaryName_ = TemporaryNameFor(targetName_);
  registrySlot_ = RegisterTemporary(folder_.Get(), temporaryName_.c_str());
  return LinkUnnamed(fd_, folder_.Get(), temporaryName_) == 0;
}

void OutputFile::RemoveNamedTemporary() {
  if (!temporaryName_.empty()) {
    unlinkat(folder_.Get(), temporaryName_.c_str(), 0);
    ForgetTemporary();
  }
}

bool OutputFile::Write(std::span<const std::uint8_t> bytes) {
  if (fd_ < 0 || failed_) {
    failed_ = true;
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t chunk = std::min(bytes.size() - done, kMaxIoChunk);
    const ssize_t put = pwrite(fd_, bytes.data() + done, chunk, static_cast<off_t>(position_));
    if (put < 0) {
      if (errno == EINTR) {
        continue;
      }
      Fail();
      return false;
    }
    done += static_cast<std::size_t>(put);
    position_ += static_cast<std::uint64_t>(put);
  }
  return true;
}

bool OutputFile::WriteGather(std::span<const std::span<const std::uint8_t>> pieces) {
  if (fd_ < 0 || failed_) {
    failed_ = true;
    return false;
  }
  std::array<iovec, kMaxGatherPieces> vectors;
  std::size_t next = 0;     // the first piece not yet handed to the kernel
  std::size_t skipped = 0;  // bytes of that piece already written
  while (next < pieces.size()) {
    std::size_t count = 0;
    std::size_t asked = 0;
    for (std::size_t i = next; i < pieces.size() && count < vectors.size(); ++i, ++count) {
      const std::size_t offset = i == next ? skipped : 0;
      vectors[count] = {const_cast<std::uint8_t*>(pieces[i].data() + offset),
                        pieces[i].size() - offset};
      asked += vectors[count].iov_len;
    }
    const ssize_t put =
        pwritev(fd_, vectors.data(), static_cast<int>(count), static_cast<off_t>(position_));
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put < 0 || (put == 0 && asked > 0)) {
      Fail();
      return false;
    }
    position_ += static_cast<std::uint64_t>(put);
    // A short write leaves the rest of a piece, or later pieces, for the next call.
    auto left = static_cast<std::size_t>(put);
    while (next < pieces.size() && left >= pieces[next].size() - skipped) {
      left -= pieces[next].size() - skipped;
      skipped = 0;
      ++next;
    }
    skipped += left;
  }
  return true;
}

bool OutputFile::Seek(std::uint64_t offset) {
  if (fd_ < 0 || failed_ || offset > static_cast<std::uint64_t>(LLONG_MAX)) {
    failed_ = true;
    return false;
  }
  position_ = offset;
  return true;
}

void OutputFile::Fail() {
  RememberError();
  // The kernel reports an unreadable source buffer as EFAULT instead of a signal.
  failedReadingSource_ = errno == EFAULT;
  failed_ = true;
}

bool OutputFile::Commit() {
  if (fd_ < 0) {
    return false;
  }
  if (failed_) {
    Abandon();
    return false;
  }
  const bool unnamed = temporaryName_.empty();
  // A new output of an unnamed file takes its name in one step; linking never replaces, so
  // if the name has appeared meanwhile the file is renamed over it like any replacement.
  bool placed = false;
  if (unnamed && !targetExisted_) {
    placed = LinkUnnamed(fd_, folder_.Get(), targetName_) == 0;
    if (!placed && errno != EEXIST) {
      RememberError();
      Abandon();
      return false;
    }
  }
  if (!placed && unnamed && !NameUnnamedTemporary()) {
    RememberError();
    Abandon();
    return false;
  }
  const int closed = close(fd_);
  fd_ = -1;
  if (closed != 0) {
    RememberError();
  }
  if (placed) {
    if (closed != 0) {
      unlinkat(folder_.Get(), targetName_.c_str(), 0);  // it was new: nothing older is lost
    }
    CloseFolder();
    return closed == 0;
  }
  if (closed != 0 ||
      renameat(folder_.Get(), temporaryName_.c_str(), folder_.Get(), targetName_.c_str()) != 0) {
    if (closed == 0) {
      RememberError();
    }
    RemoveNamedTemporary();
    CloseFolder();
    return false;
  }
  ForgetTemporary();
  CloseFolder();
  return true;
}

void OutputFile::Abandon() {
  if (fd_ >= 0) {
    close(fd_);  // an unnamed file vanishes with its descriptor
    fd_ = -1;
  }
  RemoveNamedTemporary();
  CloseFolder();
}

void OutputFile::ForgetTemporary() {
  const RegistryChange change;
  if (!RegistryChange::Allowed()) {
    return;  // the handler may be reading this name; the process ends in a moment anyway
  }
  UnregisterTemporary(registrySlot_);
  registrySlot_ = SIZE_MAX;
  temporaryName_.clear();
}

void OutputFile::CloseFolder() {
  if (registrySlot_ != SIZE_MAX) {
    // Still known to the interrupt handler, which may be using the descriptor right now; the
    // process ends in a moment anyway.
    folder_.Release();
    return;
  }
  folder_.Reset();
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

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
  InputFile file;
  if (!file.Open(path)) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.Length()));
  const std::optional<std::size_t> got = file.Read(bytes);
  if (!got) {
    return std::nullopt;
  }
  bytes.resize(*got);  // the file may have shrunk since it was opened
  return bytes;
}

bool SameExistingFile(const std::string& first, const std::string& second) {
  struct stat a {};
  struct stat b {};
  return stat(first.c_str(), &a) == 0 && stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

}  // namespace kav
