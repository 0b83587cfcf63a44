#ifndef KESTO_MATLAB_STREAM_READER_H_
#define KESTO_MATLAB_STREAM_READER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "packet_stream_layout.h"

namespace kesto::matlab {

// One packet as a reader took it out of the stream block: whole and consistent, never torn.
struct StreamPacket {
  std::uint64_t index = 0;            // position in the writer's count of packets
  stream::SlotMeta meta;              // handle, device type, data type, length
  std::uint64_t receive_time_ns = 0;
  std::uint8_t bytes[stream::kPayloadWords * 8];  // the first meta.length bytes are the packet
};

// What one Read call saw.
struct StreamCounts {
  std::uint64_t returned = 0;  // packets appended to the output
  std::uint64_t lost = 0;      // packets overwritten before this reader got to them
  std::uint64_t restarts = 0;  // writer starts on this block since the previous call
  std::uint64_t in_ring = 0;   // packets the ring held when this call looked
  // Datagrams the operating system dropped before the kit read them, since the previous call
  // (0 where the system does not tell). They never reached the ring: not part of `lost`.
  std::uint64_t os_dropped = 0;
};

// One reader's place in a stream block, and the reading itself: a pure function of the block's
// bytes and this state, so that the plug-in, the tests and the benchmarks share it. The block is
// only ever read.
//
// Every packet the writer writes is, for each reader, either returned once, in order, or counted
// lost once: returned + lost over all calls equals the writer's count of packets from where the
// reader started. The first call that finds a writer's layout starts at the newest packet (it
// returns that one); a call before any writer laid the block out starts at the first packet the
// writer will write. A reader that fell more than a ring behind skips to the oldest packet still
// in the ring and counts what it skipped; a packet overwritten while it is being copied is counted
// lost too. A new writer generation counts as a restart; the writer continues the count, so the
// reader keeps its place and still gets the packets of the previous writer that it had not read.
//
// Not thread-safe: one Read at a time per reader (the plug-in calls it on the host's interpreter
// thread). Any number of readers, in any processes, read one block at once.
class StreamReader {
 public:
  // Appends to `out` every packet written since the previous call (up to the newest one written
  // when this call began) and says what it saw. `block` is a mapped stream block of
  // kesto::stream::kBlockSize bytes. `out` keeps its earlier contents; reuse one vector across
  // calls to avoid allocating.
  StreamCounts Read(const std::uint8_t* block, std::vector<StreamPacket>& out);
  // Back to the state before the first call.
  void Reset();

 private:
  bool started_ = false;
  std::uint64_t generation_ = 0;  // 0: no writer's layout seen yet
  std::uint64_t position_ = 0;    // index of the next packet to return
  std::uint64_t os_dropped_ = 0;  // the header's count at the previous call
};

}  // namespace kesto::matlab

#endif  // KESTO_MATLAB_STREAM_READER_H_
