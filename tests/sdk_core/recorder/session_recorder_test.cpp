// The session recorder from its producers' side: what they record is in the files, whole and in
// order, each file a capture of its own below the size limit; what the batches cannot hold is
// counted as dropped, never blocking a producer; a file that cannot be created fails the start.
#include "session_recorder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "capture_reader.h"
#include "log_capture.h"

namespace kesto::lidar {
namespace {

using capture::CaptureContents;
using capture::DatagramRecord;

std::vector<uint8_t> Payload(uint32_t n, size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(n * 31 + i);
  if (size >= 4) std::memcpy(bytes.data(), &n, 4);
  return bytes;
}

void RecordNumbered(SessionRecorder& recorder, uint32_t first, uint32_t count, size_t size,
                    uint16_t port) {
  for (uint32_t n = first; n < first + count; ++n) {
    const std::vector<uint8_t> payload = Payload(n, size);
    DatagramRecord record{1000 + n, 0x0200007Fu, 0x0100007Fu, port, 50000, payload.data(),
                          static_cast<uint32_t>(payload.size())};
    recorder.Record(record);
  }
}

uint32_t Number(const capture::CapturedDatagram& d) {
  uint32_t n = 0;
  std::memcpy(&n, d.payload.data(), 4);
  return n;
}

std::string Path(const std::string& name) { return ::testing::TempDir() + name; }

TEST(SessionRecorder, EveryDatagramOfConcurrentProducersIsInTheFileInEachProducersOrder) {
  SessionRecorder recorder;
  RecordOptions options;
  options.path = Path("recorder_all.pcapng");
  options.batch_bytes = 64 * 1024;  // many batch changes
  options.batch_count = 64;
  ASSERT_TRUE(recorder.Start(options));
  constexpr uint32_t kEach = 2000;
  std::thread a([&] { RecordNumbered(recorder, 0, kEach, 200, 1); });
  std::thread b([&] { RecordNumbered(recorder, kEach, kEach, 1380, 2); });
  a.join();
  b.join();
  recorder.Stop();
  const RecordCounts counts = recorder.counts();
  // The pool holds the whole run: nothing can be dropped.
  EXPECT_EQ(counts.dropped, 0u);
  EXPECT_EQ(counts.recorded, 2 * kEach);
  EXPECT_EQ(counts.files, 1u);

  const CaptureContents contents = capture::ReadCaptureFile(options.path);
  ASSERT_TRUE(contents.ok()) << contents.error;
  ASSERT_EQ(contents.datagrams.size(), counts.recorded);
  uint32_t next[3] = {0, 0, kEach};
  for (const capture::CapturedDatagram& d : contents.datagrams) {
    const uint32_t n = Number(d);
    ASSERT_GE(n, next[d.src_port]) << "out of order on port " << d.src_port;
    next[d.src_port] = n + 1;
    EXPECT_EQ(d.payload, Payload(n, d.src_port == 1 ? 200 : 1380));
    EXPECT_EQ(d.time_ns, 1000 + n);
  }
}

TEST(SessionRecorder, ANewNumberedFileStartsBeforeTheLimitWouldBePassed) {
  // Batches that hold the whole run, and batches of two packets, so that files also change
  // exactly where a batch ends.
  for (const size_t batch_bytes : {size_t{1} << 20, size_t{3000}}) {
    SCOPED_TRACE(batch_bytes);
    SessionRecorder recorder;
    RecordOptions options;
    options.path = Path("recorder_split.pcapng");
    options.max_file_bytes = 100 * 1000;
    options.batch_bytes = batch_bytes;
    options.batch_count = 400;  // the whole run, whatever the size
    for (int i = 2; i <= 9; ++i) std::remove(Path("recorder_split-" + std::to_string(i) + ".pcapng").c_str());
    ASSERT_TRUE(recorder.Start(options));
    constexpr uint32_t kCount = 300;  // about 430 kB
    RecordNumbered(recorder, 0, kCount, 1380, 1);
    recorder.Stop();
    const RecordCounts counts = recorder.counts();
    ASSERT_EQ(counts.dropped, 0u);
    ASSERT_EQ(counts.recorded, kCount);
    EXPECT_EQ(counts.files, 5u);

    uint32_t next = 0;
    for (uint32_t file = 1; file <= counts.files; ++file) {
      const std::string path =
          file == 1 ? options.path : Path("recorder_split-" + std::to_string(file) + ".pcapng");
      std::FILE* f = std::fopen(path.c_str(), "rb");
      ASSERT_NE(f, nullptr) << path;
      std::fseek(f, 0, SEEK_END);
      EXPECT_LE(std::ftell(f), 100 * 1000) << path;
      std::fclose(f);
      const CaptureContents contents = capture::ReadCaptureFile(path);
      ASSERT_TRUE(contents.ok()) << path << ": " << contents.error;
      EXPECT_FALSE(contents.datagrams.empty()) << path;
      for (const capture::CapturedDatagram& d : contents.datagrams) EXPECT_EQ(Number(d), next++);
    }
    EXPECT_EQ(next, kCount);
  }
}

TEST(SessionRecorder, WhatTheBatchesCannotHoldIsDroppedAndCounted) {
  SessionRecorder recorder;
  RecordOptions options;
  options.path = Path("recorder_drops.pcapng");
  options.batch_bytes = 16 * 1024;
  options.batch_count = 1;  // one batch: while it is on its way to the disk, nothing fits
  ASSERT_TRUE(recorder.Start(options));
  // The datagram after the first full batch finds no free one, whatever the recording thread
  // does meanwhile; the producer never blocks.
  RecordNumbered(recorder, 0, 20000, 1380, 1);
  recorder.Stop();
  const RecordCounts counts = recorder.counts();
  EXPECT_GT(counts.dropped, 0u);
  EXPECT_EQ(counts.recorded + counts.dropped, 20000u);
  const CaptureContents contents = capture::ReadCaptureFile(options.path);
  ASSERT_TRUE(contents.ok()) << contents.error;
  EXPECT_EQ(contents.datagrams.size(), counts.recorded);
}

TEST(SessionRecorder, AFileThatCannotBeCreatedFailsTheStartAndRecordsNothing) {
  SessionRecorder recorder;
  RecordOptions options;
  options.path = Path("no/such/folder/run.pcapng");
  EXPECT_FALSE(recorder.Start(options));
  EXPECT_FALSE(recorder.active());
  RecordNumbered(recorder, 0, 10, 100, 1);
  recorder.Stop();
  EXPECT_EQ(recorder.counts().recorded, 0u);
  EXPECT_EQ(recorder.counts().dropped, 0u);
}

// A full disk (Linux's /dev/full takes the file and refuses every byte): one line, the data
// keeps coming, and everything offered counts as dropped.
TEST(SessionRecorder, AFullDiskEndsTheRecordingWithOneLineAndCountsTheRestAsDropped) {
  std::FILE* probe = std::fopen("/dev/full", "wb");
  if (probe == nullptr) GTEST_SKIP() << "no /dev/full here";
  std::fclose(probe);
  kesto::test::LogCapture log;
  SessionRecorder recorder;
  RecordOptions options;
  options.path = "/dev/full";
  options.batch_bytes = 16 * 1024;
  ASSERT_TRUE(recorder.Start(options));
  RecordNumbered(recorder, 0, 1000, 1380, 1);
  recorder.Stop();
  const RecordCounts counts = recorder.counts();
  EXPECT_EQ(counts.recorded, 0u);
  EXPECT_EQ(counts.dropped, 1000u);
  EXPECT_EQ(log.Count("Recording stopped"), 1u);
}

}  // namespace
}  // namespace kesto::lidar
