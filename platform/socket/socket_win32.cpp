#include "socket.h"

#include <mswsock.h>

#include <chrono>
#include <thread>

namespace kesto::platform {

bool SocketStartup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 0), &data) == 0;
}

void SocketCleanup() { WSACleanup(); }

namespace {

// WSARecvMsg is reached through a pointer the provider hands out; one provider serves every
// IPv4 UDP socket, so the first socket that asks fetches it for all. Null when it cannot be had.
LPFN_WSARECVMSG ReceiveMessageFunction(SOCKET s) {
  static const LPFN_WSARECVMSG function = [s] {
    LPFN_WSARECVMSG found = nullptr;
    GUID id = WSAID_WSARECVMSG;
    DWORD bytes = 0;
    if (::WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof(id), &found, sizeof(found),
                   &bytes, nullptr, nullptr) != 0) {
      return LPFN_WSARECVMSG{nullptr};
    }
    return found;
  }();
  return function;
}

}  // namespace

int SocketOpen(int domain, int type, int protocol) {
  const SOCKET s = ::socket(domain, type, protocol);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  if (type == SOCK_DGRAM) {
    // Windows turns an ICMP port-unreachable, answering an earlier send to a closed port, into
    // WSAECONNRESET on the socket's next receive, though no datagram was lost. A lidar or a host
    // that went away would make every receive loop handle errors that are not; POSIX systems
    // report nothing for unconnected UDP sockets, so switch it off here for both to behave alike.
    BOOL report = FALSE;
    DWORD bytes = 0;
    ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof(report), nullptr, 0, &bytes, nullptr,
               nullptr);
  }
  // Winsock handles are small integers in practice; the kit keeps sockets as ints throughout.
  return static_cast<int>(s);
}

int SocketClose(int s) { return ::closesocket(static_cast<SOCKET>(s)); }

bool SocketSetNonBlocking(int s, bool on) {
  u_long mode = on ? 1 : 0;
  return ::ioctlsocket(static_cast<SOCKET>(s), FIONBIO, &mode) == 0;
}

bool SocketSetOption(int s, int level, int name, int value) {
  return ::setsockopt(static_cast<SOCKET>(s), level, name, reinterpret_cast<const char*>(&value),
                      sizeof(value)) == 0;
}

bool SocketSetOptionRaw(int s, int level, int name, const void* value, SockLen length) {
  return ::setsockopt(static_cast<SOCKET>(s), level, name, static_cast<const char*>(value),
                      length) == 0;
}

bool SocketGetOption(int s, int level, int name, int* value) {
  int length = sizeof(*value);
  return ::getsockopt(static_cast<SOCKET>(s), level, name, reinterpret_cast<char*>(value),
                      &length) == 0;
}

int SocketRecvFrom(int s, void* buffer, int size, sockaddr_in* from, SockLen* from_length) {
  const int result = ::recvfrom(static_cast<SOCKET>(s), static_cast<char*>(buffer), size, 0,
                                reinterpret_cast<sockaddr*>(from), from_length);
  // Winsock fills the buffer with the head of an oversized datagram and then reports an error;
  // POSIX returns the head's length. Callers get the POSIX behaviour on both.
  if (result < 0 && ::WSAGetLastError() == WSAEMSGSIZE) return size;
  return result;
}

int SocketReceiveBatch(int s, unsigned char* buffers, int buffer_size, int count,
                       BatchDatagram* out, unsigned int* /*os_dropped: Windows keeps no count*/) {
  if (count > kMaxReceiveBatch) count = kMaxReceiveBatch;
  int taken = 0;
  while (taken < count) {
    int length = sizeof(out[taken].from);
    const int received = SocketRecvFrom(
        s, buffers + static_cast<std::size_t>(taken) * static_cast<std::size_t>(buffer_size),
        buffer_size, &out[taken].from, &length);
    if (received < 0) {
      const int error = ::WSAGetLastError();
      // Nothing more waits, or a fault that the next readiness reports again.
      if (error == WSAEWOULDBLOCK || taken > 0) break;
      return -1;
    }
    out[taken++].length = received;
  }
  return taken;
}

bool SocketCountDrops(int /*s*/) { return false; }

bool SocketReportDestination(int s) { return SocketSetOption(s, IPPROTO_IP, IP_PKTINFO, 1); }

