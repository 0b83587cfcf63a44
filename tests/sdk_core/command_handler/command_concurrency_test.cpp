// Commands sent from several threads while acknowledgements, failed sends and two time-out
// sweeps run on others: every command completes exactly once. Meant for ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "command_fixture.h"
#include "command_impl.h"

namespace kesto::test {
namespace {

constexpr int kSenders = 3;
constexpr int kPerSender = 150;
constexpr int kPrimaries = kSenders * kPerSender;

struct Slot {
  std::atomic<int> completions{0};
  std::atomic<int> status{1};
};

struct Shared {
  lidar::GeneralCommandHandler* handler;
  uint32_t handle;
  std::vector<Slot> slots = std::vector<Slot>(2 * kPrimaries);
};

struct SlotRef {
  Shared* shared;
  int index;
};

void Done(kesto_status status, uint32_t, KestoLidarAsyncControlResponse*, void* cd) {
  auto* ref = static_cast<SlotRef*>(cd);
  Slot& slot = ref->shared->slots[static_cast<size_t>(ref->index)];
  slot.status = status;
  slot.completions.fetch_add(1);
  // An acknowledged primary sends its follow-up from inside the completion.
  if (status == 0 && ref->index < kPrimaries) {
    lidar::SendWorkMode(*ref->shared->handler, ref->shared->handle, 2, Done, ref + kPrimaries);
  }
}

class CommandConcurrencyTest : public CommandFixture {};

TEST_F(CommandConcurrencyTest, EveryCommandCompletesExactlyOnce) {
  InitNormal();
  Discover(kKestoLidarDevTypeVela, vela_, kVelaIp);
  AnswerFwType(kKestoLidarDevTypeVela, vela_, 0);
  link_.ClearFrames();

  Shared shared{&handler(), vela_};
  std::vector<SlotRef> refs;
  for (int i = 0; i < 2 * kPrimaries; ++i) refs.push_back({&shared, i});

  std::atomic<bool> stop{false};
  std::atomic<int> sweeps{0};
  std::vector<std::thread> threads;
  // The lidar answers every other frame it sees (frames of this test only, so no lock is
  // needed on the index).
  threads.emplace_back([&] {
    size_t seen = 0;
    while (!stop.load()) {
      const auto frames = link_.Frames();
      for (; seen < frames.size(); ++seen) {
        if (seen % 2 == 0) continue;
        Receive(vela_, 56000,
                Ack(frames[seen].Command().seq, 0x0100, ControlAnswer(0, 0)));
      }
      std::this_thread::yield();
    }
  });
  // Two IO loops' ticks sweep at once, moving time on.
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      while (!stop.load()) {
        clock_.Advance(std::chrono::milliseconds(3));
        handler().CheckCommandTimeout(clock_.Now());
        sweeps.fetch_add(1);
        std::this_thread::yield();
      }
    });
  }
  // Sends fail now and then.
  threads.emplace_back([&] {
    for (int i = 0; i < 200 && !stop.load(); ++i) {
      link_.SetFailSends(i % 2 == 1);
      std::this_thread::yield();
    }
    link_.SetFailSends(false);
  });
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s) {
    senders.emplace_back([&, s] {
      // Sending starts once the sweeps run, so the two overlap even on a loaded machine.
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (sweeps.load() == 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
      }
      for (int i = 0; i < kPerSender; ++i) {
        SlotRef* ref = &refs[static_cast<size_t>(s * kPerSender + i)];
        EXPECT_EQ(lidar::SendWorkMode(handler(), vela_, 1, Done, ref), 0);
      }
    });
  }
  for (auto& sender : senders) sender.join();
  stop = true;
  for (auto& thread : threads) thread.join();
  handler().CheckCommandTimeout(clock_.Now() + std::chrono::hours(1));

  for (int i = 0; i < kPrimaries; ++i) {
    const Slot& primary = shared.slots[static_cast<size_t>(i)];
    const Slot& follow_up = shared.slots[static_cast<size_t>(i + kPrimaries)];
    ASSERT_EQ(primary.completions.load(), 1) << "command " << i;
    ASSERT_EQ(follow_up.completions.load(), primary.status.load() == 0 ? 1 : 0) << "command " << i;
  }
  EXPECT_EQ(handler().PendingCommandCount(), 0u);
}

}  // namespace
}  // namespace kesto::test
