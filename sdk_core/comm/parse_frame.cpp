#include "parse_frame.h"

#include <cstdio>

namespace kesto::lidar {

bool ParseFrame(const Protocol& codec, const uint8_t* bytes, uint32_t size, ProtocolCommand& command) {
  if (codec.VerifyFrame(bytes, size)) return codec.DecodeFrame(bytes, size, command);
  // Straight to standard output rather than the kit log, and flushed, so it lands in order
  // with the kit's log lines, which are flushed after every message.
  std::fputs("Comm Port Check Preamble error.\n", stdout);
  std::fflush(stdout);
  return false;
}

}  // namespace kesto::lidar
