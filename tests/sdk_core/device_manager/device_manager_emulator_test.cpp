// The device manager against emulated lidars: discovery requests on the wire, lidars found,
// configured and streaming in both start variants.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "command_impl.h"
#include "device_manager_fixture.h"
#include "handle_text.h"
#include "lidar_sim.h"
#include "parse_frame.h"
#include "peer_socket.h"
#include "sdk_protocol.h"

namespace kesto::lidar::test {
namespace {

namespace sim = ::kesto::lidar_sim;

TEST_F(DeviceManagerTest, DiscoveryRequestsAreBroadcastOncePerSecond) {
  PeerSocket listener("", 56000);
  ASSERT_TRUE(listener.ok());
  ASSERT_TRUE(InitBothModels());
  SdkProtocol codec;
  std::vector<uint32_t> seqs;
  std::vector<std::chrono::steady_clock::time_point> times;
  while (seqs.size() < 2) {
    PeerSocket::Datagram got;
    ASSERT_TRUE(listener.Receive(got));
    times.push_back(std::chrono::steady_clock::now());
    ASSERT_EQ(got.bytes.size(), 24u);
    EXPECT_EQ(got.from_handle, TextToHandle(kHost));
    EXPECT_EQ(got.from_port, 56000);
    ProtocolCommand command;
    ASSERT_TRUE(ParseFrame(codec, got.bytes.data(), 24, command));
    EXPECT_EQ(command.cmd_id, 0);
    EXPECT_EQ(command.cmd_type, 0);
    EXPECT_EQ(command.data_len, 0);
    seqs.push_back(command.seq);
  }
  EXPECT_NE(seqs[0], seqs[1]);
  // A period, not a burst: a lower bound only, which no slowness of the machine can break.
  EXPECT_GE(times[1] - times[0], std::chrono::milliseconds(500));
  EXPECT_EQ(static_cast<uint16_t>(seqs[1] - seqs[0]) < 0x8000, true);  // rising, modulo wrap
}

struct Identity {
  uint8_t dev_type;
  std::string sn;
  std::string ip;
};

class EmulatorTest : public DeviceManagerTest {
 protected:
  static void OnInfoChange(uint32_t, const KestoLidarIdentity* info, void* self) {
    auto* test = static_cast<EmulatorTest*>(self);
    std::lock_guard<std::mutex> lock(test->mutex_);
    test->identities_.push_back({info->dev_type, info->sn, info->lidar_ip});
  }
  size_t IdentityCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return identities_.size();
  }
  std::set<uint8_t> SeenTypes(const PacketRecorder& recorder) {
    std::set<uint8_t> types;
    for (const auto& seen : recorder.All()) types.insert(seen.dev_type);
    return types;
  }

