#ifndef KESTO_LIDAR_BASE_MULTIPLE_IO_SELECT_H_
#define KESTO_LIDAR_BASE_MULTIPLE_IO_SELECT_H_

#include <vector>

#include "multiple_io_base.h"

namespace kesto::lidar {

// The multiplexer over the platform's select(). The read and write sets are kept in
// registration order by AddFd/RemoveFd and only copied into the platform's sets before each
// wait. Same thread rules as MultipleIOBase: the table and the sets belong to the loop thread.
//
// On POSIX select cannot watch a descriptor at or above FD_SETSIZE; AddFd refuses one (with one
// log line) instead of writing past the set.
class MultipleIOSelect : public MultipleIOBase {
 public:
  // Most sockets one set holds (the Winsock fd_set's size).
  static constexpr int kMaxSocketsPerSet = 64;

  MultipleIOSelect() = default;
  ~MultipleIOSelect() override;

  bool Setup(int sockets) override;
  void Teardown() override;
  bool AddFd(IoDescriptor descriptor) override;
  bool RemoveFd(IoDescriptor descriptor) override;
  void Wait(int timeout_ms) override;

  // Inspection, loop thread only.
  const std::vector<int>& read_set() const { return read_set_; }
  const std::vector<int>& write_set() const { return write_set_; }
  int max_fd() const { return max_fd_; }
  int capacity() const { return capacity_; }

 private:
  int max_fd_ = -1;
  std::vector<int> read_set_;
  std::vector<int> write_set_;
  // Largest number of registrations, the wake-up pipe included; set by Setup.
  int capacity_ = 0;
  // Set by a failed select, cleared by the next one that succeeds: the failure is logged once.
  bool select_failing_ = false;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_BASE_MULTIPLE_IO_SELECT_H_
