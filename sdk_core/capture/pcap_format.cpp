// Classic pcap: a 24-byte file header, then records of a 16-byte header and the packet bytes.
// The magic number tells the byte order and whether the sub-second field counts micro- or
// nanoseconds.

#include <string>
#include <utility>
#include <vector>

#include "format_reader.h"
#include "wire_order.h"

namespace kesto::capture {
namespace {

constexpr uint32_t kMagicMicro = 0xA1B2C3D4;
constexpr uint32_t kMagicNano = 0xA1B23C4D;
constexpr size_t kFileHeaderBytes = 24;
constexpr size_t kRecordHeaderBytes = 16;

class PcapReader final : public FormatReader {
 public:
  // Writers of versions before 2.3 stored the two lengths the other way round; in 2.3 files
  // either order occurs, and the captured length is the smaller.
  enum class Lengths { kInOrder, kSwapped, kMaybeSwapped };

  PcapReader(FileOrder order, bool nano, uint32_t link_type, uint32_t snaplen, Lengths lengths)
      : order_(order), nano_(nano), link_type_(link_type), snaplen_(snaplen), lengths_(lengths) {}

  ReadStatus Next(ByteSource& source, CapturedPacket& packet, std::string& error) override {
    const uint64_t start = source.offset();
    header_.clear();
    const size_t got = source.Append(header_, kRecordHeaderBytes);
    if (got == 0 && source.failure().empty()) return ReadStatus::kEnd;
    if (got < kRecordHeaderBytes) {
      error = AtByte(start) + "record header truncated (" + std::to_string(got) + " of 16 bytes)";
      return ReadStatus::kError;
    }
    const uint32_t seconds = order_.U32(&header_[0]);
    const uint32_t fraction = order_.U32(&header_[4]);
    uint32_t captured = order_.U32(&header_[8]);
    uint32_t original = order_.U32(&header_[12]);
    if (lengths_ == Lengths::kSwapped || (lengths_ == Lengths::kMaybeSwapped && captured > original)) {
      std::swap(captured, original);
    }
    if (captured > kMaxPacketBytes) {
      error = AtByte(start) + "record claims " + std::to_string(captured) +
              " captured bytes, more than the largest packet (" +
              std::to_string(kMaxPacketBytes) + ")";
      return ReadStatus::kError;
    }
    packet.bytes.clear();
    const size_t body = source.Append(packet.bytes, captured);
    if (body < captured) {
      error = AtByte(start) + "record of " + std::to_string(captured) +
              " captured bytes runs past the end of the file (" + std::to_string(body) + " left)";
      return ReadStatus::kError;
    }
    // A record longer than the file's snapshot length holds bytes the capture promised not to
    // keep; they are dropped, as libpcap does.
    if (packet.bytes.size() > snaplen_) packet.bytes.resize(snaplen_);
    packet.time_ns = uint64_t{seconds} * 1000000000u + uint64_t{fraction} * (nano_ ? 1u : 1000u);
    packet.link_type = link_type_;
    packet.interface_id = 0;
    packet.original_length = original;
    return ReadStatus::kItem;
  }

 private:
  FileOrder order_;
  bool nano_;
  uint32_t link_type_;
  uint32_t snaplen_;
  Lengths lengths_;
  std::vector<uint8_t> header_;
};

}  // namespace

std::unique_ptr<FormatReader> OpenPcap(ByteSource& source, const uint8_t* magic, std::string& error) {
  FileOrder order;
  bool nano = false;
  bool known = false;
  for (const bool big : {false, true}) {
    order.big_endian = big;
    const uint32_t value = order.U32(magic);
    if (value == kMagicMicro || value == kMagicNano) {
      nano = value == kMagicNano;
      known = true;
      break;
    }
  }
  if (!known) {
    error = "not a pcap or pcapng capture (unknown magic number)";
    return nullptr;
  }
  std::vector<uint8_t> header;
  const size_t got = source.Append(header, kFileHeaderBytes - 4);
  if (got < kFileHeaderBytes - 4) {
    error = "pcap file header truncated (" + std::to_string(got + 4) + " of 24 bytes)";
    return nullptr;
  }
  const uint16_t major = order.U16(&header[0]);
  const uint16_t minor = order.U16(&header[2]);
  // 543.0: an old system's own number for 2.0-like files.
  if (!((major == 2 && minor <= 4) || (major == 543 && minor == 0))) {
    error = "unsupported pcap version " + std::to_string(major) + "." + std::to_string(minor);
    return nullptr;
  }
  uint32_t snaplen = order.U32(&header[12]);
  if (snaplen == 0 || snaplen > kMaxPacketBytes) snaplen = kMaxPacketBytes;
  // The upper bits of the link-type field carry frame check sequence flags, not the type.
  const uint32_t link_type = order.U32(&header[16]) & 0xFFFFu;
  const PcapReader::Lengths lengths = major != 2 || minor < 3 ? PcapReader::Lengths::kSwapped
                                      : minor == 3               ? PcapReader::Lengths::kMaybeSwapped
                                                                 : PcapReader::Lengths::kInOrder;
  return std::make_unique<PcapReader>(order, nano, link_type, snaplen, lengths);
}

}  // namespace kesto::capture
