#ifndef KESTO_BRIDGE_BLOCK_OBSERVERS_H_
#define KESTO_BRIDGE_BLOCK_OBSERVERS_H_

#include <cstdint>

#include "kesto_lidar_sdk.h"

// The bridge's two data observers. They run on the kit's data IO thread, one packet at a time,
// and copy each packet into the block view set by SetBlockView. Without a view they do nothing.

namespace kesto::bridge {

// Set by the bridge's main before the kit starts (the kit's thread start orders the write before
// any observer call); null when the block could not be mapped.
void SetBlockView(std::uint8_t* view);
std::uint8_t* BlockView();

}  // namespace kesto::bridge

void PointCloudCallback(uint32_t handle, uint8_t dev_type, const KestoLidarEthernetPacket* packet,
                        void* client_data);
void ImuDataCallback(uint32_t handle, uint8_t dev_type, const KestoLidarEthernetPacket* packet,
                     void* client_data);

#endif  // KESTO_BRIDGE_BLOCK_OBSERVERS_H_
