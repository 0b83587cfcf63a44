// The device manager's channels: opening each UDP socket once per "ip:port" key, registering it
// with its IO thread, and sending commands on them. Channels are opened by the application
// thread (Init) and by the IO thread that handles a discovery or internal-info reply; sends come
// from any thread.
#include <string>

#include "device_manager.h"
#include "handle_text.h"
#include "kit_log.h"
#include "lidar_directory.h"
#include "logger_manager.h"
#include "model_table.h"
#include "socket_util.h"

namespace kesto::lidar {

namespace {

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
    PrepareDataSocketLocked(fd);
  }
  // Registered under the lock: Stop's removals, posted after it takes the lock, then reach the
  // loop after this registration.
  Register(thread, fd, is_command ? &command_context_ : &data_context_);
  opened = fd;
  return true;
}

void DeviceManager::PrepareDataSocketLocked(int fd) {
  platform::SocketSetOption(fd, SOL_SOCKET, SO_RCVBUF, kDataReceiveBuffer);
  int granted = 0;
  platform::SocketGetOption(fd, SOL_SOCKET, SO_RCVBUF, &granted);
  const bool counted = platform::SocketCountDrops(fd);
  if (receive_buffer_told_) return;
  receive_buffer_told_ = true;
  KESTO_LOG_INFO("Data socket receive buffer: {} bytes asked, {} granted; datagrams the system "
                 "drops for a full buffer are {}.",
                 kDataReceiveBuffer, granted, counted ? "counted" : "not told on this system");
}

void DeviceManager::Register(const std::shared_ptr<IOThread>& thread, int fd,
                             ReceiveContext* context) {
  if (!thread) return;
  if (std::shared_ptr<IOLoop> loop = thread->GetLoop().lock()) {
    loop->AddDelegate(fd, this, context);
  }
}

bool DeviceManager::CreateChannel() {
  if (!CreateDetectionChannel()) {
    KESTO_LOG_ERROR("Create detection channel failed.");
    return false;
  }
  for (const KestoLidarCfg& cfg : directory_.CustomCfgs()) {
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
  const int fd = OpenUdpSocket(kDiscoveryPort, true, true, true, host_ip_, std::string());
  if (fd < 0) {
    KESTO_LOG_ERROR("Create detection socket failed.");
    return false;
  }
  detection_socket_ = fd;
  Register(detection_io_thread_, fd, &detection_context_);
  const std::string key = ChannelKey(host_ip_, kDiscoveryPort);
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
  if (host_ip.empty() || port == 0 || port == kDiscoveryPort) return true;
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
  const LidarModel* model = FindModel(dev_type);
  if (ok && model != nullptr && model->fixed_host_cmd_port != 0) {
    ok = CreateCmdSocketAndAddDelegate(dev_type, host_net_info, model->fixed_host_cmd_port);
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

bool DeviceManager::LidarChannel(uint32_t handle, bool log_port, int& socket) {
  HostNetInfo host;
  if (!directory_.HostOf(handle, host)) return false;
  std::lock_guard<std::mutex> lock(channels_mutex_);
  auto channel = command_table_.find(
      ChannelKey(host.host_ip, log_port ? host.log_data_port : host.cmd_data_port));
  if (channel == command_table_.end()) return false;
  socket = channel->second;
  return true;
}

bool DeviceManager::GetCmdChannel(uint32_t handle, int& socket) {
  return LidarChannel(handle, false, socket);
}

bool DeviceManager::GetLogChannel(uint32_t handle, int& socket) {
  return LidarChannel(handle, true, socket);
}

int DeviceManager::ChannelOfLidar(uint32_t handle, bool log_port) {
  int socket = -1;
  if (LidarChannel(handle, log_port, socket)) return socket;
  if (!log_port) KESTO_LOG_WARN("Get cmd channel faileld, the lidar handle: {}", handle);
  return detection_socket_.load();
}

int DeviceManager::SendOn(std::mutex& send_lock, uint32_t handle, bool log_port,
                          const uint8_t* data, size_t length, uint32_t dest_ip,
                          uint16_t dest_port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(dest_port);
  to.sin_addr.s_addr = dest_ip;
  // Held from the look-up until the datagram is out, so Stop never closes (and the system never
  // reuses) the descriptor under this send.
  std::shared_lock<std::shared_mutex> open(close_mutex_);
  const int socket = ChannelOfLidar(handle, log_port);
  if (socket < 0) return -1;
  std::lock_guard<std::mutex> lock(send_lock);
  const int sent = platform::SocketSendTo(socket, data, static_cast<int>(length), to);
  if (sent >= 0 && Recording()) RecordDatagram(socket, false, dest_ip, dest_port, data, length);
  return sent;
}

int DeviceManager::SendCommand(uint8_t /*dev_type*/, uint32_t handle, const uint8_t* data,
                               size_t length, uint32_t dest_ip, uint16_t dest_port) {
  return SendOn(command_send_mutex_, handle, false, data, length, dest_ip, dest_port);
}

int DeviceManager::SendLogCommand(uint8_t /*dev_type*/, uint32_t handle, const uint8_t* data,
                                  size_t length, uint32_t dest_ip, uint16_t dest_port) {
  return SendOn(log_send_mutex_, handle, true, data, length, dest_ip, dest_port);
}

// View mode: a view lidar's internal information names the host ports it streams to.
void DeviceManager::CreateViewDataChannel(const ViewLidarIpInfo& info) {
  for (const uint16_t port : {info.host_point_data_port, info.host_imu_data_port}) {
    // A port the lidar did not report would bind a system-chosen port nobody sends to.
    if (port == 0) continue;
    bool ok = false;
    bool shared = false;
    {
      std::lock_guard<std::mutex> lock(channels_mutex_);
      const std::string key = ChannelKey(info.host_ip, port);
      // Another host chose the port; on one of this kit's command sockets the stream would be
      // dropped as stray data, so say so rather than lose it silently.
      shared = command_table_.count(key) != 0;
      int opened = -1;
      // The view host's address as it stands: "local" is not special here.
      if (!shared) {
        ok = OpenChannelLocked(key, info.host_ip, port, true, std::string(), false,
                               data_io_thread_, opened);
      }
    }
    if (shared) {
      KESTO_LOG_ERROR(
          "View lidar {} streams to host port {}, which is also a command or discovery port of "
          "this host: its data is not delivered.",
          HandleToText(info.handle), port);
      continue;
    }
    if (!ok) {
      KESTO_LOG_ERROR(
          "Create View point data channel faileld, can not create socket, the ip {} port {}",
          info.host_ip, port);
    }
  }
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
