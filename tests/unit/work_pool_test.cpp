// The worker pool: every item of a call runs exactly once whatever the
// thread count, a body's exception reaches the caller and leaves the pool
// usable, calls from inside a body and from several threads at once run,
// and ended workers start again, taking part in the call that starts them.
#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "base/portable/work_pool.h"

namespace {

class WorkPool : public ::testing::Test {
 protected:
  void TearDown() override { qb::work::SetThreadCount(0); }
};

TEST_F(WorkPool, EveryItemRunsOnceAtEveryThreadCount) {
  for (int threads : {1, 2, 3, 8}) {
    qb::work::SetThreadCount(threads);
    for (int64_t count : {0, 1, 7, 1000, 100003}) {
      std::vector<std::atomic<int>> seen(static_cast<size_t>(count));
      std::atomic<int> calls{0};
      qb::work::ForEachRange(count, 16, [&](int64_t begin, int64_t end) {
        ASSERT_LE(0, begin);
        ASSERT_LT(begin, end);
        ASSERT_LE(end, count);
        ++calls;
        for (int64_t i = begin; i < end; ++i) ++seen[static_cast<size_t>(i)];
      });
      for (int64_t i = 0; i < count; ++i) {
        ASSERT_EQ(1, seen[static_cast<size_t>(i)].load()) << threads << " " << i;
      }
      if (threads == 1 || count <= 16) {
        EXPECT_EQ(count > 0 ? 1 : 0, calls.load()) << "a small call is one range";
      } else {
        EXPECT_LT(1, calls.load()) << "a large call is shared, on " << threads << " threads";
      }
    }
  }
}

TEST_F(WorkPool, ExceptionsNestingAndConcurrentCallers) {
  qb::work::SetThreadCount(4);
  EXPECT_THROW(qb::work::ForEachRange(1000, 1, [](int64_t begin, int64_t) {
                 if (begin > 500) throw std::runtime_error("range failed");
               }),
               std::runtime_error);

  // A call from inside a body runs there, in one range.
  std::atomic<int64_t> inner{0};
  qb::work::ForEachRange(64, 1, [&](int64_t, int64_t) {
    qb::work::ForEachRange(10, 1, [&](int64_t b, int64_t e) {
      EXPECT_EQ(0, b);
      inner += e - b;
    });
  });
  EXPECT_GT(inner.load(), 0);
  EXPECT_EQ(0, inner.load() % 10);

  std::atomic<int64_t> total{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 3; ++t)
    callers.emplace_back([&] {
      for (int i = 0; i < 50; ++i) qb::work::ForEachRange(1000, 10, [&](int64_t b, int64_t e) { total += e - b; });
    });
  for (std::thread& c : callers) c.join();
  EXPECT_EQ(3 * 50 * 1000, total.load());

  qb::work::EndWorkers();
  total = 0;
  qb::work::ForEachRange(1000, 10, [&](int64_t b, int64_t e) { total += e - b; });
  EXPECT_EQ(1000, total.load());
  qb::work::EndWorkers();

  // The call that starts the workers shares its ranges with them: the
  // first range sees the second start while it is still running.
  qb::work::SetThreadCount(2);
  std::atomic<bool> second{false}, together{false};
  qb::work::ForEachRange(2, 1, [&](int64_t begin, int64_t) {
    if (begin == 1) {
      second = true;
      return;
    }
    for (int i = 0; i < 5000 && !second; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    together = second.load();
  });
  EXPECT_TRUE(together.load());
  qb::work::EndWorkers();
}

TEST_F(WorkPool, RowGrainKeepsSmallPicturesWhole) {
  EXPECT_EQ(375, qb::work::RowGrain(500, 375));
  EXPECT_EQ(65, qb::work::RowGrain(4000, 3000));
  EXPECT_EQ(1, qb::work::RowGrain(1 << 20, 2));
}

// Bands sized for the cache: each row in exactly one band of the asked
// height (the last one shorter), a small picture's bands all on the caller,
// a large one's shared.
TEST_F(WorkPool, BandsOfRowsCoverEachRowOnce) {
  const std::thread::id caller = std::this_thread::get_id();
  for (int threads : {1, 2, 3}) {
    qb::work::SetThreadCount(threads);
    for (auto [width, height, bandRows] : {std::tuple{500, 375, 14}, std::tuple{4000, 3001, 14},
                                          std::tuple{4000, 3000, 0}, std::tuple{9, 1, 5}}) {
      std::vector<std::atomic<int>> seen(static_cast<size_t>(height));
      std::atomic<int> elsewhere{0};
      qb::work::ForEachBandOfRows(width, height, bandRows, [&](int32_t first, int32_t count) {
        const int32_t rows = bandRows > 1 ? bandRows : 1;
        EXPECT_EQ(0, first % rows);
        EXPECT_EQ(std::min(rows, height - first), count);
        for (int32_t y = first; y < first + count; ++y) ++seen[static_cast<size_t>(y)];
        if (std::this_thread::get_id() != caller) ++elsewhere;
      });
      for (int32_t y = 0; y < height; ++y) ASSERT_EQ(1, seen[static_cast<size_t>(y)].load()) << y;
      if (int64_t{width} * height < qb::work::kParallelPixels || threads == 1) {
        EXPECT_EQ(0, elsewhere.load()) << width << "x" << height << " on " << threads;
      }
    }
  }
  qb::work::ForEachBandOfRows(10, 0, 4, [](int32_t, int32_t) { FAIL() << "no rows, no band"; });
}

}  // namespace
