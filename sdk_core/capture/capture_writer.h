#ifndef KESTO_CAPTURE_CAPTURE_WRITER_H_
#define KESTO_CAPTURE_CAPTURE_WRITER_H_

// Writer of recorded sessions: one pcapng file (Wireshark's own format) with one interface of
// raw IPv4 packets and nanosecond time stamps. Each datagram becomes an IPv4/UDP packet with
// the addresses and ports it had, so any capture tool shows it as it was on the wire.
//
// Plain buffered file output; no exception leaves it. It logs nothing: its caller owns the one
// log line of a failure. One thread at a time.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kesto::capture {

// One datagram to record. Addresses in network byte order (as the kit's handles), ports in
// host order.
struct DatagramRecord {
  uint64_t time_ns = 0;  // since 1970-01-01 UTC
  uint32_t src_ip = 0;
  uint32_t dst_ip = 0;
  uint16_t src_port = 0;
  uint16_t dst_port = 0;
  const uint8_t* payload = nullptr;
  uint32_t length = 0;
};

class CaptureWriter {
 public:
  // The largest payload a packet can carry (an IPv4 datagram of 65,535 bytes).
  static constexpr uint32_t kMaxPayload = 65535 - 20 - 8;

  CaptureWriter() = default;
  CaptureWriter(const CaptureWriter&) = delete;
  CaptureWriter& operator=(const CaptureWriter&) = delete;
  ~CaptureWriter() { Close(); }

  // Creates (or truncates) `path` and writes the file's header. `application` names the
  // recording program in the section header. False, with error() set, when the file cannot be
  // written.
  bool Open(const std::string& path, const std::string& application);
  // False, with error() set, when the disk refuses the bytes or the payload is too long.
  bool Write(const DatagramRecord& record);
  // Packet blocks encoded beforehand by EncodePacketBlock, written as they are.
  bool WriteBlocks(const uint8_t* blocks, size_t size);

  // Bytes of the packet block of a payload of `length` bytes (at most kMaxPayload).
  static size_t PacketBlockBytes(uint32_t length);
  // The packet block of `record` in PacketBlockBytes(record.length) bytes at `out`, for writers
  // that gather blocks in memory first. `ip_id` is the IPv4 header's identification.
  static void EncodePacketBlock(const DatagramRecord& record, uint16_t ip_id, uint8_t* out);
  // Writes out what is buffered. False, with error() set, on a write failure.
  bool Flush();
  // Flushes and closes; false when the last bytes could not be written. Idempotent.
  bool Close();

  bool is_open() const { return file_ != nullptr; }
  // Bytes in the file so far, header included (buffered bytes counted).
  uint64_t bytes() const { return bytes_; }
  const std::string& error() const { return error_; }

 private:
  bool Put(const uint8_t* data, size_t size);
  bool Fail(const char* what);

  std::FILE* file_ = nullptr;
  std::string path_;
  uint64_t bytes_ = 0;
  uint16_t ip_id_ = 0;
  std::vector<uint8_t> block_;  // one block at a time, reused
  std::string error_;
};

}  // namespace kesto::capture

#endif  // KESTO_CAPTURE_CAPTURE_WRITER_H_
