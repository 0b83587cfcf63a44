#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "counting_delegate.h"
#include "io_thread.h"
#include "log_capture.h"
#include "loopback.h"
#include "thread_base.h"

namespace kesto::lidar {
namespace {

using test::CountingDelegate;
using test::WaitFor;

constexpr char kNeverStarted[] = "failed to join thread, joinable:0";

// Spins until told to quit, counting its rounds.
class SpinningThread : public ThreadBase {
 public:
  ~SpinningThread() override {
    if (Started()) Join();
  }
  void ThreadMain() override {
    while (!quit_.load()) {
      ++rounds;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    saw_quit = true;
  }
  std::atomic<int> rounds{0};
  std::atomic<bool> saw_quit{false};
};

TEST(ThreadBase, JoinOfANeverStartedThreadLogsZeroAndReturns) {
  SpinningThread thread;
  test::LogCapture capture;
  thread.Join();
  EXPECT_EQ(capture.Texts(), std::vector<std::string>{kNeverStarted});
  thread.Join();  // and again: still only the message
  EXPECT_EQ(capture.Texts(), (std::vector<std::string>{kNeverStarted, kNeverStarted}));
}

TEST(ThreadBase, StartRunsTheBodyUntilJoinSetsTheQuitFlag) {
  SpinningThread thread;
  ASSERT_TRUE(thread.Start());
  ASSERT_TRUE(WaitFor([&] { return thread.rounds.load() > 0; }));
  test::LogCapture capture;
  thread.Join();
  EXPECT_TRUE(capture.Lines().empty());
  EXPECT_TRUE(thread.saw_quit);
  // The handle was released: a second Join finds nothing to join.
  thread.Join();
  EXPECT_EQ(capture.Texts(), std::vector<std::string>{kNeverStarted});
}

TEST(ThreadBase, SecondStartIsRefusedWhileTheFirstThreadRuns) {
  test::LogCapture capture;
  SpinningThread thread;
  ASSERT_TRUE(thread.Start());
  EXPECT_FALSE(thread.Start());
  EXPECT_EQ(capture.Texts(), std::vector<std::string>{"Thread already started."});
  thread.Join();
  // Joined threads may be started again.
  EXPECT_TRUE(thread.Start());
  thread.Join();
}

// A body that lets an exception out ends its own thread, with one line, not the process.
class ThrowingThread : public ThreadBase {
 public:
  ~ThrowingThread() override {
    if (Started()) Join();
  }
  void ThreadMain() override { throw std::runtime_error("body failed"); }
};

TEST(ThreadBase, ABodyThatThrowsEndsItsThreadWithOneLogLine) {
  test::LogCapture capture;
  ThrowingThread thread;
  ASSERT_TRUE(thread.Start());
  ASSERT_TRUE(WaitFor([&] { return capture.Count("Thread body threw: body failed") == 1; }));
  thread.Join();
  EXPECT_EQ(capture.Texts(), std::vector<std::string>{"Thread body threw: body failed"});
}

TEST(IOThread, DestroyingAnInitialisedButNeverStartedThreadLogsZero) {
  auto thread = std::make_unique<IOThread>();
  ASSERT_TRUE(thread->Init(true, false));
  test::LogCapture capture;
  thread.reset();
  EXPECT_EQ(capture.Texts(), std::vector<std::string>{kNeverStarted});
}

TEST(IOThread, WithoutALoopTheThreadReturnsAtOnce) {
  IOThread thread;
  EXPECT_TRUE(thread.GetLoop().expired());
  ASSERT_TRUE(thread.Start());
  thread.Join();  // would hang if the body looped without a loop
}

TEST(IOThread, QueuedTasksAreDestroyedUnrunWhenTheThreadGoes) {
  auto thread = std::make_unique<IOThread>();
  ASSERT_TRUE(thread->Init(true, false));
  auto guard = std::make_shared<int>(0);
  std::weak_ptr<int> watch = guard;
  int runs = 0;
  thread->GetLoop().lock()->Post([guard, &runs] { ++runs; });
  guard.reset();
  ::testing::internal::CaptureStdout();
  thread.reset();
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(runs, 0);
}

TEST(IOThread, InitIsRefusedWhileTheThreadRuns) {
  test::LogCapture capture;
  IOThread thread;
  ASSERT_TRUE(thread.Init(true, false));
  const auto before = thread.GetLoop().lock();
  ASSERT_TRUE(thread.Start());
  EXPECT_FALSE(thread.Init(true, false));
  EXPECT_EQ(thread.GetLoop().lock(), before);
  EXPECT_EQ(capture.Count("IO thread is running, can not init its loop."), 1u);
  thread.Join();
}

// A running IO thread and a delegate that outlives it.
class RunningIOThread : public ::testing::Test {
 protected:
  void Start(bool enable_tick, bool enable_wake) {
    thread_ = std::make_unique<IOThread>();
    ASSERT_TRUE(thread_->Init(enable_tick, enable_wake));
    loop_ = thread_->GetLoop();
    ASSERT_TRUE(thread_->Start());
  }
  void TearDown() override { thread_.reset(); }
  // Runs `task` on the loop thread and waits for it.
  void RunOnLoop(std::function<void()> task) {
    std::atomic<bool> done{false};
    loop_.lock()->Post([&] {
      task();
      done = true;
    });
    ASSERT_TRUE(WaitFor([&] { return done.load(); }));
  }

