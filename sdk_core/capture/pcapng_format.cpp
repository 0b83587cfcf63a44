// pcapng: a sequence of blocks (type, total length, body, total length again). A section header
// block starts each section and sets its byte order; interface description blocks number the
// interfaces of that section, each with its link type and time stamp units; enhanced, simple
// and the older packet blocks carry the packets. Any other block is skipped.

#include <string>
#include <vector>

#include "format_reader.h"
#include "pcapng_layout.h"
#include "wire_order.h"

namespace kesto::capture {
namespace {

using namespace pcapng;

// Bigger blocks are taken as damage: well above the largest packet with its options.
constexpr uint32_t kMaxBlockBytes = 16 * 1024 * 1024;

struct Interface {
  uint32_t link_type = 0;
  uint32_t snaplen = kMaxPacketBytes;
  uint64_t units_per_second = 1000000;  // if_tsresol; microseconds when absent
  int64_t offset_seconds = 0;           // if_tsoffset
};

std::string Num(uint64_t value) { return std::to_string(value); }

// Nanoseconds in `fraction` units of 1/units_per_second (fraction < units_per_second), rounded
// down. The product would overflow 64 bits for binary units finer than 2^-34 s, so it is formed
// in two 32-bit halves.
uint64_t FractionToNs(uint64_t fraction, uint64_t units_per_second) {
  constexpr uint64_t kNs = 1000000000;
  if (units_per_second <= kNs && kNs % units_per_second == 0) return fraction * (kNs / units_per_second);
  if (units_per_second % kNs == 0) return fraction / (units_per_second / kNs);
  // A power of two: shift the 96-bit product fraction * 10^9 right by log2(units).
  int shift = 0;
  while ((uint64_t{1} << shift) != units_per_second) ++shift;
  const uint64_t low = (fraction & 0xFFFFFFFFu) * kNs;  // < 2^62
  const uint64_t high = (fraction >> 32) * kNs;        // < 2^62, weighs 2^32
  // (high * 2^32 + low) >> shift, with shift in [0, 63]
  const uint64_t sum_low = low + (high << 32);
  const uint64_t carry = sum_low < low ? 1 : 0;
  const uint64_t sum_high = (high >> 32) + carry;  // the bits of the product above 2^64
  if (shift == 0) return sum_low;
  return (sum_low >> shift) | (sum_high << (64 - shift));
}

class PcapngReader final : public FormatReader {
 public:
  ReadStatus Next(ByteSource& source, CapturedPacket& packet, std::string& error) override {
    for (;;) {
      uint32_t type = 0;
      const ReadStatus status = ReadBlock(source, type, error);
      if (status == ReadStatus::kEnd && !any_interface_) {
        error = "the capture has no interface description block";
        return ReadStatus::kError;
      }
      if (status != ReadStatus::kItem) return status;
      bool is_packet = false;
      if (!TakeBlock(type, packet, is_packet, error)) return ReadStatus::kError;
      if (is_packet) return ReadStatus::kItem;
    }
  }

  // The section header block whose type was the file's magic number.
  bool Open(ByteSource& source, std::string& error) {
    block_.assign({0x0A, 0x0D, 0x0D, 0x0A});
    block_start_ = 0;
    uint32_t type = 0;
    if (ReadBlockAfterType(source, type, error) != ReadStatus::kItem) return false;
    bool is_packet = false;
    CapturedPacket unused;
    return TakeBlock(type, unused, is_packet, error);
  }

 private:
  // Reads one whole block into block_; kEnd only at a clean end between blocks.
  ReadStatus ReadBlock(ByteSource& source, uint32_t& type, std::string& error) {
    block_.clear();
    block_start_ = source.offset();
    const size_t got = source.Append(block_, 4);
    if (got == 0 && source.failure().empty()) return ReadStatus::kEnd;
    return ReadBlockAfterType(source, type, error);
  }

