// The reader against libpcap on the same bytes: whole captures, every prefix of them, and
// every 32-bit field of them overwritten with lengths, counts and magic numbers that break it.

#include <gtest/gtest.h>

#include "capture_samples.h"
#include "pcap_oracle.h"

namespace kesto::capture::testing {
namespace {

TEST(CaptureLibpcap, SamplesReadAlike) {
  for (const Sample& sample : Samples()) {
    EXPECT_EQ(CompareWithLibpcap(sample.bytes), "") << sample.name;
    // Else the comparison above would have stopped where libpcap refused.
    if (sample.libpcap_reads_all) {
      EXPECT_EQ(LibpcapError(sample.bytes), "") << sample.name;
    }
  }
}

TEST(CaptureLibpcap, EveryPrefixReadsAlike) {
  for (const Sample& sample : Samples()) {
    for (size_t size = 0; size < sample.bytes.size(); ++size) {
      const Bytes prefix(sample.bytes.begin(), sample.bytes.begin() + static_cast<long>(size));
      const std::string difference = CompareWithLibpcap(prefix);
      ASSERT_EQ(difference, "") << sample.name << " cut to " << size << " bytes";
    }
  }
}

TEST(CaptureLibpcap, OverwrittenFieldsReadAlike) {
  const uint32_t values[] = {0,          1,          3,          8,          12,         13,
                             28,         0x40000,    0x40001,    0xFFFFFFFF, 0x7FFFFFFC, 0x0C000000,
                             0x0D000000, 0x01000000, 0x00040001, 0x1C000000, 0x0A0D0D0A};
  for (const Sample& sample : Samples()) {
    const size_t size = sample.bytes.size();
    for (size_t at = 0; at + 4 <= size; at += 4) {
      // The headers and the first records, and the last block or record.
      if (at >= 400 && at + 200 < size) continue;
      for (const uint32_t value : values) {
        Bytes damaged = sample.bytes;
        Poke32(damaged, at, value, false);
        const std::string difference = CompareWithLibpcap(damaged);
        ASSERT_EQ(difference, "") << sample.name << ": 0x" << std::hex << value << " at " << std::dec << at;
      }
    }
  }
}

TEST(CaptureLibpcap, UnknownLinkTypeAlike) {
  PcapFile file(false, true, 147);
  file.Add(1, 2, Ipv4Udp(UdpSample{}));
  EXPECT_EQ(CompareWithLibpcap(file.bytes()), "");
  PcapngFile ng(true);
  ng.Interface(147);
  ng.Enhanced(0, 5, Ipv4Udp(UdpSample{}));
  EXPECT_EQ(CompareWithLibpcap(ng.bytes()), "");
}

TEST(CaptureLibpcap, OldVersionsSwappedLengthsAlike) {
  const Bytes frame = Frame(1, Ipv4Udp(UdpSample{}));
  const uint32_t size = static_cast<uint32_t>(frame.size());
  for (const uint16_t major : {uint16_t{2}, uint16_t{543}}) {
    for (unsigned minor = 0; minor <= (major == 2 ? 4u : 0u); ++minor) {
      for (const bool big : {false, true}) {
        PcapFile file(big, false, 1, 65535, major, static_cast<uint16_t>(minor));
        file.Add(1, 0, frame, size + 40);        // captured, then original length
        file.Add(2, 0, frame, size, size + 40);  // the other way round
        file.Add(3, 0, frame);
        EXPECT_EQ(CompareWithLibpcap(file.bytes()), "") << major << "." << minor << (big ? " big" : "");
      }
    }
  }
}

TEST(CaptureLibpcap, SectionsOfBothByteOrdersAlikeUpToLibpcapsRefusal) {
  const Bytes frame = Frame(1, Ipv4Udp(UdpSample{}));
  for (const bool big : {false, true}) {
    PcapngFile file(big);
    file.Interface(1);
    file.Enhanced(0, 1, frame);
    file.Section(!big);
    file.Interface(1);
    file.Enhanced(0, 2, frame);
    EXPECT_EQ(CompareWithLibpcap(file.bytes()), "");
    EXPECT_NE(LibpcapError(file.bytes()), "");
  }
}

}  // namespace
}  // namespace kesto::capture::testing
