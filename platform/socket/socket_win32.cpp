#include "socket.h"

namespace kesto::platform {

bool SocketStartup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 0), &data) == 0;
}

void SocketCleanup() { WSACleanup(); }

int SocketOpen(int domain, int type, int protocol) {
  const SOCKET s = ::socket(domain, type, protocol);
  // Winsock handles are small integers in practice; the kit keeps sockets as ints throughout.
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<int>(s);
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
  return ::recvfrom(static_cast<SOCKET>(s), static_cast<char*>(buffer), size, 0,
                    reinterpret_cast<sockaddr*>(from), from_length);
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

int SocketLastError() { return WSAGetLastError(); }

bool SocketErrorIsWouldBlock(int error) { return error == WSAEWOULDBLOCK; }

std::string SocketErrorText(int error) { return "Winsock error " + std::to_string(error); }

bool SocketFitsSelect(int s) { return s >= 0; }

}  // namespace kesto::platform
