// lidarstream in the fake MEX host (also under Wine in the Windows build), with the bridge's
// stream writer filling the real "kesto-stream v1": arguments and usage, the three outputs,
// counts, and the exit hook giving up the reader's place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_mex_host.h"
#include "little_endian.h"
#include "packet_stream_layout.h"
#include "packet_stream_writer.h"
#include "shared_memory.h"
#include "stream_packets.h"

namespace kesto::test {
namespace {

using platform::SharedMemory;

constexpr char kRule[] = "------------------------------\n";
constexpr char kUsage[] = "Usage: lidarstream              \n";
constexpr char kCallLine[] = "[points,imu,counts]=lidarstream;\n";

class LidarstreamHostTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override {
    block_.Close();
    Fresh();
  }
  void Fresh() {
    FakeMexHost::Clear();
    SharedMemory::Unlink(stream::kBlockName);
    FakeMexHost::ResetCounts();
  }
  MexCall Call(int nlhs, int nrhs = 0) { return FakeMexHost::Call(mexFunction, nlhs, nrhs); }
  // A bridge start: maps the block and attaches a new writer to it.
  void StartWriter() {
    if (!block_.is_open()) {
      ASSERT_EQ(block_.Open(stream::kBlockName, stream::kBlockSize), platform::ShmResult::kOk)
          << block_.error();
    }
    writer_ = std::make_unique<bridge::PacketStreamWriter>();
    ASSERT_TRUE(writer_->Attach(block_.data(), block_.size()));
  }
  void Write(std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i) DerivedPacket(writer_->next_index()).WriteTo(*writer_);
  }

  SharedMemory block_;
  std::unique_ptr<bridge::PacketStreamWriter> writer_;
};

std::map<std::string, std::vector<double>> Counts(double returned, double lost, double restarts,
                                                  double in_ring, double os_dropped = 0) {
  return {{"returned", {returned}}, {"lost", {lost}},          {"restarts", {restarts}},
          {"in_ring", {in_ring}},   {"os_dropped", {os_dropped}}};
}

TEST_F(LidarstreamHostTest, ArgumentsAndUsageInTheMannerOfTheOtherReaders) {
  const MexCall input = Call(1, 1);
  EXPECT_EQ(input.error, "zero input must be required for shared memory.");
  EXPECT_TRUE(input.prints.empty());
  for (int nlhs : {0, 4}) {
    SCOPED_TRACE(nlhs);
    const MexCall call = Call(nlhs);
    EXPECT_EQ(call.error, "One to three outputs must be required.");
    EXPECT_FALSE(call.has_output);
    const std::size_t banner = nlhs == 0 ? 2 : 0;  // the first call maps and shows the banner
    ASSERT_EQ(call.prints.size(), banner + 6);
    EXPECT_EQ(call.prints[banner + 0], kRule);
    EXPECT_EQ(call.prints[banner + 1], kUsage);
    EXPECT_EQ(call.prints[banner + 2], kCallLine);
    EXPECT_EQ(call.prints[banner + 5], kRule);
    // Both lines as printed are padded to the same 32 characters.
    EXPECT_EQ(call.prints[banner + 1].size(), 33u);
    EXPECT_EQ(call.prints[banner + 2].size(), 33u);
  }
  EXPECT_EQ(FakeMexHost::AtExitCalls(), 1);
}

