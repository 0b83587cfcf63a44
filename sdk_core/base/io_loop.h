#ifndef KESTO_LIDAR_BASE_IO_LOOP_H_
#define KESTO_LIDAR_BASE_IO_LOOP_H_

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "io_descriptor.h"
#include "multiple_io_base.h"
#include "noncopyable.h"

namespace kesto::lidar {

// One select-driven event loop: waits on its multiplexer, calls the delegates of readable
// sockets, ticks them, and runs tasks posted from any thread. Owned through a shared pointer by
// its IOThread; other components hold weak references.
//
// Threads: RunOnce, every delegate callback and every posted task run on the loop thread. The
// multiplexer's table is changed only there (registration goes through posted tasks), or by the
// owner before the thread starts (Init) and after it was joined (Shutdown). mutex_ guards
// pending_ only and is held just to append one task or to swap the whole array out; tasks run
// after it is released, so a task may post again (that task runs in the next iteration).
class IOLoop : noncopyable {
 public:
  // The receiver of one socket's events. The loop keeps a plain pointer: the delegate's owner
  // keeps it alive while it is registered. One delegate may sit on several loops and then gets
  // calls on several threads at once; it protects its own state.
  class IOLoopDelegate {
   public:
    // `fd` is readable; `client_data` as given to AddDelegate.
    virtual void OnData(int fd, void* client_data) = 0;
    virtual void OnTick(TimePoint now) = 0;
    // The loop was woken through its wake-up pipe (only with enable_wake).
    virtual void OnWake() = 0;

   protected:
    ~IOLoopDelegate() = default;
  };

  using Task = std::function<void()>;

  // Sockets one loop serves, beside its wake-up pipe.
  static constexpr int kMaxSockets = 48;
  // Upper bound of one wait, so quit flag and tick are served without any event.
  static constexpr int kWaitMs = 50;

  IOLoop(bool enable_tick, bool enable_wake);
  ~IOLoop();

  // Creates the multiplexer and its wake-up pipe. Owner thread, before the loop thread starts.
  bool Init();
  // Unregisters and closes the wake-up pipe. Owner thread, after the loop thread was joined.
  void Shutdown();
  // One iteration: bounded wait and dispatch, then the tasks posted so far. Loop thread only.
  void RunOnce();

  // Queues a task for the loop thread and wakes the loop. Safe from any thread.
  void Post(Task task);
  // Registers `delegate` for readability of `fd` (through a posted task). Safe from any thread.
  void AddDelegate(int fd, IOLoopDelegate* delegate, void* client_data);
  // Unregisters `fd` (through a posted task); the socket stays open. Safe from any thread.
  void RemoveDelegate(int fd);
  // Registers at once; a registration the multiplexer refuses is dropped. Loop thread only.
  void AddDelegateInLoop(int fd, IOLoopDelegate* delegate, void* client_data);
  // Unregisters at once. Loop thread only.
  void RemoveDelegateInLoop(int fd);

  // True on the thread that runs the loop, or on any thread before the loop has run (the owner
  // then stands in for it). Safe from any thread.
  bool CalledOnLoopThread() const;

  // True only on the thread that has run this loop. Safe from any thread.
  bool IsLoopThread() const;

  // The multiplexer, for inspection; null before Init. Loop thread only.
  MultipleIOBase* multiplexer() const { return multiplexer_.get(); }

 private:
  std::mutex mutex_;
  const bool enable_tick_;
  const bool enable_wake_;
  std::vector<Task> pending_;  // guarded by mutex_
  // Set by Init; the table inside belongs to the loop thread. Post only calls its Wake.
  std::unique_ptr<MultipleIOBase> multiplexer_;
  // The thread that last ran RunOnce, for the debug-build thread checks.
  std::atomic<std::thread::id> loop_thread_{};
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_BASE_IO_LOOP_H_
