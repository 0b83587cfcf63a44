#ifndef KESTO_TESTS_SDK_CORE_DEVICE_MANAGER_FIXTURE_H_
#define KESTO_TESTS_SDK_CORE_DEVICE_MANAGER_FIXTURE_H_

// A device manager over private collaborators (data handler, general command handler, log
// capture), a host on 127.0.0.1 with one ORBIT and one VELA model configuration, and observers
// that record what reaches the application. Everything binds loopback addresses only; the
// tests run in a private network namespace under a lock on the fixed lidar ports.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "data_handler.h"
#include "device_manager.h"
#include "general_command_handler.h"
#include "kit.h"
#include "lidar_cfg.h"
#include "log_capture.h"
#include "logger_manager.h"
#include "socket.h"

namespace kesto::lidar::test {

using Bytes = std::vector<uint8_t>;

inline constexpr char kHost[] = "127.0.0.1";
inline constexpr uint8_t kOrbit = 9;
inline constexpr uint8_t kVela = 10;

// Host ports of the model configurations: distinct per model so a test can tell them apart.
inline HostNetInfo HostPorts(uint8_t dev_type, const std::string& host_ip = kHost) {
  HostNetInfo host;
  host.host_ip = host_ip;
  const uint16_t base = dev_type == kOrbit ? 51000 : 52000;
  host.cmd_data_port = base + 1;
  host.push_msg_port = base + 2;
  host.point_data_port = base + 3;
  host.imu_data_port = base + 4;
  host.log_data_port = base + 5;
  return host;
}

inline LidarNetInfo LidarPorts(uint8_t dev_type) {
  return dev_type == kOrbit ? LidarNetInfo{56100, 56200, 56300, 56400, 56500}
                            : LidarNetInfo{56000, 56000, 57000, 58000, 59000};
}

inline KestoLidarCfg ModelCfg(uint8_t dev_type, const std::string& host_ip = kHost) {
  KestoLidarCfg cfg;
  cfg.dev_type = dev_type;
  cfg.lidar_net_info = LidarPorts(dev_type);
  cfg.host_net_info = HostPorts(dev_type, host_ip);
  return cfg;
}

// Whether a socket bound to a loopback address other than 127.0.0.1 sends from that address.
// Wine sends every loopback datagram from 127.0.0.1, so there an emulated lidar looks like the
// host itself and tests of lidars at their own addresses cannot run in one process: only that
// answer, and only in a Windows build, is a reason for the caller to skip. Anything else is
// recorded here as a failure (the caller's skip then stops the test, which stays failed): on
// Linux a process always owns its loopback aliases, and the probe answers 0.0.0.0 when it failed
// itself. A failed probe is tried again, so a datagram late under load does not fail the test.
inline bool LoopbackSendersAreDistinct() {
#ifdef _WIN32
  constexpr bool kPlatformMaySendAllFromHost = true;
#else
  constexpr bool kPlatformMaySendAllFromHost = false;
#endif
  in_addr lidar{};
  lidar.s_addr = inet_addr("127.0.0.7");
  in_addr source{};
  for (int attempt = 0; attempt < 3; ++attempt) {
    source = platform::SocketSourceAddressFor(lidar);
    if (source.s_addr == lidar.s_addr) return true;
    if (source.s_addr != htonl(INADDR_ANY)) break;  // an answer, not a failed probe
  }
  if (!kPlatformMaySendAllFromHost || source.s_addr != htonl(INADDR_LOOPBACK)) {
    const auto* octets = reinterpret_cast<const uint8_t*>(&source.s_addr);
    ADD_FAILURE() << "a socket bound to 127.0.0.7 sends from " << int(octets[0]) << "."
                  << int(octets[1]) << "." << int(octets[2]) << "." << int(octets[3])
                  << " (0.0.0.0: the probe failed three times)";
  }
  return false;
}
inline constexpr char kSameSenderNote[] =
    "every loopback datagram leaves from 127.0.0.1 on this platform";

// Waits for `done` with a generous deadline; the tests never depend on how fast it comes.
inline bool WaitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// What one data observer saw: every call's handle, device type and the bytes the data path may
// read (the whole packet span, whatever the datagram's length).
class PacketRecorder {
 public:
  struct Seen {
    uint32_t handle;
    uint8_t dev_type;
    Bytes span;
  };
  static void Observe(uint32_t handle, uint8_t dev_type, const KestoLidarEthernetPacket* packet,
                      void* self) {
    auto* recorder = static_cast<PacketRecorder*>(self);
    const auto* bytes = reinterpret_cast<const uint8_t*>(packet);
    Seen seen{handle, dev_type, Bytes(bytes, bytes + DeviceManager::kDataReadSpan)};
    if (recorder->hook_) recorder->hook_();
    std::lock_guard<std::mutex> lock(recorder->mutex_);
    recorder->seen_.push_back(std::move(seen));
  }
  size_t Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_.size();
  }
  std::vector<Seen> All() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }
  // Runs inside each observer call (set before delivery starts).
  void SetHook(std::function<void()> hook) { hook_ = std::move(hook); }

 private:
  mutable std::mutex mutex_;
  std::vector<Seen> seen_;
  std::function<void()> hook_;
};

class DeviceManagerTest : public ::testing::Test {
 protected:
  DeviceManagerTest() {
    data_.SetPointCloudObserver(&PacketRecorder::Observe, &points_);
    data_.SetImuDataObserver(&PacketRecorder::Observe, &imu_);
  }
  ~DeviceManagerTest() override { kit_.Stop(); }

  // Configuration variant: model configurations of ORBIT and VELA on the host, plus `custom`.
  bool InitWith(LidarCfgList models, LidarCfgList custom = {}, bool master_sdk = true,
                bool log_enable = false) {
    lidars_cfg_ = std::make_shared<LidarCfgList>(std::move(models));
    custom_cfg_ = std::make_shared<LidarCfgList>(std::move(custom));
    auto logger_cfg = std::make_shared<KestoLidarLoggerCfg>();
    logger_cfg->lidar_log_enable = log_enable;
    logger_cfg->lidar_log_cache_size = log_enable ? 16 : 0;
    logger_cfg->lidar_log_path = log_dir_;
    auto framework = std::make_shared<KestoLidarSdkFrameworkCfg>();
    framework->master_sdk = master_sdk;
    return manager_.Init(lidars_cfg_, custom_cfg_, logger_cfg, framework);
  }
  bool InitBothModels() { return InitWith({ModelCfg(kOrbit), ModelCfg(kVela)}); }

  static std::string Key(const std::string& ip, uint16_t port) {
    return ip + ":" + std::to_string(port);
  }

  ::kesto::test::LogCapture log_;
  PacketRecorder points_;
  PacketRecorder imu_;
  std::string log_dir_ = "";
  std::shared_ptr<LidarCfgList> lidars_cfg_;
  std::shared_ptr<LidarCfgList> custom_cfg_;
  Kit kit_;  // last: destroyed (and its threads joined) first
  DataHandler& data_ = kit_.data();
  GeneralCommandHandler& general_ = kit_.commands();
  LoggerManager& logger_ = kit_.logger();
  LidarDirectory& directory_ = kit_.directory();
  DeviceManager& manager_ = kit_.device_manager();
};

}  // namespace kesto::lidar::test

#endif  // KESTO_TESTS_SDK_CORE_DEVICE_MANAGER_FIXTURE_H_
