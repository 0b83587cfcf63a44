#ifndef KESTO_LIDAR_GUARDED_CALL_H_
#define KESTO_LIDAR_GUARDED_CALL_H_

// The catch-all at the boundary of every thread the kit starts. Observers and completions are
// user code run on the kit's threads; an exception escaping one would end the whole process, so
// each call that can reach user code (and each thread body as a whole) runs through here.

#include <exception>
#include <string_view>
#include <utility>

#include "kit_log.h"

namespace kesto::lidar {

// Runs `body`. An exception leaving it is logged as one line, "<what> threw: <reason>", and goes
// no further. True when `body` returned normally. Safe from any thread.
template <typename Body>
bool RunGuarded(std::string_view what, Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (const std::exception& error) {
    KESTO_LOG_ERROR("{} threw: {}", what, error.what());
  } catch (...) {
    KESTO_LOG_ERROR("{} threw: an exception of unknown type", what);
  }
  return false;
}

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_GUARDED_CALL_H_
