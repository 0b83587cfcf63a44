#include "crc16.h"

#include <array>

namespace kesto::lidar {
namespace {

constexpr uint16_t kPolynomial = 0x1021;

// One entry per value of the byte entering the top of the register (MSB-first form).
constexpr std::array<uint16_t, 256> MakeTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    unsigned crc = byte << 8;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000u) != 0 ? (crc << 1) ^ kPolynomial : crc << 1;
    }
    table[byte] = static_cast<uint16_t>(crc & 0xFFFFu);
  }
  return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();
static_assert(kTable[1] == kPolynomial && kTable[255] == 0x1EF0, "CRC-16 table is wrong");

}  // namespace

uint16_t Crc16(const uint8_t* data, std::size_t size) {
  unsigned crc = 0xFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc = ((crc << 8) ^ kTable[((crc >> 8) ^ data[i]) & 0xFFu]) & 0xFFFFu;
  }
  return static_cast<uint16_t>(crc);
}

}  // namespace kesto::lidar
