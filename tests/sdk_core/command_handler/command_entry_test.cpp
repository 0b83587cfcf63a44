// The public observer setters and commands reach the kit's one general command handler. That
// instance keeps state across a stop, so every test starts from and leaves a reset instance.
#include <gtest/gtest.h>

#include "command_fixture.h"
#include "kesto_lidar_sdk.h"

namespace kesto::test {
namespace {

class CommandEntryTest : public ::testing::Test {
 protected:
  CommandEntryTest() : kit_(lidar::GeneralCommandHandler::GetInstance()) {}
  void SetUp() override {
    kit_.ResetForTests();
    auto cfgs = std::make_shared<lidar::LidarCfgList>();
    kit_.Init(cfgs, &link_);
  }
  void TearDown() override { kit_.ResetForTests(); }
  void Receive(uint16_t port, const Bytes& datagram) {
    ExactBuffer buffer(datagram);
    kit_.Handler(kKestoLidarDevTypeOrbit, orbit_, port, buffer.data(), buffer.size());
  }

  LogCapture capture_;
  FakeDeviceLink link_;
  lidar::GeneralCommandHandler& kit_;
  const uint32_t orbit_ = HandleOf(192, 168, 1, 20);
};

TEST_F(CommandEntryTest, ObserversAndCommandsReachTheKit) {
  std::vector<std::string> events;
  SetInfoChangeObserver(
      [](uint32_t, const KestoLidarIdentity* info, void* cd) {
        static_cast<std::vector<std::string>*>(cd)->push_back(std::string("info ") +
                                                              info->lidar_ip);
      },
      &events);
  SetPushMessageObserver(
      [](uint32_t, uint8_t dev_type, const char*, void* cd) {
        static_cast<std::vector<std::string>*>(cd)->push_back("push " + std::to_string(dev_type));
      },
      &events);
  link_.SetMaster(false);
  Receive(56000, DiscoveryReply(0, 9, "SN", {192, 168, 1, 20}, 56100));
  kit_.KestoLidarInfoChange(orbit_);
  Receive(56200, StatePush(KeyValueList({})));
  EXPECT_EQ(events, (std::vector<std::string>{"info 192.168.1.20", "push 9"}));

  EXPECT_EQ(RequestWorkMode(orbit_, 1, nullptr, nullptr), 0);
  EXPECT_EQ(RequestPointDataType(orbit_, 0, nullptr, nullptr), 0);
  EXPECT_EQ(QueryKestoLidarInternalInfo(orbit_, nullptr, nullptr), 0);
  const auto frames = link_.Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].Payload(), (Bytes{1, 0, 0, 0, 0x1A, 0, 1, 0, 1}));
  EXPECT_EQ(frames[1].Payload(), (Bytes{1, 0, 0, 0, 0x1C, 0, 1, 0, 1}));
  EXPECT_EQ(frames[2].Payload().size(), 64u);

  EXPECT_EQ(QueryKestoLidarInternalInfo(HandleOf(10, 0, 0, 1), nullptr, nullptr), -7);
  EXPECT_EQ(RequestWorkMode(HandleOf(10, 0, 0, 1), 1, nullptr, nullptr), -9);
  SetInfoChangeObserver(nullptr, nullptr);
  SetPushMessageObserver(nullptr, nullptr);
}

}  // namespace
}  // namespace kesto::test
