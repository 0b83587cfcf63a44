#ifndef KESTO_TESTS_COMMAND_FIXTURE_H_
#define KESTO_TESTS_COMMAND_FIXTURE_H_
// A private kit over a fake device link and a manual clock: the lidar directory, the set-up and
// the command machinery, fed through the device manager's routing entry (no sockets), with
// helpers that play the lidar's side, and recorders that count completions.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fake_device_link.h"
#include "general_command_handler.h"
#include "kit.h"
#include "lidar_frames.h"
#include "log_capture.h"
#include "manual_clock.h"

namespace kesto::test {

// Every completion of a command: status, handle and the record's bytes (copied during the call).
struct Completion {
  int32_t status;
  uint32_t handle;
  bool has_response;
  Bytes record;
};

class Completions {
 public:
  template <typename T>
  static void Record(kesto_status status, uint32_t handle, T* response, void* client_data) {
    auto* self = static_cast<Completions*>(client_data);
    Bytes record;
    if (response != nullptr) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(response);
      record.assign(bytes, bytes + sizeof(T));
    }
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->all_.push_back({status, handle, response != nullptr, std::move(record)});
  }
  static constexpr auto kControl = &Record<KestoLidarAsyncControlResponse>;
  static constexpr auto kInternalInfo = &Record<KestoLidarDiagInternalInfoResponse>;

  std::vector<Completion> All() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return all_;
  }
  size_t Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return all_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Completion> all_;
};

struct Identity {
  uint32_t handle;
  uint8_t dev_type;
  std::string sn;
  std::string lidar_ip;
};

class CommandFixture : public ::testing::Test {
 protected:
  static constexpr std::array<uint8_t, 4> kVelaIp = {192, 168, 1, 10};
  static constexpr std::array<uint8_t, 4> kOrbitIp = {192, 168, 1, 20};
  const uint32_t vela_ = HandleOf(192, 168, 1, 10);
  const uint32_t orbit_ = HandleOf(192, 168, 1, 20);

  CommandFixture() { Rebuild(); }

  // A fresh kit: nothing of the previous one (records, pending commands, observers) is left.
  void Rebuild() {
    kit_.reset();
    kit_ = std::make_unique<lidar::Kit>(clock_.Source());
    kit_->commands().AttachLink(&link_);
  }
  lidar::GeneralCommandHandler& handler() { return kit_->commands(); }
  lidar::LidarDirectory& directory() { return kit_->directory(); }
  lidar::LidarSetup& setup() { return kit_->setup(); }

  // Normal mode with a per-lidar configuration for both lidars.
  void InitNormal(bool master = true) {
    InitWith({Cfg(kKestoLidarDevTypeVela, "192.168.1.10"),
              Cfg(kKestoLidarDevTypeOrbit, "192.168.1.20")},
             master);
  }
  // Normal mode with these per-lidar configurations.
  void InitWith(lidar::LidarCfgList custom_cfgs, bool master = true) {
    lidar::DirectorySettings settings;
    settings.master = master;
    settings.host_ip = "192.168.1.50";
    settings.custom_cfgs = std::move(custom_cfgs);
    directory().Start(std::move(settings));
  }
  // View mode on `host_ip`.
  void InitView(const std::string& host_ip) {
    lidar::DirectorySettings settings;
    settings.view_mode = true;
    settings.host_ip = host_ip;
    directory().Start(std::move(settings));
  }
  static lidar::KestoLidarCfg Cfg(uint8_t dev_type, std::string lidar_ip) {
    lidar::KestoLidarCfg cfg;
    cfg.dev_type = dev_type;
    cfg.lidar_ip = std::move(lidar_ip);
    cfg.lidar_net_info = dev_type == kKestoLidarDevTypeOrbit
                             ? lidar::LidarNetInfo{56100, 56200, 56300, 56400, 56500}
                             : lidar::LidarNetInfo{56000, 56000, 57000, 58000, 59000};
    cfg.host_net_info.host_ip = "192.168.1.50";
    cfg.host_net_info.push_msg_port = 56201;
    cfg.host_net_info.point_data_port = 57001;
    cfg.host_net_info.imu_data_port = 58001;
    return cfg;
  }

  // The lidar's side: a datagram from (handle, port), on an exact-size buffer, through the
  // device manager's routing as a command socket hands it over.
  void Receive(uint32_t handle, uint16_t port, const Bytes& datagram) {
    ExactBuffer buffer(datagram);
    kit_->device_manager().OnData(handle, port, buffer.data(), buffer.size(),
                                  lidar::DeviceManager::ReceivedOn::kOtherChannel);
  }
  void Discover(uint8_t dev_type, uint32_t handle, std::array<uint8_t, 4> ip,
                std::string_view sn = "SN-0001", uint16_t cmd_port = 56000) {
    Receive(handle, 56000, DiscoveryReply(0, dev_type, sn, ip, cmd_port));
  }
  // The last frame sent with `cmd_id`; fails the test when there is none.
  SentFrame Last(uint16_t cmd_id) const {
    const auto frames = link_.Frames();
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
      if (it->Command().cmd_id == cmd_id) return *it;
    }
    ADD_FAILURE() << "no frame with cmd_id " << cmd_id;
    return SentFrame{SentFrame::Channel::kCommand, 0, 0, Frame(0, 0xFFFF, 0, {}), 0, 0};
  }
  size_t CountSent(uint16_t cmd_id) const {
    size_t n = 0;
    for (const auto& frame : link_.Frames()) n += frame.Command().cmd_id == cmd_id;
    return n;
  }
  // Answers the last frame of `cmd_id` from `port` with `payload`.
  void Answer(uint8_t /*dev_type*/, uint32_t handle, uint16_t cmd_id, const Bytes& payload,
              uint16_t port = 0) {
    if (port == 0) port = handle == orbit_ ? 56100 : 56000;  // the model's command port
    Receive(handle, port, Ack(Last(cmd_id).Command().seq, cmd_id, payload));
  }
  void AnswerFwType(uint8_t dev_type, uint32_t handle, uint8_t fw_type) {
    Answer(dev_type, handle, 0x0101, InternalInfoAnswer(0, {{0x8010, {fw_type}}}));
  }
  // Discovery, firmware type 1, configuration acknowledged: the lidar is set up.
  void SetUpLidar(uint8_t dev_type, uint32_t handle, std::array<uint8_t, 4> ip) {
    Discover(dev_type, handle, ip);
    AnswerFwType(dev_type, handle, 1);
    Discover(dev_type, handle, ip);
    Answer(dev_type, handle, 0x0100, ControlAnswer(0, 0));
  }

  void ObserveInfoChange() { setup().SetInfoChangeObserver(&OnInfoChange, this); }
  static void OnInfoChange(uint32_t handle, const KestoLidarIdentity* info, void* client_data) {
    auto* self = static_cast<CommandFixture*>(client_data);
    self->identities_.push_back({handle, info->dev_type, info->sn, info->lidar_ip});
  }

  LogCapture capture_;
  ManualClock clock_;
  FakeDeviceLink link_;
  Completions completions_;
  std::vector<Identity> identities_;
  std::unique_ptr<lidar::Kit> kit_;  // last: destroyed first, while the recorders live
};

}  // namespace kesto::test

#endif  // KESTO_TESTS_COMMAND_FIXTURE_H_
