#ifndef KESTO_MATLAB_CAPTURE_LOAD_H_
#define KESTO_MATLAB_CAPTURE_LOAD_H_

// What lidarread returns, taken from a capture file without a host: the capture read once,
// front to back, through the kit's capture reader, every datagram classified by the session
// index, and the lidars' point and IMU packets inside the chosen window (and of the chosen
// lidar) kept. The matrices are then filled by lidarstream's row functions (stream_rows.h), so
// a recorded packet gives exactly the rows the live stream gives for it.
//
// Pure code over a file; no log line, no exception. Host interpreter thread only, like the
// plug-in.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "session_index.h"
#include "stream_rows.h"

namespace kesto::matlab {

struct CaptureLoadOptions {
  // Seconds after the capture's first datagram, both ends included.
  bool has_window = false;
  double window_begin = 0;
  double window_end = 0;
  // Only this lidar's packets (network byte order, as the kit's handles).
  bool has_lidar = false;
  std::uint32_t lidar = 0;
};

enum class CaptureLoadFault {
  kNone,
  kCannotOpen,   // the file cannot be opened
  kNotCapture,   // the reader refused the file before its first datagram
  kDamaged,      // the reader stopped at damage after `datagrams` good datagrams
  kNoSuchLidar,  // the chosen lidar is not among the capture's lidars
};

// One kept data packet: where its bytes are in the load's arena.
struct KeptPacket {
  std::uint32_t handle = 0;
  std::uint8_t data_type = 0;
  std::size_t offset = 0;
  std::uint16_t length = 0;  // at most the live stream's largest packet, as the bridge keeps it
};

struct CaptureLoad {
  CaptureLoadFault fault = CaptureLoadFault::kNone;
  std::string error;  // the reader's text, or what else is wrong; empty without a fault

  capture::SessionIndex index;  // the whole capture, whatever the filters
  std::vector<KeptPacket> packets;
  std::vector<std::uint8_t> arena;
  std::uint64_t point_packets = 0;  // kept, of data types 1-3
  std::uint64_t imu_packets = 0;    // kept, of data type 0
};

// Reads `path`; on a fault, `load.fault` and `load.error` say why and nothing else is meant to
// be used.
void LoadCapture(const std::string& path, const CaptureLoadOptions& options, CaptureLoad& load);

// The rows of the kept packets, and the two matrices, as CountStreamRows and the Fill functions
// give them for the same packets as StreamPackets (device type from the lidar's discovery reply
// in the capture, or 0). The packets pass through a small reused batch, never all at once.
StreamRowCounts CountCaptureRows(const CaptureLoad& load);
void FillCapturePointRows(const CaptureLoad& load, double* matrix, std::size_t point_rows);
void FillCaptureImuRows(const CaptureLoad& load, double* matrix, std::size_t imu_rows);

// A packet as lidarstream would have taken it out of the stream block.
void ToStreamPacket(const CaptureLoad& load, const KeptPacket& kept, StreamPacket& packet);

}  // namespace kesto::matlab

#endif  // KESTO_MATLAB_CAPTURE_LOAD_H_
