#pragma once
// One budget of picture memory for every conversion running in the process. A reader asks it
// for the bytes a picture will take (known from the file's header) before it allocates them:
// a request that fits what is free is granted at once; one that does not waits until
// conversions running beside it give theirs back; one larger than the whole budget is
// refused at once, so the file fails as "Out of memory" before anything is decoded.
//
// Requests are granted in the order they were made, so a large picture is not passed over
// forever by a stream of small ones. A holder must never wait for another conversion while
// it holds a reservation (the writers give the picture back before they wait to put an
// output in place), or two conversions could wait for each other.

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kav {

class MemoryBudget;

// Bytes taken from a budget, given back when the reservation ends. An empty reservation
// (the default, or a refused request) holds nothing.
class MemoryReservation {
 public:
  MemoryReservation() = default;
  MemoryReservation(MemoryReservation&& other) noexcept;
  MemoryReservation& operator=(MemoryReservation&& other) noexcept;
  MemoryReservation(const MemoryReservation&) = delete;
  MemoryReservation& operator=(const MemoryReservation&) = delete;
  ~MemoryReservation() { Release(); }

  explicit operator bool() const { return budget_ != nullptr; }
  std::uint64_t bytes() const { return bytes_; }
  void Release();

 private:
  friend class MemoryBudget;
  MemoryReservation(MemoryBudget* budget, std::uint64_t bytes) : budget_(budget), bytes_(bytes) {}

  MemoryBudget* budget_ = nullptr;
  std::uint64_t bytes_ = 0;
};

class MemoryBudget {
 public:
  explicit MemoryBudget(std::uint64_t limit) : limit_(limit) {}
  MemoryBudget(const MemoryBudget&) = delete;
  MemoryBudget& operator=(const MemoryBudget&) = delete;

  // `bytes` of the budget, waiting while too little is free; an empty reservation, at once,
  // when `bytes` exceeds the whole budget.
  MemoryReservation Reserve(std::uint64_t bytes);

  // The whole budget. A front end sets it before it converts anything.
  std::uint64_t Limit() const;
  void SetLimit(std::uint64_t limit);
  // What is reserved now, how many requests are waiting, and the most ever reserved at once
  // since the last SetLimit (for tests and measurements).
  std::uint64_t Reserved() const;
  std::size_t Waiting() const;
  std::uint64_t PeakReserved() const;

 private:
  friend class MemoryReservation;
  void GiveBack(std::uint64_t bytes);

  mutable std::mutex mutex_;
  std::condition_variable released_;
  std::uint64_t limit_;
  std::uint64_t reserved_ = 0;
  std::uint64_t peak_ = 0;
  std::uint64_t nextTicket_ = 0;  // the order requests are granted in
  std::uint64_t servedTicket_ = 0;
  std::size_t waiting_ = 0;
};

// The machine's physical memory in bytes (UINT64_MAX when the system does not say).
std::uint64_t PhysicalMemory();

// The budget every reader draws from unless it is given another: by default half of the
// machine's physical memory.
MemoryBudget& PictureMemory();

}  // namespace kav
