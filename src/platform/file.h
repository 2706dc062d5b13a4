#pragma once
// Files: input opened for reading, output written to a temporary file beside its target and
// renamed into place only when it is complete, so a failed or interrupted write never
// leaves a partial file and never damages a file that was there before.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/byte_source.h"

namespace kav {

// An open regular file, closed when the object goes out of scope.
class InputFile final : public ByteSource {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() override { Close(); }

  // False when the path cannot be opened or is not a regular file (a folder, a FIFO, a
  // device); opening never blocks.
  bool Open(const std::string& path);
  void Close();

  std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override;
  bool Seek(std::uint64_t offset) override;
  std::uint64_t Length() const override { return length_; }
  MemoryBlock Map(std::uint64_t offset, std::size_t length) override;
  bool CanMap() const override { return fd_ >= 0; }

 private:
  // Reads shorter than this are served from one read of this many bytes at their position:
  // a reader asks for a header, then for the rest, and a small picture is then one read.
  static constexpr std::size_t kReadAhead = 64 * 1024;

  // Reads straight into `buffer` at the position, without the read-ahead.
  std::optional<std::size_t> ReadDirect(std::span<std::uint8_t> buffer);
  // Fills the read-ahead from the position; false on a hard read error.
  bool ReadAhead();

  int fd_ = -1;
  std::uint64_t length_ = 0;
  std::uint64_t position_ = 0;
  std::vector<std::uint8_t> ahead_;  // the bytes from aheadStart_ on, as last read
  std::uint64_t aheadStart_ = 0;
};

// A descriptor of an open file or folder, closed when the object goes out of scope.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(other.Release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Reset(other.Release());
    }
    return *this;
  }
  ~Descriptor() { Reset(); }

  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  // Closes the descriptor held, if any, and holds `fd` instead.
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Where a writer puts its bytes: an output file, or memory when the same bytes are wanted in
// more than one form.
class OutputStream {
 public:
  virtual ~OutputStream() = default;
  // Appends all bytes; after the first failure every later write fails too.
  virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
  // Appends every piece in order.
  virtual bool WriteGather(std::span<const std::span<const std::uint8_t>> pieces) = 0;
  // Moves to `offset` from the start; later writes go there (a gap reads as zeros).
  virtual bool Seek(std::uint64_t offset) = 0;
};

// Why an output was refused by a rule rather than by a failed system call. As an error_code,
// its message() is the cause the user is shown.
enum class OutputRefusal {
  kNotARegularFile = 1,  // "not a regular file": a folder, a device, a FIFO, a stream
  kReadOnly,             // "the file is read-only"
  kLinkOfAnotherUser,    // "refusing to follow a link owned by another user"
  kInput,                // "it is an input of this batch"
  kFramesNamedAlike,     // "two frames of this file would write it"
};
// Named as std::error_code asks, for the conversion from OutputRefusal.
std::error_code make_error_code(OutputRefusal refusal);

// The output of one conversion. Create() refuses what must not be written over: a folder,
// anything but a regular file, an existing read-only file, or the file at `protectedPath`
// (the source being converted). The bytes go to a file without a name in the target's folder
// (or, where the system cannot name such a file later, a hidden temporary file); nothing
// appears at the target until Commit() succeeds, and then the whole file does at once.
//
// The target's path is resolved through descriptors, never by name twice, and the folder
// that holds the target stays open until Commit(), so what was checked is what is replaced
// even while others change the folders. A symbolic link met on the way is followed where the
// link rules allow (output_place.cpp): a link that someone else may have planted to make the
// program overwrite a file its owner cannot write is refused. A link at the end of the path
// must lead to a regular file, which is replaced, or to a missing name in an existing folder,
// where the new file is made; the link itself is never replaced. Temporary files of this
// output left by a process that ended without removing them (SIGKILL) are removed when the
// output is created.
class OutputFile final : public OutputStream {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() override { Abandon(); }

  bool Create(const std::string& target, const std::string& protectedPath);
  bool Write(std::span<const std::uint8_t> bytes) override;
  // In as few system calls as possible.
  bool WriteGather(std::span<const std::span<const std::uint8_t>> pieces) override;
  bool Seek(std::uint64_t offset) override;
  // Whether a write failed because the bytes to write could not be read: a mapped source
  // file that shrank while it was being converted.
  bool FailedReadingSource() const { return failedReadingSource_; }
  // Closes the temporary file and renames it over the target. On failure the temporary
  // file is removed and the target is left as it was.
  bool Commit();
  // Closes and removes the temporary file, if any.
  void Abandon();
  // Why Create(), a write or Commit() failed: the errno of the failed system call, or the
  // OutputRefusal of the rule that refused the output; no error when nothing failed.
  std::error_code LastError() const { return lastError_; }

 private:
  int CreateNamedTemporary();
  bool NameUnnamedTemporary();
  // The last steps of Commit(): closing the file that linking has named already, or closing
  // the temporary file and renaming it over the target.
  bool CloseLinked();
  bool CloseAndRename();
  bool CloseFile();
  void RemoveNamedTemporary();
  void ForgetTemporary();
  void CloseFolder();

  void Fail();
  void RememberError() { lastError_ = {errno, std::system_category()}; }

  int fd_ = -1;
  bool failed_ = false;
  bool failedReadingSource_ = false;
  bool targetExisted_ = false;
  std::error_code lastError_;
  std::uint64_t position_ = 0;  // where the next write goes; kept here, so moving costs no call
  Descriptor folder_;           // the target's folder, from Create() to the end of Commit()
  std::string targetName_;
  std::string temporaryName_;  // in folder_
  std::size_t registrySlot_ = SIZE_MAX;
};

// Lets the process hold as many open files as the system allows it (the hard limit): the
// outputs of a file of many frames stay open until the last frame is written, two
// descriptors each.
void RaiseOpenFileLimit();

// Makes SIGINT, SIGTERM and SIGHUP remove every temporary output file of this process
// before the process ends as the signal asks, so an interrupted batch leaves no partial file.
void InstallInterruptCleanup();

// From now on SIGINT ends the process, once the temporary files are removed, with exit status
// `status` instead of by the signal: an interrupt is how a user ends a run that waits forever.
void EndInterruptsWithStatus(int status);

}  // namespace kav

template <>
struct std::is_error_code_enum<kav::OutputRefusal> : std::true_type {};
