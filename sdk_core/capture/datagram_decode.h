#ifndef KESTO_CAPTURE_DATAGRAM_DECODE_H_
#define KESTO_CAPTURE_DATAGRAM_DECODE_H_

// From one captured packet to the IPv4/UDP datagram it carries, through its link layer.

#include <cstddef>
#include <cstdint>

#include "captured_packet.h"

namespace kesto::capture {

enum class DecodeResult {
  kDatagram,         // `datagram` holds it (time stamp left to the caller)
  kNoDatagram,       // another protocol, a later fragment, or headers that do not hold
  kUnknownLinkType,  // the decoder cannot read this link layer
};

DecodeResult DecodeDatagram(uint32_t link_type, const uint8_t* bytes, size_t size,
                            CapturedDatagram& datagram);

// Whether DecodeDatagram reads this link layer.
bool IsDecodableLinkType(uint32_t link_type);

}  // namespace kesto::capture

#endif  // KESTO_CAPTURE_DATAGRAM_DECODE_H_
