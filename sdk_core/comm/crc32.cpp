#include "crc32.h"

#include <array>

namespace kesto::lidar {
namespace {

constexpr uint32_t kReflectedPolynomial = 0xEDB88320u;

// One entry per value of the byte entering the bottom of the register (reflected form).
constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1u) != 0 ? (crc >> 1) ^ kReflectedPolynomial : crc >> 1;
    }
    table[byte] = crc;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();
static_assert(kTable[1] == 0x77073096u && kTable[255] == 0x2D02EF8Du, "CRC-32 table is wrong");

}  // namespace

uint32_t Crc32(const uint8_t* data, std::size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc = (crc >> 8) ^ kTable[(crc ^ data[i]) & 0xFFu];
  }
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace kesto::lidar
