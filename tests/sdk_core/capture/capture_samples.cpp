#include "capture_samples.h"

#include <cstring>

namespace kesto::capture::testing {
namespace {

constexpr uint64_t kSecond = 1000000000;

Bytes Payload(size_t size, uint8_t seed) {
  Bytes payload(size);
  for (size_t i = 0; i < size; ++i) payload[i] = static_cast<uint8_t>(seed + i * 7);
  return payload;
}

__extension__ typedef unsigned __int128 Wide;

// `kept`: payload bytes the capture holds; `truncated`: fewer than the UDP length says.
CapturedDatagram Expected(const UdpSample& sample, uint64_t time_ns, size_t kept = SIZE_MAX,
                          bool truncated = false) {
  CapturedDatagram d;
  d.time_ns = time_ns;
  std::memcpy(&d.src_ip, sample.src, 4);
  std::memcpy(&d.dst_ip, sample.dst, 4);
  d.src_port = sample.src_port;
  d.dst_port = sample.dst_port;
  d.payload = sample.payload;
  if (kept < d.payload.size()) d.payload.resize(kept);
  d.truncated = truncated;
  return d;
}

// The packets every link type's sample carries: datagrams of several shapes, and packets that
// carry none. Each entry: the IP datagram, and what it must yield (none for the others).
struct Traffic {
  std::vector<UdpSample> samples_udp;
  std::vector<bool> yields;
  std::vector<size_t> kept;  // payload bytes the UDP length leaves, SIZE_MAX: all
};

Traffic MixedTraffic() {
  Traffic t;
  auto add = [&t](UdpSample sample, bool yields, size_t kept = SIZE_MAX) {
    t.samples_udp.push_back(sample);
    t.yields.push_back(yields);
    t.kept.push_back(kept);
  };
  UdpSample plain;
  plain.payload = Payload(40, 1);
  add(plain, true);
  UdpSample options = plain;  // a longer IP header
  options.ip_option_bytes = 12;
  options.src_port = 7000;
  options.payload = Payload(3, 9);
  add(options, true);
  UdpSample padded = plain;  // Ethernet's minimum frame pads after the IP datagram
  padded.payload = Payload(2, 4);
  padded.ip_trailer_bytes = 16;
  add(padded, true);
  UdpSample short_udp = plain;  // UDP length shorter than the IP payload: the UDP length wins
  short_udp.udp_length_delta = -5;
  add(short_udp, true, 35);
  UdpSample empty = plain;
  empty.payload.clear();
  add(empty, true);
  UdpSample tcp = plain;
  tcp.protocol = 6;
  add(tcp, false);
  UdpSample first_fragment = plain;  // more fragments follow
  first_fragment.flags_offset = 0x2000;
  add(first_fragment, false);
  UdpSample later_fragment = plain;
  later_fragment.flags_offset = 0x0010;
  add(later_fragment, false);
  UdpSample bad_udp_length = plain;  // less than its own header
  bad_udp_length.udp_length_delta = -48 + 4;
  add(bad_udp_length, false);
  UdpSample other = plain;
  other.src[3] = 11;
  other.dst[0] = 10;
  other.dst_port = 9;
  other.payload = Payload(1200, 3);
  add(other, true);
  return t;
}

uint64_t PcapTime(size_t i, bool nano) {
  return (1700000000 + i) * kSecond + (nano ? 123456789 + i : (123456 + i) * 1000);
}

Sample PcapSample(const std::string& name, bool big, bool nano, uint32_t link_type,
                  const std::vector<uint16_t>& vlans = {}) {
  Sample s{name, {}, {}};
  PcapFile file(big, nano, link_type);
  const Traffic t = MixedTraffic();
  for (size_t i = 0; i < t.samples_udp.size(); ++i) {
    file.Add(static_cast<uint32_t>(1700000000 + i),
             static_cast<uint32_t>(nano ? 123456789 + i : 123456 + i),
             Frame(link_type, Ipv4Udp(t.samples_udp[i]), vlans));
    if (t.yields[i]) s.datagrams.push_back(Expected(t.samples_udp[i], PcapTime(i, nano), t.kept[i]));
  }
  s.bytes = file.bytes();
  return s;
}

}  // namespace

std::vector<Sample> Samples() {
  std::vector<Sample> samples;
  samples.push_back(PcapSample("pcap-le-us-ethernet", false, false, 1));
  samples.push_back(PcapSample("pcap-be-us-ethernet-vlan", true, false, 1, {0x8100}));
  samples.push_back(PcapSample("pcap-le-ns-ethernet-qinq", false, true, 1, {0x88A8, 0x8100}));
  samples.push_back(PcapSample("pcap-be-ns-raw", true, true, 101));
  samples.push_back(PcapSample("pcap-le-us-ipv4", false, false, 228));
  samples.push_back(PcapSample("pcap-be-us-sll", true, false, 113));
  samples.push_back(PcapSample("pcap-le-ns-sll2", false, true, 276));

  {  // A snapshot length shorter than the packets: the datagrams come out truncated.
    Sample s{"pcap-le-us-snaplen", {}, {}};
    PcapFile file(false, false, 1, 60);
    UdpSample sample;
    sample.payload = Payload(100, 5);
    Bytes frame = Frame(1, Ipv4Udp(sample));
    const uint32_t original = static_cast<uint32_t>(frame.size());
    frame.resize(60);
    file.Add(1, 2, frame, original);
    s.datagrams.push_back(Expected(sample, kSecond + 2000, 60 - 14 - 28, true));
    s.bytes = file.bytes();
    samples.push_back(s);
  }

  // pcapng: time stamp units of each kind, blocks to skip, simple packet blocks, sections.
  struct Unit {
    const char* name;
    std::optional<uint8_t> tsresol;
    uint64_t per_second;
  };
  const Unit units[] = {{"us", std::nullopt, 1000000}, {"ns", 9, kSecond}, {"ms", 3, 1000},
                        {"ps", 12, 1000000000000}, {"2^-20", 0x80 | 20, 1u << 20},
                        {"2^-40", 0x80 | 40, uint64_t{1} << 40}};
  for (const bool big : {false, true}) {
    for (const Unit& unit : units) {
      // Not 101 here: libpcap compares a second interface's 101 with its own number for raw IP
      // and refuses the file (101 is read in classic pcap and the mixed sections below).
      for (const uint32_t link : {1u, 228u, 113u, 276u}) {
        Sample s{std::string("pcapng-") + (big ? "be-" : "le-") + unit.name + "-link" + std::to_string(link), {}, {}};
        PcapngFile file(big);
        file.Block(4, {0, 0, 0, 0});              // name resolution, empty
        file.Interface(link, 65535, unit.tsresol);
        file.Interface(link, 65535, unit.tsresol, 100);  // if_tsoffset: 100 s later
        file.Block(0x40000BAD, {1, 2, 3, 4, 5, 6, 7, 8});  // a custom block
        const Traffic t = MixedTraffic();
        for (size_t i = 0; i < t.samples_udp.size(); ++i) {
          const uint32_t face = static_cast<uint32_t>(i % 2);
          // Seconds small enough for a picosecond count to fit in 64 bits.
          const uint64_t ticks = (1000000 + i) * unit.per_second + unit.per_second / 3 + i;
          file.Enhanced(face, ticks, Frame(link, Ipv4Udp(t.samples_udp[i])));
          // The same conversion as the reader's, written plainly: whole units and the rest.
          const Wide rest = ticks % unit.per_second;
          const uint64_t ns = (ticks / unit.per_second + (face == 1 ? 100 : 0)) * kSecond +
                              static_cast<uint64_t>(rest * kSecond / unit.per_second);
          if (t.yields[i]) s.datagrams.push_back(Expected(t.samples_udp[i], ns, t.kept[i]));
        }
        file.Block(5, Bytes(28, 0));  // interface statistics
        s.bytes = file.bytes();
        samples.push_back(s);
      }
    }
  }
  {  // Simple packet blocks: no time stamp, captured length from the snapshot length.
    Sample s{"pcapng-le-simple", {}, {}};
    PcapngFile file(false);
    file.Interface(228, 80);
    UdpSample sample;
    sample.payload = Payload(20, 2);
    file.Simple(Ipv4Udp(sample));
    s.datagrams.push_back(Expected(sample, 0));
    sample.payload = Payload(200, 8);
    Bytes ip = Ipv4Udp(sample);
    const uint32_t original = static_cast<uint32_t>(ip.size());
    ip.resize(80);
    file.Simple(ip, original);
    s.datagrams.push_back(Expected(sample, 0, 80 - 28, true));
    s.bytes = file.bytes();
    samples.push_back(s);
  }
  {  // Several sections of one byte order and link type: interfaces numbered anew in each.
    Sample s{"pcapng-sections", {}, {}};
    PcapngFile file(false);
    UdpSample sample;
    sample.payload = Payload(10, 1);
    for (int section = 0; section < 3; ++section) {
      if (section > 0) file.Section(false);
      file.Interface(1, 65535, 9);
      sample.dst_port = static_cast<uint16_t>(1000 + section);
      file.Enhanced(0, 5 * kSecond + static_cast<uint64_t>(section), Frame(1, Ipv4Udp(sample)));
      s.datagrams.push_back(Expected(sample, 5 * kSecond + static_cast<uint64_t>(section)));
    }
    s.bytes = file.bytes();
    samples.push_back(s);
  }
  {  // Sections of both byte orders, interfaces of different link types and time units.
    Sample s{"pcapng-mixed-sections", {}, {}, false};
    PcapngFile file(true);
    file.Interface(1, 65535, 9);
    file.Interface(276, 1500);
    UdpSample sample;
    sample.payload = Payload(30, 6);
    file.Enhanced(1, 2000000, Frame(276, Ipv4Udp(sample)));
    s.datagrams.push_back(Expected(sample, 2 * kSecond));
    file.Enhanced(0, 3 * kSecond, Frame(1, Ipv4Udp(sample), {0x8100}));
    s.datagrams.push_back(Expected(sample, 3 * kSecond));
    file.Section(false);
    file.Interface(101, 65535, 0x80 | 10);
    file.Enhanced(0, 4 * 1024 + 512, Frame(101, Ipv4Udp(sample)));
    s.datagrams.push_back(Expected(sample, 4 * kSecond + kSecond / 2));
    s.bytes = file.bytes();
    samples.push_back(s);
  }
  return samples;
}

}  // namespace kesto::capture::testing
