#ifndef KESTO_TESTS_LIDAR_FRAMES_H_
#define KESTO_TESTS_LIDAR_FRAMES_H_
// What a lidar sends, encoded with the kit's own codec: discovery replies, acknowledgements,
// state pushes and the payloads inside them.
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace kesto::test {

using Bytes = std::vector<uint8_t>;

// The handle of a.b.c.d (network byte order).
uint32_t HandleOf(uint8_t a, uint8_t b, uint8_t c, uint8_t d);

// One command frame around `payload`.
Bytes Frame(uint32_t seq, uint16_t cmd_id, uint8_t cmd_type, const Bytes& payload);

// The 24-byte discovery reply payload. `sn` is copied raw, at most 16 bytes (no terminator when
// it has 16).
Bytes DiscoveryPayload(uint8_t ret_code, uint8_t dev_type, std::string_view sn,
                       std::array<uint8_t, 4> ip, uint16_t cmd_port);
// A discovery reply frame (cmd_id 0, acknowledgement) holding that payload.
Bytes DiscoveryReply(uint8_t ret_code, uint8_t dev_type, std::string_view sn,
                     std::array<uint8_t, 4> ip, uint16_t cmd_port, uint32_t seq = 7);
// An acknowledgement of `cmd_id` with sequence number `seq`.
Bytes Ack(uint32_t seq, uint16_t cmd_id, const Bytes& payload);
// A state push (0x0102, command) of a key-value list.
Bytes StatePush(const Bytes& key_value_list, uint32_t seq = 9);

// Payloads of acknowledgements: a set-parameters answer (3 bytes), an internal-info answer with
// the given entries (key, value bytes).
Bytes ControlAnswer(uint8_t ret_code, uint16_t error_key);
struct Entry {
  uint16_t key;
  Bytes value;
};
Bytes InternalInfoAnswer(uint8_t ret_code, const std::vector<Entry>& entries);
// A key-value list (4-byte header, then the entries).
Bytes KeyValueList(const std::vector<Entry>& entries);

// A heap copy of exactly `bytes.size()` bytes, so AddressSanitizer reports any read past it.
class ExactBuffer {
 public:
  explicit ExactBuffer(const Bytes& bytes);
  const uint8_t* data() const { return data_.get(); }
  uint32_t size() const { return size_; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  uint32_t size_;
};

}  // namespace kesto::test

#endif  // KESTO_TESTS_LIDAR_FRAMES_H_
