#include "wake_up_pipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>

#include "socket.h"

namespace kesto::lidar {
namespace {

bool Readable(int fd, int timeout_ms) {
  platform::SocketSet set;
  set.Add(fd);
  return platform::SocketSelect(fd + 1, &set, nullptr, timeout_ms) > 0;
}

TEST(WakeUpPipe, OpenGivesAConnectedPairThatCarriesOneByte) {
  WakeUpPipe pipe;
  ASSERT_TRUE(pipe.Open());
  ASSERT_GE(pipe.read_end(), 0);
  ASSERT_GE(pipe.write_end(), 0);
  EXPECT_NE(pipe.read_end(), pipe.write_end());
  EXPECT_FALSE(Readable(pipe.read_end(), 0));

  ASSERT_TRUE(pipe.Signal());
  ASSERT_TRUE(Readable(pipe.read_end(), 5000));
  char byte = 0;
  ASSERT_EQ(platform::SocketRecv(pipe.read_end(), &byte, 1), 1);
  EXPECT_EQ(byte, '1');
}

TEST(WakeUpPipe, DrainOnAnEmptyPipeReturnsAtOnce) {
  WakeUpPipe pipe;
  ASSERT_TRUE(pipe.Open());
  auto drained = std::async(std::launch::async, [&] { return pipe.Drain(); });
  const bool done = drained.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (!done) pipe.Signal();  // unblock the stuck receive before failing
  ASSERT_TRUE(done);
  EXPECT_TRUE(drained.get());
}

TEST(WakeUpPipe, SignalNeverBlocksOnAFullPipe) {
  WakeUpPipe pipe;
  ASSERT_TRUE(pipe.Open());
  // Small buffers fill after a few thousand bytes.
  platform::SocketSetOption(pipe.write_end(), SOL_SOCKET, SO_SNDBUF, 4096);
  platform::SocketSetOption(pipe.read_end(), SOL_SOCKET, SO_RCVBUF, 4096);

  std::atomic<bool> all_true{true};
  auto signals = std::async(std::launch::async, [&] {
    for (int i = 0; i < 100000; ++i) {
      if (!pipe.Signal()) all_true = false;
    }
  });
  bool done = signals.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  if (!done) {
    ADD_FAILURE() << "Signal blocked on a full pipe";
    // Reading frees the stuck sender so the test can end.
    while (!done) {
      pipe.Drain();
      done = signals.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready;
    }
  }
  EXPECT_TRUE(all_true);
  EXPECT_TRUE(Readable(pipe.read_end(), 0));
}

TEST(WakeUpPipe, WithoutEndsEveryCallSucceedsAndDoesNothing) {
  WakeUpPipe pipe;
  EXPECT_EQ(pipe.read_end(), -1);
  EXPECT_TRUE(pipe.Signal());
  EXPECT_TRUE(pipe.Drain());
  EXPECT_TRUE(pipe.Close());
}

TEST(WakeUpPipe, CloseMarksBothEndsClosedAndIsIdempotent) {
  WakeUpPipe pipe;
  ASSERT_TRUE(pipe.Open());
  const int read_end = pipe.read_end();
  EXPECT_TRUE(pipe.Close());
  EXPECT_EQ(pipe.read_end(), -1);
  EXPECT_EQ(pipe.write_end(), -1);
  int type = 0;
  EXPECT_FALSE(platform::SocketGetOption(read_end, SOL_SOCKET, SO_TYPE, &type));
  EXPECT_TRUE(pipe.Close());
}

}  // namespace
}  // namespace kesto::lidar
