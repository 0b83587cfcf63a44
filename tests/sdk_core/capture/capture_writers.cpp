#include "capture_writers.h"

namespace kesto::capture::testing {

void Writer::U16(uint16_t v) {
  if (big_endian) {
    U8(static_cast<uint8_t>(v >> 8));
    U8(static_cast<uint8_t>(v));
  } else {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
  }
}

void Writer::U32(uint32_t v) {
  if (big_endian) {
    U16(static_cast<uint16_t>(v >> 16));
    U16(static_cast<uint16_t>(v));
  } else {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
}

void Writer::U64(uint64_t v) {
  if (big_endian) {
    U32(static_cast<uint32_t>(v >> 32));
    U32(static_cast<uint32_t>(v));
  } else {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
  }
}

void Poke32(Bytes& bytes, size_t at, uint32_t value, bool big_endian) {
  Writer w{big_endian, {}};
  w.U32(value);
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = w.out[i];
}

Bytes Ipv4Udp(const UdpSample& sample) {
  const size_t header = 20 + sample.ip_option_bytes;
  const size_t udp_length = 8 + sample.payload.size();
  Writer w{true, {}};
  w.U8(static_cast<uint8_t>(0x40 | (header / 4)));
  w.U8(0);
  w.U16(static_cast<uint16_t>(header + udp_length));
  w.U16(0x1234);  // identification
  w.U16(sample.flags_offset);
  w.U8(64);
  w.U8(sample.protocol);
  w.U16(0);  // checksum, which the reader does not check
  for (uint8_t b : sample.src) w.U8(b);
  for (uint8_t b : sample.dst) w.U8(b);
  for (size_t i = 0; i < sample.ip_option_bytes; ++i) w.U8(1);  // no-operation options
  w.U16(sample.src_port);
  w.U16(sample.dst_port);
  w.U16(static_cast<uint16_t>(static_cast<int>(udp_length) + sample.udp_length_delta));
  w.U16(0);
  w.Raw(sample.payload);
  for (size_t i = 0; i < sample.ip_trailer_bytes; ++i) w.U8(0xEE);
  return w.out;
}

Bytes Frame(uint32_t link_type, const Bytes& ip, const std::vector<uint16_t>& vlan_types) {
  Writer w{true, {}};
  switch (link_type) {
    case 1:
      w.Raw({0x02, 0, 0, 0, 0, 0x01, 0x02, 0, 0, 0, 0, 0x02});
      for (uint16_t type : vlan_types) {
        w.U16(type);
        w.U16(0x0064);  // priority 0, VLAN 100
      }
      w.U16(0x0800);
      break;
    case 113:
      w.U16(0);       // to us
      w.U16(1);       // ARPHRD_ETHER
      w.U16(6);       // address length
      w.Raw({0x02, 0, 0, 0, 0, 0x01, 0, 0});
      w.U16(0x0800);
      break;
    case 276:
      w.U16(0x0800);
      w.U16(0);       // reserved
      w.U32(3);       // interface index
      w.U16(1);       // ARPHRD_ETHER
      w.U8(0);        // to us
      w.U8(6);
      w.Raw({0x02, 0, 0, 0, 0, 0x01, 0, 0});
      break;
    default:  // raw IP
      break;
  }
  w.Raw(ip);
  return w.out;
}

PcapFile::PcapFile(bool big_endian, bool nano, uint32_t link_type, uint32_t snaplen,
                   uint16_t major, uint16_t minor) {
  w_.big_endian = big_endian;
  w_.U32(nano ? 0xA1B23C4D : 0xA1B2C3D4);
  w_.U16(major);
  w_.U16(minor);
  w_.U32(0);  // thiszone
  w_.U32(0);  // sigfigs
  w_.U32(snaplen);
  w_.U32(link_type);
}

void PcapFile::Add(uint32_t seconds, uint32_t fraction, const Bytes& packet, uint32_t original,
                   std::optional<uint32_t> captured_field) {
  records_.push_back(w_.out.size());
  w_.U32(seconds);
  w_.U32(fraction);
  w_.U32(captured_field.value_or(static_cast<uint32_t>(packet.size())));
  w_.U32(original != 0 ? original : static_cast<uint32_t>(packet.size()));
  w_.Raw(packet);
}

void PcapngFile::Open(uint32_t type) {
  blocks_.push_back({w_.out.size(), w_.big_endian});
  w_.U32(type);
  w_.U32(0);  // total length, set by Close
}

void PcapngFile::Close() {
  w_.Pad4();
  const size_t start = blocks_.back().start;
  const uint32_t total = static_cast<uint32_t>(w_.out.size() - start + 4);
  Poke32(w_.out, start + 4, total, w_.big_endian);
  w_.U32(total);
}

void PcapngFile::Section(bool big_endian, uint16_t major, uint16_t minor) {
  w_.big_endian = big_endian;
  Open(0x0A0D0D0A);
  w_.U32(0x1A2B3C4D);
  w_.U16(major);
  w_.U16(minor);
  w_.U64(~uint64_t{0});  // section length not given
  Close();
}

void PcapngFile::Interface(uint32_t link_type, uint32_t snaplen, std::optional<uint8_t> tsresol,
                           std::optional<int64_t> tsoffset) {
  Open(1);
  w_.U16(static_cast<uint16_t>(link_type));
  w_.U16(0);
  w_.U32(snaplen);
  if (tsresol) {
    w_.U16(9);
    w_.U16(1);
    w_.U8(*tsresol);
    w_.Pad4();
  }
  if (tsoffset) {
    w_.U16(14);
    w_.U16(8);
    w_.U64(static_cast<uint64_t>(*tsoffset));
  }
  if (tsresol || tsoffset) w_.U32(0);  // end of options
  Close();
}

void PcapngFile::Enhanced(uint32_t interface_id, uint64_t ticks, const Bytes& packet, uint32_t original) {
  Open(6);
  w_.U32(interface_id);
  w_.U32(static_cast<uint32_t>(ticks >> 32));
  w_.U32(static_cast<uint32_t>(ticks));
  w_.U32(static_cast<uint32_t>(packet.size()));
  w_.U32(original != 0 ? original : static_cast<uint32_t>(packet.size()));
  w_.Raw(packet);
  Close();
}

void PcapngFile::Simple(const Bytes& packet, uint32_t original) {
  Open(3);
  w_.U32(original != 0 ? original : static_cast<uint32_t>(packet.size()));
  w_.Raw(packet);
  Close();
}

void PcapngFile::Block(uint32_t type, const Bytes& body) {
  Open(type);
  w_.Raw(body);
  Close();
}

}  // namespace kesto::capture::testing
