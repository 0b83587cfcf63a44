// The kit's public entry points. Application thread, except where the public header says
// otherwise.
#include "kesto_lidar_sdk.h"

#include "command_impl.h"
#include "data_handler.h"
#include "device_manager.h"
#include "general_command_handler.h"
#include "kit_log.h"
#include "logger_manager.h"
#include "params_check.h"
#include "parse_cfg_file.h"
#include "socket.h"

using kesto::lidar::DataHandler;
using kesto::lidar::DeviceManager;
using kesto::lidar::GeneralCommandHandler;
using kesto::lidar::LoggerManager;

namespace {

// Set only by a successful start, cleared by the stop. Application thread only.
bool g_started = false;

bool StartFromConfigFile(const char* cfg_path) {
  using namespace kesto::lidar;
  std::shared_ptr<LidarCfgList> lidars_cfg;
  std::shared_ptr<LidarCfgList> custom_lidars_cfg;
  std::shared_ptr<KestoLidarLoggerCfg> lidar_logger_cfg;
  std::shared_ptr<KestoLidarSdkFrameworkCfg> sdk_framework_cfg;
  if (!ConfigFileParser(cfg_path).Parse(lidars_cfg, custom_lidars_cfg, lidar_logger_cfg,
                                        sdk_framework_cfg)) {
    return false;
  }
  if (!ConfigChecker(lidars_cfg, custom_lidars_cfg).Check()) return false;
  return DeviceManager::GetInstance().Init(lidars_cfg, custom_lidars_cfg, lidar_logger_cfg,
                                           sdk_framework_cfg);
}

}  // namespace

bool KestoSdkStart(const char* cfg_path, const char* host_ip,
                   const KestoLidarLoggerCfgInfo* log_cfg_info) {
  if (g_started) return false;
  if (!kesto::platform::SocketStartup()) return false;
  kesto::lidar::log::Setup();
  if (cfg_path != nullptr) {
    if (!StartFromConfigFile(cfg_path)) return false;
  } else if (host_ip != nullptr) {
    if (!DeviceManager::GetInstance().Init(host_ip, log_cfg_info)) return false;
  } else {
    return false;
  }
  g_started = true;
  return true;
}

void KestoSdkStop(void) {
  if (!g_started) return;
  LoggerManager::GetInstance().Uninit();
  // The device manager closes its sockets before the socket library is released: Winsock
  // resets every socket still open at its clean-up, under IO threads still selecting on them.
  DeviceManager::GetInstance().Stop();
  kesto::platform::SocketCleanup();
  DataHandler::GetInstance().Clear();
  GeneralCommandHandler::GetInstance().Destroy();
  kesto::lidar::log::Drop();
  g_started = false;
}

void SetPointCloudObserver(KestoLidarDataObserver cb, void* client_data) {
  DataHandler::GetInstance().SetPointCloudObserver(cb, client_data);
}

void SetImuDataObserver(KestoLidarDataObserver cb, void* client_data) {
  DataHandler::GetInstance().SetImuDataObserver(cb, client_data);
}

void SetPushMessageObserver(KestoLidarPushMessageObserver cb, void* client_data) {
  GeneralCommandHandler::GetInstance().SetPushMessageObserver(cb, client_data);
}

void SetInfoChangeObserver(KestoLidarInfoChangeObserver cb, void* client_data) {
  GeneralCommandHandler::GetInstance().SetInfoChangeObserver(cb, client_data);
}

kesto_status RequestPointDataType(uint32_t handle, int data_type, KestoLidarAsyncControlCallback cb,
                                  void* client_data) {
  return kesto::lidar::RequestPointDataType(handle, data_type, cb, client_data);
}

kesto_status RequestWorkMode(uint32_t handle, int work_mode, KestoLidarAsyncControlCallback cb,
                             void* client_data) {
  return kesto::lidar::RequestWorkMode(handle, work_mode, cb, client_data);
}

kesto_status QueryKestoLidarInternalInfo(uint32_t handle, KestoLidarInternalInfoCallback cb,
                                         void* client_data) {
  return kesto::lidar::QueryKestoLidarInternalInfo(handle, cb, client_data);
}
