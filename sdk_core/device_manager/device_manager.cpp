// The device manager's life: the two Init variants, its IO threads, and Stop. Application
// thread, except where a function says otherwise.
#include "device_manager.h"

#include <cstring>
#include <utility>

#include "data_handler.h"
#include "general_command_handler.h"
#include "handle_text.h"
#include "kit_log.h"
#include "lidar_directory.h"
#include "lidar_setup.h"
#include "logger_manager.h"
#include "model_table.h"
#include "sdk_protocol.h"
#include "socket_util.h"

namespace kesto::lidar {

DeviceManager::DeviceManager(DataHandler& data, LidarDirectory& directory, LidarSetup& setup,
                             GeneralCommandHandler& general, LoggerManager& logger,
                             SessionRecorder* recorder)
    : data_(data),
      directory_(directory),
      setup_(setup),
      general_(general),
      logger_(logger),
      recorder_(recorder),
      codec_(std::make_unique<SdkProtocol>()) {
  data_context_.kind = ReceivedOn::kDataChannel;
  data_context_.batch.resize(size_t{kReceiveBatch} * kReceiveBufferSize);
}

DeviceManager::~DeviceManager() { Stop(); }

bool DeviceManager::HoldsChannels() const {
  std::lock_guard<std::mutex> lock(channels_mutex_);
  return !socket_table_.empty() || !sockets_.empty() || detection_socket_.load() >= 0 ||
         detection_thread_ != nullptr;
}

bool DeviceManager::Init(std::shared_ptr<LidarCfgList> lidars_cfg,
                         std::shared_ptr<LidarCfgList> custom_lidars_cfg,
                         std::shared_ptr<KestoLidarLoggerCfg> lidar_logger_cfg_ptr,
                         std::shared_ptr<KestoLidarSdkFrameworkCfg> sdk_framework_cfg) {
  // A failed Init leaves what it made in place: a new Init clears it first, so no socket stays
  // served by a replaced loop.
  if (HoldsChannels()) Stop();
  if (!lidars_cfg) lidars_cfg = std::make_shared<LidarCfgList>();
  if (!custom_lidars_cfg) custom_lidars_cfg = std::make_shared<LidarCfgList>();
  master_sdk_ = !sdk_framework_cfg || sdk_framework_cfg->master_sdk;
  if (lidars_cfg->empty() && custom_lidars_cfg->empty()) {
    KESTO_LOG_ERROR("Device manager init failed, can not find cmd host ip.");
    return false;
  }
  if (!DataPortsStandAlone(*lidars_cfg, *custom_lidars_cfg)) return false;
  const std::string host_ip = !lidars_cfg->empty() ? lidars_cfg->front().host_net_info.host_ip
                                                   : custom_lidars_cfg->front().host_net_info.host_ip;
  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    host_ip_ = host_ip;
    stopping_ = false;
  }
  host_handle_ = TextToHandle(host_ip);

  if (!lidar_logger_cfg_ptr) {
    KESTO_LOG_ERROR("lidar_logger_cfg_ptr is nullptr.");
    return false;
  }
  if (!logger_.Init(lidar_logger_cfg_ptr, &general_)) {
    KESTO_LOG_ERROR("Logger manager init failed.");
    return false;
  }
  DirectorySettings settings;
  settings.view_mode = false;
  settings.master = master_sdk_.load();
  settings.host_ip = host_ip;
  settings.model_cfgs = *lidars_cfg;
  settings.custom_cfgs = *custom_lidars_cfg;
  directory_.Start(std::move(settings));
  return StartChannels(true);
}

// A host data port shared with a command, push, log or discovery port would bring the lidar's
// stream in on a command socket, where it cannot be told from stray datagrams: refused, with
// one line that names the port.
bool DeviceManager::DataPortsStandAlone(const LidarCfgList& models, const LidarCfgList& custom) {
  std::set<uint16_t> other_ports = {kDiscoveryPort};
  for (const LidarCfgList* list : {&models, &custom}) {
    for (const KestoLidarCfg& cfg : *list) {
      const HostNetInfo& host = cfg.host_net_info;
      for (uint16_t port : {host.cmd_data_port, host.push_msg_port, host.log_data_port}) {
        if (port != 0) other_ports.insert(port);
      }
      const LidarModel* model = FindModel(cfg.dev_type);
      if (model != nullptr && model->fixed_host_cmd_port != 0) {
        other_ports.insert(model->fixed_host_cmd_port);
      }
    }
  }
  for (const LidarCfgList* list : {&models, &custom}) {
    for (const KestoLidarCfg& cfg : *list) {
      const HostNetInfo& host = cfg.host_net_info;
      for (uint16_t port : {host.point_data_port, host.imu_data_port}) {
        if (other_ports.count(port) == 0) continue;
        KESTO_LOG_ERROR(
            "Device manager init failed, the host data port {} of device type {} is also a "
            "command, push, log or discovery port.",
            port, cfg.dev_type);
        return false;
      }
    }
  }
  return true;
}

