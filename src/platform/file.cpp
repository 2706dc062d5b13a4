#include "platform/file.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>

#include "platform/output_place.h"
#include "platform/temporary_files.h"
#include "platform/test_seams.h"

namespace kav {
namespace {

// read() and write() move at most this much per call on Linux.
constexpr std::size_t kMaxIoChunk = 0x7ffff000;
// writev() takes at most this many pieces (IOV_MAX on Linux).
constexpr std::size_t kMaxGatherPieces = 1024;

// Unnamed output files, the fast path: a new output begins as a file without a name
// (O_TMPFILE) in its target's folder and is linked under its name once it is whole, so it
// costs one directory entry in all and leaves nothing behind if the process dies. Linking it
// later needs /proc, and a replacement still goes through a hidden name and a rename. Where
// that cannot be had, every output is a hidden temporary file from the start.
bool CanNameUnnamedFiles() {
  static const bool available = access("/proc/self/fd", X_OK) == 0;
  return available && seams::UnnamedOutputFilesAllowed();
}

int LinkUnnamed(int fd, int folder, const std::string& name) {
  const std::string descriptor = "/proc/self/fd/" + std::to_string(fd);
  return linkat(AT_FDCWD, descriptor.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW);
}

// The texts of the rules that refuse outputs.
class OutputRefusalCategory final : public std::error_category {
 public:
  const char* name() const noexcept override { return "kav output"; }
  std::string message(int value) const override {
    switch (static_cast<OutputRefusal>(value)) {
      case OutputRefusal::kNotARegularFile:
        return "not a regular file";
      case OutputRefusal::kReadOnly:
        return "the file is read-only";
      case OutputRefusal::kLinkOfAnotherUser:
        return "refusing to follow a link owned by another user";
      case OutputRefusal::kInput:
        return "it is an input of this batch";
      case OutputRefusal::kFramesNamedAlike:
        return "two frames of this file would write it";
    }
    return "refused";
  }
};

}  // namespace

std::error_code make_error_code(OutputRefusal refusal) {
  static const OutputRefusalCategory category;
  return {static_cast<int>(refusal), category};
}

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
  ahead_.clear();
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
    if (position_ >= aheadStart_ && position_ - aheadStart_ < ahead_.size()) {
      const auto from = static_cast<std::size_t>(position_ - aheadStart_);
      const std::size_t count = std::min(buffer.size() - done, ahead_.size() - from);
      std::copy_n(ahead_.begin() + static_cast<std::ptrdiff_t>(from), count,
                  buffer.begin() + static_cast<std::ptrdiff_t>(done));
      done += count;
      position_ += count;
    } else if (buffer.size() - done >= kReadAhead) {
      const std::optional<std::size_t> direct = ReadDirect(buffer.subspan(done));
      return direct ? std::optional(done + *direct) : std::nullopt;
    } else if (!ReadAhead()) {
      return std::nullopt;
    } else if (ahead_.empty()) {
      break;  // the end of the file
    }
  }
  return done;
}

// As far as the file's length allows, so that a small file takes one call, not a second one
// to find its end.
bool InputFile::ReadAhead() {
  const std::uint64_t left = length_ > position_ ? length_ - position_ : kReadAhead;
  ahead_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(left, kReadAhead)));
  aheadStart_ = position_;
  const std::optional<std::size_t> got = ReadDirect(ahead_);
  position_ = aheadStart_;
  ahead_.resize(got.value_or(0));
  return got.has_value();
}

std::optional<std::size_t> InputFile::ReadDirect(std::span<std::uint8_t> buffer) {
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

bool OutputFile::Create(const std::string& target, const std::string& protectedPath) {
  Abandon();
  lastError_.clear();
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
    lastError_ = WhyNotReplaceable(*place, protectedPath);
    if (lastError_) {
      return false;
    }
    keptMode = place->info.st_mode & 07777;
  }
  RemoveLeftoverTemporaries(place->folder.Get(), place->name, place->folderPath);
  folder_ = std::move(place->folder);
  targetName_ = std::move(place->name);
  targetExisted_ = place->exists;
  // The process umask applies to 0666, as for any newly created file.
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
  return placed ? CloseLinked() : CloseAndRename();
}

bool OutputFile::CloseLinked() {
  const bool closed = CloseFile();
  if (!closed) {
    unlinkat(folder_.Get(), targetName_.c_str(), 0);  // it was new: nothing older is lost
  }
  CloseFolder();
  return closed;
}

bool OutputFile::CloseAndRename() {
  const bool closed = CloseFile();
  if (!closed ||
      renameat(folder_.Get(), temporaryName_.c_str(), folder_.Get(), targetName_.c_str()) != 0) {
    if (closed) {
      RememberError();  // of the rename; a failed close has told its own
    }
    RemoveNamedTemporary();
    CloseFolder();
    return false;
  }
  ForgetTemporary();
  CloseFolder();
  return true;
}

bool OutputFile::CloseFile() {
  const int closed = close(std::exchange(fd_, -1));
  if (closed != 0) {
    RememberError();
  }
  return closed == 0;
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

void RaiseOpenFileLimit() {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);  // on failure the files are as many as before
  }
}

}  // namespace kav
