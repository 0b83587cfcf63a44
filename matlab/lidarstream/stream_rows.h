#ifndef KESTO_MATLAB_STREAM_ROWS_H_
#define KESTO_MATLAB_STREAM_ROWS_H_

// The packets a stream reader returned, decoded into the two matrices lidarstream gives MATLAB,
// column-major (element (row r, column c), counted from 0, at r + rows * c):
//   points, one row per point record of every point packet (data types 1-3), in packet order:
//     value 1, value 2, value 3, attribute 1, attribute 2, packet timestamp, handle, data type
//   imu, one row per IMU packet (data type 0):
//     packet timestamp, handle, IMU values 1-6
// Records are decoded as the version-5 reader decodes them; a point packet gives as many rows
// as whole records fit in its length, an IMU packet shorter than its six values gives none, and
// packets of any other data type give no row. Timestamps convert to the nearest double (exact
// below 2^53); everything else converts exactly.

#include <cstddef>
#include <vector>

#include "stream_reader.h"

namespace kesto::matlab {

inline constexpr std::size_t kStreamPointColumns = 8;
inline constexpr std::size_t kStreamImuColumns = 8;

struct StreamRowCounts {
  std::size_t points = 0;
  std::size_t imu = 0;
};

StreamRowCounts CountStreamRows(const std::vector<StreamPacket>& packets);

// Fill a matrix of point_rows x kStreamPointColumns (imu_rows x kStreamImuColumns): its first
// rows, as many as CountStreamRows gave for these packets (at most the matrix's rows), every
// element of them written. The row count is the matrix's column stride, so a caller that fills
// a big matrix batch by batch passes the matrix from its next free row on (lidarread).
void FillStreamPointRows(const std::vector<StreamPacket>& packets, double* matrix,
                         std::size_t point_rows);
void FillStreamImuRows(const std::vector<StreamPacket>& packets, double* matrix,
                       std::size_t imu_rows);

}  // namespace kesto::matlab

#endif  // KESTO_MATLAB_STREAM_ROWS_H_
