#ifndef KESTO_TESTS_BASE_COUNTING_DELEGATE_H_
#define KESTO_TESTS_BASE_COUNTING_DELEGATE_H_

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io_loop.h"
#include "socket_util.h"

namespace kesto::test {

// Counts every callback, reads each readable datagram once, and notes whether any callback ran
// off the thread it was told to expect.
class CountingDelegate : public lidar::IOLoop::IOLoopDelegate {
 public:
  void ExpectThread(std::thread::id id) {
    std::lock_guard<std::mutex> lock(mutex_);
    expected_ = id;
  }

  void OnData(int fd, void* client_data) override {
    Check();
    char buffer[8192];
    sockaddr_in from{};
    platform::SockLen length = sizeof(from);
    lidar::ReceiveFrom(fd, buffer, sizeof(buffer), &from, &length);
    std::lock_guard<std::mutex> lock(mutex_);
    data_.push_back(client_data);
    events_.push_back("data");
  }
  void OnTick(lidar::TimePoint now) override {
    Check();
    std::lock_guard<std::mutex> lock(mutex_);
    ticks_.push_back(now);
  }
  void OnWake() override {
    Check();
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back("wake");
  }
  // For tasks that want their place in the event order.
  void Note(const std::string& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
  }

  std::size_t data_count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_.size();
  }
  std::vector<void*> data() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_;
  }
  std::vector<lidar::TimePoint> ticks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ticks_;
  }
  std::vector<std::string> events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  int wake_count() const {
    int n = 0;
    for (const auto& e : events()) n += e == "wake" ? 1 : 0;
    return n;
  }
  bool off_thread() const { return off_thread_; }

 private:
  void Check() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (expected_ != std::thread::id() && expected_ != std::this_thread::get_id()) {
      off_thread_ = true;
    }
  }

  mutable std::mutex mutex_;
  std::thread::id expected_;            // guarded by mutex_
  std::vector<void*> data_;             // guarded by mutex_
  std::vector<lidar::TimePoint> ticks_; // guarded by mutex_
  std::vector<std::string> events_;     // guarded by mutex_
  std::atomic<bool> off_thread_{false};
};

}  // namespace kesto::test

#endif  // KESTO_TESTS_BASE_COUNTING_DELEGATE_H_
