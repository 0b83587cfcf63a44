#include "datagram_decode.h"

#include <algorithm>
#include <cstring>

#include "wire_order.h"

namespace kesto::capture {
namespace {

constexpr uint16_t kEtherIpv4 = 0x0800;
// 802.1Q, 802.1ad and the older QinQ tag: four bytes each, the inner type after them.
constexpr uint16_t kEtherVlanTags[] = {0x8100, 0x88A8, 0x9100};

constexpr uint8_t kProtocolUdp = 17;
constexpr size_t kUdpHeaderBytes = 8;

bool IsVlanTag(uint16_t ether_type) {
  return std::find(std::begin(kEtherVlanTags), std::end(kEtherVlanTags), ether_type) !=
         std::end(kEtherVlanTags);
}

DecodeResult DecodeIpv4(const uint8_t* ip, size_t size, CapturedDatagram& datagram) {
  if (size < 20 || (ip[0] >> 4) != 4) return DecodeResult::kNoDatagram;
  const size_t header = size_t{ip[0] & 0x0Fu} * 4;
  const size_t total = LoadBe16(ip + 2);
  if (header < 20 || header > size || total < header) return DecodeResult::kNoDatagram;
  const uint16_t fragment = LoadBe16(ip + 6);
  // Only a whole datagram, never a fragment: more-fragments set or a non-zero offset.
  if ((fragment & 0x3FFFu) != 0 || ip[9] != kProtocolUdp) return DecodeResult::kNoDatagram;
  // Link-layer padding lies beyond the IP total length; the capture may stop before it.
  const size_t ip_payload = std::min(total, size) - header;
  const uint8_t* udp = ip + header;
  if (ip_payload < kUdpHeaderBytes) return DecodeResult::kNoDatagram;
  const size_t udp_length = LoadBe16(udp + 4);
  if (udp_length < kUdpHeaderBytes) return DecodeResult::kNoDatagram;
  const size_t kept = std::min(udp_length, ip_payload);
  std::memcpy(&datagram.src_ip, ip + 12, 4);
  std::memcpy(&datagram.dst_ip, ip + 16, 4);
  datagram.src_port = LoadBe16(udp);
  datagram.dst_port = LoadBe16(udp + 2);
  datagram.payload.assign(udp + kUdpHeaderBytes, udp + kept);
  datagram.truncated = kept < udp_length;
  return DecodeResult::kDatagram;
}

// The network layer after an Ethernet type field at `type_at`, past any VLAN tags.
DecodeResult DecodeAfterEtherType(const uint8_t* bytes, size_t size, size_t type_at,
                                  CapturedDatagram& datagram) {
  for (;;) {
    if (size < type_at + 2) return DecodeResult::kNoDatagram;
    const uint16_t ether_type = LoadBe16(bytes + type_at);
    if (ether_type == kEtherIpv4) return DecodeIpv4(bytes + type_at + 2, size - type_at - 2, datagram);
    if (!IsVlanTag(ether_type)) return DecodeResult::kNoDatagram;
    type_at += 4;
  }
}

}  // namespace

bool IsDecodableLinkType(uint32_t link_type) {
  switch (link_type) {
    case kLinkEthernet:
    case kLinkRaw:
    case kLinkIpv4:
    case kLinkLinuxSll:
    case kLinkLinuxSll2:
      return true;
    default:
      return false;
  }
}

DecodeResult DecodeDatagram(uint32_t link_type, const uint8_t* bytes, size_t size,
                            CapturedDatagram& datagram) {
  switch (link_type) {
    case kLinkEthernet:  // destination, source, type
      return DecodeAfterEtherType(bytes, size, 12, datagram);
    case kLinkRaw:
    case kLinkIpv4:
      return DecodeIpv4(bytes, size, datagram);
    case kLinkLinuxSll:  // packet type, address type and length, 8 address bytes, protocol
      return DecodeAfterEtherType(bytes, size, 14, datagram);
    case kLinkLinuxSll2: {  // protocol first, then 18 bytes of interface and address
      constexpr size_t kSll2HeaderBytes = 20;
      if (size < kSll2HeaderBytes) return DecodeResult::kNoDatagram;
      if (LoadBe16(bytes) == kEtherIpv4) return DecodeIpv4(bytes + kSll2HeaderBytes, size - kSll2HeaderBytes, datagram);
      return DecodeResult::kNoDatagram;
    }
    default:
      return DecodeResult::kUnknownLinkType;
  }
}

}  // namespace kesto::capture
