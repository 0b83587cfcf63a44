#ifndef KESTO_BENCH_KIT_STREAM_STREAM_SIDE_H_
#define KESTO_BENCH_KIT_STREAM_STREAM_SIDE_H_

// A reader of the stream block on a thread of its own, as a loop of lidarstream calls reads
// it: every few milliseconds it takes what was written since its previous call, checks each
// packet and measures its latency from the send time in the packet (bytes 28-35, wall clock)
// to the slot's host receive time.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "receive_tally.h"
#include "stream_reader.h"

namespace kesto::bench {

struct StreamReadResult {
  std::uint64_t returned = 0;
  std::uint64_t lost = 0;         // overwritten before the reader got to them
  std::uint64_t restarts = 0;
  std::uint64_t malformed = 0;    // not a 1380-byte type-1 packet
  std::uint64_t reads = 0;
  Tally tally;                    // the emulator's counter over the returned packets
  LatencyHistogram latency;
};

// Threads: Start and Finish on the main thread; the reading on the reader's own thread. The
// result is the reader thread's until Finish returns.
class StreamReaderThread {
 public:
  StreamReaderThread() = default;
  ~StreamReaderThread() { Finish(); }
  StreamReaderThread(const StreamReaderThread&) = delete;
  StreamReaderThread& operator=(const StreamReaderThread&) = delete;

  // A fresh reader placed after the newest packet of `block` before this returns, then reading
  // every `period` on its thread.
  void Start(const std::uint8_t* block, std::chrono::microseconds period);
  // One last read of everything written so far, then the thread ends. Idempotent.
  void Finish();
  // The last started reader's result (empty before any Start).
  const StreamReadResult& result() const { return *result_; }

 private:
  void Run(const std::uint8_t* block, std::chrono::microseconds period);

  // The main thread's until Start hands it to the thread (thread creation orders the two).
  matlab::StreamReader reader_;

  std::atomic<bool> finish_{false};
  std::thread thread_;
  std::unique_ptr<StreamReadResult> result_ = std::make_unique<StreamReadResult>();
};

}  // namespace kesto::bench

#endif  // KESTO_BENCH_KIT_STREAM_STREAM_SIDE_H_
