#include "multiple_io_select.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <thread>
#include <vector>

#include "log_capture.h"
#include "loopback.h"
#include "socket.h"
#include "socket_util.h"

namespace kesto::lidar {
namespace {

using Clock = std::chrono::steady_clock;

IoDescriptor Readable(int fd, std::function<void(int, int)> on_ready = [](int, int) {}) {
  IoDescriptor descriptor;
  descriptor.fd = fd;
  descriptor.events = kIoReadable;
  descriptor.on_ready = std::move(on_ready);
  return descriptor;
}

// A multiplexer set up as the loop sets it up: 48 sockets plus the pipe.
class MultiplexerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(mux_.Setup(48));
    pipe_fd_ = mux_.wake_up_read_end();
    ASSERT_GE(pipe_fd_, 0);
  }

  // Socket numbers that are not the pipe's, for registrations that are never waited on.
  std::vector<int> FakeFds(int count) const {
    std::vector<int> fds;
    for (int fd = 3; static_cast<int>(fds.size()) < count; ++fd) {
      if (fd != pipe_fd_) fds.push_back(fd);
    }
    return fds;
  }

  MultipleIOSelect mux_;
  int pipe_fd_ = -1;
};

TEST_F(MultiplexerTest, SetupRegistersOnlyTheWakeUpPipe) {
  ASSERT_EQ(mux_.descriptors().size(), 1u);
  EXPECT_EQ(mux_.descriptors().begin()->first, pipe_fd_);
  EXPECT_EQ(mux_.read_set(), std::vector<int>{pipe_fd_});
  EXPECT_TRUE(mux_.write_set().empty());
  EXPECT_EQ(mux_.capacity(), 49);
  EXPECT_EQ(mux_.max_fd(), pipe_fd_);
}

TEST_F(MultiplexerTest, FiftiethDescriptorIsRefusedAndTheTableUnchanged) {
  const std::vector<int> fds = FakeFds(49);
  for (int i = 0; i < 48; ++i) ASSERT_TRUE(mux_.AddFd(Readable(fds[i]))) << i;
  ASSERT_EQ(mux_.descriptors().size(), 49u);
  const std::vector<int> read_before = mux_.read_set();
  const int max_before = mux_.max_fd();

  EXPECT_FALSE(mux_.AddFd(Readable(fds[48])));
  EXPECT_EQ(mux_.descriptors().size(), 49u);
  EXPECT_EQ(mux_.descriptors().count(fds[48]), 0u);
  EXPECT_EQ(mux_.read_set(), read_before);
  EXPECT_EQ(mux_.max_fd(), max_before);

  // Replacing a registration does not grow the table, so a full table still takes it.
  int served_by = 0;
  EXPECT_TRUE(mux_.AddFd(Readable(fds[0], [&](int, int) { served_by = 2; })));
  mux_.descriptors().at(fds[0]).on_ready(fds[0], kIoReadable);
  EXPECT_EQ(served_by, 2);
  EXPECT_EQ(mux_.descriptors().size(), 49u);
}

TEST_F(MultiplexerTest, ReplacingADescriptorOverwritesItsHandlersAndKeepsOneSetEntry) {
  const int fd = FakeFds(1)[0];
  std::vector<int> calls;
  ASSERT_TRUE(mux_.AddFd(Readable(fd, [&](int, int) { calls.push_back(1); })));
  IoDescriptor second = Readable(fd, [&](int, int) { calls.push_back(2); });
  second.on_tick = [](TimePoint) {};
  ASSERT_TRUE(mux_.AddFd(second));

  const IoDescriptor& held = mux_.descriptors().at(fd);
  held.on_ready(fd, kIoReadable);
  EXPECT_EQ(calls, std::vector<int>{2});
  EXPECT_TRUE(static_cast<bool>(held.on_tick));
  EXPECT_EQ(std::count(mux_.read_set().begin(), mux_.read_set().end(), fd), 1);

  // Interest that is given up leaves its set; new interest joins the other.
  IoDescriptor writable = Readable(fd);
  writable.events = kIoWritable;
  ASSERT_TRUE(mux_.AddFd(writable));
  EXPECT_EQ(mux_.read_set(), std::vector<int>{pipe_fd_});
  EXPECT_EQ(mux_.write_set(), std::vector<int>{fd});
}

