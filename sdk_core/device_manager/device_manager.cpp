// The device manager's life: the two Init variants, its IO threads, and Stop. Application
// thread, except where a function says otherwise.
#include "device_manager.h"

#include <cstring>
#include <utility>

#include "data_handler.h"
#include "general_command_handler.h"
#include "handle_text.h"
#include "kit_log.h"
#include "logger_manager.h"
#include "sdk_protocol.h"
#include "socket_util.h"

namespace kesto::lidar {

DeviceManager& DeviceManager::GetInstance() {
  static DeviceManager instance;
  return instance;
}

// The accessors run before this object's construction completes, so the three instances are
// destroyed after it, once its IO threads are joined.
DeviceManager::DeviceManager()
    : DeviceManager(DataHandler::GetInstance(), GeneralCommandHandler::GetInstance(),
                    LoggerManager::GetInstance()) {}

DeviceManager::DeviceManager(DataHandler& data, GeneralCommandHandler& general,
                             LoggerManager& logger)
    : data_(data), general_(general), logger_(logger) {}

// At process exit the kit may never have been stopped. The log capture is stopped first, as the
// kit's stop does, because its stop commands leave through this object; then Stop leaves no
// callback running, the command machinery forgets this object, and the IO threads are joined as
// the members go.
DeviceManager::~DeviceManager() {
  logger_.Uninit();
  Stop();
  general_.Destroy();
}

bool DeviceManager::HoldsChannels() const {
  std::lock_guard<std::mutex> lock(channels_mutex_);
  return !socket_table_.empty() || !sockets_.empty() || detection_socket_.load() > 0 ||
         detection_thread_ != nullptr;
}

bool DeviceManager::Init(std::shared_ptr<LidarCfgList> lidars_cfg,
                         std::shared_ptr<LidarCfgList> custom_lidars_cfg,
                         std::shared_ptr<KestoLidarLoggerCfg> lidar_logger_cfg_ptr,
                         std::shared_ptr<KestoLidarSdkFrameworkCfg> sdk_framework_cfg) {
  // A failed Init leaves what it made in place and the kit's stop does not undo it (the kit
  // never started): a new Init clears it first, so no socket stays served by a replaced loop.
  if (HoldsChannels()) Stop();
  view_mode_ = false;
  if (!lidars_cfg) lidars_cfg = std::make_shared<LidarCfgList>();
  if (!custom_lidars_cfg) custom_lidars_cfg = std::make_shared<LidarCfgList>();
  logger_cfg_ = lidar_logger_cfg_ptr;
  framework_cfg_ = sdk_framework_cfg;
  master_sdk_ = !framework_cfg_ || framework_cfg_->master_sdk;
  if (lidars_cfg->empty() && custom_lidars_cfg->empty()) {
    KESTO_LOG_ERROR("Device manager init failed, can not find cmd host ip.");
    return false;
  }
  const std::string host_ip = !lidars_cfg->empty() ? lidars_cfg->front().host_net_info.host_ip
                                                   : custom_lidars_cfg->front().host_net_info.host_ip;
  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    lidars_cfg_ = lidars_cfg;
    custom_lidars_cfg_ = custom_lidars_cfg;
    host_ip_ = host_ip;
    stopping_ = false;
  }
  host_handle_ = TextToHandle(host_ip);
  codec_ = std::make_unique<SdkProtocol>();

  if (!lidar_logger_cfg_ptr) {
    KESTO_LOG_ERROR("lidar_logger_cfg_ptr is nullptr.");
    return false;
  }
  if (!logger_.Init(lidar_logger_cfg_ptr, &general_)) {
    KESTO_LOG_ERROR("Logger manager init failed.");
    return false;
  }
  if (!general_.Init(custom_lidars_cfg, this)) {
    KESTO_LOG_ERROR("General command handle init failed.");
    return false;
  }
  if (!data_.Init()) {
    KESTO_LOG_ERROR("Data handle init failed.");
    return false;
  }
  BuildCfgTables();
  if (!CreateIOThread()) {
    KESTO_LOG_ERROR("Create IO thread failed.");
    return false;
  }
  if (!CreateChannel()) {
    KESTO_LOG_ERROR("Create channel failed.");
    return false;
  }
  if (!StartDetection()) return false;
  KESTO_LOG_INFO("Init kesto lidars succ.");
  return true;
}

bool DeviceManager::Init(const std::string& host_ip, const KestoLidarLoggerCfgInfo* log_cfg_info) {
  if (HoldsChannels()) Stop();
  view_mode_ = true;
  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    host_ip_ = host_ip;
    stopping_ = false;
  }
  host_handle_ = TextToHandle(host_ip);
  master_sdk_ = true;
  codec_ = std::make_unique<SdkProtocol>();

  auto logger_cfg = std::make_shared<KestoLidarLoggerCfg>();
  if (log_cfg_info != nullptr) {
    logger_cfg->lidar_log_enable = log_cfg_info->lidar_log_enable != 0;
    logger_cfg->lidar_log_cache_size = log_cfg_info->lidar_log_cache_size;
    // The caller's path need not be terminated inside its field: take at most the field.
    const char* path = log_cfg_info->lidar_log_path;
    logger_cfg->lidar_log_path.assign(path, strnlen(path, sizeof(log_cfg_info->lidar_log_path)));
  }
  logger_cfg_ = logger_cfg;
  if (!logger_.Init(logger_cfg, &general_)) {
    KESTO_LOG_ERROR("Logger manager init failed.");
    return false;
  }
  if (!general_.InitHostIpMode(host_ip, 1, this)) {
    KESTO_LOG_ERROR("General command handle init failed.");
    return false;
  }
  if (!data_.Init()) {
    KESTO_LOG_ERROR("Data handle init failed.");
    return false;
  }
  if (!CreateIOThread()) {
    KESTO_LOG_ERROR("Create IO thread failed.");
    return false;
  }
  if (!CreateDetectionChannel()) {
    KESTO_LOG_ERROR("Create detection channel failed.");
    return false;
  }
  return StartDetection();
}

