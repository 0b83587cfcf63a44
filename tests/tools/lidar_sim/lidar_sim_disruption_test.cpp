// Reboots, drops and moves of emulated lidars as a bare host meets them: silence while down,
// what a lidar remembers when it is back, and where it answers after a move.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "lidar_sim.h"
#include "little_endian.h"
#include "session_fixture.h"

namespace kesto::lidar_sim::test {
namespace {

const Bytes kWorkMode1 = {1, 0, 0, 0, 0x1A, 0, 1, 0, 1};
const Bytes kImuOn = {1, 0, 0, 0, 0x1C, 0, 1, 0, 1};
const Bytes kWorkModeQuery = {1, 0, 0, 0, 0x1A, 0};
constexpr double kPointRate = 200;  // packets per second: 5 ms apart
constexpr double kDownSeconds = 1.0;
// Sequence numbers of what the host sends while a lidar is down: never to be answered.
constexpr uint32_t kDownSeq = 900;

// The emulator's clock: its stamps and its state pushes' local time.
uint64_t SteadyNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// Everything some host sockets get, read as it comes so that no socket buffer overflows.
struct Ear {
  explicit Ear(std::vector<HostSocket*> listened) : sockets(std::move(listened)), got(sockets.size()) {}
  void Pump() {
    for (size_t i = 0; i < sockets.size(); ++i) {
      Datagram d;
      while (sockets[i]->Receive(d, 0)) got[i].push_back(d);
    }
  }

  std::vector<HostSocket*> sockets;
  std::vector<std::vector<Datagram>> got;  // by socket, in arrival order
};

uint64_t DataStamp(const Datagram& d) { return LoadU64(&d.bytes[28]); }
uint32_t DataCounter(const Datagram& d) { return LoadU32(&d.bytes[12]); }

class DisruptionTest : public SessionTest {
 protected:
  DisruptionTest() { start_in_setup_ = false; }

  void SetUp() override {
    SessionTest::SetUp();
    options_.packet_limit = 0;
    options_.point_rate = kPointRate;
  }

  // Points lidar `i` at the host, with work mode 1 and IMU on.
  void Configure(size_t i) {
    const LidarUnderTest& lidar = kLidars[i];
    EXPECT_EQ(Command(lidar, 0x0100, 1, ConfigImage(lidar, i)).payload, (Bytes{0, 0, 0}));
    EXPECT_EQ(Command(lidar, 0x0100, 2, kImuOn).payload, (Bytes{0, 0, 0}));
    EXPECT_EQ(Command(lidar, 0x0100, 3, kWorkMode1).payload, (Bytes{0, 0, 0}));
  }

  // Configure(i), then listens through `ear` (point socket first, IMU socket second) until
  // both streams flow.
  void ConfigureAndHear(size_t i, Ear& ear) {
    Configure(i);
    EXPECT_TRUE(WaitFor([&] {
      ear.Pump();
      return ear.got[0].size() >= 5 && !ear.got[1].empty();
    }));
  }

  // While lidar `i` is down, the host asks it for discovery and a query, which it must drop;
  // then waits, listening, until it is back. Returns the last time it was seen down.
  uint64_t AskWhileDown(size_t i, const std::string& address, Ear& ear) {
    const LidarUnderTest& lidar = kLidars[i];
    const uint64_t missed = sim_->Snapshot(i).missed_while_down;
    EXPECT_TRUE(command_->SendTo(HostFrame(0x0000, kDownSeq, {}), address, kDiscoveryPort));
    EXPECT_TRUE(command_->SendTo(HostFrame(0x0101, kDownSeq + 1, kWorkModeQuery), address,
                                 lidar.command_port));
    uint64_t seen_down = 0;
    EXPECT_TRUE(WaitFor([&] {
      ear.Pump();
      const uint64_t before = SteadyNs();
      const bool up = sim_->Snapshot(i).up;
      if (!up) seen_down = before;
      return up;
    }));
    EXPECT_GE(sim_->Snapshot(i).missed_while_down, missed + 2);
    return seen_down;
  }

