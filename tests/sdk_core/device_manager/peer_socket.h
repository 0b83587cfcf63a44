#ifndef KESTO_TESTS_SDK_CORE_DEVICE_MANAGER_PEER_SOCKET_H_
#define KESTO_TESTS_SDK_CORE_DEVICE_MANAGER_PEER_SOCKET_H_

// The far side of the device manager in its tests: a UDP socket bound to a loopback address and
// port, as a lidar's would be. Owned by the test's thread.

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "socket.h"
#include "socket_util.h"

namespace kesto::lidar::test {

class PeerSocket {
 public:
  struct Datagram {
    std::vector<uint8_t> bytes;
    uint32_t from_handle = 0;
    uint16_t from_port = 0;
  };

  PeerSocket(const std::string& address, uint16_t port, bool broadcast = false)
      : fd_(OpenUdpSocket(port, true, true, broadcast, address, "")) {}
  ~PeerSocket() {
    if (fd_ >= 0) CloseSocket(fd_);
  }
  PeerSocket(const PeerSocket&) = delete;
  PeerSocket& operator=(const PeerSocket&) = delete;

  bool ok() const { return fd_ >= 0; }

  bool SendTo(const std::vector<uint8_t>& bytes, const std::string& address, uint16_t port) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = inet_addr(address.c_str());
    return platform::SocketSendTo(fd_, bytes.data(), static_cast<int>(bytes.size()), to) ==
           static_cast<int>(bytes.size());
  }

  // The next datagram that is a frame with `cmd_id` (bytes 8-9), skipping others (discovery
  // broadcasts that reach this socket too on some platforms); false when none came in time.
  bool ReceiveCommand(uint16_t cmd_id, Datagram& out,
                      std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
      if (!Receive(out, std::chrono::milliseconds(100))) continue;
      if (out.bytes.size() >= 24 && (out.bytes[8] | (out.bytes[9] << 8)) == cmd_id) return true;
    }
    return false;
  }

  // The next datagram within the deadline; false when none came.
  bool Receive(Datagram& out, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    std::vector<uint8_t> buffer(65536);
    while (std::chrono::steady_clock::now() < end) {
      sockaddr_in from{};
      platform::SockLen length = sizeof(from);
      const int n = ReceiveFrom(fd_, buffer.data(), static_cast<int>(buffer.size()), &from, &length);
      if (n > 0) {
        out.bytes.assign(buffer.begin(), buffer.begin() + n);
        out.from_handle = from.sin_addr.s_addr;
        out.from_port = ntohs(from.sin_port);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }

 private:
  int fd_;
};

}  // namespace kesto::lidar::test

#endif  // KESTO_TESTS_SDK_CORE_DEVICE_MANAGER_PEER_SOCKET_H_
