#ifndef KESTO_LIDAR_BASE_IO_THREAD_H_
#define KESTO_LIDAR_BASE_IO_THREAD_H_

#include <memory>

#include "io_loop.h"
#include "thread_base.h"

namespace kesto::lidar {

// A thread that runs one IOLoop until it is joined. The owner's thread calls Init, Start, Join
// and destroys it; the loop's shared ownership lets callers on other threads lock a weak
// reference for one call at a time and skip the call once the loop is gone.
//
// Destruction joins the thread first (at most one 50 ms wait plus that iteration's callbacks),
// then shuts the loop down; tasks still queued are destroyed unrun with the loop.
class IOThread : public ThreadBase {
 public:
  IOThread() = default;
  ~IOThread() override;

  // Creates the loop with these flags (replacing any previous one) and initialises it. Refused
  // (false, one log line) while the thread runs. Owner thread, before Start.
  bool Init(bool enable_tick, bool enable_wake);
  // A weak reference to the loop; empty before Init. Owner thread, or any thread after Init
  // returned and before destruction began.
  std::weak_ptr<IOLoop> GetLoop() const { return loop_; }

  // Waits until the loop has applied every task posted before this call and has left the
  // callback it was running, so no delegate callback that began before the call is still under
  // way. Refused (false, one log line) on the loop's own thread, where it could only deadlock;
  // true at once when no thread runs. Owner thread.
  bool Barrier();

  // RunOnce until the quit flag is set; returns at once without a loop. Loop thread.
  void ThreadMain() override;

 private:
  // Written by Init before Start; read by the loop thread; released by the destructor after
  // Join.
  std::shared_ptr<IOLoop> loop_;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_BASE_IO_THREAD_H_
