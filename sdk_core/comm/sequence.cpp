#include "sequence.h"

namespace kesto::lidar {
namespace {

// Constant-initialised, so it is ready before any static constructor of another file runs.
SequenceCounter process_sequence;

}  // namespace

uint16_t SequenceCounter::Next() {
  uint16_t last = last_.load(std::memory_order_relaxed);
  uint16_t next = 0;
  // Relaxed is enough: the number orders nothing else, only its uniqueness matters, and the
  // read-modify-write of one atomic gives every caller a distinct step.
  do {
    next = last == 0xFFFF ? 1 : static_cast<uint16_t>(last + 1);
  } while (!last_.compare_exchange_weak(last, next, std::memory_order_relaxed));
  return next;
}

uint16_t NextSequence() { return process_sequence.Next(); }

}  // namespace kesto::lidar
