#include "parse_frame.h"

#include "kit_log.h"

namespace kesto::lidar {

bool ParseFrame(const Protocol& codec, const uint8_t* bytes, uint32_t size, ProtocolCommand& command) {
  if (codec.VerifyFrame(bytes, size)) return codec.DecodeFrame(bytes, size, command);
  KESTO_LOG_ERROR("Comm Port Check Preamble error.");
  return false;
}

}  // namespace kesto::lidar
