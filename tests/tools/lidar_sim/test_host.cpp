#include "test_host.h"

#include <cstring>

#include "handle_text.h"
#include "protocol_command.h"
#include "sdk_protocol.h"

namespace kesto::lidar_sim::test {

namespace platform = kesto::platform;

HostSocket::HostSocket(uint16_t port, bool broadcast, const std::string& address) : port_(port) {
  fd_ = platform::SocketOpen(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (fd_ < 0) return;
  platform::SocketSetOption(fd_, SOL_SOCKET, SO_REUSEADDR, 1);
  if (broadcast) platform::SocketSetOption(fd_, SOL_SOCKET, SO_BROADCAST, 1);
  platform::SocketSetOption(fd_, SOL_SOCKET, SO_RCVBUF, 8 << 20);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = kesto::lidar::TextToHandle(address);
  if (!platform::SocketBind(fd_, local)) {
    platform::SocketClose(fd_);
    fd_ = -1;
  }
}

HostSocket::~HostSocket() {
  if (fd_ >= 0) platform::SocketClose(fd_);
}

bool HostSocket::SendTo(const Bytes& bytes, const std::string& address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = kesto::lidar::TextToHandle(address);
  return platform::SocketSendTo(fd_, bytes.data(), static_cast<int>(bytes.size()), to) ==
         static_cast<int>(bytes.size());
}

bool HostSocket::Receive(Datagram& out, int timeout_ms) {
  platform::SocketSet set;
  set.Add(fd_);
  if (platform::SocketSelect(fd_ + 1, &set, nullptr, timeout_ms) <= 0) return false;
  uint8_t buffer[4096];
  sockaddr_in from{};
  platform::SockLen length = sizeof from;
  const int n = platform::SocketRecvFrom(fd_, buffer, sizeof buffer, &from, &length);
  if (n < 0) return false;
  out.bytes.assign(buffer, buffer + n);
  out.from_address = kesto::lidar::HandleToText(from.sin_addr.s_addr);
  out.from_port = ntohs(from.sin_port);
  return true;
}

Bytes CodecFrame(uint16_t cmd_id, uint8_t cmd_type, uint8_t sender_type, uint32_t seq,
                 const Bytes& payload) {
  const kesto::lidar::SdkProtocol codec;
  kesto::lidar::ProtocolCommand command;
  command.seq = seq;
  command.cmd_id = cmd_id;
  command.cmd_type = cmd_type;
  command.sender_type = sender_type;
  command.data = payload.empty() ? nullptr : payload.data();
  command.data_len = static_cast<uint16_t>(payload.size());
  Bytes frame(1400, 0);
  int length = 0;
  if (codec.EncodeFrame(frame.data(), 1400, length, command) != 0) return {};
  frame.resize(static_cast<size_t>(length));
  return frame;
}

bool DecodeFrame(const Bytes& bytes, Frame& out) {
  const kesto::lidar::SdkProtocol codec;
  kesto::lidar::ProtocolCommand command;
  const auto size = static_cast<uint32_t>(bytes.size());
  if (!codec.VerifyFrame(bytes.data(), size) || !codec.DecodeFrame(bytes.data(), size, command)) {
    return false;
  }
  out.cmd_id = command.cmd_id;
  out.cmd_type = command.cmd_type;
  out.seq = command.seq;
  out.payload.assign(command.data, command.data + command.data_len);
  return true;
}

}  // namespace kesto::lidar_sim::test
