#include "sequence.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kesto::lidar {
namespace {

constexpr std::size_t kNumbersPerWrap = 65535;

TEST(SequenceCounter, StartsAfterOneAndWrapsToOne) {
  SequenceCounter fresh;
  EXPECT_EQ(fresh.Next(), 2);
  EXPECT_EQ(fresh.Next(), 3);
  SequenceCounter near_end(65534);
  EXPECT_EQ(near_end.Next(), 65535);
  EXPECT_EQ(near_end.Next(), 1);
  EXPECT_EQ(near_end.Next(), 2);
  SequenceCounter from_zero(0);
  EXPECT_EQ(from_zero.Next(), 1);
}

// One full wrap of the process-wide counter issues each of 1..65535 exactly once, in order
// with a single wrap from 65535 to 1, wherever the counter stood when the test began.
TEST(NextSequence, OneWrapIssuesEveryNumberOnceAndNeverZero) {
  std::vector<int> seen(65536, 0);
  uint16_t previous = NextSequence();
  int wraps = 0;
  for (std::size_t i = 0; i < kNumbersPerWrap; ++i) {
    const uint16_t value = NextSequence();
    ASSERT_NE(value, 0);
    if (previous == 65535) {
      ASSERT_EQ(value, 1);
      ++wraps;
    } else {
      ASSERT_EQ(value, previous + 1);
    }
    ++seen[value];
    previous = value;
  }
  EXPECT_EQ(wraps, 1);
  EXPECT_EQ(seen[0], 0);
  for (std::size_t value = 1; value < seen.size(); ++value) ASSERT_EQ(seen[value], 1) << value;
}

// Several threads drawing together, in total fewer numbers than one wrap: no number twice.
TEST(NextSequence, ConcurrentCallersNeverShareANumber) {
  constexpr int kThreads = 4;
  constexpr std::size_t kPerThread = kNumbersPerWrap / kThreads;
  std::vector<std::vector<uint16_t>> drawn(kThreads);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      drawn[t].reserve(kPerThread);
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (std::size_t i = 0; i < kPerThread; ++i) drawn[t].push_back(NextSequence());
    });
  }
  for (auto& thread : threads) thread.join();

  std::vector<int> seen(65536, 0);
  for (const auto& numbers : drawn) {
    ASSERT_EQ(numbers.size(), kPerThread);
    for (uint16_t value : numbers) ++seen[value];
  }
  EXPECT_EQ(seen[0], 0);
  for (std::size_t value = 1; value < seen.size(); ++value) ASSERT_LE(seen[value], 1) << value;
}

}  // namespace
}  // namespace kesto::lidar
