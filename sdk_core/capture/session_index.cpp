#include "session_index.h"

#include <algorithm>

#include "command_id.h"
#include "detection_data.h"
#include "packet_block_layout.h"
#include "protocol_command.h"
#include "sdk_protocol.h"

namespace kesto::capture {

DatagramKind ClassifyPayload(const uint8_t* payload, size_t size, uint8_t* dev_type,
                             std::string* sn) {
  static const lidar::SdkProtocol codec;
  const auto length = static_cast<uint32_t>(std::min<size_t>(size, UINT32_MAX));
  lidar::ProtocolCommand command;
  if (codec.VerifyFrame(payload, length) && codec.DecodeFrame(payload, length, command)) {
    lidar::DetectionData detection;
    if (command.cmd_id == lidar::kCmdIdDiscovery && command.cmd_type == lidar::kCommandTypeAck &&
        lidar::DecodeDetectionData(command.data, command.data_len, detection)) {
      if (dev_type != nullptr) *dev_type = detection.dev_type;
      if (sn != nullptr) *sn = detection.sn;
      return DatagramKind::kDiscoveryReply;
    }
    return DatagramKind::kFrame;
  }
  if (size < kDataHeaderBytes) return DatagramKind::kOther;
  const uint8_t data_type = payload[kDataTypeAt];
  if (data_type == kImuDataType) return DatagramKind::kImuData;
  if (data_type <= kLastPointDataType) return DatagramKind::kPointData;
  return DatagramKind::kOther;
}

namespace {

// Whether a data packet has exactly the shape a lidar sends (an IMU packet its six values, a
// point packet whole records) from a port no system service uses: what it takes for a sender
// heard of by no discovery reply to count as a lidar. Other traffic of a real network (DNS,
// NTP and the like) passes the loose test of ClassifyPayload now and then, this one hardly ever.
bool IsLidarShaped(DatagramKind kind, const CapturedDatagram& datagram) {
  constexpr uint16_t kFirstUnprivilegedPort = 1024;
  if (datagram.src_port < kFirstUnprivilegedPort) return false;
  const size_t size = datagram.payload.size();
  if (kind == DatagramKind::kImuData) return size == block::kPacketDataOffset + block::kImuValuesSize;
  const size_t record = block::RecordSize(datagram.payload[kDataTypeAt]);
  return record != 0 && size > kDataHeaderBytes && (size - kDataHeaderBytes) % record == 0;
}

}  // namespace

DatagramKind SessionIndex::Add(const CapturedDatagram& datagram) {
  if (datagrams_++ == 0) first_ns_ = datagram.time_ns;
  last_ns_ = std::max(last_ns_, datagram.time_ns);
  uint8_t dev_type = 0;
  std::string sn;
  DatagramKind kind =
      ClassifyPayload(datagram.payload.data(), datagram.payload.size(), &dev_type, &sn);
  if ((kind == DatagramKind::kPointData || kind == DatagramKind::kImuData) &&
      Find(datagram.src_ip) == nullptr && !IsLidarShaped(kind, datagram)) {
    kind = DatagramKind::kOther;
  }
  switch (kind) {
    case DatagramKind::kDiscoveryReply: {
      LidarInCapture& lidar = LidarAt(datagram.src_ip, datagram.time_ns);
      lidar.dev_type = dev_type;
      lidar.sn = sn;
      break;
    }
    case DatagramKind::kPointData: {
      LidarInCapture& lidar = LidarAt(datagram.src_ip, datagram.time_ns);
      if (lidar.point_packets++ == 0) lidar.point_port = datagram.src_port;
      break;
    }
    case DatagramKind::kImuData: {
      LidarInCapture& lidar = LidarAt(datagram.src_ip, datagram.time_ns);
      if (lidar.imu_packets++ == 0) lidar.imu_port = datagram.src_port;
      break;
    }
    case DatagramKind::kFrame:
    case DatagramKind::kOther:
      // A lidar's other datagrams still mark how long it was heard.
      if (LidarInCapture* lidar = FindLidar(datagram.src_ip)) {
        lidar->last_ns = std::max(lidar->last_ns, datagram.time_ns);
      }
      break;
  }
  return kind;
}

const LidarInCapture* SessionIndex::Find(uint32_t address) const {
  for (const LidarInCapture& lidar : lidars_) {
    if (lidar.address == address) return &lidar;
  }
  return nullptr;
}

LidarInCapture* SessionIndex::FindLidar(uint32_t address) {
  return const_cast<LidarInCapture*>(static_cast<const SessionIndex*>(this)->Find(address));
}

LidarInCapture& SessionIndex::LidarAt(uint32_t address, uint64_t time_ns) {
  if (LidarInCapture* lidar = FindLidar(address)) {
    lidar->last_ns = std::max(lidar->last_ns, time_ns);
    return *lidar;
  }
  LidarInCapture lidar;
  lidar.address = address;
  lidar.first_ns = lidar.last_ns = time_ns;
  lidars_.push_back(lidar);
  return lidars_.back();
}

}  // namespace kesto::capture
