// The stream block's writer and reader in one process: the layout as documented, where a reader
// starts, exact loss counts when it falls behind, writer restarts, slots that change under the
// reader, and a writer thread racing a reader thread (the ThreadSanitizer build runs this too).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "little_endian.h"
#include "packet_stream_layout.h"
#include "packet_stream_writer.h"
#include "stream_packets.h"
#include "stream_reader.h"

namespace kesto::test {
namespace {

using bridge::PacketStreamWriter;
using matlab::StreamCounts;
using matlab::StreamPacket;
using matlab::StreamReader;
using namespace kesto::stream;

// A block in private memory, word aligned as a mapping is, zero-filled as a fresh one is.
class Block {
 public:
  Block() : words_(kBlockSize / 8, 0) {}
  std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(words_.data()); }
  std::uint8_t* slot(std::uint64_t index) {
    return data() + kHeaderSize + (index % kSlotCount) * kSlotSize;
  }

 private:
  std::vector<std::uint64_t> words_;
};

class PacketStreamTest : public ::testing::Test {
 protected:
  // Starts a writer on the block, as a start of the bridge does.
  PacketStreamWriter& StartWriter() {
    writer_ = std::make_unique<PacketStreamWriter>();
    EXPECT_TRUE(writer_->Attach(block_.data(), kBlockSize));
    return *writer_;
  }
  void WritePackets(std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i) DerivedPacket(writer_->next_index()).WriteTo(*writer_);
  }
  // One reader call; checks every returned packet is whole and follows the previous one.
  StreamCounts Read(std::vector<std::uint64_t>* indices = nullptr) {
    packets_.clear();
    const StreamCounts counts = reader_.Read(block_.data(), packets_);
    EXPECT_EQ(counts.returned, packets_.size());
    for (const StreamPacket& p : packets_) {
      EXPECT_TRUE(IsDerivedPacket(p.index, p.meta.handle, p.meta.dev_type, p.meta.data_type,
                                  p.meta.length, p.bytes))
          << "packet " << p.index;
      if (indices != nullptr) indices->push_back(p.index);
    }
    return counts;
  }

  Block block_;
  std::unique_ptr<PacketStreamWriter> writer_;
  StreamReader reader_;
  std::vector<StreamPacket> packets_;
};

std::vector<std::uint64_t> Range(std::uint64_t from, std::uint64_t to) {
  std::vector<std::uint64_t> v;
  for (std::uint64_t i = from; i < to; ++i) v.push_back(i);
  return v;
}

TEST(PacketStreamLayout, KnownPacketLengths) {
  const struct {
    std::uint8_t type;
    std::size_t length;
  } cases[] = {{0, 60}, {1, 1380}, {2, 804}, {3, 996}, {4, 0}, {255, 0}};
  for (const auto& c : cases) EXPECT_EQ(bridge::KnownPacketLength(c.type), c.length) << int{c.type};
  EXPECT_EQ(kBlockSize, 64u + 16384u * 1408u);
}

TEST_F(PacketStreamTest, FreshBlockIsLaidOutAsDocumented) {
  const std::uint8_t* b = block_.data();
  PacketStreamWriter& writer = StartWriter();
  EXPECT_EQ(std::memcmp(b, "kesto-stream v1\0", 16), 0);
  EXPECT_EQ(LoadU32(b + 16), 1u);
  EXPECT_EQ(LoadU32(b + 20), kSlotCount);
  EXPECT_EQ(LoadU32(b + 24), 1408u);
  EXPECT_EQ(LoadU32(b + 28), 1380u);
  EXPECT_EQ(LoadU64(b + 32), 0u);
  EXPECT_EQ(LoadU64(b + 40), 1u);
  EXPECT_EQ(writer.generation(), 1u);

  const DerivedPacket first(0);
  writer.Write(0x0200007F, 10, first.packet(), first.length, 123456789012345ull);
  const DerivedPacket second(1);  // a type-1 packet, offered with more bytes than a slot holds
  writer.Write(second.handle, second.dev_type, second.packet(), 5000, 42);
  EXPECT_EQ(LoadU64(b + 32), 2u);

  const std::uint8_t* s0 = block_.slot(0);
  EXPECT_EQ(LoadU64(s0), 2u);  // sequence of packet 0, whole
  EXPECT_EQ(LoadU32(s0 + 8), 0x0200007Fu);
  EXPECT_EQ(s0[12], 10);
  EXPECT_EQ(s0[13], 0);
  EXPECT_EQ(LoadU16(s0 + 14), 60u);
  EXPECT_EQ(LoadU64(s0 + 16), 123456789012345ull);
  EXPECT_EQ(std::memcmp(s0 + 24, first.bytes.data(), 60), 0);
  const std::uint8_t* s1 = block_.slot(1);
  EXPECT_EQ(LoadU64(s1), 4u);
  EXPECT_EQ(s1[13], 1);
  EXPECT_EQ(LoadU16(s1 + 14), 1380u);
  EXPECT_EQ(std::memcmp(s1 + 24, second.bytes.data(), 1380), 0);
  EXPECT_EQ(LoadU32(s1 + 24 + 1380), 0u) << "the tail of the last word is zero";
}

