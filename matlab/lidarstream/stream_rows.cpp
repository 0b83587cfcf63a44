#include "stream_rows.h"

#include "little_endian.h"
#include "packet_block_layout.h"

namespace kesto::matlab {

using namespace kesto::block;

namespace {

constexpr std::size_t kImuPacketLength = kPacketDataOffset + kImuValuesSize;

std::size_t RecordCount(const StreamPacket& packet) {
  const std::size_t size = RecordSize(packet.meta.data_type);
  if (size == 0 || packet.meta.length < kPacketDataOffset) return 0;
  return (packet.meta.length - kPacketDataOffset) / size;
}

bool HasImuRow(const StreamPacket& packet) {
  return packet.meta.data_type == kImuDataType && packet.meta.length >= kImuPacketLength;
}

double Timestamp(const StreamPacket& packet) {
  return static_cast<double>(LoadU64(packet.bytes + kPacketTimestampOffset));
}

// The three values of one record; the attributes are its last two bytes for every type.
void DecodeValues(std::uint8_t data_type, const std::uint8_t* r, double values[3]) {
  switch (data_type) {
    case 1:
      values[0] = LoadI32(r);
      values[1] = LoadI32(r + 4);
      values[2] = LoadI32(r + 8);
      break;
    case 2:
      values[0] = LoadI16(r);
      values[1] = LoadI16(r + 2);
      values[2] = LoadI16(r + 4);
      break;
    default:
      values[0] = LoadU32(r);
      values[1] = LoadU16(r + 4);
      values[2] = LoadU16(r + 6);
      break;
  }
}

}  // namespace

StreamRowCounts CountStreamRows(const std::vector<StreamPacket>& packets) {
  StreamRowCounts rows;
  for (const StreamPacket& packet : packets) {
    rows.points += RecordCount(packet);
    rows.imu += HasImuRow(packet) ? 1 : 0;
  }
  return rows;
}

void FillStreamPointRows(const std::vector<StreamPacket>& packets, double* matrix,
                         std::size_t point_rows) {
  std::size_t row = 0;
  for (const StreamPacket& packet : packets) {
    const std::size_t records = RecordCount(packet);
    if (records == 0) continue;
    const std::uint8_t type = packet.meta.data_type;
    const std::size_t size = RecordSize(type);
    const double timestamp = Timestamp(packet);
    const double handle = packet.meta.handle;
    const std::uint8_t* r = packet.bytes + kPacketDataOffset;
    for (std::size_t k = 0; k < records; ++k, ++row, r += size) {
      double values[3];
      DecodeValues(type, r, values);
      double* at = matrix + row;
      at[0] = values[0];
      at[point_rows] = values[1];
      at[2 * point_rows] = values[2];
      at[3 * point_rows] = r[size - 2];
      at[4 * point_rows] = r[size - 1];
      at[5 * point_rows] = timestamp;
      at[6 * point_rows] = handle;
      at[7 * point_rows] = type;
    }
  }
}

void FillStreamImuRows(const std::vector<StreamPacket>& packets, double* matrix,
                       std::size_t imu_rows) {
  std::size_t row = 0;
  for (const StreamPacket& packet : packets) {
    if (!HasImuRow(packet)) continue;
    double* at = matrix + row++;
    at[0] = Timestamp(packet);
    at[imu_rows] = packet.meta.handle;
    for (std::size_t j = 0; j < kImuValueCount; ++j) {
      at[(2 + j) * imu_rows] = LoadF32(packet.bytes + kPacketDataOffset + 4 * j);
    }
  }
}

}  // namespace kesto::matlab
