#include "capture_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "capture_samples.h"
#include "capture_writers.h"

namespace kesto::capture::testing {
namespace {

void ExpectSameDatagrams(const std::vector<CapturedDatagram>& got,
                         const std::vector<CapturedDatagram>& want, const std::string& name) {
  ASSERT_EQ(got.size(), want.size()) << name;
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].time_ns, want[i].time_ns) << name << " #" << i;
    EXPECT_EQ(got[i].src_ip, want[i].src_ip) << name << " #" << i;
    EXPECT_EQ(got[i].dst_ip, want[i].dst_ip) << name << " #" << i;
    EXPECT_EQ(got[i].src_port, want[i].src_port) << name << " #" << i;
    EXPECT_EQ(got[i].dst_port, want[i].dst_port) << name << " #" << i;
    EXPECT_EQ(got[i].payload, want[i].payload) << name << " #" << i;
    EXPECT_EQ(got[i].truncated, want[i].truncated) << name << " #" << i;
  }
}

TEST(CaptureReader, EveryFormatAndLinkTypeYieldsItsDatagrams) {
  for (const Sample& sample : Samples()) {
    const CaptureContents contents = ReadCaptureBytes(sample.bytes);
    EXPECT_TRUE(contents.ok()) << sample.name << ": " << contents.error;
    ExpectSameDatagrams(contents.datagrams, sample.datagrams, sample.name);
  }
}

TEST(CaptureReader, AddressesAreHandlesAndPortsHostOrder) {
  const CaptureContents contents = ReadCaptureBytes(Samples().front().bytes);
  ASSERT_FALSE(contents.datagrams.empty());
  const CapturedDatagram& d = contents.datagrams.front();
  const uint8_t* src = reinterpret_cast<const uint8_t*>(&d.src_ip);
  EXPECT_EQ(src[0], 192);
  EXPECT_EQ(src[3], 10);
  EXPECT_EQ(d.src_port, 56000);
  EXPECT_EQ(d.dst_port, 57000);
}

TEST(CaptureReader, FileReadsLikeBytesAndAMissingFileIsAnError) {
  const Sample sample = Samples().back();
  const std::string path = ::testing::TempDir() + "capture_reader_test.pcapng";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(sample.bytes.data()), static_cast<std::streamsize>(sample.bytes.size()));
  }
  const CaptureContents contents = ReadCaptureFile(path);
  EXPECT_TRUE(contents.ok()) << contents.error;
  ExpectSameDatagrams(contents.datagrams, sample.datagrams, sample.name);
  std::remove(path.c_str());

  const CaptureContents missing = ReadCaptureFile(path);
  EXPECT_NE(missing.error.find("cannot open"), std::string::npos) << missing.error;
  EXPECT_TRUE(missing.datagrams.empty());
}

TEST(CaptureReader, PacketsCarryTheirInterfaceLinkTypeAndLengths) {
  PcapngFile file(true);
  file.Interface(1, 65535, 9);
  file.Interface(276, 64);
  const Bytes ip = Ipv4Udp(UdpSample{});
  file.Enhanced(1, 7, Frame(276, ip), 1000);
  file.Section(false);
  file.Interface(101);
  file.Enhanced(0, 3000001, ip);
  CaptureReader reader = CaptureReader::FromBytes(file.bytes());
  CapturedPacket packet;
  ASSERT_EQ(reader.NextPacket(packet), ReadStatus::kItem) << reader.error();
  EXPECT_EQ(packet.link_type, 276u);
  EXPECT_EQ(packet.interface_id, 1u);
  EXPECT_EQ(packet.original_length, 1000u);
  EXPECT_EQ(packet.bytes, Frame(276, ip));
  EXPECT_EQ(packet.time_ns, 7000u);
  ASSERT_EQ(reader.NextPacket(packet), ReadStatus::kItem) << reader.error();
  EXPECT_EQ(packet.link_type, 101u);
  EXPECT_EQ(packet.interface_id, 0u);
  EXPECT_EQ(packet.time_ns, 3000001000u);
  EXPECT_EQ(reader.NextPacket(packet), ReadStatus::kEnd);
  EXPECT_EQ(reader.NextPacket(packet), ReadStatus::kEnd);
  EXPECT_TRUE(reader.error().empty());
}

TEST(CaptureReader, UnknownLinkTypeGivesPacketsButNoDatagrams) {
  PcapFile file(false, false, 147);
  file.Add(1, 0, Ipv4Udp(UdpSample{}));
  CaptureReader packets = CaptureReader::FromBytes(file.bytes());
  CapturedPacket packet;
  EXPECT_EQ(packets.NextPacket(packet), ReadStatus::kItem);
  EXPECT_EQ(packet.link_type, 147u);
  const CaptureContents contents = ReadCaptureBytes(file.bytes());
  EXPECT_NE(contents.error.find("link type 147"), std::string::npos) << contents.error;
}

TEST(CaptureReader, EveryPrefixEndsWithADatagramPrefixAndNeverReadsPastIt) {
  for (const Sample& sample : Samples()) {
    for (size_t size = 0; size < sample.bytes.size(); ++size) {
      const Bytes prefix(sample.bytes.begin(), sample.bytes.begin() + static_cast<long>(size));
      const CaptureContents contents = ReadCaptureBytes(prefix);
      ASSERT_LE(contents.datagrams.size(), sample.datagrams.size()) << sample.name << " " << size;
      for (size_t i = 0; i < contents.datagrams.size(); ++i) {
        ASSERT_EQ(contents.datagrams[i].payload, sample.datagrams[i].payload) << sample.name << " " << size;
      }
      if (size < 24) {
        EXPECT_FALSE(contents.ok()) << sample.name << " " << size;
      }
    }
  }
}

