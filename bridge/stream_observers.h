#ifndef KESTO_BRIDGE_STREAM_OBSERVERS_H_
#define KESTO_BRIDGE_STREAM_OBSERVERS_H_

#include <cstdint>

#include "kesto_lidar_sdk.h"
#include "packet_stream_writer.h"

// The bridge's data observers when it also keeps the stream block: each packet goes into the
// version-5 block exactly as PointCloudCallback and ImuDataCallback write it, and then into the
// next slot of the stream ring. They run on the kit's data IO thread, the stream writer's one
// writing thread.

namespace kesto::bridge {

// Set by the bridge's main before the kit starts (the kit's thread start orders the write before
// any observer call) and cleared after the kit has stopped; null: no stream block.
void SetStreamWriter(PacketStreamWriter* writer);

}  // namespace kesto::bridge

void StreamingPointCloudCallback(uint32_t handle, uint8_t dev_type,
                                 const KestoLidarEthernetPacket* packet, void* client_data);
void StreamingImuDataCallback(uint32_t handle, uint8_t dev_type,
                              const KestoLidarEthernetPacket* packet, void* client_data);

#endif  // KESTO_BRIDGE_STREAM_OBSERVERS_H_