TEST_F(MultiplexerTest, RemovingAnUnknownDescriptorChangesNothing) {
  const std::vector<int> fds = FakeFds(2);
  ASSERT_TRUE(mux_.AddFd(Readable(fds[0])));
  const auto read_before = mux_.read_set();
  const auto size_before = mux_.descriptors().size();
  const int max_before = mux_.max_fd();

  EXPECT_TRUE(mux_.RemoveFd(Readable(fds[1])));
  EXPECT_EQ(mux_.read_set(), read_before);
  EXPECT_EQ(mux_.descriptors().size(), size_before);
  EXPECT_EQ(mux_.max_fd(), max_before);
}

TEST_F(MultiplexerTest, RemovalKeepsTheOrderAndTheHighestSocket) {
  std::vector<int> fds = FakeFds(3);
  for (int fd : fds) ASSERT_TRUE(mux_.AddFd(Readable(fd)));
  ASSERT_TRUE(mux_.RemoveFd(Readable(fds[1])));
  EXPECT_EQ(mux_.read_set(), (std::vector<int>{pipe_fd_, fds[0], fds[2]}));
  ASSERT_TRUE(mux_.RemoveFd(Readable(fds[2])));
  EXPECT_EQ(mux_.max_fd(), std::max(pipe_fd_, fds[0]));
}

// A socket number and whether select() on this platform can watch it. POSIX fd_sets are bitmaps
// of FD_SETSIZE bits; Winsock's are arrays of handles that take any socket.
struct SelectCase {
  int fd;
  bool fits;
};
void PrintTo(const SelectCase& c, std::ostream* os) { *os << "socket " << c.fd; }
#ifdef _WIN32
constexpr bool kPastTheBitmapFits = true;
#else
constexpr bool kPastTheBitmapFits = false;
#endif

class SelectRange : public MultiplexerTest, public ::testing::WithParamInterface<SelectCase> {};

TEST_P(SelectRange, ASocketSelectCannotWatchIsRefusedWithOneLine) {
  const SelectCase c = GetParam();
  test::LogCapture capture;
  const auto size_before = mux_.descriptors().size();
  EXPECT_EQ(mux_.AddFd(Readable(c.fd)), c.fits);
  if (!c.fits) {
    EXPECT_EQ(mux_.descriptors().size(), size_before);
    EXPECT_EQ(mux_.read_set(), std::vector<int>{pipe_fd_});
    EXPECT_EQ(capture.Count("can not be watched by select"), 1u);
  }
}

// -1 is what a failed OpenUdpSocket hands back; FD_SETSIZE is one past a POSIX fd_set.
INSTANTIATE_TEST_SUITE_P(Edges, SelectRange,
                         ::testing::Values(SelectCase{-1, false}, SelectCase{FD_SETSIZE - 1, true},
                                           SelectCase{FD_SETSIZE, kPastTheBitmapFits},
                                           SelectCase{FD_SETSIZE + 100, kPastTheBitmapFits}));

TEST_F(MultiplexerTest, WaitReturnsAtOnceOnAWakeFromAnotherThread) {
  int wakes = 0;
  IoDescriptor counter = Readable(FakeFds(1)[0]);
  counter.events = 0;  // never selected, only told about wakes
  counter.on_wake = [&] { ++wakes; };
  ASSERT_TRUE(mux_.AddFd(counter));

  std::thread waker([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    mux_.Wake();
  });
  const auto start = Clock::now();
  mux_.Wait(20000);
  const auto waited = Clock::now() - start;
  waker.join();
  EXPECT_EQ(wakes, 1);
  // A wake that did not arrive would hold the wait for its whole 20 s.
  EXPECT_LT(waited, std::chrono::seconds(10));

  // The byte was drained: a poll finds nothing.
  mux_.Wait(0);
  EXPECT_EQ(wakes, 1);
}

