// The version-5 block into the 5 x 98 matrix: crafted blocks, each checked element by element
// against what the matrix must hold (every element not listed is 0), aligned and misaligned.
#include "packet_block_matrix.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "block_bytes.h"
#include "packet_block_layout.h"
#include "packet_block_writer.h"

namespace kesto::matlab {
namespace {

using namespace kesto::block;
using test::BlockBuffer;
using test::PutF32;
using test::PutLe;

// MATLAB's 1-based (row, column) of the 5 x 98 matrix.
using Element = std::pair<int, int>;
std::size_t Index(Element e) {
  return static_cast<std::size_t>(e.first - 1) + kPacketMatrixRows * static_cast<std::size_t>(e.second - 1);
}
// The column of point record k.
int RecordColumn(int k) { return k + 3; }
std::uint8_t* Record(BlockBuffer& b, std::uint8_t type, std::size_t k) {
  return b.data() + kPointAreaOffset + k * RecordSize(type);
}

struct BlockCase {
  std::string name;
  std::function<void(BlockBuffer&)> craft;
  bool known_type;
  std::map<Element, double> expected;
};

const float kImu[6] = {1.5f, -2.25f, 3.0e-3f, 65504.0f, -0.0f, 1.0e-40f};

// Stale bytes everywhere the data type does not read: they must not reach the matrix.
void FillJunk(BlockBuffer& b) { b.Fill(0, kBlockSize, 0xA5); }

void WriteImu(BlockBuffer& b) {
  for (std::size_t j = 0; j < 6; ++j) PutF32(b.data() + kImuValuesOffset + 4 * j, kImu[j]);
}

std::vector<BlockCase> Cases() {
  std::vector<BlockCase> cases;
  cases.push_back({"fresh_block_is_imu_type_all_zero", [](BlockBuffer&) {}, true, {}});

  cases.push_back({"imu_values_and_both_timestamps",
                   [](BlockBuffer& b) {
                     FillJunk(b);
                     b[0] = 0;
                     PutLe(b.data() + kPointTimestampOffset, 1234567890123ull, 8);
                     PutLe(b.data() + kImuTimestampOffset, 987654321ull, 8);
                     WriteImu(b);
                   },
                   true,
                   {{{2, 1}, 1234567890123.0},
                    {{4, 2}, 987654321.0},
                    {{3, 1}, 1.5},
                    {{4, 1}, -2.25},
                    {{5, 1}, static_cast<double>(3.0e-3f)},
                    {{1, 2}, 65504.0},
                    {{2, 2}, -0.0},
                    {{3, 2}, static_cast<double>(1.0e-40f)}}});

  cases.push_back({"type1_signed_32_bit_fields",
                   [](BlockBuffer& b) {
                     b.Fill(0, kBlockSize, 0);
                     b[0] = 1;
                     PutLe(b.data() + kPointTimestampOffset, 42, 8);
                     PutLe(b.data() + kImuTimestampOffset, 7, 8);
                     WriteImu(b);  // the IMU values stay 0 for point types
                     std::uint8_t* r0 = Record(b, 1, 0);
                     PutLe(r0, 0xFFFFFFFFu, 4);
                     PutLe(r0 + 4, 0x80000000u, 4);
                     PutLe(r0 + 8, 0x7FFFFFFFu, 4);
                     r0[12] = 0;
                     r0[13] = 255;
                     std::uint8_t* r95 = Record(b, 1, 95);
                     PutLe(r95, 123456, 4);
                     PutLe(r95 + 4, static_cast<std::uint32_t>(-654321), 4);
                     PutLe(r95 + 8, 1, 4);
                     r95[12] = 17;
                     r95[13] = 200;
                   },
                   true,
                   {{{1, 1}, 1.0},
                    {{2, 1}, 42.0},
                    {{4, 2}, 7.0},
                    {{1, RecordColumn(0)}, -1.0},
                    {{2, RecordColumn(0)}, -2147483648.0},
                    {{3, RecordColumn(0)}, 2147483647.0},
                    {{5, RecordColumn(0)}, 255.0},
                    {{1, RecordColumn(95)}, 123456.0},
                    {{2, RecordColumn(95)}, -654321.0},
                    {{3, RecordColumn(95)}, 1.0},
                    {{4, RecordColumn(95)}, 17.0},
                    {{5, RecordColumn(95)}, 200.0}}});

  cases.push_back({"type2_sign_extension_and_stale_type1_tail_ignored",
                   [](BlockBuffer& b) {
                     b[0] = 2;
                     // Bytes past the type-2 area, as a longer type-1 packet left them.
                     b.Fill(kPointAreaOffset + 96 * 8, kBlockSize, 0x7F);
                     std::uint8_t* r0 = Record(b, 2, 0);
                     r0[0] = 0xFF;
                     r0[1] = 0xFF;
                     PutLe(r0 + 2, 0x8000, 2);
                     PutLe(r0 + 4, 0x7FFF, 2);
                     r0[6] = 0x80;
                     r0[7] = 0x01;
                     std::uint8_t* r95 = Record(b, 2, 95);
                     PutLe(r95, static_cast<std::uint16_t>(-300), 2);
                     PutLe(r95 + 6, 0xFFFF, 2);
                   },
                   true,
                   {{{1, 1}, 2.0},
                    {{1, RecordColumn(0)}, -1.0},
                    {{2, RecordColumn(0)}, -32768.0},
                    {{3, RecordColumn(0)}, 32767.0},
                    {{4, RecordColumn(0)}, 128.0},
                    {{5, RecordColumn(0)}, 1.0},
                    {{1, RecordColumn(95)}, -300.0},
                    {{4, RecordColumn(95)}, 255.0},
                    {{5, RecordColumn(95)}, 255.0}}});

  cases.push_back({"type3_unsigned_fields",
                   [](BlockBuffer& b) {
                     b[0] = 3;
                     std::uint8_t* r0 = Record(b, 3, 0);
                     PutLe(r0, 0xFFFFFFFFu, 4);
                     PutLe(r0 + 4, 0xFFFF, 2);
                     PutLe(r0 + 6, 0x8000, 2);
                     r0[8] = 9;
                     r0[9] = 0xFE;
                     PutLe(Record(b, 3, 95), 0x80000000u, 4);
                   },
                   true,
                   {{{1, 1}, 3.0},
                    {{1, RecordColumn(0)}, 4294967295.0},
                    {{2, RecordColumn(0)}, 65535.0},
                    {{3, RecordColumn(0)}, 32768.0},
                    {{4, RecordColumn(0)}, 9.0},
                    {{5, RecordColumn(0)}, 254.0},
                    {{1, RecordColumn(95)}, 2147483648.0}}});

  // A torn block: the writer has set the new type but not yet copied the new records, so the
  // type-1 bytes are read with the type-2 layout.
  cases.push_back({"torn_type2_header_over_type1_records",
                   [](BlockBuffer& b) {
                     b[0] = 2;
                     std::uint8_t* r = Record(b, 1, 0);
                     PutLe(r, 0x00020001u, 4);
                     PutLe(r + 4, 0x0004FFFFu, 4);
                   },
                   true,
                   {{{1, 1}, 2.0},
                    {{1, RecordColumn(0)}, 1.0},
                    {{2, RecordColumn(0)}, 2.0},
                    {{3, RecordColumn(0)}, -1.0},
                    {{4, RecordColumn(0)}, 4.0}}});

  cases.push_back({"imu_type_over_point_records_shows_no_records",
                   [](BlockBuffer& b) {
                     b.Fill(kPointAreaOffset, kBlockSize, 0x11);
                     b[0] = 0;
                   },
                   true,
                   {}});

  cases.push_back({"timestamps_round_to_nearest_double",
                   [](BlockBuffer& b) {
                     b[0] = 1;
                     PutLe(b.data() + kPointTimestampOffset, (1ull << 53) + 1, 8);  // tie: to even
                     PutLe(b.data() + kImuTimestampOffset, (1ull << 63) + 1025, 8);  // above the tie
                   },
                   true,
                   {{{1, 1}, 1.0}, {{2, 1}, 9007199254740992.0}, {{4, 2}, 9223372036854777856.0}}});

  cases.push_back({"largest_timestamp",
                   [](BlockBuffer& b) {
                     b[0] = 3;
                     PutLe(b.data() + kPointTimestampOffset, ~0ull, 8);
                     PutLe(b.data() + kImuTimestampOffset, (1ull << 53) - 1, 8);
                   },
                   true,
                   {{{1, 1}, 3.0}, {{2, 1}, 18446744073709551616.0}, {{4, 2}, 9007199254740991.0}}});

  for (std::uint8_t type : {std::uint8_t{4}, std::uint8_t{7}, std::uint8_t{255}}) {
    cases.push_back({"unknown_type_" + std::to_string(type) + "_gives_type_only",
                     [type](BlockBuffer& b) {
                       FillJunk(b);
                       b[0] = type;
                     },
                     false,
                     {{{1, 1}, static_cast<double>(type)}}});
  }
  return cases;
}

class PacketBlockMatrixTest : public ::testing::TestWithParam<std::tuple<BlockCase, std::size_t>> {};

TEST_P(PacketBlockMatrixTest, EveryElementIsWhatTheBlockSays) {
  const auto& [c, misalign] = GetParam();
  BlockBuffer block(kBlockSize, misalign);
  c.craft(block);
  std::vector<double> matrix(kPacketMatrixElements, -999.0);  // stale output must be overwritten
  EXPECT_EQ(ConvertPacketBlock(block.data(), matrix.data()), c.known_type);

  std::vector<double> expected(kPacketMatrixElements, 0.0);
  for (const auto& [element, value] : c.expected) expected[Index(element)] = value;
  for (std::size_t i = 0; i < kPacketMatrixElements; ++i) {
    ASSERT_EQ(matrix[i], expected[i]) << "data(" << i % 5 + 1 << "," << i / 5 + 1 << ")";
    ASSERT_EQ(std::signbit(matrix[i]), std::signbit(expected[i])) << "sign of element " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Blocks, PacketBlockMatrixTest,
                         ::testing::Combine(::testing::ValuesIn(Cases()), ::testing::Values(0, 1, 3)),
                         [](const auto& p) {
                           return std::get<0>(p.param).name + "_at_" +
                                  std::to_string(std::get<1>(p.param));
                         });

// The reader and the bridge's writer agree on the layout: a packet written by the writer comes
// back field by field from the packet's own bytes.
TEST(PacketBlockMatrixRoundTrip, WhatTheWriterCopiesComesBackPerRecord) {
  for (std::uint8_t type : {std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{3}}) {
    SCOPED_TRACE(static_cast<int>(type));
    std::array<std::uint8_t, 8192> packet{};
    packet[kPacketDataTypeOffset] = type;
    PutLe(packet.data() + kPacketTimestampOffset, 0x0000123456789ABCull, 8);
    for (std::size_t i = kPacketDataOffset; i < packet.size(); ++i) {
      packet[i] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    std::vector<std::uint8_t> block(kBlockSize, 0);
    bridge::WritePointPacket(block.data(), reinterpret_cast<const KestoLidarEthernetPacket*>(packet.data()));

    std::vector<double> matrix(kPacketMatrixElements);
    ASSERT_TRUE(ConvertPacketBlock(block.data(), matrix.data()));
    EXPECT_EQ(matrix[0], type);
    EXPECT_EQ(matrix[1], static_cast<double>(0x0000123456789ABCull));
    const std::size_t size = RecordSize(type);
    for (std::size_t k = 0; k < kRecordsPerBlock; ++k) {
      const std::uint8_t* r = packet.data() + kPacketDataOffset + k * size;
      const double* column = matrix.data() + (k + 2) * kPacketMatrixRows;
      const std::size_t attr = size - 2;
      ASSERT_EQ(column[3], r[attr]) << "record " << k;
      ASSERT_EQ(column[4], r[attr + 1]) << "record " << k;
      const std::size_t width = type == 2 ? 2 : 4;
      std::uint32_t raw = 0;
      for (std::size_t i = 0; i < width; ++i) raw |= static_cast<std::uint32_t>(r[i]) << (8 * i);
      double first = raw;  // type 3: unsigned
      if (type == 1) first = static_cast<std::int32_t>(raw);
      if (type == 2) first = static_cast<std::int16_t>(raw);
      ASSERT_EQ(column[0], first) << "record " << k;
    }
  }
}

}  // namespace
}  // namespace kesto::matlab
