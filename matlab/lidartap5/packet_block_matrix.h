#ifndef KESTO_MATLAB_PACKET_BLOCK_MATRIX_H_
#define KESTO_MATLAB_PACKET_BLOCK_MATRIX_H_

#include <cstddef>
#include <cstdint>

namespace kesto::matlab {

// The 5 x 98 matrix lidartap5 returns, column-major: element (row r, column c), counted from 0,
// at r + 5 * c. Column 0: data type, point timestamp, IMU values 1-3; column 1: IMU values 4-6,
// IMU timestamp, 0; columns 2-97: the 96 point records, one field per row.
inline constexpr std::size_t kPacketMatrixRows = 5;
inline constexpr std::size_t kPacketMatrixCols = 98;
inline constexpr std::size_t kPacketMatrixElements = kPacketMatrixRows * kPacketMatrixCols;

// Converts a version-5 block (kesto::block::kBlockSize bytes, any alignment) into `matrix`
// (kPacketMatrixElements doubles), writing every element. The data-type byte is read exactly
// once and the rest is decoded as that type says, so a block the bridge is rewriting meanwhile
// gives a matrix of that type with partly newer values, never a mix of two layouts.
//
// Returns false when the data type is none of 0 (IMU) and 1-3 (points): then the matrix holds
// only the data type, in element 0.
bool ConvertPacketBlock(const std::uint8_t* block, double* matrix);

}  // namespace kesto::matlab

#endif  // KESTO_MATLAB_PACKET_BLOCK_MATRIX_H_
