#pragma once
// Fixed memory blocks: contiguous byte areas that never move while they are held.
//
// A block is either allocated (writable) or a read-only mapping of part of a file, which
// costs no copy: the file's cached pages are the block. A mapping is read in when it is made,
// or page by page as it is touched, so that a file of any length can be looked at in part.
// Allocation and mapping can fail; a failure yields an empty block instead of throwing, so every
// caller decides what the user is told. Tests make requests fail and count the blocks alive
// through the seams of platform/test_seams.h.
//
// A mapped file can shrink while it is mapped (another program rewrites it). Touching a page
// that is no longer backed by the file would end the process with SIGBUS; instead such a
// page reads as zeros from then on and the block reports Damaged(), so the caller refuses
// the file as corrupt.

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "platform/memory_budget.h"

namespace kav {

class MemoryBlock {
 public:
  MemoryBlock() = default;
  MemoryBlock(MemoryBlock&& other) noexcept;
  MemoryBlock& operator=(MemoryBlock&& other) noexcept;
  MemoryBlock(const MemoryBlock&) = delete;
  MemoryBlock& operator=(const MemoryBlock&) = delete;
  ~MemoryBlock() { Release(); }

  // A writable block of `size` bytes (contents undefined), or an empty block.
  static MemoryBlock Allocate(std::size_t size);
  // A writable block of `size` bytes holding `reserved` bytes of `budget` (the block and any
  // working memory beside it) until it is released, or an empty block when the budget
  // refuses them or the allocation fails.
  static MemoryBlock AllocateReserved(std::uint64_t size, std::uint64_t reserved,
                                      MemoryBudget& budget);
  enum class Paging { kReadNow, kReadOnTouch };
  // `length` bytes of the open file `fd` from `offset` on, mapped read-only, or an empty
  // block when the range cannot be mapped (errno tells why; ENOMEM for an injected failure).
  static MemoryBlock MapFile(int fd, std::uint64_t offset, std::size_t length,
                             Paging paging = Paging::kReadNow);

  explicit operator bool() const { return data_ != nullptr; }
  // Writable for allocated blocks only: a mapped block must not be written.
  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::span<std::uint8_t> bytes() { return {data_, size_}; }
  std::span<const std::uint8_t> bytes() const { return {data_, size_}; }
  bool IsMapped() const { return mappingSlot_ != kNoSlot; }
  // Whether part of a mapped file vanished while it was mapped (it then reads as zeros).
  bool Damaged() const;

  // Keeps `reservation` (the budget's bytes for this block) until the block is released.
  void Hold(MemoryReservation reservation) { reservation_ = std::move(reservation); }

  // Returns the block, and its reservation, now; a block is also released when it goes out
  // of scope.
  void Release();

 private:
  static constexpr std::size_t kNoSlot = SIZE_MAX;

  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  void* base_ = nullptr;  // what was allocated or mapped
  std::size_t baseLength_ = 0;
  std::size_t mappingSlot_ = kNoSlot;
  MemoryReservation reservation_;
};

}  // namespace kav
