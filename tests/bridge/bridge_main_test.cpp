// cloudpump's main sequence against a fake kit: what it calls in which order, what it prints,
// the block its observers write, and its end on the user's interrupt.
#include "bridge_main.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "block_observers.h"
#include "child_process.h"
#include "console_callbacks.h"
#include "console_capture.h"
#include "fake_kit.h"
#include "interrupt.h"
#include "packet_block_layout.h"
#include "packet_stream_layout.h"
#include "packet_stream_writer.h"
#include "shared_memory.h"

namespace kesto::bridge::test {
namespace {

using platform::SharedMemory;
using platform::ShmResult;

const std::vector<std::string> kStartCall = {"KestoSdkStart 'config.json' '' null"};
const std::vector<std::string> kRunCalls = {
    "KestoSdkStart 'config.json' '' null",
    "SetPointCloudObserver StreamingPointCloudCallback",
    "SetImuDataObserver StreamingImuDataCallback",
    "SetPushMessageObserver PushMessageCallback",
    "SetInfoChangeObserver LidarInfoChangeCallback",
    "SetLidarStateObserver LidarStateCallback",
    "KestoSdkStop",
};

// A point packet of data type 1 with the timestamp 1..8, long enough for the 96 records the
// block takes.
std::vector<uint8_t> PointPacket() {
  std::vector<uint8_t> packet(block::kPacketDataOffset + block::kRecordsPerBlock * 14, 0);
  packet[block::kPacketDataTypeOffset] = 1;
  for (size_t i = 0; i < block::kTimestampSize; ++i) {
    packet[block::kPacketTimestampOffset + i] = static_cast<uint8_t>(i + 1);
  }
  for (size_t i = block::kPacketDataOffset; i < packet.size(); ++i) {
    packet[i] = static_cast<uint8_t>(i * 7);
  }
  return packet;
}

const KestoLidarEthernetPacket* AsPacket(const std::vector<uint8_t>& bytes) {
  return reinterpret_cast<const KestoLidarEthernetPacket*>(bytes.data());
}

class BridgeMainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFakeKit();
    // Installed by the test first, so an interrupt it raises can never meet the default action,
    // whatever step the bridge has reached.
    ASSERT_TRUE(platform::InstallInterruptHandler());
    platform::ClearInterrupt();
    SharedMemory::Unlink(options_.block_name);
    SharedMemory::Unlink(options_.stream_block_name);
    ASSERT_TRUE(console_.ok());
  }
  void TearDown() override {
    platform::ClearInterrupt();
    SharedMemory::Unlink(options_.block_name);
    SharedMemory::Unlink(options_.stream_block_name);
    ResetFakeKit();
  }

  static BridgeOptions TestOptions() {
    BridgeOptions options;
    options.block_name = kesto::test::UniqueName("kesto-bridge-main-test");
    options.stream_block_name = kesto::test::UniqueName("kesto-bridge-main-stream");
    return options;
  }
  // Runs the bridge until it has registered its observers, then sends it Ctrl-C; its status.
  int RunUntilSetUpThenInterrupt() {
    int result = 1;
    std::thread bridge([&] { result = RunBridge(options_); });
    const bool registered = WaitForKitCall("SetLidarStateObserver");
    EXPECT_EQ(std::raise(SIGINT), 0);
    bridge.join();
    EXPECT_TRUE(registered);
    return result;
  }

  BridgeOptions options_ = TestOptions();
  ConsoleCapture console_;
};

TEST_F(BridgeMainTest, AKitThatDoesNotStartIsStoppedAndEndsTheProgramAtOnce) {
  Kit().start_result = false;
  bool view_at_start = false;
  Kit().on_start = [&] { view_at_start = BlockView() != nullptr; };
  EXPECT_EQ(RunBridge(options_), -1);
  EXPECT_TRUE(view_at_start);
  EXPECT_EQ(KitCalls(), (std::vector<std::string>{kStartCall[0], "KestoSdkStop"}));
  EXPECT_EQ(console_.Text(), "Kesto Init Failed\n");
  EXPECT_EQ(BlockView(), nullptr);
}

