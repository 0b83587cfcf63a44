#include "io_thread.h"

#include <future>

#include "kit_log.h"

namespace kesto::lidar {

IOThread::~IOThread() {
  Join();
  if (loop_) loop_->Shutdown();
  loop_.reset();
}

bool IOThread::Init(bool enable_tick, bool enable_wake) {
  if (Started()) {
    // The running thread reads loop_; replacing it under the thread would be a data race.
    KESTO_LOG_ERROR("IO thread is running, can not init its loop.");
    return false;
  }
  loop_ = std::make_shared<IOLoop>(enable_tick, enable_wake);
  return loop_->Init();
}

bool IOThread::Barrier() {
  if (!Started() || !loop_) return true;
  if (loop_->IsLoopThread()) {
    KESTO_LOG_ERROR("IO thread barrier called on its own loop thread, not waited.");
    return false;
  }
  // The thread keeps running until the owner joins it, and the owner is the caller, so the
  // posted task is sure to run.
  auto reached = std::make_shared<std::promise<void>>();
  std::future<void> done = reached->get_future();
  loop_->Post([reached] { reached->set_value(); });
  done.wait();
  return true;
}

void IOThread::ThreadMain() {
  // loop_ is not replaced while the thread runs (Init refuses), so one copy serves the run.
  const std::shared_ptr<IOLoop> loop = loop_;
  if (!loop) return;
  while (!quit_.load()) loop->RunOnce();
}

}  // namespace kesto::lidar
