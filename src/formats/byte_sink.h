#pragma once
// Where encoders put their bytes: memory (tests, fuzzing, decoding checks), a counter, or an
// output stream through a buffer.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/file.h"
#include "platform/little_endian.h"  // LoadLe16/32 and StoreLe16/32 for the formats

namespace kav {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void Write(std::span<const std::uint8_t> bytes) = 0;
  // Bytes that stay valid and unchanged until the sink is flushed or destroyed (the rows
  // of a loaded image): a file sink hands them to the kernel without copying them first.
  virtual void WriteLasting(std::span<const std::uint8_t> bytes) { Write(bytes); }
};

class VectorSink final : public ByteSink {
 public:
  void Write(std::span<const std::uint8_t> bytes) override {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// An output stream in memory: the encoded file when it is written in more than one form.
class MemoryOutput final : public OutputStream {
 public:
  // False, and every later write too, when memory runs out.
  bool Write(std::span<const std::uint8_t> bytes) override;
  bool WriteGather(std::span<const std::span<const std::uint8_t>> pieces) override;
  bool Seek(std::uint64_t offset) override;
  std::span<const std::uint8_t> bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
  bool failed_ = false;
};

// Collects writes into few large system calls: small writes are copied into a buffer,
// lasting ones are only referenced, and both go out together, in order, in one gathered
// write when the buffer or the list of pieces is full.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(OutputStream& file) : file_(file) {}
  void Write(std::span<const std::uint8_t> bytes) override;
  void WriteLasting(std::span<const std::uint8_t> bytes) override;
  // Writes out everything pending; false when any write so far has failed.
  bool Flush();

 private:
  static constexpr std::size_t kBufferSize = 256 * 1024;
  static constexpr std::size_t kMaxPieces = 1024;
  static constexpr std::size_t kShortestPiece = 2048;
  void AddPiece(std::span<const std::uint8_t> piece);

  OutputStream& file_;
  std::array<std::uint8_t, kBufferSize> buffer_;
  std::size_t used_ = 0;
  std::array<std::span<const std::uint8_t>, kMaxPieces> pieces_;
  std::size_t pieceCount_ = 0;
  bool failed_ = false;
};

}  // namespace kav
