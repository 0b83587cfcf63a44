#include "interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

namespace kesto::platform {
namespace {

static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set inside a signal handler");

std::atomic<bool> g_raised{false};
// The self-pipe. Written once, under g_install_mutex, before any handler is installed, and only
// read afterwards (by the handler and the waiter).
int g_wake_read = -1;
int g_wake_write = -1;
std::mutex g_install_mutex;
bool g_installed = false;

extern "C" void OnInterrupt(int) {
  const int saved_errno = errno;
  g_raised.store(true);
  // Non-blocking: with the pipe full a wake-up is already pending and the byte is not needed.
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(g_wake_write, &byte, 1);
  errno = saved_errno;
}

bool SetFlags(int fd) {
  const int status = fcntl(fd, F_GETFL);
  const int descriptor = fcntl(fd, F_GETFD);
  return status >= 0 && descriptor >= 0 && fcntl(fd, F_SETFL, status | O_NONBLOCK) == 0 &&
         fcntl(fd, F_SETFD, descriptor | FD_CLOEXEC) == 0;
}

void DrainWakeUps() {
  if (g_wake_read < 0) return;
  char bytes[64];
  while (read(g_wake_read, bytes, sizeof bytes) > 0) {
  }
}

// One wait for a wake-up, at most `limit_ms` (negative: no limit). Without a pipe (no handler
// installed) the flag is looked at every 100 ms.
void WaitOnce(int limit_ms) {
  int wait_ms = limit_ms;
  if (g_wake_read < 0 && (wait_ms < 0 || wait_ms > 100)) wait_ms = 100;
  pollfd wake{g_wake_read, POLLIN, 0};
  if (poll(&wake, 1, wait_ms) > 0) DrainWakeUps();
}

}  // namespace

bool InstallInterruptHandler() {
  std::lock_guard<std::mutex> lock(g_install_mutex);
  if (g_installed) return true;
  if (g_wake_read < 0) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    if (!SetFlags(fds[0]) || !SetFlags(fds[1])) {
      close(fds[0]);
      close(fds[1]);
      return false;
    }
    g_wake_read = fds[0];
    g_wake_write = fds[1];
  }
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0) {
    return false;
  }
  g_installed = true;
  return true;
}

void WaitForInterrupt() {
  while (!g_raised.load()) WaitOnce(-1);
}

bool WaitForInterruptFor(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!g_raised.load()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    // Rounded up, so the wait never ends before its time.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    WaitOnce(static_cast<int>(left.count()));
  }
  return true;
}

bool InterruptRaised() { return g_raised.load(); }

void NotifyStopped() {}

void ClearInterrupt() {
  g_raised.store(false);
  DrainWakeUps();
}

}  // namespace kesto::platform
