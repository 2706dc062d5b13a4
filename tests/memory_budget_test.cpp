// The picture memory every conversion draws from: a request waits its turn until it fits,
// one larger than the whole budget is refused at once, and a loaded picture holds its bytes
// until it is released.

#include "platform/memory_budget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "input/read_picture.h"
#include "support/test_support.h"

namespace kav {
namespace {

using namespace std::chrono_literals;

// Whether `waiting` requests wait within a second.
bool AwaitWaiting(const MemoryBudget& budget, std::size_t waiting) {
  for (int tries = 0; tries < 1000 && budget.Waiting() != waiting; ++tries) {
    std::this_thread::sleep_for(1ms);
  }
  return budget.Waiting() == waiting;
}

TEST(MemoryBudget, RequestsWaitTheirTurnUntilTheyFitAndWhatCanNeverFitIsRefused) {
  MemoryBudget budget(100);
  EXPECT_FALSE(budget.Reserve(101));
  MemoryReservation first = budget.Reserve(60);
  ASSERT_TRUE(first);
  std::atomic<unsigned> granted{0};  // a bit for each of the two later requests
  const auto request = [&](std::uint64_t bytes, unsigned bit) {
    return std::jthread([&, bytes, bit] { granted |= budget.Reserve(bytes) ? bit : 0U; });
  };
  std::jthread large = request(60, 1);  // 40 are free
  EXPECT_TRUE(AwaitWaiting(budget, 1));
  std::jthread small = request(10, 2);  // fits, but comes later
  EXPECT_TRUE(AwaitWaiting(budget, 2));
  EXPECT_EQ(granted, 0U);
  first.Release();
  large.join();
  small.join();
  EXPECT_EQ(granted, 3U);
  EXPECT_EQ(budget.Reserved(), 0u);
}

TEST(MemoryBudget, APictureHoldsItsBlockSizeUntilReleased) {
  // An RLE8 picture of 5 x 3 decodes into 3 rows of 5 indices.
  const test::BmpPicture rle{
      .width = 5, .height = 3, .compression = 1, .stored = test::Bytes{0, 1}};
  const test::Bytes file = test::MakeBmp(rle);
  MemoryBudget budget(15);
  MemorySource source(file);
  ReadResult read = ReadPicture(source, budget);
  ASSERT_TRUE(read);
  Picture moved = std::move(*read);
  EXPECT_EQ(budget.Reserved(), 15u);
  moved.Release();
  EXPECT_EQ(budget.Reserved(), 0u);
  // One byte less than the picture needs: refused before anything is allocated.
  budget.SetLimit(14);
  const std::size_t live = test::LiveBlocks();
  read = ReadPicture(source, budget);
  EXPECT_TRUE(!read && read.failed().failure == ReadFailure::kOutOfMemory);
  EXPECT_EQ(test::LiveBlocks(), live);
}

}  // namespace
}  // namespace kav
