// View mode: lidars that another host configures and this kit only listens to. A lidar's
// internal information names the host ports it streams to; the device manager opens data
// channels on them. Runs on the IO thread that received the reply or acknowledgement.
#include <cstring>

#include "device_manager.h"
#include "general_command_handler.h"
#include "kit_log.h"
#include "little_endian.h"
#include "socket_util.h"

namespace kesto::lidar {

namespace {

constexpr uint16_t kPointDataAddressKey = 0x0006;
constexpr uint16_t kImuDataAddressKey = 0x0007;
constexpr uint8_t kDevTypeOrbit = 9;
constexpr uint16_t kOrbitPointPort = 56300;
constexpr uint16_t kOrbitImuPort = 56400;
// A value of keys 0x0006 and 0x0007: the host address (4 bytes), the host port, the lidar port.
constexpr uint16_t kAddressValueLength = 8;

}  // namespace

void DeviceManager::GetKestoLidarInternalInfoCallback(kesto_status status, uint32_t handle,
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
  static_cast<DeviceManager*>(client_data)->AddViewLidar(handle, response);
}

// The command machinery hands over a reply whose param_num counts only entries that arrived
// whole, so the walk below stays inside it; a value too short for its key is skipped.
void DeviceManager::AddViewLidar(uint32_t handle,
                                 const KestoLidarDiagInternalInfoResponse* response) {
  if (response == nullptr) return;
  if (response->ret_code != 0) {
    KESTO_LOG_ERROR("Get kesto lidar internal info failed, the ret_code:{}", response->ret_code);
    return;
  }
  std::shared_ptr<PendingViewLidar> pending;
  {
    std::lock_guard<std::mutex> lock(pending_view_mutex_);
    auto it = pending_view_lidars_.find(handle);
    if (it != pending_view_lidars_.end()) pending = it->second;
  }
  if (!pending) {
    KESTO_LOG_ERROR("Add view lidar failed, can not get cmd port, the handle:{}", handle);
    return;
  }
  if (pending->added.load()) return;

  auto info = std::make_shared<ViewLidarIpInfo>();
  info->handle = handle;
  info->dev_type = pending->dev_type;
  info->lidar_cmd_port = pending->lidar_cmd_port;
  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    info->host_ip = host_ip_;
  }
  const uint16_t param_num = response->param_num;
  const uint8_t* entry = response->data;
  for (uint16_t i = 0; i < param_num; ++i) {
    const uint16_t key = LoadU16(entry);
    const uint16_t length = LoadU16(entry + 2);
    const uint8_t* value = entry + 4;
    if (length >= kAddressValueLength) {
      if (key == kPointDataAddressKey) {
        info->host_point_data_port = LoadU16(value + 4);
        info->lidar_point_data_port = LoadU16(value + 6);
      } else if (key == kImuDataAddressKey) {
        info->host_imu_data_port = LoadU16(value + 4);
        info->lidar_imu_data_port = LoadU16(value + 6);
      }
    }
    entry += 4 + length;
  }
  if (info->dev_type == kDevTypeOrbit) {
    info->lidar_point_data_port = kOrbitPointPort;
    info->lidar_imu_data_port = kOrbitImuPort;
  }
  CreateViewDataChannel(*info);
  {
    std::lock_guard<std::mutex> lock(view_lidar_mutex_);
    view_lidars_[handle] = info;
  }
  pending->added = true;
  general_.UpdateViewLidarCfg(*info);
}

void DeviceManager::CreateViewDataChannel(const ViewLidarIpInfo& info) {
  for (const uint16_t port : {info.host_point_data_port, info.host_imu_data_port}) {
    // A port the lidar did not report would bind a system-chosen port nobody sends to.
    if (port == 0) continue;
    bool ok = false;
    {
      std::lock_guard<std::mutex> lock(channels_mutex_);
      int opened = -1;
      // The view host's address as it stands: "local" is not special here.
      ok = OpenChannelLocked(ChannelKey(info.host_ip, port), info.host_ip, port, true,
                             std::string(), false, data_io_thread_, opened);
    }
    if (!ok) {
      KESTO_LOG_ERROR(
          "Create View point data channel faileld, can not create socket, the ip {} port {}",
          info.host_ip, port);
    }
  }
}

void DeviceManager::UpdateViewLidarCfgCallback(uint32_t handle) {
  if (!view_mode_.load()) return;
  std::lock_guard<std::mutex> lock(pending_view_mutex_);
  auto it = pending_view_lidars_.find(handle);
  if (it == pending_view_lidars_.end()) {
    KESTO_LOG_ERROR(
        "Device manager change kesto lidar faield, can not find the view device info, the "
        "handle:{}",
        handle);
    return;
  }
  it->second->configured = true;
}

std::shared_ptr<ViewLidarIpInfo> DeviceManager::FindViewLidar(uint32_t handle) const {
  std::lock_guard<std::mutex> lock(view_lidar_mutex_);
  auto it = view_lidars_.find(handle);
  return it == view_lidars_.end() ? nullptr : it->second;
}

bool DeviceManager::IsViewLidar(uint32_t handle) const { return FindViewLidar(handle) != nullptr; }

}  // namespace kesto::lidar
