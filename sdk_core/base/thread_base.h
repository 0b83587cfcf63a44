#ifndef KESTO_LIDAR_BASE_THREAD_BASE_H_
#define KESTO_LIDAR_BASE_THREAD_BASE_H_

#include <atomic>
#include <memory>
#include <thread>

#include "noncopyable.h"

namespace kesto::lidar {

// One operating-system thread running ThreadMain. The owner's thread calls Start and Join; the
// body reads the quit flag to know when to leave.
//
// A derived class must Join in its own destructor: by the time ~ThreadBase runs the derived part
// is gone, and a body still running (or not yet entered) would call into a destroyed object.
// The Join here is only the last safety net.
class ThreadBase : public noncopyable {
 public:
  ThreadBase() = default;
  virtual ~ThreadBase();

  // The thread body. Runs on the new thread.
  virtual void ThreadMain() = 0;

  // Clears the quit flag and starts the thread. False (with one log line) when a thread is
  // already held or the system refuses a new one. Owner thread only.
  bool Start();
  // Sets the quit flag and joins the thread. Without a joinable thread it logs
  // "failed to join thread, joinable:" with 0 or 1 and carries on. Owner thread only.
  void Join();

 protected:
  // Whether a thread is held (started and not yet joined). Owner thread only.
  bool Started() const { return thread_ != nullptr; }

  // Written by Start and Join, read by the body before each round.
  std::atomic<bool> quit_{false};

 private:
  // Empty until Start, emptied by Join. Owner thread only.
  std::shared_ptr<std::thread> thread_;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_BASE_THREAD_BASE_H_
