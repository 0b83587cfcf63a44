#include "socket.h"

namespace kesto::platform {

in_addr SocketSourceAddressFor(in_addr local) {
  in_addr found{};
  found.s_addr = htonl(INADDR_ANY);
  const int receiver = SocketOpen(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  const int sender = SocketOpen(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr = local;
  const char probe = 0;
  if (receiver != kInvalidSocket && sender != kInvalidSocket && SocketBind(receiver, to) &&
      SocketLocalAddress(receiver, &to) && SocketBind(sender, from) &&
      SocketLocalAddress(sender, &from) && SocketSendTo(sender, &probe, 1, to) == 1) {
    SocketSet readable;
    readable.Add(receiver);
    char byte = 0;
    sockaddr_in source{};
    SockLen length = sizeof(source);
    // The port tells our datagram from a stray one that found the same ephemeral port.
    if (SocketSelect(receiver + 1, &readable, nullptr, 1000) > 0 &&
        SocketRecvFrom(receiver, &byte, 1, &source, &length) == 1 &&
        source.sin_port == from.sin_port) {
      found = source.sin_addr;
    }
  }
  if (receiver != kInvalidSocket) SocketClose(receiver);
  if (sender != kInvalidSocket) SocketClose(sender);
  return found;
}

}  // namespace kesto::platform
