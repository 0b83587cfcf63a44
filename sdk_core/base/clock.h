#ifndef KESTO_LIDAR_BASE_CLOCK_H_
#define KESTO_LIDAR_BASE_CLOCK_H_

#include <chrono>

namespace kesto::lidar {

// The kit's clock: monotonic, nanosecond resolution. Deadlines and ticks are values of it, so
// whatever computes a deadline can be handed another source of "now" (tests move time by hand).
using TimePoint = std::chrono::time_point<std::chrono::steady_clock, std::chrono::nanoseconds>;

// The steady clock's current time. Safe from any thread.
inline TimePoint SteadyNow() {
  return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now());
}

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_BASE_CLOCK_H_
