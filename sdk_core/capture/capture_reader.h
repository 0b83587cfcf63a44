#ifndef KESTO_CAPTURE_CAPTURE_READER_H_
#define KESTO_CAPTURE_CAPTURE_READER_H_

// Reader of recorded sessions: packet capture files, classic pcap (microsecond or nanosecond
// time stamps, either byte order) and pcapng (any number of sections and interfaces, each
// interface with its own link type and time stamp resolution). It yields the packets one at a
// time, or the IPv4/UDP datagrams they carry, so a big file is never held whole.
//
// Pure code over bytes: no exception leaves it, no read goes past the input, and a damaged file
// ends the reading with an error text (what is wrong and at which byte), after every packet that
// came before the damage. The reader logs nothing; its caller owns the one log line.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "captured_packet.h"

namespace kesto::capture {

class FormatReader;
class ByteSource;

// One pass over one capture. Not copyable; one thread at a time.
class CaptureReader {
 public:
  // A file that cannot be opened or read is the first read's error, not a failure here.
  static CaptureReader OpenFile(const std::string& path);
  static CaptureReader FromBytes(std::vector<uint8_t> bytes);

  CaptureReader(CaptureReader&&) noexcept;
  CaptureReader& operator=(CaptureReader&&) noexcept;
  ~CaptureReader();

  // The next packet of the capture, of any link type.
  ReadStatus NextPacket(CapturedPacket& packet);
  // The next IPv4/UDP datagram, skipping packets that carry none (other protocols, later
  // fragments, malformed headers). A packet of a link type the reader cannot decode is an error.
  ReadStatus NextDatagram(CapturedDatagram& datagram);

  // Empty until a read returned kError.
  const std::string& error() const { return error_; }

 private:
  explicit CaptureReader(std::unique_ptr<ByteSource> source);
  ReadStatus Fail(std::string text);

  std::unique_ptr<ByteSource> source_;
  std::unique_ptr<FormatReader> format_;
  std::string error_;
  CapturedPacket scratch_;
};

// Every datagram of a capture. On damage, `datagrams` holds those before it and `error` says why.
struct CaptureContents {
  std::vector<CapturedDatagram> datagrams;
  std::string error;
  bool ok() const { return error.empty(); }
};
CaptureContents ReadCaptureFile(const std::string& path);
CaptureContents ReadCaptureBytes(std::vector<uint8_t> bytes);

}  // namespace kesto::capture

#endif  // KESTO_CAPTURE_CAPTURE_READER_H_
