#ifndef KESTO_TESTS_MANUAL_CLOCK_H_
#define KESTO_TESTS_MANUAL_CLOCK_H_

#include <atomic>
#include <chrono>
#include <cstdint>

#include "clock.h"

namespace kesto::test {

// A clock that moves only when the test says so. Safe from any thread.
class ManualClock {
 public:
  explicit ManualClock(lidar::TimePoint start = lidar::TimePoint(std::chrono::hours(1)))
      : ns_(start.time_since_epoch().count()) {}

  lidar::TimePoint Now() const { return lidar::TimePoint(std::chrono::nanoseconds(ns_.load())); }
  void Advance(std::chrono::nanoseconds by) { ns_.fetch_add(by.count()); }
  // A callable for the kit's components that take a clock.
  auto Source() const {
    return [this] { return Now(); };
  }

 private:
  std::atomic<int64_t> ns_;
};

}  // namespace kesto::test

#endif  // KESTO_TESTS_MANUAL_CLOCK_H_
