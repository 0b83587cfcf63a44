#ifndef KESTO_LIDAR_LOCAL_TIME_H_
#define KESTO_LIDAR_LOCAL_TIME_H_

// The local time stamp that starts every log file name. The one place where the platforms differ
// in the log capture: the thread-safe local-time conversion has a different name on each.

#include <chrono>
#include <string>

namespace kesto::lidar {

// `when` in local time as "%Y-%m-%d_%H-%M-%S" (19 characters), e.g. "2024-03-01_08-00-00".
// Falls back to "1970-01-01_00-00-00" when the conversion fails. Safe from any thread.
std::string FormatLocalTimeStamp(std::chrono::system_clock::time_point when);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_LOCAL_TIME_H_
