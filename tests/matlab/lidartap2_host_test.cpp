// lidartap2 in the fake MEX host, with "brenic-shm" filled byte by byte as an external writer
// would: no part of this system writes that block.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "block_bytes.h"
#include "legacy_block_layout.h"
#include "packet_block_layout.h"
#include "packet_block_writer.h"
#include "reader_host_fixture.h"

namespace kesto::test {
namespace {

using namespace kesto::legacy_block;

// Value i of the 288 = (i odd ? -1 : 1) * (i * 1001 + 1); floats j = 0.25 * (j + 1) - 1;
// the unread last byte set.
std::vector<double> FillKnown(std::uint8_t* block) {
  std::vector<double> m(3 * 98);
  for (std::size_t i = 0; i < 288; ++i) {
    const std::int32_t v = (i % 2 == 1 ? -1 : 1) * static_cast<std::int32_t>(i * 1001 + 1);
    PutLe(block + 4 * i, static_cast<std::uint32_t>(v), 4);
    m[i] = v;
  }
  for (std::size_t j = 0; j < 6; ++j) {
    const float f = 0.25f * static_cast<float>(j + 1) - 1.0f;
    PutF32(block + kFloatOffset + 4 * j, f);
    m[288 + j] = f;
  }
  block[kBlockSize - 1] = 0x5A;
  return m;
}

}  // namespace

const PluginUnderTest& ThePlugin() {
  static const PluginUnderTest plugin{kBlockName,
                                      kBlockSize,
                                      3,
                                      98,
                                      "Usage: lidartap2               \n",
                                      "data=lidartap2;                \n",
                                      FillKnown};
  return plugin;
}

namespace {

TEST_F(ReaderHostTest, TheVersion5BlockIsAnotherObject) {
  platform::SharedMemory v5;
  ASSERT_EQ(v5.Open(kesto::block::kBlockName, kesto::block::kBlockSize), platform::ShmResult::kOk);
  std::array<std::uint8_t, 8192> packet{};
  packet.fill(0x3C);
  packet[kesto::block::kPacketDataTypeOffset] = 1;
  bridge::WritePointPacket(v5.data(), reinterpret_cast<const KestoLidarEthernetPacket*>(packet.data()));

  const MexCall call = Call(1, 0);
  ASSERT_EQ(call.values.size(), 294u);
  for (double v : call.values) ASSERT_EQ(v, 0.0);
  v5.Close();
  platform::SharedMemory::Unlink(kesto::block::kBlockName);
}

TEST_F(ReaderHostTest, MinusOneFromAllOnesAndTheLastByteIsNotRead) {
  std::fill(Writer(), Writer() + 4, std::uint8_t{0xFF});
  const MexCall first = Call(1, 0);
  ASSERT_EQ(first.values.size(), 294u);
  EXPECT_EQ(first.values[0], -1.0);
  Writer()[kBlockSize - 1] = 0xFF;
  EXPECT_EQ(Call(1, 0).values, first.values);
}

}  // namespace
}  // namespace kesto::test
