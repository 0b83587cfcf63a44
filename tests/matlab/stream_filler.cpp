// Writes the stream block for the Octave tests, as a start of the bridge would: every run is a
// new writer on "kesto-stream v1" (a restart when the block holds a layout already) that writes
// packets derived from their index (tests/bridge/stream_packets.h), which the scripts know too.
//
//   stream_filler unlink         remove the block (POSIX), so the next mapping is fresh
//   stream_filler write COUNT    one writer start, then COUNT packets
//
// Exits 0 on success, 1 when the block cannot be mapped, 2 on bad arguments.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "packet_stream_layout.h"
#include "packet_stream_writer.h"
#include "shared_memory.h"
#include "stream_packets.h"

int main(int argc, char** argv) {
  using kesto::platform::SharedMemory;
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "unlink" && argc == 2) {
    SharedMemory::Unlink(kesto::stream::kBlockName);
    return 0;
  }
  if (command != "write" || argc != 3) {
    std::fprintf(stderr, "usage: stream_filler unlink|write COUNT\n");
    return 2;
  }
  SharedMemory block;
  if (block.Open(kesto::stream::kBlockName, kesto::stream::kBlockSize) != kesto::platform::ShmResult::kOk) {
    std::fprintf(stderr, "stream_filler: %s\n", block.error().c_str());
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
