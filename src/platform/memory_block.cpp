#include "platform/memory_block.h"

#include <atomic>
#include <cstdlib>

namespace kav {
namespace {

std::atomic<std::size_t> liveBlocks{0};
std::atomic<std::uint64_t> requestedAllocations{0};
std::atomic<std::uint64_t> failingAllocation{0};  // 0: none fails

bool InjectedFailure() {
  const std::uint64_t number = ++requestedAllocations;
  const std::uint64_t failing = failingAllocation.load();
  return failing != 0 && number == failing;
}

}  // namespace

MemoryBlock MemoryBlock::Allocate(std::size_t size) {
  MemoryBlock block;
  if (InjectedFailure()) {
    return block;
  }
  // malloc(0) may return null; a zero-sized block still has an address of its own.
  void* raw = std::malloc(size == 0 ? 1 : size);
  if (raw == nullptr) {
    return block;
  }
  block.data_.reset(static_cast<std::uint8_t*>(raw));
  block.size_ = size;
  ++liveBlocks;
  return block;
}

void MemoryBlock::Release() {
  data_.reset();
  size_ = 0;
}

std::size_t MemoryBlock::LiveCount() {
  return liveBlocks.load();
}

void MemoryBlock::FreeBlock::operator()(std::uint8_t* data) const noexcept {
  std::free(data);
  --liveBlocks;
}

void AllocationFaults::FailNth(std::uint64_t n) {
  requestedAllocations = 0;
  failingAllocation = n;
}

void AllocationFaults::Clear() {
  requestedAllocations = 0;
  failingAllocation = 0;
}

std::uint64_t AllocationFaults::Requested() {
  return requestedAllocations.load();
}

}  // namespace kav
