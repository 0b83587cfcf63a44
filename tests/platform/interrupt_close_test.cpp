// Win32 only: the console window closing (and log-off, shutdown). The system ends the process
// once the handler returns, so the handler must hold it until the main thread's orderly stop is
// done. The events are delivered by calling the registered handler on a thread of the test's
// own, as the system would on one of its.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "console_control_win32.h"
#include "interrupt.h"

namespace kesto::platform {
namespace {

class InterruptCloseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InstallInterruptHandler());
    ClearInterrupt();
  }
  void TearDown() override { ClearInterrupt(); }
};

TEST_F(InterruptCloseTest, ACloseWaitsForTheMainThreadsStop) {
  for (const DWORD event : {DWORD{CTRL_CLOSE_EVENT}, DWORD{CTRL_LOGOFF_EVENT},
                            DWORD{CTRL_SHUTDOWN_EVENT}}) {
    SCOPED_TRACE(event);
    ClearInterrupt();
    std::atomic<bool> returned{false};
    BOOL handled = FALSE;
    std::thread system([&] {
      handled = win32::OnConsoleControl(event);
      returned = true;
    });
    WaitForInterrupt();  // the main thread is told, and starts its stop
    // Its stop is under way: the process must not be let go yet. (The handler's own limit is
    // seconds away; nothing here takes that long.)
    EXPECT_FALSE(returned.load());
    NotifyStopped();
    system.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(handled, TRUE);
  }
}

TEST_F(InterruptCloseTest, ACloseWhoseStopNeverEndsIsLetGoWithinTheGracePeriod) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(win32::OnConsoleControl(CTRL_CLOSE_EVENT), TRUE);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(InterruptRaised());
  // Held for the grace period (timer granularity allowed for), and let go before Windows's own
  // limit of about five seconds would end the process anyway.
  EXPECT_GE(waited, std::chrono::milliseconds(win32::kCloseGraceMs - 50));
  EXPECT_LT(win32::kCloseGraceMs, 5000u);
}

TEST_F(InterruptCloseTest, CtrlCAndCtrlBreakReturnAtOnceAndOthersAreNotHandled) {
  // Without NotifyStopped: a wait here would last the whole grace period each time.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(win32::OnConsoleControl(CTRL_C_EVENT), TRUE);
  EXPECT_EQ(win32::OnConsoleControl(CTRL_BREAK_EVENT), TRUE);
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(win32::kCloseGraceMs));
  EXPECT_TRUE(InterruptRaised());
  EXPECT_EQ(win32::OnConsoleControl(0x1234), FALSE);
}

}  // namespace
}  // namespace kesto::platform
