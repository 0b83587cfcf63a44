// Replay of a recorded session: a capture written here with the kit's writer (two lidars that
// answered discovery, one that did not), replayed by the emulator, discovered and configured by
// the bare host, whose sockets then get the recorded data packets.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "capture_writer.h"
#include "handle_text.h"
#include "little_endian.h"
#include "replay.h"
#include "session_fixture.h"
#include "sim_cli.h"

namespace kesto::lidar_sim::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kStartNs = 1700000000ull * 1000000000ull;
constexpr uint64_t kMs = 1000000;
// Every lidar's recorded streams: point packets every 10 ms from 10 ms to 1 s, IMU packets every
// 50 ms from 15 ms on.
constexpr int kPointPackets = 100;
constexpr int kImuPackets = 20;
constexpr uint64_t PointAt(int k) { return 10 * kMs + static_cast<uint64_t>(k) * 10 * kMs; }
constexpr uint64_t ImuAt(int k) { return 15 * kMs + static_cast<uint64_t>(k) * 50 * kMs; }

struct RecordedLidar {
  const char* address;  // in the capture
  uint8_t dev_type;     // of its discovery reply; 0: it sent none
  const char* serial;
  uint16_t point_port, imu_port;
  Model model;  // what the replay must make of it
};
// The VELA lidar's configuration had chosen data ports of its own; the third lidar is named on
// the command line, as an ORBIT "NAMED-C".
const RecordedLidar kRecorded[] = {
    {"192.168.1.10", 9, "REC-ORBIT-1", PortsOf(Model::kOrbit).point, PortsOf(Model::kOrbit).imu,
     Model::kOrbit},
    {"192.168.1.11", 10, "REC-VELA-1", 57001, 57002, Model::kVela},
    {"192.168.1.12", 0, "NAMED-C", PortsOf(Model::kOrbit).point, PortsOf(Model::kOrbit).imu,
     Model::kOrbit},
};
constexpr size_t kLidarCount = std::size(kRecorded);
const char* const kNamedLidar = "orbit@192.168.1.12/NAMED-C";

// A data packet whose every byte tells its lidar, stream and number.
Bytes DataPacket(size_t lidar, bool point, int k) {
  Bytes packet(point ? 36 + 12 * 14 : 60, 0);  // twelve type-1 records, or the six IMU values
  packet[0] = 5;
  packet[10] = point ? 1 : 0;
  StoreU32(&packet[12], static_cast<uint32_t>(k));
  for (size_t j = 16; j < packet.size(); ++j) {
    packet[j] = static_cast<uint8_t>(lidar * 61 + static_cast<size_t>(k) * 7 + j + (point ? 0 : 128));
  }
  return packet;
}

struct Written {
  uint64_t at_ns;  // from the capture's first datagram
  size_t lidar;
  bool point;
  Bytes bytes;
};

// The session in capture order: a host's discovery request at 0, two replies, the data packets
// and a state push among them.
std::vector<Written> Session() {
  std::vector<Written> out;
  for (size_t i = 0; i < kLidarCount; ++i) {
    for (int k = 0; k < kPointPackets; ++k) out.push_back({PointAt(k), i, true, DataPacket(i, true, k)});
    for (int k = 0; k < kImuPackets; ++k) out.push_back({ImuAt(k), i, false, DataPacket(i, false, k)});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const Written& a, const Written& b) { return a.at_ns < b.at_ns; });
  return out;
}

uint32_t Handle(const char* address) { return lidar::TextToHandle(address); }

