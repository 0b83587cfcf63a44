#include "socket_util.h"

#include <cstdio>

namespace kesto::lidar {

using namespace kesto::platform;

namespace {

// Dotted text to an address in network order; any address for an empty text. An unparsable
// text gives INADDR_NONE, which bind and the multicast join then refuse.
uint32_t ParseAddress(const std::string& text) {
  if (text.empty()) return htonl(INADDR_ANY);
  return static_cast<uint32_t>(inet_addr(text.c_str()));
}

}  // namespace

int OpenUdpSocket(uint16_t port, bool non_blocking, bool reuse_address, bool broadcast,
                  std::string local_address, std::string multicast_group) {
  const int fd = SocketOpen(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (fd == kInvalidSocket) return kInvalidSocket;

  const auto fail = [fd] {
    SocketClose(fd);
    return kInvalidSocket;
  };
  if (non_blocking && !SocketSetNonBlocking(fd, true)) return fail();
  if (reuse_address && !SocketSetOption(fd, SOL_SOCKET, SO_REUSEADDR, 1)) return fail();
  if (broadcast && !SocketSetOption(fd, SOL_SOCKET, SO_BROADCAST, 1)) return fail();
  if (!SocketSetOption(fd, SOL_SOCKET, SO_RCVBUF, kUdpReceiveBufferBytes)) return fail();

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = ParseAddress(local_address);
  if (!SocketBind(fd, address)) return fail();

  if (broadcast) {
    if (!SocketSetOption(fd, SOL_SOCKET, SO_BROADCAST, 1)) {
      SocketClose(fd);
      std::printf("broad cast failed\n");
      std::fflush(stdout);
      return kInvalidSocket;
    }
  } else if (!multicast_group.empty()) {
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = ParseAddress(multicast_group);
    membership.imr_interface.s_addr = ParseAddress(local_address);
    if (!SocketSetOptionRaw(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership,
                            sizeof(membership))) {
      std::printf("setsockopt failed\n");
      std::fflush(stdout);
    }
  }
  return fd;
}

int ReceiveFrom(int fd, void* buffer, int size, sockaddr_in* from, SockLen* from_length) {
  return SocketRecvFrom(fd, buffer, size, from, from_length);
}

int CloseSocket(int fd) { return SocketClose(fd); }

}  // namespace kesto::lidar
