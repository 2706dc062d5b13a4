#pragma once
// The tests' side of the platform's seams (platform/test_seams.h): failing block requests,
// counting blocks alive, and outputs without unnamed files.

#include <cstddef>
#include <cstdint>

namespace kav::test {

// The n-th block request counted from the call fails (n >= 1).
struct AllocationFaults {
  static void FailNth(std::uint64_t n);
  static void Clear();
};

// Blocks currently held by anyone in this process.
std::size_t LiveBlocks();

// False makes every output start as a hidden temporary file; true (the default) uses unnamed
// files where the system can.
void AllowUnnamedOutputFiles(bool allowed);

}  // namespace kav::test
