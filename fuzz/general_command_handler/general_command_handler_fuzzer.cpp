// Arbitrary datagrams from arbitrary source ports into the command machinery as routing hands
// them on (a lidar directory, the general command handler and the lidar set-up, over a local
// device link), with lidars of both models registered and commands in flight. Whatever
// arrives, nothing is read outside a datagram (each one lies in a heap buffer of its exact
// size) and every command completes exactly once.
//
// Input: one mode byte (bit 0 view mode, bit 1 slave), then records of
//   control byte: bit 0 the device type from the directory's routes (as routing takes it)
//                 instead of the record's, bit 1 raw bytes instead of a frame, bits 2-3 sender,
//                 bits 4-5 device type, bit 6 time passes, bit 7 send a command
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
#include <mutex>
#include <vector>

#include "command_id.h"
#include "command_impl.h"
#include "detection_data.h"
#include "device_link.h"
#include "general_command_handler.h"
#include "lidar_directory.h"
#include "lidar_frames.h"
#include "lidar_setup.h"
#include "manual_clock.h"
#include "model_table.h"
#include "parse_frame.h"
#include "route_snapshot.h"
#include "sdk_protocol.h"

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
constexpr const char* kHostIp = "192.168.1.50";

// The device manager as the command machinery sees it, reduced to what the harness needs: the
// sender, command id and sequence number of every frame sent, so that it can be answered.
class FrameLog final : public kesto::lidar::DeviceLink {
 public:
  struct Sent {
    uint32_t handle;
    uint16_t cmd_id;
    uint32_t seq;
  };

  int SendCommand(uint8_t, uint32_t handle, const uint8_t* data, size_t length, uint32_t,
                  uint16_t) override {
    return Record(handle, data, length);
  }
  int SendLogCommand(uint8_t, uint32_t handle, const uint8_t* data, size_t length, uint32_t,
                     uint16_t) override {
    return Record(handle, data, length);
  }

  std::vector<Sent> Frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }

 private:
  int Record(uint32_t handle, const uint8_t* data, size_t length) {
    kesto::lidar::ProtocolCommand command;
    // The kit never sends a frame its own codec rejects.
    Require(kesto::lidar::ParseFrame(codec_, data, static_cast<uint32_t>(length), command));
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back({handle, command.cmd_id, command.seq});
    return static_cast<int>(length);
  }

  kesto::lidar::SdkProtocol codec_;  // stateless
  mutable std::mutex mutex_;
  std::vector<Sent> frames_;  // guarded by mutex_
};

// One command the fuzzer sent and the number of times it completed.
struct Tracked {
  int completions = 0;
};

void Count(kesto_status, uint32_t, KestoLidarAsyncControlResponse*, void* cd) {
  ++static_cast<Tracked*>(cd)->completions;
}

class Harness {
 public:
  explicit Harness(uint8_t mode) : view_mode_((mode & 1) != 0) {
    general_.AttachLink(&link_);
    kesto::lidar::DirectorySettings settings;
    settings.view_mode = view_mode_;
    settings.master = (mode & 2) == 0;
    settings.host_ip = kHostIp;
    if (!view_mode_) {
      settings.model_cfgs = {Cfg(9, ""), Cfg(10, "")};
      settings.custom_cfgs = {Cfg(10, "192.168.1.10"), Cfg(9, "192.168.1.20")};
    }
    directory_.Start(std::move(settings));
    // Both lidars detected, their firmware type known (1), configured once, and one command
    // each in flight.
    for (int i = 0; i < 2; ++i) {
      Deliver(i, kTypes[i], 56000, kesto::test::DiscoveryReply(0, kTypes[i], "SN", Ip(i), 56000),
              true);
    }
    for (int i = 0; i < 2; ++i) {
      AnswerLast(i, kTypes[i], kesto::lidar::kCmdIdQueryParameters,
                 kesto::test::InternalInfoAnswer(0, {{0x8010, {1}}}));
      Deliver(i, kTypes[i], 56000, kesto::test::DiscoveryReply(0, kTypes[i], "SN", Ip(i), 56000),
              true);
      SendTracked(i);
    }
  }

  ~Harness() {
    // As the kit's stop does: whatever is still pending completes while every part lives.
    general_.CompleteAllPending();
    general_.AttachLink(nullptr);
  }

  void Record(uint8_t control, uint8_t port_byte, const uint8_t* bytes, size_t length) {
    const int sender = (control >> 2) & 3;
    const uint8_t dev_type = kTypes[(control >> 4) & 3];
    const uint16_t port =
        port_byte < kPorts.size() ? kPorts[port_byte] : static_cast<uint16_t>(port_byte * 257u);
    if (control & 0x40) {
      clock_.Advance(std::chrono::milliseconds(400));
      general_.CheckCommandTimeout(clock_.Now());
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
      if (!frames.empty() && bytes[2] < 0x80) seq = frames[bytes[2] % frames.size()].seq;
      datagram = kesto::test::Frame(seq, cmd_id, cmd_type, Bytes(bytes + 3, bytes + length));
    }
    Deliver(sender, dev_type, port, datagram, control & 1);
  }