TEST_F(PacketStreamTest, AttachRefusesWhatItCannotHoldAndRenewsForeignLayouts) {
  PacketStreamWriter writer;
  EXPECT_FALSE(writer.Attach(nullptr, kBlockSize));
  EXPECT_FALSE(writer.Attach(block_.data(), kBlockSize - 1));
  EXPECT_FALSE(writer.attached());
  writer.Write(1, 9, DerivedPacket(0).packet(), 60);  // not attached: nothing happens
  EXPECT_EQ(LoadU64(block_.data()), 0u);

  StartWriter();
  WritePackets(7);
  // Another layout version under the same name: laid out anew, counting from 0 at generation 1.
  block_.data()[16] = 2;
  PacketStreamWriter& renewed = StartWriter();
  EXPECT_EQ(renewed.generation(), 1u);
  EXPECT_EQ(renewed.next_index(), 0u);
  EXPECT_EQ(LoadU64(block_.slot(3)), 0u) << "old slots emptied";
}

TEST_F(PacketStreamTest, FirstCallStartsAtTheNewestPacketThenEveryPacketOnce) {
  StartWriter();
  WritePackets(10);
  std::vector<std::uint64_t> got;
  StreamCounts counts = Read(&got);
  EXPECT_EQ(got, std::vector<std::uint64_t>{9});
  EXPECT_EQ(counts.lost, 0u);
  EXPECT_EQ(counts.in_ring, 10u);

  got.clear();
  EXPECT_EQ(Read(&got).returned, 0u) << "nothing new";
  WritePackets(5);
  counts = Read(&got);
  EXPECT_EQ(got, Range(10, 15));
  EXPECT_EQ(counts.lost, 0u);
  EXPECT_EQ(counts.restarts, 0u);
}

TEST_F(PacketStreamTest, ReaderBeforeAnyWriterGetsEverythingFromTheFirstPacket) {
  const StreamCounts before = Read();
  EXPECT_EQ(before.returned + before.lost + before.in_ring + before.restarts, 0u);
  StartWriter();
  EXPECT_EQ(Read().returned, 0u);
  WritePackets(6);
  std::vector<std::uint64_t> got;
  const StreamCounts counts = Read(&got);
  EXPECT_EQ(got, Range(0, 6));
  EXPECT_EQ(counts.restarts, 0u) << "the first writer is no restart";
}

TEST_F(PacketStreamTest, FallingBehindSkipsToTheOldestAndCountsExactly) {
  const std::uint64_t n = kSlotCount;
  for (std::uint64_t behind : {n - 1, n, n + 1, 3 * n + 5}) {
    SCOPED_TRACE(behind);
    reader_.Reset();
    block_ = Block();
    StartWriter();
    WritePackets(1);
    Read();  // at packet 0
    WritePackets(behind);
    std::vector<std::uint64_t> got;
    const StreamCounts counts = Read(&got);
    const std::uint64_t kept = std::min(behind, n);
    EXPECT_EQ(counts.returned, kept);
    EXPECT_EQ(counts.lost, behind - kept);
    EXPECT_EQ(counts.in_ring, std::min(behind + 1, n));
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front(), 1 + behind - kept);
    EXPECT_EQ(got.back(), behind);
  }
}

