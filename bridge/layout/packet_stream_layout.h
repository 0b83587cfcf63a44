#ifndef KESTO_PACKET_STREAM_LAYOUT_H_
#define KESTO_PACKET_STREAM_LAYOUT_H_

// Layout of the stream block "kesto-stream v1": every point-cloud and IMU packet the bridge
// receives, in a ring of fixed-size slots, so that a reader that calls now and then still gets
// each packet once, in order, and learns how many it missed. Written by the bridge's data IO
// thread (one writer), read by the lidarstream plug-in and any other reader (readers never
// write). It lives beside the version-5 block, which stays as it is.
//
// Byte layout (offsets from the start of the block; every value in the host's byte order,
// which is little-endian on every platform we build for; every field 8-byte aligned):
//
//   header, 64 bytes
//     0  char[16]  magic text "kesto-stream v1", zero-padded; written last when the writer
//                  lays the block out, so a reader that sees it sees a whole header
//    16  u32       layout version (1)
//    20  u32       slot count (kSlotCount)
//    24  u32       slot size in bytes (kSlotSize)
//    28  u32       largest packet a slot holds (kMaxPacketSize)
//    32  u64       next index: packets written so far; packet n lives in slot n % slot count
//    40  u64       writer generation: 1 for the first writer of a fresh block, one more at
//                  every start of a writer on an existing block
//    48  u64       os dropped: datagrams the operating system dropped on the data sockets of
//                  the writer's kit, for a full receive buffer, before the kit read them;
//                  counted on across the writer's restarts like the next index, and brought
//                  up to date about once a second. 0 where the system does not tell (Windows)
//                  and from writers older than this word, which left it 0
//    56  u64       reserved, 0
//   slot n % kSlotCount at 64 + (n % kSlotCount) * kSlotSize, kSlotSize bytes
//     0  u64       sequence: 2n + 1 while packet n is being written, 2n + 2 once it is whole
//     8  u32       lidar handle (IPv4 address in network byte order, as the kit gives it)
//    12  u8        device type
//    13  u8        data type (packet byte 10: 0 IMU, 1-3 point data)
//    14  u16       packet length in bytes (at most kMaxPacketSize)
//    16  u64       host receive time, nanoseconds since 1970-01-01 UTC
//    24  u8[1384]  the packet as received, its first `length` bytes meaningful
//
// The sequence is a seqlock that also names the packet: a reader that wants packet n checks that
// the sequence reads 2n + 2 before and after copying the slot, so it can neither return a torn
// packet nor mistake a newer packet in the same slot for n. The writer keeps counting across its
// restarts (it continues from the next index it finds), so positions only ever grow.
//
// Every field is accessed as one of the 64-bit words below, with atomic loads and stores, so that
// the concurrent copy is well defined in C++ (and quiet under ThreadSanitizer); on the platforms
// we build for these are plain loads and stores.

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kesto::stream {

inline constexpr char kBlockName[] = "kesto-stream v1";
inline constexpr char kMagic[16] = "kesto-stream v1";
inline constexpr std::uint32_t kLayoutVersion = 1;

// Two seconds of four lidars at 2,000 packets a second each, rounded up to a power of two.
inline constexpr std::uint32_t kSlotCount = 16384;
// A type-1 point packet: 36 bytes of header and 96 records of 14 bytes.
inline constexpr std::uint32_t kMaxPacketSize = 1380;
inline constexpr std::size_t kHeaderSize = 64;
inline constexpr std::size_t kSlotHeaderSize = 24;
inline constexpr std::size_t kPayloadWords = (kMaxPacketSize + 7) / 8;
inline constexpr std::uint32_t kSlotSize =
    static_cast<std::uint32_t>(kSlotHeaderSize + kPayloadWords * 8);
inline constexpr std::size_t kBlockSize = kHeaderSize + std::size_t{kSlotCount} * kSlotSize;

using Word = std::atomic<std::uint64_t>;
static_assert(Word::is_always_lock_free, "the block's words are shared between processes");
static_assert(sizeof(Word) == 8, "a word is eight bytes of the block");

struct Header {
  Word magic[2];
  Word version_and_count;     // version | slot count << 32
  Word size_and_max_packet;   // slot size | largest packet << 32
  Word next_index;
  Word generation;
  Word os_dropped;
  Word reserved;
};

struct Slot {
  Word sequence;
  Word meta;                  // handle | device type << 32 | data type << 40 | length << 48
  Word receive_time_ns;
  Word payload[kPayloadWords];
};

static_assert(sizeof(Header) == kHeaderSize, "header is 64 bytes");
static_assert(sizeof(Slot) == kSlotSize, "slot is 24 bytes and the payload");
static_assert(kSlotSize == 1408, "slot size as documented");

// Packed and unpacked form of a slot's meta word.
struct SlotMeta {
  std::uint32_t handle = 0;
  std::uint8_t dev_type = 0;
  std::uint8_t data_type = 0;
  std::uint16_t length = 0;
};

constexpr std::uint64_t PackMeta(const SlotMeta& m) {
  return std::uint64_t{m.handle} | std::uint64_t{m.dev_type} << 32 |
         std::uint64_t{m.data_type} << 40 | std::uint64_t{m.length} << 48;
}

constexpr SlotMeta UnpackMeta(std::uint64_t word) {
  return SlotMeta{static_cast<std::uint32_t>(word), static_cast<std::uint8_t>(word >> 32),
                  static_cast<std::uint8_t>(word >> 40), static_cast<std::uint16_t>(word >> 48)};
}

constexpr std::uint64_t PackPair(std::uint32_t low, std::uint32_t high) {
  return std::uint64_t{low} | std::uint64_t{high} << 32;
}

// Word i (0 or 1) of the magic text, as its eight bytes read in little-endian order.
constexpr std::uint64_t MagicWord(std::size_t i) {
  std::uint64_t word = 0;
  for (std::size_t b = 0; b < 8; ++b) {
    word |= std::uint64_t{static_cast<unsigned char>(kMagic[8 * i + b])} << (8 * b);
  }
  return word;
}

// True when the header holds this layout: magic, version, slot count and sizes. A fresh block
// (all zeros) or one laid out by another version is not ours to read or continue.
inline bool HasLayout(const Header& header) {
  return header.magic[0].load(std::memory_order_acquire) == MagicWord(0) &&
         header.magic[1].load(std::memory_order_acquire) == MagicWord(1) &&
         header.version_and_count.load(std::memory_order_relaxed) ==
             PackPair(kLayoutVersion, kSlotCount) &&
         header.size_and_max_packet.load(std::memory_order_relaxed) ==
             PackPair(kSlotSize, kMaxPacketSize);
}

// The sequence a slot holds once packet `index` is whole in it.
constexpr std::uint64_t WholeSequence(std::uint64_t index) { return 2 * index + 2; }

// The header and slots of a mapped block of at least kBlockSize bytes. The mapping is page
// aligned, so every word is aligned.
inline Header* HeaderOf(std::uint8_t* block) { return reinterpret_cast<Header*>(block); }
inline const Header* HeaderOf(const std::uint8_t* block) {
  return reinterpret_cast<const Header*>(block);
}
inline Slot* SlotsOf(std::uint8_t* block) { return reinterpret_cast<Slot*>(block + kHeaderSize); }
inline const Slot* SlotsOf(const std::uint8_t* block) {
  return reinterpret_cast<const Slot*>(block + kHeaderSize);
}

}  // namespace kesto::stream

#endif  // KESTO_PACKET_STREAM_LAYOUT_H_
