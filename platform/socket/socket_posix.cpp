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

int SocketLastError() { return errno; }

bool SocketErrorIsWouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

std::string SocketErrorText(int error) { return std::strerror(error); }

bool SocketFitsSelect(int s) { return s >= 0 && s < FD_SETSIZE; }

}  // namespace kesto::platform