void WriteSession(const std::string& path) {
  capture::CaptureWriter writer;
  ASSERT_TRUE(writer.Open(path, "replay test")) << writer.error();
  const auto put = [&](uint64_t at, uint32_t src, uint16_t src_port, uint32_t dst,
                       uint16_t dst_port, const Bytes& payload) {
    capture::DatagramRecord r;
    r.time_ns = kStartNs + at;
    r.src_ip = src;
    r.dst_ip = dst;
    r.src_port = src_port;
    r.dst_port = dst_port;
    r.payload = payload.data();
    r.length = static_cast<uint32_t>(payload.size());
    ASSERT_TRUE(writer.Write(r)) << writer.error();
  };
  const uint32_t host = Handle("192.168.1.2");
  put(0, host, kDiscoveryPort, Handle("255.255.255.255"), kDiscoveryPort,
      CodecFrame(0x0000, 0, 0, 7, {}));
  for (size_t i = 0; i < kLidarCount; ++i) {
    const RecordedLidar& lidar = kRecorded[i];
    if (lidar.dev_type == 0) continue;
    Bytes reply(24, 0);
    reply[1] = lidar.dev_type;
    std::memcpy(&reply[2], lidar.serial, std::strlen(lidar.serial));
    put(1 * kMs + i, Handle(lidar.address), kDiscoveryPort, host, kDiscoveryPort,
        CodecFrame(0x0000, 1, 1, 7, reply));
  }
  bool pushed = false;
  for (const Written& w : Session()) {
    const RecordedLidar& lidar = kRecorded[w.lidar];
    if (!pushed && w.at_ns > 500 * kMs) {
      // A lidar's state push is a frame, not data: it is not replayed as data.
      put(w.at_ns, Handle(kRecorded[0].address), PortsOf(Model::kOrbit).push, host, 50200,
          CodecFrame(0x0102, 0, 1, 7, {0, 0, 0, 0}));
      pushed = true;
    }
    put(w.at_ns, Handle(lidar.address), w.point ? lidar.point_port : lidar.imu_port, host,
        static_cast<uint16_t>(w.point ? 50300 : 50400), w.bytes);
  }
  ASSERT_TRUE(writer.Close()) << writer.error();
}

// What lidar `i` must send of the window [from, to] (seconds; to < 0: to the end).
std::vector<Bytes> Expected(size_t i, bool point, double from, double to) {
  std::vector<Bytes> out;
  for (const Written& w : Session()) {
    const double at = static_cast<double>(w.at_ns) / 1e9;
    if (w.lidar == i && w.point == point && at >= from && (to < 0 || at <= to)) out.push_back(w.bytes);
  }
  return out;
}

std::string TempPath(const std::string& name) { return ::testing::TempDir() + name; }

class ReplayTest : public SessionTest {
 protected:
  void SetUp() override {
    start_in_setup_ = false;
    SessionTest::SetUp();
    path_ = TempPath("lidar_sim_replay.pcapng");
    WriteSession(path_);
  }

  // Parses a command line after "--replay FILE --lidar <the third lidar>", prepares the replay
  // and starts the emulator with its options.
  void StartReplay(std::vector<const char*> flags) {
    std::vector<const char*> argv = {"lidar-sim", "--replay", path_.c_str(), "--lidar", kNamedLidar};
    argv.insert(argv.end(), flags.begin(), flags.end());
    CliOptions cli;
    std::string error, warning;
    ASSERT_TRUE(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), cli, error)) << error;
    ASSERT_TRUE(PrepareReplay(cli, report_, warning, error)) << error;
    EXPECT_TRUE(warning.empty());
    ASSERT_EQ(cli.sim.lidars.size(), kLidarCount);
    options_ = cli.sim;
    StartSim();
    for (size_t i = 0; i < kLidarCount; ++i) {
      const std::string address = "127.0.0." + std::to_string(2 + i);
      lidars_.push_back(Lidar(address, {127, 0, 0, static_cast<uint8_t>(2 + i)}, kRecorded[i].model,
                              kRecorded[i].serial));
      points_.push_back(std::make_unique<HostSocket>(PointPort(i)));
      imus_.push_back(std::make_unique<HostSocket>(ImuPort(i)));
      ASSERT_TRUE(points_.back()->ok() && imus_.back()->ok());
    }
  }

  // Points lidar `i` at the host's sockets, IMU on, then work mode 1.
  void Configure(size_t i) {
    Command(lidars_[i], 0x0100, 10, ConfigImage(lidars_[i], i));
    Command(lidars_[i], 0x0100, 11, {1, 0, 0, 0, 0x1C, 0, 1, 0, 1});
    Command(lidars_[i], 0x0100, 12, {1, 0, 0, 0, 0x1A, 0, 1, 0, 1});
  }

  // The next `count` packets on `socket`, checked to come from lidar `i`'s recorded port.
  std::vector<Bytes> Take(HostSocket& socket, size_t i, bool point, size_t count,
                          Clock::time_point* last = nullptr) {
    std::vector<Bytes> got;
    Datagram d;
    while (got.size() < count && socket.Receive(d)) {
      EXPECT_EQ(d.from_address, SourceOf(lidars_[i]));
      EXPECT_EQ(d.from_port, point ? kRecorded[i].point_port : kRecorded[i].imu_port);
      got.push_back(d.bytes);
      if (last != nullptr) *last = Clock::now();
    }
    return got;
  }

  std::string path_;
  std::string report_;
  std::vector<LidarUnderTest> lidars_;
  std::vector<std::unique_ptr<HostSocket>> points_, imus_;
};

