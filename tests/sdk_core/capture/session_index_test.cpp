// A recording told apart: lidars by their discovery replies and data packets, in order of first
// appearance; frames (whatever their port) never taken for data; the host never taken for a lidar.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "command_id.h"
#include "sdk_protocol.h"
#include "session_index.h"

namespace kesto::capture {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kHost = 0x0100007Fu;   // 127.0.0.1
constexpr uint32_t kFirst = 0x0300007Fu;  // 127.0.0.3
constexpr uint32_t kSecond = 0x0200007Fu;  // 127.0.0.2

Bytes Frame(uint16_t cmd_id, uint8_t cmd_type, const Bytes& payload) {
  lidar::ProtocolCommand command;
  command.cmd_id = cmd_id;
  command.cmd_type = cmd_type;
  command.data = payload.data();
  command.data_len = static_cast<uint16_t>(payload.size());
  Bytes frame(lidar::kMaxFrameLength, 0);
  int length = 0;
  EXPECT_EQ(lidar::SdkProtocol().EncodeFrame(frame.data(), static_cast<uint32_t>(frame.size()),
                                             length, command),
            0);
  frame.resize(static_cast<size_t>(length));
  return frame;
}

Bytes DiscoveryReply(uint8_t dev_type, const char* sn) {
  Bytes payload(24, 0);
  payload[1] = dev_type;
  std::memcpy(payload.data() + 2, sn, std::strlen(sn));
  return Frame(lidar::kCmdIdDiscovery, lidar::kCommandTypeAck, payload);
}

Bytes DataPacket(uint8_t data_type, size_t size) {
  Bytes packet(size, 0x5A);
  if (size > kDataTypeAt) packet[kDataTypeAt] = data_type;
  return packet;
}

CapturedDatagram From(uint32_t src, uint16_t port, uint64_t time, Bytes payload) {
  CapturedDatagram datagram;
  datagram.time_ns = time;
  datagram.src_ip = src;
  datagram.dst_ip = kHost;
  datagram.src_port = port;
  datagram.dst_port = 50000;
  datagram.payload = std::move(payload);
  return datagram;
}

TEST(SessionIndex, TellsLidarsAndTheirStreams) {
  SessionIndex index;
  struct Step {
    CapturedDatagram datagram;
    DatagramKind kind;
  } steps[] = {
      {From(kHost, 50001, 10, Frame(lidar::kCmdIdDiscovery, lidar::kCommandTypeCommand, {})),
       DatagramKind::kFrame},
      // A lidar first heard by its data, and only later by its discovery reply.
      {From(kFirst, 57000, 20, DataPacket(2, 1380)), DatagramKind::kPointData},
      {From(kSecond, 56000, 30, DiscoveryReply(9, "ORB-0001")), DatagramKind::kDiscoveryReply},
      {From(kFirst, 56000, 40, DiscoveryReply(10, "VELA-77")), DatagramKind::kDiscoveryReply},
      {From(kSecond, 58000, 50, DataPacket(0, 60)), DatagramKind::kImuData},
      // A frame on a data port stays a frame; a state push is a frame.
      {From(kSecond, 58000, 60, Frame(0x0102, lidar::kCommandTypeCommand, Bytes(40, 1))),
       DatagramKind::kFrame},
      {From(kSecond, 57000, 70, DataPacket(1, 36)), DatagramKind::kPointData},
      // Too short for a header, or a data type no lidar sends.
      {From(kSecond, 57000, 80, DataPacket(1, 35)), DatagramKind::kOther},
      {From(kSecond, 57000, 90, DataPacket(4, 1380)), DatagramKind::kOther},
      {From(kFirst, 57000, 100, DataPacket(3, 1380)), DatagramKind::kPointData},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(index.Add(step.datagram), step.kind) << step.datagram.time_ns;
  }
  ASSERT_EQ(index.lidars().size(), 2u);
  const LidarInCapture& first = index.lidars()[0];
  EXPECT_EQ(first.address, kFirst);
  EXPECT_EQ(first.dev_type, 10);
  EXPECT_EQ(first.sn, "VELA-77");
  EXPECT_EQ(first.point_packets, 2u);
  EXPECT_EQ(first.imu_packets, 0u);
  EXPECT_EQ(first.point_port, 57000);
  EXPECT_EQ(first.first_ns, 20u);
  EXPECT_EQ(first.last_ns, 100u);
  const LidarInCapture* second = index.Find(kSecond);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->sn, "ORB-0001");
  EXPECT_EQ(second->point_packets, 1u);
  EXPECT_EQ(second->imu_packets, 1u);
  EXPECT_EQ(second->imu_port, 58000);
  EXPECT_EQ(second->last_ns, 90u);
  EXPECT_EQ(index.Find(kHost), nullptr);
  EXPECT_EQ(index.datagrams(), 10u);
  EXPECT_EQ(index.first_ns(), 10u);
  EXPECT_EQ(index.last_ns(), 100u);
}

// A real network's other traffic passes the loose test of a data packet now and then (a DNS
// message has a 0 at byte 10): it makes no lidar unless it has exactly a lidar's shape from a
// port above the system services'. A lidar's own later packets need only the loose form.
TEST(SessionIndex, OtherTrafficMakesNoLidar) {
  constexpr uint32_t kServer = 0x0500007Fu;
  struct Case {
    uint16_t port;
    Bytes payload;
    DatagramKind kind;
  } cases[] = {
      {53, DataPacket(0, 60), DatagramKind::kOther},      // DNS of an IMU packet's size
      {123, DataPacket(1, 1380), DatagramKind::kOther},   // NTP port, point shape
      {5353, DataPacket(0, 77), DatagramKind::kOther},    // mDNS, no IMU packet's size
      {40000, DataPacket(1, 1381), DatagramKind::kOther}, // not whole records
      {40000, DataPacket(2, 36), DatagramKind::kOther},   // no record at all
      {40000, DataPacket(0, 60), DatagramKind::kImuData}, // a lidar's IMU packet: a lidar now
      {40000, DataPacket(1, 1381), DatagramKind::kPointData},  // then loose form suffices
  };
  SessionIndex index;
  for (const Case& c : cases) {
    EXPECT_EQ(index.Add(From(kServer, c.port, 1, c.payload)), c.kind)
        << c.port << " " << c.payload.size();
  }
  ASSERT_EQ(index.lidars().size(), 1u);
  EXPECT_EQ(index.lidars()[0].imu_packets, 1u);
  EXPECT_EQ(index.lidars()[0].point_packets, 1u);
}

}  // namespace
}  // namespace kesto::capture
