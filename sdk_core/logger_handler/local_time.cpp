#include "local_time.h"

#include <ctime>

namespace kesto::lidar {

namespace {

// std::localtime shares one static record between threads; each platform has its own
// reentrant form.
bool ToLocalTime(std::time_t seconds, std::tm& out) {
#ifdef _WIN32
  return localtime_s(&out, &seconds) == 0;
#else
  return localtime_r(&seconds, &out) != nullptr;
#endif
}

}  // namespace

std::string FormatLocalTimeStamp(std::chrono::system_clock::time_point when) {
  std::tm local{};
  char text[32] = {};
  if (!ToLocalTime(std::chrono::system_clock::to_time_t(when), local) ||
      std::strftime(text, sizeof text, "%Y-%m-%d_%H-%M-%S", &local) != 19) {
    return "1970-01-01_00-00-00";
  }
  return text;
}

}  // namespace kesto::lidar
