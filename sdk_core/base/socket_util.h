#ifndef KESTO_LIDAR_BASE_SOCKET_UTIL_H_
#define KESTO_LIDAR_BASE_SOCKET_UTIL_H_

#include <cstdint>
#include <string>

#include "socket.h"

namespace kesto::lidar {

// The receive buffer every kit UDP socket asks for (200 MiB). Systems may grant less without
// refusing the option; read SO_RCVBUF back where the figure matters.
inline constexpr int kUdpReceiveBufferBytes = 209715200;

// Opens and binds one UDP socket with the kit's fixed options: optionally non-blocking, reuse
// address and broadcast; always the receive buffer above; bound to `local_address` (dotted IPv4,
// empty: any) and `port` (host order, 0: system-chosen). Without broadcast, joins
// `multicast_group` (dotted IPv4, empty: none) on the local address's interface. Returns the
// socket, or -1 with nothing left open. Failures are silent except the two standard-output
// lines "broad cast failed" (socket closed, -1) and "setsockopt failed" (failed join; the socket
// is still returned); the caller reports the rest. Safe from any thread.
int OpenUdpSocket(uint16_t port, bool non_blocking, bool reuse_address, bool broadcast,
                  std::string local_address, std::string multicast_group);

// One receive, no flags: the byte count, or the platform's result of 0 or less.
int ReceiveFrom(int fd, void* buffer, int size, sockaddr_in* from, platform::SockLen* from_length);

// Closes the socket; the platform's result (0 on success).
int CloseSocket(int fd);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_BASE_SOCKET_UTIL_H_