  // Sends a command to `address` and listens through `ear` (whose socket `at` is command_)
  // until its acknowledgement comes; the acknowledgement, or an empty frame.
  Frame Ask(Ear& ear, size_t at, const std::string& address, uint16_t port, uint16_t cmd_id,
            uint32_t seq, const Bytes& payload) {
    EXPECT_TRUE(command_->SendTo(HostFrame(cmd_id, seq, payload), address, port));
    Frame found;
    const bool got = WaitFor([&] {
      ear.Pump();
      for (const Datagram& d : ear.got[at]) {
        Frame f;
        if (DecodeFrame(d.bytes, f) && f.cmd_type == 1 && f.cmd_id == cmd_id && f.seq == seq) {
          found = f;
          return true;
        }
      }
      return false;
    });
    EXPECT_TRUE(got) << "no answer to " << cmd_id << " from " << address;
    return found;
  }
};

// What the host heard from lidar `serial` between `from` and `to`, when it was down: nothing.
// Data packets (on the lidar's own host ports) are stamped with their due time and state
// pushes with the lidar's local time, and what the host asked while the lidar was down is
// never answered, not even late.
void ExpectSilentBetween(const std::string& serial, const std::vector<std::vector<Datagram>>& data,
                         const std::vector<std::vector<Datagram>>& control, uint64_t from,
                         uint64_t to) {
  ASSERT_LT(from, to);
  for (const auto& stream : data) {
    for (const Datagram& d : stream) {
      const uint64_t stamp = DataStamp(d);
      EXPECT_FALSE(stamp >= from && stamp <= to) << "data packet sent while down: " << stamp;
    }
  }
  for (const auto& socket : control) {
    for (const Datagram& d : socket) {
      Frame f;
      if (!DecodeFrame(d.bytes, f)) continue;
      EXPECT_FALSE(f.cmd_type == 1 && (f.seq == kDownSeq || f.seq == kDownSeq + 1))
          << "answered a request sent while down: " << f.cmd_id;
      if (f.cmd_id == 0x0102 && ListEntries(f.payload).at(0x8000) == SerialField(serial)) {
        const uint64_t local = LoadU64(ListEntries(f.payload).at(0x8009).data());
        EXPECT_FALSE(local >= from && local <= to) << "state push sent while down: " << local;
      }
    }
  }
}

TEST_F(DisruptionTest, RebootedLidarIsSilentWhileDownAndComesBackIdleWithNoHosts) {
  options_.imu_on_at_start = false;
  StartSim();
  for (size_t i : {size_t{0}, size_t{2}}) {  // one of each model
    const LidarUnderTest& lidar = kLidars[i];
    SCOPED_TRACE(lidar.address);
    HostSocket points(PointPort(i)), imu(ImuPort(i));
    Ear ear({&points, &imu, command_.get(), push_.get()});
    ConfigureAndHear(i, ear);

    ASSERT_TRUE(sim_->Reboot(i, kDownSeconds));
    const uint64_t down_from = SteadyNs();
    const LidarSnapshot down = sim_->Snapshot(i);
    EXPECT_FALSE(down.up);
    EXPECT_EQ(down.reboots, 1u);
    EXPECT_EQ(down.address, lidar.address);
    EXPECT_FALSE(down.configured);
    EXPECT_EQ(down.work_mode, 0);
    EXPECT_FALSE(down.imu_enabled);  // as at start, not as the host set it
    for (const HostEndpoint& host : {down.state_host, down.point_host, down.imu_host, down.log_host}) {
      EXPECT_EQ(host, HostEndpoint{});
    }
    const uint64_t down_to = AskWhileDown(i, lidar.address, ear);
    ASSERT_GT(down_to, down_from);

    // Back: it answers discovery as itself and a query with its power-on work mode, but
    // streams and pushes nothing, as no host has configured it.
    const Frame found = Ask(ear, 2, lidar.address, kDiscoveryPort, 0x0000, 20, {});
    ASSERT_EQ(found.payload.size(), 24u);
    EXPECT_EQ(found.payload[1], lidar.dev_type);
    EXPECT_EQ(Bytes(found.payload.begin() + 2, found.payload.begin() + 18), SerialField(lidar.serial));
    EXPECT_EQ(Ask(ear, 2, lidar.address, lidar.command_port, 0x0101, 21, kWorkModeQuery).payload,
              (Bytes{0, 1, 0, 0x1A, 0, 1, 0, 0}));
    const LidarSnapshot back = sim_->Snapshot(i);
    EXPECT_TRUE(back.up);
    EXPECT_FALSE(back.configured);
    EXPECT_EQ(back.point_packets, down.point_packets);
    EXPECT_EQ(back.imu_packets, down.imu_packets);
    EXPECT_EQ(back.state_pushes, down.state_pushes);
    ear.Pump();
    ExpectSilentBetween(lidar.serial, {ear.got[0], ear.got[1]}, {ear.got[2], ear.got[3]}, down_from, down_to);
    for (size_t s = 0; s < 2; ++s) {
      for (const Datagram& d : ear.got[s]) EXPECT_LT(DataStamp(d), down_from) << "streamed unconfigured";
    }

    // Configured as a fresh lidar, it numbers its points from 0 again; its IMU is off, as at
    // start, until the host enables it again.
    EXPECT_EQ(Command(lidar, 0x0100, 4, ConfigImage(lidar, i)).payload, (Bytes{0, 0, 0}));
    EXPECT_EQ(Command(lidar, 0x0100, 5, kWorkMode1).payload, (Bytes{0, 0, 0}));
    Datagram d;
    ASSERT_TRUE(points.ReceiveMatching(d, [&](const Datagram& in) { return DataStamp(in) > down_to; }));
    EXPECT_EQ(DataCounter(d), 0u);
    const LidarSnapshot again = sim_->Snapshot(i);
    EXPECT_FALSE(again.imu_enabled);
    EXPECT_EQ(again.imu_packets, down.imu_packets);
  }
}

TEST_F(DisruptionTest, DroppedLidarIsSilentWhileDownThenStreamsOnWithoutCatchingUp) {
  StartSim();
  for (size_t i : {size_t{0}, size_t{2}}) {
    const LidarUnderTest& lidar = kLidars[i];
    SCOPED_TRACE(lidar.address);
    HostSocket points(PointPort(i)), imu(ImuPort(i));
    Ear ear({&points, &imu, command_.get(), push_.get()});
    ConfigureAndHear(i, ear);

    ASSERT_TRUE(sim_->Drop(i, kDownSeconds));
    const uint64_t down_from = SteadyNs();
    const LidarSnapshot down = sim_->Snapshot(i);
    EXPECT_FALSE(down.up);
    EXPECT_EQ(down.drops, 1u);
    EXPECT_EQ(down.reboots, 0u);
    EXPECT_TRUE(down.configured);
    EXPECT_EQ(down.work_mode, 1);
    EXPECT_EQ(down.point_host, (HostEndpoint{"127.0.0.1", PointPort(i)}));
    const uint64_t down_to = AskWhileDown(i, lidar.address, ear);
    ASSERT_GT(down_to, down_from);

    // Back without a word from the host: points and IMU data go on to the same ports.
    ASSERT_TRUE(WaitFor([&] {
      ear.Pump();
      return DataStamp(ear.got[0].back()) > down_to && DataStamp(ear.got[1].back()) > down_to;
    }));
    EXPECT_TRUE(sim_->Snapshot(i).configured);
    // A long drop stops the sending, so what the host got can be set against the counters.
    ASSERT_TRUE(sim_->Drop(i, 60));
    const LidarSnapshot frozen = sim_->Snapshot(i);
    EXPECT_TRUE(WaitFor([&] {
      ear.Pump();
      return ear.got[0].size() >= frozen.point_packets && ear.got[1].size() >= frozen.imu_packets;
    }));
    ExpectSilentBetween(lidar.serial, {ear.got[0], ear.got[1]}, {ear.got[2], ear.got[3]}, down_from, down_to);

    // The packets' counter skips those the lidar would have sent while down; the snapshot
    // counts only those sent, each of which the host got.
    const std::vector<Datagram>& got = ear.got[0];
    EXPECT_EQ(frozen.point_packets, got.size());
    EXPECT_EQ(frozen.imu_packets, ear.got[1].size());
    uint64_t skipped = 0;
    for (size_t n = 1; n < got.size(); ++n) {
      ASSERT_GT(DataStamp(got[n]), DataStamp(got[n - 1]));
      ASSERT_GT(DataCounter(got[n]), DataCounter(got[n - 1]));
      skipped += DataCounter(got[n]) - DataCounter(got[n - 1]) - 1;
    }
    EXPECT_EQ(DataCounter(got.front()), 0u);
    EXPECT_EQ(DataCounter(got.back()) + 1 - got.size(), skipped);
    const double period_ns = 1e9 / kPointRate;
    EXPECT_GE(static_cast<double>(skipped), static_cast<double>(down_to - down_from) / period_ns - 1);
  }
}

TEST_F(DisruptionTest, MovedLidarAnswersOnlyFromItsNewAddress) {
  StartSim();
  const LidarUnderTest& lidar = kLidars[0];
  const std::string moved_to = "127.0.0.12";
  HostSocket points(PointPort(0));
  Configure(0);
  Datagram d;
  ASSERT_TRUE(points.Receive(d));

  ASSERT_TRUE(sim_->Move(0, moved_to, 0.5));
  LidarSnapshot s = sim_->Snapshot(0);
  EXPECT_EQ(s.address, moved_to);
  EXPECT_EQ(s.setup.address, lidar.address);
  EXPECT_EQ(s.moves, 1u);
  EXPECT_FALSE(s.configured);
  EXPECT_EQ(s.point_host, HostEndpoint{});
  ASSERT_TRUE(WaitFor([&] { return sim_->Snapshot(0).up; }));

  // Discovery at the old address goes unanswered, at the new one it names the new address;
  // the old one was asked first, so its answer would come first.
  Ear ear({command_.get()});
  ASSERT_TRUE(command_->SendTo(HostFrame(0x0000, kDownSeq, {}), lidar.address, kDiscoveryPort));
  ASSERT_TRUE(command_->SendTo(HostFrame(0x0101, kDownSeq + 1, kWorkModeQuery), lidar.address,
                               lidar.command_port));
  const Frame found = Ask(ear, 0, moved_to, kDiscoveryPort, 0x0000, 30, {});
  ASSERT_EQ(found.payload.size(), 24u);
  EXPECT_EQ(found.payload[1], lidar.dev_type);
  EXPECT_EQ(Bytes(found.payload.begin() + 2, found.payload.begin() + 18), SerialField(lidar.serial));
  EXPECT_EQ(Bytes(found.payload.begin() + 18, found.payload.begin() + 22), (Bytes{127, 0, 0, 12}));
  EXPECT_EQ(Ask(ear, 0, moved_to, lidar.command_port, 0x0101, 31, kWorkModeQuery).payload,
            (Bytes{0, 1, 0, 0x1A, 0, 1, 0, 0}));
  for (const Datagram& heard : ear.got[0]) {
    Frame f;
    ASSERT_TRUE(DecodeFrame(heard.bytes, f));
    EXPECT_NE(f.seq, kDownSeq) << "answered at the old address";
    EXPECT_NE(f.seq, kDownSeq + 1) << "answered at the old address";
    if (f.seq == 30) {
      EXPECT_EQ(heard.from_address, SourceOf(moved_to));
    }
  }

  // A broadcast finds every lidar once, the moved one at its new address.
  HostSocket detection(kDiscoveryPort, /*broadcast=*/true);
  ASSERT_TRUE(detection.ok());
  ASSERT_TRUE(detection.SendTo(HostFrame(0x0000, 32, {}), "255.255.255.255", kDiscoveryPort));
  std::map<Bytes, int> named;
  while (named.size() < kLidars.size() && detection.Receive(d)) {
    Frame f;
    ASSERT_TRUE(DecodeFrame(d.bytes, f));
    ASSERT_EQ(f.payload.size(), 24u);
    ++named[Bytes(f.payload.begin() + 18, f.payload.begin() + 22)];
  }
  const std::map<Bytes, int> expected = {
      {{127, 0, 0, 12}, 1}, {{127, 0, 0, 3}, 1}, {{127, 0, 0, 4}, 1}, {{127, 0, 0, 5}, 1}};
  EXPECT_EQ(named, expected);

  // Configured at its new address, it streams from there.
  LidarUnderTest there = lidar;
  there.address = moved_to;
  EXPECT_EQ(Command(there, 0x0100, 33, ConfigImage(there, 0)).payload, (Bytes{0, 0, 0}));
  EXPECT_EQ(Command(there, 0x0100, 34, kWorkMode1).payload, (Bytes{0, 0, 0}));
  ASSERT_TRUE(points.ReceiveMatching(d, [](const Datagram& in) { return LoadU32(&in.bytes[12]) == 0; }));
  EXPECT_EQ(d.from_address, SourceOf(moved_to));
  EXPECT_EQ(d.from_port, lidar.point_port);
}

struct RefusedCase {
  const char* name;
  size_t index;
  Disruption kind;
  double down_seconds;
  std::string address;
};

TEST_F(DisruptionTest, DisruptionsThatCannotBeMadeAreRefusedAndChangeNothing) {
  SimOptions before = options_;
  Simulator idle(before);
  EXPECT_FALSE(idle.Reboot(0, 0.1));  // not started
  StartSim();
  const RefusedCase cases[] = {
      {"no such lidar", 4, Disruption::kReboot, 0.1, ""},
      {"negative down time", 0, Disruption::kDrop, -1, ""},
      {"down for more than a day", 0, Disruption::kReboot, 1e6, ""},
      {"move onto another lidar", 0, Disruption::kMove, 0, "127.0.0.3"},
      {"move onto itself", 0, Disruption::kMove, 0, "127.0.0.2"},
      {"move off loopback", 0, Disruption::kMove, 0, "10.0.0.2"},
      {"move to no address", 0, Disruption::kMove, 0, "127.0.0"},
  };
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.name);
    bool done = false;
    switch (c.kind) {
      case Disruption::kReboot: done = sim_->Reboot(c.index, c.down_seconds); break;
      case Disruption::kDrop: done = sim_->Drop(c.index, c.down_seconds); break;
      case Disruption::kMove: done = sim_->Move(c.index, c.address, c.down_seconds); break;
    }
    EXPECT_FALSE(done);
    const LidarSnapshot s = sim_->Snapshot(0);
    EXPECT_TRUE(s.up);
    EXPECT_EQ(s.address, "127.0.0.2");
    EXPECT_EQ(s.reboots + s.drops + s.moves, 0u);
  }
  sim_->Stop();
  EXPECT_FALSE(sim_->Drop(0, 0.1));
}

