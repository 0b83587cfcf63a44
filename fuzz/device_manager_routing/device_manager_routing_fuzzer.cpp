// Arbitrary datagrams from arbitrary senders and source ports into the routing of the device
// manager (what follows the receive) of two kits, one per variant, with lidars of both models
// registered. Each datagram lies in a buffer as the receive leaves it: its bytes, then zeros up
// to the span the data path reads, so AddressSanitizer reports any read beyond that. The
// observers read every byte they are given.
//
// Input: records of
//   control byte: bit 0 view-mode device manager, bits 1-3 sender, bit 4 raw port,
//                 bit 5 the bytes repeated to a whole point packet (1,380 bytes),
//                 bit 6 repeated to the most one receive takes (8,192 bytes)
//   port byte:    one of the kit's and the lidars' ports, or (raw) a port made of it
//   length byte:  bytes of the record that follow (a discovery-reply frame when 0xFF)
//
// The device managers bind 127.0.0.1 and broadcast discovery requests: run this target inside a
// private network namespace (scripts/test.sh does).
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "device_manager.h"
#include "handle_text.h"
#include "kit.h"
#include "lidar_frames.h"
#include "socket.h"

namespace {

using namespace kesto::lidar;

constexpr std::array<uint16_t, 12> kPorts = {56000, 56100, 56200, 56300, 56400, 56500,
                                             57000, 58000, 59000, 10001, 1002,  44332};
// The host itself, two configured lidars, two of each model that discovery may add, and one
// address outside the host's segment.
const std::array<uint32_t, 8> kSenders = {
    TextToHandle("127.0.0.1"), TextToHandle("127.0.0.7"), TextToHandle("127.0.0.8"),
    TextToHandle("127.0.0.9"), TextToHandle("127.0.0.10"), TextToHandle("127.0.0.11"),
    TextToHandle("127.0.0.12"), TextToHandle("10.1.2.3")};

volatile uint32_t g_sink = 0;

void ReadAll(uint32_t, uint8_t, const KestoLidarEthernetPacket* packet, void*) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(packet);
  uint32_t sum = 0;
  for (int i = 0; i < DeviceManager::kDataReadSpan; ++i) sum += bytes[i];
  g_sink = g_sink + sum;
}

KestoLidarCfg Model(uint8_t dev_type, const std::string& lidar_ip) {
  KestoLidarCfg cfg;
  cfg.dev_type = dev_type;
  cfg.lidar_ip = lidar_ip;
  cfg.lidar_net_info = dev_type == 9 ? LidarNetInfo{56100, 56200, 56300, 56400, 56500}
                                     : LidarNetInfo{56000, 56000, 57000, 58000, 59000};
  cfg.host_net_info.host_ip = "127.0.0.1";
  const uint16_t base = dev_type == 9 ? 51000 : 52000;
  cfg.host_net_info.cmd_data_port = base + 1;
  cfg.host_net_info.push_msg_port = base + 2;
  cfg.host_net_info.point_data_port = base + 3;
  cfg.host_net_info.imu_data_port = base + 4;
  return cfg;
}

// One kit per variant, started once for the whole run.
struct Variant {
  Kit kit;

  explicit Variant(bool view_mode) {
    kit.data().SetPointCloudObserver(&ReadAll, nullptr);
    kit.data().SetImuDataObserver(&ReadAll, nullptr);
    bool ok = false;
    if (view_mode) {
      ok = kit.device_manager().Init("127.0.0.1", nullptr);
    } else {
      auto models = std::make_shared<LidarCfgList>(LidarCfgList{Model(9, ""), Model(10, "")});
      auto custom = std::make_shared<LidarCfgList>(
          LidarCfgList{Model(10, "127.0.0.7"), Model(9, "127.0.0.8")});
      ok = kit.device_manager().Init(models, custom, std::make_shared<KestoLidarLoggerCfg>(),
                                     std::make_shared<KestoLidarSdkFrameworkCfg>());
    }
    if (!ok) std::abort();
  }
};

DeviceManager& ManagerOf(bool view_mode) {
  static const bool sockets = kesto::platform::SocketStartup();
  (void)sockets;
  static Variant config_kit(false);
  static Variant view_kit(true);
  return (view_mode ? view_kit : config_kit).kit.device_manager();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t at = 0;
  while (at + 3 <= size) {
    const uint8_t control = data[at];
    const uint8_t port_byte = data[at + 1];
    const uint8_t length = data[at + 2];
    at += 3;
    const uint32_t sender = kSenders[(control >> 1) & 7];
    const uint16_t port = (control & 0x10) ? static_cast<uint16_t>(56000 + port_byte)
                                           : kPorts[port_byte % kPorts.size()];
    std::vector<uint8_t> datagram;
    if (length == 0xFF) {
      // A well-formed discovery reply, so new lidars and later replies are reached often.
      const std::array<uint8_t, 4> ip = {127, 0, 0, static_cast<uint8_t>(port_byte)};
      datagram = kesto::test::DiscoveryReply(at < size ? data[at] & 1 : 0,
                                             (port_byte & 1) ? 9 : 10, "FUZZ", ip, 56000);
    } else {
      const size_t take = std::min<size_t>(length, size - at);
      datagram.assign(data + at, data + at + take);
      at += take;
      const size_t repeat_to = (control & 0x40) ? DeviceManager::kReceiveBufferSize
                               : (control & 0x20) ? 1380
                                                  : 0;
      if (take > 0 && repeat_to > take) {
        datagram.reserve(repeat_to);
        for (size_t i = take; i < repeat_to; ++i) datagram.push_back(datagram[i % take]);
      }
    }
    const uint32_t received = static_cast<uint32_t>(datagram.size());
    if (datagram.size() < static_cast<size_t>(DeviceManager::kDataReadSpan)) {
      datagram.resize(DeviceManager::kDataReadSpan, 0);
    }
    datagram.shrink_to_fit();
    if (received == 0) continue;
    ManagerOf(control & 1).OnData(sender, port, datagram.data(), received,
                                  (control & 0x20) ? DeviceManager::ReceivedOn::kOtherChannel
                                                   : DeviceManager::ReceivedOn::kDataChannel);
  }
  return 0;
}
