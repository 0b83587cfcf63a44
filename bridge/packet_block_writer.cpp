#include "packet_block_writer.h"

#include <cstring>

#include "packet_block_layout.h"

namespace kesto::bridge {

using namespace kesto::block;

namespace {
const std::uint8_t* PacketBytes(const KestoLidarEthernetPacket* packet) {
  return reinterpret_cast<const std::uint8_t*>(packet);
}
}  // namespace

void WriteImuPacket(std::uint8_t* block, const KestoLidarEthernetPacket* packet) {
  if (block == nullptr || packet == nullptr || packet->data_type != kImuDataType) return;
  const std::uint8_t* bytes = PacketBytes(packet);
  block[kDataTypeOffset] = kImuDataType;
  std::memcpy(block + kImuTimestampOffset, bytes + kPacketTimestampOffset, kTimestampSize);
  std::memcpy(block + kImuValuesOffset, bytes + kPacketDataOffset, kImuValuesSize);
}

void WritePointPacket(std::uint8_t* block, const KestoLidarEthernetPacket* packet) {
  if (block == nullptr || packet == nullptr) return;
  const std::uint8_t data_type = packet->data_type;
  const std::size_t record_size = RecordSize(data_type);
  if (record_size == 0) return;
  const std::uint8_t* bytes = PacketBytes(packet);
  block[kDataTypeOffset] = data_type;
  std::memcpy(block + kPointTimestampOffset, bytes + kPacketTimestampOffset, kTimestampSize);
  std::memcpy(block + kPointAreaOffset, bytes + kPacketDataOffset, kRecordsPerBlock * record_size);
}

}  // namespace kesto::bridge
