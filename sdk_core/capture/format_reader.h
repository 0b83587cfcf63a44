#ifndef KESTO_CAPTURE_FORMAT_READER_H_
#define KESTO_CAPTURE_FORMAT_READER_H_

// One capture file format: reads its headers and then its packet records, one per call.

#include <cstdint>
#include <memory>
#include <string>

#include "byte_source.h"
#include "captured_packet.h"

namespace kesto::capture {

// Packets longer than this are taken as damage, not data: the bound libpcap applies to every
// link type this reader decodes. It also bounds what one damaged length can make us allocate.
inline constexpr uint32_t kMaxPacketBytes = 262144;

class FormatReader {
 public:
  virtual ~FormatReader() = default;
  // kError leaves the reason in `error`.
  virtual ReadStatus Next(ByteSource& source, CapturedPacket& packet, std::string& error) = 0;
};

// Each reads its file header, whose first four bytes (`magic`) were already consumed. They
// return null, with the reason in `error`, when the header is not theirs or is damaged.
std::unique_ptr<FormatReader> OpenPcap(ByteSource& source, const uint8_t* magic, std::string& error);
std::unique_ptr<FormatReader> OpenPcapng(ByteSource& source, const uint8_t* magic, std::string& error);

// "at byte N: " for error texts.
std::string AtByte(uint64_t offset);

}  // namespace kesto::capture

#endif  // KESTO_CAPTURE_FORMAT_READER_H_
