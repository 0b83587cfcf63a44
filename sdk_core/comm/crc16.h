#ifndef KESTO_LIDAR_CRC16_H_
#define KESTO_LIDAR_CRC16_H_

#include <cstddef>
#include <cstdint>

namespace kesto::lidar {

// CRC-16/CCITT-FALSE (also catalogued as CRC-16/IBM-3740): polynomial 0x1021, initial value
// 0xFFFF, not reflected, no final XOR. Protects the command frame header. Every call starts
// from the initial value; pure, safe from any thread.
uint16_t Crc16(const uint8_t* data, std::size_t size);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_CRC16_H_
