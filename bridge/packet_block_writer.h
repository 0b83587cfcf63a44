#ifndef KESTO_BRIDGE_PACKET_BLOCK_WRITER_H_
#define KESTO_BRIDGE_PACKET_BLOCK_WRITER_H_

#include <cstdint>

#include "kesto_lidar_sdk.h"

namespace kesto::bridge {

// Copies one packet into a version-5 block of kesto::block::kBlockSize bytes. Plain byte copies,
// data-type byte first, with no lock or flag: a reader in another process may see a torn block,
// and accepts that. Both do nothing when the block or the packet is null, or when the packet's
// data type is not theirs (0 for IMU, 1-3 for points).
//
// The point write always copies 96 records, whatever the datagram's length; the receive buffer
// it points into is large enough for that.
void WriteImuPacket(std::uint8_t* block, const KestoLidarEthernetPacket* packet);
void WritePointPacket(std::uint8_t* block, const KestoLidarEthernetPacket* packet);

}  // namespace kesto::bridge

#endif  // KESTO_BRIDGE_PACKET_BLOCK_WRITER_H_
