// lidartap5 in the fake MEX host with the bridge's own writer filling "brenic-shm v5".
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "block_bytes.h"
#include "packet_block_layout.h"
#include "packet_block_writer.h"
#include "reader_host_fixture.h"

namespace kesto::test {
namespace {

using namespace kesto::block;

// A datagram in a receive buffer as the kit hands it over.
struct Datagram {
  Datagram(std::uint8_t type, std::uint64_t timestamp) {
    bytes[kPacketDataTypeOffset] = type;
    PutLe(bytes.data() + kPacketTimestampOffset, timestamp, 8);
  }
  std::uint8_t* data() { return bytes.data() + kPacketDataOffset; }
  const KestoLidarEthernetPacket* packet() const {
    return reinterpret_cast<const KestoLidarEthernetPacket*>(bytes.data());
  }
  std::array<std::uint8_t, 8192> bytes{};
};

// An IMU packet, then a type-2 point packet with record k = (-k, k - 48, 1000 k, k, 255 - k).
std::vector<double> FillKnown(std::uint8_t* block) {
  Datagram imu(0, 5000000001ull);
  const float values[6] = {0.5f, -1.25f, 3.75f, 100.0f, -0.015625f, 9.80665f};
  for (std::size_t j = 0; j < 6; ++j) PutF32(imu.data() + 4 * j, values[j]);
  bridge::WriteImuPacket(block, imu.packet());

  Datagram points(2, 4000000002ull);
  for (std::size_t k = 0; k < 96; ++k) {
    std::uint8_t* r = points.data() + 8 * k;
    const int ik = static_cast<int>(k);
    PutLe(r, static_cast<std::uint16_t>(-ik), 2);
    PutLe(r + 2, static_cast<std::uint16_t>(ik - 48), 2);
    PutLe(r + 4, static_cast<std::uint16_t>(1000 * ik), 2);
    r[6] = static_cast<std::uint8_t>(k);
    r[7] = static_cast<std::uint8_t>(255 - k);
  }
  bridge::WritePointPacket(block, points.packet());

  std::vector<double> m(5 * 98, 0.0);
  m[0] = 2;
  m[1] = 4000000002.0;
  m[3 + 5] = 5000000001.0;
  for (std::size_t k = 0; k < 96; ++k) {
    double* c = m.data() + 5 * (k + 2);
    const double dk = static_cast<double>(k);
    c[0] = -dk;
    c[1] = dk - 48;
    c[2] = static_cast<double>(static_cast<std::int16_t>(static_cast<std::uint16_t>(1000 * k)));
    c[3] = dk;
    c[4] = 255 - dk;
  }
  return m;
}

}  // namespace

const PluginUnderTest& ThePlugin() {
  static const PluginUnderTest plugin{kBlockName,
                                      kBlockSize,
                                      5,
                                      98,
                                      "Usage: lidartap5                \n",
                                      "data=lidartap5;                 \n",
                                      FillKnown};
  return plugin;
}

namespace {

TEST_F(ReaderHostTest, UnknownDataTypePrintsOneLineAndReturnsTheTypeOnly) {
  FillKnown(Writer());
  Writer()[kDataTypeOffset] = 7;
  ASSERT_FALSE(Call(1, 0).failed);  // maps; the banner is not the subject here
  const MexCall call = Call(1, 0);
  EXPECT_FALSE(call.failed);
  EXPECT_EQ(call.prints, std::vector<std::string>{"**************unknown data format*******\n"});
  ASSERT_EQ(call.values.size(), 490u);
  EXPECT_EQ(call.values[0], 7.0);
  for (std::size_t i = 1; i < call.values.size(); ++i) ASSERT_EQ(call.values[i], 0.0) << i;
}

TEST_F(ReaderHostTest, ImuPacketAfterPointsShowsImuValuesAndBothTimestamps) {
  FillKnown(Writer());
  Datagram imu(0, 77);
  PutF32(imu.data(), -3.5f);
  bridge::WriteImuPacket(Writer(), imu.packet());
  const MexCall call = Call(1, 0);
  ASSERT_EQ(call.values.size(), 490u);
  EXPECT_EQ(call.values[0], 0.0);
  EXPECT_EQ(call.values[1], 4000000002.0);  // the point timestamp stays
  EXPECT_EQ(call.values[2], -3.5);
  EXPECT_EQ(call.values[8], 77.0);
  EXPECT_EQ(call.values[9], 0.0);  // data(5,2)
  for (std::size_t i = 10; i < call.values.size(); ++i) ASSERT_EQ(call.values[i], 0.0) << i;
}

}  // namespace
}  // namespace kesto::test
