#ifndef KESTO_TOOLS_LIDAR_SIM_DATA_PACKET_H_
#define KESTO_TOOLS_LIDAR_SIM_DATA_PACKET_H_

// Point-cloud and IMU datagrams as an emulated lidar sends them.
//
// Header (36 bytes, little-endian): version u8 = 1 at 0, u16 datagram length at 2, u16 number
// of records at 6, data type at 10 (0 IMU, 1-3 point type), u32 running counter of the stream at
// 12, u64 timestamp in nanoseconds at 28. The host interprets only the data type and the
// timestamp; the counter lets a receiver count loss. The data area follows from byte 36.

#include <cstddef>
#include <cstdint>

namespace kesto::lidar_sim {

inline constexpr size_t kDataHeaderLength = 36;
inline constexpr size_t kCounterOffset = 12;
inline constexpr size_t kImuPacketSize = kDataHeaderLength + 24;
inline constexpr size_t kMaxPointPacketSize = kDataHeaderLength + 96 * 14;

// Bytes of one point record of `type` (14, 8, 10); 0 for another type.
size_t PointRecordSize(uint8_t type);
// Bytes of a 96-record packet of `type`; 0 for another type.
size_t PointPacketSize(uint8_t type);

void WriteDataHeader(uint8_t* packet, uint16_t length, uint16_t records, uint8_t data_type,
                     uint32_t counter, uint64_t timestamp_ns);

// The scanned scene: a room of 8 x 6 x 3 m around the lidar (1.2 m above the floor) with a
// sphere of 0.5 m that circles it 2.5 m away, once every 12 s. The scan spins with 50 vertical
// channels from -25 to +25 degrees and 400 steps a turn, so a plot of one turn of points shows
// walls, floor, ceiling and the sphere. Stateless; safe from any thread.
class RoomScene {
 public:
  // Packets after which the scan positions repeat: 20,000 points a turn, 96 a packet. Packets n
  // and n + kScanPeriodPackets hold the same records at the same time.
  static constexpr uint64_t kScanPeriodPackets = 625;

  // Writes 96 records of `type` for packet number `index` (the point at scan position
  // index * 96 onward) with the sphere where it is at `seconds`.
  static void FillPoints(uint8_t type, uint64_t index, double seconds, uint8_t* records);
  // Six float32: angular rate x, y, z (rad/s) and acceleration x, y, z (g) at `seconds`.
  static void FillImu(double seconds, uint8_t* values);
};

}  // namespace kesto::lidar_sim

#endif  // KESTO_TOOLS_LIDAR_SIM_DATA_PACKET_H_
