#include "legacy_block_matrix.h"

#include "legacy_block_layout.h"
#include "little_endian.h"

namespace kesto::matlab {

using namespace kesto::legacy_block;

constexpr std::size_t kIntegerCount = kRecordCount * kValuesPerRecord;
static_assert(kIntegerCount + kFloatCount == kLegacyMatrixElements, "every element is set");

void ConvertLegacyBlock(const std::uint8_t* block, double* matrix) {
  for (std::size_t i = 0; i < kIntegerCount; ++i) matrix[i] = LoadI32(block + 4 * i);
  for (std::size_t j = 0; j < kFloatCount; ++j) {
    matrix[kIntegerCount + j] = LoadF32(block + kFloatOffset + 4 * j);
  }
}

}  // namespace kesto::matlab