// A damaged capture: the datagrams before the damage, then an error naming it.
struct Damage {
  const char* name;
  Bytes bytes;
  const char* error;
  size_t datagrams_before;
};

std::vector<Damage> Damages() {
  std::vector<Damage> cases;
  const Bytes frame = Frame(1, Ipv4Udp(UdpSample{}));
  auto pcap = [&frame](bool big) {
    PcapFile file(big, false, 1);
    file.Add(1, 0, frame);
    file.Add(2, 0, frame);
    return file;
  };
  cases.push_back({"empty", {}, "empty file", 0});
  cases.push_back({"three bytes", {0xD4, 0xC3, 0xB2}, "too short", 0});
  cases.push_back({"wrong magic", {'G', 'I', 'F', '8', '9', 'a', 0, 0}, "unknown magic", 0});
  {
    Bytes b = pcap(false).bytes();
    b.resize(10);
    cases.push_back({"pcap file header cut", b, "file header truncated", 0});
  }
  cases.push_back({"pcap version 3.0", PcapFile(true, true, 1, 65535, 3, 0).bytes(), "unsupported pcap version 3.0", 0});
  {
    const PcapFile file = pcap(true);
    Bytes b = file.bytes();
    b.resize(file.records()[1] + 7);
    cases.push_back({"pcap record header cut", b, "record header truncated", 1});
    b = file.bytes();
    b.pop_back();
    cases.push_back({"pcap record cut", b, "runs past the end", 1});
    b = file.bytes();
    Poke32(b, file.records()[1] + 8, 0xFFFFFFF0, true);
    cases.push_back({"pcap huge captured length", b, "more than the largest packet", 1});
  }
  auto pcapng = [&frame](bool big) {
    PcapngFile file(big);
    file.Interface(1);
    file.Enhanced(0, 1, frame);
    file.Enhanced(0, 2, frame);
    return file;
  };
  for (const bool big : {false, true}) {
    const PcapngFile file = pcapng(big);
    const size_t last = file.blocks().back().start;
    for (const uint32_t length : {0u, 8u, 13u, 0x7FFFFFFCu}) {
      Bytes b = file.bytes();
      Poke32(b, last + 4, length, big);
      cases.push_back({"pcapng odd block length", b, "impossible length", 1});
    }
    Bytes b = file.bytes();
    Poke32(b, last + 4, 1024, big);
    cases.push_back({"pcapng block past the end", b, "runs past the end", 1});
    b = file.bytes();
    Poke32(b, b.size() - 4, 12, big);
    cases.push_back({"pcapng trailer differs", b, "ends with a length other", 1});
    b = file.bytes();
    Poke32(b, last + 8, 3, big);
    cases.push_back({"pcapng undescribed interface", b, "does not describe", 1});
    b = file.bytes();
    Poke32(b, last + 8 + 12, 1000, big);
    cases.push_back({"pcapng captured length past its block", b, "claims 1000 captured bytes", 1});
    b = file.bytes();
    b.resize(last + 5);
    cases.push_back({"pcapng block header cut", b, "block header truncated", 1});
    b = file.bytes();
    Poke32(b, 8, 0x11223344, big);
    cases.push_back({"pcapng bad byte-order magic", b, "byte-order magic", 0});
  }
  {
    PcapngFile file(false);
    cases.push_back({"pcapng without interfaces", file.bytes(), "no interface description", 0});
    file.Enhanced(0, 1, frame);
    cases.push_back({"pcapng packet before any interface", file.bytes(), "does not describe", 0});
  }
  {
    PcapngFile file(false, 2, 0);
    file.Interface(1);
    cases.push_back({"pcapng version 2.0", file.bytes(), "unsupported pcapng version 2.0", 0});
  }
  {
    PcapngFile file(true);
    file.Interface(1, 65535, 20);
    cases.push_back({"pcapng resolution 10^-20", file.bytes(), "too fine", 0});
  }
  {
    PcapngFile file(false);
    file.Interface(1);
    file.Enhanced(0, 1, frame);
    file.Interface(1, 65535, 0x80 | 64);
    cases.push_back({"pcapng resolution 2^-64", file.bytes(), "too fine", 1});
  }
  {
    PcapngFile file(false);
    file.Interface(1);
    file.Enhanced(0, 1, frame);
    file.Section(false);
    file.Enhanced(0, 1, frame);
    cases.push_back({"pcapng interface of an earlier section", file.bytes(), "does not describe", 1});
  }
  return cases;
}

TEST(CaptureReader, DamageEndsTheReadingWithItsReason) {
  for (const Damage& damage : Damages()) {
    const CaptureContents contents = ReadCaptureBytes(damage.bytes);
    EXPECT_NE(contents.error.find(damage.error), std::string::npos)
        << damage.name << ": \"" << contents.error << "\"";
    EXPECT_EQ(contents.datagrams.size(), damage.datagrams_before) << damage.name;
  }
}

TEST(CaptureReader, AnErrorStays) {
  Bytes b = Samples().front().bytes;
  b.resize(b.size() - 1);
  CaptureReader reader = CaptureReader::FromBytes(b);
  CapturedDatagram d;
  ReadStatus status;
  while ((status = reader.NextDatagram(d)) == ReadStatus::kItem) {
  }
  ASSERT_EQ(status, ReadStatus::kError);
  const std::string error = reader.error();
  EXPECT_NE(error.find("at byte "), std::string::npos) << error;
  CapturedPacket p;
  EXPECT_EQ(reader.NextPacket(p), ReadStatus::kError);
  EXPECT_EQ(reader.error(), error);
}

}  // namespace
}  // namespace kesto::capture::testing
