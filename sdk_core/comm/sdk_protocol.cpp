#include "sdk_protocol.h"

#include <cstring>

#include "crc16.h"
#include "crc32.h"
#include "little_endian.h"

namespace kesto::lidar {
namespace {

constexpr uint8_t kStartByte = 0xAA;
constexpr uint8_t kWireVersion = 0;

// Header offsets.
constexpr std::size_t kStartOffset = 0;
constexpr std::size_t kVersionOffset = 1;
constexpr std::size_t kLengthOffset = 2;
constexpr std::size_t kSeqOffset = 4;
constexpr std::size_t kCmdIdOffset = 8;
constexpr std::size_t kCmdTypeOffset = 10;
constexpr std::size_t kSenderTypeOffset = 11;
constexpr std::size_t kHeaderCrcOffset = 18;  // covers bytes 0 to 17
constexpr std::size_t kPayloadCrcOffset = 20;

constexpr uint32_t kLargestFrame = 0xFFFF;  // what the u16 length field can say

// The frame's length field when `size` bytes hold at least a header and the whole frame it
// announces, else 0. Both the check and the decoder rely on this before touching the payload.
uint16_t LengthInside(const uint8_t* frame, uint32_t size) {
  if (frame == nullptr || size < kFrameHeaderLength) return 0;
  const uint16_t length = LoadU16(frame + kLengthOffset);
  return length >= kFrameHeaderLength && length <= size ? length : 0;
}

}  // namespace

bool SdkProtocol::DecodeFrame(const uint8_t* frame, uint32_t size, ProtocolCommand& command) const {
  const uint16_t length = LengthInside(frame, size);
  if (length == 0) return false;
  command = ProtocolCommand{};
  command.version = frame[kVersionOffset];
  command.seq = LoadU32(frame + kSeqOffset);
  command.cmd_id = LoadU16(frame + kCmdIdOffset);
  command.cmd_type = frame[kCmdTypeOffset];
  command.sender_type = frame[kSenderTypeOffset];
  command.data = frame + kFrameHeaderLength;
  command.data_len = static_cast<uint16_t>(length - kFrameHeaderLength);
  return true;
}

int SdkProtocol::EncodeFrame(uint8_t* buffer, uint32_t capacity, int& frame_length,
                             const ProtocolCommand& command) const {
  frame_length = 0;
  const uint32_t length = kFrameHeaderLength + command.data_len;
  // Everything is checked before the first byte is written, so a refused command leaves the
  // buffer as it was, however small it is.
  if (buffer == nullptr || command.protocol != kProtocolCommandFrame ||
      (command.data == nullptr && command.data_len != 0) || length > capacity ||
      length > kLargestFrame) {
    return -1;
  }
  buffer[kStartOffset] = kStartByte;
  buffer[kVersionOffset] = kWireVersion;
  StoreU16(buffer + kLengthOffset, static_cast<uint16_t>(length));
  StoreU32(buffer + kSeqOffset, command.seq & 0xFFFFu);
  StoreU16(buffer + kCmdIdOffset, command.cmd_id);
  buffer[kCmdTypeOffset] = command.cmd_type;
  buffer[kSenderTypeOffset] = command.sender_type;
  StoreU16(buffer + kHeaderCrcOffset, Crc16(buffer, kHeaderCrcOffset));
  // The CRC-32 of no bytes is 0, which is what a frame with an empty payload carries.
  StoreU32(buffer + kPayloadCrcOffset, Crc32(command.data, command.data_len));
  // memmove: a sender may have built its payload in place at offset 24 of the same buffer.
  if (command.data_len != 0) std::memmove(buffer + kFrameHeaderLength, command.data, command.data_len);
  frame_length = static_cast<int>(length);
  return 0;
}

uint16_t SdkProtocol::FrameLengthOf(const uint8_t* frame) const {
  return LoadU16(frame + kLengthOffset);
}

bool SdkProtocol::VerifyFrame(const uint8_t* frame, uint32_t size) const {
  const uint16_t length = LengthInside(frame, size);
  if (length == 0) return false;
  if (frame[kStartOffset] != kStartByte || frame[kVersionOffset] != kWireVersion) return false;
  if (Crc16(frame, kHeaderCrcOffset) != LoadU16(frame + kHeaderCrcOffset)) return false;
  return Crc32(frame + kFrameHeaderLength, length - kFrameHeaderLength) ==
         LoadU32(frame + kPayloadCrcOffset);
}

}  // namespace kesto::lidar
