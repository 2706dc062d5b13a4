#pragma once
// Fixed memory blocks: contiguous byte areas that never move while they are held.
//
// Allocation can fail; a failed allocation yields an empty block instead of throwing, so
// every caller decides what the user is told. Tests can make the n-th allocation from now
// fail (AllocationFaults) and can see how many blocks are alive (MemoryBlock::LiveCount).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace kav {

class MemoryBlock {
 public:
  MemoryBlock() = default;

  // A block of `size` bytes (contents undefined), or an empty block when it cannot be had.
  static MemoryBlock Allocate(std::size_t size);

  explicit operator bool() const { return data_ != nullptr; }
  std::uint8_t* data() { return data_.get(); }
  const std::uint8_t* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  std::span<std::uint8_t> bytes() { return {data_.get(), size_}; }
  std::span<const std::uint8_t> bytes() const { return {data_.get(), size_}; }

  // Returns the block now; a block is also released when it goes out of scope.
  void Release();

  // Blocks currently held by anyone in this process.
  static std::size_t LiveCount();

 private:
  struct FreeBlock {
    void operator()(std::uint8_t* data) const noexcept;
  };
  std::unique_ptr<std::uint8_t, FreeBlock> data_;
  std::size_t size_ = 0;
};

// Fault injection for tests: the n-th allocation counted from the call fails (n >= 1).
class AllocationFaults {
 public:
  static void FailNth(std::uint64_t n);
  static void Clear();
  // Allocations requested since the last FailNth or Clear.
  static std::uint64_t Requested();
};

}  // namespace kav
