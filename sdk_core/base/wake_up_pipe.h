#ifndef KESTO_LIDAR_BASE_WAKE_UP_PIPE_H_
#define KESTO_LIDAR_BASE_WAKE_UP_PIPE_H_

#include "noncopyable.h"

namespace kesto::lidar {

// A connected pair of loopback TCP sockets. The read end is watched by the loop's multiplexer;
// one byte written to the other end makes a blocked wait return at once.
//
// Both ends are non-blocking: Signal from a posting thread never waits for a full pipe (a full
// pipe means a wake is already pending), and Drain never stalls the loop thread. The multiplexer
// serialises Signal against Close (MultipleIOBase's pipe mutex); Drain runs on the loop thread.
class WakeUpPipe : noncopyable {
 public:
  WakeUpPipe() = default;
  virtual ~WakeUpPipe();

  // Builds the connected pair through a listener on 127.0.0.1 and a system-chosen port.
  bool Open();
  // Sends one byte "1". True when it was sent or the pipe is already full (still readable, so
  // the loop wakes anyway), and when there is no write end.
  bool Signal();
  // One receive of up to 512 bytes, discarded. A rest keeps the read end readable.
  bool Drain();
  // Closes the write end, then the read end, each once.
  bool Close();

  int read_end() const { return read_end_; }
  int write_end() const { return write_end_; }

 private:
  int write_end_ = -1;
  int read_end_ = -1;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_BASE_WAKE_UP_PIPE_H_
