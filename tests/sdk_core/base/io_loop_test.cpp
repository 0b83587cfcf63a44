#include "io_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "counting_delegate.h"
#include "log_capture.h"
#include "loopback.h"
#include "multiple_io_select.h"

namespace kesto::lidar {
namespace {

using Clock = std::chrono::steady_clock;
using test::CountingDelegate;
using test::UdpPair;

// A loop driven by hand on the test's thread, which is then its loop thread: every iteration
// is one explicit RunOnce, so counts can be checked between iterations.
class DrivenLoop : public ::testing::Test {
 protected:
  void Make(bool enable_tick, bool enable_wake) {
    loop_ = std::make_shared<IOLoop>(enable_tick, enable_wake);
    ASSERT_TRUE(loop_->Init());
    delegate_.ExpectThread(std::this_thread::get_id());
  }
  void TearDown() override {
    if (loop_) loop_->Shutdown();
  }
  // Runs iterations for at least `span` of steady time.
  void RunFor(std::chrono::milliseconds span) {
    const auto until = Clock::now() + span;
    while (Clock::now() < until) loop_->RunOnce();
  }
  auto Step() {
    return [this] { loop_->RunOnce(); };
  }
  std::size_t Registered() const { return loop_->multiplexer()->descriptors().size() - 1; }

