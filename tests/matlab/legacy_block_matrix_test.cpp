// The legacy block into the 3 x 98 matrix: crafted blocks, aligned and misaligned.
#include "legacy_block_matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "block_bytes.h"
#include "legacy_block_layout.h"

namespace kesto::matlab {
namespace {

using namespace kesto::legacy_block;
using test::BlockBuffer;
using test::PutF32;
using test::PutLe;

class LegacyBlockMatrixTest : public ::testing::TestWithParam<std::size_t> {
 protected:
  std::vector<double> Convert() {
    std::vector<double> matrix(kLegacyMatrixElements, -999.0);
    ConvertLegacyBlock(block_.data(), matrix.data());
    return matrix;
  }
  BlockBuffer block_{kBlockSize, GetParam()};
};

TEST_P(LegacyBlockMatrixTest, FreshBlockGivesZeros) {
  for (double v : Convert()) ASSERT_EQ(v, 0.0);
}

TEST_P(LegacyBlockMatrixTest, AllOnesIsMinusOne) {
  block_.Fill(0, 4, 0xFF);
  const auto m = Convert();
  EXPECT_EQ(m[0], -1.0);
  for (std::size_t i = 1; i < m.size(); ++i) ASSERT_EQ(m[i], 0.0) << i;
}

// Element i is the i-th 32-bit value of the block, the six floats follow; byte 1176 is unread.
TEST_P(LegacyBlockMatrixTest, ValuesInBlockOrderThenFloats) {
  const float floats[6] = {1.5f, -0.25f, std::numeric_limits<float>::infinity(),
                           std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min(),
                           -1.0e-3f};
  std::vector<double> expected(kLegacyMatrixElements);
  for (std::size_t i = 0; i < 288; ++i) {
    const std::int64_t v = (i % 2 == 0 ? 1 : -1) * static_cast<std::int64_t>(i * 7454083 + 3);
    const auto value = static_cast<std::int32_t>(v);
    PutLe(block_.data() + 4 * i, static_cast<std::uint32_t>(value), 4);
    expected[i] = value;
  }
  PutLe(block_.data() + 4 * 286, 0x80000000u, 4);
  expected[286] = -2147483648.0;
  PutLe(block_.data() + 4 * 287, 0x7FFFFFFFu, 4);
  expected[287] = 2147483647.0;
  for (std::size_t j = 0; j < 6; ++j) {
    PutF32(block_.data() + kFloatOffset + 4 * j, floats[j]);
    expected[288 + j] = floats[j];
  }
  for (std::uint8_t last : {std::uint8_t{0}, std::uint8_t{0xAB}}) {
    block_[kBlockSize - 1] = last;
    const auto m = Convert();
    for (std::size_t i = 0; i < m.size(); ++i) ASSERT_EQ(m[i], expected[i]) << "element " << i;
  }
  // In MATLAB's terms: data(1:3,96) is record 95, data(:,97) floats 1-3, data(:,98) floats 4-6.
  const auto m = Convert();
  EXPECT_EQ(m[0 + 3 * 96], 1.5);
  EXPECT_EQ(m[2 + 3 * 97], static_cast<double>(-1.0e-3f));
}

INSTANTIATE_TEST_SUITE_P(Alignments, LegacyBlockMatrixTest, ::testing::Values(0, 1, 2));

}  // namespace
}  // namespace kesto::matlab
