#include "io_loop.h"

#include <cassert>
#include <new>
#include <utility>

#include "guarded_call.h"
#include "kit_log.h"
#include "multiple_io_select.h"

namespace kesto::lidar {

// Debug builds check the "Loop thread only." contract; release builds pay nothing.
#define KESTO_ASSERT_LOOP_THREAD() \
  assert(CalledOnLoopThread() && "IOLoop: loop-thread-only call from another thread")

IOLoop::IOLoop(bool enable_tick, bool enable_wake)
    : enable_tick_(enable_tick), enable_wake_(enable_wake) {}

// Tasks still queued are destroyed with pending_, without running.
IOLoop::~IOLoop() = default;

bool IOLoop::Init() {
  multiplexer_.reset();
  multiplexer_.reset(new (std::nothrow) MultipleIOSelect());
  if (!multiplexer_) {
    KESTO_LOG_ERROR("Creat Multiple IO Failed!");
    return false;
  }
  if (!multiplexer_->Setup(kMaxSockets)) {
    KESTO_LOG_ERROR("Poll Create Failed!");
    return false;
  }
  return true;
}

void IOLoop::Shutdown() {
  if (multiplexer_) multiplexer_->Teardown();
}

void IOLoop::RunOnce() {
  loop_thread_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  if (multiplexer_) multiplexer_->Wait(kWaitMs);

  std::vector<Task> tasks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks.swap(pending_);
  }
  // One task that throws neither ends the loop thread nor drops the tasks queued after it.
  for (Task& task : tasks) RunGuarded("IO loop task", task);
}

void IOLoop::Post(Task task) {
  if (!task) {
    // Running it would throw std::bad_function_call on the loop thread and end the process.
    KESTO_LOG_ERROR("Post empty task, ignored.");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(std::move(task));
  }
  if (multiplexer_) multiplexer_->Wake();
}

void IOLoop::AddDelegate(int fd, IOLoopDelegate* delegate, void* client_data) {
  Post([this, fd, delegate, client_data] { AddDelegateInLoop(fd, delegate, client_data); });
}

void IOLoop::RemoveDelegate(int fd) {
  Post([this, fd] { RemoveDelegateInLoop(fd); });
}

void IOLoop::AddDelegateInLoop(int fd, IOLoopDelegate* delegate, void* client_data) {
  KESTO_ASSERT_LOOP_THREAD();
  if (!multiplexer_) return;
  IoDescriptor descriptor;
  descriptor.fd = fd;
  descriptor.events = kIoReadable;
  // Two pointers, so the copy made for each readiness does not allocate.
  descriptor.on_ready = [delegate, client_data](int ready_fd, int mask) {
    if ((mask & kIoReadable) && delegate) delegate->OnData(ready_fd, client_data);
  };
  if (enable_tick_) {
    descriptor.on_tick = [delegate](TimePoint now) {
      if (delegate) delegate->OnTick(now);
    };
  }
  if (enable_wake_) {
    descriptor.on_wake = [delegate] {
      if (delegate) delegate->OnWake();
    };
  }
  // A refused registration (table full, socket out of select's range) leaves the socket
  // unserved; the multiplexer logs the refusal where its reason is known.
  multiplexer_->AddFd(std::move(descriptor));
}

void IOLoop::RemoveDelegateInLoop(int fd) {
  KESTO_ASSERT_LOOP_THREAD();
  if (!multiplexer_) return;
  IoDescriptor descriptor;
  descriptor.fd = fd;
  descriptor.events = kIoReadable;
  multiplexer_->RemoveFd(std::move(descriptor));
}

bool IOLoop::IsLoopThread() const {
  return loop_thread_.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

bool IOLoop::CalledOnLoopThread() const {
  const std::thread::id loop = loop_thread_.load(std::memory_order_relaxed);
  return loop == std::thread::id() || loop == std::this_thread::get_id();
}

}  // namespace kesto::lidar
