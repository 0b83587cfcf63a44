// Arbitrary datagrams from arbitrary source ports into both variants of the general command
// handler, with lidars of both models registered and commands in flight. Whatever arrives,
// nothing is read outside a datagram (each one lies in a heap buffer of its exact size) and
// every command completes exactly once.
//
// Input: one mode byte (bit 0 view mode, bit 1 slave), then records of
//   control byte: bit 0 variant without device type, bit 1 raw bytes instead of a frame,
//                 bits 2-3 sender, bits 4-5 device type, bit 6 time passes, bit 7 send a command
//   port byte:    one of the kit's ports, or any port
//   length byte:  bytes of the record that follow
// A framed record starts with a command-id selector, the command type and a sequence selector
// (which may pick a command in flight); the rest is the payload.
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "command_impl.h"
#include "fake_device_link.h"
#include "general_command_handler.h"
#include "lidar_frames.h"
#include "manual_clock.h"

namespace {

using kesto::lidar::GeneralCommandHandler;
using kesto::test::Bytes;
using kesto::test::ExactBuffer;

void Require(bool condition) {
  if (!condition) std::abort();
}

constexpr std::array<uint16_t, 8> kPorts = {56000, 56100, 56200, 56500, 59000, 10001, 1002, 57000};
constexpr std::array<uint16_t, 6> kCommandIds = {0x0000, 0x0100, 0x0101, 0x0102, 0x0300, 0x0301};
constexpr std::array<uint8_t, 4> kTypes = {9, 10, 16, 0};

// One command the fuzzer sent and the number of times it completed.
struct Tracked {
  int completions = 0;
};

void Count(kesto_status, uint32_t, KestoLidarAsyncControlResponse*, void* cd) {
  ++static_cast<Tracked*>(cd)->completions;
}

class Harness {
 public:
  explicit Harness(uint8_t mode) : handler_(clock_.Source()) {
    link_.SetMaster((mode & 2) == 0);
    if (mode & 1) {
      handler_.InitHostIpMode("192.168.1.50", 1, &link_);
    } else {
      auto cfgs = std::make_shared<kesto::lidar::LidarCfgList>();
      cfgs->push_back(Cfg(10, "192.168.1.10"));
      cfgs->push_back(Cfg(9, "192.168.1.20"));
      handler_.Init(cfgs, &link_);
    }
    // Both lidars detected, their firmware type known (1), configured once, and one command
    // each in flight.
    for (int i = 0; i < 2; ++i) {
      Deliver(i, kTypes[i], 56000, kesto::test::DiscoveryReply(0, kTypes[i], "SN", Ip(i), 56000),
              mode & 1);
    }
    for (int i = 0; i < 2; ++i) {
      AnswerLast(i, kTypes[i], 0x0101, kesto::test::InternalInfoAnswer(0, {{0x8010, {1}}}),
                 mode & 1);
      Deliver(i, kTypes[i], 56000, kesto::test::DiscoveryReply(0, kTypes[i], "SN", Ip(i), 56000),
              mode & 1);
      SendTracked(i);
    }
  }

  void Record(uint8_t control, uint8_t port_byte, const uint8_t* bytes, size_t length) {
    const int sender = (control >> 2) & 3;
    const uint8_t dev_type = kTypes[(control >> 4) & 3];
    const uint16_t port =
        port_byte < kPorts.size() ? kPorts[port_byte] : static_cast<uint16_t>(port_byte * 257u);
    if (control & 0x40) {
      clock_.Advance(std::chrono::milliseconds(400));
      handler_.CheckCommandTimeout(clock_.Now());
    }
    if (control & 0x80) SendTracked(sender);
    Bytes datagram;
    if ((control & 2) || length < 3) {
      datagram.assign(bytes, bytes + length);
    } else {
      const uint16_t cmd_id = bytes[0] < kCommandIds.size() ? kCommandIds[bytes[0]]
                                                            : static_cast<uint16_t>(bytes[0] << 8);
      const uint8_t cmd_type = bytes[1] & 3;
      uint32_t seq = bytes[2];
      const auto frames = link_.Frames();
      if (!frames.empty() && bytes[2] < 0x80) seq = frames[bytes[2] % frames.size()].Command().seq;
      datagram = kesto::test::Frame(seq, cmd_id, cmd_type, Bytes(bytes + 3, bytes + length));
    }
    Deliver(sender, dev_type, port, datagram, control & 1);
  }

  // Time runs on until nothing is pending; then every tracked command has completed once.
  void Finish() {
    for (int i = 0; i < 100 && handler_.PendingCommandCount() > 0; ++i) {
      clock_.Advance(std::chrono::seconds(2));
      handler_.CheckCommandTimeout(clock_.Now());
    }
    Require(handler_.PendingCommandCount() == 0);
    for (const auto& tracked : tracked_) Require(tracked->completions == 1);
  }

 private:
  static kesto::lidar::KestoLidarCfg Cfg(uint8_t dev_type, const char* lidar_ip) {
    kesto::lidar::KestoLidarCfg cfg;
    cfg.dev_type = dev_type;
    cfg.lidar_ip = lidar_ip;
    cfg.host_net_info.host_ip = "192.168.1.50";
    cfg.host_net_info.point_data_port = 57001;
    cfg.host_net_info.imu_data_port = 58001;
    return cfg;
  }
  static std::array<uint8_t, 4> Ip(int sender) {
    return {192, 168, static_cast<uint8_t>(sender == 2 ? 2 : 1),
            static_cast<uint8_t>(10 + 10 * sender)};
  }
  static uint32_t Handle(int sender) {
    const auto ip = Ip(sender);
    return sender == 3 ? 0 : kesto::test::HandleOf(ip[0], ip[1], ip[2], ip[3]);
  }

  void Deliver(int sender, uint8_t dev_type, uint16_t port, const Bytes& datagram,
               bool without_type) {
    ExactBuffer buffer(datagram);
    if (without_type) {
      handler_.Handler(Handle(sender), port, buffer.data(), buffer.size());
    } else {
      handler_.Handler(dev_type, Handle(sender), port, buffer.data(), buffer.size());
    }
  }
  void AnswerLast(int sender, uint8_t dev_type, uint16_t cmd_id, const Bytes& payload,
                  bool without_type) {
    const auto frames = link_.Frames();
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
      if (it->handle == Handle(sender) && it->Command().cmd_id == cmd_id) {
        Deliver(sender, dev_type, 56000, kesto::test::Ack(it->Command().seq, cmd_id, payload),
                without_type);
        return;
      }
    }
  }
  void SendTracked(int sender) {
    auto tracked = std::make_unique<Tracked>();
    const int32_t result =
        kesto::lidar::SendWorkMode(handler_, Handle(sender), 1, Count, tracked.get());
    Require(result == 0 || result == -9);
    if (result == 0) {
      tracked_.push_back(std::move(tracked));
    } else {
      Require(tracked->completions == 0);  // an error return never completes
    }
  }

  kesto::test::ManualClock clock_;
  kesto::test::FakeDeviceLink link_;
  GeneralCommandHandler handler_;
  std::vector<std::unique_ptr<Tracked>> tracked_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every rejected frame prints one line; millions of them would only slow the run down.
  Require(std::freopen("/dev/null", "w", stdout) != nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Harness harness(data[0]);
  size_t at = 1;
  while (at + 3 <= size) {
    const uint8_t control = data[at];
    const uint8_t port = data[at + 1];
    size_t length = data[at + 2];
    at += 3;
    if (length > size - at) length = size - at;
    harness.Record(control, port, data + at, length);
    at += length;
  }
  harness.Finish();
  return 0;
}
