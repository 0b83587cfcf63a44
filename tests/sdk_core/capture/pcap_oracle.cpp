#include "pcap_oracle.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "capture_reader.h"
#include "datagram_decode.h"

namespace kesto::capture::testing {
namespace {

struct Packet {
  uint64_t time_ns = 0;
  uint32_t original_length = 0;
  std::vector<uint8_t> bytes;
};

struct LibpcapRead {
  bool opened = false;
  int dlt = -1;
  std::vector<Packet> packets;
  bool failed = false;  // ended with an error (or never opened)
  std::string error;
};

void JudgeClassicTimes(const std::vector<uint8_t>& bytes, std::vector<Packet>& packets);

LibpcapRead ReadWithLibpcap(const std::vector<uint8_t>& bytes) {
  LibpcapRead read;
  std::FILE* file = bytes.empty() ? std::tmpfile()
                                  : fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb");
  if (file == nullptr) {
    read.failed = true;
    read.error = "test cannot make a stream";
    return read;
  }
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_t* pcap = pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_NANO, errbuf);
  if (pcap == nullptr) {
    std::fclose(file);
    read.failed = true;
    read.error = errbuf;
    return read;
  }
  read.opened = true;
  read.dlt = pcap_datalink(pcap);
  for (;;) {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int rc = pcap_next_ex(pcap, &header, &data);
    if (rc == 1) {
      Packet packet;
      packet.time_ns = static_cast<uint64_t>(header->ts.tv_sec) * 1000000000u +
                       static_cast<uint64_t>(header->ts.tv_usec);
      packet.original_length = header->len;
      packet.bytes.assign(data, data + header->caplen);
      read.packets.push_back(std::move(packet));
      continue;
    }
    if (rc == -1) {
      read.failed = true;
      read.error = pcap_geterr(pcap);
    }
    break;
  }
  pcap_close(pcap);
  JudgeClassicTimes(bytes, read.packets);
  return read;
}

// The decoder of the judge, written apart from the reader's: a cursor over the packet that
// refuses to step past its end.
struct Cursor {
  const std::vector<uint8_t>& bytes;
  size_t at = 0;
  bool Has(size_t n) const { return at <= bytes.size() && bytes.size() - at >= n; }
  uint16_t Be16(size_t offset) const {
    return static_cast<uint16_t>(bytes[at + offset] * 256 + bytes[at + offset + 1]);
  }
};

std::optional<CapturedDatagram> JudgeDatagram(int dlt, const std::vector<uint8_t>& bytes) {
  Cursor c{bytes};
  uint16_t type = 0x0800;
  // Ethernet and Linux cooked v1: the type field ends the header; VLAN tags may follow.
  const size_t type_end = dlt == DLT_EN10MB ? 14 : dlt == DLT_LINUX_SLL ? 16 : 0;
  if (type_end != 0) {
    if (!c.Has(type_end)) return std::nullopt;
    type = c.Be16(type_end - 2);
    c.at = type_end;
    while (type == 0x8100 || type == 0x88A8 || type == 0x9100) {
      if (!c.Has(4)) return std::nullopt;
      type = c.Be16(2);
      c.at += 4;
    }
  } else if (dlt == DLT_LINUX_SLL2) {
    if (!c.Has(20)) return std::nullopt;
    type = c.Be16(0);
    c.at = 20;
  }
  if (type != 0x0800 || !c.Has(20)) return std::nullopt;
  const size_t ip_start = c.at;
  const unsigned version = bytes[ip_start] >> 4, words = bytes[ip_start] & 15u;
  const unsigned total = c.Be16(2), frag = c.Be16(6), proto = bytes[ip_start + 9];
  if (version != 4 || words < 5 || !c.Has(words * 4u) || total < words * 4u) return std::nullopt;
  if ((frag & 0x2000u) != 0 || (frag & 0x1FFFu) != 0 || proto != 17) return std::nullopt;
  CapturedDatagram d;
  std::memcpy(&d.src_ip, &bytes[ip_start + 12], 4);
  std::memcpy(&d.dst_ip, &bytes[ip_start + 16], 4);
  const size_t ip_end = std::min<size_t>(ip_start + total, bytes.size());
  c.at = ip_start + words * 4u;
  if (ip_end - c.at < 8) return std::nullopt;
  d.src_port = c.Be16(0);
  d.dst_port = c.Be16(2);
  const unsigned udp_length = c.Be16(4);
  if (udp_length < 8) return std::nullopt;
  const size_t udp_end = std::min<size_t>(c.at + udp_length, ip_end);
  d.payload.assign(bytes.begin() + static_cast<long>(c.at + 8), bytes.begin() + static_cast<long>(udp_end));
  d.truncated = udp_end < c.at + udp_length;
  return d;
}

bool JudgeKnowsDlt(int dlt) {
  return dlt == DLT_EN10MB || dlt == DLT_RAW || dlt == DLT_IPV4 || dlt == DLT_LINUX_SLL ||
         dlt == DLT_LINUX_SLL2;
}

// libpcap rewrites some link-layer headers into the host's byte order (those of the link
// types the judge does not decode, and CAN frames behind a Linux cooked header), so the bytes
// of those packets are not compared, only their lengths.
bool LibpcapRewrites(int dlt, const std::vector<uint8_t>& bytes) {
  if (!JudgeKnowsDlt(dlt)) return true;
  const size_t at = dlt == DLT_LINUX_SLL ? 14 : dlt == DLT_LINUX_SLL2 ? 0 : SIZE_MAX;
  if (at == SIZE_MAX || bytes.size() < at + 2) return false;
  return bytes[at] == 0 && (bytes[at + 1] == 0x0C || bytes[at + 1] == 0x0D);
}

// Whether the input may hold sections of both byte orders: it holds the byte-order magic in
// both. libpcap reads a section header's length in the previous section's order, and so may
// refuse such a file for a block length before it sees the other order.
bool MayMixByteOrders(const std::vector<uint8_t>& bytes) {
  const uint8_t le[] = {0x4D, 0x3C, 0x2B, 0x1A}, be[] = {0x1A, 0x2B, 0x3C, 0x4D};
  return std::search(bytes.begin(), bytes.end(), std::begin(le), std::end(le)) != bytes.end() &&
         std::search(bytes.begin(), bytes.end(), std::begin(be), std::end(be)) != bytes.end();
}

// libpcap refusals of files the reader is meant to read.
bool LibpcapIsStricter(const std::string& error, bool may_mix_orders) {
  if (may_mix_orders && (error.find("pcapng block size") != std::string::npos ||
                         error.find("block in pcapng dump file has a length") != std::string::npos ||
                         error.find("bad byte order magic") != std::string::npos)) {
    return true;
  }
  for (const char* text : {"sections with different byte orders", "different from the type of the first",
                           "different from the snapshot length of the first"}) {
    if (error.find(text) != std::string::npos) return true;
  }
  return false;
}

// libpcap forms the sub-second part of a binary time stamp unit as fraction * 10^9 / 2^n in
// 64 bits, which overflows for units finer than 2^-34 s; the reader does not. Where the input
// may hold such an interface option (code 9, length 1, in either byte order; found anywhere,
// so some inputs are judged this way needlessly), only the whole seconds are compared.
bool MayHoldFineBinaryUnits(const std::vector<uint8_t>& bytes) {
  for (size_t i = 0; i + 5 <= bytes.size(); ++i) {
    const bool le = bytes[i] == 9 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == 0;
    const bool be = bytes[i] == 0 && bytes[i + 1] == 9 && bytes[i + 2] == 0 && bytes[i + 3] == 1;
    const uint8_t unit = bytes[i + 4];
    if ((le || be) && (unit & 0x80u) != 0 && (unit & 0x7Fu) > 34) return true;
  }
  return false;
}

bool SameTime(uint64_t a, uint64_t b, bool seconds_only) {
  if (!seconds_only) return a == b;
  return a - b < 1000000000u || b - a < 1000000000u;
}

// libpcap reads a classic pcap record's seconds and sub-second fields as signed 32-bit values
// (and scales microseconds in 32 bits), so seconds past 2^31 and out-of-range fractions come
// out wrapped; the reader takes them unsigned and carries an excess fraction into the seconds.
// For such records the judge's time is formed from the record's own fields, found by walking
// the records; for all others it is libpcap's.
void JudgeClassicTimes(const std::vector<uint8_t>& bytes, std::vector<Packet>& packets) {
  if (bytes.size() < 24) return;
  auto u32 = [&bytes](size_t at, bool big) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v |= uint32_t{bytes[at + i]} << (big ? 8 * (3 - i) : 8 * i);
    return v;
  };
  bool big = false, nano = false, classic = false;
  for (const bool b : {false, true}) {
    const uint32_t magic = u32(0, b);
    if (magic == 0xA1B2C3D4 || magic == 0xA1B23C4D) {
      big = b;
      nano = magic == 0xA1B23C4D;
      classic = true;
    }
  }
  if (!classic) return;
  const uint32_t major = big ? bytes[4] * 256u + bytes[5] : bytes[5] * 256u + bytes[4];
  const uint32_t minor = big ? bytes[6] * 256u + bytes[7] : bytes[7] * 256u + bytes[6];
  const bool swapped = major != 2 || minor < 3, maybe_swapped = major == 2 && minor == 3;
  size_t at = 24;
  for (Packet& packet : packets) {
    if (at + 16 > bytes.size()) return;
    const uint32_t seconds = u32(at, big), fraction = u32(at + 4, big);
    if (seconds >= 0x80000000u || fraction >= (nano ? 1000000000u : 1000000u)) {
      packet.time_ns = uint64_t{seconds} * 1000000000u + uint64_t{fraction} * (nano ? 1u : 1000u);
    }
    // The captured length: before version 2.3 in the other length field, in 2.3 the smaller.
    const uint32_t first = u32(at + 8, big), second = u32(at + 12, big);
    at += 16 + size_t{swapped ? second : maybe_swapped ? std::min(first, second) : first};
  }
}

