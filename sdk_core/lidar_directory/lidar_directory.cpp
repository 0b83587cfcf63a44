#include "lidar_directory.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "build_request.h"
#include "handle_text.h"
#include "kit_log.h"
#include "model_table.h"
#include "wire_text.h"

namespace kesto::lidar {
namespace {

// Copies at most N - 1 characters of `text` and a terminating zero into `field`.
template <size_t N>
void CopyText(const std::string& text, char (&field)[N]) {
  const size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

}  // namespace

const char* StateName(LidarState state) {
  switch (state) {
    case LidarState::kExpected: return "expected";
    case LidarState::kDetected: return "detected";
    case LidarState::kFirmwareKnown: return "firmware known";
    case LidarState::kConfiguring: return "configuring";
    case LidarState::kConfigured: return "configured";
    case LidarState::kViewing: return "viewing";
    case LidarState::kLost: return "lost";
  }
  return "unknown";
}

// A view lidar's route before its internal information is known: commands, pushes and log
// pushes come from the model's own ports and the command port its reply names; its data is
// routed once the internal information has named the data ports.
Route LidarDirectory::ViewRoute(uint8_t dev_type, uint16_t cmd_port) {
  Route route;
  route.dev_type = dev_type;
  if (const LidarModel* model = FindModel(dev_type)) {
    route.lidar = model->lidar_ports;
    route.lidar.push_msg_port = model->push_source_port;
  }
  route.lidar.cmd_data_port = cmd_port;
  route.lidar.point_data_port = 0;
  route.lidar.imu_data_port = 0;
  return route;
}

void LidarDirectory::Start(DirectorySettings settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  settings_ = std::move(settings);
  accepting_ = true;
  models_.clear();
  records_.clear();
  view_channels_to_open_.clear();
  period_ = 0;
  for (const KestoLidarCfg& cfg : settings_.model_cfgs) models_[cfg.dev_type] = cfg;
  for (const KestoLidarCfg& cfg : settings_.custom_cfgs) {
    const uint32_t handle = TextToHandle(cfg.lidar_ip);
    if (records_.count(handle) != 0) continue;  // the first configuration of an address wins
    LidarRecord& record = records_[handle];
    record.handle = handle;
    record.lidar_ip = HandleToText(handle);
    record.route = Route{cfg.dev_type, cfg.lidar_net_info};
    record.cfg = cfg;
  }
  PublishLocked();
}

void LidarDirectory::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  accepting_ = false;
  models_.clear();
  records_.clear();
  view_channels_to_open_.clear();
  settings_ = DirectorySettings{};
  PublishLocked();
}

bool LidarDirectory::view_mode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_.view_mode;
}

bool LidarDirectory::master() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_.master;
}

std::string LidarDirectory::host_ip() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_.host_ip;
}

void LidarDirectory::Move(LidarRecord& record, LidarState to) {
  if (record.state == to) return;
  KESTO_LOG_DEBUG("Lidar {} ({}): {} -> {}", record.lidar_ip, PrintableWireText(record.sn),
                  StateName(record.state), StateName(to));
  record.state = to;
}

void LidarDirectory::PublishLocked() {
  RouteMap routes;
  for (const auto& [handle, record] : records_) routes.emplace(handle, record.route);
  routes_.Publish(std::move(routes));
}

bool LidarDirectory::AddDetected(uint32_t handle, uint8_t dev_type, KestoLidarCfg& cfg) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!accepting_ || settings_.view_mode) return false;
  auto model = models_.find(dev_type);
  if (model == models_.end()) return false;
  // Two IO threads may carry a first reply of the same lidar; the first one adds it.
  if (records_.count(handle) != 0) return false;
  cfg = model->second;
  cfg.lidar_ip = HandleToText(handle);
  LidarRecord& record = records_[handle];
  record.handle = handle;
  record.lidar_ip = cfg.lidar_ip;
  record.route = Route{cfg.dev_type, cfg.lidar_net_info};
  record.cfg = cfg;
  KESTO_LOG_DEBUG("Lidar {}: expected, of device type {}", record.lidar_ip, dev_type);
  PublishLocked();
  return true;
}

