// The emulator's pieces without sockets: damaged frames, the scene, the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>

#include "data_packet.h"
#include "frame_writer.h"
#include "little_endian.h"
#include "sdk_protocol.h"
#include "sim_cli.h"

namespace kesto::lidar_sim {
namespace {

TEST(DamageFrameTest, EveryKindFailsVerificationWithAndWithoutPayload) {
  const kesto::lidar::SdkProtocol codec;
  for (const Bytes& payload : {Bytes{}, Bytes{0, 1, 0, 0x1A, 0, 1, 0, 1}}) {
    const Bytes frame = EncodeLidarFrame(0x0101, 1, 5, payload);
    ASSERT_TRUE(codec.VerifyFrame(frame.data(), static_cast<uint32_t>(frame.size())));
    for (uint32_t kind : {kMalformedTruncated, kMalformedBadCrc, kMalformedBadLength}) {
      const Bytes bad = DamageFrame(frame, kind);
      EXPECT_FALSE(codec.VerifyFrame(bad.data(), static_cast<uint32_t>(bad.size())))
          << "kind " << kind << ", payload " << payload.size();
    }
  }
}

TEST(RoomSceneTest, OneTurnStaysInsideTheRoomAndShowsTheSphere) {
  uint8_t records[96 * 14];
  int sphere = 0;
  // 400 steps x 50 channels = 20000 points a turn, 208.3 packets.
  for (uint64_t packet = 0; packet < 209; ++packet) {
    RoomScene::FillPoints(1, packet, 0.0, records);
    for (int i = 0; i < 96; ++i) {
      const uint8_t* r = records + i * 14;
      const double x = LoadI32(r) / 1000.0, y = LoadI32(r + 4) / 1000.0, z = LoadI32(r + 8) / 1000.0;
      ASSERT_LE(std::fabs(x), 4.001);
      ASSERT_LE(std::fabs(y), 3.001);
      ASSERT_GE(z, -1.201);
      ASSERT_LE(z, 1.801);
      if (r[12] == 200) ++sphere;
    }
  }
  EXPECT_GT(sphere, 20);
}

TEST(RoomSceneTest, TheScanRepeatsAfterItsPeriod) {
  for (uint8_t type = 1; type <= 3; ++type) {
    for (uint64_t packet : {0u, 1u, 208u, 624u}) {
      uint8_t first[96 * 14], again[96 * 14];
      RoomScene::FillPoints(type, packet, 3.5, first);
      RoomScene::FillPoints(type, packet + RoomScene::kScanPeriodPackets, 3.5, again);
      const size_t bytes = PointPacketSize(type) - kDataHeaderLength;
      EXPECT_TRUE(std::equal(first, first + bytes, again)) << int{type} << " " << packet;
    }
  }
}

TEST(CommandLineTest, ModelCountsAddressesAndModes) {
  const char* argv[] = {"lidar-sim", "--orbit", "2", "--vela", "1", "--rate", "1000",
                        "--silent", "0x0100,0x0101", "--refuse", "0x001A", "--fw-type", "0",
                        "--lidar", "vela@127.0.0.9/SN9", "--malformed", "crc,odd",
                        "--silent-first", "2:0x0101:0x0006", "--silent-first", "1:0x0100",
                        "--record", "/tmp/rec"};
  CliOptions cli;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(static_cast<int>(std::size(argv)), argv, cli, error)) << error;
  ASSERT_EQ(cli.sim.lidars.size(), 4u);
  const std::pair<Model, const char*> expected[] = {{Model::kOrbit, "127.0.0.2"},
                                                    {Model::kOrbit, "127.0.0.3"},
                                                    {Model::kVela, "127.0.0.4"},
                                                    {Model::kVela, "127.0.0.9"}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(cli.sim.lidars[i].model, expected[i].first);
    EXPECT_EQ(cli.sim.lidars[i].address, expected[i].second);
  }
  EXPECT_EQ(cli.sim.lidars[3].serial, "SN9");
  EXPECT_EQ(cli.sim.point_rate, 1000);
  EXPECT_EQ(cli.sim.silent_commands, (std::set<uint16_t>{0x0100, 0x0101}));
  EXPECT_EQ(cli.sim.refused_keys, (std::set<uint16_t>{0x001A}));
  EXPECT_EQ(cli.sim.fw_type, 0);
  EXPECT_EQ(cli.sim.malformed_kinds, kMalformedBadCrc | kMalformedOddPacket);
  ASSERT_EQ(cli.sim.silent_first.size(), 2u);
  const SilentStart& by_key = cli.sim.silent_first[0];
  EXPECT_TRUE(by_key.cmd_id == 0x0101 && by_key.count == 2 && by_key.by_key && by_key.key == 0x0006);
  const SilentStart& any = cli.sim.silent_first[1];
  EXPECT_TRUE(any.cmd_id == 0x0100 && any.count == 1 && !any.by_key);
  EXPECT_EQ(cli.sim.record_dir, "/tmp/rec");
}

TEST(CommandLineTest, RebootsDropsAndMovesOnceOrAgainAndAgain) {
  const char* argv[] = {"lidar-sim", "--orbit", "2", "--vela", "1",
                        "--reboot", "0:10",          "--reboot", "1:2.5:0.5",
                        "--reboot-every", "2:30:3",  "--drop", "1:4:1.5",
                        "--drop-every", "0:20:2",    "--move", "2:12:127.0.0.12",
                        "--move", "0:40:127.0.0.20:0.5"};
  CliOptions cli;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(static_cast<int>(std::size(argv)), argv, cli, error)) << error;
  struct Expected {
    Disruption kind;
    size_t index;
    double after, every, down;
    const char* address;
  };
  const Expected expected[] = {
      {Disruption::kReboot, 0, 10, 0, kDefaultRebootSeconds, ""},
      {Disruption::kReboot, 1, 2.5, 0, 0.5, ""},
      {Disruption::kReboot, 2, 30, 30, 3, ""},
      {Disruption::kDrop, 1, 4, 0, 1.5, ""},
      {Disruption::kDrop, 0, 20, 20, 2, ""},
      {Disruption::kMove, 2, 12, 0, kDefaultRebootSeconds, "127.0.0.12"},
      {Disruption::kMove, 0, 40, 0, 0.5, "127.0.0.20"},
  };
  ASSERT_EQ(cli.sim.disruptions.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    const DisruptionPlan& plan = cli.sim.disruptions[i];
    EXPECT_EQ(plan.kind, expected[i].kind);
    EXPECT_EQ(plan.index, expected[i].index);
    EXPECT_EQ(plan.after_seconds, expected[i].after);
    EXPECT_EQ(plan.every_seconds, expected[i].every);
    EXPECT_EQ(plan.down_seconds, expected[i].down);
    EXPECT_EQ(plan.new_address, expected[i].address);
  }
}

