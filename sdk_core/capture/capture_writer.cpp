#include "capture_writer.h"

#include <cerrno>
#include <cstring>

#include "captured_packet.h"
#include "little_endian.h"
#include "pcapng_layout.h"

namespace kesto::capture {
namespace {

using namespace pcapng;

constexpr uint8_t kNanoseconds = 9;  // if_tsresol: 10^-9 s
constexpr size_t kIpHeaderBytes = 20;
constexpr size_t kUdpHeaderBytes = 8;

void StoreBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

// Appends in the file's byte order (little-endian, told by the byte-order magic).
struct Block {
  std::vector<uint8_t>& out;
  void U16(uint16_t v) {
    out.resize(out.size() + 2);
    StoreU16(out.data() + out.size() - 2, v);
  }
  void U32(uint32_t v) {
    out.resize(out.size() + 4);
    StoreU32(out.data() + out.size() - 4, v);
  }
  void Raw(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + size);
  }
  void Pad4() { out.resize((out.size() + 3) & ~size_t{3}, 0); }
  void Option(uint16_t code, const void* value, uint16_t size) {
    U16(code);
    U16(size);
    Raw(value, size);
    Pad4();
  }
  void Begin(uint32_t type) {
    out.clear();
    U32(type);
    U32(0);  // total length, set by End
  }
  void End() {
    const auto total = static_cast<uint32_t>(out.size() + 4);
    StoreU32(out.data() + 4, total);
    U32(total);
  }
};

uint16_t Ipv4Checksum(const uint8_t* header) {
  uint32_t sum = 0;
  for (size_t i = 0; i < kIpHeaderBytes; i += 2) sum += (header[i] << 8) | header[i + 1];
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

}  // namespace

bool CaptureWriter::Open(const std::string& path, const std::string& application) {
  Close();
  error_.clear();
  path_ = path;
  bytes_ = 0;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return Fail("cannot be created");

  Block b{block_};
  b.Begin(kSectionHeader);
  b.U32(kByteOrderMagic);
  b.U16(1);  // version 1.0
  b.U16(0);
  b.U32(0xFFFFFFFFu);  // section length unknown: the file is written as a stream
  b.U32(0xFFFFFFFFu);
  b.Option(kOptionUserApplication, application.data(), static_cast<uint16_t>(application.size()));
  b.Option(kOptionEnd, nullptr, 0);
  b.End();
  if (!Put(block_.data(), block_.size())) return false;

  b.Begin(kInterfaceDescription);
  b.U16(static_cast<uint16_t>(kLinkRaw));  // raw IP: Wireshark, tshark and tcpdump decode it
  b.U16(0);
  b.U32(0);  // no snapshot length: packets are kept whole
  static const char kName[] = "kesto";
  b.Option(kOptionInterfaceName, kName, sizeof(kName) - 1);
  b.Option(kOptionTsResol, &kNanoseconds, 1);
  b.Option(kOptionEnd, nullptr, 0);
  b.End();
  return Put(block_.data(), block_.size());
}

size_t CaptureWriter::PacketBlockBytes(uint32_t length) {
  // type, total length, interface, time (2 words), captured and original length; the packet
  // padded to a word; total length again.
  const size_t packet = kIpHeaderBytes + kUdpHeaderBytes + length;
  return 28 + ((packet + 3) & ~size_t{3}) + 4;
}

void CaptureWriter::EncodePacketBlock(const DatagramRecord& record, uint16_t ip_id, uint8_t* out) {
  const auto total = static_cast<uint32_t>(PacketBlockBytes(record.length));
  const auto packet_bytes = static_cast<uint32_t>(kIpHeaderBytes + kUdpHeaderBytes + record.length);
  StoreU32(out, kEnhancedPacket);
  StoreU32(out + 4, total);
  StoreU32(out + 8, 0);  // interface 0
  StoreU32(out + 12, static_cast<uint32_t>(record.time_ns >> 32));
  StoreU32(out + 16, static_cast<uint32_t>(record.time_ns));
  StoreU32(out + 20, packet_bytes);
  StoreU32(out + 24, packet_bytes);

  uint8_t* ip = out + 28;
  std::memset(ip, 0, kIpHeaderBytes + kUdpHeaderBytes);
  ip[0] = 0x45;  // version 4, five words of header
  StoreBe16(ip + 2, static_cast<uint16_t>(packet_bytes));
  StoreBe16(ip + 4, ip_id);
  StoreBe16(ip + 6, 0x4000);  // don't fragment
  ip[8] = 64;
  ip[9] = 17;  // UDP
  std::memcpy(ip + 12, &record.src_ip, 4);
  std::memcpy(ip + 16, &record.dst_ip, 4);
  StoreBe16(ip + 10, Ipv4Checksum(ip));
  uint8_t* udp = ip + kIpHeaderBytes;
  StoreBe16(udp, record.src_port);
  StoreBe16(udp + 2, record.dst_port);
  StoreBe16(udp + 4, static_cast<uint16_t>(kUdpHeaderBytes + record.length));
  // UDP checksum 0: none computed, which IPv4 allows.
  uint8_t* payload = udp + kUdpHeaderBytes;
  if (record.length != 0) std::memcpy(payload, record.payload, record.length);
  uint8_t* end = out + total - 4;
  std::memset(payload + record.length, 0, static_cast<size_t>(end - (payload + record.length)));
  StoreU32(end, total);
}

bool CaptureWriter::Write(const DatagramRecord& record) {
  if (file_ == nullptr) return false;
  if (record.length > kMaxPayload || (record.length != 0 && record.payload == nullptr)) {
    error_ = "a datagram of " + std::to_string(record.length) + " bytes cannot be recorded";
    return false;
  }
  block_.resize(PacketBlockBytes(record.length));
  EncodePacketBlock(record, ip_id_++, block_.data());
  return Put(block_.data(), block_.size());
}

bool CaptureWriter::WriteBlocks(const uint8_t* blocks, size_t size) {
  if (file_ == nullptr) return false;
  return Put(blocks, size);
}

bool CaptureWriter::Flush() {
  if (file_ == nullptr) return true;
  if (std::fflush(file_) != 0) return Fail("cannot be written");
  return true;
}

bool CaptureWriter::Close() {
  if (file_ == nullptr) return error_.empty();
  const bool flushed = std::fflush(file_) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!flushed || !closed) {
    error_ = path_ + " cannot be written: " + std::strerror(errno);
    return false;
  }
  return error_.empty();
}

bool CaptureWriter::Put(const uint8_t* data, size_t size) {
  if (std::fwrite(data, 1, size, file_) != size) return Fail("cannot be written");
  bytes_ += size;
  return true;
}

bool CaptureWriter::Fail(const char* what) {
  error_ = path_ + " " + what + ": " + std::strerror(errno);
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  return false;
}

}  // namespace kesto::capture