TEST_F(MultiplexerTest, TwoWakesBeforeOneWaitAreDrainedTogether) {
  int wakes = 0;
  IoDescriptor counter = Readable(FakeFds(1)[0]);
  counter.events = 0;
  counter.on_wake = [&] { ++wakes; };
  ASSERT_TRUE(mux_.AddFd(counter));

  mux_.Wake();
  mux_.Wake();
  mux_.Wait(5000);
  EXPECT_EQ(wakes, 1);
  mux_.Wait(0);
  EXPECT_EQ(wakes, 1);
}

TEST_F(MultiplexerTest, IdleWaitTimesOutAndTheFirstCheckTicks) {
  std::vector<TimePoint> ticks;
  IoDescriptor ticking = Readable(FakeFds(1)[0]);
  ticking.events = 0;
  ticking.on_tick = [&](TimePoint now) { ticks.push_back(now); };
  ASSERT_TRUE(mux_.AddFd(ticking));

  const auto start = Clock::now();
  mux_.Wait(50);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
  ASSERT_EQ(ticks.size(), 1u);
  // Checked again at once there is no second tick. A loaded machine may hold this thread for
  // more than 50 ms between the two checks, and then the second tick is due: the clock read
  // after the check says which of the two it has to be.
  mux_.CheckTick();
  if (Clock::now() - ticks[0] <= std::chrono::milliseconds(50)) {
    EXPECT_EQ(ticks.size(), 1u);
  } else if (ticks.size() == 2u) {
    EXPECT_GT(ticks[1] - ticks[0], std::chrono::milliseconds(50));
  }
  EXPECT_LE(ticks.size(), 2u);
}

TEST_F(MultiplexerTest, FailingSelectPausesAndIsLoggedOnceUntilItSucceeds) {
  test::LogCapture capture;
  // A registered socket that is closed behind the multiplexer's back fails every select at once.
  const int fd = OpenUdpSocket(0, true, false, false, "127.0.0.1", "");
  ASSERT_NE(fd, platform::kInvalidSocket);
  ASSERT_TRUE(mux_.AddFd(Readable(fd)));
  ASSERT_EQ(platform::SocketClose(fd), 0);

  const auto start = Clock::now();
  for (int i = 0; i < 3; ++i) mux_.Wait(0);
  // Each failed wait pauses for a tick period rather than returning at once to be spun on.
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(120));
  EXPECT_EQ(capture.Count("select failed"), 1u);

  // A wait that succeeds ends the failure; the next one is told again.
  ASSERT_TRUE(mux_.RemoveFd(Readable(fd)));
  mux_.Wait(0);
  ASSERT_TRUE(mux_.AddFd(Readable(fd)));
  mux_.Wait(0);
  EXPECT_EQ(capture.Count("select failed"), 2u);
  ASSERT_TRUE(mux_.RemoveFd(Readable(fd)));
}

TEST_F(MultiplexerTest, ReadySocketsAreServedInAscendingOrderWithTheirMask) {
  test::UdpPair a, b;
  ASSERT_TRUE(a.ok() && b.ok());
  std::vector<int> served;
  ASSERT_TRUE(mux_.AddFd(Readable(b.receiver, [&](int ready, int mask) {
    EXPECT_EQ(mask, kIoReadable);
    served.push_back(ready);
  })));
  ASSERT_TRUE(mux_.AddFd(Readable(a.receiver, [&](int ready, int mask) {
    EXPECT_EQ(mask, kIoReadable);
    served.push_back(ready);
  })));
  // The handlers leave the datagrams unread, so both stay readable once they have arrived;
  // sending again covers a datagram loopback dropped.
  ASSERT_TRUE(test::WaitFor([&] {
    a.Send();
    b.Send();
    served.clear();
    mux_.Wait(100);
    return served.size() == 2;
  }));
  EXPECT_EQ(served, (std::vector<int>{std::min(a.receiver, b.receiver),
                                      std::max(a.receiver, b.receiver)}));
}

