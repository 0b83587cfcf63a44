// A host session against emulated lidars of both models: discovery, configuration with the
// byte images a host sends, queries, streamed data and state pushes.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "lidar_sim.h"
#include "little_endian.h"
#include "session_fixture.h"

namespace kesto::lidar_sim::test {
namespace {

TEST_F(SessionTest, EveryLidarAnswersOneDiscoveryBroadcast) {
  HostSocket detection(kDiscoveryPort, /*broadcast=*/true);
  ASSERT_TRUE(detection.ok());
  ASSERT_TRUE(detection.SendTo(HostFrame(0x0000, 2, {}), "255.255.255.255", kDiscoveryPort));

  // Keyed by the address each reply names, so that lidars that all send from 127.0.0.1 (Wine)
  // are still told apart.
  std::map<Bytes, std::pair<Datagram, Frame>> replies;
  Datagram d;
  while (replies.size() < kLidars.size() && detection.Receive(d)) {
    Frame f;
    ASSERT_TRUE(DecodeFrame(d.bytes, f));
    ASSERT_EQ(f.payload.size(), 24u);
    const Bytes named(f.payload.begin() + 18, f.payload.begin() + 22);
    EXPECT_EQ(replies.count(named), 0u) << "a second reply";
    replies[named] = {d, f};
  }
  ASSERT_EQ(replies.size(), kLidars.size());
  for (size_t i = 0; i < kLidars.size(); ++i) {
    const LidarUnderTest& lidar = kLidars[i];
    SCOPED_TRACE(lidar.address);
    const auto& [datagram, f] = replies[lidar.address_bytes];
    EXPECT_EQ(datagram.from_address, SourceOf(lidar));
    EXPECT_EQ(datagram.from_port, kDiscoveryPort);
    // The shared discovery socket answers a broadcast; a lidar's own sockets of the discovery port
    // must not answer the copies they may get of it too.
    EXPECT_EQ(sim_->Snapshot(i).discovery_replies, 1u);
    EXPECT_EQ(f.cmd_id, 0x0000);
    EXPECT_EQ(f.cmd_type, 1);
    EXPECT_EQ(f.seq, 2u);
    ASSERT_EQ(f.payload.size(), 24u);
    EXPECT_EQ(f.payload[0], 0);  // ret_code
    EXPECT_EQ(f.payload[1], lidar.dev_type);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f.payload[2])), lidar.serial);
    EXPECT_EQ(LoadU16(&f.payload[22]), lidar.command_port);
  }
}

TEST_F(SessionTest, ConfigurationIsAcknowledgedRecordedAndQueried) {
  for (size_t i = 0; i < kLidars.size(); ++i) {
    const LidarUnderTest& lidar = kLidars[i];
    SCOPED_TRACE(lidar.address);
    Frame ack = Command(lidar, 0x0100, 100 + static_cast<uint32_t>(i), ConfigImage(lidar, i));
    EXPECT_EQ(ack.seq, 100 + i);
    EXPECT_EQ(ack.payload, (Bytes{0, 0, 0}));

    // Firmware type query: 01 00 00 00 10 80 -> ret 0, one entry 0x8010 of one byte.
    Frame fw = Command(lidar, 0x0101, 200, {0x01, 0x00, 0x00, 0x00, 0x10, 0x80});
    EXPECT_EQ(fw.payload, (Bytes{0x00, 0x01, 0x00, 0x10, 0x80, 0x01, 0x00, 0x01}));

    // Work mode 1, then point data type 1 and IMU on, as a host asks for them.
    EXPECT_EQ(Command(lidar, 0x0100, 201, {1, 0, 0, 0, 0x1A, 0, 1, 0, 1}).payload, (Bytes{0, 0, 0}));
    EXPECT_EQ(Command(lidar, 0x0100, 202, {1, 0, 0, 0, 0x00, 0, 1, 0, 1}).payload, (Bytes{0, 0, 0}));
    EXPECT_EQ(Command(lidar, 0x0100, 203, {1, 0, 0, 0, 0x1C, 0, 1, 0, 1}).payload, (Bytes{0, 0, 0}));

    const LidarSnapshot s = sim_->Snapshot(i);
    EXPECT_TRUE(s.configured);
    EXPECT_EQ(s.work_mode, 1);
    EXPECT_EQ(s.point_type, 1);
    EXPECT_TRUE(s.imu_enabled);
    EXPECT_EQ(s.point_host, (HostEndpoint{"127.0.0.1", PointPort(i)}));
    EXPECT_EQ(s.imu_host, (HostEndpoint{"127.0.0.1", ImuPort(i)}));
    if (lidar.model == Model::kOrbit) {
      EXPECT_EQ(s.state_host, (HostEndpoint{"127.0.0.1", kPushPort}));
    }

    // The internal-info query of the model: entries from offset 3, in request order, with the
    // values just set.
    const std::vector<uint16_t> keys = lidar.model == Model::kOrbit ? OrbitQueryKeys() : VelaQueryKeys();
    Bytes query(4 + 2 * keys.size(), 0);
    StoreU16(query.data(), static_cast<uint16_t>(keys.size()));
    for (size_t k = 0; k < keys.size(); ++k) StoreU16(query.data() + 4 + 2 * k, keys[k]);
    const Frame info = Command(lidar, 0x0101, 204, query);
    ASSERT_GE(info.payload.size(), 3u);
    EXPECT_EQ(info.payload[0], 0);
    const std::map<uint16_t, Bytes> entries = Entries(info.payload, keys);
    EXPECT_EQ(entries.at(0x001A), Bytes{1});
    EXPECT_EQ(entries.at(0x0000), Bytes{1});
    EXPECT_EQ(entries.at(0x8000), SerialField(lidar.serial));
    EXPECT_EQ(entries.at(0x0006), HostConfig(PointPort(i), lidar.point_port));
    EXPECT_EQ(entries.at(0x0007), HostConfig(ImuPort(i), lidar.imu_port));
    EXPECT_EQ(entries.count(0x001E) + entries.count(0x8012), 0u);  // not known, left out
  }
}