  ReadStatus ReadBlockAfterType(ByteSource& source, uint32_t& type, std::string& error) {
    const std::string at = AtByte(block_start_);
    // A section header's length is in the byte order its magic (after the length) announces.
    // libpcap skips, as any unknown block, a section header between the file's first one and
    // its first interface; so does this reader, so that what one reads the other reads alike.
    const bool section = block_.size() == 4 && FileOrder{}.U32(block_.data()) == kSectionHeader &&
                         (block_start_ == 0 || any_interface_);
    section_block_ = section;
    const size_t head = section ? 12 : 8;
    if (block_.size() < 4 || source.Append(block_, head - 4) < head - 4) {
      error = at + "block header truncated";
      return ReadStatus::kError;
    }
    if (section) {
      FileOrder order;
      order.big_endian = FileOrder{true}.U32(&block_[8]) == kByteOrderMagic;
      if (order.U32(&block_[8]) != kByteOrderMagic) {
        error = at + "section header with an unknown byte-order magic";
        return ReadStatus::kError;
      }
      order_ = order;
    }
    type = order_.U32(&block_[0]);
    const uint32_t total = order_.U32(&block_[4]);
    if (total < head + 4 || total % 4 != 0 || total > kMaxBlockBytes) {
      error = at + "block of type " + Num(type) + " has an impossible length of " + Num(total);
      return ReadStatus::kError;
    }
    const size_t rest = total - head;
    if (source.Append(block_, rest) < rest) {
      error = at + "block of type " + Num(type) + " and length " + Num(total) +
              " runs past the end of the file";
      return ReadStatus::kError;
    }
    // The file's first block is spared this check, as libpcap spares it: captures that
    // libpcap reads are read here too.
    if (block_start_ != 0 && order_.U32(&block_[total - 4]) != total) {
      error = at + "block of type " + Num(type) + " ends with a length other than its own";
      return ReadStatus::kError;
    }
    return ReadStatus::kItem;
  }

  // Acts on the block in block_: its body is block_[8, size - 4).
  bool TakeBlock(uint32_t type, CapturedPacket& packet, bool& is_packet, std::string& error) {
    const uint8_t* body = block_.data() + 8;
    const size_t size = block_.size() - 12;
    const std::string at = AtByte(block_start_);
    if (type == kSectionHeader && !section_block_) return true;
    switch (type) {
      case kSectionHeader: {
        if (size < 16) return Short(at, "section header", error);
        const uint16_t major = order_.U16(body + 4), minor = order_.U16(body + 6);
        // Minor versions are told apart only in the file's first section, as libpcap does.
        if (major != 1 || (block_start_ == 0 && minor != 0 && minor != 2)) {
          error = at + "unsupported pcapng version " + Num(major) + "." + Num(minor);
          return false;
        }
        interfaces_.clear();
        return true;
      }
      case kInterfaceDescription:
        return TakeInterface(body, size, at, error);
      case kEnhancedPacket:
      case kObsoletePacket: {
        if (size < 20) return Short(at, "packet block", error);
        const uint32_t id = type == kEnhancedPacket ? order_.U32(body) : order_.U16(body);
        const uint64_t ticks = (uint64_t{order_.U32(body + 4)} << 32) | order_.U32(body + 8);
        const uint32_t captured = order_.U32(body + 12);
        if (captured > size - 20) {
          error = at + "packet block claims " + Num(captured) + " captured bytes in a body of " +
                  Num(size - 20);
          return false;
        }
        if (!StorePacket(id, body + 20, captured, order_.U32(body + 16), at, packet, error)) return false;
        const Interface& face = interfaces_[id];
        const uint64_t seconds = ticks / face.units_per_second + static_cast<uint64_t>(face.offset_seconds);
        packet.time_ns = seconds * 1000000000u + FractionToNs(ticks % face.units_per_second, face.units_per_second);
        is_packet = true;
        return true;
      }
      case kSimplePacket: {
        if (size < 4) return Short(at, "simple packet block", error);
        const uint32_t original = order_.U32(body);
        // Its captured length is not written down: the interface's snapshot length or the
        // original length, whichever is less.
        uint32_t captured = original;
        if (!interfaces_.empty() && captured > interfaces_[0].snaplen) captured = interfaces_[0].snaplen;
        if (captured > size - 4) {
          error = at + "simple packet block of " + Num(captured) + " bytes in a body of " + Num(size - 4);
          return false;
        }
        if (!StorePacket(0, body + 4, captured, original, at, packet, error)) return false;
        packet.time_ns = 0;
        is_packet = true;
        return true;
      }
      default:
        return true;
    }
  }

