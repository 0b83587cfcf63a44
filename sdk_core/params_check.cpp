#include "params_check.h"

#include <set>
#include <string>

#include "build_request.h"
#include "kesto_lidar_sdk.h"
#include "kit_log.h"
#include "model_table.h"

namespace kesto::lidar {
namespace {

// The ORBIT lidar-side ports in the order they are compared, each with the start of its message.
struct FixedPort {
  uint16_t LidarNetInfo::*field;
  const char* message;
};
constexpr FixedPort kOrbitFixedPorts[] = {
    {&LidarNetInfo::cmd_data_port, "Orbit lidar command data port must be "},
    {&LidarNetInfo::push_msg_port, "Orbit lidar push msg port must be "},
    {&LidarNetInfo::point_data_port, "Orbit lidar point cloud port must be "},
    {&LidarNetInfo::imu_data_port, "Orbit lidar imu data port must be "},
    {&LidarNetInfo::log_data_port, "Orbit lidar log port must be "},
};

enum class GroupCheck { kUnicast, kMulticast, kInvalid, kUnreadable };

// Classifies a multicast group text. The class-D test is one unsigned comparison: adding
// 0x1FFFFFFF maps 224.0.0.1 .. 239.255.255.255 onto 0 .. 0x0FFFFFFE and everything else,
// 224.0.0.0 included, above it.
GroupCheck CheckGroup(const std::string& group) {
  if (group.empty()) return GroupCheck::kUnicast;
  uint8_t bytes[4];
  if (!IpToU8(group, bytes)) return GroupCheck::kUnreadable;  // IpToU8 logged why
  const uint32_t address = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) |
                           (uint32_t{bytes[2]} << 8) | uint32_t{bytes[3]};
  return static_cast<uint32_t>(address + 0x1FFFFFFFu) <= 0x0FFFFFFEu ? GroupCheck::kMulticast
                                                                      : GroupCheck::kInvalid;
}

}  // namespace

bool ConfigChecker::Check() {
  if (!lidars_cfg_ && !custom_lidars_cfg_) {
    KESTO_LOG_ERROR("Params check failed, all params is nullptr.");
    return false;
  }
  // A single absent list counts as empty.
  if (!lidars_cfg_) lidars_cfg_ = std::make_shared<LidarCfgList>();
  if (!custom_lidars_cfg_) custom_lidars_cfg_ = std::make_shared<LidarCfgList>();
  if (lidars_cfg_->empty() && custom_lidars_cfg_->empty()) {
    KESTO_LOG_ERROR("Params check failed, all kesto lidars config is empty.");
    return false;
  }
  if (!CheckLidarIp()) return false;
  for (KestoLidarCfg& cfg : *lidars_cfg_) CheckPort(cfg.dev_type, cfg.lidar_net_info);
  for (KestoLidarCfg& cfg : *custom_lidars_cfg_) CheckPort(cfg.dev_type, cfg.lidar_net_info);
  return CheckLidarMulticastIp();
}

bool ConfigChecker::CheckLidarIp() {
  // Compared as texts: "192.168.1.05" and "192.168.1.5" are two addresses here.
  std::set<std::string> seen;
  for (const KestoLidarCfg& cfg : *lidars_cfg_) {
    if (cfg.lidar_ip.empty()) continue;
    if (!seen.insert(cfg.lidar_ip).second) {
      KESTO_LOG_ERROR("Params check failed, lidar ip conflict, the liar ip:{}", cfg.lidar_ip);
      return false;
    }
  }
  for (const KestoLidarCfg& cfg : *custom_lidars_cfg_) {
    if (cfg.lidar_ip.empty()) {
      KESTO_LOG_ERROR("Params check failed, custom lidar ipaddr is empty.");
      return false;
    }
    if (!seen.insert(cfg.lidar_ip).second) {
      KESTO_LOG_ERROR("Params check failed, lidar ip conflict the lidar ip:{}", cfg.lidar_ip);
      return false;
    }
  }
  return true;
}

void ConfigChecker::CheckPort(uint8_t dev_type, LidarNetInfo& lidar_net_info) {
  const LidarModel* model = FindModel(dev_type);
  if (model == nullptr || !model->fixed_ports) return;
  for (const FixedPort& port : kOrbitFixedPorts) {
    const uint16_t fixed = model->lidar_ports.*port.field;
    if (lidar_net_info.*port.field == fixed) continue;
    KESTO_LOG_ERROR("{}{}", port.message, fixed);
    lidar_net_info.*port.field = fixed;
  }
}

bool ConfigChecker::CheckLidarMulticastIp() {
  // Per-model entries are named by their device type, per-lidar entries by their address.
  for (const LidarCfgList* list : {lidars_cfg_.get(), custom_lidars_cfg_.get()}) {
    const bool custom = list == custom_lidars_cfg_.get();
    for (const KestoLidarCfg& cfg : *list) {
      const std::string& group = cfg.host_net_info.multicast_ip;
      const std::string subject = custom ? "Lidar ip:" + cfg.lidar_ip
                                         : "Device type:" + std::to_string(cfg.dev_type);
      switch (CheckGroup(group)) {
        case GroupCheck::kUnicast:
          KESTO_LOG_INFO("{} point cloud data and IMU data unicast is enabled.", subject);
          break;
        case GroupCheck::kMulticast:
          KESTO_LOG_INFO("{} point cloud and IMU data multicast ip:{}", subject, group);
          break;
        case GroupCheck::kInvalid:
          KESTO_LOG_ERROR("Params check failed, lidar multicast ip error:{}", group);
          return false;
        case GroupCheck::kUnreadable:
          return false;
      }
    }
  }
  return true;
}

}  // namespace kesto::lidar