  // Time runs on until nothing is pending; then every tracked command has completed once.
  void Finish() {
    for (int i = 0; i < 100 && general_.PendingCommandCount() > 0; ++i) {
      clock_.Advance(std::chrono::seconds(2));
      general_.CheckCommandTimeout(clock_.Now());
    }
    Require(general_.PendingCommandCount() == 0);
    for (const auto& tracked : tracked_) Require(tracked->completions == 1);
  }

 private:
  static kesto::lidar::KestoLidarCfg Cfg(uint8_t dev_type, const char* lidar_ip) {
    kesto::lidar::KestoLidarCfg cfg;
    cfg.dev_type = dev_type;
    cfg.lidar_ip = lidar_ip;
    if (const kesto::lidar::LidarModel* model = kesto::lidar::FindModel(dev_type)) {
      cfg.lidar_net_info = model->lidar_ports;
    }
    cfg.host_net_info.host_ip = kHostIp;
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

  // What routing does with a command-channel datagram. `routed`: the device type is the one
  // the directory's routes give the sender, and a sender without a route is handled as routing
  // handles one (a discovery reply may add it); otherwise the record's own device type.
  void Deliver(int sender, uint8_t dev_type, uint16_t port, const Bytes& datagram, bool routed) {
    ExactBuffer buffer(datagram);
    const uint32_t handle = Handle(sender);
    if (routed) {
      const kesto::lidar::RouteMap& routes = reader_.Get(directory_.routes());
      auto found = routes.find(handle);
      if (found == routes.end()) {
        if (port == kesto::lidar::kDiscoveryPort) Unrouted(handle, buffer);
        return;
      }
      dev_type = found->second.dev_type;
    }
    RouteCommand(dev_type, handle, port, buffer);
  }

  void RouteCommand(uint8_t dev_type, uint32_t handle, uint16_t port, const ExactBuffer& buffer) {
    const kesto::lidar::LidarModel* model = kesto::lidar::FindModel(dev_type);
    if (model != nullptr && model->upgrade_port != 0 && port == model->upgrade_port) {
      general_.HandleUpgradeDatagram(dev_type, handle, port, buffer.data(), buffer.size());
      return;
    }
    kesto::lidar::ProtocolCommand command;
    if (!kesto::lidar::ParseFrame(codec_, buffer.data(), buffer.size(), command)) return;
    if (port == kesto::lidar::kDiscoveryPort && command.cmd_id == kesto::lidar::kCmdIdDiscovery) {
      if (command.cmd_type != kesto::lidar::kCommandTypeCommand) DiscoveryReply(handle, command);
      return;
    }
    general_.Handle(dev_type, handle, port, command);
  }

  // A discovery-port datagram of a sender without a route: view mode takes in any lidar that
  // answers, normal mode adds one of a configured model.
  void Unrouted(uint32_t handle, const ExactBuffer& buffer) {
    kesto::lidar::ProtocolCommand command;
    if (!kesto::lidar::ParseFrame(codec_, buffer.data(), buffer.size(), command)) return;
    if (command.cmd_id != kesto::lidar::kCmdIdDiscovery) return;
    if (view_mode_) {
      if (command.cmd_type != kesto::lidar::kCommandTypeCommand) DiscoveryReply(handle, command);
      return;
    }
    if (command.data == nullptr || command.data_len < 2 || command.data[0] != 0) return;
    kesto::lidar::KestoLidarCfg cfg;
    directory_.AddDetected(handle, command.data[1], cfg);
  }

  void DiscoveryReply(uint32_t handle, const kesto::lidar::ProtocolCommand& command) {
    if (command.data == nullptr || command.data_len == 0) return;
    kesto::lidar::DetectionData data;
    if (!kesto::lidar::DecodeDetectionData(command.data, command.data_len, data)) return;
    if (data.ret_code != 0) return;
    setup_.OnDiscoveryReply(handle, data);
  }

  void AnswerLast(int sender, uint8_t dev_type, uint16_t cmd_id, const Bytes& payload) {
    const auto frames = link_.Frames();
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
      if (it->handle == Handle(sender) && it->cmd_id == cmd_id) {
        Deliver(sender, dev_type, 56000, kesto::test::Ack(it->seq, cmd_id, payload), true);
        return;
      }
    }
  }
  void SendTracked(int sender) {
    auto tracked = std::make_unique<Tracked>();
    const int32_t result =
        kesto::lidar::SendWorkMode(general_, Handle(sender), 1, Count, tracked.get());
    Require(result == 0 || result == -9);
    if (result == 0) {
      tracked_.push_back(std::move(tracked));
    } else {
      Require(tracked->completions == 0);  // an error return never completes
    }
  }

  const bool view_mode_;
  kesto::lidar::SdkProtocol codec_;  // stateless
  kesto::test::ManualClock clock_;
  FrameLog link_;
  kesto::lidar::LidarDirectory directory_;
  GeneralCommandHandler general_{&directory_, clock_.Source()};
  kesto::lidar::LidarSetup setup_{directory_, general_};
  kesto::lidar::RouteSnapshot::Reader reader_;
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
