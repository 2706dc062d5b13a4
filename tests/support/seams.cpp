#include "support/test_support.h"

#include <atomic>

#include "platform/test_seams.h"

namespace kav {
namespace {

std::atomic<std::size_t> liveBlocks{0};
std::atomic<std::uint64_t> requests{0};
std::atomic<std::uint64_t> failing{0};  // 0: none fails
std::atomic<bool> unnamedAllowed{true};
std::atomic<bool> watchesRefused{false};
std::atomic<int> eventBatchesToLose{0};
std::atomic<bool> paletteTablesKept{true};

}  // namespace

bool seams::FailBlockRequest() {
  return failing.load() != 0 && ++requests == failing.load();  // counted while one may fail
}

void seams::BlockTaken() {
  ++liveBlocks;
}

void seams::BlockReturned() {
  --liveBlocks;
}

bool seams::UnnamedOutputFilesAllowed() {
  return unnamedAllowed.load();
}

bool seams::RefuseFolderWatch() {
  return watchesRefused.load();
}

bool seams::LoseWatchEvents() {
  return eventBatchesToLose.fetch_sub(1) > 0;
}

bool seams::KeepPaletteTables() {
  return paletteTablesKept.load();
}

void test::KeepPaletteTables(bool kept) {
  paletteTablesKept = kept;
}

void test::AllocationFaults::FailNth(std::uint64_t n) {
  requests = 0;
  failing = n;
}

std::size_t test::LiveBlocks() {
  return liveBlocks.load();
}

void test::AllowUnnamedOutputFiles(bool allowed) {
  unnamedAllowed = allowed;
}

void test::RefuseFolderWatches(bool refused) {
  watchesRefused = refused;
}

void test::LoseWatchEvents(int batches) {
  eventBatchesToLose = batches;
}

}  // namespace kav
