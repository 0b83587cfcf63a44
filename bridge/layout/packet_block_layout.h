#ifndef KESTO_PACKET_BLOCK_LAYOUT_H_
#define KESTO_PACKET_BLOCK_LAYOUT_H_

// Layout of the version-5 shared packet block "brenic-shm v5", written by the bridge and read by
// the lidartap5 plug-in, and the packet offsets it is copied from. There is no header, magic or
// version field: the version is part of the object's name. Every multi-byte value keeps the
// lidar packet's little-endian order and nothing is aligned.

#include <cstddef>
#include <cstdint>

namespace kesto::block {

inline constexpr char kBlockName[] = "brenic-shm v5";
inline constexpr std::size_t kBlockSize = 1385;

// Block offsets.
inline constexpr std::size_t kDataTypeOffset = 0;         // u8: 0 IMU, 1-3 point data type
inline constexpr std::size_t kPointTimestampOffset = 1;   // u64 of the newest point packet
inline constexpr std::size_t kImuTimestampOffset = 9;     // u64 of the newest IMU packet
inline constexpr std::size_t kImuValuesOffset = 17;       // six float32 of the newest IMU packet
inline constexpr std::size_t kImuValueCount = 6;
inline constexpr std::size_t kImuValuesSize = kImuValueCount * 4;
inline constexpr std::size_t kPointAreaOffset = 41;       // 96 records of the newest point packet
inline constexpr std::size_t kRecordsPerBlock = 96;
inline constexpr std::size_t kTimestampSize = 8;

// Packet offsets (KestoLidarEthernetPacket).
inline constexpr std::size_t kPacketDataTypeOffset = 10;
inline constexpr std::size_t kPacketTimestampOffset = 28;
inline constexpr std::size_t kPacketDataOffset = 36;

inline constexpr std::uint8_t kImuDataType = 0;

// Record size of a point data type: 14 (i32 x3, u8 x2), 8 (i16 x3, u8 x2) or 10 (u32, u16 x2,
// u8 x2); 0 for anything that is not a point data type.
constexpr std::size_t RecordSize(std::uint8_t data_type) {
  switch (data_type) {
    case 1: return 14;
    case 2: return 8;
    case 3: return 10;
    default: return 0;
  }
}

static_assert(kImuValuesOffset + kImuValuesSize == kPointAreaOffset, "IMU values end at 41");
static_assert(kPointAreaOffset + kRecordsPerBlock * RecordSize(1) == kBlockSize,
              "the largest point area fills the block");

}  // namespace kesto::block

#endif  // KESTO_PACKET_BLOCK_LAYOUT_H_
