#ifndef KESTO_MATLAB_LEGACY_BLOCK_MATRIX_H_
#define KESTO_MATLAB_LEGACY_BLOCK_MATRIX_H_

#include <cstddef>
#include <cstdint>

namespace kesto::matlab {

// The 3 x 98 matrix lidartap2 returns, column-major: columns 0-95 the 96 records (value 1-3 per
// row), column 96 float values 1-3, column 97 float values 4-6.
inline constexpr std::size_t kLegacyMatrixRows = 3;
inline constexpr std::size_t kLegacyMatrixCols = 98;
inline constexpr std::size_t kLegacyMatrixElements = kLegacyMatrixRows * kLegacyMatrixCols;

// Converts a legacy block (kesto::legacy_block::kBlockSize bytes, any alignment) into `matrix`
// (kLegacyMatrixElements doubles), writing every element: the 288 signed 32-bit values in block
// order, then the six float values. There is no data type, so every block converts.
void ConvertLegacyBlock(const std::uint8_t* block, double* matrix);

}  // namespace kesto::matlab

#endif  // KESTO_MATLAB_LEGACY_BLOCK_MATRIX_H_
