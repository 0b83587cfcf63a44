// stream_writer_probe NAME COUNT
// Starts a stream writer on the block NAME (created when missing) and writes COUNT packets
// derived from their index (stream_packets.h) as fast as it can, then exits 0. Exit code 1: the
// block could not be mapped; 2: bad arguments.
#include <cstdio>
#include <cstdlib>

#include "packet_stream_layout.h"
#include "packet_stream_writer.h"
#include "shared_memory.h"
#include "derived_stream_writer.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  return kesto::test::WriteDerivedPackets("stream_writer_probe", argv[1],
                                          std::strtoull(argv[2], nullptr, 10));
}
