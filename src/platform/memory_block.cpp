#include "platform/memory_block.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "platform/test_seams.h"

namespace kav {
namespace {

bool InjectedFailure() {
  if (seams::FailBlockRequest()) {
    errno = ENOMEM;  // as the system reports a real shortage
    return true;
  }
  return false;
}

// Huge pages, the fast path for image-sized blocks: they are placed on 2 MiB boundaries and
// offered huge pages, so filling a 64 MiB block takes 32 page faults instead of 16384, which
// is most of the cost of reading a large file into it. The cost is up to 2 MiB of rounding
// per block; smaller blocks come from malloc as usual.
constexpr std::size_t kHugePageSize = std::size_t{2} << 20;

void* AllocateBytes(std::size_t size) {
  if (size < kHugePageSize) {
    // malloc(0) may return null; a zero-sized block still has an address of its own.
    return std::malloc(size == 0 ? 1 : size);
  }
  if (size > SIZE_MAX - kHugePageSize) {
    return nullptr;
  }
  const std::size_t rounded = (size + kHugePageSize - 1) & ~(kHugePageSize - 1);
  void* raw = std::aligned_alloc(kHugePageSize, rounded);
  if (raw != nullptr) {
    madvise(raw, rounded, MADV_HUGEPAGE);  // a hint: without huge pages the block still works
  }
  return raw;
}

// Mapped files, the fast path for large inputs: the file's cached pages become the block, with
// no copy. The cost is a guard: a file that shrinks while mapped would end the process with
// SIGBUS, so a handler puts a page of zeros in place of the vanished one and marks the block
// damaged. It finds the mapping in fixed slots of atomics, read without locks or allocation.
struct MappingSlot {
  std::atomic<bool> used{false};
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};  // 0 while the slot holds no mapping
  std::atomic<bool> damaged{false};
};
constexpr std::size_t kMappingSlots = 256;
std::array<MappingSlot, kMappingSlots> mappings;
std::atomic<std::uintptr_t> pageSize{0};
struct sigaction previousBusAction {};

// Replaces the vanished page under the fault with a page of zeros and marks its mapping.
extern "C" void RecoverFromVanishedPage(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (MappingSlot& slot : mappings) {
    const std::uintptr_t end = slot.end.load();
    if (end != 0 && address >= slot.begin.load() && address < end) {
      const std::uintptr_t page = address & ~(pageSize.load() - 1);
      void* zeros = mmap(reinterpret_cast<void*>(page), pageSize.load(), PROT_READ,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
      if (zeros != MAP_FAILED) {
        slot.damaged = true;
        return;  // the faulting read runs again and sees zeros
      }
    }
  }
  // Not one of ours: whatever handled SIGBUS before does so now.
  sigaction(SIGBUS, &previousBusAction, nullptr);
  if ((previousBusAction.sa_flags & SA_SIGINFO) != 0 && previousBusAction.sa_sigaction != nullptr) {
    previousBusAction.sa_sigaction(signal, info, context);
  } else if (previousBusAction.sa_handler != SIG_IGN && previousBusAction.sa_handler != SIG_DFL) {
    previousBusAction.sa_handler(signal);
  }
  // SIG_DFL: returning re-runs the faulting access, which now ends the process as usual.
}

void InstallBusHandlerOnce() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = RecoverFromVanishedPage;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previousBusAction);
  });
}

std::size_t RegisterMapping(std::uintptr_t begin, std::uintptr_t end) {
  for (std::size_t i = 0; i < kMappingSlots; ++i) {
    bool expected = false;
    if (mappings[i].used.compare_exchange_strong(expected, true)) {
      mappings[i].damaged = false;
      mappings[i].begin = begin;
      mappings[i].end = end;  // last: the handler only looks at slots with an end
      return i;
    }
  }
  return kMappingSlots;
}

void UnregisterMapping(std::size_t slot) {
  mappings[slot].end = 0;
  mappings[slot].begin = 0;
  mappings[slot].used = false;
}

}  // namespace

MemoryBlock::MemoryBlock(MemoryBlock&& other) noexcept {
  *this = std::move(other);
}

MemoryBlock& MemoryBlock::operator=(MemoryBlock&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    base_ = std::exchange(other.base_, nullptr);
    baseLength_ = std::exchange(other.baseLength_, 0);
    mappingSlot_ = std::exchange(other.mappingSlot_, kNoSlot);
    reservation_ = std::move(other.reservation_);
  }
  return *this;
}

MemoryBlock MemoryBlock::Allocate(std::size_t size) {
  MemoryBlock block;
  if (InjectedFailure()) {
    return block;
  }
  void* raw = AllocateBytes(size);
  if (raw == nullptr) {
    return block;
  }
  block.base_ = raw;
  block.data_ = static_cast<std::uint8_t*>(raw);
  block.size_ = size;
  seams::BlockTaken();
  return block;
}

MemoryBlock MemoryBlock::AllocateReserved(std::uint64_t size, std::uint64_t reserved,
                                          MemoryBudget& budget) {
  MemoryReservation reservation = size <= SIZE_MAX ? budget.Reserve(reserved) : MemoryReservation();
  if (!reservation) {
    return MemoryBlock();
  }
  MemoryBlock block = Allocate(static_cast<std::size_t>(size));
  if (block) {
    block.Hold(std::move(reservation));
  }
  return block;
}

MemoryBlock MemoryBlock::MapFile(int fd, std::uint64_t offset, std::size_t length, Paging paging) {
  MemoryBlock block;
  if (InjectedFailure() || length == 0) {
    return block;
  }
  InstallBusHandlerOnce();
  // Mappings start on a page boundary; the block begins `lead` bytes into its mapping.
  const std::uint64_t lead = offset % pageSize.load();
  if (length > SIZE_MAX - lead) {
    errno = ENOMEM;
    return block;
  }
  const std::size_t mapped = static_cast<std::size_t>(lead) + length;
  // Read-only: the block is the file's cached pages, with no copy made. Populating it now
  // saves a page fault per page of a file that is read whole anyway.
  const int populate = paging == Paging::kReadNow ? MAP_POPULATE : 0;
  void* base = mmap(nullptr, mapped, PROT_READ, MAP_PRIVATE | populate, fd,
                    static_cast<off_t>(offset - lead));
  if (base == MAP_FAILED) {
    return block;
  }
  const auto begin = reinterpret_cast<std::uintptr_t>(base);
  const std::size_t slot = RegisterMapping(begin, begin + mapped);
  if (slot == kMappingSlots) {
    munmap(base, mapped);  // no room to guard it: the caller reads the file instead
    errno = ENOMEM;
    return block;
  }
  block.base_ = base;
  block.baseLength_ = mapped;
  block.mappingSlot_ = slot;
  block.data_ = static_cast<std::uint8_t*>(base) + lead;
  block.size_ = length;
  seams::BlockTaken();
  return block;
}

bool MemoryBlock::Damaged() const {
  return IsMapped() && mappings[mappingSlot_].damaged.load();
}

void MemoryBlock::Release() {
  if (base_ == nullptr) {
    reservation_.Release();
    return;
  }
  if (IsMapped()) {
    UnregisterMapping(mappingSlot_);
    munmap(base_, baseLength_);
  } else {
    std::free(base_);
  }
  base_ = nullptr;
  data_ = nullptr;
  size_ = 0;
  baseLength_ = 0;
  mappingSlot_ = kNoSlot;
  reservation_.Release();  // once the memory is given back
  seams::BlockReturned();
}

}  // namespace kav
