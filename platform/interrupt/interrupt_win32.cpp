#include "interrupt.h"

#include "console_control_win32.h"

#include <atomic>
#include <csignal>
#include <mutex>

namespace kesto::platform {
namespace {

std::atomic<bool> g_raised{false};
// Manual-reset event that wakes the waiter. Created once, under g_install_mutex, before any
// handler is installed.
std::atomic<HANDLE> g_wake{nullptr};
// Manual-reset event set by NotifyStopped, awaited by the close handler. Created with g_wake.
std::atomic<HANDLE> g_stopped{nullptr};
std::mutex g_install_mutex;
bool g_installed = false;

void Raise() {
  g_raised.store(true);
  if (HANDLE wake = g_wake.load(); wake != nullptr) SetEvent(wake);
}

// SIGINT and SIGTERM raised inside the process. The runtime resets a signal to its default
// before calling the handler, so the handler puts itself back.
extern "C" void OnSignal(int signal_number) {
  Raise();
  std::signal(signal_number, OnSignal);
}

// One wait for the wake-up event, at most `limit_ms`. Without the event (no handler installed)
// the flag is looked at every 100 ms.
void WaitOnce(DWORD limit_ms) {
  HANDLE wake = g_wake.load();
  if (wake != nullptr) {
    WaitForSingleObject(wake, limit_ms);
  } else {
    Sleep(limit_ms < 100 ? limit_ms : 100);
  }
}

}  // namespace

namespace win32 {

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      Raise();
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      Raise();
      // Returning lets Windows end the process; the main thread's stop (the stop commands to
      // each lidar, the end line) must have run by then.
      if (HANDLE stopped = g_stopped.load(); stopped != nullptr) {
        WaitForSingleObject(stopped, kCloseGraceMs);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace win32

bool InstallInterruptHandler() {
  std::lock_guard<std::mutex> lock(g_install_mutex);
  if (g_installed) return true;
  if (g_wake.load() == nullptr) {
    HANDLE wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (wake == nullptr) return false;
    g_wake.store(wake);
  }
  if (g_stopped.load() == nullptr) {
    HANDLE stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (stopped == nullptr) return false;
    g_stopped.store(stopped);
  }
  if (std::signal(SIGINT, OnSignal) == SIG_ERR || std::signal(SIGTERM, OnSignal) == SIG_ERR) {
    return false;
  }
  // Installed after the runtime's own console handler (if signal() set one up), so it is asked
  // first.
  if (!SetConsoleCtrlHandler(win32::OnConsoleControl, TRUE)) return false;
  g_installed = true;
  return true;
}

void WaitForInterrupt() {
  while (!g_raised.load()) WaitOnce(INFINITE);
}

bool WaitForInterruptFor(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!g_raised.load()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    // Rounded up, so the wait never ends before its time.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    WaitOnce(static_cast<DWORD>(left.count()));
  }
  return true;
}

bool InterruptRaised() { return g_raised.load(); }

void NotifyStopped() {
  if (HANDLE stopped = g_stopped.load(); stopped != nullptr) SetEvent(stopped);
}

void ClearInterrupt() {
  g_raised.store(false);
  if (HANDLE wake = g_wake.load(); wake != nullptr) ResetEvent(wake);
  if (HANDLE stopped = g_stopped.load(); stopped != nullptr) ResetEvent(stopped);
}

}  // namespace kesto::platform
