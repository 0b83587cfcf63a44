#ifndef KESTO_LIDAR_BASE_IO_DESCRIPTOR_H_
#define KESTO_LIDAR_BASE_IO_DESCRIPTOR_H_

#include <functional>

#include "clock.h"

namespace kesto::lidar {

// Readiness bits of IoDescriptor::events and of the mask given to on_ready.
inline constexpr int kIoReadable = 1;
inline constexpr int kIoWritable = 2;

// One socket registration of an IO loop. Copied by value into the multiplexer; every handler
// runs on the loop thread and may be empty (an empty one is skipped).
//
// on_ready gets the socket and the readiness mask. The dispatch runs a copy of it for every
// readiness (see MultipleIOBase::CallCopy), so on the receive path a handler is best kept to two
// pointers of captured state: std::function then holds it inline and the copy allocates nothing.
struct IoDescriptor {
  int fd = -1;
  int events = 0;
  std::function<void(int fd, int mask)> on_ready;
  std::function<void(TimePoint)> on_tick;
  std::function<void()> on_wake;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_BASE_IO_DESCRIPTOR_H_
