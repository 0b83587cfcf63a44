// The recording's view of the network: each datagram received from a lidar or sent to one,
// with the addresses and ports it had, handed to the session recorder. Whichever thread
// receives or sends.
#include <chrono>
#include <utility>
#include <vector>

#include "device_manager.h"
#include "session_recorder.h"
#include "socket.h"

namespace kesto::lidar {

namespace {

uint64_t WallClockNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

// Each thread's memory of the local addresses of the sockets it used, so a recorded datagram
// costs no system call for its own address. A new start of any device manager takes a new
// generation: its sockets may reuse the numbers of closed ones.
struct LocalAddresses {
  uint64_t generation = 0;
  std::vector<std::pair<int, sockaddr_in>> sockets;
};

std::atomic<uint64_t> g_next_generation{1};

}  // namespace

void DeviceManager::NewSocketGeneration() { socket_generation_ = g_next_generation++; }

void DeviceManager::RecordDatagram(int socket, bool received, uint32_t peer_ip,
                                   uint16_t peer_port, const uint8_t* data, size_t length) {
  static thread_local LocalAddresses local;
  const uint64_t generation = socket_generation_.load(std::memory_order_relaxed);
  if (local.generation != generation) {
    local.generation = generation;
    local.sockets.clear();
  }
  sockaddr_in own{};
  bool known = false;
  for (const auto& entry : local.sockets) {
    if (entry.first == socket) {
      own = entry.second;
      known = true;
      break;
    }
  }
  if (!known) {
    if (!platform::SocketLocalAddress(socket, &own)) own = sockaddr_in{};
    local.sockets.emplace_back(socket, own);
  }
  // A socket bound to every address has none of its own: the host's address stands for it.
  const uint32_t host = host_handle_.load(std::memory_order_relaxed);
  if (own.sin_addr.s_addr == 0 && host != 0xFFFFFFFFu) own.sin_addr.s_addr = host;

  capture::DatagramRecord record;
  record.time_ns = WallClockNs();
  record.payload = data;
  record.length = static_cast<uint32_t>(length);
  const uint32_t own_ip = own.sin_addr.s_addr;
  const uint16_t own_port = ntohs(own.sin_port);
  record.src_ip = received ? peer_ip : own_ip;
  record.src_port = received ? peer_port : own_port;
  record.dst_ip = received ? own_ip : peer_ip;
  record.dst_port = received ? own_port : peer_port;
  recorder_->Record(record);
}

}  // namespace kesto::lidar
