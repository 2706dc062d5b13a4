#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace kav {
namespace {

// Closes the descriptor when the mapping is made: the mapping keeps the file by itself.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

MappedFile Failed(MappedFile::Failure failure, int error) {
  MappedFile file;
  file.failure = failure;
  file.error = error;
  return file;
}

}  // namespace

MappedFile MapWholeFile(const std::string& path) {
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just below.
  const Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) {
    return Failed(MappedFile::Failure::kCannotOpen, errno);
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) {
    return Failed(MappedFile::Failure::kCannotOpen, errno);
  }
  if (!S_ISREG(info.st_mode)) {
    return Failed(MappedFile::Failure::kCannotOpen, S_ISDIR(info.st_mode) ? EISDIR : 0);
  }
  MappedFile file;
  const auto length = static_cast<std::uint64_t>(info.st_size);
  if (length == 0) {
    return file;
  }
  if (length > SIZE_MAX) {
    return Failed(MappedFile::Failure::kOutOfMemory, ENOMEM);
  }
  file.block = MemoryBlock::MapFile(fd.get(), 0, static_cast<std::size_t>(length),
                                    MemoryBlock::Paging::kReadOnTouch);
  if (!file.block) {
    // Address space is memory too; any other refusal is the file's.
    const int error = errno;
    return Failed(
        error == ENOMEM ? MappedFile::Failure::kOutOfMemory : MappedFile::Failure::kCannotRead,
        error);
  }
  return file;
}

}  // namespace kav