bool LidarDirectory::VerifyNetSegmentLocked(const DetectionData& data) const {
  const std::string& host_ip = settings_.host_ip;
  if (host_ip.empty()) {
    KESTO_LOG_ERROR("Verify net segment faield, the host ip is empty.");
    return false;
  }
  uint8_t host[4];
  if (!IpToU8(host_ip, host)) return false;
  if (std::memcmp(host, data.lidar_ip, 3) == 0) {
    KESTO_LOG_INFO("Host ip:{}, lidar ip:{}.{}.{}.{}", host_ip, data.lidar_ip[0], data.lidar_ip[1],
                   data.lidar_ip[2], data.lidar_ip[3]);
    return true;
  }
  KESTO_LOG_ERROR(
      "The host address and lidar address are on different network segments, the host_ip:{}, "
      "lidar_ip:{}",
      host_ip, HandleToText(BytesToHandle(data.lidar_ip)));
  return false;
}

SetupDecision LidarDirectory::OnDiscoveryReply(uint32_t handle, const DetectionData& data) {
  SetupDecision decision;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!accepting_) return decision;
  const bool view = settings_.view_mode;
  if (view && !VerifyNetSegmentLocked(data)) return decision;

  auto it = records_.find(handle);
  if (it == records_.end()) {
    if (!view) return decision;  // routing adds a lidar of a configured model first
    LidarRecord& record = records_[handle];
    record.handle = handle;
    record.lidar_ip = HandleToText(handle);
    record.route = ViewRoute(data.dev_type, data.cmd_port);
    it = records_.find(handle);
    PublishLocked();
  }
  LidarRecord& record = it->second;
  decision.dev_type = record.dev_type;
  record.answered_period = period_;

  const bool back = record.state == LidarState::kLost;
  if (back) {
    // Back: set up once more from the start, exactly as a new lidar. A rebooted lidar has
    // forgotten its configuration; a view lidar may stream to other ports now.
    record.fw_type.reset();
    record.info_reported = false;
    if (view) {
      // Possibly another unit at the address: routed as the model its reply names.
      record.view.reset();
      record.route = ViewRoute(data.dev_type, data.cmd_port);
      PublishLocked();
    }
    decision.event = LidarEvent::kBack;
  } else if (record.state == LidarState::kExpected) {
    decision.event = LidarEvent::kDetected;
  }

  if (back || record.state == LidarState::kExpected) {
    record.dev_type = data.dev_type;
    record.sn = data.sn;
    record.lidar_cmd_port = data.cmd_port;
    if (view) {
      record.route.lidar.cmd_data_port = data.cmd_port;
      PublishLocked();
    }
    Move(record, LidarState::kDetected);
    decision.dev_type = record.dev_type;
    decision.identity = IdentityOf(record);
    if (settings_.master) decision.step = SetupStep::kQueryFirmware;
    return decision;
  }

  if (record.dev_type != data.dev_type) {
    KESTO_LOG_ERROR("The lidar of handle:{} dev_type is error, the dev_type1:{}, the dev_type2:{}",
                    handle, record.dev_type, data.dev_type);
    return decision;
  }
  if (record.sn != data.sn) {
    KESTO_LOG_ERROR("Lidar ip conflic, the lidar ip:{}, the sn1:{}, the sn2:{}", record.lidar_ip,
                    PrintableWireText(record.sn), PrintableWireText(data.sn));
  }
  record.lidar_cmd_port = data.cmd_port;
  const bool fw_zero = record.fw_type.has_value() && *record.fw_type == 0;
  switch (record.state) {
    case LidarState::kFirmwareKnown:
      if (fw_zero) {
        decision.step = SetupStep::kReportInfo;
      } else if (view) {
        decision.step = SetupStep::kQueryInternalInfo;
      } else if (settings_.master && record.cfg) {
        Move(record, LidarState::kConfiguring);
        decision.step = SetupStep::kConfigure;
      }
      break;
    case LidarState::kConfiguring:
      if (view && record.view) {
        decision.step = SetupStep::kConfigureView;
        decision.view = *record.view;
      } else if (!view && settings_.master && record.cfg) {
        decision.step = SetupStep::kConfigure;
      }
      break;
    default:
      break;
  }
  if (decision.step == SetupStep::kConfigure) {
    decision.cfg = *record.cfg;
    decision.lidar_cmd_port = record.lidar_cmd_port;
  }
  return decision;
}

void LidarDirectory::SetFirmwareType(uint32_t handle, uint8_t fw_type) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = records_.find(handle);
  if (it == records_.end() || it->second.state != LidarState::kDetected) return;
  it->second.fw_type = fw_type;
  Move(it->second, LidarState::kFirmwareKnown);
}

