#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "socket.h"

namespace kesto::platform {

bool SocketStartup() { return true; }
void SocketCleanup() {}

int SocketOpen(int domain, int type, int protocol) {
  const int s = ::socket(domain, type, protocol);
  return s < 0 ? kInvalidSocket : s;
}

int SocketClose(int s) { return ::close(s); }

bool SocketSetNonBlocking(int s, bool on) {
  const int flags = ::fcntl(s, F_GETFL, 0);
  if (flags < 0) return false;
  const int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return ::fcntl(s, F_SETFL, wanted) == 0;
}

bool SocketSetOption(int s, int level, int name, int value) {
  return ::setsockopt(s, level, name, &value, sizeof(value)) == 0;
}

bool SocketSetOptionRaw(int s, int level, int name, const void* value, SockLen length) {
  return ::setsockopt(s, level, name, value, length) == 0;
}

bool SocketGetOption(int s, int level, int name, int* value) {
  socklen_t length = sizeof(*value);
  return ::getsockopt(s, level, name, value, &length) == 0;
}

int SocketRecvFrom(int s, void* buffer, int size, sockaddr_in* from, SockLen* from_length) {
  return static_cast<int>(::recvfrom(s, buffer, static_cast<std::size_t>(size), 0,
                                     reinterpret_cast<sockaddr*>(from), from_length));
}

bool SocketReportDestination(int s) { return SocketSetOption(s, IPPROTO_IP, IP_PKTINFO, 1); }

int SocketRecvFromTo(int s, void* buffer, int size, sockaddr_in* from, in_addr* to) {
  to->s_addr = htonl(INADDR_ANY);
  iovec data{buffer, static_cast<std::size_t>(size)};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
  msghdr message{};
  message.msg_name = from;
  message.msg_namelen = sizeof(*from);
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof(control);
  const auto received = ::recvmsg(s, &message, 0);
  if (received < 0) return -1;
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
      in_pktinfo info;
      std::memcpy(&info, CMSG_DATA(header), sizeof(info));
      *to = info.ipi_addr;
    }
  }
  return static_cast<int>(received);
}

int SocketSendTo(int s, const void* data, int size, const sockaddr_in& to) {
  return static_cast<int>(::sendto(s, data, static_cast<std::size_t>(size), 0,
                                   reinterpret_cast<const sockaddr*>(&to), sizeof(to)));
}

int SocketRecv(int s, void* buffer, int size) {
  return static_cast<int>(::recv(s, buffer, static_cast<std::size_t>(size), 0));
}

int SocketSend(int s, const void* data, int size) {
  return static_cast<int>(::send(s, data, static_cast<std::size_t>(size), MSG_NOSIGNAL));
}

bool SocketBind(int s, const sockaddr_in& address) {
  return ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

bool SocketLocalAddress(int s, sockaddr_in* address) {
  socklen_t length = sizeof(*address);
  return ::getsockname(s, reinterpret_cast<sockaddr*>(address), &length) == 0;
}

bool SocketListen(int s, int backlog) { return ::listen(s, backlog) == 0; }

bool SocketConnect(int s, const sockaddr_in& address) {
  return ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

int SocketAccept(int s) {
  const int accepted = ::accept(s, nullptr, nullptr);
  return accepted < 0 ? kInvalidSocket : accepted;
}

SocketSet::SocketSet() { FD_ZERO(&set_); }

void SocketSet::Add(int s) {
  if (!SocketFitsSelect(s)) return;
  FD_SET(s, &set_);
  ++count_;
}

bool SocketSet::Contains(int s) const { return SocketFitsSelect(s) && FD_ISSET(s, &set_); }

bool SocketSet::Empty() const { return count_ == 0; }

int SocketSelect(int nfds, SocketSet* read, SocketSet* write, int timeout_ms) {
  timeval timeout{};
  return ::select(nfds, read ? read->native() : nullptr, write ? write->native() : nullptr,
                  nullptr, SelectTimeout(timeout_ms, &timeout));
}

int SocketLastError() { return errno; }

bool SocketErrorIsWouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

bool SocketErrorIsInterrupted(int error) { return error == EINTR; }

std::string SocketErrorText(int error) { return std::strerror(error); }

bool SocketFitsSelect(int s) { return s >= 0 && s < FD_SETSIZE; }

}  // namespace kesto::platform
