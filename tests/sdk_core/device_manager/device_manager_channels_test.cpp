// The device manager's channels: which sockets each configuration opens, the command and log
// channels senders use, and what Stop leaves behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "device_manager_fixture.h"
#include "handle_text.h"
#include "peer_socket.h"
#include "socket_util.h"

namespace kesto::lidar::test {
namespace {

KestoLidarCfg LidarAt(const std::string& lidar_ip, uint8_t dev_type, HostNetInfo host) {
  KestoLidarCfg cfg = ModelCfg(dev_type);
  cfg.lidar_ip = lidar_ip;
  cfg.host_net_info = std::move(host);
  return cfg;
}

TEST_F(DeviceManagerTest, BothListsEmptyFailBeforeAnythingIsOpened) {
  EXPECT_FALSE(InitWith({}, {}));
  EXPECT_EQ(log_.Count("Device manager init failed, can not find cmd host ip."), 1u);
  EXPECT_EQ(manager_.SocketOfChannel(Key(kHost, 56000)), -1);
  EXPECT_EQ(manager_.SocketCount(), 0u);
}

struct ChannelCase {
  const char* name;
  LidarCfgList custom;
  std::vector<std::string> open;    // channel keys that get a socket
  std::vector<std::string> absent;  // channel keys that get none
  size_t sockets;                   // command and data sockets (detection not counted)
};

TEST_F(DeviceManagerTest, ChannelsOfConfiguredLidars) {
  HostNetInfo shared = HostPorts(kVela);
  // (A data port of 56000 is refused at start: RoutingTest.AHostDataPortSharedWith...)
  HostNetInfo zero_and_discovery = HostPorts(kVela);
  zero_and_discovery.point_data_port = 0;
  zero_and_discovery.imu_data_port = 0;
  zero_and_discovery.cmd_data_port = 56000;
  HostNetInfo local = HostPorts(kOrbit, "local");
  const std::vector<ChannelCase> cases = {
      {"two entries sharing host ports open one socket per port",
       {LidarAt("127.0.0.7", kVela, shared), LidarAt("127.0.0.8", kVela, shared)},
       {Key(kHost, 52001), Key(kHost, 52002), Key(kHost, 52003), Key(kHost, 52004),
        Key(kHost, 44332)},
       {Key(kHost, 52005), Key(kHost, 42867)},
       5},
      {"data ports 0 open nothing; a command port of 56000 is the detection socket",
       {LidarAt("127.0.0.7", kVela, zero_and_discovery)},
       {Key(kHost, 52002), Key(kHost, 44332)},
       {Key(kHost, 0)},
       2},
      {"device type 16 gets the fixed command port",
       {LidarAt("127.0.0.7", 16, shared)},
       {Key(kHost, 42867), Key(kHost, 52001)},
       {},
       6},
      {"\"local\" binds every interface",
       {LidarAt("127.0.0.7", kOrbit, local)},
       {Key("local", 51001), Key("local", 51003)},
       {Key(kHost, 51001)},
       5},
  };
  for (const ChannelCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(InitWith({ModelCfg(kVela)}, c.custom));
    const int detection = manager_.SocketOfChannel(Key(kHost, 56000));
    EXPECT_GT(detection, 0);
    for (const std::string& key : c.open) EXPECT_GE(manager_.SocketOfChannel(key), 0) << key;
    for (const std::string& key : c.absent) EXPECT_EQ(manager_.SocketOfChannel(key), -1) << key;
    EXPECT_EQ(manager_.SocketCount(), c.sockets);
    int command = -1;
    ASSERT_TRUE(manager_.GetCmdChannel(TextToHandle(c.custom[0].lidar_ip), command));
    if (c.custom[0].host_net_info.cmd_data_port == 56000) {
      EXPECT_EQ(command, detection);
    }
    if (c.custom[0].host_net_info.host_ip == "local") {
      sockaddr_in bound{};
      ASSERT_TRUE(platform::SocketLocalAddress(command, &bound));
      EXPECT_EQ(bound.sin_addr.s_addr, htonl(INADDR_ANY));
    }
    manager_.Stop();
    EXPECT_EQ(manager_.SocketCount(), 0u);
    EXPECT_EQ(manager_.SocketOfChannel(Key(kHost, 56000)), -1);
  }
}

// Without master_sdk no command socket is opened, so commands leave from the detection socket.
TEST_F(DeviceManagerTest, CommandsFallBackToTheDetectionSocket) {
  for (const bool master : {true, false}) {
    SCOPED_TRACE(master ? "master" : "not master");
    const KestoLidarCfg lidar = LidarAt("127.0.0.7", kVela, HostPorts(kVela));
    ASSERT_TRUE(InitWith({ModelCfg(kVela)}, {lidar}, master));
    EXPECT_EQ(manager_.SocketOfChannel(Key(kHost, 52001)) >= 0, master);
    PeerSocket lidar_side("127.0.0.7", 56000);
    ASSERT_TRUE(lidar_side.ok());
    log_.Clear();
    const std::vector<uint8_t> frame = {1, 2, 3};
    EXPECT_EQ(manager_.SendCommand(kVela, TextToHandle("127.0.0.7"), frame.data(), frame.size(),
                                   TextToHandle("127.0.0.7"), 56000),
              3);
    PeerSocket::Datagram got;
    ASSERT_TRUE(lidar_side.Receive(got));
    EXPECT_EQ(got.bytes, frame);
    EXPECT_EQ(got.from_port, master ? 52001 : 56000);
    EXPECT_EQ(log_.Count("Get cmd channel faileld, the lidar handle:"), master ? 0u : 1u);
    manager_.Stop();
  }
}

TEST_F(DeviceManagerTest, AfterStopSendsFailAndInitStartsAfresh) {
  const KestoLidarCfg lidar = LidarAt("127.0.0.7", kVela, HostPorts(kVela));
  ASSERT_TRUE(InitWith({ModelCfg(kVela)}, {lidar}));
  manager_.Stop();
  const std::vector<uint8_t> frame = {1, 2, 3};
  EXPECT_LT(manager_.SendCommand(kVela, TextToHandle("127.0.0.7"), frame.data(), frame.size(),
                                 TextToHandle("127.0.0.7"), 56000),
            0);
  EXPECT_LT(manager_.SendLogCommand(kVela, TextToHandle("127.0.0.7"), frame.data(), frame.size(),
                                    TextToHandle("127.0.0.7"), 59000),
            0);

  // A new Init replaces the IO threads and serves data again.
  if (!LoopbackSendersAreDistinct()) GTEST_SKIP() << kSameSenderNote;
  ASSERT_TRUE(InitWith({ModelCfg(kVela)}, {lidar}));
  PeerSocket point_side("127.0.0.7", 57000);
  std::vector<uint8_t> packet(1380, 0);
  packet[10] = 1;
  ASSERT_TRUE(WaitFor([&] {
    point_side.SendTo(packet, kHost, 52003);
    return WaitFor([&] { return points_.Count() > 0; }, std::chrono::milliseconds(200));
  }));
}

TEST_F(DeviceManagerTest, LogChannelOnlyWhileCaptureRuns) {
  const KestoLidarCfg lidar = LidarAt("127.0.0.7", kOrbit, HostPorts(kOrbit));
  ASSERT_TRUE(InitWith({ModelCfg(kOrbit)}, {lidar}));
  int log_socket = -1;
  EXPECT_FALSE(manager_.GetLogChannel(TextToHandle("127.0.0.7"), log_socket));
  EXPECT_EQ(manager_.SocketOfChannel(Key(kHost, 51005)), -1);
  manager_.Stop();

  log_dir_ = ::testing::TempDir() + "device_manager_log_store/";
  std::filesystem::create_directories(log_dir_);
  ASSERT_TRUE(InitWith({ModelCfg(kOrbit)}, {lidar}, true, true));
  EXPECT_TRUE(manager_.GetLogChannel(TextToHandle("127.0.0.7"), log_socket));
  EXPECT_EQ(log_socket, manager_.SocketOfChannel(Key(kHost, 51005)));
}

}  // namespace
}  // namespace kesto::lidar::test
