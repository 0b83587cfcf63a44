#ifndef KESTO_TESTS_MATLAB_CAPTURE_PACKETS_H_
#define KESTO_TESTS_MATLAB_CAPTURE_PACKETS_H_

// The datagrams of the recordings lidarread's tests write: command frames through the kit's
// codec, a lidar's discovery reply, and data packets derived from their number n (byte i is
// (131 n + 7 i) mod 256, except the data type at byte 10 and the timestamp 1000 n + 7 at byte
// 28), which the Octave script derives too.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "command_id.h"
#include "sdk_protocol.h"

namespace kesto::test {

inline std::vector<std::uint8_t> CommandFrame(std::uint16_t cmd_id, std::uint8_t cmd_type,
                                              const std::vector<std::uint8_t>& data) {
  lidar::ProtocolCommand command;
  command.cmd_id = cmd_id;
  command.cmd_type = cmd_type;
  command.data = data.data();
  command.data_len = static_cast<std::uint16_t>(data.size());
  std::vector<std::uint8_t> frame(lidar::kMaxFrameLength, 0);
  int length = 0;
  if (lidar::SdkProtocol().EncodeFrame(frame.data(), static_cast<std::uint32_t>(frame.size()),
                                       length, command) != 0) {
    return {};
  }
  frame.resize(static_cast<std::size_t>(length));
  return frame;
}

// `sn` of at most 16 characters.
inline std::vector<std::uint8_t> DiscoveryReply(std::uint8_t dev_type, const char* sn) {
  std::vector<std::uint8_t> data(24, 0);
  data[1] = dev_type;
  std::memcpy(data.data() + 2, sn, std::strlen(sn));
  return CommandFrame(lidar::kCmdIdDiscovery, lidar::kCommandTypeAck, data);
}

inline std::vector<std::uint8_t> DerivedDataPacket(std::uint8_t type, std::size_t n, std::size_t size) {
  std::vector<std::uint8_t> packet(size);
  for (std::size_t i = 0; i < size; ++i) packet[i] = static_cast<std::uint8_t>(131 * n + 7 * i);
  packet[10] = type;
  const std::uint64_t timestamp = 1000 * n + 7;
  for (int i = 0; i < 8; ++i) packet[28 + i] = static_cast<std::uint8_t>(timestamp >> (8 * i));
  return packet;
}

}  // namespace kesto::test

#endif  // KESTO_TESTS_MATLAB_CAPTURE_PACKETS_H_
