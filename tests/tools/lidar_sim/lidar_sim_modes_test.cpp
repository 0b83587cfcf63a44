// The emulator's test modes as a host meets them: refused keys, silence, damaged output, the
// firmware type, point data types, log file pushes, and the loopback-only rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "data_packet.h"
#include "lidar_sim.h"
#include "little_endian.h"
#include "session_fixture.h"

namespace kesto::lidar_sim::test {
namespace {

const Bytes kWorkMode1 = {1, 0, 0, 0, 0x1A, 0, 1, 0, 1};

class ModesTest : public SessionTest {
 protected:
  ModesTest() { start_in_setup_ = false; }
};

struct RefusalCase {
  const char* name;
  std::set<uint16_t> refused;
  Bytes request;
  Bytes ack;
};

TEST_F(ModesTest, RefusedOrUnsettableKeysAreRefusedWholeWithTheKeyAtFault) {
  const RefusalCase cases[] = {
      {"refused work mode", {0x001A}, kWorkMode1, {1, 0x1A, 0x00}},
      // The refusal of the second entry keeps the first one from being applied too.
      {"refused IMU, with work mode first", {0x001C},
       {2, 0, 0, 0, 0x1A, 0, 1, 0, 1, 0x1C, 0, 1, 0, 1}, {1, 0x1C, 0x00}},
      {"read-only serial number", {}, {1, 0, 0, 0, 0x00, 0x80, 1, 0, 0x41}, {1, 0x00, 0x80}},
      {"point data type 4", {}, {1, 0, 0, 0, 0x00, 0, 1, 0, 4}, {1, 0x00, 0x00}},
      {"work mode of two bytes", {}, {1, 0, 0, 0, 0x1A, 0, 2, 0, 1, 0}, {1, 0x1A, 0x00}},
      {"count beyond the entries", {}, {2, 0, 0, 0, 0x1A, 0, 1, 0, 1}, {1, 0xFF, 0xFF}},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    options_.refused_keys = c.refused;
    StartSim();
    const Frame ack = Command(kLidars[0], 0x0100, 7, c.request);
    EXPECT_EQ(ack.payload, c.ack);
    const LidarSnapshot s = sim_->Snapshot(0);
    EXPECT_FALSE(s.configured);
    EXPECT_EQ(s.work_mode, 0);
    EXPECT_EQ(s.refusals, 1u);
    sim_->Stop();
  }
}

TEST_F(ModesTest, SilencedCommandIsNeitherAnsweredNorApplied) {
  options_.silent_commands = {0x0100};
  StartSim();
  ASSERT_TRUE(command_->SendTo(HostFrame(0x0100, 8, kWorkMode1), kLidars[0].address, kLidars[0].command_port));
  ASSERT_TRUE(WaitFor([&] { return sim_->Snapshot(0).silenced == 1; }));
  // The next thing the host hears is the answer to a later query, not an acknowledgement.
  ASSERT_TRUE(command_->SendTo(HostFrame(0x0101, 9, {1, 0, 0, 0, 0x1A, 0}), kLidars[0].address, kLidars[0].command_port));
  Datagram d;
  ASSERT_TRUE(command_->Receive(d));
  Frame f;
  ASSERT_TRUE(DecodeFrame(d.bytes, f));
  EXPECT_EQ(f.cmd_id, 0x0101);
  EXPECT_EQ(f.payload, (Bytes{0, 1, 0, 0x1A, 0, 1, 0, 0}));  // work mode still 0
  EXPECT_EQ(sim_->Snapshot(0).work_mode, 0);
}

// One query and whether the lidar answers it.
struct QueryStep {
  size_t lidar;  // index into kLidars
  Bytes keys;    // the key list payload
  bool answered;
};

struct SilentStartCase {
  const char* name;
  SilentStart rule;
  std::vector<QueryStep> steps;
};

const Bytes kFwTypeQuery = {1, 0, 0, 0, 0x10, 0x80};
const Bytes kHostsQuery = {2, 0, 0, 0, 0x06, 0, 0x07, 0};

TEST_F(ModesTest, FirstCommandsOfASilentStartGoUnansweredThenEachLidarAnswers) {
  const SilentStartCase cases[] = {
      {"queries holding key 0x0006, twice",
       {0x0101, 2, true, 0x0006},
       {{0, kFwTypeQuery, true},
        {0, kHostsQuery, false},
        {0, kFwTypeQuery, true},
        {0, kHostsQuery, false},
        {2, kHostsQuery, false},  // each lidar counts its own
        {0, kHostsQuery, true},
        {0, kHostsQuery, true},
        {2, kHostsQuery, false},
        {2, kHostsQuery, true}}},
      {"any query, once",
       {0x0101, 1, false, 0},
       {{0, kFwTypeQuery, false}, {0, kHostsQuery, true}, {0, kFwTypeQuery, true}}},
  };
  for (const SilentStartCase& c : cases) {
    SCOPED_TRACE(c.name);
    options_.silent_first = {c.rule};
    StartSim();
    uint32_t seq = 100;
    uint64_t silenced = 0;
    for (const QueryStep& step : c.steps) {
      SCOPED_TRACE(seq);
      const LidarUnderTest& lidar = kLidars[step.lidar];
      ASSERT_TRUE(command_->SendTo(HostFrame(0x0101, ++seq, step.keys), lidar.address, lidar.command_port));
      if (!step.answered) {
        ++silenced;
        ASSERT_TRUE(WaitFor([&] {
          return sim_->Snapshot(0).silenced + sim_->Snapshot(2).silenced == silenced;
        }));
        continue;
      }
      // The first datagram the host gets is the answer to this query: nothing silenced before
      // it was answered late.
      Datagram d;
      ASSERT_TRUE(command_->Receive(d));
      Frame f;
      ASSERT_TRUE(DecodeFrame(d.bytes, f));
      EXPECT_EQ(f.cmd_id, 0x0101);
      EXPECT_EQ(f.seq, seq);
    }
    sim_->Stop();
  }
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Hex(const Bytes& bytes) {
  std::ostringstream text;
  for (uint8_t b : bytes) text << "0123456789abcdef"[b >> 4] << "0123456789abcdef"[b & 0xF];
  return text.str();
}

TEST_F(ModesTest, RecordsCommandsPushesLastPacketsAndLogFiles) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / kesto::test::UniqueName("lidar-sim-record");
  fs::remove_all(folder);
  ASSERT_TRUE(fs::create_directories(folder));
  options_.lidars.resize(1);
  options_.record_dir = folder.string();
  options_.silent_first = {SilentStart{0x0101, 1, false, 0}};
  options_.log_host_port = 50500;
  HostSocket points(PointPort(0)), imu(ImuPort(0)), log(50500);
  StartSim();
  const LidarUnderTest& lidar = kLidars[0];
  ASSERT_TRUE(command_->SendTo(HostFrame(0x0101, 30, kFwTypeQuery), lidar.address, lidar.command_port));
  Command(lidar, 0x0100, 31, ConfigImage(lidar, 0));
  Command(lidar, 0x0100, 32, kWorkMode1);

  // The streams end at their bound; what came last is what the files hold.
  Bytes last_point, last_imu;
  Datagram d;
  for (uint32_t n = 0; n < kPacketLimit; ++n) {
    ASSERT_TRUE(points.Receive(d));
    last_point = d.bytes;
    ASSERT_TRUE(imu.Receive(d));
    last_imu = d.bytes;
  }
  const fs::path point_file = folder / "127.0.0.2.point", imu_file = folder / "127.0.0.2.imu";
  ASSERT_TRUE(WaitFor([&] { return fs::exists(point_file) && fs::exists(imu_file); }));
  EXPECT_EQ(ReadFile(point_file), std::string(last_point.begin(), last_point.end()));
  EXPECT_EQ(ReadFile(imu_file), std::string(last_imu.begin(), last_imu.end()));

  // A state push is recorded with its local_time_now before it goes out.
  Frame push;
  ASSERT_TRUE(push_->ReceiveMatching(d, [&](const Datagram& in) {
    return DecodeFrame(in.bytes, push) && push.cmd_id == 0x0102;
  }));
  const std::string push_line = "push " + std::to_string(LoadU64(ListEntries(push.payload)[0x8009].data()));

  ASSERT_TRUE(sim_->PushLogFile(0, 1, 1500));
  std::string text;
  Frame f;
  while (log.Receive(d) && DecodeFrame(d.bytes, f)) {
    text.append(f.payload.begin() + 16, f.payload.end());
    if (f.payload[3] & 0x01) {
      const Bytes reply = {0, f.payload[0], f.payload[1], f.payload[10], f.payload[11], f.payload[12], f.payload[13]};
      ASSERT_TRUE(log.SendTo(HostFrame(0x0300, 40, reply), d.from_address, d.from_port));
    }
    if (f.payload[3] & 0x04) break;
  }
  EXPECT_EQ(ReadFile(folder / "127.0.0.2.log-1-0"), text);
  ASSERT_TRUE(WaitFor([&] { return sim_->Snapshot(0).log_replies == 3; }));

  // A host stops log capture on the lidar's log port, and the lidar acknowledges it from there.
  ASSERT_TRUE(log.SendTo(HostFrame(0x0301, 41, {0, 0}), lidar.address, lidar.log_port));
  Frame ack;
  ASSERT_TRUE(log.ReceiveMatching(d, [&](const Datagram& in) {
    return DecodeFrame(in.bytes, ack) && ack.cmd_id == 0x0301;
  }));
  EXPECT_EQ(d.from_port, kLidars[0].log_port);
  EXPECT_EQ(ack.cmd_type, 1);
  EXPECT_EQ(ack.seq, 41u);
  EXPECT_EQ(ack.payload, Bytes{0});
  sim_->Stop();

  std::istringstream events(ReadFile(folder / "127.0.0.2.events"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(events, line);) lines.push_back(line);
  const std::string expected[] = {
      "command 0x0101 silent " + Hex(kFwTypeQuery),
      "command 0x0100 answered " + Hex(ConfigImage(lidar, 0)),
      "command 0x0100 answered " + Hex(kWorkMode1),
      push_line,
      "log-reply 00010000000000",
      "log-reply 00010001000000",
      "log-reply 00010002000000",
      "command 0x0301 answered 0000",
  };
  for (const std::string& line : expected) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
  }
  fs::remove_all(folder);
}

TEST_F(ModesTest, FirmwareTypeIsTheOneGiven) {
  options_.fw_type = 0;
  StartSim();
  for (const LidarUnderTest& lidar : {kLidars[0], kLidars[2]}) {
    EXPECT_EQ(Command(lidar, 0x0101, 10, {1, 0, 0, 0, 0x10, 0x80}).payload,
              (Bytes{0, 1, 0, 0x10, 0x80, 1, 0, 0}));
  }
}

TEST_F(ModesTest, DamagedControlFramesPrecedeTheSoundOnes) {
  const uint32_t kinds[] = {kMalformedTruncated, kMalformedBadCrc, kMalformedBadLength};
  for (uint32_t kind : kinds) {
    SCOPED_TRACE(kind);
    options_.malformed_every = 1;
    options_.malformed_kinds = kind;
    StartSim();
    ASSERT_TRUE(command_->SendTo(HostFrame(0x0100, 11, kWorkMode1), kLidars[2].address, kLidars[2].command_port));
    Datagram bad, good;
    ASSERT_TRUE(command_->Receive(bad));
    ASSERT_TRUE(command_->Receive(good));
    Frame f;
    EXPECT_FALSE(DecodeFrame(bad.bytes, f));
    ASSERT_TRUE(DecodeFrame(good.bytes, f));
    EXPECT_EQ(f.seq, 11u);
    EXPECT_EQ(f.payload, (Bytes{0, 0, 0}));
    EXPECT_GE(sim_->Snapshot(2).malformed_sent, 1u);  // its state pushes are damaged too
    sim_->Stop();
    // Drop the state pushes this VELA lidar sent to the command port meanwhile.
    while (command_->Receive(bad, 0)) {
    }
  }
}

TEST_F(ModesTest, OddDataPacketsAreSevenBytesShort) {
  options_.malformed_every = 2;
  options_.malformed_kinds = kMalformedOddPacket;
  options_.imu_on_at_start = false;
  options_.preset = StreamPreset{"127.0.0.1", PointPort(0), 0, 1};
  options_.lidars.resize(1);
  HostSocket points(PointPort(0));
  StartSim();
  std::vector<size_t> sizes;
  Datagram d;
  while (sizes.size() < 6 && points.Receive(d)) sizes.push_back(d.bytes.size());
  EXPECT_EQ(sizes, (std::vector<size_t>{1380, 1373, 1380, 1380, 1373, 1380}));
}

TEST_F(ModesTest, PointPacketsHaveTheSizeOfTheirType) {
  const std::pair<uint8_t, size_t> types[] = {{1, 1380}, {2, 804}, {3, 996}};
  options_.lidars.resize(1);
  HostSocket points(PointPort(0));
  StartSim();
  Command(kLidars[0], 0x0100, 12, ConfigImage(kLidars[0], 0));
  Command(kLidars[0], 0x0100, 13, kWorkMode1);
  for (const auto& [type, size] : types) {
    SCOPED_TRACE(static_cast<int>(type));
    Command(kLidars[0], 0x0100, 14, {1, 0, 0, 0, 0x00, 0, 1, 0, type});
    Datagram d;
    ASSERT_TRUE(points.ReceiveMatching(d, [type = type](const Datagram& in) { return in.bytes[10] == type; }));
    EXPECT_EQ(d.bytes.size(), size);
    EXPECT_EQ(LoadU16(&d.bytes[6]), 96);
  }
}

// Latency benchmarks: every stamp lies between the wall clock before the start and after the
// arrival and rises strictly; the frozen scene sends the records of the scan at rest.
TEST_F(ModesTest, SyncedClockAndFrozenSceneStampTheSendAndRepeatTheScan) {
  options_.lidars.resize(1);
  options_.imu_on_at_start = false;
  options_.preset = StreamPreset{"127.0.0.1", PointPort(0), 0, 1};
  options_.point_rate = 2000;
  options_.packet_limit = 700;  // beyond one scan period
  options_.synced_clock = true;
  options_.frozen_scene = true;
  HostSocket points(PointPort(0));
  const auto wall_ns = [] {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
  };
  const uint64_t before = wall_ns();
  StartSim();
  uint64_t previous = 0;
  uint8_t expected[96 * 14];
  for (uint32_t n = 0; n < 700; ++n) {
    Datagram d;
    ASSERT_TRUE(points.Receive(d)) << n;
    ASSERT_EQ(d.bytes.size(), 1380u);
    ASSERT_EQ(LoadU32(&d.bytes[12]), n);
    const uint64_t stamp = LoadU64(&d.bytes[28]);
    ASSERT_GE(stamp, before);
    ASSERT_LE(stamp, wall_ns());
    ASSERT_GT(stamp, previous);
    previous = stamp;
    RoomScene::FillPoints(1, n, 0.0, expected);
    ASSERT_TRUE(std::equal(expected, expected + sizeof expected, d.bytes.begin() + 36)) << n;
  }
}

TEST_F(ModesTest, LogFileGoesOutAsStartDataEndAndRepliesAreCounted) {
  options_.lidars.resize(1);
  options_.log_host_port = 50500;
  HostSocket log(50500);
  StartSim();
  EXPECT_FALSE(sim_->PushLogFile(0, 1, 100));  // no host known yet
  Command(kLidars[0], 0x0100, 15, ConfigImage(kLidars[0], 0));
  ASSERT_TRUE(sim_->PushLogFile(0, 1, 2500));

  std::vector<uint8_t> flags;
  std::string text;
  Datagram d;
  while ((flags.empty() || flags.back() != 0x04) && log.Receive(d)) {
    Frame f;
    ASSERT_TRUE(DecodeFrame(d.bytes, f));
    EXPECT_EQ(d.from_port, kLidars[0].log_port);
    ASSERT_EQ(f.cmd_id, 0x0300);
    ASSERT_GE(f.payload.size(), 16u);
    EXPECT_EQ(f.payload[0], 1);  // log type
    EXPECT_EQ(LoadU32(&f.payload[10]), flags.size());  // trans_index
    const uint16_t length = LoadU16(&f.payload[14]);
    ASSERT_EQ(f.payload.size(), 16u + length);
    text.append(f.payload.begin() + 16, f.payload.end());
    flags.push_back(f.payload[3]);
    if (f.payload[3] & 0x01) {
      // The host's 7-byte reply: ret_code, log type, file index, trans_index.
      Bytes reply = {0, f.payload[0], f.payload[1], f.payload[10], f.payload[11], f.payload[12], f.payload[13]};
      ASSERT_TRUE(log.SendTo(HostFrame(0x0300, 20, reply), d.from_address, d.from_port));
    }
  }
  EXPECT_EQ(flags, (std::vector<uint8_t>{0x03, 0x01, 0x01, 0x01, 0x04}));
  EXPECT_EQ(text.size(), 2500u);
  EXPECT_EQ(text.rfind("lidar-sim ORBIT-A log type 1 line 0\n", 0), 0u);
  EXPECT_TRUE(WaitFor([&] { return sim_->Snapshot(0).log_replies == 4; }));
  EXPECT_EQ(sim_->Snapshot(0).log_pushes, 5u);
}

TEST(LidarSimStartTest, RefusesAddressesOutsideLoopbackAndDuplicates) {
  const std::vector<std::vector<LidarSetup>> refused = {
      {{Model::kOrbit, "10.1.2.3", ""}},
      {{Model::kOrbit, "127.0.0.2", ""}, {Model::kVela, "127.0.0.2", ""}},
      {{Model::kVela, "127.0.0", ""}},
      {},
  };
  for (const auto& lidars : refused) {
    SimOptions options;
    options.lidars = lidars;
    Simulator sim(options);
    EXPECT_FALSE(sim.Start());
    EXPECT_EQ(sim.Snapshot(0).setup.address, "");
  }
}

}  // namespace
}  // namespace kesto::lidar_sim::test
