#include "packet_block_matrix.h"

#include <algorithm>

#include "little_endian.h"
#include "packet_block_layout.h"

namespace kesto::matlab {

using namespace kesto::block;

namespace {

constexpr std::size_t kImuValuesIndex = 2;     // data(3,1) .. data(3,2): six consecutive elements
constexpr std::size_t kPointTimeIndex = 1;     // data(2,1)
constexpr std::size_t kImuTimeIndex = 3 + kPacketMatrixRows;  // data(4,2)
constexpr std::size_t kFirstRecordColumn = 2;  // data(:,3)

static_assert(kImuValuesIndex + kImuValueCount == kImuTimeIndex, "IMU values end before data(4,2)");
static_assert(kFirstRecordColumn + kRecordsPerBlock == kPacketMatrixCols, "96 record columns");

// One record into its column. Integers of up to 32 bits convert to double exactly.
void ConvertRecord(std::uint8_t data_type, const std::uint8_t* r, double* column) {
  switch (data_type) {
    case 1:
      column[0] = LoadI32(r);
      column[1] = LoadI32(r + 4);
      column[2] = LoadI32(r + 8);
      column[3] = r[12];
      column[4] = r[13];
      break;
    case 2:
      column[0] = LoadI16(r);
      column[1] = LoadI16(r + 2);
      column[2] = LoadI16(r + 4);
      column[3] = r[6];
      column[4] = r[7];
      break;
    case 3:
      column[0] = LoadU32(r);
      column[1] = LoadU16(r + 4);
      column[2] = LoadU16(r + 6);
      column[3] = r[8];
      column[4] = r[9];
      break;
    default:
      break;
  }
}

}  // namespace

bool ConvertPacketBlock(const std::uint8_t* block, double* matrix) {
  std::fill(matrix, matrix + kPacketMatrixElements, 0.0);
  // Volatile so that the compiler reads the byte the writer may change exactly once and never
  // reloads it for the dispatch below.
  const std::uint8_t data_type = *static_cast<const volatile std::uint8_t*>(block + kDataTypeOffset);
  matrix[0] = data_type;
  const std::size_t record_size = RecordSize(data_type);
  if (data_type != kImuDataType && record_size == 0) return false;

  // Timestamps to the nearest double; exact below 2^53.
  matrix[kPointTimeIndex] = static_cast<double>(LoadU64(block + kPointTimestampOffset));
  matrix[kImuTimeIndex] = static_cast<double>(LoadU64(block + kImuTimestampOffset));

  if (data_type == kImuDataType) {
    for (std::size_t j = 0; j < kImuValueCount; ++j) {
      matrix[kImuValuesIndex + j] = LoadF32(block + kImuValuesOffset + 4 * j);
    }
    return true;
  }
  for (std::size_t k = 0; k < kRecordsPerBlock; ++k) {
    ConvertRecord(data_type, block + kPointAreaOffset + k * record_size,
                  matrix + (kFirstRecordColumn + k) * kPacketMatrixRows);
  }
  return true;
}

}  // namespace kesto::matlab