std::string Describe(const CapturedDatagram& d) {
  char text[160];
  std::snprintf(text, sizeof text, "[t=%llu %08x:%u -> %08x:%u, %zu bytes%s]",
                static_cast<unsigned long long>(d.time_ns), d.src_ip, d.src_port, d.dst_ip,
                d.dst_port, d.payload.size(), d.truncated ? ", truncated" : "");
  return text;
}

bool Same(const CapturedDatagram& a, const CapturedDatagram& b, bool seconds_only) {
  return SameTime(a.time_ns, b.time_ns, seconds_only) && a.src_ip == b.src_ip && a.dst_ip == b.dst_ip &&
         a.src_port == b.src_port && a.dst_port == b.dst_port && a.payload == b.payload &&
         a.truncated == b.truncated;
}

}  // namespace

std::string CompareWithLibpcap(const std::vector<uint8_t>& bytes) {
  const LibpcapRead lib = ReadWithLibpcap(bytes);
  CaptureReader reader = CaptureReader::FromBytes(bytes);
  std::vector<CapturedPacket> ours;
  CapturedPacket packet;
  ReadStatus status;
  while ((status = reader.NextPacket(packet)) == ReadStatus::kItem) ours.push_back(packet);
  const bool our_error = status == ReadStatus::kError;
  const std::string tail = " (libpcap: \"" + lib.error + "\"; reader: \"" + reader.error() + "\")";

  const bool seconds_only = MayHoldFineBinaryUnits(bytes);
  const size_t common = std::min(ours.size(), lib.packets.size());
  for (size_t i = 0; i < common; ++i) {
    const Packet& want = lib.packets[i];
    const CapturedPacket& got = ours[i];
    if (!SameTime(got.time_ns, want.time_ns, seconds_only)) {
      return "packet " + std::to_string(i) + ": time " + std::to_string(got.time_ns) +
             " where libpcap has " + std::to_string(want.time_ns);
    }
    const bool same_bytes = LibpcapRewrites(lib.dlt, got.bytes) ? got.bytes.size() == want.bytes.size()
                                                                : got.bytes == want.bytes;
    if (got.original_length != want.original_length || !same_bytes) {
      return "packet " + std::to_string(i) + ": " + std::to_string(got.bytes.size()) + " of " +
             std::to_string(got.original_length) + " bytes where libpcap has " +
             std::to_string(want.bytes.size()) + " of " + std::to_string(want.original_length) +
             (got.bytes.size() == want.bytes.size() ? " (contents differ)" : "");
    }
  }
  const bool stricter = lib.failed && LibpcapIsStricter(lib.error, MayMixByteOrders(bytes));
  if (ours.size() < lib.packets.size()) {
    return "reader stopped after " + std::to_string(ours.size()) + " packets, libpcap read " +
           std::to_string(lib.packets.size()) + tail;
  }
  if (ours.size() > lib.packets.size() && !stricter) {
    return "reader read " + std::to_string(ours.size()) + " packets, libpcap only " +
           std::to_string(lib.packets.size()) + tail;
  }
  if (lib.failed != our_error && !stricter) {
    return std::string(lib.failed ? "libpcap fails, the reader does not" : "the reader fails, libpcap does not") + tail;
  }

  // The datagrams of the packets both read, through each side's decoder.
  const CaptureContents contents = ReadCaptureBytes(bytes);
  const bool decodable = !ours.empty() && IsDecodableLinkType(ours.front().link_type);
  if (!ours.empty() && !decodable) {
    if (contents.ok() || !contents.datagrams.empty()) return "a packet of an unknown link type did not stop the datagrams";
    return "";
  }
  if (!lib.opened || !JudgeKnowsDlt(lib.dlt)) return "";
  std::vector<CapturedDatagram> judged;
  for (size_t i = 0; i < common; ++i) {
    if (auto d = JudgeDatagram(lib.dlt, lib.packets[i].bytes)) {
      d->time_ns = lib.packets[i].time_ns;
      judged.push_back(std::move(*d));
    }
  }
  if (contents.datagrams.size() < judged.size()) {
    return "reader found " + std::to_string(contents.datagrams.size()) + " datagrams, the judge " +
           std::to_string(judged.size()) + " (reader: \"" + contents.error + "\")";
  }
  for (size_t i = 0; i < judged.size(); ++i) {
    if (!Same(contents.datagrams[i], judged[i], seconds_only)) {
      return "datagram " + std::to_string(i) + ": " + Describe(contents.datagrams[i]) +
             " where the judge has " + Describe(judged[i]);
    }
  }
  if (contents.datagrams.size() > judged.size() && !stricter) {
    return "reader found " + std::to_string(contents.datagrams.size()) + " datagrams, the judge only " +
           std::to_string(judged.size());
  }
  return "";
}

std::string LibpcapError(const std::vector<uint8_t>& bytes) { return ReadWithLibpcap(bytes).error; }

}  // namespace kesto::capture::testing