TEST_F(BridgeMainTest, RunsUntilTheInterruptThenStopsTheKitAndReleasesTheBlock) {
  for (const int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    ResetFakeKit();
    platform::ClearInterrupt();
    SharedMemory::Unlink(options_.stream_block_name);  // a fresh ring, written from slot 0
    ConsoleCapture console;
    bool interrupted_at_stop = false;
    Kit().on_stop = [&] { interrupted_at_stop = platform::InterruptRaised(); };

    int result = 1;
    std::thread bridge([&] { result = RunBridge(options_); });
    const bool registered = WaitForKitCall("SetInfoChangeObserver");
    if (registered) {
      // The registered point observer writes the named block, as a reader sees it.
      const std::vector<uint8_t> packet = PointPacket();
      Kit().point_observer(0, 9, AsPacket(packet), nullptr);
      SharedMemory reader;
      // No ASSERT while the bridge runs: it must be interrupted and joined below.
      EXPECT_EQ(reader.Open(options_.block_name, block::kBlockSize), ShmResult::kOk)
          << reader.error();
      if (reader.is_open()) {
      EXPECT_EQ(reader.data()[block::kDataTypeOffset], 1);
      EXPECT_EQ(std::memcmp(reader.data() + block::kPointTimestampOffset,
                            packet.data() + block::kPacketTimestampOffset, block::kTimestampSize),
                0);
      EXPECT_EQ(std::memcmp(reader.data() + block::kPointAreaOffset,
                            packet.data() + block::kPacketDataOffset,
                            block::kBlockSize - block::kPointAreaOffset),
                0);
      }
      // ... and the stream block gets it whole, in its first slot.
      SharedMemory stream;
      EXPECT_EQ(stream.Open(options_.stream_block_name, stream::kBlockSize), ShmResult::kOk);
      if (stream.is_open()) {
        const auto* header = reinterpret_cast<const stream::Header*>(stream.data());
        const auto* slot = reinterpret_cast<const stream::Slot*>(stream.data() + stream::kHeaderSize);
        EXPECT_EQ(header->next_index.load(), 1u);
        EXPECT_EQ(stream::UnpackMeta(slot->meta.load()).length, packet.size());
        std::vector<uint8_t> payload(stream::kPayloadWords * 8);
        for (size_t w = 0; w < stream::kPayloadWords; ++w) {
          const uint64_t word = slot->payload[w].load();
          std::memcpy(payload.data() + 8 * w, &word, 8);
        }
        payload.resize(packet.size());
        EXPECT_EQ(payload, packet);
      }
    }
    ASSERT_EQ(std::raise(signal_number), 0);
    bridge.join();
    ASSERT_TRUE(registered);

    EXPECT_EQ(result, 0);
    EXPECT_TRUE(interrupted_at_stop) << "the kit was stopped before the interrupt";
    EXPECT_EQ(KitCalls(), kRunCalls);
    EXPECT_EQ(console.Text(), "Kesto Quick Start Demo End!\n");
    EXPECT_EQ(BlockView(), nullptr);
  }
}

// With a recording, the kit is told before it starts, and the end says what was recorded.
TEST_F(BridgeMainTest, ARecordingIsAskedForBeforeTheStartAndCountedAtTheEnd) {
  options_.record_path = "run.pcapng";
  options_.record_max_mb = 50;
  Kit().record_counts = {12, 3, 3};
  EXPECT_EQ(RunUntilSetUpThenInterrupt(), 0);
  std::vector<std::string> calls = kRunCalls;
  calls.insert(calls.begin(), "KestoSdkRecordTo 'run.pcapng' 50");
  calls.push_back("KestoSdkGetRecordCounts");
  EXPECT_EQ(KitCalls(), calls);
  EXPECT_EQ(console_.Text(),
            "Recorded 12 datagrams to run.pcapng and 2 numbered files after it, dropped 3.\n"
            "Kesto Quick Start Demo End!\n");
}

