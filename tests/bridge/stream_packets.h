#ifndef KESTO_TESTS_BRIDGE_STREAM_PACKETS_H_
#define KESTO_TESTS_BRIDGE_STREAM_PACKETS_H_

// Packets whose every byte derives from a counter, so that a reader can tell a whole packet from
// a torn one and knows which packet it holds. Packet c (the writer's index for it):
//   data type c % 4, its usual length (KnownPacketLength), handle 127.0.0.(1 + c % 3) in network
//   byte order, device type 9 + c % 2;
//   header bytes other than the data type: (c + i) & 0xFF at offset i;
//   timestamp 1000 c + 7;
//   IMU (type 0): six float32 c + 0.25 j, j = 0..5;
//   points (types 1-3): data-area byte i = (131 c + 7 i) & 0xFF.
// The Octave tests know the same formulas.

#include <array>
#include <cstdint>
#include <cstring>

#include "kesto_lidar_sdk.h"
#include "packet_block_layout.h"
#include "packet_stream_writer.h"

namespace kesto::test {

struct DerivedPacket {
  explicit DerivedPacket(std::uint64_t c) {
    type = static_cast<std::uint8_t>(c % 4);
    length = bridge::KnownPacketLength(type);
    handle = 0x0000007Fu | static_cast<std::uint32_t>(1 + c % 3) << 24;
    dev_type = static_cast<std::uint8_t>(9 + c % 2);
    for (std::size_t i = 0; i < block::kPacketTimestampOffset; ++i) {
      bytes[i] = static_cast<std::uint8_t>(c + i);
    }
    bytes[block::kPacketDataTypeOffset] = type;
    const std::uint64_t timestamp = 1000 * c + 7;
    for (std::size_t i = 0; i < 8; ++i) {
      bytes[block::kPacketTimestampOffset + i] = static_cast<std::uint8_t>(timestamp >> (8 * i));
    }
    std::uint8_t* data = bytes.data() + block::kPacketDataOffset;
    if (type == 0) {
      for (std::size_t j = 0; j < 6; ++j) {
        const float value = static_cast<float>(c) + 0.25f * static_cast<float>(j);
        std::memcpy(data + 4 * j, &value, 4);
      }
    } else {
      for (std::size_t i = 0; i + block::kPacketDataOffset < length; ++i) {
        data[i] = static_cast<std::uint8_t>(131 * c + 7 * i);
      }
    }
  }
  const KestoLidarEthernetPacket* packet() const {
    return reinterpret_cast<const KestoLidarEthernetPacket*>(bytes.data());
  }
  void WriteTo(bridge::PacketStreamWriter& writer) const {
    writer.Write(handle, dev_type, packet(), length);
  }

  std::uint8_t type = 0;
  std::size_t length = 0;
  std::uint32_t handle = 0;
  std::uint8_t dev_type = 0;
  // Room for the largest packet and more; smaller than the kit's receive buffer, to keep a
  // writer at full speed busy with writing rather than with making packets.
  std::array<std::uint8_t, 1536> bytes{};
};

// True when the slot contents are exactly those of packet `c`.
inline bool IsDerivedPacket(std::uint64_t c, std::uint32_t handle, std::uint8_t dev_type,
                            std::uint8_t type, std::size_t length, const std::uint8_t* bytes) {
  const DerivedPacket expected(c);
  return handle == expected.handle && dev_type == expected.dev_type && type == expected.type &&
         length == expected.length && std::memcmp(bytes, expected.bytes.data(), length) == 0;
}

}  // namespace kesto::test

#endif  // KESTO_TESTS_BRIDGE_STREAM_PACKETS_H_
