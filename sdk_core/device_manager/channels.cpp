// The device manager's channels: opening each UDP socket once per "ip:port" key, registering it
// with its IO thread, and sending commands on them. Channels are opened by the application
// thread (Init) and by the IO thread that handles a discovery or internal-info reply; sends come
// from any thread.
#include <string>

#include "device_manager.h"
#include "kit_log.h"
#include "logger_manager.h"
#include "socket_util.h"

namespace kesto::lidar {

namespace {

constexpr uint16_t kDetectionPort = 56000;
constexpr uint16_t kFixedCommandPort = 42867;
constexpr uint16_t kDebugPointCloudPort = 44332;
constexpr uint8_t kDevTypeWithFixedPort = 16;

// "local" in a configuration entry means every interface.
std::string LocalAddressOf(const std::string& host_ip) {
  return host_ip == "local" ? std::string() : host_ip;
}

}  // namespace

std::string DeviceManager::ChannelKey(const std::string& ip, uint16_t port) {
  return ip + ":" + std::to_string(port);
}

bool DeviceManager::OpenChannelLocked(const std::string& key, const std::string& local_address,
                                      uint16_t port, bool broadcast,
                                      const std::string& multicast_ip, bool is_command,
                                      const std::shared_ptr<IOThread>& thread, int& opened) {
  opened = -1;
  // Stop is tearing the channels down; what it has not seen must not be opened.
  if (stopping_) return true;
  auto existing = socket_table_.find(key);
  if (existing != socket_table_.end()) {
    if (is_command) command_table_.emplace(key, existing->second);
    return true;
  }
  const int fd = OpenUdpSocket(port, true, true, broadcast, local_address,
                               broadcast ? std::string() : multicast_ip);
  if (fd < 0) return false;
  sockets_.push_back(fd);
  socket_table_[key] = fd;
  if (is_command) {
    command_sockets_.insert(fd);
    command_table_[key] = fd;
  } else {
    data_sockets_.insert(fd);
  }
  // Registered under the lock: Stop's removals, posted after it takes the lock, then reach the
  // loop after this registration.
  Register(thread, fd, !is_command);
  opened = fd;
  return true;
}

char DeviceManager::data_channel_tag_ = 0;

void DeviceManager::Register(const std::shared_ptr<IOThread>& thread, int fd, bool data_channel) {
  if (!thread) return;
  void* tag = data_channel ? &data_channel_tag_ : nullptr;
  if (std::shared_ptr<IOLoop> loop = thread->GetLoop().lock()) loop->AddDelegate(fd, this, tag);
}

bool DeviceManager::CreateChannel() {
  if (!CreateDetectionChannel()) {
    KESTO_LOG_ERROR("Create detection channel failed.");
    return false;
  }
  LidarCfgList entries;
  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    if (custom_lidars_cfg_) entries = *custom_lidars_cfg_;
  }
  for (const KestoLidarCfg& cfg : entries) {
    if (!CreateDataChannel(cfg.host_net_info)) {
      KESTO_LOG_ERROR("Create data channel failed.");
      return false;
    }
    if (!CreateCommandChannel(cfg.dev_type, cfg.host_net_info)) {
      KESTO_LOG_ERROR("Create command channel failed.");
      return false;
    }
  }
  return true;
}

bool DeviceManager::CreateDetectionChannel() {
  std::lock_guard<std::mutex> lock(channels_mutex_);
  // The host address as it stands: "local" is not special for discovery.
  const int fd = OpenUdpSocket(kDetectionPort, true, true, true, host_ip_, std::string());
  if (fd < 0) {
    KESTO_LOG_ERROR("Create detection socket failed.");
    return false;
  }
  detection_socket_ = fd;
  Register(detection_io_thread_, fd, false);
  const std::string key = ChannelKey(host_ip_, kDetectionPort);
  socket_table_[key] = fd;
  command_table_.emplace(key, fd);
  return true;
}

bool DeviceManager::CreateDataChannel(const HostNetInfo& host_net_info) {
  if (!CreateDataSocketAndAddDelegate(host_net_info, host_net_info.point_data_port,
                                      host_net_info.multicast_ip) ||
      !CreateDataSocketAndAddDelegate(host_net_info, host_net_info.imu_data_port,
                                      host_net_info.multicast_ip)) {
    KESTO_LOG_ERROR("Create socket and add delegate failed.");
    return false;
  }
  if (!CreateDataSocketAndAddDelegate(host_net_info, kDebugPointCloudPort,
                                      host_net_info.multicast_ip)) {
    KESTO_LOG_ERROR("Create debug point cloud socket and add delegate failed.");
    return false;
  }
  return true;
}

