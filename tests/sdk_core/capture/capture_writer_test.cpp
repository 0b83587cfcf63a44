// Recordings read back: every datagram with its addresses, ports, time stamp and bytes, in
// order, through the kit's reader and (natively) through libpcap.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "capture_reader.h"
#include "capture_writer.h"
#include "pcap_oracle.h"

namespace kesto::capture::testing {
namespace {

struct Sent {
  uint64_t time_ns;
  uint32_t src_ip, dst_ip;
  uint16_t src_port, dst_port;
  std::vector<uint8_t> payload;
};

std::vector<Sent> Datagrams() {
  std::vector<Sent> sent;
  // Sizes around the 4-byte padding of blocks, a lidar packet, the kit's largest receive.
  const uint32_t sizes[] = {0, 1, 2, 3, 4, 5, 1380, 8192};
  uint64_t time = 1765400000123456789ull;
  for (uint32_t size : sizes) {
    std::vector<uint8_t> payload(size);
    for (uint32_t i = 0; i < size; ++i) payload[i] = static_cast<uint8_t>(i * 7 + size);
    sent.push_back({time, 0x0200007Fu, 0x0100007Fu, 56000, 57000, payload});
    sent.push_back({time + 1, 0x0100007Fu, 0x0300007Fu, 65535, 1, payload});
    time += 999999999;
  }
  return sent;
}

std::string WriteAll(const std::vector<Sent>& sent, const std::string& name) {
  const std::string path = ::testing::TempDir() + name;
  CaptureWriter writer;
  EXPECT_TRUE(writer.Open(path, "capture_writer_test")) << writer.error();
  for (const Sent& s : sent) {
    DatagramRecord record{s.time_ns, s.src_ip, s.dst_ip, s.src_port, s.dst_port,
                          s.payload.data(), static_cast<uint32_t>(s.payload.size())};
    EXPECT_TRUE(writer.Write(record)) << writer.error();
  }
  const uint64_t counted = writer.bytes();
  EXPECT_TRUE(writer.Close()) << writer.error();
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  EXPECT_EQ(static_cast<uint64_t>(in.tellg()), counted);
  return path;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(CaptureWriter, DatagramsReadBackAsWritten) {
  const std::vector<Sent> sent = Datagrams();
  const CaptureContents contents = ReadCaptureFile(WriteAll(sent, "writer_round_trip.pcapng"));
  ASSERT_TRUE(contents.ok()) << contents.error;
  ASSERT_EQ(contents.datagrams.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    const CapturedDatagram& got = contents.datagrams[i];
    EXPECT_EQ(got.time_ns, sent[i].time_ns) << i;
    EXPECT_EQ(got.src_ip, sent[i].src_ip) << i;
    EXPECT_EQ(got.dst_ip, sent[i].dst_ip) << i;
    EXPECT_EQ(got.src_port, sent[i].src_port) << i;
    EXPECT_EQ(got.dst_port, sent[i].dst_port) << i;
    EXPECT_EQ(got.payload, sent[i].payload) << i;
    EXPECT_FALSE(got.truncated) << i;
  }
}

TEST(CaptureWriter, RefusesWhatItCannotWrite) {
  CaptureWriter writer;
  EXPECT_FALSE(writer.Open(::testing::TempDir() + "no/such/folder/x.pcapng", "t"));
  EXPECT_NE(writer.error().find("cannot be created"), std::string::npos) << writer.error();

  ASSERT_TRUE(writer.Open(::testing::TempDir() + "writer_too_long.pcapng", "t"));
  std::vector<uint8_t> huge(CaptureWriter::kMaxPayload + 1);
  DatagramRecord record{1, 1, 2, 3, 4, huge.data(), static_cast<uint32_t>(huge.size())};
  EXPECT_FALSE(writer.Write(record));
  record.length = CaptureWriter::kMaxPayload;
  EXPECT_TRUE(writer.Write(record)) << writer.error();
}

#ifdef KESTO_HAVE_LIBPCAP_ORACLE
TEST(CaptureWriter, LibpcapReadsTheRecordingAlike) {
  const std::vector<uint8_t> bytes = FileBytes(WriteAll(Datagrams(), "writer_libpcap.pcapng"));
  EXPECT_EQ(LibpcapError(bytes), "");
  EXPECT_EQ(CompareWithLibpcap(bytes), "");
}
#endif

}  // namespace
}  // namespace kesto::capture::testing
