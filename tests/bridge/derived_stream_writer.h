#ifndef KESTO_TESTS_BRIDGE_DERIVED_STREAM_WRITER_H_
#define KESTO_TESTS_BRIDGE_DERIVED_STREAM_WRITER_H_

// The body of the test programs that write the stream block from another process.

#include <cstdio>

#include "packet_stream_layout.h"
#include "packet_stream_writer.h"
#include "shared_memory.h"
#include "stream_packets.h"

namespace kesto::test {

// One writer start on the block `name` (created when missing), then `count` derived packets as
// fast as they go. The exit status of the test programs that call it: 0, or 1 when the block
// cannot be mapped or laid out (one line on stderr names `program`).
inline int WriteDerivedPackets(const char* program, const char* name, unsigned long long count) {
  platform::SharedMemory block;
  if (block.Open(name, stream::kBlockSize) != platform::ShmResult::kOk) {
    std::fprintf(stderr, "%s: %s\n", program, block.error().c_str());
    return 1;
  }
  bridge::PacketStreamWriter writer;
  if (!writer.Attach(block.data(), block.size())) return 1;
  for (unsigned long long i = 0; i < count; ++i) DerivedPacket(writer.next_index()).WriteTo(writer);
  return 0;
}

}  // namespace kesto::test

#endif  // KESTO_TESTS_BRIDGE_DERIVED_STREAM_WRITER_H_
