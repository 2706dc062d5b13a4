#include "platform/memory_budget.h"

#include <unistd.h>

#include <algorithm>
#include <utility>

namespace kav {

MemoryReservation::MemoryReservation(MemoryReservation&& other) noexcept {
  *this = std::move(other);
}

MemoryReservation& MemoryReservation::operator=(MemoryReservation&& other) noexcept {
  if (this != &other) {
    Release();
    budget_ = std::exchange(other.budget_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
  }
  return *this;
}

void MemoryReservation::Release() {
  if (budget_ != nullptr) {
    std::exchange(budget_, nullptr)->GiveBack(std::exchange(bytes_, 0));
  }
}

MemoryReservation MemoryBudget::Reserve(std::uint64_t bytes) {
  std::unique_lock lock(mutex_);
  if (bytes > limit_) {
    return {};
  }
  const std::uint64_t ticket = nextTicket_++;
  ++waiting_;
  // A limit lowered meanwhile may refuse what it would have granted.
  released_.wait(lock, [&] {
    return servedTicket_ == ticket &&
           (bytes > limit_ || (reserved_ <= limit_ && bytes <= limit_ - reserved_));
  });
  --waiting_;
  ++servedTicket_;
  if (bytes > limit_) {
    lock.unlock();
    released_.notify_all();
    return {};
  }
  reserved_ += bytes;
  peak_ = std::max(peak_, reserved_);
  lock.unlock();
  released_.notify_all();  // the next request in line may fit too
  return {this, bytes};
}

void MemoryBudget::GiveBack(std::uint64_t bytes) {
  {
    const std::lock_guard lock(mutex_);
    reserved_ -= bytes;
  }
  released_.notify_all();
}

std::uint64_t MemoryBudget::Limit() const {
  const std::lock_guard lock(mutex_);
  return limit_;
}

void MemoryBudget::SetLimit(std::uint64_t limit) {
  {
    const std::lock_guard lock(mutex_);
    limit_ = limit;
    peak_ = reserved_;
  }
  released_.notify_all();
}

std::uint64_t MemoryBudget::Reserved() const {
  const std::lock_guard lock(mutex_);
  return reserved_;
}

std::size_t MemoryBudget::Waiting() const {
  const std::lock_guard lock(mutex_);
  return waiting_;
}

std::uint64_t MemoryBudget::PeakReserved() const {
  const std::lock_guard lock(mutex_);
  return peak_;
}

std::uint64_t PhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) {
    return UINT64_MAX;
  }
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

MemoryBudget& PictureMemory() {
  static MemoryBudget budget(PhysicalMemory() / 2);
  return budget;
}

}  // namespace kav
