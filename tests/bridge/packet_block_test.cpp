// The version-5 block as the bridge fills it: crafted datagrams go through the data handler to
// the bridge's observers, and the block is read back through a second mapping of the same name,
// as the MATLAB reader in another process would see it.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "block_observers.h"
#include "child_process.h"
#include "data_handler.h"
#include "packet_block_layout.h"
#include "packet_block_writer.h"
#include "shared_memory.h"

namespace kesto::bridge {
namespace {

using namespace kesto::block;
using kesto::platform::SharedMemory;
using kesto::platform::ShmResult;

// A receive buffer as the device manager hands it over: 8192 bytes, the datagram at the start.
struct Datagram {
  Datagram(uint8_t data_type, uint64_t timestamp, uint8_t fill_seed) {
    bytes[kPacketDataTypeOffset] = data_type;
    for (int i = 0; i < 8; ++i) {
      bytes[kPacketTimestampOffset + i] = static_cast<uint8_t>(timestamp >> (8 * i));
    }
    for (std::size_t i = kPacketDataOffset; i < bytes.size(); ++i) {
      bytes[i] = static_cast<uint8_t>(i * 7 + fill_seed);
    }
    // Header bytes the block never carries.
    for (std::size_t i = 0; i < kPacketDataTypeOffset; ++i) bytes[i] = 0xEE;
  }
  const KestoLidarEthernetPacket* packet() const {
    return reinterpret_cast<const KestoLidarEthernetPacket*>(bytes.data());
  }
  std::array<uint8_t, 8192> bytes{};
};

class PacketBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SharedMemory::Unlink(name_);
    ASSERT_EQ(writer_.Open(name_, kBlockSize), ShmResult::kOk) << writer_.error();
    ASSERT_EQ(reader_.Open(name_, kBlockSize), ShmResult::kOk) << reader_.error();
    SetBlockView(writer_.data());
    handler_.SetPointCloudObserver(PointCloudCallback, nullptr);
    handler_.SetImuDataObserver(ImuDataCallback, nullptr);
  }
  void TearDown() override {
    SetBlockView(nullptr);
    SharedMemory::Unlink(name_);
  }

  void Send(const Datagram& d) { handler_.Handle(10, 0x0200007Fu, d.packet()); }
  std::vector<uint8_t> Block() const {
    return std::vector<uint8_t>(reader_.data(), reader_.data() + kBlockSize);
  }
  static void ExpectSame(const std::vector<uint8_t>& block, std::size_t offset, const uint8_t* want,
                         std::size_t n, const char* what) {
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(block[offset + i], want[i]) << what << " at block offset " << offset + i;
    }
  }

  // Unique per process: another build's run of this test on the same machine shares the names.
  const std::string name_ = test::UniqueName("kesto-block-test");
  SharedMemory writer_, reader_;
  lidar::DataHandler handler_;
};

TEST_F(PacketBlockTest, FreshBlockReadsAsImuTypeWithAllZeros) {
  for (uint8_t byte : Block()) ASSERT_EQ(byte, 0);
}

TEST_F(PacketBlockTest, ImuWriteFillsTypeTimestampAndValuesOnly) {
  const Datagram imu(0, 0x1122334455667788ull, 3);
  Send(imu);
  const auto block = Block();
  EXPECT_EQ(block[kDataTypeOffset], 0);
  ExpectSame(block, kImuTimestampOffset, imu.bytes.data() + kPacketTimestampOffset, 8, "imu ts");
  ExpectSame(block, kImuValuesOffset, imu.bytes.data() + kPacketDataOffset, 24, "imu values");
  for (std::size_t i = 1; i < 9; ++i) EXPECT_EQ(block[i], 0) << "point timestamp untouched";
  for (std::size_t i = kPointAreaOffset; i < kBlockSize; ++i) ASSERT_EQ(block[i], 0);
}

TEST_F(PacketBlockTest, EachPointTypeCopiesNinetySixRecordsOfItsSize) {
  struct Case {
    uint8_t type;
    std::size_t bytes;
  };
  for (const Case c : {Case{1, 1344}, Case{2, 768}, Case{3, 960}}) {
    SCOPED_TRACE(int(c.type));
    std::memset(writer_.data(), 0, kBlockSize);
    const Datagram point(c.type, 0xA1B2C3D4E5F60718ull + c.type, c.type);
    Send(point);
    const auto block = Block();
    EXPECT_EQ(block[kDataTypeOffset], c.type);
    ExpectSame(block, kPointTimestampOffset, point.bytes.data() + kPacketTimestampOffset, 8, "ts");
    ExpectSame(block, kPointAreaOffset, point.bytes.data() + kPacketDataOffset, c.bytes, "records");
    for (std::size_t i = kPointAreaOffset + c.bytes; i < kBlockSize; ++i) ASSERT_EQ(block[i], 0);
    for (std::size_t i = kImuTimestampOffset; i < kPointAreaOffset; ++i) ASSERT_EQ(block[i], 0);
  }
}