  std::mutex mutex_;
  std::vector<Identity> identities_;
};

TEST_F(EmulatorTest, ConfiguredLidarsOfBothModelsStreamToTheHost) {
  if (!LoopbackSendersAreDistinct()) GTEST_SKIP() << kSameSenderNote;
  kit_.setup().SetInfoChangeObserver(&OnInfoChange, this);
  sim::SimOptions options;
  options.lidars = {{sim::Model::kOrbit, "127.0.0.2", "ORBIT-A"},
                    {sim::Model::kVela, "127.0.0.3", "VELA-A"}};
  options.point_rate = 200;
  options.imu_rate = 50;
  options.stream_seconds = 60;
  sim::Simulator emulator(options);
  ASSERT_TRUE(emulator.Start());
  ASSERT_TRUE(InitBothModels());

  ASSERT_TRUE(WaitFor([&] { return IdentityCount() == 2; }, std::chrono::seconds(20)));
  for (const char* address : {"127.0.0.2", "127.0.0.3"}) {
    const auto record = directory_.Find(TextToHandle(address));
    ASSERT_TRUE(record && record->cfg) << address;
    EXPECT_EQ(record->state, LidarState::kConfigured);
  }
  for (size_t i = 0; i < 2; ++i) {
    const sim::LidarSnapshot lidar = emulator.Snapshot(i);
    EXPECT_TRUE(lidar.configured);
    const uint8_t type = i == 0 ? kOrbit : kVela;
    EXPECT_EQ(lidar.point_host.address, kHost);
    EXPECT_EQ(lidar.point_host.port, HostPorts(type).point_data_port);
    EXPECT_EQ(lidar.imu_host.port, HostPorts(type).imu_data_port);
    EXPECT_EQ(SendWorkMode(general_, TextToHandle(lidar.setup.address), 1, nullptr, nullptr), 0);
  }
  ASSERT_TRUE(WaitFor([&] { return SeenTypes(points_) == std::set<uint8_t>{kOrbit, kVela}; }));
  ASSERT_TRUE(WaitFor([&] { return SeenTypes(imu_) == std::set<uint8_t>{kOrbit, kVela}; }));
  for (const auto& seen : points_.All()) {
    EXPECT_EQ(seen.handle, TextToHandle(seen.dev_type == kOrbit ? "127.0.0.2" : "127.0.0.3"));
  }

  // After Stop and a new Init every lidar is new again: found, added and configured once more.
  manager_.Stop();
  ASSERT_TRUE(InitBothModels());
  ASSERT_TRUE(WaitFor([&] { return IdentityCount() == 4; }, std::chrono::seconds(20)));
  for (const char* address : {"127.0.0.2", "127.0.0.3"}) {
    const auto record = directory_.Find(TextToHandle(address));
    ASSERT_TRUE(record && record->cfg) << address;
    EXPECT_EQ(record->state, LidarState::kConfigured);
  }
}

// View mode: the lidar already streams to this host (another host configured it); its internal
// information names the ports, and the device manager opens them. An ORBIT lidar's data comes
// from its fixed ports whatever the reply says.
TEST_F(EmulatorTest, AViewLidarIsFoundFromItsInternalInformation) {
  if (!LoopbackSendersAreDistinct()) GTEST_SKIP() << kSameSenderNote;
  for (const sim::Model model : {sim::Model::kVela, sim::Model::kOrbit}) {
    SCOPED_TRACE(sim::ModelName(model));
    sim::SimOptions options;
    options.lidars = {{model, "127.0.0.3", "VIEW-1"}};
    options.point_rate = 200;
    options.imu_rate = 50;
    options.stream_seconds = 60;
    options.preset = {kHost, 53003, 53004, 1};
    sim::Simulator emulator(options);
    ASSERT_TRUE(emulator.Start());
    const size_t points_before = points_.Count();
    const size_t imu_before = imu_.Count();
    ASSERT_TRUE(manager_.Init(kHost, nullptr));

    ASSERT_TRUE(WaitFor(
        [&] {
          const auto record = directory_.Find(TextToHandle("127.0.0.3"));
          return record && record->view;
        },
        std::chrono::seconds(20)));
    // The device manager opens the named ports on its next tick.
    EXPECT_TRUE(WaitFor([&] { return manager_.SocketOfChannel(Key(kHost, 53003)) >= 0; }));
    EXPECT_TRUE(WaitFor([&] { return manager_.SocketOfChannel(Key(kHost, 53004)) >= 0; }));
    ASSERT_TRUE(WaitFor(
        [&] { return points_.Count() > points_before && imu_.Count() > imu_before; }));
    EXPECT_EQ(points_.All().back().dev_type, sim::DeviceType(model));
    manager_.Stop();
  }
}

// The host-address start copies the caller's log record with its path bounded to the field.
TEST_F(DeviceManagerTest, HostAddressStartTakesAnUnterminatedLogPathSafely) {
  KestoLidarLoggerCfgInfo record{};
  record.lidar_log_enable = 0;
  record.lidar_log_cache_size = 0;
  std::memset(record.lidar_log_path, 'p', sizeof(record.lidar_log_path));
  ASSERT_TRUE(manager_.Init(kHost, &record));
  EXPECT_GT(manager_.SocketOfChannel(Key(kHost, 56000)), 0);
  EXPECT_EQ(manager_.SocketCount(), 0u);  // view mode opens data channels only per view lidar
}

}  // namespace
}  // namespace kesto::lidar::test
