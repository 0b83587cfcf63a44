#include "socket_util.h"

#include <cstdio>

#include "handle_text.h"

namespace kesto::lidar {

using namespace kesto::platform;

namespace {

// Dotted text to an address in network order; any address for an empty text. Read under the
// configuration text's rules, so a socket binds or joins exactly the address that the
// configuration checks accepted and the requests name to the lidar.
bool ParseAddress(const std::string& text, uint32_t* address) {
  if (text.empty()) {
    *address = htonl(INADDR_ANY);
    return true;
  }
  const DottedParse parsed = ParseDotted(text, DottedRules::kConfigText);
  if (!parsed.ok()) return false;
  *address = BytesToHandle(parsed.octets);
  return true;
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
  uint32_t local = 0;
  if (!ParseAddress(local_address, &local)) return fail();
  address.sin_addr.s_addr = local;
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
    uint32_t group = 0;
    const bool parsed = ParseAddress(multicast_group, &group);
    membership.imr_multiaddr.s_addr = group;
    membership.imr_interface.s_addr = local;
    if (!parsed || !SocketSetOptionRaw(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership,
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
