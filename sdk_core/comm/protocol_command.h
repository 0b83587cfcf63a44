#ifndef KESTO_LIDAR_PROTOCOL_COMMAND_H_
#define KESTO_LIDAR_PROTOCOL_COMMAND_H_

#include <cstdint>

namespace kesto::lidar {

// Values of ProtocolCommand::protocol. Only the command frame protocol exists.
constexpr uint8_t kProtocolCommandFrame = 0;
// What senders put in ProtocolCommand::version. It never reaches the wire: the frame's version
// byte is always 0.
constexpr uint8_t kSenderProtocolVersion = 3;

// Values of ProtocolCommand::cmd_type.
constexpr uint8_t kCommandTypeCommand = 0;  // a request, or a push from a device
constexpr uint8_t kCommandTypeAck = 1;

// Values of ProtocolCommand::sender_type. Every frame the kit sends carries kSenderTypeHost.
constexpr uint8_t kSenderTypeHost = 0;

// One command as the frame codec sees it. A plain record: whoever fills it owns it.
//
// `data` is not owned. For encoding it is the caller's payload, read during EncodeFrame only;
// after decoding it points into the received buffer and is valid only as long as that buffer
// (on a receiving IO thread: until routing of the datagram returns).
struct ProtocolCommand {
  uint8_t protocol = kProtocolCommandFrame;
  uint8_t version = 0;
  uint32_t seq = 0;
  uint16_t cmd_id = 0;
  uint8_t cmd_type = kCommandTypeCommand;
  uint8_t sender_type = kSenderTypeHost;
  const uint8_t* data = nullptr;
  uint16_t data_len = 0;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_PROTOCOL_COMMAND_H_
