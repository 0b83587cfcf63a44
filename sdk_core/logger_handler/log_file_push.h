#ifndef KESTO_LIDAR_LOG_FILE_PUSH_H_
#define KESTO_LIDAR_LOG_FILE_PUSH_H_

// The payload of a log file push (command 0x0300 from a lidar), the host's 7-byte reply to it
// and the 2-byte stop command (0x0301). Pure functions over bytes, safe from any thread.
//
// Push layout, little-endian: log_type u8, file_index u8, 1 unused byte, flags u8, 6 unused
// bytes, trans_index u32, data length u16, data.

#include <array>
#include <cstddef>
#include <cstdint>

namespace kesto::lidar {

constexpr std::size_t kLogFilePushHeaderSize = 16;
constexpr std::size_t kLogPushReplySize = 7;
constexpr std::size_t kLogStopCommandSize = 2;

// Bits of the push's flags byte. Neither start nor end: the push carries file data.
constexpr uint8_t kLogPushWantsReply = 0x01;
constexpr uint8_t kLogPushStartsFile = 0x02;
constexpr uint8_t kLogPushEndsFile = 0x04;

// One decoded push. `data` points into the received datagram (valid while it is) and
// `data_length` never runs past it.
struct LogFilePush {
  uint8_t log_type = 0;
  uint8_t file_index = 0;
  uint8_t flags = 0;
  uint32_t trans_index = 0;
  uint16_t declared_length = 0;  // the data length the push claims
  uint16_t data_length = 0;      // the bytes that arrived, at most declared_length
  const uint8_t* data = nullptr;
};

// Decodes `size` payload bytes. False when they cannot hold the 16-byte head. A data length
// that runs past the payload is cut to the bytes that arrived (declared_length keeps the claim,
// so the caller can report it).
bool DecodeLogFilePush(const uint8_t* payload, std::size_t size, LogFilePush& push);

// The reply to a push that asked for one: ret_code 0, log_type, file_index, trans_index.
std::array<uint8_t, kLogPushReplySize> EncodeLogPushReply(const LogFilePush& push);

// The stop command for one log type: log_type, reserved 0.
std::array<uint8_t, kLogStopCommandSize> EncodeLogStopCommand(uint8_t log_type);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_LOG_FILE_PUSH_H_
