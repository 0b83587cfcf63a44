#ifndef KESTO_CAPTURE_WIRE_ORDER_H_
#define KESTO_CAPTURE_WIRE_ORDER_H_

// Loads of unaligned values in a stated byte order: the capture formats are in the writer's
// order (told by their magic numbers), the protocol headers inside them in network order.

#include <cstdint>

#include "little_endian.h"

namespace kesto::capture {

inline uint16_t LoadBe16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

inline uint32_t LoadBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// The byte order of one classic pcap file or one pcapng section.
struct FileOrder {
  bool big_endian = false;

  uint16_t U16(const uint8_t* p) const {
    return big_endian ? LoadBe16(p) : ::kesto::LoadU16(p);
  }
  uint32_t U32(const uint8_t* p) const { return big_endian ? LoadBe32(p) : ::kesto::LoadU32(p); }
  uint64_t U64(const uint8_t* p) const {
    const uint64_t first = U32(p), second = U32(p + 4);
    return big_endian ? (first << 32) | second : (second << 32) | first;
  }
};

}  // namespace kesto::capture

#endif  // KESTO_CAPTURE_WIRE_ORDER_H_