TEST_F(LidarstreamHostTest, EveryPacketDecodedOnceWithItsCounts) {
  // Before the bridge: empty matrices of eight columns, counts of zero.
  MexCall call = Call(3);
  ASSERT_FALSE(call.failed) << call.error;
  ASSERT_EQ(call.outputs.size(), 3u);
  EXPECT_EQ(call.outputs[0].rows, 0u);
  EXPECT_EQ(call.outputs[0].cols, 8u);
  EXPECT_EQ(call.outputs[1].rows, 0u);
  EXPECT_EQ(call.outputs[1].cols, 8u);
  EXPECT_TRUE(call.outputs[2].is_struct);
  EXPECT_EQ(call.outputs[2].fields, Counts(0, 0, 0, 0));

  StartWriter();
  Write(8);  // packets 0-7: IMU, type 1, 2, 3, IMU, type 1, 2, 3
  call = Call(3);
  ASSERT_FALSE(call.failed) << call.error;
  const MexOutput& points = call.outputs[0];
  const MexOutput& imu = call.outputs[1];
  ASSERT_EQ(points.rows, 6u * 96u);
  ASSERT_EQ(imu.rows, 2u);
  EXPECT_EQ(call.outputs[2].fields, Counts(8, 0, 0, 8));
  // The system's drops since this call, in the next one's counts.
  writer_->SetOsDropped(37);
  EXPECT_EQ(Call(3).outputs[2].fields, Counts(0, 0, 0, 8, 37));

  // IMU rows: timestamp, handle, six values.
  const std::size_t m = imu.rows;
  for (std::size_t r = 0; r < 2; ++r) {
    const DerivedPacket p(4 * r);
    const double c = 4.0 * static_cast<double>(r);
    EXPECT_EQ(imu.values[r], 1000.0 * c + 7);
    EXPECT_EQ(imu.values[r + m], p.handle);
    for (std::size_t j = 0; j < 6; ++j) {
      EXPECT_EQ(imu.values[r + (2 + j) * m], c + 0.25 * static_cast<double>(j));
    }
  }
  // Point rows, packet after packet: the record decoded from its bytes, timestamp, handle, type.
  const std::size_t n = points.rows;
  std::size_t row = 0;
  for (std::uint64_t c : {1, 2, 3, 5, 6, 7}) {
    const DerivedPacket p(c);
    const std::size_t size = block::RecordSize(p.type);
    for (std::size_t k = 0; k < 96; ++k, ++row) {
      const std::uint8_t* r = p.bytes.data() + block::kPacketDataOffset + k * size;
      const double v1 = p.type == 1   ? static_cast<double>(LoadI32(r))
                        : p.type == 2 ? static_cast<double>(LoadI16(r))
                                      : static_cast<double>(LoadU32(r));
      const double v3 = p.type == 1   ? static_cast<double>(LoadI32(r + 8))
                        : p.type == 2 ? static_cast<double>(LoadI16(r + 4))
                                      : static_cast<double>(LoadU16(r + 6));
      ASSERT_EQ(points.values[row], v1) << c << " " << k;
      ASSERT_EQ(points.values[row + 2 * n], v3) << c << " " << k;
      ASSERT_EQ(points.values[row + 4 * n], r[size - 1]) << c << " " << k;
      ASSERT_EQ(points.values[row + 5 * n], 1000.0 * static_cast<double>(c) + 7);
      ASSERT_EQ(points.values[row + 6 * n], p.handle);
      ASSERT_EQ(points.values[row + 7 * n], p.type);
    }
  }

  // With one output the IMU packets are consumed all the same; a restart shows in the counts.
  StartWriter();
  Write(4);
  call = Call(1);
  ASSERT_EQ(call.outputs.size(), 1u);
  EXPECT_EQ(call.outputs[0].rows, 3u * 96u);
  call = Call(3);
  EXPECT_EQ(call.outputs[2].fields, Counts(0, 0, 0, 12));
  Write(1);
  StartWriter();
  EXPECT_EQ(Call(3).outputs[2].fields, Counts(1, 0, 1, 13));
}

TEST_F(LidarstreamHostTest, ExitHookUnmapsAndTheNextCallStartsAtTheNewestPacket) {
  StartWriter();
  Write(5);
  ASSERT_FALSE(Call(1).failed);
  EXPECT_EQ(FakeMexHost::Clear(), std::vector<std::string>{"MEX-file is safely terminated.\n"});
  Write(3);  // 5-7 written while the plug-in is cleared
  const MexCall again = Call(3);
  ASSERT_FALSE(again.failed) << again.error;
  EXPECT_EQ(again.prints.size(), 2u) << "the banner, as on any first call";
  EXPECT_EQ(again.outputs[2].fields, Counts(1, 0, 0, 8));
  EXPECT_EQ(again.outputs[0].rows, 96u) << "packet 7, of type 3";
  EXPECT_EQ(again.outputs[0].values[7 * 96], 3.0);
}

}  // namespace
}  // namespace kesto::test
