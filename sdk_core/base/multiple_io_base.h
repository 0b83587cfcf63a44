#ifndef KESTO_LIDAR_BASE_MULTIPLE_IO_BASE_H_
#define KESTO_LIDAR_BASE_MULTIPLE_IO_BASE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "guarded_call.h"
#include "io_descriptor.h"
#include "noncopyable.h"
#include "wake_up_pipe.h"

namespace kesto::lidar {

// The readiness multiplexer of one IO loop: the table of registered sockets with their handlers,
// the periodic tick and the wake-up pipe. The platform wait lives in the derived class.
//
// Threads: everything except Wake runs on the loop thread, or on the owner's thread before the
// loop thread starts (Setup) and after it has been joined (Teardown, destruction). Wake comes from
// any posting thread; pipe_mutex_ keeps it off a pipe that Teardown is closing.
//
// Handlers are called in ascending socket order. A handler may add or remove registrations
// (through the loop's in-loop calls); the walk resumes after the socket it has just served, so a
// descriptor removed by an earlier handler is not called any more.
class MultipleIOBase : noncopyable {
 public:
  MultipleIOBase() = default;
  virtual ~MultipleIOBase();

  // Prepares for `sockets` registrations plus the wake-up pipe. Owner thread, before the loop.
  virtual bool Setup(int sockets) = 0;
  // Unregisters and closes the wake-up pipe and empties the platform sets. Owner thread, after
  // the loop thread has been joined.
  virtual void Teardown() = 0;
  // Inserts or replaces the registration of descriptor.fd. False when it cannot be served (table
  // full, or a socket the platform's wait cannot watch). Loop thread only.
  virtual bool AddFd(IoDescriptor descriptor) = 0;
  // Erases the registration of descriptor.fd, if any; true. Loop thread only.
  virtual bool RemoveFd(IoDescriptor descriptor) = 0;
  // Waits at most timeout_ms (negative: no limit) for a ready socket or a wake, calls the ready
  // handlers, then the tick check. Loop thread only.
  virtual void Wait(int timeout_ms) = 0;

  // Makes a blocked or the next Wait return at once. Safe from any thread.
  virtual void Wake();
  // A tick is due when strictly more than this has passed since the last one.
  static constexpr int64_t kTickIntervalNs = 50'000'000;

  // Calls every on_tick when more than kTickIntervalNs have passed since the last tick. Loop
  // thread only.
  virtual void CheckTick();
  // Opens a fresh wake-up pipe and registers its read end. Owner thread, before the loop.
  virtual bool InstallWakeUpPipe();
  // Unregisters, closes and drops the wake-up pipe. Owner thread, after the loop.
  virtual void RemoveWakeUpPipe();

  // The registrations, by socket. Loop thread only.
  const std::map<int, IoDescriptor>& descriptors() const { return descriptors_; }
  // The pipe's read end, or -1 without a pipe. Loop thread only.
  int wake_up_read_end() const;

 protected:
  // Calls handler(descriptor) for each registration in ascending socket order, tolerating
  // registrations changed by the handlers themselves. The handler is given the table's own entry,
  // so that registrations it skips cost no copy; it runs their callables through CallCopy.
  template <typename Handler>
  void ForEachDescriptor(Handler handler);

  // Runs a copy of `callable` (skipped when empty): the call may replace or remove the
  // registration that holds the original. A handler that throws (a delegate runs user observers)
  // is logged as one line naming `what`; the loop goes on with the next handler.
  template <typename Callable, typename... Args>
  static void CallCopy(std::string_view what, const Callable& callable, Args... args) {
    if (!callable) return;
    const Callable copy = callable;
    RunGuarded(what, [&copy, &args...] { copy(args...); });
  }

  // Loop thread only.
  std::map<int, IoDescriptor> descriptors_;
  // Steady-clock nanoseconds of the last tick; 0, so the first check always ticks.
  int64_t last_tick_ = 0;

 private:
  void OnWakeUpReadable(int mask);

  // Guards the pointer and the pipe's ends against Wake from posting threads. Held for one
  // non-blocking send at most.
  mutable std::mutex pipe_mutex_;
  std::unique_ptr<WakeUpPipe> pipe_;  // guarded by pipe_mutex_
};

template <typename Handler>
void MultipleIOBase::ForEachDescriptor(Handler handler) {
  auto it = descriptors_.begin();
  while (it != descriptors_.end()) {
    const int fd = it->first;
    handler(static_cast<const IoDescriptor&>(it->second));
    it = descriptors_.upper_bound(fd);
  }
}

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_BASE_MULTIPLE_IO_BASE_H_
