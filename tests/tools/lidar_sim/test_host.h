#ifndef KESTO_TESTS_TOOLS_LIDAR_SIM_TEST_HOST_H_
#define KESTO_TESTS_TOOLS_LIDAR_SIM_TEST_HOST_H_

// A bare host for the emulator's tests: plain UDP sockets on 127.0.0.1 and hand-made frames, so
// what the tests check is the emulator's wire behaviour and nothing of the kit's host side.

#include <cstdint>
#include <string>
#include <vector>

#include "socket.h"

namespace kesto::lidar_sim::test {

using Bytes = std::vector<uint8_t>;

struct Datagram {
  Bytes bytes;
  std::string from_address;
  uint16_t from_port = 0;
};

// One bound UDP socket. Owned by the test's thread.
class HostSocket {
 public:
  explicit HostSocket(uint16_t port, bool broadcast = false, const std::string& address = "127.0.0.1");
  ~HostSocket();
  HostSocket(const HostSocket&) = delete;
  HostSocket& operator=(const HostSocket&) = delete;

  bool ok() const { return fd_ >= 0; }
  uint16_t port() const { return port_; }
  bool SendTo(const Bytes& bytes, const std::string& address, uint16_t port);
  // The next datagram, waiting at most `timeout_ms`; false when none came.
  bool Receive(Datagram& out, int timeout_ms = 5000);
  // The next datagram for which `accept` is true, dropping others, within the deadline.
  template <typename Predicate>
  bool ReceiveMatching(Datagram& out, Predicate accept, int timeout_ms = 5000);

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// A frame written with the kit's codec: of `cmd_type` (0 command, 1 acknowledgement) from
// `sender_type` (0 a host, 1 a lidar), as recorded sessions hold them.
Bytes CodecFrame(uint16_t cmd_id, uint8_t cmd_type, uint8_t sender_type, uint32_t seq,
                 const Bytes& payload);
// A host frame (sender type 0) around `payload`.
inline Bytes HostFrame(uint16_t cmd_id, uint32_t seq, const Bytes& payload) {
  return CodecFrame(cmd_id, 0, 0, seq, payload);
}

struct Frame {
  uint16_t cmd_id = 0;
  uint8_t cmd_type = 0;
  uint32_t seq = 0;
  Bytes payload;
};
// Verifies and decodes a frame; false when its layout or checksums are wrong.
bool DecodeFrame(const Bytes& bytes, Frame& out);

template <typename Predicate>
bool HostSocket::ReceiveMatching(Datagram& out, Predicate accept, int timeout_ms) {
  // Each wait is bounded; a stream of unwanted datagrams cannot keep the test here for ever.
  for (int tries = 0; tries < 20000; ++tries) {
    if (!Receive(out, timeout_ms)) return false;
    if (accept(out)) return true;
  }
  return false;
}

}  // namespace kesto::lidar_sim::test

#endif  // KESTO_TESTS_TOOLS_LIDAR_SIM_TEST_HOST_H_
