#ifndef KESTO_LIDAR_KEY_VALUE_LIST_H_
#define KESTO_LIDAR_KEY_VALUE_LIST_H_

// Byte layouts of the parameter lists a lidar exchanges with the kit, and a bounded reader and
// writer for them. Every multi-byte field is little-endian on the wire.
//
//   KeyValueList   (set-parameters requests, state pushes): key_num u16, reserved u16, entries
//   KeyValueEntry  key_id u16, length u16, `length` value bytes
//   KeyQueryList   (query-parameters requests): key_num u16, reserved u16, key_num ids u16
//
// The internal-info reply carries the same entries from offset 3 (see
// KestoLidarDiagInternalInfoResponse in the public header), so readers take the start of the
// entries, not of the list.

#include <cstddef>
#include <cstdint>

#include "little_endian.h"

namespace kesto::lidar {

#pragma pack(push, 1)
struct KeyValueEntry {
  uint16_t key_id;
  uint16_t length;
  uint8_t value[1];
};
struct KeyValueList {
  uint16_t key_num;
  uint16_t reserved;
  uint8_t entries[1];
};
struct KeyQueryList {
  uint16_t key_num;
  uint16_t reserved;
  uint16_t key_ids[1];
};
#pragma pack(pop)

inline constexpr size_t kKeyValueListHeaderLength = offsetof(KeyValueList, entries);
inline constexpr size_t kKeyValueEntryHeaderLength = offsetof(KeyValueEntry, value);
inline constexpr size_t kKeyQueryListHeaderLength = offsetof(KeyQueryList, key_ids);
static_assert(kKeyValueListHeaderLength == 4 && kKeyValueEntryHeaderLength == 4 &&
              kKeyQueryListHeaderLength == 4);

// One entry as the reader found it. `value` points into the caller's buffer and `length` is the
// number of value bytes that lie inside it: the declared length, cut at the end of the buffer.
struct KeyValueView {
  uint16_t key_id = 0;
  uint16_t declared_length = 0;
  const uint8_t* value = nullptr;
  size_t length = 0;
};

// Walks `count` entries starting at `entries` without reading past `entries + size`. An entry
// must bring its 4-byte header and at least one value byte inside the buffer; the first one
// that does not ends the walk as truncated. A value that runs past the end is cut there.
class KeyValueReader {
 public:
  KeyValueReader(const uint8_t* entries, size_t size, uint16_t count)
      : entries_(entries), size_(size), remaining_(count) {}

  // False when all entries were read or the next one does not fit (then truncated() is true).
  bool Next(KeyValueView& entry) {
    if (remaining_ == 0 || truncated_) return false;
    if (offset_ + kKeyValueEntryHeaderLength + 1 > size_) {
      truncated_ = true;
      return false;
    }
    const uint8_t* header = entries_ + offset_;
    entry.key_id = LoadU16(header);
    entry.declared_length = LoadU16(header + 2);
    entry.value = header + kKeyValueEntryHeaderLength;
    const size_t available = size_ - offset_ - kKeyValueEntryHeaderLength;
    entry.length = entry.declared_length < available ? entry.declared_length : available;
    offset_ += kKeyValueEntryHeaderLength + entry.declared_length;
    --remaining_;
    ++read_;
    return true;
  }

  bool truncated() const { return truncated_; }
  // Entries handed out so far.
  uint16_t entries_read() const { return read_; }

 private:
  const uint8_t* entries_;
  size_t size_;
  size_t offset_ = 0;
  uint16_t remaining_;
  uint16_t read_ = 0;
  bool truncated_ = false;
};

// Copies a value into a field of `size` bytes: a shorter value is zero-extended (so a key that
// comes twice leaves nothing of the earlier value), a longer one is cut at the field's end.
inline void CopyValue(const KeyValueView& entry, void* field, size_t size) {
  const size_t n = entry.length < size ? entry.length : size;
  auto* out = static_cast<uint8_t*>(field);
  for (size_t i = 0; i < n; ++i) out[i] = entry.value[i];
  for (size_t i = n; i < size; ++i) out[i] = 0;
}

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_KEY_VALUE_LIST_H_
