#include "interrupt.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace kesto::platform {
namespace {

// An interrupt sent to the whole process, the way a user or a service manager sends it: Ctrl-C
// on the console (Windows), SIGTERM to the process (POSIX, delivered to whichever thread).
// False when it could not be sent.
bool SendProcessInterrupt() {
#ifdef _WIN32
  return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
#else
  return kill(getpid(), SIGTERM) == 0;
#endif
}

// Whether a console event that was sent may still never arrive (Wine without a console).
#ifdef _WIN32
constexpr bool kConsoleEventsMayBeLost = true;
#else
constexpr bool kConsoleEventsMayBeLost = false;
#endif

class InterruptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InstallInterruptHandler());
    ClearInterrupt();
  }
  void TearDown() override { ClearInterrupt(); }
};

TEST_F(InterruptTest, EachSignalEndsAWaitThatStartedBeforeOrAfterIt) {
  for (const int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    ClearInterrupt();
    ASSERT_FALSE(InterruptRaised());
    std::thread waiter([] { WaitForInterrupt(); });
    ASSERT_EQ(std::raise(signal_number), 0);
    waiter.join();  // a lost wake-up hangs here, and the test's time limit reports it
    EXPECT_TRUE(InterruptRaised());

    // Already raised: the next wait does not block.
    WaitForInterrupt();

    // Raised before anyone waits: the wake-up is not lost.
    ClearInterrupt();
    ASSERT_EQ(std::raise(signal_number), 0);
    std::thread late_waiter([] { WaitForInterrupt(); });
    late_waiter.join();
    EXPECT_TRUE(InterruptRaised());
  }
}

TEST_F(InterruptTest, ATimedWaitEndsAtItsTimeOrAtTheInterrupt) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WaitForInterruptFor(std::chrono::milliseconds(200)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));

  // An interrupt during the wait ends it long before its time.
  bool raised = false;
  std::thread waiter([&raised] { raised = WaitForInterruptFor(std::chrono::minutes(5)); });
  ASSERT_EQ(std::raise(SIGTERM), 0);
  waiter.join();
  EXPECT_TRUE(raised);
  // Already raised: at once, even with no time at all.
  EXPECT_TRUE(WaitForInterruptFor(std::chrono::milliseconds(0)));
}

TEST_F(InterruptTest, HandlersStayInstalledSoLaterInterruptsAreAbsorbed) {
  // The process survives each of these only if the handler is still in place.
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(std::raise(SIGINT), 0);
    ASSERT_EQ(std::raise(SIGTERM), 0);
  }
  EXPECT_TRUE(InterruptRaised());
  EXPECT_TRUE(InstallInterruptHandler());  // a second install changes nothing
  ClearInterrupt();
  EXPECT_FALSE(InterruptRaised());
  ASSERT_EQ(std::raise(SIGINT), 0);
  EXPECT_TRUE(InterruptRaised());
}

TEST_F(InterruptTest, AnInterruptSentToTheProcessWakesTheWaitingThread) {
  std::thread waiter([] { WaitForInterrupt(); });
  const bool sent = SendProcessInterrupt();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (sent && !InterruptRaised() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const bool arrived = InterruptRaised();
  if (!arrived) std::raise(SIGINT);  // releases the waiter
  waiter.join();
  if (!arrived && kConsoleEventsMayBeLost) {
    GTEST_SKIP() << "console control events are not delivered here (no console)";
  }
  EXPECT_TRUE(sent);
  EXPECT_TRUE(arrived);
}

}  // namespace
}  // namespace kesto::platform
