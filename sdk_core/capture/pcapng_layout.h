#ifndef KESTO_CAPTURE_PCAPNG_LAYOUT_H_
#define KESTO_CAPTURE_PCAPNG_LAYOUT_H_

// The pcapng numbers the reader and the writer share: block types, the byte-order magic and
// the option codes.

#include <cstdint>

namespace kesto::capture::pcapng {

inline constexpr uint32_t kSectionHeader = 0x0A0D0D0A;  // the same in either byte order
inline constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
inline constexpr uint32_t kInterfaceDescription = 1;
inline constexpr uint32_t kObsoletePacket = 2;
inline constexpr uint32_t kSimplePacket = 3;
inline constexpr uint32_t kEnhancedPacket = 6;

inline constexpr uint16_t kOptionEnd = 0;
inline constexpr uint16_t kOptionInterfaceName = 2;     // in an interface description
inline constexpr uint16_t kOptionUserApplication = 4;   // in a section header
inline constexpr uint16_t kOptionTsResol = 9;
inline constexpr uint16_t kOptionTsOffset = 14;

}  // namespace kesto::capture::pcapng

#endif  // KESTO_CAPTURE_PCAPNG_LAYOUT_H_
