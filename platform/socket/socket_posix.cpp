#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
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

int SocketReceiveBatch(int s, unsigned char* buffers, int buffer_size, int count,
                       BatchDatagram* out, unsigned int* os_dropped) {
  if (count <= 0) return 0;
  if (count > kMaxReceiveBatch) count = kMaxReceiveBatch;
  // The calling thread's headers, filled for each call: the buffers are the caller's.
  struct Headers {
    mmsghdr messages[kMaxReceiveBatch];
    iovec data[kMaxReceiveBatch];
    alignas(cmsghdr) char control[kMaxReceiveBatch][CMSG_SPACE(sizeof(uint32_t))];
  };
  static thread_local Headers h;
  for (int i = 0; i < count; ++i) {
    h.data[i] = {buffers + static_cast<std::size_t>(i) * static_cast<std::size_t>(buffer_size),
                 static_cast<std::size_t>(buffer_size)};
    msghdr& m = h.messages[i].msg_hdr;
    m = msghdr{};
    m.msg_name = &out[i].from;
    m.msg_namelen = sizeof(out[i].from);
    m.msg_iov = &h.data[i];
    m.msg_iovlen = 1;
    m.msg_control = h.control[i];
    m.msg_controllen = sizeof(h.control[i]);
  }
  const int taken = ::recvmmsg(s, h.messages, static_cast<unsigned int>(count), MSG_DONTWAIT, nullptr);
  if (taken < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
  for (int i = 0; i < taken; ++i) {
    // A datagram cut to the buffer reports its full length with MSG_TRUNC only when asked;
    // without it msg_len is what was stored.
    out[i].length = static_cast<int>(h.messages[i].msg_len);
  }
  if (taken > 0 && os_dropped != nullptr) {
    msghdr& last = h.messages[taken - 1].msg_hdr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&last); c != nullptr; c = CMSG_NXTHDR(&last, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
        uint32_t dropped = 0;
        std::memcpy(&dropped, CMSG_DATA(c), sizeof(dropped));
        *os_dropped = dropped;
      }
    }
  }
  return taken;
}

bool SocketCountDrops(int s) { return SocketSetOption(s, SOL_SOCKET, SO_RXQ_OVFL, 1); }

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