TEST_F(PacketBlockTest, PointWriteKeepsTheNewestImuData) {
  const Datagram imu(0, 77, 9);
  const Datagram point(1, 88, 1);
  Send(imu);
  Send(point);
  const auto block = Block();
  EXPECT_EQ(block[kDataTypeOffset], 1);
  ExpectSame(block, kPointTimestampOffset, point.bytes.data() + kPacketTimestampOffset, 8, "pt ts");
  ExpectSame(block, kImuTimestampOffset, imu.bytes.data() + kPacketTimestampOffset, 8, "imu ts");
  ExpectSame(block, kImuValuesOffset, imu.bytes.data() + kPacketDataOffset, 24, "imu values");
}

TEST_F(PacketBlockTest, ShorterTypeLeavesTheTailOfALongerOne) {
  const Datagram type1(1, 1, 1);
  const Datagram type2(2, 2, 50);
  Send(type1);
  Send(type2);
  const auto block = Block();
  EXPECT_EQ(block[kDataTypeOffset], 2);
  ExpectSame(block, 41, type2.bytes.data() + kPacketDataOffset, 768, "type-2 records");
  ExpectSame(block, 809, type1.bytes.data() + kPacketDataOffset + 768, 1385 - 809, "type-1 tail");
}

TEST_F(PacketBlockTest, UnknownTypesLeaveEveryByteUnchanged) {
  Send(Datagram(1, 5, 5));
  const auto before = Block();
  for (int type : {4, 5, 7, 200, 255}) Send(Datagram(static_cast<uint8_t>(type), 99, 99));
  EXPECT_EQ(Block(), before);
}

TEST_F(PacketBlockTest, MissingViewOrPacketWritesNothing) {
  SetBlockView(nullptr);
  Send(Datagram(1, 5, 5));
  Send(Datagram(0, 5, 5));
  for (uint8_t byte : Block()) ASSERT_EQ(byte, 0);
  SetBlockView(writer_.data());
  PointCloudCallback(0, 10, nullptr, nullptr);
  ImuDataCallback(0, 10, nullptr, nullptr);
  for (uint8_t byte : Block()) ASSERT_EQ(byte, 0);
}

TEST_F(PacketBlockTest, WritersIgnorePacketsOfTheOtherKind) {
  // The data handler already routes by type; the writers check it again on their own.
  WriteImuPacket(writer_.data(), Datagram(1, 5, 5).packet());
  WritePointPacket(writer_.data(), Datagram(0, 5, 5).packet());
  for (uint8_t byte : Block()) ASSERT_EQ(byte, 0);
}

// The name and size every MATLAB and Octave reader opens: a name with a space in it, and a size
// that is no multiple of a page.
TEST(PacketBlockName, TheRealNameMapsAtTheRealSize) {
  EXPECT_STREQ(kBlockName, "brenic-shm v5");
  EXPECT_EQ(kBlockSize, 1385u);
  SharedMemory real;
  ASSERT_EQ(real.Open(kBlockName, kBlockSize), ShmResult::kOk) << real.error();
  // Nothing more on the real block: a bridge or reader outside the test may be using it. Two
  // mappings of a name of the same form, private to this process, are one block.
  const std::string name = std::string(kBlockName) + " " + test::UniqueName("test");
  SharedMemory::Unlink(name);
  SharedMemory a, b;
  ASSERT_EQ(a.Open(name, kBlockSize), ShmResult::kOk) << a.error();
  ASSERT_EQ(b.Open(name, kBlockSize), ShmResult::kOk) << b.error();
  EXPECT_NE(a.data(), b.data());
  a.data()[0] = 3;
  a.data()[kBlockSize - 1] = 0xA5;
  EXPECT_EQ(b.data()[0], 3);
  EXPECT_EQ(b.data()[kBlockSize - 1], 0xA5);
  b.data()[kImuTimestampOffset] = 0x5A;
  EXPECT_EQ(a.data()[kImuTimestampOffset], 0x5A);
  a.Close();
  b.Close();
  SharedMemory::Unlink(name);
}

}  // namespace
}  // namespace kesto::bridge
