// The stream block between two processes: a writer process (stream_writer_probe) at full speed
// and this process reading, every packet checked for content and order, loss counted exactly.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "child_process.h"
#include "packet_stream_layout.h"
#include "shared_memory.h"
#include "stream_packets.h"
#include "stream_reader.h"

namespace kesto::test {
namespace {

using matlab::StreamCounts;
using matlab::StreamPacket;
using matlab::StreamReader;
using platform::SharedMemory;
using stream::kSlotCount;

class PacketStreamProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SharedMemory::Unlink(name_);
    ASSERT_EQ(block_.Open(name_, stream::kBlockSize), platform::ShmResult::kOk) << block_.error();
  }
  void TearDown() override {
    block_.Close();
    SharedMemory::Unlink(name_);
  }
  int RunWriter(std::uint64_t count) {
    return RunSibling("stream_writer_probe", {name_, std::to_string(count)});
  }
  // One reader call; every returned packet must be whole and come after the previous one, and
  // every index skipped must be counted lost.
  StreamCounts Read() {
    packets_.clear();
    const StreamCounts counts = reader_.Read(block_.data(), packets_);
    for (const StreamPacket& p : packets_) {
      EXPECT_TRUE(IsDerivedPacket(p.index, p.meta.handle, p.meta.dev_type, p.meta.data_type,
                                  p.meta.length, p.bytes))
          << "packet " << p.index;
      EXPECT_GE(p.index, next_expected_) << "returned twice or out of order";
      gaps_ += p.index - next_expected_;
      next_expected_ = p.index + 1;
    }
    returned_ += counts.returned;
    lost_ += counts.lost;
    return counts;
  }

  const std::string name_ = UniqueName("kesto-stream-test");
  SharedMemory block_;
  StreamReader reader_;
  std::vector<StreamPacket> packets_;
  std::uint64_t next_expected_ = 0;
  std::uint64_t gaps_ = 0;
  std::uint64_t returned_ = 0;
  std::uint64_t lost_ = 0;
};

TEST_F(PacketStreamProcessTest, ReaderSlowedWhileTheWriterRunsAtFullSpeed) {
  constexpr std::uint64_t kPackets = 20 * kSlotCount;
  Read();  // before the writer: from its first packet on
  std::atomic<int> writer_rc{-100};
  std::thread writer([&] { writer_rc = RunWriter(kPackets); });
  // A millisecond between calls: the writer fills a ring in about that time, so this reader
  // falls behind now and then; the accounting must stay exact either way.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  while (writer_rc == -100 && std::chrono::steady_clock::now() < deadline) {
    Read();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  writer.join();
  ASSERT_EQ(writer_rc, 0);
  Read();
  EXPECT_EQ(next_expected_, kPackets) << "the last packet is returned once the writer stops";
  EXPECT_EQ(lost_, gaps_);
  EXPECT_EQ(returned_ + lost_, kPackets);
}

TEST_F(PacketStreamProcessTest, ReaderThatWaitsForTheWholeRunLosesExactlyTheOverflow) {
  Read();
  ASSERT_EQ(RunWriter(3 * kSlotCount + 5), 0);
  StreamCounts counts = Read();
  EXPECT_EQ(counts.returned, kSlotCount);
  EXPECT_EQ(counts.lost, 2 * kSlotCount + 5);
  EXPECT_EQ(counts.restarts, 0u);
  EXPECT_EQ(packets_.front().index, 2 * kSlotCount + 5);

  // A second writer process is a restart; it continues the count and nothing is lost.
  ASSERT_EQ(RunWriter(10), 0);
  counts = Read();
  EXPECT_EQ(counts.restarts, 1u);
  EXPECT_EQ(counts.returned, 10u);
  EXPECT_EQ(counts.lost, 0u);
  EXPECT_EQ(packets_.front().index, 3 * kSlotCount + 5);
  EXPECT_EQ(lost_, gaps_);
}

}  // namespace
}  // namespace kesto::test
