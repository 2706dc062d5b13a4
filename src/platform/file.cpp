#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace kav {
namespace {

// read() and write() move at most this much per call on Linux.
constexpr std::size_t kMaxIoChunk = 0x7ffff000;
// writev() takes at most this many pieces (IOV_MAX on Linux).
constexpr std::size_t kMaxGatherPieces = 1024;

std::atomic<unsigned> temporaryCounter{0};

// The temporary files of this process that exist now, for removal from a signal handler:
// fixed slots of atomic pointers, so the handler reads them without locks or allocation.
constexpr std::size_t kTemporarySlots = 1024;
std::array<std::atomic<const char*>, kTemporarySlots> liveTemporaryFiles{};

// Returns the slot taken, or kTemporarySlots when every slot is in use (the file is then
// still removed on every ordinary path, only not on an interrupt).
std::size_t RegisterTemporary(const char* path) {
  for (std::size_t slot = 0; slot < kTemporarySlots; ++slot) {
    const char* expected = nullptr;
    if (liveTemporaryFiles[slot].compare_exchange_strong(expected, path)) {
      return slot;
    }
  }
  return kTemporarySlots;
}

void UnregisterTemporary(std::size_t slot) {
  if (slot < kTemporarySlots) {
    liveTemporaryFiles[slot].store(nullptr);
  }
}

// Changes to the registry against the interrupt handler: a thread that has counted itself
// in either finds the handler already running and changes nothing, or is waited for until
// its change is complete, so the handler's sweep never sees a file half registered or a
// path being freed, and never misses a file being created.
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
  for (std::atomic<const char*>& slot : liveTemporaryFiles) {
    if (const char* path = slot.load(); path != nullptr) {
      unlink(path);
    }
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The longest file name (one path component) that Linux file systems accept.
constexpr std::size_t kMaxFileNameLength = 255;
// What a temporary name adds to the target's name: "." before it and ".kav-PID-N.tmp"
// after it, both numbers at their longest (10 digits).
constexpr std::size_t kTemporaryNameExtra = 1 + 5 + 10 + 1 + 10 + 4;

// A name of its own for each temporary file: hidden, beside the target, unique per process
// and call, so that concurrent writers of the same target never share one. Only as much of
// the target's name is kept as leaves room for the rest, so that a target whose name is at
// the length limit still gets a temporary file.
std::string TemporaryPathFor(const std::string& target) {
  const unsigned number = ++temporaryCounter;
  const std::string name = NameOf(target).substr(0, kMaxFileNameLength - kTemporaryNameExtra);
  static const std::string process = std::to_string(getpid());
  return FolderOf(target) + "/." + name + ".kav-" + process + "-" + std::to_string(number) + ".tmp";
}

bool IsReadOnly(const std::string& path, const struct stat& info) {
  // Write bits are checked as well as access(): the super-user may write anything, but a
  // file whose owner made it read-only must not be replaced behind their back.
  const mode_t writeBits = S_IWUSR | S_IWGRP | S_IWOTH;
  return (info.st_mode & writeBits) == 0 || access(path.c_str(), W_OK) != 0;
}

// The file an existing symbolic link leads to, so that the file is replaced, not the link.
std::string ResolveLink(const std::string& target) {
  char resolved[PATH_MAX];
  if (realpath(target.c_str(), resolved) == nullptr) {
    return target;  // a dangling link is replaced itself
  }
  return resolved;
}

// Files opened with O_TMPFILE have no name until they are linked through /proc.
bool CanNameUnnamedFiles() {
  static const bool available = access("/proc/self/fd", X_OK) == 0;
  return available;
}

int LinkUnnamed(int fd, const std::string& path) {
  const std::string descriptor = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, descriptor.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
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
  std::size_t done = 0;
  while (done < buffer.size()) {
    const std::size_t chunk = std::min(buffer.size() - done, kMaxIoChunk);
    const ssize_t got = read(fd_, buffer.data() + done, chunk);
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
  return lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool OutputFile::Create(const std::string& target, const std::string& protectedPath) {
  Abandon();
  lastError_ = 0;
  // One look at the target: nearly always it does not exist yet, and nothing more is asked.
  std::string resolved = target;
  struct stat existing {};
  bool exists = lstat(target.c_str(), &existing) == 0;
  if (exists && S_ISLNK(existing.st_mode)) {
    resolved = ResolveLink(target);
    exists = stat(resolved.c_str(), &existing) == 0;
  }
  mode_t keptMode = 0;
  if (exists) {
    struct stat source {};
    const bool isSource = stat(protectedPath.c_str(), &source) == 0 &&
                          source.st_dev == existing.st_dev && source.st_ino == existing.st_ino;
    if (!S_ISREG(existing.st_mode) || IsReadOnly(resolved, existing) || isSource) {
      return false;
    }
    keptMode = existing.st_mode & 07777;
  }
  targetPath_ = resolved;
  targetExisted_ = exists;
  failed_ = false;
  failedReadingSource_ = false;
  // An unnamed file in the target's folder needs no name, no clean-up when the process
  // dies, and one directory entry in all when it is complete. The process umask applies to
  // 0666, as for any newly created file.
  const int unnamed = CanNameUnnamedFiles()
                          ? open(FolderOf(resolved).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)
                          : -1;
  const int fd = unnamed >= 0 ? unnamed : CreateNamedTemporary();
  if (fd < 0 || (keptMode != 0 && fchmod(fd, keptMode) != 0)) {
    lastError_ = errno;
    if (fd >= 0) {
      close(fd);
    }
    RemoveNamedTemporary();
    return false;
  }
  fd_ = fd;
  return true;
}

int OutputFile::CreateNamedTemporary() {
  const RegistryChange change;
  if (!RegistryChange::Allowed()) {
    return -1;
  }
  temporaryPath_ = TemporaryPathFor(targetPath_);
  // Known to the interrupt handler before it exists, so it can never be left behind.
  registrySlot_ = RegisterTemporary(temporaryPath_.c_str());
  return open(temporaryPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

bool OutputFile::NameUnnamedTemporary() {
  const RegistryChange change;
  if (!RegistryChange::Allowed()) {
    return false;
  }
  temporaryPath_ = TemporaryPathFor(targetPath_);
  registrySlot_ = RegisterTemporary(temporaryPath_.c_str());
  return LinkUnnamed(fd_, temporaryPath_) == 0;
}

void OutputFile::RemoveNamedTemporary() {
  if (!temporaryPath_.empty()) {
    unlink(temporaryPath_.c_str());
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
    const ssize_t put = write(fd_, bytes.data() + done, chunk);
    if (put < 0) {
      if (errno == EINTR) {
        continue;
      }
      Fail();
      return false;
    }
    done += static_cast<std::size_t>(put);
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
    const ssize_t put = writev(fd_, vectors.data(), static_cast<int>(count));
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put < 0 || (put == 0 && asked > 0)) {
      Fail();
      return false;
    }
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
  if (fd_ < 0 || failed_ || offset > static_cast<std::uint64_t>(LLONG_MAX) ||
      lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    lastError_ = failed_ ? lastError_ : errno;
    failed_ = true;
    return false;
  }
  return true;
}

void OutputFile::Fail() {
  lastError_ = errno;
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
  const bool unnamed = temporaryPath_.empty();
  // A new output of an unnamed file takes its name in one step; linking never replaces, so
  // if the name has appeared meanwhile the file is renamed over it like any replacement.
  bool placed = false;
  if (unnamed && !targetExisted_) {
    placed = LinkUnnamed(fd_, targetPath_) == 0;
    if (!placed && errno != EEXIST) {
      lastError_ = errno;
      Abandon();
      return false;
    }
  }
  if (!placed && unnamed && !NameUnnamedTemporary()) {
    lastError_ = errno;
    Abandon();
    return false;
  }
  const int closed = close(fd_);
  lastError_ = closed != 0 ? errno : 0;
  fd_ = -1;
  if (placed) {
    if (closed != 0) {
      unlink(targetPath_.c_str());  // it was new: nothing that was there before is lost
      return false;
    }
    return true;
  }
  if (closed != 0 || rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) {
    lastError_ = closed != 0 ? lastError_ : errno;
    RemoveNamedTemporary();
    return false;
  }
  ForgetTemporary();
  return true;
}

void OutputFile::Abandon() {
  if (fd_ >= 0) {
    close(fd_);  // an unnamed file vanishes with its descriptor
    fd_ = -1;
  }
  RemoveNamedTemporary();
}

void OutputFile::ForgetTemporary() {
  const RegistryChange change;
  if (!RegistryChange::Allowed()) {
    return;  // the handler may be reading this path; the process ends in a moment anyway
  }
  UnregisterTemporary(registrySlot_);
  registrySlot_ = SIZE_MAX;
  temporaryPath_.clear();
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
