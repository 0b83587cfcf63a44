#ifndef KESTO_LIDAR_CRC32_H_
#define KESTO_LIDAR_CRC32_H_

#include <cstddef>
#include <cstdint>

namespace kesto::lidar {

// CRC-32/ISO-HDLC (the Ethernet and zip CRC): polynomial 0x04C11DB7 reflected (0xEDB88320),
// initial value and final XOR 0xFFFFFFFF. Protects the command frame payload. Every call starts
// from the initial value; pure, safe from any thread.
uint32_t Crc32(const uint8_t* data, std::size_t size);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_CRC32_H_
