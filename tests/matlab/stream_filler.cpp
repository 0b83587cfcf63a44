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
#include "derived_stream_writer.h"

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
  return kesto::test::WriteDerivedPackets("stream_filler", kesto::stream::kBlockName,
                                          std::strtoull(argv[2], nullptr, 10));
}
