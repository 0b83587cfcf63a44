#include "bare_receiver.h"

#include "device_manager.h"
#include "socket.h"
#include "socket_util.h"

namespace kesto::bench {

BareReceiver::~BareReceiver() {
  Stop();
  if (fd_ >= 0) lidar::CloseSocket(fd_);
}

bool BareReceiver::Open(std::uint16_t port) {
  fd_ = lidar::OpenUdpSocket(port, false, true, false, "127.0.0.1", "");
  port_ = port;
  // The kit's data sockets' buffer, so that the two lose alike when neither keeps up.
  if (fd_ >= 0) {
    platform::SocketSetOption(fd_, SOL_SOCKET, SO_RCVBUF, lidar::DeviceManager::kDataReceiveBuffer);
  }
  return fd_ >= 0;
}

int BareReceiver::granted_buffer() const {
  int value = 0;
  platform::SocketGetOption(fd_, SOL_SOCKET, SO_RCVBUF, &value);
  return value;
}

void BareReceiver::Start() {
  tally_.Reset();
  probe_.Reset();
  thread_ = std::thread([this] { Run(); });
}

void BareReceiver::Stop() {
  if (!thread_.joinable()) return;
  const int sender = lidar::OpenUdpSocket(0, false, false, false, "127.0.0.1", "");
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port_);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::uint8_t end = 0;
  platform::SocketSendTo(sender, &end, 1, to);
  lidar::CloseSocket(sender);
  thread_.join();
}

void BareReceiver::Run() {
  alignas(8) std::uint8_t buffer[8192];
  for (;;) {
    sockaddr_in from{};
    platform::SockLen from_length = sizeof(from);
    const int n = platform::SocketRecvFrom(fd_, buffer, sizeof buffer, &from, &from_length);
    if (n == 1) return;
    if (n < 16) continue;
    tally_.Count(buffer, SteadyNs());
    probe_.OnPacket(tally_.packets());
  }
}

}  // namespace kesto::bench