void DeviceManager::BuildCfgTables() {
  std::lock_guard<std::mutex> lock(channels_mutex_);
  model_cfgs_.clear();
  for (const KestoLidarCfg& cfg : *lidars_cfg_) model_cfgs_[cfg.dev_type] = cfg;
  lidar_cfgs_.clear();
  routes_.clear();
  for (const KestoLidarCfg& cfg : *custom_lidars_cfg_) {
    const uint32_t handle = TextToHandle(cfg.lidar_ip);
    lidar_cfgs_[handle] = cfg;
    routes_[handle] = Route{cfg.dev_type, cfg.lidar_net_info};
  }
}

bool DeviceManager::CreateIOThread() {
  if (!CreateDetectionIOThread()) {
    KESTO_LOG_ERROR("Device manager init failed, create detection io thread failed.");
    return false;
  }
  if (!CreateCommandIOThread()) {
    KESTO_LOG_ERROR("Device manager init failed, create comman io thread failed.");
    return false;
  }
  if (!CreateDataIOThread()) {
    KESTO_LOG_ERROR("Device manager init failed, create data io thread failed.");
    return false;
  }
  return true;
}

// Replacing a thread destroys the previous one, which joins it; it serves no socket by now
// (Stop, or this is the first Init).
bool DeviceManager::CreateIOThreadOf(std::shared_ptr<IOThread>& thread) {
  auto fresh = std::make_shared<IOThread>();
  const bool ok = fresh->Init(true, false) && fresh->Start();
  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    thread.swap(fresh);
  }
  return ok;
}

bool DeviceManager::CreateDetectionIOThread() {
  if (!CreateIOThreadOf(detection_io_thread_)) {
    KESTO_LOG_ERROR("Create command io thread failed, thread_ptr is nullptr or thread init failed");
    return false;
  }
  return true;
}

bool DeviceManager::CreateCommandIOThread() {
  if (!CreateIOThreadOf(command_io_thread_)) {
    KESTO_LOG_ERROR("Create command io thread failed, thread_ptr is nullptr or thread init failed");
    return false;
  }
  return true;
}

bool DeviceManager::CreateDataIOThread() {
  if (!CreateIOThreadOf(data_io_thread_)) {
    KESTO_LOG_ERROR("Create command io thread failed, thread_ptr is nullptr or thread init failed");
    return false;
  }
  return true;
}

void DeviceManager::Stop() {
  std::set<int> command_sockets;
  std::set<int> data_sockets;
  {
    // From here on no channel is opened, so the sets copied below are complete.
    std::lock_guard<std::mutex> lock(channels_mutex_);
    stopping_ = true;
    host_ip_.clear();
    command_sockets = command_sockets_;
    data_sockets = data_sockets_;
  }
  host_handle_ = 0xFFFFFFFFu;

  const auto remove_all = [](const std::shared_ptr<IOThread>& thread, const std::set<int>& fds) {
    if (!thread) return;
    if (std::shared_ptr<IOLoop> loop = thread->GetLoop().lock()) {
      for (int fd : fds) loop->RemoveDelegate(fd);
    }
  };
  const int detection = detection_socket_.load();
  if (detection > 0) remove_all(detection_io_thread_, {detection});
  remove_all(command_io_thread_, command_sockets);
  remove_all(data_io_thread_, data_sockets);
  // Each loop applies the removals before the barrier task, and the barrier also waits out a
  // datagram being handled: after these, no OnData or OnTick runs or can start.
  for (const auto& thread : {detection_io_thread_, command_io_thread_, data_io_thread_}) {
    if (thread) thread->Barrier();
  }

  std::vector<int> sockets;
  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    sockets.swap(sockets_);
  }
  for (int fd : sockets) CloseSocket(fd);

  StopDetection();

  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    lidars_cfg_.reset();
    custom_lidars_cfg_.reset();
    model_cfgs_.clear();
    lidar_cfgs_.clear();
    routes_.clear();
    socket_table_.clear();
    command_table_.clear();
    command_sockets_.clear();
    data_sockets_.clear();
  }
  codec_.reset();
  logger_cfg_.reset();
  framework_cfg_.reset();
  master_sdk_ = true;
  is_stop_detection_ = true;
  {
    std::lock_guard<std::mutex> lock(detected_type_mutex_);
    detected_types_.clear();
  }
  {
    std::lock_guard<std::mutex> lock(pending_view_mutex_);
    pending_view_lidars_.clear();
  }
  {
    std::lock_guard<std::mutex> lock(view_lidar_mutex_);
    view_lidars_.clear();
  }
  view_mode_ = false;
  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    host_ip_.clear();
    stopping_ = false;
  }
}

bool DeviceManager::IsMasterSdk() const { return master_sdk_.load(); }

void DeviceManager::AddLoggerDevice(uint32_t handle, const DetectionData& data) {
  logger_.AddDevice(handle, data);
}

// Every IO thread, once per registered socket and tick.
void DeviceManager::OnTick(TimePoint now) { general_.CheckCommandTimeout(now); }

}  // namespace kesto::lidar
