#include "log_file_push.h"

#include "little_endian.h"

namespace kesto::lidar {

bool DecodeLogFilePush(const uint8_t* payload, std::size_t size, LogFilePush& push) {
  if (payload == nullptr || size < kLogFilePushHeaderSize) return false;
  push.log_type = payload[0];
  push.file_index = payload[1];
  push.flags = payload[3];
  push.trans_index = LoadU32(payload + 10);
  push.declared_length = LoadU16(payload + 14);
  const std::size_t arrived = size - kLogFilePushHeaderSize;
  push.data_length = push.declared_length <= arrived ? push.declared_length
                                                     : static_cast<uint16_t>(arrived);
  push.data = payload + kLogFilePushHeaderSize;
  return true;
}

std::array<uint8_t, kLogPushReplySize> EncodeLogPushReply(const LogFilePush& push) {
  std::array<uint8_t, kLogPushReplySize> reply{};
  reply[0] = 0;
  reply[1] = push.log_type;
  reply[2] = push.file_index;
  StoreU32(reply.data() + 3, push.trans_index);
  return reply;
}

std::array<uint8_t, kLogStopCommandSize> EncodeLogStopCommand(uint8_t log_type) {
  return {log_type, 0};
}

}  // namespace kesto::lidar
