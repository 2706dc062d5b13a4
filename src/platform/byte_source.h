#pragma once
// A readable, seekable run of bytes: an input file or bytes already in memory.

#include <cstdint>
#include <optional>
#include <span>

#include "platform/memory_block.h"

namespace kav {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to buffer.size() bytes at the current position and advances past them. The
  // count is smaller than asked only at the end of the data; nullopt is a hard read error.
  virtual std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) = 0;
  // Moves the position to `offset` from the start; false when that is impossible.
  virtual bool Seek(std::uint64_t offset) = 0;
  // The total length of the data.
  virtual std::uint64_t Length() const = 0;
  // `length` bytes from `offset` on as a read-only block without copying them, or an empty
  // block when this source cannot do that.
  virtual MemoryBlock Map(std::uint64_t /*offset*/, std::size_t /*length*/) { return {}; }
  virtual bool CanMap() const { return false; }
};

// Bytes in memory, for tests and fuzzing; the caller keeps them alive.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::optional<std::size_t> Read(std::span<std::uint8_t> buffer) override;
  bool Seek(std::uint64_t offset) override;
  std::uint64_t Length() const override { return bytes_.size(); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

}  // namespace kav
