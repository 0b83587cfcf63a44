#ifndef KESTO_LIDAR_COMMAND_PACKET_H_
#define KESTO_LIDAR_COMMAND_PACKET_H_

#include <cstdint>
#include <memory>
#include <string>

#include "command_callback.h"
#include "protocol_command.h"

namespace kesto::lidar {

// Milliseconds a command waits for its acknowledgement.
inline constexpr uint32_t kDefaultCommandTimeoutMs = 1000;

// One command in memory: the frame fields, the lidar it goes to and its completion. `data`
// (from ProtocolCommand) is not owned: the sender's payload while sending, the receive buffer
// while an acknowledgement is handled. Copying a packet shares the callback.
struct CommandPacket : ProtocolCommand {
  uint32_t handle = 0;   // the lidar's IPv4 address, network byte order
  std::string lidar_ip;  // the same address, dotted
  uint32_t timeout = kDefaultCommandTimeoutMs;
  std::shared_ptr<CommandCallback> callback;  // may be empty
};

// A command to the lidar `handle` with the next sequence number, the default time-out and
// `callback`. `data` is the caller's payload, read only while the packet is sent.
CommandPacket MakeCommandPacket(uint32_t handle, uint16_t cmd_id, const uint8_t* data,
                                uint16_t length, std::shared_ptr<CommandCallback> callback);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_COMMAND_PACKET_H_
