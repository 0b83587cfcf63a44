#include "stream_observers.h"

#include <atomic>

#include "block_observers.h"

namespace kesto::bridge {
namespace {
// Relaxed is enough: the writer is published before the kit's threads exist.
std::atomic<PacketStreamWriter*> g_stream_writer{nullptr};

void Stream(uint32_t handle, uint8_t dev_type, const KestoLidarEthernetPacket* packet) {
  PacketStreamWriter* writer = g_stream_writer.load(std::memory_order_relaxed);
  if (writer == nullptr || packet == nullptr) return;
  // The kit hands packets without their length; a lidar's packet of this data type has this
  // one, and the kit's receive buffer holds it (zeros after a shorter datagram).
  const std::size_t length = KnownPacketLength(packet->data_type);
  if (length != 0) writer->Write(handle, dev_type, packet, length);
}
}  // namespace

void SetStreamWriter(PacketStreamWriter* writer) {
  g_stream_writer.store(writer, std::memory_order_relaxed);
}

}  // namespace kesto::bridge

void StreamingPointCloudCallback(uint32_t handle, uint8_t dev_type,
                                 const KestoLidarEthernetPacket* packet, void* client_data) {
  PointCloudCallback(handle, dev_type, packet, client_data);
  kesto::bridge::Stream(handle, dev_type, packet);
}

void StreamingImuDataCallback(uint32_t handle, uint8_t dev_type,
                              const KestoLidarEthernetPacket* packet, void* client_data) {
  ImuDataCallback(handle, dev_type, packet, client_data);
  kesto::bridge::Stream(handle, dev_type, packet);
}
