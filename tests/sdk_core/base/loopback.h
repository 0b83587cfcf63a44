#ifndef KESTO_TESTS_BASE_LOOPBACK_H_
#define KESTO_TESTS_BASE_LOOPBACK_H_

// Loopback UDP helpers shared by the runtime's tests.

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "socket.h"
#include "socket_util.h"

namespace kesto::test {

inline sockaddr_in LoopbackAddress(uint16_t port, const char* ip = "127.0.0.1") {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = inet_addr(ip);
  return address;
}

inline uint16_t LocalPort(int fd) {
  sockaddr_in address{};
  if (!platform::SocketLocalAddress(fd, &address)) return 0;
  return ntohs(address.sin_port);
}

// A non-blocking receiver on 127.0.0.1 with a system-chosen port, and a sender aimed at it.
// The receiver does not reuse addresses: Linux may hand port 0 of a socket with SO_REUSEADDR a
// port that another such socket already holds, and unicast datagrams then reach only one of them.
struct UdpPair {
  UdpPair() {
    receiver = lidar::OpenUdpSocket(0, true, false, false, "127.0.0.1", "");
    sender = lidar::OpenUdpSocket(0, false, false, false, "127.0.0.1", "");
    port = LocalPort(receiver);
  }
  ~UdpPair() {
    if (receiver >= 0) lidar::CloseSocket(receiver);
    if (sender >= 0) lidar::CloseSocket(sender);
  }
  UdpPair(const UdpPair&) = delete;
  UdpPair& operator=(const UdpPair&) = delete;

  bool ok() const { return receiver >= 0 && sender >= 0 && port != 0; }
  bool Send(const std::string& text = "x") const {
    return platform::SocketSendTo(sender, text.data(), static_cast<int>(text.size()),
                                  LoopbackAddress(port)) == static_cast<int>(text.size());
  }

  int receiver = -1;
  int sender = -1;
  uint16_t port = 0;
};

// Polls `done` until it holds or the generous deadline passes.
template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Loopback datagrams can be dropped when other processes flood the machine (the kernel's receive
// backlog is shared by every network namespace), so a test that waits for a datagram to be
// served sends it again every 200 ms until `served` holds, calling `step` in between (one loop
// iteration, or a short sleep while a loop thread runs). Counts of served datagrams are then at
// least, not exactly, one per socket.
template <typename Step, typename Served>
bool DeliverUntil(const UdpPair& pair, Step step, Served served,
                  std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  const auto start = std::chrono::steady_clock::now();
  auto next_send = start;
  while (!served()) {
    const auto now = std::chrono::steady_clock::now();
    if (now > start + deadline) return false;
    if (now >= next_send) {
      pair.Send();
      next_send = now + std::chrono::milliseconds(200);
    }
    step();
  }
  return true;
}

inline void Nap() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

}  // namespace kesto::test

#endif  // KESTO_TESTS_BASE_LOOPBACK_H_
