#include "thread_base.h"

#include <system_error>

#include "guarded_call.h"
#include "kit_log.h"

namespace kesto::lidar {

ThreadBase::~ThreadBase() {
  if (thread_) Join();
}

bool ThreadBase::Start() {
  if (thread_) {
    // Replacing a joinable std::thread would terminate the process.
    KESTO_LOG_ERROR("Thread already started.");
    return false;
  }
  quit_ = false;
  try {
    // The last net: a body that lets an exception out ends its thread with one log line, not
    // the process.
    thread_ = std::make_shared<std::thread>(
        [this] { RunGuarded("Thread body", [this] { ThreadMain(); }); });
  } catch (const std::system_error& error) {
    KESTO_LOG_ERROR("Create thread failed: {}", error.what());
    return false;
  }
  return true;
}

void ThreadBase::Join() {
  quit_.exchange(true);
  if (!thread_ || !thread_->joinable()) {
    KESTO_LOG_WARN("failed to join thread, joinable:{}",
                   thread_ ? static_cast<int>(thread_->joinable()) : 0);
  } else {
    thread_->join();
  }
  thread_.reset();
}

}  // namespace kesto::lidar
