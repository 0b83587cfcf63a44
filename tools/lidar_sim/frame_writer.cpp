#include "frame_writer.h"

#include "crc16.h"
#include "lidar_sim.h"
#include "little_endian.h"
#include "protocol_command.h"
#include "sdk_protocol.h"

namespace kesto::lidar_sim {

using kesto::lidar::kFrameHeaderLength;
using kesto::lidar::kMaxFrameLength;

Bytes EncodeLidarFrame(uint16_t cmd_id, uint8_t cmd_type, uint32_t seq, const Bytes& payload) {
  static const kesto::lidar::SdkProtocol codec;
  kesto::lidar::ProtocolCommand command;
  command.seq = seq;
  command.cmd_id = cmd_id;
  command.cmd_type = cmd_type;
  command.sender_type = kSenderTypeLidar;
  command.data = payload.empty() ? nullptr : payload.data();
  command.data_len = static_cast<uint16_t>(payload.size());
  if (payload.size() > kMaxFrameLength - kFrameHeaderLength) return {};
  Bytes frame(kMaxFrameLength, 0);
  int length = 0;
  if (codec.EncodeFrame(frame.data(), kMaxFrameLength, length, command) != 0) return {};
  frame.resize(static_cast<size_t>(length));
  return frame;
}

KeyValueWriter::KeyValueWriter(Bytes& out, size_t count_at, size_t header_bytes)
    : out_(out), count_at_(count_at) {
  if (out_.size() < header_bytes) out_.resize(header_bytes, 0);
  StoreU16(out_.data() + count_at_, 0);
}

void KeyValueWriter::Add(uint16_t key, const uint8_t* value, size_t length) {
  const size_t at = out_.size();
  out_.resize(at + 4 + length, 0);
  StoreU16(out_.data() + at, key);
  StoreU16(out_.data() + at + 2, static_cast<uint16_t>(length));
  for (size_t i = 0; i < length; ++i) out_[at + 4 + i] = value[i];
  ++count_;
  StoreU16(out_.data() + count_at_, count_);
}

Bytes DamageFrame(const Bytes& frame, uint32_t kind) {
  Bytes bad = frame;
  if (bad.size() < kFrameHeaderLength) return bad;
  switch (kind) {
    case kMalformedTruncated:
      // Inside the payload when there is one, else inside the header.
      bad.resize(bad.size() > kFrameHeaderLength ? kFrameHeaderLength + (bad.size() - kFrameHeaderLength) / 2
                                                 : kFrameHeaderLength - 5);
      break;
    case kMalformedBadCrc:
      // A frame without payload has only its header to spoil; the stored CRC-16 then fails.
      bad[bad.size() > kFrameHeaderLength ? kFrameHeaderLength : 8] ^= 0x5A;
      break;
    case kMalformedBadLength: {
      StoreU16(bad.data() + 2, static_cast<uint16_t>(bad.size() + 16));
      StoreU16(bad.data() + 18, kesto::lidar::Crc16(bad.data(), 18));
      break;
    }
    default:
      break;
  }
  return bad;
}

}  // namespace kesto::lidar_sim