TEST_F(ReplayTest, RecordedLidarsAnswerDiscoveryAndSendTheirPacketsByteForByteInOrder) {
  StartReplay({});
  // The report names each lidar with its recorded and its replay address.
  for (size_t i = 0; i < kLidarCount; ++i) {
    const size_t line = report_.find(std::string("  ") + kRecorded[i].address + " ");
    ASSERT_NE(line, std::string::npos) << report_;
    const std::string text = report_.substr(line, report_.find('\n', line) - line);
    EXPECT_NE(text.find("-> 127.0.0." + std::to_string(2 + i) + " "), std::string::npos) << text;
    EXPECT_NE(text.find(kRecorded[i].serial), std::string::npos) << text;
    EXPECT_NE(text.find("point packets 100, IMU packets 20"), std::string::npos) << text;
  }

  HostSocket detection(kDiscoveryPort, /*broadcast=*/true);
  ASSERT_TRUE(detection.ok());
  ASSERT_TRUE(detection.SendTo(HostFrame(0x0000, 2, {}), "255.255.255.255", kDiscoveryPort));
  std::map<Bytes, Frame> replies;  // by the address each reply names
  Datagram d;
  while (replies.size() < kLidarCount && detection.Receive(d)) {
    Frame f;
    ASSERT_TRUE(DecodeFrame(d.bytes, f));
    ASSERT_EQ(f.payload.size(), 24u);
    replies[Bytes(f.payload.begin() + 18, f.payload.begin() + 22)] = f;
  }
  ASSERT_EQ(replies.size(), kLidarCount);
  for (size_t i = 0; i < kLidarCount; ++i) {
    SCOPED_TRACE(kRecorded[i].address);
    const Frame& f = replies[lidars_[i].address_bytes];
    EXPECT_EQ(f.payload[1], DeviceType(kRecorded[i].model));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f.payload[2])), kRecorded[i].serial);
    EXPECT_EQ(LoadU16(&f.payload[22]), PortsOf(kRecorded[i].model).command);
  }

  for (size_t i = 0; i < kLidarCount; ++i) Configure(i);
  for (size_t i = 0; i < kLidarCount; ++i) {
    SCOPED_TRACE(kRecorded[i].address);
    EXPECT_EQ(Take(*points_[i], i, true, kPointPackets), Expected(i, true, 0, -1));
    EXPECT_EQ(Take(*imus_[i], i, false, kImuPackets), Expected(i, false, 0, -1));
  }
  // The recordings are over: nothing more comes (not even the recorded state push as data).
  for (size_t i = 0; i < kLidarCount; ++i) {
    EXPECT_FALSE(points_[i]->Receive(d, 300));
    EXPECT_FALSE(imus_[i]->Receive(d, 10));
    EXPECT_EQ(sim_->Snapshot(i).point_packets, static_cast<uint64_t>(kPointPackets));
    EXPECT_EQ(sim_->Snapshot(i).imu_packets, static_cast<uint64_t>(kImuPackets));
  }
}

