#include "lidar_setup.h"

#include <memory>

#include "command_id.h"
#include "command_impl.h"
#include "key_table.h"
#include "kit_log.h"
#include "little_endian.h"

namespace kesto::lidar {
namespace {

constexpr uint16_t kPointDataAddressKey = 0x0006;
constexpr uint16_t kImuDataAddressKey = 0x0007;
// A value of keys 0x0006 and 0x0007: the host address (4 bytes), the host port, the lidar port.
constexpr uint16_t kAddressValueLength = 8;

}  // namespace

LidarSetup::LidarSetup(LidarDirectory& directory, GeneralCommandHandler& commands)
    : directory_(directory), commands_(commands) {}

void LidarSetup::OnDiscoveryReply(uint32_t handle, const DetectionData& data) {
  if (handle == 0) return;
  const SetupDecision decision = directory_.OnDiscoveryReply(handle, data);
  if (decision.event == LidarEvent::kDetected) {
    state_change_.Call(handle, static_cast<int>(kKestoLidarStateDetected), &decision.identity);
  } else if (decision.event == LidarEvent::kBack) {
    KESTO_LOG_INFO("Lidar {} is back, set up again.", handle);
    ForgetFwRetries(handle);
    state_change_.Call(handle, static_cast<int>(kKestoLidarStateBack), &decision.identity);
  }
  switch (decision.step) {
    case SetupStep::kNone:
      break;
    case SetupStep::kQueryFirmware:
      QueryFwType(handle, decision.dev_type);
      break;
    case SetupStep::kConfigure:
      Configure(handle, decision);
      break;
    case SetupStep::kQueryInternalInfo:
      QueryKestoLidarInternalInfo(commands_, handle, InternalInfoCallback, this);
      break;
    case SetupStep::kConfigureView:
      ConfigureView(decision.view);
      break;
    case SetupStep::kReportInfo:
      KestoLidarInfoChange(handle);
      break;
  }
}

void LidarSetup::QueryFwType(uint32_t handle, uint8_t dev_type) {
  // A key list holding the single key FW_TYPE.
  static constexpr uint8_t kQuery[] = {0x01, 0x00, 0x00, 0x00, 0x10, 0x80};
  commands_.SendCommand(dev_type, handle, kCmdIdQueryParameters, kQuery, sizeof kQuery,
                        std::make_shared<FunctionStatusCallback<KestoLidarDiagInternalInfoResponse>>(
                            QueryFwTypeCallback, this));
}

namespace {

// The firmware type an answer to the firmware-type query holds; false when it holds none, with
// the reason logged when `log` is set.
bool FwTypeOf(kesto_status status, const KestoLidarDiagInternalInfoResponse* response,
              uint8_t& fw_type, bool log) {
  if (status != StatusSuccess) {
    if (log) KESTO_LOG_ERROR("Query kesto lidar Fw type failed, the status:{}", status);
    return false;
  }
  if (response == nullptr) {
    if (log) KESTO_LOG_ERROR("Query kesto lidar Fw type failed, the response is nullptr.");
    return false;
  }
  if (response->ret_code != 0) {
    const uint8_t ret_code = response->ret_code;
    if (log) KESTO_LOG_ERROR("Query kesto lidar Fw type failed, the ret_code:{}", ret_code);
    return false;
  }
  if (response->param_num == 0) {
    // The record's param_num counts only entries that arrived whole.
    if (log) KESTO_LOG_ERROR("Query Fw type failed, the response holds no whole entry.");
    return false;
  }
  const uint8_t* entry = response->data;
  const uint16_t key = LoadU16(entry);
  const uint16_t length = LoadU16(entry + 2);
  if (key != kKeyFwType) {
    if (log) KESTO_LOG_ERROR("Query Fw type filed, the key had fault, the key:{}", key);
    return false;
  }
  if (length != 1) {
    if (log) KESTO_LOG_ERROR("Query Fw type failed, the val lenth is error, the len:{}", length);
    return false;
  }
  fw_type = entry[4];
  return true;
}

}  // namespace

// Failed answers are counted per lidar, and only failed ones: an answer that holds the type is
// taken whatever another lidar's queries did before it.
void LidarSetup::QueryFwTypeCallback(kesto_status status, uint32_t handle,
                                     KestoLidarDiagInternalInfoResponse* response,
                                     void* client_data) {
  auto* self = static_cast<LidarSetup*>(client_data);
  if (self == nullptr) {
    KESTO_LOG_ERROR("Query kesto lidar Fw type failed, client data is nullptr.");
    return;
  }
  uint8_t fw_type = 0;
  if (FwTypeOf(status, response, fw_type, false)) {
    KESTO_LOG_INFO("Query Fw type succ, the fw_type:{}", fw_type);
    self->ForgetFwRetries(handle);
    self->directory_.SetFirmwareType(handle, fw_type);
    return;
  }
  if (self->CountFwRetry(handle) > 10) {
    KESTO_LOG_ERROR("Query kesto lidar failed, the retry time more than 10.");
    self->ForgetFwRetries(handle);
    self->directory_.SetFirmwareType(handle, 1);  // as if the firmware type were not 0
    return;
  }
  FwTypeOf(status, response, fw_type, true);
  uint8_t dev_type = 0;
  if (self->directory_.ModelOf(handle, dev_type)) self->QueryFwType(handle, dev_type);
}

int LidarSetup::CountFwRetry(uint32_t handle) {
  std::lock_guard<std::mutex> lock(fw_retries_mutex_);
  return fw_retries_[handle]++;
}

void LidarSetup::ForgetFwRetries(uint32_t handle) {
  std::lock_guard<std::mutex> lock(fw_retries_mutex_);
  fw_retries_.erase(handle);
}

void LidarSetup::Configure(uint32_t handle, const SetupDecision& decision) {
  std::shared_ptr<CommandHandler> handler = commands_.GetCommandHandler(decision.cfg.dev_type);
  if (!handler) return;
  handler->SendConfiguration(handle, decision.cfg, decision.lidar_cmd_port,
                             [this, handle](ConfigOutcome outcome) { OnConfigured(handle, outcome); });
}

void LidarSetup::ConfigureView(const ViewLidarIpInfo& info) {
  std::shared_ptr<CommandHandler> handler = commands_.GetCommandHandler(info.dev_type);
  if (!handler) return;
  const uint32_t handle = info.handle;
  handler->SendViewConfiguration(
      info, [this, handle](ConfigOutcome outcome) { OnConfigured(handle, outcome); });
}

// An unanswered request leaves the lidar configuring: the next discovery reply sends it again.
void LidarSetup::OnConfigured(uint32_t handle, ConfigOutcome outcome) {
  if (outcome == ConfigOutcome::kUnanswered) return;
  KestoLidarInfoChange(handle);
}

void LidarSetup::KestoLidarInfoChange(uint32_t handle) {
  bool first_report = false;
  KestoLidarIdentity identity{};
  if (!directory_.EndSetup(handle, first_report, identity)) {
    KESTO_LOG_ERROR("Lidar info change failed, can not found device, the handle:{}", handle);
    return;
  }
  if (!first_report) return;
  info_change_.Call(handle, &identity);
  state_change_.Call(handle, static_cast<int>(kKestoLidarStateConfigured), &identity);
}

void LidarSetup::OnDiscoveryPeriod() {
  for (const auto& [handle, identity] : directory_.NextPeriod()) {
    KESTO_LOG_WARN("Lidar {} lost: no discovery reply for {} periods.", handle,
                   kMissedPeriodsUntilLost);
    state_change_.Call(handle, static_cast<int>(kKestoLidarStateLost), &identity);
  }
}

void LidarSetup::SetLidarStateObserver(KestoLidarStateObserver observer, void* client_data) {
  state_change_.Set(observer, client_data);
}

void LidarSetup::InternalInfoCallback(kesto_status status, uint32_t handle,
                                      KestoLidarDiagInternalInfoResponse* response,
                                      void* client_data) {
  if (client_data == nullptr) {
    KESTO_LOG_ERROR("Get kesto lidar internal info failed, client data is nullptr.");
    return;
  }
  if (status != 0) {
    KESTO_LOG_ERROR("Get kesto lidar internal info failed, the status:{}", status);
    return;
  }
  static_cast<LidarSetup*>(client_data)->AddViewLidar(handle, response);
}

// The command machinery hands over a reply whose param_num counts only entries that arrived
// whole, so the walk below stays inside it; a value too short for its key is skipped.
void LidarSetup::AddViewLidar(uint32_t handle,
                              const KestoLidarDiagInternalInfoResponse* response) {
  if (response == nullptr) return;
  if (response->ret_code != 0) {
    KESTO_LOG_ERROR("Get kesto lidar internal info failed, the ret_code:{}", response->ret_code);
    return;
  }
  ViewLidarIpInfo ports;
  const uint8_t* entry = response->data;
  for (uint16_t i = 0; i < response->param_num; ++i) {
    const uint16_t key = LoadU16(entry);
    const uint16_t length = LoadU16(entry + 2);
    const uint8_t* value = entry + 4;
    if (length >= kAddressValueLength) {
      if (key == kPointDataAddressKey) {
        ports.host_point_data_port = LoadU16(value + 4);
        ports.lidar_point_data_port = LoadU16(value + 6);
      } else if (key == kImuDataAddressKey) {
        ports.host_imu_data_port = LoadU16(value + 4);
        ports.lidar_imu_data_port = LoadU16(value + 6);
      }
    }
    entry += 4 + length;
  }
  ViewLidarIpInfo info;
  // The device manager opens the data channels of the ports on its next tick.
  if (!directory_.SetViewPorts(handle, ports, info)) return;
  ConfigureView(info);
}

void LidarSetup::SetInfoChangeObserver(KestoLidarInfoChangeObserver observer, void* client_data) {
  info_change_.Set(observer, client_data);
}

}  // namespace kesto::lidar