TEST_F(DisruptionTest, PlansThatCannotBeMadeAreRefusedAtStart) {
  const std::vector<DisruptionPlan> refused = {
      {Disruption::kReboot, 4, 1, 0, 0.5, ""},            // no such lidar
      {Disruption::kDrop, 0, 1, 0.5, 0.5, ""},            // every not beyond the down time
      {Disruption::kMove, 0, 1, 0, 0.5, "10.0.0.2"},      // off loopback
      {Disruption::kMove, 0, 1, 2, 0.5, "127.0.0.12"},    // a move happens once
      {Disruption::kReboot, 0, -1, 0, 0.5, ""},           // before the start
  };
  for (const DisruptionPlan& plan : refused) {
    SCOPED_TRACE(plan.index);
    SimOptions options = options_;
    options.disruptions = {plan};
    Simulator sim(options);
    EXPECT_FALSE(sim.Start());
  }
}

std::vector<std::vector<std::string>> EventWords(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::vector<std::string>> lines;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::vector<std::string> split;
    for (std::string w; words >> w;) split.push_back(w);
    if (!split.empty() && split[0] != "command" && split[0] != "push") lines.push_back(split);
  }
  return lines;
}

TEST_F(DisruptionTest, PlannedDisruptionsHappenOnTimeAndAreRecorded) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / kesto::test::UniqueName("lidar-sim-disrupt");
  fs::remove_all(folder);
  ASSERT_TRUE(fs::create_directories(folder));
  options_.record_dir = folder.string();
  options_.disruptions = {
      {Disruption::kDrop, 0, 0.2, 0, 0.4, ""},
      {Disruption::kReboot, 0, 0.8, 0, 0.3, ""},
      {Disruption::kMove, 0, 1.3, 0, 0.3, "127.0.0.12"},
      {Disruption::kReboot, 1, 0.3, 0.5, 0.2, ""},  // again and again
  };
  const uint64_t before = SteadyNs();
  StartSim();
  ASSERT_TRUE(WaitFor([&] {
    const LidarSnapshot s = sim_->Snapshot(0);
    return s.moves == 1 && s.up && sim_->Snapshot(1).reboots >= 3;
  }));
  sim_->Stop();
  const LidarSnapshot s = sim_->Snapshot(0);
  EXPECT_EQ(s.drops, 1u);
  EXPECT_EQ(s.reboots, 1u);
  EXPECT_EQ(s.address, "127.0.0.12");

  // Under the lidar's first address: each disruption and its return, in order and on time.
  const auto lines = EventWords(folder / "127.0.0.2.events");
  const std::vector<std::pair<std::string, double>> expected = {
      {"drop", 0.2}, {"up", 0.6}, {"reboot", 0.8}, {"up", 1.1}, {"move", 1.3}, {"up", 1.6}};
  ASSERT_EQ(lines.size(), expected.size());
  uint64_t previous = before;
  for (size_t n = 0; n < lines.size(); ++n) {
    SCOPED_TRACE(n);
    ASSERT_GE(lines[n].size(), 3u);
    EXPECT_EQ(lines[n][0], expected[n].first);
    const uint64_t t = std::stoull(lines[n][1]);
    EXPECT_GE(t, previous);
    EXPECT_GE(static_cast<double>(t - before), expected[n].second * 1e9);
    EXPECT_GT(std::stoull(lines[n][2]), 0u);  // the wall clock
    previous = t;
  }
  EXPECT_EQ(lines[4].size(), 4u);
  if (lines[4].size() == 4) {
    EXPECT_EQ(lines[4][3], "127.0.0.12");
  }
  // Down times run from the disruption: the return is at least that much later.
  EXPECT_GE(std::stoull(lines[1][1]) - std::stoull(lines[0][1]), 400000000u);
  EXPECT_GE(std::stoull(lines[3][1]) - std::stoull(lines[2][1]), 300000000u);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace kesto::lidar_sim::test
