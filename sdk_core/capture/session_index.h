#ifndef KESTO_CAPTURE_SESSION_INDEX_H_
#define KESTO_CAPTURE_SESSION_INDEX_H_

// What a recorded session holds, told from its datagrams alone: which senders are lidars, their
// model and serial number (from their discovery replies), and which datagrams are their point
// and IMU packets. The emulator's replay, lidarread and the tests all classify through here, so
// a recording means the same to each of them.
//
// A data packet is a datagram that is not a command frame, holds at least a data packet's header
// and names data type 0 (IMU) or 1-3 (points): the frames the host and the lidars exchange are
// told apart by their checksums, whatever the ports a configuration chose. A lidar is a sender
// of a discovery reply, or of a data packet of exactly a lidar's shape (six IMU values, or whole
// point records) from a port above 1023, so that a real network's other traffic (DNS, NTP, ...)
// makes no lidar; a lidar's later data packets need only the loose form. Pure code; one thread
// at a time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "captured_packet.h"

namespace kesto::capture {

// Bytes of a data packet's header, before its data area.
inline constexpr size_t kDataHeaderBytes = 36;
inline constexpr size_t kDataTypeAt = 10;
inline constexpr uint8_t kImuDataType = 0;
inline constexpr uint8_t kLastPointDataType = 3;

enum class DatagramKind {
  kPointData,       // a lidar's point packet (data type 1-3)
  kImuData,         // a lidar's IMU packet (data type 0)
  kDiscoveryReply,  // a lidar's answer to discovery
  kFrame,           // any other command frame: requests, acknowledgements, pushes, log data
  kOther,           // neither a frame nor a data packet
};

// Classifies one payload; `dev_type`/`sn` are set for a discovery reply.
DatagramKind ClassifyPayload(const uint8_t* payload, size_t size, uint8_t* dev_type = nullptr,
                             std::string* sn = nullptr);

struct LidarInCapture {
  uint32_t address = 0;       // network byte order
  uint8_t dev_type = 0;       // 0 until a discovery reply named it
  std::string sn;             // empty until a discovery reply named it
  uint16_t point_port = 0;    // lidar-side source port of its first point packet (0: none)
  uint16_t imu_port = 0;      // and of its first IMU packet
  uint64_t point_packets = 0;
  uint64_t imu_packets = 0;
  uint64_t first_ns = 0;      // its first datagram's time stamp
  uint64_t last_ns = 0;
};

class SessionIndex {
 public:
  // Datagrams in capture order. Returns what the datagram is.
  DatagramKind Add(const CapturedDatagram& datagram);

  // In order of first appearance as a lidar.
  const std::vector<LidarInCapture>& lidars() const { return lidars_; }
  // The lidar with this address, or null.
  const LidarInCapture* Find(uint32_t address) const;
  uint64_t datagrams() const { return datagrams_; }
  uint64_t first_ns() const { return first_ns_; }
  uint64_t last_ns() const { return last_ns_; }

 private:
  LidarInCapture* FindLidar(uint32_t address);
  // The lidar at `address`, entered now when it is new; heard at `time_ns`.
  LidarInCapture& LidarAt(uint32_t address, uint64_t time_ns);

  std::vector<LidarInCapture> lidars_;
  uint64_t datagrams_ = 0;
  uint64_t first_ns_ = 0;
  uint64_t last_ns_ = 0;
};

}  // namespace kesto::capture

#endif  // KESTO_CAPTURE_SESSION_INDEX_H_
