#include "multiple_io_base.h"

#include <utility>

namespace kesto::lidar {

MultipleIOBase::~MultipleIOBase() {
  std::lock_guard<std::mutex> lock(pipe_mutex_);
  pipe_.reset();
}

void MultipleIOBase::Wake() {
  std::lock_guard<std::mutex> lock(pipe_mutex_);
  if (pipe_) pipe_->Signal();
}

void MultipleIOBase::CheckTick() {
  const TimePoint now = SteadyNow();
  const int64_t now_ns = now.time_since_epoch().count();
  if (now_ns - last_tick_ <= kTickIntervalNs) return;
  last_tick_ = now_ns;
  ForEachDescriptor([now](const IoDescriptor& descriptor) {
    CallCopy("IO loop OnTick", descriptor.on_tick, now);
  });
}

bool MultipleIOBase::InstallWakeUpPipe() {
  RemoveWakeUpPipe();
  auto pipe = std::make_unique<WakeUpPipe>();
  if (!pipe->Open()) return false;
  const int read_end = pipe->read_end();
  {
    std::lock_guard<std::mutex> lock(pipe_mutex_);
    pipe_ = std::move(pipe);
  }
  IoDescriptor descriptor;
  descriptor.fd = read_end;
  descriptor.events = kIoReadable;
  descriptor.on_ready = [this](int, int mask) { OnWakeUpReadable(mask); };
  return AddFd(std::move(descriptor));
}

void MultipleIOBase::RemoveWakeUpPipe() {
  std::unique_ptr<WakeUpPipe> pipe;
  {
    std::lock_guard<std::mutex> lock(pipe_mutex_);
    pipe = std::move(pipe_);
  }
  if (!pipe) return;
  IoDescriptor descriptor;
  descriptor.fd = pipe->read_end();
  RemoveFd(std::move(descriptor));
  pipe->Close();
}

int MultipleIOBase::wake_up_read_end() const {
  std::lock_guard<std::mutex> lock(pipe_mutex_);
  return pipe_ ? pipe_->read_end() : -1;
}

void MultipleIOBase::OnWakeUpReadable(int mask) {
  if (mask & kIoReadable) {
    // The read end is only touched here, on the loop thread, and Teardown runs after the loop
    // has stopped, so no lock is needed for the pointer's target.
    WakeUpPipe* pipe = nullptr;
    {
      std::lock_guard<std::mutex> lock(pipe_mutex_);
      pipe = pipe_.get();
    }
    if (pipe) pipe->Drain();
  }
  ForEachDescriptor(
      [](const IoDescriptor& descriptor) { CallCopy("IO loop OnWake", descriptor.on_wake); });
}

}  // namespace kesto::lidar