  std::shared_ptr<IOLoop> loop_;
  CountingDelegate delegate_;
};

TEST_F(DrivenLoop, TaskPostedFromAnotherThreadRunsOnTheLoopThreadAfterTheWakeByte) {
  Make(false, true);
  UdpPair pair;
  ASSERT_TRUE(pair.ok());
  loop_->AddDelegateInLoop(pair.receiver, &delegate_, nullptr);

  std::thread::id ran_on;
  int runs = 0;
  std::thread poster([&] {
    loop_->Post([&] {
      ++runs;
      ran_on = std::this_thread::get_id();
      delegate_.Note("task");
    });
  });
  poster.join();
  loop_->RunOnce();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(ran_on, std::this_thread::get_id());
  // The wait ended on the wake-up byte (the wake handler ran) rather than on its 50 ms bound,
  // and the task ran after it in the same iteration.
  EXPECT_EQ(delegate_.events(), (std::vector<std::string>{"wake", "task"}));

  loop_->RunOnce();
  EXPECT_EQ(runs, 1);
}

TEST_F(DrivenLoop, TaskPostedByATaskRunsInTheNextIteration) {
  Make(false, true);
  UdpPair pair;
  ASSERT_TRUE(pair.ok());
  loop_->AddDelegateInLoop(pair.receiver, &delegate_, nullptr);

  std::vector<std::string> ran;
  loop_->Post([&] {
    ran.push_back("outer");
    loop_->Post([&] { ran.push_back("inner"); });
  });
  loop_->RunOnce();
  EXPECT_EQ(ran, std::vector<std::string>{"outer"});
  loop_->RunOnce();
  EXPECT_EQ(ran, (std::vector<std::string>{"outer", "inner"}));
  // One wake per post: the second iteration's wait also returned on a wake byte.
  EXPECT_EQ(delegate_.wake_count(), 2);
}

TEST_F(DrivenLoop, NoDataBeforeTheRegistrationTaskHasRun) {
  Make(false, false);
  UdpPair pair;
  ASSERT_TRUE(pair.ok());
  ASSERT_TRUE(pair.Send());
  int client = 7;
  loop_->AddDelegate(pair.receiver, &delegate_, &client);
  EXPECT_EQ(Registered(), 0u);

  loop_->RunOnce();  // waits without the socket, then registers it
  EXPECT_EQ(delegate_.data_count(), 0u);
  EXPECT_EQ(Registered(), 1u);
  ASSERT_TRUE(test::DeliverUntil(pair, Step(), [&] { return delegate_.data_count() > 0; }));
  for (void* data : delegate_.data()) EXPECT_EQ(data, &client);
}

struct OrderCase {
  const char* name;
  std::vector<bool> adds;  // true: AddDelegate, false: RemoveDelegate, in call order
  bool served;
};

class RegistrationOrder : public DrivenLoop, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(RegistrationOrder, AddAndRemoveTakeEffectInCallOrder) {
  Make(false, false);
  UdpPair pair;
  ASSERT_TRUE(pair.ok());
  for (bool add : GetParam().adds) {
    if (add) {
      loop_->AddDelegate(pair.receiver, &delegate_, nullptr);
    } else {
      loop_->RemoveDelegate(pair.receiver);
    }
  }
  loop_->RunOnce();  // applies the registrations, in call order
  EXPECT_EQ(Registered(), GetParam().served ? 1u : 0u);
  if (GetParam().served) {
    EXPECT_TRUE(test::DeliverUntil(pair, Step(), [&] { return delegate_.data_count() > 0; }));
  } else {
    ASSERT_TRUE(pair.Send());
    for (int i = 0; i < 4; ++i) loop_->RunOnce();
    EXPECT_EQ(delegate_.data_count(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, RegistrationOrder,
    ::testing::Values(OrderCase{"add", {true}, true}, OrderCase{"add_remove", {true, false}, false},
                      OrderCase{"remove_add", {false, true}, true},
                      OrderCase{"add_remove_add", {true, false, true}, true},
                      OrderCase{"remove_unknown", {false}, false}),
    [](const ::testing::TestParamInfo<OrderCase>& c) { return std::string(c.param.name); });

TEST_F(DrivenLoop, SecondRegistrationOfASocketReplacesTheFirstDelegate) {
  Make(false, false);
  UdpPair pair;
  ASSERT_TRUE(pair.ok());
  CountingDelegate second;
  loop_->AddDelegate(pair.receiver, &delegate_, nullptr);
  loop_->AddDelegate(pair.receiver, &second, nullptr);
  loop_->RunOnce();
  ASSERT_TRUE(test::DeliverUntil(pair, Step(), [&] { return second.data_count() > 0; }));
  EXPECT_EQ(delegate_.data_count(), 0u);
}

struct FlagCase {
  const char* name;
  bool enable_tick;
  bool enable_wake;
};

class LoopFlags : public DrivenLoop, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(LoopFlags, TicksAndWakesReachDelegatesOnlyWhenEnabled) {
  const FlagCase& c = GetParam();
  Make(c.enable_tick, c.enable_wake);
  UdpPair pair;
  ASSERT_TRUE(pair.ok());
  loop_->AddDelegateInLoop(pair.receiver, &delegate_, nullptr);
  loop_->Post([] {});
  // Long enough for several 50 ms ticks on any machine that runs the loop at all.
  RunFor(std::chrono::milliseconds(400));

  const auto ticks = delegate_.ticks();
  EXPECT_EQ(!ticks.empty(), c.enable_tick);
  for (std::size_t i = 1; i < ticks.size(); ++i) {
    EXPECT_GT(ticks[i] - ticks[i - 1], std::chrono::milliseconds(50)) << i;
  }
  EXPECT_EQ(delegate_.wake_count(), c.enable_wake ? 1 : 0);
  EXPECT_FALSE(delegate_.off_thread());
}

INSTANTIATE_TEST_SUITE_P(Flags, LoopFlags,
                         ::testing::Values(FlagCase{"tick_only", true, false},
                                           FlagCase{"wake_only", false, true},
                                           FlagCase{"both", true, true},
                                           FlagCase{"neither", false, false}),
                         [](const ::testing::TestParamInfo<FlagCase>& c) {
                           return std::string(c.param.name);
                         });

TEST_F(DrivenLoop, RegistrationBeyond48SocketsIsNeverServed) {
  Make(false, false);
  constexpr int kSockets = IOLoop::kMaxSockets + 1;
  std::vector<std::unique_ptr<UdpPair>> pairs;
  std::vector<int> ids(kSockets);
  for (int i = 0; i < kSockets; ++i) {
    pairs.push_back(std::make_unique<UdpPair>());
    ASSERT_TRUE(pairs.back()->ok()) << i;
    ids[i] = i;
    loop_->AddDelegate(pairs.back()->receiver, &delegate_, &ids[i]);
  }
  loop_->RunOnce();
  EXPECT_EQ(Registered(), static_cast<std::size_t>(IOLoop::kMaxSockets));

  // Every socket, the refused one included, gets datagrams until the 48 registered ones were
  // all served (again every 200 ms, in case loopback dropped one).
  std::vector<int> served(kSockets, 0);
  const auto count = [&] {
    std::fill(served.begin(), served.end(), 0);
    for (void* id : delegate_.data()) ++served[*static_cast<int*>(id)];
    return std::count_if(served.begin(), served.end() - 1, [](int n) { return n > 0; });
  };
  const auto until = Clock::now() + std::chrono::seconds(10);
  auto next_send = Clock::now();
  while (count() < IOLoop::kMaxSockets && Clock::now() < until) {
    if (Clock::now() >= next_send) {
      for (int i = 0; i < kSockets; ++i) {
        if (served[i] == 0) pairs[i]->Send();
      }
      next_send = Clock::now() + std::chrono::milliseconds(200);
    }
    loop_->RunOnce();
  }
  for (int i = 0; i < 3; ++i) loop_->RunOnce();
  count();
  for (int i = 0; i < IOLoop::kMaxSockets; ++i) {
    EXPECT_GE(served[i], 1) << "socket " << i << " fd " << pairs[i]->receiver;
  }
  EXPECT_EQ(served[kSockets - 1], 0);
}

TEST(IOLoop, QueuedTasksAreDestroyedUnrunWithTheLoop) {
  auto loop = std::make_shared<IOLoop>(true, false);
  ASSERT_TRUE(loop->Init());
  auto guard = std::make_shared<int>(0);
  std::weak_ptr<int> watch = guard;
  int runs = 0;
  loop->Post([guard, &runs] { ++runs; });
  guard.reset();
  EXPECT_FALSE(watch.expired());
  loop->Shutdown();
  loop.reset();
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(runs, 0);
}

TEST(IOLoop, EmptyTaskIsRefusedWithOneLogLine) {
  test::LogCapture capture;
  auto loop = std::make_shared<IOLoop>(false, false);
  ASSERT_TRUE(loop->Init());
  loop->Post(IOLoop::Task());
  loop->RunOnce();  // would throw std::bad_function_call had it been queued
  EXPECT_EQ(capture.Texts(), std::vector<std::string>{"Post empty task, ignored."});
  loop->Shutdown();
}

TEST(IOLoop, InitSetsUpFortyEightSocketsAndThePipe) {
  test::LogCapture capture;
  IOLoop loop(true, false);
  EXPECT_EQ(loop.multiplexer(), nullptr);
  ASSERT_TRUE(loop.Init());
  auto* select = dynamic_cast<MultipleIOSelect*>(loop.multiplexer());
  ASSERT_NE(select, nullptr);
  EXPECT_EQ(select->capacity(), IOLoop::kMaxSockets + 1);
  EXPECT_EQ(select->descriptors().size(), 1u);
  EXPECT_TRUE(capture.Texts().empty());
  loop.Shutdown();
}

// A delegate whose observers throw on every call; it still reads each datagram first.
class ThrowingDelegate : public IOLoop::IOLoopDelegate {
 public:
  void OnData(int fd, void*) override {
    char buffer[64];
    sockaddr_in from{};
    platform::SockLen length = sizeof(from);
    ReceiveFrom(fd, buffer, sizeof(buffer), &from, &length);
    ++data;
    throw std::runtime_error("observer failed");
  }
  void OnTick(TimePoint) override {
    ++ticks;
    throw 7;  // not even a std::exception
  }
  void OnWake() override {
    ++wakes;
    throw std::runtime_error("wake failed");
  }
  std::atomic<int> data{0};
  std::atomic<int> ticks{0};
  std::atomic<int> wakes{0};
};

TEST_F(DrivenLoop, ADelegateThatThrowsIsLoggedAndTheLoopGoesOnServingEveryone) {
  test::LogCapture capture;
  Make(true, true);
  // The thrower's socket is opened first, so it usually sorts first and is served before the
  // other socket in each dispatch.
  UdpPair bad;
  UdpPair good;
  ASSERT_TRUE(bad.ok() && good.ok());
  ThrowingDelegate thrower;
  loop_->AddDelegateInLoop(bad.receiver, &thrower, nullptr);
  loop_->AddDelegateInLoop(good.receiver, &delegate_, nullptr);
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(test::DeliverUntil(bad, Step(), [&] { return thrower.data.load() > round; }));
    ASSERT_TRUE(test::DeliverUntil(good, Step(), [&] {
      return delegate_.data_count() > static_cast<std::size_t>(round);
    }));
  }
  loop_->Post([] {});  // a wake-up: both delegates' OnWake
  ASSERT_TRUE(test::WaitFor([&] {
    loop_->RunOnce();
    return thrower.wakes.load() > 0 && delegate_.wake_count() > 0 && thrower.ticks.load() > 1 &&
           delegate_.ticks().size() > 1;
  }));
  EXPECT_GE(capture.Count("IO loop OnData threw: observer failed"), 3u);
  EXPECT_GE(capture.Count("IO loop OnTick threw: an exception of unknown type"), 2u);
  EXPECT_GE(capture.Count("IO loop OnWake threw: wake failed"), 1u);
  EXPECT_FALSE(delegate_.off_thread());
}

TEST_F(DrivenLoop, ATaskThatThrowsDoesNotDropTheTasksAfterIt) {
  test::LogCapture capture;
  Make(false, false);
  int after = 0;
  loop_->Post([] { throw std::runtime_error("task failed"); });
  loop_->Post([&after] { ++after; });
  loop_->RunOnce();
  EXPECT_EQ(after, 1);
  EXPECT_EQ(capture.Texts(), std::vector<std::string>{"IO loop task threw: task failed"});
}

TEST(IOLoop, LoopThreadIsTheOneThatRunsIt) {
  auto loop = std::make_shared<IOLoop>(false, false);
  ASSERT_TRUE(loop->Init());
  // Before the loop has run, the owner stands in for the loop thread.
  EXPECT_TRUE(loop->CalledOnLoopThread());
  bool inside = false;
  loop->Post([&] { inside = loop->CalledOnLoopThread(); });
  std::thread runner([&] { loop->RunOnce(); });
  runner.join();
  EXPECT_TRUE(inside);
  EXPECT_FALSE(loop->CalledOnLoopThread());
  loop->Shutdown();
}

}  // namespace
}  // namespace kesto::lidar