TEST(CommandLineTest, ReplayFlagsLeaveTheLidarsToTheCapture) {
  const char* argv[] = {"lidar-sim", "--replay", "session.pcapng", "--speed", "2.5", "--loop",
                        "--from", "1.5", "--to", "3", "--first-address", "127.0.0.10",
                        "--lidar", "vela@192.168.1.12/SN12"};
  CliOptions cli;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(static_cast<int>(std::size(argv)), argv, cli, error)) << error;
  EXPECT_EQ(cli.sim.replay.path, "session.pcapng");
  EXPECT_EQ(cli.sim.replay.speed, 2.5);
  EXPECT_TRUE(cli.sim.replay.loop);
  EXPECT_EQ(cli.sim.replay.from_seconds, 1.5);
  EXPECT_EQ(cli.sim.replay.to_seconds, 3);
  EXPECT_EQ(cli.first_address, "127.0.0.10");
  EXPECT_TRUE(cli.sim.lidars.empty());  // PrepareReplay makes them from the capture
  ASSERT_EQ(cli.named_lidars.size(), 1u);
  EXPECT_EQ(cli.named_lidars[0].model, Model::kVela);
  EXPECT_EQ(cli.named_lidars[0].address, "192.168.1.12");
  EXPECT_EQ(cli.named_lidars[0].serial, "SN12");

  // Without --replay the emulator is as before: one ORBIT lidar, no replay.
  const char* plain[] = {"lidar-sim"};
  CliOptions none;
  ASSERT_TRUE(ParseCommandLine(1, plain, none, error)) << error;
  EXPECT_TRUE(none.sim.replay.path.empty());
  EXPECT_EQ(none.sim.lidars.size(), 1u);
}

TEST(CommandLineTest, BadInputIsRefusedWithAReason) {
  const std::vector<std::vector<const char*>> bad = {
      {"lidar-sim", "--rate"},          {"lidar-sim", "--rate", "-5"},
      {"lidar-sim", "--bogus", "1"},    {"lidar-sim", "--lidar", "lamp@127.0.0.2"},
      {"lidar-sim", "--fw-type", "300"}, {"lidar-sim", "--stream-to", "127.0.0.1"},
      {"lidar-sim", "--malformed", "loud"},
      {"lidar-sim", "--silent-first", "2"},  {"lidar-sim", "--silent-first", "2:0x10000"},
      {"lidar-sim", "--silent-first", "x:0x0101"}, {"lidar-sim", "--silent-first", "1:2:3:4"},
      {"lidar-sim", "--record", ""},
      {"lidar-sim", "--reboot", "0"},              {"lidar-sim", "--reboot", "0:1:2:3"},
      {"lidar-sim", "--reboot", "1:5"},            // one lidar only: 0
      {"lidar-sim", "--reboot", "0:-1"},           {"lidar-sim", "--drop", "0:5"},
      {"lidar-sim", "--drop-every", "0:2:2"},      {"lidar-sim", "--reboot-every", "0:3"},
      {"lidar-sim", "--move", "0:5"},              {"lidar-sim", "--move", "0:5:127.0.0"},
      {"lidar-sim", "--move", "0:5:127.0.0.9:x"},  {"lidar-sim", "--move-every", "0:5:127.0.0.9"},
      {"lidar-sim", "--replay"},                   {"lidar-sim", "--replay", ""},
      {"lidar-sim", "--replay", "f", "--speed", "0"}, {"lidar-sim", "--replay", "f", "--speed", "-2"},
      {"lidar-sim", "--replay", "f", "--from", "-1"}, {"lidar-sim", "--replay", "f", "--to", "x"},
      {"lidar-sim", "--replay", "f", "--from", "3", "--to", "2"},
      {"lidar-sim", "--replay", "f", "--orbit", "2"},
      {"lidar-sim", "--replay", "f", "--lidar", "orbit@lidar.local"},
      {"lidar-sim", "--loop"},                     {"lidar-sim", "--speed", "2"},
      {"lidar-sim", "--from", "1"},
  };
  for (const auto& argv : bad) {
    CliOptions cli;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), cli, error)) << argv[1];
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace kesto::lidar_sim
