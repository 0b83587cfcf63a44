#include "command_packet.h"

#include <utility>

#include "handle_text.h"
#include "sequence.h"

namespace kesto::lidar {

CommandPacket MakeCommandPacket(uint32_t handle, uint16_t cmd_id, const uint8_t* data,
                                uint16_t length, std::shared_ptr<CommandCallback> callback) {
  CommandPacket packet;
  packet.version = kSenderProtocolVersion;
  packet.seq = NextSequence();
  packet.cmd_id = cmd_id;
  packet.cmd_type = kCommandTypeCommand;
  packet.sender_type = kSenderTypeHost;
  packet.data = data;
  packet.data_len = length;
  packet.handle = handle;
  packet.lidar_ip = HandleToText(handle);
  packet.callback = std::move(callback);
  return packet;
}

}  // namespace kesto::lidar
