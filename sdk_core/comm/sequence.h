#ifndef KESTO_LIDAR_SEQUENCE_H_
#define KESTO_LIDAR_SEQUENCE_H_

#include <atomic>
#include <cstdint>

namespace kesto::lidar {

// A wrapping source of command sequence numbers: each Next returns the previous value + 1, or 1
// after 65535, so 0 is never issued. Lock-free; safe from any thread, and each number is issued
// once per wrap however many threads ask.
class SequenceCounter {
 public:
  constexpr explicit SequenceCounter(uint16_t last_issued = 1) : last_(last_issued) {}
  SequenceCounter(const SequenceCounter&) = delete;
  SequenceCounter& operator=(const SequenceCounter&) = delete;

  uint16_t Next();

 private:
  std::atomic<uint16_t> last_;
};

// The process-wide sequence number shared by every sender (discovery, the general command
// handler, the model command handlers). The counter starts at 1, so the first number issued is
// 2. Safe from any thread.
uint16_t NextSequence();

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_SEQUENCE_H_