  // Registers the fixture's delegate for the pair's receiver, telling it which thread every
  // callback must come from, and waits until the registration is in force.
  void Register(const test::UdpPair& pair, void* client_data) {
    std::thread::id loop_thread;
    RunOnLoop([&] { loop_thread = std::this_thread::get_id(); });
    delegate_.ExpectThread(loop_thread);
    loop_.lock()->AddDelegate(pair.receiver, &delegate_, client_data);
    RunOnLoop([] {});
  }
  // Unregisters and waits until that is in force too.
  void Unregister(const test::UdpPair& pair) {
    loop_.lock()->RemoveDelegate(pair.receiver);
    RunOnLoop([] {});
  }

  CountingDelegate delegate_;
  std::unique_ptr<IOThread> thread_;
  std::weak_ptr<IOLoop> loop_;
};

TEST_F(RunningIOThread, PostedTaskRunsOnTheLoopThread) {
  Start(true, false);
  std::thread::id loop_thread;
  bool on_loop = false;
  RunOnLoop([&] {
    loop_thread = std::this_thread::get_id();
    on_loop = loop_.lock()->CalledOnLoopThread();
  });
  EXPECT_NE(loop_thread, std::this_thread::get_id());
  EXPECT_TRUE(on_loop);
  EXPECT_FALSE(loop_.lock()->CalledOnLoopThread());
}

TEST_F(RunningIOThread, IdleLoopTicksMoreThan50MsApartOnTheLoopThread) {
  Start(true, false);
  test::UdpPair pair;
  ASSERT_TRUE(pair.ok());
  Register(pair, nullptr);
  ASSERT_TRUE(WaitFor([&] { return delegate_.ticks().size() >= 4; }));
  Unregister(pair);

  const auto ticks = delegate_.ticks();
  for (std::size_t i = 1; i < ticks.size(); ++i) {
    EXPECT_GT(ticks[i] - ticks[i - 1], std::chrono::milliseconds(50)) << i;
  }
  EXPECT_FALSE(delegate_.off_thread());
}

TEST_F(RunningIOThread, DatagramsReachTheDelegateOnTheLoopThread) {
  Start(true, false);
  test::UdpPair pair;
  ASSERT_TRUE(pair.ok());
  int client = 5;
  Register(pair, &client);
  constexpr std::size_t kDatagrams = 20;
  for (std::size_t i = 0; i < kDatagrams; ++i) ASSERT_TRUE(pair.Send(std::to_string(i)));
  ASSERT_TRUE(test::DeliverUntil(pair, test::Nap,
                                 [&] { return delegate_.data_count() >= kDatagrams; }));
  Unregister(pair);
  for (void* data : delegate_.data()) EXPECT_EQ(data, &client);
  EXPECT_FALSE(delegate_.off_thread());
}

TEST_F(RunningIOThread, EveryTaskPostedFromManyThreadsRunsExactlyOnce) {
  Start(true, false);
  constexpr int kPosters = 4;
  constexpr int kTasksEach = 2000;
  // Written only by the loop thread; read after the final round trip.
  std::vector<int> runs(kPosters * kTasksEach, 0);
  std::atomic<int> total{0};
  std::vector<std::thread> posters;
  for (int p = 0; p < kPosters; ++p) {
    posters.emplace_back([&, p] {
      for (int i = 0; i < kTasksEach; ++i) {
        const int id = p * kTasksEach + i;
        if (auto loop = loop_.lock()) loop->Post([&runs, &total, id] {
          ++runs[id];
          ++total;
        });
      }
    });
  }
  for (auto& poster : posters) poster.join();
  ASSERT_TRUE(WaitFor([&] { return total.load() >= kPosters * kTasksEach; }));
  RunOnLoop([] {});
  EXPECT_EQ(total.load(), kPosters * kTasksEach);
  for (std::size_t id = 0; id < runs.size(); ++id) ASSERT_EQ(runs[id], 1) << id;
}

TEST_F(RunningIOThread, PostsRacingTheThreadsDestructionAreSafe) {
  Start(true, false);
  std::atomic<bool> stop{false};
  std::atomic<int> posted{0};
  std::thread poster([&] {
    while (!stop) {
      if (auto loop = loop_.lock()) {
        loop->Post([] {});
        ++posted;
      }
    }
  });
  ASSERT_TRUE(WaitFor([&] { return posted.load() > 100; }));
  ::testing::internal::CaptureStdout();
  thread_.reset();  // joins, shuts the loop down while the poster may still hold it
  ::testing::internal::GetCapturedStdout();
  stop = true;
  poster.join();
  EXPECT_TRUE(loop_.expired());
}

}  // namespace
}  // namespace kesto::lidar
