#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crc16.h"
#include "crc32.h"

namespace kesto::lidar {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> Ramp(std::size_t size, unsigned step, unsigned offset) {
  std::vector<uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * step + offset);
  return bytes;
}

// Expected values come from an independent implementation of each catalogued variant, not from
// this code. The 256-byte ramp feeds every table index at least once; the 1376-byte one is a
// full-size payload.
struct CrcCase {
  const char* name;
  std::vector<uint8_t> input;
  uint16_t crc16;
  uint32_t crc32;
};

class CrcCheckValues : public ::testing::TestWithParam<CrcCase> {};

TEST_P(CrcCheckValues, MatchTheCatalogue) {
  const CrcCase& c = GetParam();
  EXPECT_EQ(Crc16(c.input.data(), c.input.size()), c.crc16);
  EXPECT_EQ(Crc32(c.input.data(), c.input.size()), c.crc32);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, CrcCheckValues,
    ::testing::Values(CrcCase{"Check", Bytes("123456789"), 0x29B1, 0xCBF43926u},
                      CrcCase{"Empty", {}, 0xFFFF, 0x00000000u},
                      CrcCase{"OneByte", Bytes("A"), 0xB915, 0xD3D99E8Bu},
                      CrcCase{"EveryByteValue", Ramp(256, 1, 0), 0x3FBD, 0x29058C73u},
                      CrcCase{"FullPayload", Ramp(1376, 7, 3), 0x0452, 0xC2C753BFu},
                      CrcCase{"DiscoveryHeader",
                              {0xAA, 0, 0x18, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                              0x920A, 0xF2E9310Fu}),
    [](const ::testing::TestParamInfo<CrcCase>& param) { return std::string(param.param.name); });

// Each call starts from the initial value: no state is carried from one call to the next.
TEST(Crc, RepeatedCallsAgree) {
  const std::vector<uint8_t> check = Bytes("123456789");
  const std::vector<uint8_t> other = Ramp(100, 3, 1);
  Crc16(other.data(), other.size());
  Crc32(other.data(), other.size());
  EXPECT_EQ(Crc16(check.data(), check.size()), 0x29B1);
  EXPECT_EQ(Crc32(check.data(), check.size()), 0xCBF43926u);
  EXPECT_EQ(Crc16(check.data(), check.size()), 0x29B1);
  EXPECT_EQ(Crc32(check.data(), check.size()), 0xCBF43926u);
}

}  // namespace
}  // namespace kesto::lidar
