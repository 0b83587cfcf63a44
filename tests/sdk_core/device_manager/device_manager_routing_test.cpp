// The routing of every datagram: new lidars from their first discovery reply, the later replies
// and every command port to the general command handler, point and IMU data to the data handler,
// everything else dropped; and the receive buffer the data path reads.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <optional>

#include "device_manager_fixture.h"
#include "handle_text.h"
#include "lidar_frames.h"
#include "peer_socket.h"

namespace kesto::lidar::test {
namespace {

using ::kesto::test::Ack;
using ::kesto::test::DiscoveryReply;
using ::kesto::test::InternalInfoAnswer;

constexpr char kLidarIp[] = "127.0.0.7";
const std::array<uint8_t, 4> kLidarOctets = {127, 0, 0, 7};

uint32_t LidarHandle() { return TextToHandle(kLidarIp); }

Bytes PointPacket(uint8_t fill, size_t size = 1380) {
  Bytes packet(size, fill);
  if (size > 10) packet[10] = 1;
  return packet;
}

class RoutingTest : public DeviceManagerTest {
 public:
  void Route(uint16_t port, const Bytes& bytes,
             DeviceManager::ReceivedOn on = DeviceManager::ReceivedOn::kDataChannel) {
    // The data path reads a whole packet's span: hand it a buffer that long, zero-padded.
    Bytes buffer = bytes;
    if (buffer.size() < DeviceManager::kDataReadSpan) buffer.resize(DeviceManager::kDataReadSpan);
    manager_.OnData(LidarHandle(), port, buffer.data(), static_cast<uint32_t>(bytes.size()), on);
  }
  void Reply(uint8_t ret_code, uint8_t dev_type, uint16_t port = 56000) {
    const uint16_t cmd_port = LidarPorts(dev_type).cmd_data_port;
    Route(port, DiscoveryReply(ret_code, dev_type, "SN-7", kLidarOctets, cmd_port));
  }
};

TEST_F(RoutingTest, FirstReplyOfAConfiguredModelAddsTheLidarWithItsChannels) {
  ASSERT_TRUE(InitBothModels());
  ASSERT_EQ(manager_.SocketCount(), 0u);
  Reply(0, kVela);
  const auto record = directory_.Find(LidarHandle());
  ASSERT_TRUE(record && record->cfg);
  EXPECT_EQ(record->cfg->lidar_ip, kLidarIp);
  EXPECT_EQ(record->cfg->dev_type, kVela);
  EXPECT_EQ(record->state, LidarState::kExpected);
  for (const int port : {52001, 52002, 52003, 52004, 44332}) {
    EXPECT_GE(manager_.SocketOfChannel(Key(kHost, static_cast<uint16_t>(port))), 0) << port;
  }
  EXPECT_EQ(manager_.SocketOfChannel(Key(kHost, 51001)), -1);  // the ORBIT model's ports
}

TEST_F(RoutingTest, RepliesThatAddNothing) {
  struct Case {
    const char* name;
    std::function<void(RoutingTest&)> send;
    size_t parse_failures;
  };
  const std::vector<Case> cases = {
      {"ret_code 1", [](RoutingTest& t) { t.Reply(1, kVela); }, 0},
      {"model without a configuration", [](RoutingTest& t) { t.Reply(0, 16); }, 0},
      {"unknown lidar on another port", [](RoutingTest& t) { t.Reply(0, kVela, 56001); }, 0},
      {"damaged frame",
       [](RoutingTest& t) {
         Bytes reply = DiscoveryReply(0, kVela, "SN-7", kLidarOctets, 56000);
         reply.back() ^= 0xFF;
         t.Route(56000, reply);
       },
       1},
      {"not a discovery reply",
       [](RoutingTest& t) { t.Route(56000, Ack(3, 0x0100, {0, 0, 0})); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(InitBothModels());
    log_.Clear();
    c.send(*this);
    EXPECT_FALSE(directory_.Find(LidarHandle()).has_value());
    EXPECT_EQ(manager_.SocketCount(), 0u);
    EXPECT_EQ(log_.Count("Parse Command Stream failed."), c.parse_failures);
    manager_.Stop();
  }
}

// The general command handler answers a lidar it detects with one firmware-type query: that
// query reaching the lidar shows the reply was routed to it.
TEST_F(RoutingTest, SecondReplyReachesTheGeneralCommandHandler) {
  ASSERT_TRUE(InitBothModels());
  PeerSocket lidar_side(kLidarIp, 56000);
  ASSERT_TRUE(lidar_side.ok());
  Reply(0, kVela);
  EXPECT_EQ(general_.PendingCommandCount(), 0u);  // the first reply stays with the device manager
  Reply(0, kVela);
  PeerSocket::Datagram got;
  ASSERT_TRUE(lidar_side.ReceiveCommand(0x0101, got));
  ASSERT_EQ(got.bytes.size(), 30u);
  EXPECT_EQ(Bytes(got.bytes.begin() + 24, got.bytes.end()), (Bytes{1, 0, 0, 0, 0x10, 0x80}));
  EXPECT_EQ(general_.PendingCommandCount(), 1u);
}

// For each source port of a known lidar: is an acknowledgement taken by the general command
// handler (its pending query completes), or a packet by the data handler?
TEST_F(RoutingTest, KnownLidarsAreRoutedBySourcePort) {
  struct Case {
    uint8_t dev_type;
    uint16_t port;
    enum { kCommand, kPoint, kImu, kDropped } to;
  };
  const std::vector<Case> cases = {
      {kVela, 56000, Case::kCommand},  {kVela, 59000, Case::kCommand},
      {kVela, 10001, Case::kCommand},  {kVela, 57000, Case::kPoint},
      {kVela, 58000, Case::kImu},      {kVela, 56100, Case::kDropped},
      {kOrbit, 56000, Case::kCommand}, {kOrbit, 56100, Case::kCommand},
      {kOrbit, 56200, Case::kCommand}, {kOrbit, 56500, Case::kCommand},
      {kOrbit, 10001, Case::kCommand}, {kOrbit, 56300, Case::kPoint},
      {kOrbit, 56400, Case::kImu},     {kOrbit, 57000, Case::kDropped},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.dev_type) + " from port " + std::to_string(c.port));
    ASSERT_TRUE(InitBothModels());
    PeerSocket lidar_side(kLidarIp, LidarPorts(c.dev_type).cmd_data_port);
    Reply(0, c.dev_type);
    Reply(0, c.dev_type);
    PeerSocket::Datagram query;
    ASSERT_TRUE(lidar_side.ReceiveCommand(0x0101, query));
    const uint16_t seq = static_cast<uint16_t>(query.bytes[4] | (query.bytes[5] << 8));
    const size_t points_before = points_.Count();
    const size_t imu_before = imu_.Count();

    if (c.to == Case::kPoint || c.to == Case::kImu) {
      Bytes packet = PointPacket(0x5A);
      if (c.to == Case::kImu) packet[10] = 0;
      Route(c.port, packet);
    } else {
      Route(c.port, Ack(seq, 0x0101, InternalInfoAnswer(0, {{0x8010, {1}}})));
    }
    EXPECT_EQ(general_.PendingCommandCount(), c.to == Case::kCommand ? 0u : 1u);
    EXPECT_EQ(points_.Count() - points_before, c.to == Case::kPoint ? 1u : 0u);
    EXPECT_EQ(imu_.Count() - imu_before, c.to == Case::kImu ? 1u : 0u);
    if (c.to == Case::kPoint) {
      const auto seen = points_.All().back();
      EXPECT_EQ(seen.handle, LidarHandle());
      EXPECT_EQ(seen.dev_type, c.dev_type);
    }
    manager_.Stop();
    general_.CompleteAllPending();
  }
}

// Point and IMU packets from a known lidar that reach a command or detection socket are not its
// stream: the data observers run on the data IO thread alone, whatever port a sender aims at.
TEST_F(RoutingTest, DataReachesTheDataHandlerOnlyFromADataChannel) {
  ASSERT_TRUE(InitBothModels());
  Reply(0, kVela);
  Bytes imu = PointPacket(0x5A, 60);
  imu[10] = 0;
  Route(57000, PointPacket(0x5A), DeviceManager::ReceivedOn::kOtherChannel);
  Route(58000, imu, DeviceManager::ReceivedOn::kOtherChannel);
  EXPECT_EQ(points_.Count(), 0u);
  EXPECT_EQ(imu_.Count(), 0u);
  Route(57000, PointPacket(0x5A));
  Route(58000, imu);
  EXPECT_EQ(points_.Count(), 1u);
  EXPECT_EQ(imu_.Count(), 1u);
}

// So a host data port that is also a command, push, log or discovery port would lose the
// lidar's stream without a word: the start refuses it and names the port.
TEST_F(RoutingTest, AHostDataPortSharedWithACommandPortIsRefusedAtStart) {
  struct Case {
    const char* name;
    uint16_t point_port;
    uint16_t imu_port;
    uint16_t named;
  };
  const Case cases[] = {
      {"discovery", 56000, 52004, 56000},
      {"command", 52001, 52004, 52001},
      {"push", 52003, 52002, 52002},
      {"log", 52005, 52004, 52005},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KestoLidarCfg model = ModelCfg(kVela);
    model.host_net_info.point_data_port = c.point_port;
    model.host_net_info.imu_data_port = c.imu_port;
    log_.Clear();
    EXPECT_FALSE(InitWith({model}));
    EXPECT_EQ(log_.Count("the host data port " + std::to_string(c.named) +
                         " of device type 10 is also a command, push, log or discovery port"),
              1u);
    EXPECT_EQ(manager_.SocketCount(), 0u);
    manager_.Stop();
  }
  EXPECT_TRUE(InitWith({ModelCfg(kVela)}));
}

// The same through real sockets: a point packet sent to the host's command port is not
// delivered, one sent to its point port is. The acknowledgement that follows the packet on the
// command socket shows that socket's thread has handled the packet.
TEST_F(RoutingTest, DataSentToACommandPortIsNotDelivered) {
  if (!LoopbackSendersAreDistinct()) GTEST_SKIP() << kSameSenderNote;
  ASSERT_TRUE(InitBothModels());
  PeerSocket command_side(kLidarIp, 56000), point_side(kLidarIp, 57000);
  ASSERT_TRUE(command_side.ok() && point_side.ok());
  Reply(0, kVela);
  Reply(0, kVela);
  PeerSocket::Datagram query;
  ASSERT_TRUE(command_side.ReceiveCommand(0x0101, query));
  const uint16_t seq = static_cast<uint16_t>(query.bytes[4] | (query.bytes[5] << 8));
  ASSERT_EQ(general_.PendingCommandCount(), 1u);

  ASSERT_TRUE(point_side.SendTo(PointPacket(0xCC), kHost, 52001));
  ASSERT_TRUE(command_side.SendTo(Ack(seq, 0x0101, InternalInfoAnswer(0, {{0x8010, {1}}})), kHost, 52001));
  ASSERT_TRUE(WaitFor([&] { return general_.PendingCommandCount() == 0; }));
  EXPECT_EQ(points_.Count(), 0u);

  ASSERT_TRUE(WaitFor([&] {
    point_side.SendTo(PointPacket(0xDD), kHost, 52003);
    return WaitFor([&] { return points_.Count() > 0; }, std::chrono::milliseconds(200));
  }));
  EXPECT_EQ(points_.All().front().span, PointPacket(0xDD));
}

TEST_F(RoutingTest, TheHostsOwnDatagramsAreIgnoredEvenOnADataPort) {
  KestoLidarCfg self = ModelCfg(kVela);
  self.lidar_ip = kHost;
  ASSERT_TRUE(InitWith({ModelCfg(kVela)}, {self}));
  Bytes packet = PointPacket(1);
  packet.resize(DeviceManager::kDataReadSpan);
  manager_.OnData(TextToHandle(kHost), 57000, packet.data(), 1380);
  manager_.OnData(TextToHandle(kHost), 56000,
                  DiscoveryReply(0, kVela, "SELF", {127, 0, 0, 1}, 56000).data(), 48);
  EXPECT_EQ(points_.Count(), 0u);
  EXPECT_EQ(general_.PendingCommandCount(), 0u);
}

TEST_F(RoutingTest, AChangingDeviceTypeIsAnErrorOncePerReplyAndTheFirstTypeStays) {
  ASSERT_TRUE(InitBothModels());
  Reply(0, kVela);  // the lidar's channels; its next replies reach the set-up
  DetectionData data;
  data.dev_type = kVela;
  kit_.setup().OnDiscoveryReply(LidarHandle(), data);
  data.dev_type = kOrbit;
  kit_.setup().OnDiscoveryReply(LidarHandle(), data);
  kit_.setup().OnDiscoveryReply(LidarHandle(), data);
  data.dev_type = kVela;
  kit_.setup().OnDiscoveryReply(LidarHandle(), data);
  EXPECT_EQ(log_.Count("dev_type is error, the dev_type1:10, the dev_type2:9"), 2u);
  EXPECT_EQ(log_.Count("dev_type is error"), 2u);
  uint8_t model = 0;
  ASSERT_TRUE(directory_.ModelOf(LidarHandle(), model));
  EXPECT_EQ(model, kVela);
}

// A view lidar's internal-info reply is walked entry by entry to its stated count, past 255.
TEST_F(RoutingTest, AViewLidarsReplyIsWalkedToItsStatedCount) {
  ASSERT_TRUE(manager_.Init(kHost, nullptr));
  DetectionData data;
  data.dev_type = kOrbit;
  data.cmd_port = 56100;
  std::copy(std::begin(kLidarOctets), std::end(kLidarOctets), data.lidar_ip);
  kit_.setup().OnDiscoveryReply(LidarHandle(), data);  // detected; its firmware is asked for
  directory_.SetFirmwareType(LidarHandle(), 1);

  std::vector<::kesto::test::Entry> entries(300, {0x0100, {}});
  entries.push_back({0x0006, {127, 0, 0, 1, 0x13, 0xCF, 0x39, 0x30}});  // host port 53011
  entries.push_back({0x0007, {127, 0, 0, 1, 0x14, 0xCF, 0x3A, 0x30}});  // host port 53012
  const Bytes answer = InternalInfoAnswer(0, entries);
  Bytes record(answer.size() + 8, 0);
  std::copy(answer.begin(), answer.end(), record.begin());
  LidarSetup::InternalInfoCallback(
      0, LidarHandle(), reinterpret_cast<KestoLidarDiagInternalInfoResponse*>(record.data()),
      &kit_.setup());
  const auto lidar = directory_.Find(LidarHandle());
  ASSERT_TRUE(lidar && lidar->view);
  EXPECT_EQ(lidar->view->lidar_point_data_port, 56300) << "an ORBIT lidar's fixed port";
  // Opened on a tick of the device manager's IO threads.
  EXPECT_TRUE(WaitFor([&] { return manager_.SocketOfChannel(Key(kHost, 53011)) >= 0; }));
  EXPECT_TRUE(WaitFor([&] { return manager_.SocketOfChannel(Key(kHost, 53012)) >= 0; }));
}

// Through real sockets: each datagram is read into the IO thread's one buffer. A short packet
// after a long one shows zeros, not the long one's bytes; an oversized one is cut, not lost.
TEST_F(RoutingTest, TheReceiveBufferHoldsOnlyTheDatagramThatArrived) {
  if (!LoopbackSendersAreDistinct()) GTEST_SKIP() << kSameSenderNote;
  KestoLidarCfg lidar = ModelCfg(kVela);
  lidar.lidar_ip = kLidarIp;
  ASSERT_TRUE(InitWith({ModelCfg(kVela)}, {lidar}));
  PeerSocket point_side(kLidarIp, 57000);
  ASSERT_TRUE(point_side.ok());
  // Each packet is told apart by its first byte, so a resent copy cannot be taken for another.
  const auto deliver = [&](const Bytes& packet) -> std::optional<Bytes> {
    const auto find = [&]() -> std::optional<Bytes> {
      for (const auto& seen : points_.All()) {
        if (seen.span[0] == packet[0]) return seen.span;
      }
      return std::nullopt;
    };
    for (int attempt = 0; attempt < 10; ++attempt) {
      point_side.SendTo(packet, kHost, 52003);
      if (WaitFor([&] { return find().has_value(); }, std::chrono::seconds(1))) return find();
    }
    return std::nullopt;
  };
  ASSERT_TRUE(deliver(PointPacket(0xAB)));
  const std::optional<Bytes> short_one = deliver(PointPacket(0x11, 40));
  const std::optional<Bytes> oversized = deliver(PointPacket(0x22, 9000));
  ASSERT_TRUE(short_one && oversized);

  EXPECT_EQ(Bytes(short_one->begin(), short_one->begin() + 40), PointPacket(0x11, 40));
  EXPECT_EQ(Bytes(short_one->begin() + 40, short_one->end()),
            Bytes(DeviceManager::kDataReadSpan - 40, 0));
  EXPECT_EQ(*oversized, PointPacket(0x22, DeviceManager::kDataReadSpan));
}

// Stop returns only once no observer call is under way, and none starts after it.
TEST_F(RoutingTest, NoDataIsDeliveredAfterStopReturns) {
  if (!LoopbackSendersAreDistinct()) GTEST_SKIP() << kSameSenderNote;
  std::atomic<int> inside{0};
  points_.SetHook([&] {  // before the IO threads start, which then read it
    inside = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    inside = 0;
  });
  KestoLidarCfg lidar = ModelCfg(kVela);
  lidar.lidar_ip = kLidarIp;
  ASSERT_TRUE(InitWith({ModelCfg(kVela)}, {lidar}));
  PeerSocket point_side(kLidarIp, 57000);
  ASSERT_TRUE(WaitFor([&] {
    point_side.SendTo(PointPacket(1), kHost, 52003);
    return points_.Count() > 0;
  }));
  for (int i = 0; i < 200; ++i) point_side.SendTo(PointPacket(1), kHost, 52003);
  manager_.Stop();
  EXPECT_EQ(inside.load(), 0);
  const size_t after_stop = points_.Count();
  for (int i = 0; i < 50; ++i) point_side.SendTo(PointPacket(1), kHost, 52003);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(points_.Count(), after_stop);
}

// A data thread held in an observer while a lidar sends on: the data socket's buffer fills,
// and what the system drops there is counted, so that every datagram sent is either delivered
// (in order, a whole batch at a time afterwards) or counted as dropped by the system. The
// system tells its count with the datagrams queued after the drops. Where it keeps no such
// count (Windows), it stays 0.
TEST_F(RoutingTest, DatagramsTheSystemDropsWhileTheReaderWaitsAreCounted) {
  if (!LoopbackSendersAreDistinct()) GTEST_SKIP() << kSameSenderNote;
  std::mutex gate_mutex;
  std::condition_variable gate;
  bool held = false, release = false;
  points_.SetHook([&] {  // before the IO threads start, which then read it
    std::unique_lock<std::mutex> lock(gate_mutex);
    if (held) return;
    held = true;
    gate.notify_all();
    gate.wait_for(lock, std::chrono::seconds(60), [&] { return release; });
  });
  KestoLidarCfg lidar = ModelCfg(kVela);
  lidar.lidar_ip = kLidarIp;
  ASSERT_TRUE(InitWith({ModelCfg(kVela)}, {lidar}));
  PeerSocket point_side(kLidarIp, 57000);
  const auto numbered = [](uint32_t n) {
    Bytes packet = PointPacket(0x5A);
    std::memcpy(packet.data() + 12, &n, 4);
    return packet;
  };
  // The first datagram holds the data thread in the observer.
  ASSERT_TRUE(WaitFor([&] {
    point_side.SendTo(numbered(0), kHost, 52003);
    std::lock_guard<std::mutex> lock(gate_mutex);
    return held;
  }));
  // Far more than any receive buffer a system grants by default holds.
  constexpr uint32_t kSent = 20000;
  for (uint32_t n = 1; n <= kSent; ++n) point_side.SendTo(numbered(n), kHost, 52003);
  {
    std::lock_guard<std::mutex> lock(gate_mutex);
    release = true;
  }
  gate.notify_all();
  // Datagrams of the first round (before the hold) may have been several.
  const auto after_hold = [&] {
    size_t count = 0;
    for (const auto& seen : points_.All()) {
      uint32_t n = 0;
      std::memcpy(&n, seen.span.data() + 12, 4);
      if (n != 0) ++count;
    }
    return count;
  };
  const int probe = platform::SocketOpen(AF_INET, SOCK_DGRAM, 0);
  const bool counted = probe >= 0 && platform::SocketCountDrops(probe);
  if (probe >= 0) platform::SocketClose(probe);
  if (counted) {
    // The system tells its count with a datagram queued after the drops: the lidar sends on.
    uint32_t sent = kSent;
    EXPECT_TRUE(WaitFor([&] {
      if (after_hold() + manager_.os_dropped() == sent) return true;
      point_side.SendTo(numbered(++sent), kHost, 52003);
      return false;
    }, std::chrono::seconds(30)))
        << after_hold() << " delivered, " << manager_.os_dropped() << " dropped of " << sent;
    EXPECT_GT(manager_.os_dropped(), 0u);
  } else {
    WaitFor([&] { return after_hold() == kSent; }, std::chrono::seconds(5));
    EXPECT_EQ(manager_.os_dropped(), 0u);
  }
  uint32_t last = 0;
  for (const auto& seen : points_.All()) {
    uint32_t n = 0;
    std::memcpy(&n, seen.span.data() + 12, 4);
    if (n == 0) continue;
    EXPECT_GT(n, last) << "out of order";
    last = n;
  }
}

}  // namespace
}  // namespace kesto::lidar::test
