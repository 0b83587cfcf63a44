// The receive path of every datagram: on a data socket, every datagram waiting (up to a batch)
// per readiness, into the data IO thread's batch buffers; on the others one receive per
// readiness into the IO thread's buffer. Then routing by the sender's address and source port
// (from the lidar directory's published routes) to the log capture, the data handler, the command machinery or, for discovery
// replies, the lidar set-up. IO threads.
#include <cstring>

#include "command_id.h"
#include "data_handler.h"
#include "device_manager.h"
#include "general_command_handler.h"
#include "handle_text.h"
#include "kit_log.h"
#include "lidar_directory.h"
#include "lidar_setup.h"
#include "logger_manager.h"
#include "model_table.h"
#include "parse_frame.h"
#include "socket_util.h"
#include "wire_text.h"

namespace kesto::lidar {

namespace {

const KestoLidarEthernetPacket* AsPacket(const uint8_t* buf) {
  return reinterpret_cast<const KestoLidarEthernetPacket*>(buf);
}

bool IsDataPort(const Route& route, uint16_t port) {
  return (route.lidar.point_data_port != 0 && port == route.lidar.point_data_port) ||
         (route.lidar.imu_data_port != 0 && port == route.lidar.imu_data_port);
}

// Whether a datagram from `port` of a routed lidar belongs to the command machinery.
bool IsCommandPort(const Route& route, uint16_t port) {
  if (port == kDiscoveryPort || port == route.lidar.cmd_data_port ||
      port == route.lidar.push_msg_port || port == route.lidar.log_data_port) {
    return true;
  }
  for (const LidarModel& model : kLidarModels) {
    if (model.upgrade_port != 0 && port == model.upgrade_port) return true;
  }
  return false;
}

}  // namespace

void DeviceManager::OnData(int fd, void* client_data) {
  if (client_data == nullptr) return;
  auto& context = *static_cast<ReceiveContext*>(client_data);
  if (context.kind == ReceivedOn::kDataChannel) {
    ReceiveBatch(fd, context);
  } else {
    ReceiveOne(fd, context);
  }
}

// The data path reads a whole packet's span whatever arrived, so the bytes after a short
// datagram are zeroed: nothing of an earlier datagram, and nothing uninitialised, reaches an
// observer.
void DeviceManager::ReceiveBatch(int fd, ReceiveContext& context) {
  platform::BatchDatagram received[kReceiveBatch];
  uint32_t* last_count = nullptr;
  for (auto& entry : context.drop_counts) {
    if (entry.first == fd) last_count = &entry.second;
  }
  if (last_count == nullptr) {
    // A data socket's first batch; it is the only allocation, once per socket.
    context.drop_counts.emplace_back(fd, 0);
    last_count = &context.drop_counts.back().second;
  }
  unsigned int os_count = *last_count;
  const int taken = platform::SocketReceiveBatch(fd, context.batch.data(), kReceiveBufferSize,
                                                 kReceiveBatch, received, &os_count);
  if (os_count != *last_count) {
    // The system's count is 32 bits and wraps; the difference is right across the wrap.
    os_dropped_.fetch_add(static_cast<uint32_t>(os_count - *last_count), std::memory_order_relaxed);
    *last_count = os_count;
  }
  for (int i = 0; i < taken; ++i) {
    uint8_t* buffer = context.batch.data() + static_cast<size_t>(i) * kReceiveBufferSize;
    const int length = received[i].length;
    if (length <= 0) continue;
    Deliver(fd, context, received[i].from, buffer, length);
  }
}

void DeviceManager::ReceiveOne(int fd, ReceiveContext& context) {
  // One buffer per IO thread, reused for every datagram.
  alignas(8) static thread_local uint8_t buffer[kReceiveBufferSize];
  sockaddr_in from{};
  platform::SockLen from_length = sizeof(from);
  const int received = ReceiveFrom(fd, buffer, kReceiveBufferSize, &from, &from_length);
  if (received > 0) Deliver(fd, context, from, buffer, received);
}

void DeviceManager::Deliver(int fd, ReceiveContext& context, const sockaddr_in& from,
                            uint8_t* buffer, int length) {
  if (Recording() && from.sin_addr.s_addr != host_handle_.load()) {
    RecordDatagram(fd, true, from.sin_addr.s_addr, ntohs(from.sin_port), buffer,
                   static_cast<size_t>(length));
  }
  if (length < kDataReadSpan) std::memset(buffer + length, 0, kDataReadSpan - length);
  Route(context, from.sin_addr.s_addr, ntohs(from.sin_port), buffer, static_cast<uint32_t>(length));
}

void DeviceManager::OnData(uint32_t handle, uint16_t port, const uint8_t* buf, uint32_t size,
                           ReceivedOn received_on) {
  std::lock_guard<std::mutex> lock(test_route_mutex_);
  test_context_.kind = received_on;
  Route(test_context_, handle, port, buf, size);
}

void DeviceManager::Route(ReceiveContext& context, uint32_t handle, uint16_t port,
                          const uint8_t* buf, uint32_t size) {
  if (buf == nullptr || size == 0) return;
  // The host's own broadcast comes back on the detection socket.
  if (handle == host_handle_.load()) return;
  if (IsLogSourcePort(port)) logger_.Handler(handle, port, buf, size);

  const RouteMap& routes = context.routes.Get(directory_.routes());
  auto found = routes.find(handle);
  if (found != routes.end()) {
    const lidar::Route& route = found->second;
    if (IsDataPort(route, port)) {
      // Data that reached a command or detection socket is not the lidar's stream (the start
      // refuses host data ports that are also command ports): the data observers run on the
      // data IO thread alone.
      if (context.kind == ReceivedOn::kDataChannel) {
        data_.Handle(route.dev_type, handle, AsPacket(buf));
      }
    } else if (IsCommandPort(route, port)) {
      RouteCommand(route.dev_type, handle, port, buf, size);
    }
    return;
  }
  if (port != kDiscoveryPort) return;
  if (directory_.view_mode()) {
    // View mode: any lidar of the host's segment that answers discovery is taken in.
    ProtocolCommand command;
    if (!ParseFrame(*codec_, buf, size, command)) {
      KESTO_LOG_INFO("Parse GeneralCommandHandler Command Stream failed.");
      return;
    }
    if (command.cmd_id == kCmdIdDiscovery && command.cmd_type != kCommandTypeCommand) {
      HandleDiscoveryReply(handle, port, command);
    }
    return;
  }
  AddDetectedLidar(handle, buf, size);
}

void DeviceManager::RouteCommand(uint8_t dev_type, uint32_t handle, uint16_t port,
                                 const uint8_t* buf, uint32_t size) {
  const LidarModel* model = FindModel(dev_type);
  if (model != nullptr && model->upgrade_port != 0 && port == model->upgrade_port) {
    general_.HandleUpgradeDatagram(dev_type, handle, port, buf, size);
    return;
  }
  ProtocolCommand command;
  if (!ParseFrame(*codec_, buf, size, command)) {
    KESTO_LOG_INFO("Parse Command Stream failed.");
    return;
  }
  if (port == kDiscoveryPort && command.cmd_id == kCmdIdDiscovery) {
    // A discovery request (ours, echoed) is dropped; a reply walks the lidar's set-up.
    if (command.cmd_type != kCommandTypeCommand) HandleDiscoveryReply(handle, port, command);
    return;
  }
  general_.Handle(dev_type, handle, port, command);
}

void DeviceManager::HandleDiscoveryReply(uint32_t handle, uint16_t port,
                                         const ProtocolCommand& command) {
  if (command.data == nullptr || command.data_len == 0) return;
  DetectionData data;
  if (!DecodeDetectionData(command.data, command.data_len, data)) {
    KESTO_LOG_ERROR("Detection data is too short, the handle:{}, the len:{}", handle,
                    command.data_len);
    return;
  }
  if (data.ret_code != 0) {
    KESTO_LOG_ERROR("Detection lidar faield, the handle:{}, lidar_port:{}, ret_code:{}", handle,
                    port, data.ret_code);
    return;
  }
  KESTO_LOG_INFO("Handle detection data, handle:{}, dev_type:{}, sn:{}, cmd_port:{}", handle,
                 data.dev_type, PrintableWireText(data.sn), data.cmd_port);
  setup_.OnDiscoveryReply(handle, data);
}

void DeviceManager::AddDetectedLidar(uint32_t handle, const uint8_t* buf, uint32_t size) {
  ProtocolCommand command;
  if (!ParseFrame(*codec_, buf, size, command)) {
    KESTO_LOG_INFO("Parse Command Stream failed.");
    return;
  }
  if (command.cmd_id != kCmdIdDiscovery || command.data == nullptr || command.data_len < 2 ||
      command.data[0] != 0) {
    return;
  }
  KestoLidarCfg cfg;
  if (!directory_.AddDetected(handle, command.data[1], cfg)) return;
  // Keys that already have a socket are skipped, so only the new lidar's own channels open.
  if (!CreateDataChannel(cfg.host_net_info)) {
    KESTO_LOG_ERROR("Create data channel failed.");
  } else if (!CreateCommandChannel(cfg.dev_type, cfg.host_net_info)) {
    KESTO_LOG_ERROR("Create command channel failed.");
  }
}

}  // namespace kesto::lidar
