// Decoding of stream packets into lidarstream's point and IMU rows: every record type at its
// extremes, lengths that cut records, packets that give no row, and the column-major order.
#include "stream_rows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "block_bytes.h"

namespace kesto::matlab {
namespace {

using test::PutF32;
using test::PutLe;

StreamPacket Packet(std::uint8_t type, std::size_t length, std::uint64_t timestamp,
                    std::uint32_t handle) {
  StreamPacket p;
  p.meta = stream::SlotMeta{handle, 9, type, static_cast<std::uint16_t>(length)};
  p.bytes[10] = type;
  PutLe(p.bytes + 28, timestamp, 8);
  return p;
}

struct RecordCase {
  const char* what;
  std::uint8_t type;
  std::vector<std::uint8_t> record;
  std::vector<double> row5;  // values 1-3, attributes 1-2
};

TEST(StreamRows, RecordsOfEveryTypeAtTheirExtremes) {
  const RecordCase cases[] = {
      {"type 1 minimum, -1, maximum", 1,
       {0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 255},
       {-2147483648.0, -1, 2147483647.0, 0, 255}},
      {"type 2 minimum, -1, maximum", 2,
       {0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x7F, 7, 200},
       {-32768, -1, 32767, 7, 200}},
      {"type 3 unsigned maxima", 3,
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 255, 1},
       {4294967295.0, 65535, 1, 255, 1}},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.what);
    // Two records: the case, then the same bytes shifted by one, to see the stride.
    StreamPacket p = Packet(c.type, 36 + 2 * c.record.size(), (1ull << 53) + 1, 0x0100007F);
    std::memcpy(p.bytes + 36, c.record.data(), c.record.size());
    std::memcpy(p.bytes + 36 + c.record.size(), c.record.data(), c.record.size());
    const std::vector<StreamPacket> packets{p};
    const StreamRowCounts rows = CountStreamRows(packets);
    ASSERT_EQ(rows.points, 2u);
    EXPECT_EQ(rows.imu, 0u);
    std::vector<double> m(2 * kStreamPointColumns, -99);
    FillStreamPointRows(packets, m.data(), 2);
    for (std::size_t row = 0; row < 2; ++row) {
      for (std::size_t col = 0; col < 5; ++col) EXPECT_EQ(m[row + 2 * col], c.row5[col]) << row << col;
      EXPECT_EQ(m[row + 2 * 5], 9007199254740992.0) << "2^53 + 1 to the nearest double";
      EXPECT_EQ(m[row + 2 * 6], 16777343.0);
      EXPECT_EQ(m[row + 2 * 7], c.type);
    }
  }
}

TEST(StreamRows, LengthsDecideTheRowsAndOtherTypesGiveNone) {
  StreamPacket imu = Packet(0, 60, 5, 1);
  const float values[6] = {0.5f, -1.25f, 3.75f, 100.0f, -0.015625f, 9.80665f};
  for (std::size_t j = 0; j < 6; ++j) PutF32(imu.bytes + 36 + 4 * j, values[j]);
  const std::vector<StreamPacket> packets{
      Packet(1, 36 + 14 * 2 + 13, 1, 1),  // two whole records and part of a third
      imu,
      Packet(0, 59, 2, 1),                // IMU packet without its last value byte
      Packet(2, 35, 3, 1),                // shorter than its header
      Packet(7, 1380, 4, 1),              // a data type no reader knows
      Packet(3, 36 + 10 * 96, 6, 2),      // a whole type-3 packet
  };
  const StreamRowCounts rows = CountStreamRows(packets);
  EXPECT_EQ(rows.points, 2u + 96u);
  ASSERT_EQ(rows.imu, 1u);
  std::vector<double> m(kStreamImuColumns);
  FillStreamImuRows(packets, m.data(), 1);
  EXPECT_EQ(m, (std::vector<double>{5, 1, 0.5, -1.25, 3.75, 100, -0.015625,
                                    static_cast<double>(9.80665f)}));
  std::vector<double> points(rows.points * kStreamPointColumns, -99);
  FillStreamPointRows(packets, points.data(), rows.points);
  EXPECT_EQ(points[5 * rows.points + 1], 1.0) << "second row from the first packet";
  EXPECT_EQ(points[5 * rows.points + 2], 6.0) << "third row from the type-3 packet";
  for (double v : points) ASSERT_NE(v, -99) << "every element written";
}

}  // namespace
}  // namespace kesto::matlab