bool DeviceManager::Init(const std::string& host_ip, const KestoLidarLoggerCfgInfo* log_cfg_info) {
  if (HoldsChannels()) Stop();
  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    host_ip_ = host_ip;
    stopping_ = false;
  }
  host_handle_ = TextToHandle(host_ip);
  master_sdk_ = true;

  auto logger_cfg = std::make_shared<KestoLidarLoggerCfg>();
  if (log_cfg_info != nullptr) {
    logger_cfg->lidar_log_enable = log_cfg_info->lidar_log_enable != 0;
    logger_cfg->lidar_log_cache_size = log_cfg_info->lidar_log_cache_size;
    // The caller's path need not be terminated inside its field: take at most the field.
    const char* path = log_cfg_info->lidar_log_path;
    logger_cfg->lidar_log_path.assign(path, strnlen(path, sizeof(log_cfg_info->lidar_log_path)));
  }
  if (!logger_.Init(logger_cfg, &general_)) {
    KESTO_LOG_ERROR("Logger manager init failed.");
    return false;
  }
  DirectorySettings settings;
  settings.view_mode = true;
  settings.master = true;
  settings.host_ip = host_ip;
  directory_.Start(std::move(settings));
  return StartChannels(false);
}

bool DeviceManager::StartChannels(bool all_channels) {
  NewSocketGeneration();
  // The IO threads are idle between runs: the data IO thread's table is touched only here.
  data_context_.drop_counts.clear();
  os_dropped_ = 0;
  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    receive_buffer_told_ = false;
  }
  if (!data_.Init()) {
    KESTO_LOG_ERROR("Data handle init failed.");
    return false;
  }
  if (!CreateIOThread()) {
    KESTO_LOG_ERROR("Create IO thread failed.");
    return false;
  }
  if (all_channels) {
    if (!CreateChannel()) {
      KESTO_LOG_ERROR("Create channel failed.");
      return false;
    }
  } else if (!CreateDetectionChannel()) {
    KESTO_LOG_ERROR("Create detection channel failed.");
    return false;
  }
  if (!StartDetection()) return false;
  if (all_channels) KESTO_LOG_INFO("Init kesto lidars succ.");
  return true;
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
    command_sockets = command_sockets_;
    data_sockets = data_sockets_;
  }
  host_handle_ = 0xFFFFFFFFu;
  // No discovery reply changes a lidar any more, and no new lidar is added.
  directory_.Clear();

  const auto remove_all = [](const std::shared_ptr<IOThread>& thread, const std::set<int>& fds) {
    if (!thread) return;
    if (std::shared_ptr<IOLoop> loop = thread->GetLoop().lock()) {
      for (int fd : fds) loop->RemoveDelegate(fd);
    }
  };
  const int detection = detection_socket_.load();
  if (detection >= 0) remove_all(detection_io_thread_, {detection});
  remove_all(command_io_thread_, command_sockets);
  remove_all(data_io_thread_, data_sockets);
  // Each loop applies the removals before the barrier task, and the barrier also waits out a
  // datagram being handled (and, on the data thread last, any copy posted to it): after these,
  // no OnData or OnTick runs or can start.
  for (const auto& thread : {detection_io_thread_, command_io_thread_, data_io_thread_}) {
    if (thread) thread->Barrier();
  }

  StopDetection();
  {
    // A send in progress finishes first; a send after this finds no socket.
    std::unique_lock<std::shared_mutex> closing(close_mutex_);
    std::vector<int> sockets;
    {
      std::lock_guard<std::mutex> lock(channels_mutex_);
      sockets.swap(sockets_);
      socket_table_.clear();
      command_table_.clear();
      command_sockets_.clear();
      data_sockets_.clear();
    }
    for (int fd : sockets) CloseSocket(fd);
    const int detection_fd = detection_socket_.exchange(-1);
    if (detection_fd >= 0) CloseSocket(detection_fd);
  }

  master_sdk_ = true;
  is_stop_detection_ = true;
  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    host_ip_.clear();
    stopping_ = false;
  }
}

// Every IO thread, once per registered socket and tick: the command time-outs, and the data
// channels of view lidars whose ports became known since.
void DeviceManager::OnTick(TimePoint now) {
  general_.CheckCommandTimeout(now);
  for (const ViewLidarIpInfo& info : directory_.TakeViewChannelsToOpen()) {
    CreateViewDataChannel(info);
  }
}

}  // namespace kesto::lidar
