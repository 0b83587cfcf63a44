// The receive path of every datagram: one receive per readiness into the IO thread's buffer,
// then routing by the sender's address and source port to the log capture, the data handler or
// the general command handler. Also turns the first discovery reply of a lidar of a configured
// model into a per-lidar entry with its channels. IO threads.
#include <cstring>

#include "data_handler.h"
#include "device_manager.h"
#include "general_command_handler.h"
#include "handle_text.h"
#include "kit_log.h"
#include "logger_manager.h"
#include "parse_frame.h"
#include "socket_util.h"

namespace kesto::lidar {

namespace {

constexpr uint16_t kDetectionPort = 56000;
constexpr uint16_t kUpgradePort = 10001;

bool IsLogSourcePort(uint16_t port) { return port == 1002 || port == 56500 || port == 59000; }

const KestoLidarEthernetPacket* AsPacket(const uint8_t* buf) {
  return reinterpret_cast<const KestoLidarEthernetPacket*>(buf);
}

}  // namespace

void DeviceManager::OnData(int fd, void* client_data) {
  // One buffer per IO thread, reused for every datagram. The data path reads a whole packet's
  // span whatever arrived, so the bytes after a short datagram are zeroed: nothing of an earlier
  // datagram, and nothing uninitialised, reaches an observer.
  alignas(8) static thread_local uint8_t buffer[kReceiveBufferSize];
  sockaddr_in from{};
  platform::SockLen from_length = sizeof(from);
  const int received = ReceiveFrom(fd, buffer, kReceiveBufferSize, &from, &from_length);
  if (received <= 0) return;
  if (received < kDataReadSpan) std::memset(buffer + received, 0, kDataReadSpan - received);
  OnData(from.sin_addr.s_addr, ntohs(from.sin_port), buffer, static_cast<uint32_t>(received),
         client_data == &data_channel_tag_ ? ReceivedOn::kDataChannel : ReceivedOn::kOtherChannel);
}

bool DeviceManager::FindRoute(uint32_t handle, Route& route) {
  std::lock_guard<std::mutex> lock(channels_mutex_);
  auto it = routes_.find(handle);
  if (it == routes_.end()) return false;
  route = it->second;
  return true;
}

void DeviceManager::OnData(uint32_t handle, uint16_t port, const uint8_t* buf, uint32_t size,
                           ReceivedOn received_on) {
  if (buf == nullptr || size == 0) return;
  // Point and IMU data that reached a command or detection socket are dropped rather than handed
  // to the data handler on that socket's thread: the application's data observers (the bridge's
  // block writers) rely on running on the data IO thread only, never two at a time.
  const bool data_allowed = received_on == ReceivedOn::kDataChannel;
  // The host's own broadcast comes back on the detection socket.
  if (handle == host_handle_.load()) return;
  if (IsLogSourcePort(port)) logger_.Handler(handle, port, buf, size);

  if (view_mode_.load()) {
    std::shared_ptr<ViewLidarIpInfo> info = FindViewLidar(handle);
    if (!info) {
      general_.Handler(handle, port, buf, size);
    } else if (port == info->lidar_point_data_port || port == info->lidar_imu_data_port) {
      if (data_allowed) data_.Handle(info->dev_type, handle, AsPacket(buf));
    } else {
      general_.Handler(info->dev_type, handle, port, buf, size);
    }
    return;
  }

  Route route;
  if (FindRoute(handle, route)) {
    const LidarNetInfo& lidar = route.lidar;
    if (port == lidar.point_data_port || port == lidar.imu_data_port) {
      if (data_allowed) data_.Handle(route.dev_type, handle, AsPacket(buf));
    } else if (port == kDetectionPort || port == lidar.cmd_data_port ||
               port == lidar.push_msg_port || port == lidar.log_data_port ||
               port == kUpgradePort) {
      general_.Handler(route.dev_type, handle, port, buf, size);
    }
    return;
  }
  if (port != kDetectionPort) return;

  switch (AddDetectedLidar(handle, buf, size)) {
    case NewLidar::kParseFailed:
      KESTO_LOG_INFO("Parse Command Stream failed.");
      break;
    case NewLidar::kDataChannelFailed:
      KESTO_LOG_ERROR("Create data channel failed.");
      break;
    case NewLidar::kCommandChannelFailed:
      KESTO_LOG_ERROR("Create command channel failed.");
      break;
    case NewLidar::kIgnored:
    case NewLidar::kAdded:
      break;
  }
}

DeviceManager::NewLidar DeviceManager::AddDetectedLidar(uint32_t handle, const uint8_t* buf,
                                                        uint32_t size) {
  ProtocolCommand command;
  // The codec lives until Stop, which first makes sure no datagram is being routed.
  if (!codec_ || !ParseFrame(*codec_, buf, size, command)) return NewLidar::kParseFailed;
  if (command.cmd_id != 0x0000 || command.data == nullptr || command.data_len < 2 ||
      command.data[0] != 0) {
    return NewLidar::kIgnored;
  }
  const uint8_t dev_type = command.data[1];

  LidarCfgList entries;
  {
    std::lock_guard<std::mutex> lock(channels_mutex_);
    if (stopping_ || !custom_lidars_cfg_) return NewLidar::kIgnored;
    auto model = model_cfgs_.find(dev_type);
    if (model == model_cfgs_.end()) return NewLidar::kIgnored;
    // Two IO threads may carry a first reply of the same lidar; the first one adds it.
    if (lidar_cfgs_.count(handle) != 0) return NewLidar::kIgnored;
    KestoLidarCfg cfg = model->second;
    cfg.lidar_ip = HandleToText(handle);
    lidar_cfgs_[handle] = cfg;
    routes_[handle] = Route{cfg.dev_type, cfg.lidar_net_info};
    custom_lidars_cfg_->push_back(cfg);
    // The walk below and the general handler work on a copy: another IO thread may append.
    entries = *custom_lidars_cfg_;
  }
  general_.Init(std::make_shared<LidarCfgList>(entries), this);
  general_.CreateCommandHandler(dev_type);
  // Keys that already have a socket are skipped, so only the new lidar's channels open.
  for (const KestoLidarCfg& cfg : entries) {
    if (!CreateDataChannel(cfg.host_net_info)) return NewLidar::kDataChannelFailed;
    if (!CreateCommandChannel(cfg.dev_type, cfg.host_net_info)) {
      return NewLidar::kCommandChannelFailed;
    }
  }
  return NewLidar::kAdded;
}

}  // namespace kesto::lidar
