#ifndef KESTO_LIDAR_SDK_PROTOCOL_H_
#define KESTO_LIDAR_SDK_PROTOCOL_H_

#include <cstdint>

#include "protocol.h"

namespace kesto::lidar {

// Frame layout: a 24-byte header (start byte 0xAA, version 0, u16 total length, u32 seq,
// u16 cmd_id, u8 cmd_type, u8 sender_type, 6 reserved bytes, CRC-16 of bytes 0-17, CRC-32 of
// the payload or 0 when it is empty), then the payload. Everything little-endian.
constexpr uint32_t kFrameHeaderLength = 24;
// Senders encode into a zero-filled buffer of this capacity, so no frame the kit sends is longer.
constexpr uint32_t kMaxFrameLength = 1400;
constexpr uint32_t kMaxPayloadLength = kMaxFrameLength - kFrameHeaderLength;

// The kit's command frame codec. No state at all: safe from any thread, one object may be
// shared. Every input length is checked against the datagram before a byte is read, because
// every datagram a lidar sends comes through VerifyFrame.
class SdkProtocol final : public Protocol {
 public:
  // Also refuses a frame whose length field is below 24 or beyond `size`, so `command.data`
  // and `command.data_len` never describe bytes outside the datagram.
  bool DecodeFrame(const uint8_t* frame, uint32_t size, ProtocolCommand& command) const override;
  // Refuses (-1, nothing written) a protocol other than 0, a null payload with a non-zero
  // length, a frame that does not fit `capacity`, or one whose length the u16 field cannot hold.
  // Bytes 12-17 are not written: senders pass a zero-filled buffer.
  // Only the low 16 bits of `command.seq` are sent.
  int EncodeFrame(uint8_t* buffer, uint32_t capacity, int& frame_length,
                  const ProtocolCommand& command) const override;
  uint32_t MinFrameLength() const override { return kFrameHeaderLength; }
  uint32_t HeaderLength() const override { return kFrameHeaderLength; }
  uint16_t FrameLengthOf(const uint8_t* frame) const override;
  // Passes when all hold: at least 24 bytes, 24 <= length field <= size, start byte 0xAA,
  // version 0, header CRC, payload CRC (0 for an empty payload). Rejects silently. Bytes beyond
  // the length field's end are ignored. The checksums are computed only once the lengths are
  // known to lie inside the datagram.
  bool VerifyFrame(const uint8_t* frame, uint32_t size) const override;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_SDK_PROTOCOL_H_