bool LidarDirectory::SetViewPorts(uint32_t handle, const ViewLidarIpInfo& ports,
                                  ViewLidarIpInfo& info) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = records_.find(handle);
  if (it == records_.end() || it->second.state < LidarState::kFirmwareKnown) {
    KESTO_LOG_ERROR("Add view lidar failed, can not get cmd port, the handle:{}", handle);
    return false;
  }
  LidarRecord& record = it->second;
  if (record.view || record.state != LidarState::kFirmwareKnown) return false;
  info = ports;
  info.handle = handle;
  info.dev_type = record.dev_type;
  info.lidar_cmd_port = record.lidar_cmd_port;
  info.host_ip = settings_.host_ip;
  const LidarModel* model = FindModel(record.dev_type);
  if (model != nullptr && model->fixed_ports) {
    info.lidar_point_data_port = model->lidar_ports.point_data_port;
    info.lidar_imu_data_port = model->lidar_ports.imu_data_port;
  }
  record.view = info;
  view_channels_to_open_.push_back(info);
  record.route.lidar.point_data_port = info.lidar_point_data_port;
  record.route.lidar.imu_data_port = info.lidar_imu_data_port;
  Move(record, LidarState::kConfiguring);
  PublishLocked();
  return true;
}

std::vector<ViewLidarIpInfo> LidarDirectory::TakeViewChannelsToOpen() {
  std::vector<ViewLidarIpInfo> taken;
  std::lock_guard<std::mutex> lock(mutex_);
  taken.swap(view_channels_to_open_);
  return taken;
}

KestoLidarIdentity LidarDirectory::IdentityOf(const LidarRecord& record) {
  KestoLidarIdentity identity{};
  identity.dev_type = record.dev_type;
  CopyText(record.sn, identity.sn);
  CopyText(record.lidar_ip, identity.lidar_ip);
  return identity;
}

std::vector<std::pair<uint32_t, KestoLidarIdentity>> LidarDirectory::NextPeriod() {
  std::vector<std::pair<uint32_t, KestoLidarIdentity>> lost;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!accepting_) return lost;
  ++period_;
  // Requests 1 .. period_ - 1 have gone out; the lidar last answered in answered_period.
  for (auto& [handle, record] : records_) {
    if (record.state == LidarState::kExpected || record.state == LidarState::kLost) continue;
    if (period_ - 1 - record.answered_period < kMissedPeriodsUntilLost) continue;
    Move(record, LidarState::kLost);
    lost.emplace_back(handle, IdentityOf(record));
  }
  return lost;
}

bool LidarDirectory::EndSetup(uint32_t handle, bool& first_report, KestoLidarIdentity& identity) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = records_.find(handle);
  if (it == records_.end() || it->second.state == LidarState::kExpected) return false;
  LidarRecord& record = it->second;
  if (record.state == LidarState::kLost) return false;  // an answer of before it was lost
  Move(record, record.view ? LidarState::kViewing : LidarState::kConfigured);
  first_report = !record.info_reported;
  record.info_reported = true;
  identity = IdentityOf(record);
  return true;
}

bool LidarDirectory::ModelOf(uint32_t handle, uint8_t& dev_type) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = records_.find(handle);
  if (it == records_.end() || it->second.state == LidarState::kExpected) return false;
  dev_type = it->second.dev_type;
  return true;
}

bool LidarDirectory::SerialNumberOf(uint32_t handle, std::string& serial_number) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = records_.find(handle);
  if (it == records_.end() || it->second.state == LidarState::kExpected) return false;
  serial_number = it->second.sn;
  return true;
}

std::vector<uint32_t> LidarDirectory::DetectedLidars() const {
  std::vector<uint32_t> detected;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [handle, record] : records_) {
    if (record.state != LidarState::kExpected) detected.push_back(handle);
  }
  return detected;
}

bool LidarDirectory::HostOf(uint32_t handle, HostNetInfo& host) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = records_.find(handle);
  if (it == records_.end() || !it->second.cfg) return false;
  host = it->second.cfg->host_net_info;
  return true;
}

LidarCfgList LidarDirectory::CustomCfgs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_.custom_cfgs;
}

std::optional<LidarRecord> LidarDirectory::Find(uint32_t handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = records_.find(handle);
  if (it == records_.end()) return std::nullopt;
  return it->second;
}

}  // namespace kesto::lidar
