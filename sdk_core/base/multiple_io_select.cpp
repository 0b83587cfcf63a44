#include "multiple_io_select.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "kit_log.h"
#include "socket.h"

namespace kesto::lidar {

namespace {

void AddToSet(std::vector<int>& set, int fd) {
  if (std::find(set.begin(), set.end(), fd) != set.end()) return;
  if (static_cast<int>(set.size()) >= MultipleIOSelect::kMaxSocketsPerSet) return;
  set.push_back(fd);
}

void RemoveFromSet(std::vector<int>& set, int fd) {
  // erase keeps the order of the later entries.
  set.erase(std::remove(set.begin(), set.end(), fd), set.end());
}

}  // namespace

MultipleIOSelect::~MultipleIOSelect() = default;

bool MultipleIOSelect::Setup(int sockets) {
  read_set_.clear();
  write_set_.clear();
  capacity_ = sockets + 1;
  return InstallWakeUpPipe();
}

void MultipleIOSelect::Teardown() {
  RemoveWakeUpPipe();
  read_set_.clear();
  write_set_.clear();
}

bool MultipleIOSelect::AddFd(IoDescriptor descriptor) {
  const int fd = descriptor.fd;
  const bool known = descriptors_.count(fd) != 0;
  // Replacing a registration never grows the table, so it is allowed even when the table is
  // full: refusing it would leave the previous handlers (and their delegate) in force.
  if (!known && static_cast<int>(descriptors_.size()) >= capacity_) {
    KESTO_LOG_ERROR("Socket {} not added, the loop already serves {} sockets.", fd, capacity_);
    return false;
  }
  if (!platform::SocketFitsSelect(fd)) {
    KESTO_LOG_ERROR("Socket {} can not be watched by select, not added.", fd);
    return false;
  }
  const int events = descriptor.events;
  descriptors_[fd] = std::move(descriptor);
  max_fd_ = std::max(max_fd_, fd);
  if (events & kIoReadable) {
    AddToSet(read_set_, fd);
  } else {
    RemoveFromSet(read_set_, fd);
  }
  if (events & kIoWritable) {
    AddToSet(write_set_, fd);
  } else {
    RemoveFromSet(write_set_, fd);
  }
  return true;
}

bool MultipleIOSelect::RemoveFd(IoDescriptor descriptor) {
  const int fd = descriptor.fd;
  descriptors_.erase(fd);
  RemoveFromSet(read_set_, fd);
  RemoveFromSet(write_set_, fd);
  max_fd_ = descriptors_.empty() ? -1 : descriptors_.rbegin()->first;
  return true;
}

void MultipleIOSelect::Wait(int timeout_ms) {
  if (descriptors_.empty()) {
    if (timeout_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
    return;
  }
  platform::SocketSet readable;
  platform::SocketSet writable;
  for (const int fd : read_set_) readable.Add(fd);
  for (const int fd : write_set_) writable.Add(fd);

  const int ready = platform::SocketSelect(max_fd_ + 1, &readable, &writable, timeout_ms);
  if (ready < 0) {
    const int error = platform::SocketLastError();
    if (!platform::SocketErrorIsInterrupted(error)) {
      // A select that fails keeps failing at once (after WSACleanup, or on a socket closed
      // behind the loop's back): without a pause this loop thread would spin on it.
      if (!select_failing_) {
        KESTO_LOG_ERROR("select failed: {}", platform::SocketErrorText(error));
        select_failing_ = true;
      }
      std::this_thread::sleep_for(std::chrono::nanoseconds(kTickIntervalNs));
    }
  } else {
    select_failing_ = false;
  }
  if (ready > 0) {
    ForEachDescriptor([&readable, &writable](const IoDescriptor& descriptor) {
      const int mask = (readable.Contains(descriptor.fd) ? kIoReadable : 0) |
                       (writable.Contains(descriptor.fd) ? kIoWritable : 0);
      if (mask != 0) CallCopy("IO loop OnData", descriptor.on_ready, descriptor.fd, mask);
    });
  }
  CheckTick();
}

}  // namespace kesto::lidar
