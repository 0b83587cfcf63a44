#ifndef KESTO_TESTS_TOOLS_LIDAR_SIM_SESSION_FIXTURE_H_
#define KESTO_TESTS_TOOLS_LIDAR_SIM_SESSION_FIXTURE_H_

// Two ORBIT and two VELA lidars on 127.0.0.2-5 and a bare host on 127.0.0.1 that talks to them.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "handle_text.h"
#include "lidar_sim.h"
#include "little_endian.h"
#include "test_host.h"

namespace kesto::lidar_sim::test {

struct LidarUnderTest {
  std::string address;
  Bytes address_bytes;
  Model model;
  std::string serial;
  // The model's, from the kit's model table.
  uint8_t dev_type;
  uint16_t command_port, push_port, point_port, imu_port, log_port;
};

inline LidarUnderTest Lidar(std::string address, Bytes address_bytes, Model model,
                            std::string serial) {
  const ModelPorts ports = PortsOf(model);
  return {std::move(address), std::move(address_bytes), model, std::move(serial),
          DeviceType(model), ports.command, ports.push, ports.point, ports.imu, ports.log};
}

inline const std::vector<LidarUnderTest> kLidars = {
    Lidar("127.0.0.2", {127, 0, 0, 2}, Model::kOrbit, "ORBIT-A"),
    Lidar("127.0.0.3", {127, 0, 0, 3}, Model::kOrbit, "ORBIT-B"),
    Lidar("127.0.0.4", {127, 0, 0, 4}, Model::kVela, "VELA-A"),
    Lidar("127.0.0.5", {127, 0, 0, 5}, Model::kVela, "VELA-B"),
};

// The address a lidar's datagrams come from: its own, except where the system sends those of
// every loopback alias from 127.0.0.1 (Wine). The tests then tell the lidars apart by what they
// say, and by their snapshots.
inline std::string SourceOf(const std::string& address) {
  static std::map<std::string, std::string> found;  // the test thread's
  auto it = found.find(address);
  if (it == found.end()) {
    in_addr local{};
    local.s_addr = lidar::TextToHandle(address);
    const in_addr source = platform::SocketSourceAddressFor(local);
    const bool own = source.s_addr == htonl(INADDR_ANY);
    it = found.emplace(address, own ? address : lidar::HandleToText(source.s_addr)).first;
  }
  return it->second;
}
inline std::string SourceOf(const LidarUnderTest& lidar) { return SourceOf(lidar.address); }

// Waits for a condition on the simulator's counters, with a generous deadline (10 s).
template <typename Condition>
bool WaitFor(Condition condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

inline constexpr uint16_t kCommandPort = 50100;
inline constexpr uint16_t kPushPort = 50200;
inline constexpr uint32_t kPacketLimit = 40;
inline uint16_t PointPort(size_t i) { return static_cast<uint16_t>(50300 + i); }
inline uint16_t ImuPort(size_t i) { return static_cast<uint16_t>(50400 + i); }

// The 8-byte host address value: 127.0.0.1, host port, lidar port.
inline Bytes HostConfig(uint16_t host_port, uint16_t lidar_port) {
  return {127, 0, 0, 1, static_cast<uint8_t>(host_port), static_cast<uint8_t>(host_port >> 8),
          static_cast<uint8_t>(lidar_port), static_cast<uint8_t>(lidar_port >> 8)};
}

inline Bytes SerialField(const std::string& serial) {
  Bytes field(16, 0);
  for (size_t i = 0; i < serial.size() && i < 16; ++i) field[i] = static_cast<uint8_t>(serial[i]);
  return field;
}

// What a host sends to point a lidar at itself: ORBIT key_num 3 (state push 0x0005, point
// cloud 0x0006, IMU 0x0007; 40 bytes), VELA key_num 2 (0x0006, 0x0007; 28 bytes).
inline Bytes ConfigImage(const LidarUnderTest& lidar, size_t i) {
  Bytes image;
  const auto entry = [&image](uint8_t key, const Bytes& value) {
    image.insert(image.end(), {key, 0x00, 0x08, 0x00});
    image.insert(image.end(), value.begin(), value.end());
  };
  if (lidar.model == Model::kOrbit) {
    image = {0x03, 0x00, 0x00, 0x00};
    entry(0x05, HostConfig(kPushPort, lidar.push_port));
  } else {
    image = {0x02, 0x00, 0x00, 0x00};
  }
  entry(0x06, HostConfig(PointPort(i), lidar.point_port));
  entry(0x07, HostConfig(ImuPort(i), lidar.imu_port));
  return image;
}

inline std::vector<uint16_t> OrbitQueryKeys() {
  std::vector<uint16_t> keys = {0x0000, 0x0001, 0x0004, 0x0005, 0x0006, 0x0007, 0x0012,
                                0x0015, 0x0016, 0x0017, 0x0018, 0x0019, 0x001A, 0x001C};
  for (uint16_t k = 0x8000; k <= 0x800C; ++k) keys.push_back(k);
  keys.insert(keys.end(), {0x800E, 0x8010, 0x8011});
  return keys;
}

inline std::vector<uint16_t> VelaQueryKeys() {
  return {0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0006, 0x0007, 0x0009, 0x0012,
          0x0013, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x8000, 0x8001, 0x8002,
          0x8003, 0x8004, 0x8005, 0x8006, 0x800D, 0x800E, 0x800F, 0x8010, 0x8012};
}

// Walks `count` entries from `at`; fails the test on an entry that overruns the payload.
inline std::vector<std::pair<uint16_t, Bytes>> WalkEntries(const Bytes& payload, size_t at,
                                                           size_t count) {
  std::vector<std::pair<uint16_t, Bytes>> out;
  for (size_t n = 0; n < count; ++n) {
    if (at + 4 > payload.size()) {
      ADD_FAILURE() << "entry " << n << " runs past the payload";
      break;
    }
    const uint16_t key = LoadU16(&payload[at]);
    const uint16_t length = LoadU16(&payload[at + 2]);
    if (at + 4 + length > payload.size()) {
      ADD_FAILURE() << "value of " << key << " runs past the payload";
      break;
    }
    out.emplace_back(key, Bytes(payload.begin() + static_cast<long>(at + 4),
                                payload.begin() + static_cast<long>(at + 4 + length)));
    at += 4 + length;
  }
  if (at != payload.size()) ADD_FAILURE() << "bytes left after the entries";
  return out;
}

// The entries of an internal-info reply (from offset 3); they must follow the request order.
inline std::map<uint16_t, Bytes> Entries(const Bytes& reply, const std::vector<uint16_t>& order) {
  std::map<uint16_t, Bytes> entries;
  size_t next = 0;
  for (auto& [key, value] : WalkEntries(reply, 3, LoadU16(&reply[1]))) {
    while (next < order.size() && order[next] != key) ++next;
    EXPECT_LT(next, order.size()) << "key " << key << " out of request order";
    entries[key] = value;
  }
  return entries;
}

// The entries of a key-value list (from offset 4).
inline std::map<uint16_t, Bytes> ListEntries(const Bytes& list) {
  std::map<uint16_t, Bytes> entries;
  for (auto& [key, value] : WalkEntries(list, 4, LoadU16(&list[0]))) entries[key] = value;
  return entries;
}

class SessionTest : public ::testing::Test {
 protected:
  // Options of the lidars; tests of modes change them before StartSim.
  SimOptions options_;

  void SetUp() override {
    for (const LidarUnderTest& lidar : kLidars) {
      options_.lidars.push_back(LidarSetup{lidar.model, lidar.address, lidar.serial});
    }
    options_.point_rate = 500;
    options_.imu_rate = 100;
    options_.packet_limit = kPacketLimit;
    command_ = std::make_unique<HostSocket>(kCommandPort);
    push_ = std::make_unique<HostSocket>(kPushPort);
    ASSERT_TRUE(command_->ok() && push_->ok());
    if (start_in_setup_) StartSim();
  }

  void StartSim() {
    sim_ = std::make_unique<Simulator>(options_);
    ASSERT_TRUE(sim_->Start());
  }

  void TearDown() override {
    if (sim_) sim_->Stop();
  }

  const LidarUnderTest* FindBySerial(const Bytes& serial_field) const {
    for (const LidarUnderTest& lidar : kLidars) {
      if (SerialField(lidar.serial) == serial_field) return &lidar;
    }
    return nullptr;
  }

  // Sends a command from the host's command port and returns the lidar's acknowledgement of
  // it (matched by source address, command id and sequence number; pushes on the way are
  // skipped).
  Frame Command(const LidarUnderTest& lidar, uint16_t cmd_id, uint32_t seq, const Bytes& payload) {
    EXPECT_TRUE(command_->SendTo(HostFrame(cmd_id, seq, payload), lidar.address, lidar.command_port));
    Frame ack;
    Datagram d;
    const bool got = command_->ReceiveMatching(d, [&](const Datagram& in) {
      Frame f;
      if (in.from_address != SourceOf(lidar) || !DecodeFrame(in.bytes, f)) return false;
      if (f.cmd_type != 1 || f.cmd_id != cmd_id || f.seq != seq) return false;
      ack = f;
      return true;
    });
    EXPECT_TRUE(got) << "no acknowledgement of " << cmd_id << " from " << lidar.address;
    return ack;
  }

  bool start_in_setup_ = true;
  std::unique_ptr<Simulator> sim_;
  std::unique_ptr<HostSocket> command_;
  std::unique_ptr<HostSocket> push_;
};

}  // namespace kesto::lidar_sim::test

#endif  // KESTO_TESTS_TOOLS_LIDAR_SIM_SESSION_FIXTURE_H_
