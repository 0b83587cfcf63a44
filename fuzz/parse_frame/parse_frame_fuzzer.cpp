// Every datagram a lidar sends goes through ParseFrame first, so arbitrary bytes must neither
// read outside the datagram nor yield a command that describes bytes outside it. The same input
// also drives the sending side: its bytes as header fields and payload must encode and parse
// back to the same command.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "parse_frame.h"
#include "sdk_protocol.h"

namespace {

using kesto::lidar::kFrameHeaderLength;
using kesto::lidar::kMaxFrameLength;
using kesto::lidar::kMaxPayloadLength;
using kesto::lidar::ProtocolCommand;
using kesto::lidar::SdkProtocol;

void Require(bool condition) {
  if (!condition) std::abort();
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// A frame that passed the check: its command stays inside the datagram, and encoding the command
// again gives the same bytes wherever the encoder has no choice (it sends zero reserved bytes
// and 16-bit sequence numbers).
void CheckAccepted(const SdkProtocol& codec, const uint8_t* data, std::size_t size,
                   const ProtocolCommand& command) {
  const uint16_t length = codec.FrameLengthOf(data);
  Require(length >= kFrameHeaderLength && length <= size);
  Require(command.data == data + kFrameHeaderLength);
  Require(command.data_len == length - kFrameHeaderLength);

  std::vector<uint8_t> again(length, 0);
  int again_length = -1;
  Require(codec.EncodeFrame(again.data(), length, again_length, command) == 0);
  Require(again_length == length);
  const bool canonical = command.seq <= 0xFFFF &&
                         std::memcmp(data + 12, "\0\0\0\0\0\0", 6) == 0;
  if (canonical) Require(std::memcmp(again.data(), data, length) == 0);
  Require(std::memcmp(again.data() + kFrameHeaderLength, command.data, command.data_len) == 0);
}

// The input as a command to send: two bytes of seq, two of cmd_id, cmd_type, sender_type, then
// the payload. Payloads beyond the send buffer must be refused without a write.
void CheckSent(const SdkProtocol& codec, const uint8_t* data, std::size_t size) {
  if (size < 6 || size - 6 > 0xFFFF) return;
  ProtocolCommand sent;
  sent.version = kesto::lidar::kSenderProtocolVersion;
  sent.seq = Le16(data);
  sent.cmd_id = Le16(data + 2);
  sent.cmd_type = data[4];
  sent.sender_type = data[5];
  sent.data = data + 6;
  sent.data_len = static_cast<uint16_t>(size - 6);

  std::vector<uint8_t> buffer(kMaxFrameLength, 0);
  int length = -1;
  const int result = codec.EncodeFrame(buffer.data(), kMaxFrameLength, length, sent);
  if (sent.data_len > kMaxPayloadLength) {
    Require(result == -1 && length == 0);
    for (uint8_t byte : buffer) Require(byte == 0);
    return;
  }
  Require(result == 0 && length == static_cast<int>(kFrameHeaderLength + sent.data_len));
  ProtocolCommand got;
  Require(kesto::lidar::ParseFrame(codec, buffer.data(), static_cast<uint32_t>(length), got));
  Require(got.seq == sent.seq && got.cmd_id == sent.cmd_id && got.cmd_type == sent.cmd_type &&
          got.sender_type == sent.sender_type && got.version == 0 && got.protocol == 0);
  Require(got.data_len == sent.data_len &&
          std::memcmp(got.data, sent.data, sent.data_len) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every rejected input prints one line; millions of them would only slow the run down.
  Require(std::freopen("/dev/null", "w", stdout) != nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const SdkProtocol codec;
  if (size > 0xFFFFFFFFu) return 0;
  ProtocolCommand command;
  if (kesto::lidar::ParseFrame(codec, data, static_cast<uint32_t>(size), command)) {
    CheckAccepted(codec, data, size, command);
  }
  CheckSent(codec, data, size);
  return 0;
}