TEST_F(ReplayTest, TheWindowSelectsThePacketsBetweenFromAndTo) {
  StartReplay({"--from", "0.3", "--to", "0.6"});
  Configure(1);
  const std::vector<Bytes> points = Expected(1, true, 0.3, 0.6);
  const std::vector<Bytes> imus = Expected(1, false, 0.3, 0.6);
  ASSERT_EQ(points.size(), 31u);  // 300, 310, ... 600 ms
  ASSERT_EQ(imus.size(), 6u);     // 315, 365, ... 565 ms
  EXPECT_EQ(Take(*points_[1], 1, true, points.size()), points);
  EXPECT_EQ(Take(*imus_[1], 1, false, imus.size()), imus);
  Datagram d;
  EXPECT_FALSE(points_[1]->Receive(d, 300));
  EXPECT_FALSE(imus_[1]->Receive(d, 10));
}

TEST_F(ReplayTest, LoopStartsAgainFromTheWindowsStart) {
  StartReplay({"--from", "0.5", "--to", "0.6", "--loop", "--speed", "2"});
  Configure(0);
  const std::vector<Bytes> window = Expected(0, true, 0.5, 0.6);
  ASSERT_EQ(window.size(), 11u);
  std::vector<Bytes> thrice;
  for (int pass = 0; pass < 3; ++pass) thrice.insert(thrice.end(), window.begin(), window.end());
  EXPECT_EQ(Take(*points_[0], 0, true, thrice.size()), thrice);
}

TEST_F(ReplayTest, SpeedDividesTheRecordedSpacing) {
  // From just before work mode 1 to the last packet takes at least the recorded span (990 ms)
  // divided by the speed; a faster replay takes less time than a slower one.
  double elapsed[2] = {0, 0};
  const char* speeds[2] = {"1", "4"};
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(speeds[run]);
    if (sim_) sim_->Stop();
    sim_.reset();
    points_.clear();
    imus_.clear();
    lidars_.clear();
    StartReplay({"--speed", speeds[run]});
    Command(lidars_[0], 0x0100, 10, ConfigImage(lidars_[0], 0));
    const Clock::time_point before = Clock::now();
    Command(lidars_[0], 0x0100, 12, {1, 0, 0, 0, 0x1A, 0, 1, 0, 1});
    Clock::time_point last;
    ASSERT_EQ(Take(*points_[0], 0, true, kPointPackets, &last).size(), static_cast<size_t>(kPointPackets));
    elapsed[run] = std::chrono::duration<double>(last - before).count();
  }
  EXPECT_GE(elapsed[0], 0.99);
  EXPECT_GE(elapsed[1], 0.99 / 4);
  EXPECT_LT(elapsed[1], elapsed[0]);
}

TEST(ReplayFileTest, WhatIsNoCaptureIsRefusedWithOneReason) {
  const std::string text = TempPath("lidar_sim_replay_text.pcapng");
  std::ofstream(text) << "not a capture at all\n";
  const std::string empty = TempPath("lidar_sim_replay_empty.pcapng");
  std::ofstream(empty).close();
  const std::string quiet = TempPath("lidar_sim_replay_quiet.pcapng");
  {
    // A capture of a host alone: frames, no lidar.
    capture::CaptureWriter writer;
    ASSERT_TRUE(writer.Open(quiet, "replay test"));
    const Bytes request = CodecFrame(0x0000, 0, 0, 7, {});
    capture::DatagramRecord r;
    r.time_ns = kStartNs;
    r.src_ip = Handle("192.168.1.2");
    r.dst_ip = Handle("255.255.255.255");
    r.src_port = r.dst_port = kDiscoveryPort;
    r.payload = request.data();
    r.length = static_cast<uint32_t>(request.size());
    ASSERT_TRUE(writer.Write(r));
    ASSERT_TRUE(writer.Close());
  }
  const struct {
    std::string path;
    const char* says;
  } cases[] = {
      {text, "not a readable capture"},
      {empty, "not a readable capture"},
      {TempPath("lidar_sim_replay_missing.pcapng"), "not a readable capture"},
      {quiet, "no lidar in the capture"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ReplayScan scan;
    std::string error;
    EXPECT_FALSE(ScanCapture(c.path, scan, error));
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);

    // The emulator refuses to start on it too.
    SimOptions options;
    options.lidars = MakeLidars(Model::kOrbit, 1, "127.0.0.2");
    options.lidars[0].recorded_address = Handle("192.168.1.10");
    options.replay.path = c.path;
    Simulator sim(options);
    if (c.path != quiet) {
      EXPECT_FALSE(sim.Start());
    }
  }
}

