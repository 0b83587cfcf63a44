#include "stream_reader.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace kesto::matlab {

using namespace kesto::stream;

namespace {

std::uint64_t Oldest(std::uint64_t head) { return head > kSlotCount ? head - kSlotCount : 0; }

// Copies packet `index` out of its slot. False when the slot does not hold that packet whole,
// before and after the copy: it was overwritten by a newer one (or is being overwritten).
bool CopySlot(const Slot& slot, std::uint64_t index, StreamPacket& packet) {
  const std::uint64_t before = slot.sequence.load(std::memory_order_acquire);
  if (before != WholeSequence(index)) return false;
  packet.index = index;
  packet.meta = UnpackMeta(slot.meta.load(std::memory_order_relaxed));
  packet.receive_time_ns = slot.receive_time_ns.load(std::memory_order_relaxed);
  // A slot caught mid-write may show any length; the sequence check below discards the copy,
  // but the copy must stay inside the slot meanwhile.
  packet.meta.length = std::min<std::uint16_t>(packet.meta.length, kMaxPacketSize);
  const std::size_t words = (packet.meta.length + 7u) / 8u;
  for (std::size_t w = 0; w < words; ++w) {
    const std::uint64_t word = slot.payload[w].load(std::memory_order_relaxed);
    std::memcpy(packet.bytes + 8 * w, &word, 8);
  }
  // Orders the payload loads before the second look at the sequence.
  std::atomic_thread_fence(std::memory_order_acquire);
  return slot.sequence.load(std::memory_order_relaxed) == before;
}

}  // namespace

void StreamReader::Reset() { *this = StreamReader(); }

StreamCounts StreamReader::Read(const std::uint8_t* block, std::vector<StreamPacket>& out) {
  StreamCounts counts;
  const Header& header = *HeaderOf(block);
  if (!HasLayout(header)) {
    // No writer yet: start at its first packet, whenever it comes.
    if (!started_) started_ = true;
    return counts;
  }
  std::uint64_t head = header.next_index.load(std::memory_order_acquire);
  const std::uint64_t generation = header.generation.load(std::memory_order_acquire);
  // Drops before this reader's first call are not its own, as the packets before it are not.
  const std::uint64_t os_dropped = header.os_dropped.load(std::memory_order_acquire);
  if (started_ && generation_ != 0 && os_dropped > os_dropped_) counts.os_dropped = os_dropped - os_dropped_;
  os_dropped_ = os_dropped;
  if (!started_) {
    started_ = true;
    generation_ = generation;
    position_ = head > 0 ? head - 1 : 0;
  } else if (generation != generation_) {
    if (generation_ != 0) counts.restarts = generation > generation_ ? generation - generation_ : 1;
    generation_ = generation;
  }
  // A block laid out anew counts from 0 again: everything in it is new to this reader.
  if (head < position_) position_ = 0;
  counts.in_ring = std::min<std::uint64_t>(head, kSlotCount);

  // This call returns packets up to `end`, the newest one written when it began; `head` is the
  // writer's count as last seen, which tells which packets the ring still holds.
  std::uint64_t end = head;
  const Slot* slots = SlotsOf(block);
  out.reserve(out.size() + std::min<std::uint64_t>(end - position_, kSlotCount));
  while (position_ < end) {
    const std::uint64_t oldest = Oldest(head);
    if (position_ < oldest) {
      counts.lost += oldest - position_;
      position_ = oldest;
      continue;
    }
    out.emplace_back();
    if (CopySlot(slots[position_ % kSlotCount], position_, out.back())) {
      ++counts.returned;
      ++position_;
      continue;
    }
    // The writer lapped this reader while it read: go on from the oldest packet the ring holds
    // now, which may lie beyond the end this call set out to reach.
    out.pop_back();
    ++counts.lost;
    ++position_;
    head = header.next_index.load(std::memory_order_acquire);
    end = std::max(end, Oldest(head));
  }
  return counts;
}

}  // namespace kesto::matlab
