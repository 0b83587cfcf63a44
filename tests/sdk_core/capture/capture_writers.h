#ifndef KESTO_TESTS_CAPTURE_CAPTURE_WRITERS_H_
#define KESTO_TESTS_CAPTURE_CAPTURE_WRITERS_H_

// Small writers of capture files for the reader's tests and seed corpus: classic pcap and
// pcapng in either byte order, and the packets inside (IPv4/UDP in each link layer). Written
// from the formats' layouts, without the reader's code, so the two can disagree.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kesto::capture::testing {

using Bytes = std::vector<uint8_t>;

struct UdpSample {
  uint8_t src[4] = {192, 168, 1, 10};
  uint8_t dst[4] = {192, 168, 1, 50};
  uint16_t src_port = 56000;
  uint16_t dst_port = 57000;
  Bytes payload;
  size_t ip_option_bytes = 0;   // a multiple of 4, up to 40
  uint16_t flags_offset = 0x4000;  // don't-fragment, offset 0
  uint8_t protocol = 17;
  int udp_length_delta = 0;     // the UDP length field claims this many bytes more (or fewer)
  size_t ip_trailer_bytes = 0;  // link-layer padding after the IP datagram
};

// An IPv4 datagram (UDP unless `protocol` says otherwise).
Bytes Ipv4Udp(const UdpSample& sample);
// `ip` behind the link layer of `link_type` (1, 101, 228, 113 or 276); Ethernet with the VLAN
// tags (their type numbers) in order.
Bytes Frame(uint32_t link_type, const Bytes& ip, const std::vector<uint16_t>& vlan_types = {});

// Values appended in a chosen byte order.
struct Writer {
  bool big_endian = false;
  Bytes out;
  void U8(uint8_t v) { out.push_back(v); }
  void U16(uint16_t v);
  void U32(uint32_t v);
  void U64(uint64_t v);
  void Raw(const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }
  void Pad4() { while (out.size() % 4 != 0) out.push_back(0); }
};

class PcapFile {
 public:
  PcapFile(bool big_endian, bool nano, uint32_t link_type, uint32_t snaplen = 65535,
           uint16_t major = 2, uint16_t minor = 4);
  // `original` 0: the packet's own size.
  void Add(uint32_t seconds, uint32_t fraction, const Bytes& packet, uint32_t original = 0,
           std::optional<uint32_t> captured_field = std::nullopt);
  const Bytes& bytes() const { return w_.out; }
  // Where each record starts, for damaging them.
  const std::vector<size_t>& records() const { return records_; }
  bool big_endian() const { return w_.big_endian; }

 private:
  Writer w_;
  std::vector<size_t> records_;
};

class PcapngFile {
 public:
  explicit PcapngFile(bool big_endian, uint16_t major = 1, uint16_t minor = 0) {
    Section(big_endian, major, minor);
  }
  // A new section (byte order of its own) whose interfaces are numbered from 0 again.
  void Section(bool big_endian, uint16_t major = 1, uint16_t minor = 0);
  // if_tsresol byte (absent: microseconds) and if_tsoffset seconds.
  void Interface(uint32_t link_type, uint32_t snaplen = 65535,
                 std::optional<uint8_t> tsresol = std::nullopt,
                 std::optional<int64_t> tsoffset = std::nullopt);
  void Enhanced(uint32_t interface_id, uint64_t ticks, const Bytes& packet, uint32_t original = 0);
  void Simple(const Bytes& packet, uint32_t original = 0);
  // Any block, its body as given.
  void Block(uint32_t type, const Bytes& body);
  const Bytes& bytes() const { return w_.out; }
  // Where each block starts, and the byte order of its section.
  struct BlockAt {
    size_t start;
    bool big_endian;
  };
  const std::vector<BlockAt>& blocks() const { return blocks_; }

 private:
  void Open(uint32_t type);
  void Close();
  Writer w_;
  std::vector<BlockAt> blocks_;
};

// Stores a 32-bit value at `at` in the given order (for damaging a written file).
void Poke32(Bytes& bytes, size_t at, uint32_t value, bool big_endian);

}  // namespace kesto::capture::testing

#endif  // KESTO_TESTS_CAPTURE_CAPTURE_WRITERS_H_
