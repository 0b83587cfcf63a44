#ifndef KESTO_TOOLS_LIDAR_SIM_FRAME_WRITER_H_
#define KESTO_TOOLS_LIDAR_SIM_FRAME_WRITER_H_

// The frames a lidar sends, written with the kit's own codec, and the key-value payloads inside
// them. Pure functions over bytes; safe from any thread.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kesto::lidar_sim {

using Bytes = std::vector<uint8_t>;

// The sender_type of frames a lidar sends (the host's frames carry 0).
inline constexpr uint8_t kSenderTypeLidar = 1;

// One frame: the 24-byte header with both checksums, then `payload`. Empty when the payload does
// not fit one frame.
Bytes EncodeLidarFrame(uint16_t cmd_id, uint8_t cmd_type, uint32_t seq, const Bytes& payload);

// Appends entries to a key-value list (key_num u16, reserved u16, entries). The count is
// patched as entries are added.
class KeyValueWriter {
 public:
  // `header_bytes`: 4 for a key-value list; for an internal-info reply the caller writes its own
  // 3-byte head and passes `count_at` 1 and `header_bytes` 3.
  explicit KeyValueWriter(Bytes& out, size_t count_at = 0, size_t header_bytes = 4);
  void Add(uint16_t key, const uint8_t* value, size_t length);
  void Add(uint16_t key, const Bytes& value) { Add(key, value.data(), value.size()); }
  uint16_t count() const { return count_; }

 private:
  Bytes& out_;
  size_t count_at_;
  uint16_t count_ = 0;
};

// A damaged copy of a control frame: cut short, with a changed payload byte (so its payload
// checksum fails), or with a length field beyond the datagram and a header checksum that
// matches it. `kind` is one MalformedKind bit.
Bytes DamageFrame(const Bytes& frame, uint32_t kind);

}  // namespace kesto::lidar_sim

#endif  // KESTO_TOOLS_LIDAR_SIM_FRAME_WRITER_H_