bool DeviceManager::CreateDataSocketAndAddDelegate(const HostNetInfo& host_net_info,
                                                   uint16_t port,
                                                   const std::string& multicast_ip) {
  const std::string& host_ip = host_net_info.host_ip;
  if (host_ip.empty() || port == 0 || port == kDetectionPort) return true;
  bool ok = false;
  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    int opened = -1;
    ok = OpenChannelLocked(ChannelKey(host_ip, port), LocalAddressOf(host_ip), port, false,
                           multicast_ip, false, data_io_thread_, opened);
  }
  if (!ok) {
    KESTO_LOG_ERROR("Add command channel faileld, can not create socket, the ip {} port {}",
                    host_ip, port);
  }
  return ok;
}

bool DeviceManager::CreateCommandChannel(uint8_t dev_type, const HostNetInfo& host_net_info) {
  bool ok = true;
  if (master_sdk_.load()) {
    ok = CreateCmdSocketAndAddDelegate(dev_type, host_net_info, host_net_info.cmd_data_port);
  }
  ok = ok && CreateCmdSocketAndAddDelegate(dev_type, host_net_info, host_net_info.push_msg_port);
  if (ok && dev_type == kDevTypeWithFixedPort) {
    ok = CreateCmdSocketAndAddDelegate(dev_type, host_net_info, kFixedCommandPort);
  }
  if (ok && logger_.IsEnabled()) {
    ok = CreateCmdSocketAndAddDelegate(dev_type, host_net_info, host_net_info.log_data_port);
  }
  if (!ok) KESTO_LOG_ERROR("Create socket and add delegate failed.");
  return ok;
}

bool DeviceManager::CreateCmdSocketAndAddDelegate(uint8_t dev_type,
                                                  const HostNetInfo& host_net_info,
                                                  uint16_t port) {
  const std::string& host_ip = host_net_info.host_ip;
  if (host_ip.empty() || port == 0) return true;
  bool ok = false;
  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    int opened = -1;
    ok = OpenChannelLocked(ChannelKey(host_ip, port), LocalAddressOf(host_ip), port, true,
                           std::string(), true, command_io_thread_, opened);
  }
  if (!ok) {
    KESTO_LOG_ERROR(
        "Add command channel faileld, can not create socket, dev_type:{}, the ip {} port {}",
        dev_type, host_ip, port);
  }
  return ok;
}

bool DeviceManager::ChannelOfLidar(uint32_t handle, bool log_port, int& socket) {
  std::lock_guard<std::mutex> lock(channels_mutex_);
  auto lidar = lidar_cfgs_.find(handle);
  if (lidar == lidar_cfgs_.end()) return false;
  const HostNetInfo& host = lidar->second.host_net_info;
  auto channel =
      command_table_.find(ChannelKey(host.host_ip, log_port ? host.log_data_port : host.cmd_data_port));
  if (channel == command_table_.end()) return false;
  socket = channel->second;
  return true;
}

bool DeviceManager::GetCmdChannel(uint32_t handle, int& socket) {
  return ChannelOfLidar(handle, false, socket);
}

bool DeviceManager::GetLogChannel(uint32_t handle, int& socket) {
  return ChannelOfLidar(handle, true, socket);
}

int DeviceManager::SendOn(std::mutex& send_lock, int socket, const uint8_t* data, size_t length,
                          uint32_t dest_ip, uint16_t dest_port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(dest_port);
  to.sin_addr.s_addr = dest_ip;
  std::lock_guard<std::mutex> lock(send_lock);
  return platform::SocketSendTo(socket, data, static_cast<int>(length), to);
}

int DeviceManager::SendCommand(uint8_t /*dev_type*/, uint32_t handle, const uint8_t* data,
                               size_t length, uint32_t dest_ip, uint16_t dest_port) {
  int socket = -1;
  if (!GetCmdChannel(handle, socket)) {
    KESTO_LOG_WARN("Get cmd channel faileld, the lidar handle: {}", handle);
    socket = detection_socket_.load();
  }
  return SendOn(command_send_mutex_, socket, data, length, dest_ip, dest_port);
}

int DeviceManager::SendLogCommand(uint8_t /*dev_type*/, uint32_t handle, const uint8_t* data,
                                  size_t length, uint32_t dest_ip, uint16_t dest_port) {
  int socket = -1;
  if (!GetLogChannel(handle, socket)) socket = detection_socket_.load();
  return SendOn(log_send_mutex_, socket, data, length, dest_ip, dest_port);
}

int DeviceManager::SocketOfChannel(const std::string& key) const {
  std::lock_guard<std::mutex> lock(channels_mutex_);
  auto it = socket_table_.find(key);
  return it == socket_table_.end() ? -1 : it->second;
}

size_t DeviceManager::SocketCount() const {
  std::lock_guard<std::mutex> lock(channels_mutex_);
  return sockets_.size();
}

}  // namespace kesto::lidar