  bool StorePacket(uint32_t id, const uint8_t* bytes, uint32_t captured, uint32_t original,
                   const std::string& at, CapturedPacket& packet, std::string& error) {
    if (id >= interfaces_.size()) {
      error = at + "packet on interface " + Num(id) + ", which its section does not describe";
      return false;
    }
    // More than the interface promised to keep (at most the largest packet) is damage.
    if (captured > interfaces_[id].snaplen) {
      error = at + "packet of " + Num(captured) + " captured bytes on an interface that keeps at most " +
              Num(interfaces_[id].snaplen);
      return false;
    }
    packet.bytes.assign(bytes, bytes + captured);
    packet.link_type = interfaces_[id].link_type;
    packet.interface_id = id;
    packet.original_length = original;
    return true;
  }

  bool TakeInterface(const uint8_t* body, size_t size, const std::string& at, std::string& error) {
    if (size < 8) return Short(at, "interface description", error);
    Interface face;
    face.link_type = order_.U16(body);
    face.snaplen = order_.U32(body + 4);
    if (face.snaplen == 0 || face.snaplen > kMaxPacketBytes) face.snaplen = kMaxPacketBytes;
    bool have_resolution = false, have_offset = false;
    size_t pos = 8;
    while (pos < size) {
      if (size - pos < 4) return Short(at, "interface option", error);
      const uint16_t code = order_.U16(body + pos), length = order_.U16(body + pos + 2);
      pos += 4;
      const size_t padded = (size_t{length} + 3) & ~size_t{3};
      if (padded > size - pos) return Short(at, "interface option", error);
      const uint8_t* value = body + pos;
      pos += padded;
      if (code == kOptionEnd) {
        if (length == 0) break;
        error = at + "interface options end with a non-empty end-of-options";
        return false;
      }
      if (code == kOptionTsResol) {
        if (length != 1 || have_resolution) {
          error = at + "interface with a malformed or repeated time stamp resolution";
          return false;
        }
        have_resolution = true;
        const unsigned exponent = value[0] & 0x7Fu;
        const bool binary = (value[0] & 0x80u) != 0;
        if (exponent > (binary ? 63u : 19u)) {
          error = at + "interface time stamp resolution too fine (" + (binary ? "2" : "10") +
                  "^-" + Num(exponent) + " s)";
          return false;
        }
        face.units_per_second = 1;
        for (unsigned i = 0; i < exponent; ++i) face.units_per_second *= binary ? 2u : 10u;
      } else if (code == kOptionTsOffset) {
        if (length != 8 || have_offset) {
          error = at + "interface with a malformed or repeated time stamp offset";
          return false;
        }
        have_offset = true;
        face.offset_seconds = static_cast<int64_t>(order_.U64(value));
      }
    }
    interfaces_.push_back(face);
    any_interface_ = true;
    return true;
  }

  static bool Short(const std::string& at, const char* what, std::string& error) {
    error = at + what + " block too short for its fields";
    return false;
  }

  FileOrder order_;
  std::vector<Interface> interfaces_;  // of the current section
  bool any_interface_ = false;
  std::vector<uint8_t> block_;
  uint64_t block_start_ = 0;
  bool section_block_ = false;  // block_ starts a section
};

}  // namespace

std::unique_ptr<FormatReader> OpenPcapng(ByteSource& source, const uint8_t* magic, std::string& error) {
  if (FileOrder{}.U32(magic) != kSectionHeader) {
    error = "not a pcapng capture";
    return nullptr;
  }
  auto reader = std::make_unique<PcapngReader>();
  if (!reader->Open(source, error)) return nullptr;
  return reader;
}

}  // namespace kesto::capture