// A ready handler that counts how often it is copied.
struct CopyCounted {
  explicit CopyCounted(int* counter) : copies(counter) {}
  CopyCounted(const CopyCounted& other) : copies(other.copies) { ++*copies; }
  void operator()(int, int) const {}
  int* copies;
};

TEST_F(MultiplexerTest, DescriptorsThatAreNotReadyAreNotCopiedByTheDispatch) {
  test::UdpPair busy, idle;
  ASSERT_TRUE(busy.ok() && idle.ok());
  int busy_calls = 0;
  int idle_copies = 0;
  ASSERT_TRUE(mux_.AddFd(Readable(busy.receiver, [&](int, int) { ++busy_calls; })));
  ASSERT_TRUE(mux_.AddFd(Readable(idle.receiver, CopyCounted(&idle_copies))));
  idle_copies = 0;  // the copies registration made
  // Every datagram passes through this walk: copying each registration's handlers for it
  // would cost one allocation per registered socket and datagram.
  ASSERT_TRUE(test::WaitFor([&] {
    busy.Send();
    mux_.Wait(100);
    return busy_calls > 0;
  }));
  EXPECT_EQ(idle_copies, 0);
}

TEST_F(MultiplexerTest, ADescriptorRemovedByAnEarlierHandlerIsNotCalled) {
  test::UdpPair a, b;
  ASSERT_TRUE(a.ok() && b.ok());
  const int first = std::min(a.receiver, b.receiver);
  const int second = std::max(a.receiver, b.receiver);
  int second_calls = 0;
  int first_calls = 0;
  ASSERT_TRUE(mux_.AddFd(Readable(first, [&](int, int) {
    ++first_calls;
    mux_.RemoveFd(Readable(second));
    mux_.RemoveFd(Readable(first));
  })));
  ASSERT_TRUE(mux_.AddFd(Readable(second, [&](int, int) { ++second_calls; })));
  ASSERT_TRUE(test::WaitFor([&] {
    a.Send();
    b.Send();
    platform::SocketSet set;
    set.Add(first);
    set.Add(second);
    return platform::SocketSelect(second + 1, &set, nullptr, 100) == 2;
  }));
  mux_.Wait(1000);
  EXPECT_EQ(first_calls, 1);
  EXPECT_EQ(second_calls, 0);
  EXPECT_EQ(mux_.descriptors().size(), 1u);
}

TEST(MultiplexerTeardown, ClosesEachPipeEndExactlyOnce) {
  auto mux = std::make_unique<MultipleIOSelect>();
  ASSERT_TRUE(mux->Setup(48));
  const int pipe_fd = mux->wake_up_read_end();
  mux->Teardown();
  EXPECT_EQ(mux->wake_up_read_end(), -1);
  EXPECT_EQ(mux->descriptors().count(pipe_fd), 0u);
  EXPECT_TRUE(mux->read_set().empty());
  mux->Wake();  // without a pipe: nothing to signal, no fault

  // POSIX hands the freed numbers to the next sockets. A second close of the pipe's ends at
  // destruction would close these instead.
  const int reused_a = OpenUdpSocket(0, true, false, false, "127.0.0.1", "");
  const int reused_b = OpenUdpSocket(0, true, false, false, "127.0.0.1", "");
  ASSERT_GE(reused_a, 0);
  ASSERT_GE(reused_b, 0);
  mux.reset();
  int type = 0;
  EXPECT_TRUE(platform::SocketGetOption(reused_a, SOL_SOCKET, SO_TYPE, &type));
  EXPECT_TRUE(platform::SocketGetOption(reused_b, SOL_SOCKET, SO_TYPE, &type));
  CloseSocket(reused_a);
  CloseSocket(reused_b);
}

}  // namespace
}  // namespace kesto::lidar
