#ifndef KESTO_CAPTURE_CAPTURED_PACKET_H_
#define KESTO_CAPTURE_CAPTURED_PACKET_H_

// What a capture holds, once read: whole packets as the capturing host saw them, and the UDP
// datagrams inside them in the form the kit's receive path uses.

#include <cstdint>
#include <vector>

namespace kesto::capture {

// Link types (the capture formats' LINKTYPE_ numbers) the datagram decoder understands.
inline constexpr uint32_t kLinkEthernet = 1;
inline constexpr uint32_t kLinkRaw = 101;        // raw IP, version in the first nibble
inline constexpr uint32_t kLinkLinuxSll = 113;   // Linux "cooked" capture, version 1
inline constexpr uint32_t kLinkIpv4 = 228;       // raw IPv4
inline constexpr uint32_t kLinkLinuxSll2 = 276;  // Linux "cooked" capture, version 2

enum class ReadStatus {
  kItem,   // a packet or datagram was stored
  kEnd,    // the input ended cleanly; nothing was stored
  kError,  // the input is not a capture or is damaged; the reader's error() says why, and stays
};

struct CapturedPacket {
  uint64_t time_ns = 0;          // since 1970-01-01 UTC; 0 where the format records none
  uint32_t link_type = 0;        // of the interface the packet was captured on
  uint32_t interface_id = 0;     // within its pcapng section; 0 in classic pcap
  uint32_t original_length = 0;  // on the wire; `bytes` may hold less (snapshot length)
  std::vector<uint8_t> bytes;
};

struct CapturedDatagram {
  uint64_t time_ns = 0;
  uint32_t src_ip = 0;  // network byte order, as the kit's handles
  uint32_t dst_ip = 0;
  uint16_t src_port = 0;  // host order
  uint16_t dst_port = 0;
  std::vector<uint8_t> payload;
  bool truncated = false;  // the capture kept less than the UDP length says
};

}  // namespace kesto::capture

#endif  // KESTO_CAPTURE_CAPTURED_PACKET_H_