int SocketRecvFromTo(int s, void* buffer, int size, sockaddr_in* from, in_addr* to) {
  to->s_addr = htonl(INADDR_ANY);
  const LPFN_WSARECVMSG receive = ReceiveMessageFunction(static_cast<SOCKET>(s));
  if (receive == nullptr) {
    int length = sizeof(*from);
    return SocketRecvFrom(s, buffer, size, from, &length);
  }
  WSABUF data{static_cast<ULONG>(size), static_cast<char*>(buffer)};
  char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
  WSAMSG message{};
  message.name = reinterpret_cast<sockaddr*>(from);
  message.namelen = sizeof(*from);
  message.lpBuffers = &data;
  message.dwBufferCount = 1;
  message.Control.buf = control;
  message.Control.len = sizeof(control);
  DWORD received = 0;
  if (receive(static_cast<SOCKET>(s), &message, &received, nullptr, nullptr) != 0) {
    // An oversized datagram fills the buffer and reports an error, as with recvfrom.
    if (::WSAGetLastError() != WSAEMSGSIZE) return -1;
    received = static_cast<DWORD>(size);
  }
  for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header != nullptr;
       header = WSA_CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
      *to = reinterpret_cast<const IN_PKTINFO*>(WSA_CMSG_DATA(header))->ipi_addr;
    }
  }
  return static_cast<int>(received);
}

int SocketSendTo(int s, const void* data, int size, const sockaddr_in& to) {
  return ::sendto(static_cast<SOCKET>(s), static_cast<const char*>(data), size, 0,
                  reinterpret_cast<const sockaddr*>(&to), sizeof(to));
}

int SocketRecv(int s, void* buffer, int size) {
  return ::recv(static_cast<SOCKET>(s), static_cast<char*>(buffer), size, 0);
}

int SocketSend(int s, const void* data, int size) {
  return ::send(static_cast<SOCKET>(s), static_cast<const char*>(data), size, 0);
}

bool SocketBind(int s, const sockaddr_in& address) {
  return ::bind(static_cast<SOCKET>(s), reinterpret_cast<const sockaddr*>(&address),
                sizeof(address)) == 0;
}

bool SocketLocalAddress(int s, sockaddr_in* address) {
  int length = sizeof(*address);
  return ::getsockname(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(address), &length) ==
         0;
}

bool SocketListen(int s, int backlog) { return ::listen(static_cast<SOCKET>(s), backlog) == 0; }

bool SocketConnect(int s, const sockaddr_in& address) {
  return ::connect(static_cast<SOCKET>(s), reinterpret_cast<const sockaddr*>(&address),
                   sizeof(address)) == 0;
}

int SocketAccept(int s) {
  const SOCKET accepted = ::accept(static_cast<SOCKET>(s), nullptr, nullptr);
  return accepted == INVALID_SOCKET ? kInvalidSocket : static_cast<int>(accepted);
}

SocketSet::SocketSet() { FD_ZERO(&set_); }

void SocketSet::Add(int s) {
  // Winsock sets are arrays of FD_SETSIZE handles; FD_SET itself skips a socket already there.
  if (!SocketFitsSelect(s) || set_.fd_count >= FD_SETSIZE) return;
  FD_SET(static_cast<SOCKET>(s), &set_);
  count_ = static_cast<int>(set_.fd_count);
}

bool SocketSet::Contains(int s) const {
  return SocketFitsSelect(s) &&
         __WSAFDIsSet(static_cast<SOCKET>(s), const_cast<fd_set*>(&set_)) != 0;
}

bool SocketSet::Empty() const { return count_ == 0; }

int SocketSelect(int nfds, SocketSet* read, SocketSet* write, int timeout_ms) {
  const bool nothing = (!read || read->Empty()) && (!write || write->Empty());
  if (nothing) {
    // Winsock fails a select without sockets at once (WSAEINVAL); sleeping keeps the caller's
    // loop bounded the same way as on POSIX instead of spinning.
    if (timeout_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
    return 0;
  }
  timeval timeout{};
  return ::select(nfds, read ? read->native() : nullptr, write ? write->native() : nullptr,
                  nullptr, SelectTimeout(timeout_ms, &timeout));
}

int SocketLastError() { return WSAGetLastError(); }

bool SocketErrorIsWouldBlock(int error) { return error == WSAEWOULDBLOCK; }

bool SocketErrorIsInterrupted(int error) { return error == WSAEINTR; }

std::string SocketErrorText(int error) { return "Winsock error " + std::to_string(error); }

bool SocketFitsSelect(int s) { return s >= 0; }

}  // namespace kesto::platform