// What the system dropped before the kit read it reaches the stream block's header, counted on
// from what an earlier writer left there, and the end says so.
TEST_F(BridgeMainTest, WhatTheSystemDroppedReachesTheStreamBlockAndTheEnd) {
  // Held open throughout, as a reader would: on Windows a block ends with its last mapping.
  SharedMemory stream;
  ASSERT_EQ(stream.Open(options_.stream_block_name, stream::kBlockSize), ShmResult::kOk);
  {
    // An earlier run's writer left 5 in the block.
    PacketStreamWriter writer;
    ASSERT_TRUE(writer.Attach(stream.data(), stream.size()));
    writer.SetOsDropped(5);
  }
  Kit().os_dropped = 7;
  EXPECT_EQ(RunUntilSetUpThenInterrupt(), 0);
  EXPECT_EQ(stream::HeaderOf(stream.data())->os_dropped.load(), 12u);
  EXPECT_EQ(console_.Text(),
            "The system dropped 7 datagrams on the data sockets before they were read.\n"
            "Kesto Quick Start Demo End!\n");
}

// The main thread's tick asks again for the internal information of a lidar whose query failed
// to go out: once a second at most, until it goes out; the kit's stop ends the retries.
TEST_F(BridgeMainTest, AQueryThatFailedToGoOutIsAskedAgainEachSecondUntilItGoesOut) {
  const uint32_t handle = 0x0A01A8C0;  // 192.168.1.10
  const std::string query = "QueryKestoLidarInternalInfo " + std::to_string(handle);
  for (const bool recovers : {true, false}) {
    SCOPED_TRACE(recovers ? "the third query goes out" : "every query fails");
    ResetFakeKit();
    platform::ClearInterrupt();
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> asked;  // guarded by mutex
    Kit().on_query = [&](uint32_t h, KestoLidarInternalInfoCallback cb) {
      std::size_t count = 0;
      {
        std::lock_guard<std::mutex> lock(mutex);
        asked.push_back(std::chrono::steady_clock::now());
        count = asked.size();
      }
      if (!recovers || count <= 2) cb(-9, h, nullptr, nullptr);  // a failed send
    };
    ConsoleCapture console;
    int result = 1;
    std::thread bridge([&] { result = RunBridge(options_); });
    const bool registered = WaitForKitCall("SetInfoChangeObserver");
    bool retried = false;
    if (registered) {
      KestoLidarIdentity identity{};
      identity.dev_type = 10;
      Kit().info_change_observer(handle, &identity, nullptr);  // as the kit's network thread
      retried = WaitForKitCall(query, std::chrono::seconds(30), 3);
    }
    ASSERT_EQ(std::raise(SIGINT), 0);
    bridge.join();
    ASSERT_TRUE(registered);
    ASSERT_TRUE(retried);
    EXPECT_EQ(result, 0);
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_GE(asked.size(), 3u);
    // The first retry comes on whichever tick follows the failure; the next one a tick later.
    EXPECT_GE(asked[2] - asked[1], std::chrono::milliseconds(1000));
    if (recovers) {
      EXPECT_EQ(asked.size(), 3u) << "a query that went out is not asked again";
    }
    EXPECT_TRUE(InternalInfoRetries().empty()) << "the stop forgets the retries";
    EXPECT_EQ(KitCalls().back(), "KestoSdkStop");
  }
}

TEST_F(BridgeMainTest, WithoutABlockItSaysSoAndTheDataObserversWriteNothing) {
  BridgeOptions bad = options_;
  bad.block_name = "kesto/no\\such/block";
  {
    SharedMemory probe;
    if (probe.Open(bad.block_name, block::kBlockSize) == ShmResult::kOk) {
      GTEST_SKIP() << "this platform accepts the name " << bad.block_name;
    }
  }
  const std::vector<uint8_t> packet = PointPacket();
  Kit().start_result = false;
  bool view_at_start = true;
  Kit().on_start = [&] {
    view_at_start = BlockView() != nullptr;
    PointCloudCallback(0, 9, AsPacket(packet), nullptr);
    ImuDataCallback(0, 9, AsPacket(packet), nullptr);
  };
  EXPECT_EQ(RunBridge(bad), -1);
  EXPECT_FALSE(view_at_start);
  EXPECT_EQ(console_.Text(), "Could not open file mapping object\nKesto Init Failed\n");
}

}  // namespace
}  // namespace kesto::bridge::test