// What the system dropped reaches each reader once, as a difference since its previous call;
// drops before its first call are not its own; a restarted writer counts on.
TEST_F(PacketStreamTest, SystemDropsAreToldOnceSinceThePreviousCallAcrossWriterRestarts) {
  StartWriter();
  writer_->SetOsDropped(4);
  EXPECT_EQ(Read().os_dropped, 0u) << "before the first call";
  writer_->SetOsDropped(10);
  EXPECT_EQ(Read().os_dropped, 6u);
  EXPECT_EQ(Read().os_dropped, 0u) << "nothing new";
  StartWriter();  // the bridge starts again, its kit counting from 0
  writer_->SetOsDropped(3);
  EXPECT_EQ(Read().os_dropped, 3u);
  block_ = Block();  // a block laid out anew
  StartWriter();
  writer_->SetOsDropped(2);
  EXPECT_EQ(Read().os_dropped, 0u) << "a fresh count is no drop";
  writer_->SetOsDropped(9);
  EXPECT_EQ(Read().os_dropped, 7u);
}

TEST_F(PacketStreamTest, WriterRestartIsCountedAndThePreviousWritersPacketsStay) {
  StartWriter();
  WritePackets(3);
  Read();  // at packet 2
  WritePackets(4);
  StartWriter();  // the bridge starts again
  EXPECT_EQ(writer_->generation(), 2u);
  WritePackets(2);
  std::vector<std::uint64_t> got;
  StreamCounts counts = Read(&got);
  EXPECT_EQ(got, Range(3, 9));
  EXPECT_EQ(counts.restarts, 1u);
  EXPECT_EQ(counts.lost, 0u);

  StartWriter();
  StartWriter();  // twice between two calls, with no packet at all
  got.clear();
  counts = Read(&got);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(counts.restarts, 2u);
  EXPECT_EQ(Read().restarts, 0u);
}

TEST_F(PacketStreamTest, SlotThatNoLongerHoldsItsPacketIsLostNotReturned) {
  // A sequence of a newer packet (overwritten) and an odd one (being overwritten) in the slots
  // of packets 2 and 4: those two are counted lost, the rest come in order.
  StartWriter();
  WritePackets(1);
  Read();
  WritePackets(5);
  StoreU32(block_.slot(2), static_cast<std::uint32_t>(WholeSequence(2 + kSlotCount)));
  StoreU32(block_.slot(4), static_cast<std::uint32_t>(WholeSequence(4 + kSlotCount) - 1));
  std::vector<std::uint64_t> got;
  const StreamCounts counts = Read(&got);
  EXPECT_EQ(got, (std::vector<std::uint64_t>{1, 3, 5}));
  EXPECT_EQ(counts.lost, 2u);
}

TEST_F(PacketStreamTest, WriterThreadAndReaderThreadNeverTornNeverTwice) {
  // Well over a ring, so the reader is lapped at least now and then on a loaded machine.
  constexpr std::uint64_t kPackets = 4 * kSlotCount;
  StartWriter();
  Read();  // starts at packet 0, before the writer thread exists
  std::atomic<bool> done{false};
  std::thread writer([&] {
    WritePackets(kPackets);
    done.store(true);
  });
  std::uint64_t returned = 0;
  std::uint64_t lost = 0;
  std::uint64_t gaps = 0;  // indices never returned, as the returned ones show
  std::uint64_t next_expected = 0;
  bool last_round = false;
  while (!last_round) {
    last_round = done.load();
    std::vector<std::uint64_t> got;
    const StreamCounts counts = Read(&got);
    for (std::uint64_t index : got) {
      ASSERT_GE(index, next_expected) << "returned twice or out of order";
      gaps += index - next_expected;
      next_expected = index + 1;
    }
    returned += counts.returned;
    lost += counts.lost;
  }
  writer.join();
  EXPECT_EQ(next_expected, kPackets) << "the last packet is returned once the writer stops";
  EXPECT_EQ(lost, gaps) << "every packet not returned is counted lost, and no other";
  EXPECT_EQ(returned + lost, kPackets);
}

}  // namespace
}  // namespace kesto::test