TEST_F(SessionTest, ConfiguredLidarsStreamPointsAndImuAndPushTheirState) {
  std::vector<std::unique_ptr<HostSocket>> points, imus;
  for (size_t i = 0; i < kLidars.size(); ++i) {
    points.push_back(std::make_unique<HostSocket>(PointPort(i)));
    imus.push_back(std::make_unique<HostSocket>(ImuPort(i)));
    ASSERT_TRUE(points.back()->ok() && imus.back()->ok());
    Command(kLidars[i], 0x0100, 300, ConfigImage(kLidars[i], i));
    Command(kLidars[i], 0x0100, 301, {1, 0, 0, 0, 0x1A, 0, 1, 0, 1});
  }
  for (size_t i = 0; i < kLidars.size(); ++i) {
    const LidarUnderTest& lidar = kLidars[i];
    SCOPED_TRACE(lidar.address);
    uint64_t last_timestamp = 0;
    for (uint32_t n = 0; n < kPacketLimit; ++n) {
      Datagram d;
      ASSERT_TRUE(points[i]->Receive(d));
      EXPECT_EQ(d.from_address, SourceOf(lidar));
      EXPECT_EQ(d.from_port, lidar.point_port);
      ASSERT_EQ(d.bytes.size(), 36u + 96u * 14u);
      EXPECT_EQ(d.bytes[10], 1);                 // data type
      EXPECT_EQ(LoadU32(&d.bytes[12]), n);       // running counter, no gap at this rate
      const uint64_t timestamp = LoadU64(&d.bytes[28]);
      EXPECT_GT(timestamp, last_timestamp);
      last_timestamp = timestamp;
    }
    Datagram imu;
    ASSERT_TRUE(imus[i]->Receive(imu));
    EXPECT_EQ(imu.from_port, lidar.imu_port);
    EXPECT_EQ(imu.bytes.size(), 60u);
    EXPECT_EQ(imu.bytes[10], 0);
    EXPECT_EQ(LoadU32(&imu.bytes[12]), 0u);
  }
  // One state push per lidar at least, from its model's push port. An ORBIT lidar sends to the
  // state host it was given, a VELA lidar to the address that configured it.
  std::map<std::string, Frame> pushes;
  for (HostSocket* socket : {push_.get(), command_.get()}) {
    const size_t expected = pushes.size() + 2;  // two lidars of each model
    Datagram d;
    while (pushes.size() < expected && socket->Receive(d)) {
      Frame f;
      if (!DecodeFrame(d.bytes, f) || f.cmd_id != 0x0102) continue;
      // The first push may predate the work mode request; wait for one that knows it.
      if (ListEntries(f.payload).at(0x001A) != Bytes{1}) continue;
      EXPECT_EQ(f.cmd_type, 0);
      const LidarUnderTest* lidar = FindBySerial(ListEntries(f.payload).at(0x8000));
      ASSERT_NE(lidar, nullptr);
      EXPECT_EQ(d.from_address, SourceOf(*lidar));
      EXPECT_EQ(d.from_port, lidar->push_port);
      EXPECT_EQ(socket == push_.get(), lidar->model == Model::kOrbit);
      pushes[lidar->address] = f;
    }
  }
  EXPECT_EQ(pushes.size(), kLidars.size());
}

}  // namespace
}  // namespace kesto::lidar_sim::test
