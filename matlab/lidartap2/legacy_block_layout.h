#ifndef KESTO_MATLAB_LEGACY_BLOCK_LAYOUT_H_
#define KESTO_MATLAB_LEGACY_BLOCK_LAYOUT_H_

// Layout of the legacy block "brenic-shm", read by lidartap2 and written by no part of this
// system (an external writer fills it, if any). No header, data type or timestamp; values are
// little-endian and nothing is aligned.

#include <cstddef>

namespace kesto::legacy_block {

inline constexpr char kBlockName[] = "brenic-shm";
inline constexpr std::size_t kBlockSize = 1177;

inline constexpr std::size_t kRecordCount = 96;
inline constexpr std::size_t kValuesPerRecord = 3;    // value 1, value 2, value 3: i32 each
inline constexpr std::size_t kRecordSize = kValuesPerRecord * 4;
inline constexpr std::size_t kFloatOffset = kRecordCount * kRecordSize;  // six float32
inline constexpr std::size_t kFloatCount = 6;
// Byte 1176, after the floats, is not read.

static_assert(kFloatOffset == 1152, "floats follow the 96 records");
static_assert(kFloatOffset + kFloatCount * 4 + 1 == kBlockSize, "one unread byte at the end");

}  // namespace kesto::legacy_block

#endif  // KESTO_MATLAB_LEGACY_BLOCK_LAYOUT_H_
