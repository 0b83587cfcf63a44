#ifndef KESTO_LIDAR_PARSE_FRAME_H_
#define KESTO_LIDAR_PARSE_FRAME_H_

#include <cstdint>

#include "protocol.h"
#include "protocol_command.h"

namespace kesto::lidar {

// The receivers' entry to the codec: verifies `size` received bytes with the owner's codec and
// decodes them into `command` only when they pass. On rejection logs
// "Comm Port Check Preamble error." and returns false; the caller logs its own message and drops
// the datagram. Safe from any thread.
bool ParseFrame(const Protocol& codec, const uint8_t* bytes, uint32_t size, ProtocolCommand& command);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_PARSE_FRAME_H_
