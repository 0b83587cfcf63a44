#include "packet_stream_writer.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "packet_block_layout.h"

namespace kesto::bridge {

using namespace kesto::stream;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

std::uint64_t WallClockNs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
}

// Lays out a block that holds no valid header: every slot empty (sequence 0 names no packet),
// counting from 0, magic text last so that a reader never sees a half-made header.
void LayOut(Header& header, Slot* slots) {
  header.magic[0].store(0, std::memory_order_release);
  for (std::uint32_t i = 0; i < kSlotCount; ++i) slots[i].sequence.store(0, kRelaxed);
  header.version_and_count.store(PackPair(kLayoutVersion, kSlotCount), kRelaxed);
  header.size_and_max_packet.store(PackPair(kSlotSize, kMaxPacketSize), kRelaxed);
  header.next_index.store(0, kRelaxed);
  header.generation.store(0, kRelaxed);
  header.os_dropped.store(0, kRelaxed);
  header.reserved.store(0, kRelaxed);
  header.magic[1].store(MagicWord(1), kRelaxed);
  header.magic[0].store(MagicWord(0), std::memory_order_release);
}

}  // namespace

std::size_t KnownPacketLength(std::uint8_t data_type) {
  if (data_type == block::kImuDataType) return block::kPacketDataOffset + block::kImuValuesSize;
  const std::size_t record_size = block::RecordSize(data_type);
  if (record_size == 0) return 0;
  return block::kPacketDataOffset + block::kRecordsPerBlock * record_size;
}

bool PacketStreamWriter::Attach(std::uint8_t* block, std::size_t size) {
  if (block == nullptr || size < kBlockSize) return false;
  Header& header = *HeaderOf(block);
  Slot* slots = SlotsOf(block);
  if (!HasLayout(header)) LayOut(header, slots);
  next_index_ = header.next_index.load(std::memory_order_acquire);
  generation_ = header.generation.load(kRelaxed) + 1;
  os_dropped_base_ = header.os_dropped.load(kRelaxed);
  header.generation.store(generation_, std::memory_order_release);
  header_ = &header;
  slots_ = slots;
  return true;
}

void PacketStreamWriter::SetOsDropped(std::uint64_t since_attach) {
  if (header_ == nullptr) return;
  header_->os_dropped.store(os_dropped_base_ + since_attach, std::memory_order_release);
}

void PacketStreamWriter::Write(std::uint32_t handle, std::uint8_t dev_type,
                               const KestoLidarEthernetPacket* packet, std::size_t length) {
  if (header_ == nullptr) return;
  Write(handle, dev_type, packet, length, WallClockNs());
}

void PacketStreamWriter::Write(std::uint32_t handle, std::uint8_t dev_type,
                               const KestoLidarEthernetPacket* packet, std::size_t length,
                               std::uint64_t receive_time_ns) {
  if (header_ == nullptr || packet == nullptr) return;
  length = std::min<std::size_t>(length, kMaxPacketSize);
  const std::uint64_t n = next_index_;
  Slot& slot = slots_[n % kSlotCount];

  // Odd sequence first, and the release fence keeps every payload store after it: a reader
  // that sees any new byte sees the sequence changed when it checks again. (ThreadSanitizer
  // warns that it does not model fences; it has nothing to report here, since every shared
  // access is atomic.)
  slot.sequence.store(WholeSequence(n) - 1, kRelaxed);
  std::atomic_thread_fence(std::memory_order_release);
  slot.meta.store(PackMeta(SlotMeta{handle, dev_type, packet->data_type,
                                    static_cast<std::uint16_t>(length)}),
                  kRelaxed);
  slot.receive_time_ns.store(receive_time_ns, kRelaxed);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(packet);
  const std::size_t whole_words = length / 8;
  for (std::size_t w = 0; w < whole_words; ++w) {
    std::uint64_t word;
    std::memcpy(&word, bytes + 8 * w, 8);
    slot.payload[w].store(word, kRelaxed);
  }
  if (const std::size_t tail = length % 8; tail != 0) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes + 8 * whole_words, tail);
    slot.payload[whole_words].store(word, kRelaxed);
  }
  slot.sequence.store(WholeSequence(n), std::memory_order_release);
  header_->next_index.store(n + 1, std::memory_order_release);
  next_index_ = n + 1;
}

}  // namespace kesto::bridge
