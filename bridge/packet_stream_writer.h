#ifndef KESTO_BRIDGE_PACKET_STREAM_WRITER_H_
#define KESTO_BRIDGE_PACKET_STREAM_WRITER_H_

#include <cstddef>
#include <cstdint>

#include "kesto_lidar_sdk.h"
#include "packet_stream_layout.h"

namespace kesto::bridge {

// Length of a packet of this data type as the lidars send it: 36 header bytes and six IMU
// floats (type 0) or 96 point records (types 1-3); 0 for any other data type. The kit's data
// observers get no length, so the bridge's observers pass this one; the receive buffer behind
// the packet is 8192 bytes, so reading that many bytes never leaves it.
std::size_t KnownPacketLength(std::uint8_t data_type);

// The one writer of a stream block: copies every packet it is given into the next slot of the
// ring, under the slot's seqlock (see packet_stream_layout.h).
//
// Threads: Attach on the bridge's main thread before the kit starts (the kit's thread start
// orders it before any Write); Write on the kit's data IO thread only, one packet at a time.
// Write takes no lock, allocates nothing and makes no system call (the receive time comes from
// the wall clock, which both platforms read in user space). The writer does not own the block's
// mapping, which must outlive it.
class PacketStreamWriter {
 public:
  PacketStreamWriter() = default;
  PacketStreamWriter(const PacketStreamWriter&) = delete;
  PacketStreamWriter& operator=(const PacketStreamWriter&) = delete;

  // Takes over a mapped block of at least kesto::stream::kBlockSize bytes. A block that already
  // holds this layout is continued: the next index stays, so readers keep their place, and the
  // generation goes one up, so they can tell that the writer started again. Anything else (a
  // fresh block of zeros, another layout) is laid out anew at generation 1. False, and nothing
  // written, when the block is null or too small.
  bool Attach(std::uint8_t* block, std::size_t size);
  bool attached() const { return header_ != nullptr; }
  std::uint64_t generation() const { return generation_; }
  std::uint64_t next_index() const { return next_index_; }

  // Copies one packet of `length` bytes (cut to kesto::stream::kMaxPacketSize) into the ring,
  // with the handle, device type, the packet's data type and the receive time. Nothing when
  // not attached or the packet is null.
  void Write(std::uint32_t handle, std::uint8_t dev_type, const KestoLidarEthernetPacket* packet,
             std::size_t length);
  void Write(std::uint32_t handle, std::uint8_t dev_type, const KestoLidarEthernetPacket* packet,
             std::size_t length, std::uint64_t receive_time_ns);

  // The datagrams the system dropped before the kit read them, since this writer attached:
  // published in the header on top of what earlier writers counted. May be called from another
  // thread than Write's (one at a time), after Attach.
  void SetOsDropped(std::uint64_t since_attach);

 private:
  stream::Header* header_ = nullptr;
  stream::Slot* slots_ = nullptr;
  std::uint64_t next_index_ = 0;   // the writer's own copy of the header's next index
  std::uint64_t generation_ = 0;
  std::uint64_t os_dropped_base_ = 0;  // the header's count when this writer attached
};

}  // namespace kesto::bridge

#endif  // KESTO_BRIDGE_PACKET_STREAM_WRITER_H_
