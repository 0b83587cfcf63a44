// stream_writer_probe NAME COUNT
// Starts a stream writer on the block NAME (created when missing) and writes COUNT packets
// derived from their index (stream_packets.h) as fast as it can, then exits 0. Exit code 1: the
// block could not be mapped; 2: bad arguments.
#include <cstdio>
#include <cstdlib>

#include "packet_stream_layout.h"
#include "packet_stream_writer.h"
#include "shared_memory.h"
#include "stream_packets.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  kesto::platform::SharedMemory block;
  if (block.Open(argv[1], kesto::stream::kBlockSize) != kesto::platform::ShmResult::kOk) {
    std::fprintf(stderr, "stream_writer_probe: %s\n", block.error().c_str());
    return 1;
  }
  kesto::bridge::PacketStreamWriter writer;
  if (!writer.Attach(block.data(), block.size())) return 1;
  const unsigned long long count = std::strtoull(argv[2], nullptr, 10);
  for (unsigned long long i = 0; i < count; ++i) {
    kesto::test::DerivedPacket(writer.next_index()).WriteTo(writer);
  }
  return 0;
}