TEST(ReplayFileTest, ADamagedTailIsReplayedUpToTheDamageWithAWarning) {
  const std::string path = TempPath("lidar_sim_replay_cut.pcapng");
  WriteSession(path);
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The last block cut in half: the third lidar's last point packet (1 s) is lost.
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() - 100);

  const char* argv[] = {"lidar-sim", "--replay", path.c_str(), "--lidar", kNamedLidar};
  CliOptions cli;
  std::string error, report, warning;
  ASSERT_TRUE(ParseCommandLine(static_cast<int>(std::size(argv)), argv, cli, error)) << error;
  ASSERT_TRUE(PrepareReplay(cli, report, warning, error)) << error;
  EXPECT_NE(warning.find("damaged"), std::string::npos) << warning;
  EXPECT_EQ(warning.find('\n'), std::string::npos);
  ReplayScan scan;
  ASSERT_TRUE(ScanCapture(path, scan, error));
  ASSERT_EQ(scan.lidars.size(), kLidarCount);
  EXPECT_EQ(scan.lidars[0].point_packets, static_cast<uint64_t>(kPointPackets));
  EXPECT_EQ(scan.lidars[2].point_packets, static_cast<uint64_t>(kPointPackets - 1));

  // What comes before the damage is read back in order.
  ReplayOptions options;
  options.path = path;
  RecordedStream stream(options, Handle(kRecorded[2].address), scan.first_ns);
  stream.Rewind();
  std::vector<Bytes> points;
  for (; stream.next() != nullptr; stream.Advance()) {
    if (stream.next_is_point()) points.push_back(stream.next()->payload);
  }
  std::vector<Bytes> expected = Expected(2, true, 0, -1);
  expected.pop_back();
  EXPECT_EQ(points, expected);
}

TEST(ReplayFileTest, LidarsAreNamedByTheRecordingOrTheCommandLine) {
  const std::string path = TempPath("lidar_sim_replay_names.pcapng");
  WriteSession(path);
  ReplayScan scan;
  std::string error;
  ASSERT_TRUE(ScanCapture(path, scan, error)) << error;
  std::vector<LidarSetup> lidars;
  // The third lidar sent no discovery reply: without a name it cannot be emulated.
  EXPECT_FALSE(ReplayLidars(scan, "127.0.0.2", {}, lidars, error));
  EXPECT_NE(error.find("--lidar MODEL@192.168.1.12"), std::string::npos) << error;
  // A name for a lidar the capture does not hold is a mistake.
  EXPECT_FALSE(ReplayLidars(scan, "127.0.0.2", {LidarSetup{Model::kVela, "192.168.1.99", "X"}},
                            lidars, error));
  // A name for a lidar the recording names already does not change it.
  const std::vector<LidarSetup> named = {LidarSetup{Model::kVela, "192.168.1.12", "NAMED-C"},
                                         LidarSetup{Model::kVela, "192.168.1.10", "OTHER"}};
  ASSERT_TRUE(ReplayLidars(scan, "127.0.0.20", named, lidars, error)) << error;
  ASSERT_EQ(lidars.size(), kLidarCount);
  const struct {
    const char* address;
    Model model;
    const char* serial;
    uint16_t point_port;
  } expected[] = {{"127.0.0.20", Model::kOrbit, "REC-ORBIT-1", PortsOf(Model::kOrbit).point},
                  {"127.0.0.21", Model::kVela, "REC-VELA-1", 57001},
                  {"127.0.0.22", Model::kVela, "NAMED-C", PortsOf(Model::kOrbit).point}};
  for (size_t i = 0; i < kLidarCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lidars[i].address, expected[i].address);
    EXPECT_EQ(lidars[i].model, expected[i].model);
    EXPECT_EQ(lidars[i].serial, expected[i].serial);
    EXPECT_EQ(lidars[i].point_port, expected[i].point_port);
    EXPECT_EQ(lidars[i].recorded_address, Handle(kRecorded[i].address));
  }
}

}  // namespace
}  // namespace kesto::lidar_sim::test
