#ifndef KESTO_TOOLS_LIDAR_SIM_REPLAY_H_
#define KESTO_TOOLS_LIDAR_SIM_REPLAY_H_

// A recorded session replayed by emulated lidars: what a capture holds (one streaming pass with
// the kit's reader and session index), which emulated lidar stands for which recorded one, and
// each lidar's recorded data packets read back as they fall due.
//
// Use:
//   ReplayScan scan;
//   if (!ScanCapture(path, scan, error)) ...;           // not a capture, or no lidar in it
//   if (!ReplayLidars(scan, "127.0.0.2", named, options.lidars, error)) ...;
//   options.replay.path = path;                         // and speed, loop, window
//   Simulator sim(options);                             // each lidar replays its recording
//
// Nothing here holds more than one datagram per reader: captures may be gigabytes.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "captured_packet.h"
#include "lidar_sim.h"
#include "session_index.h"

namespace kesto::capture {
class CaptureReader;
}

namespace kesto::lidar_sim {

// What one pass over a capture found.
struct ReplayScan {
  std::vector<capture::LidarInCapture> lidars;  // in order of first appearance
  uint64_t datagrams = 0;
  uint64_t first_ns = 0;  // the capture's first datagram: the window's times count from it
  uint64_t last_ns = 0;
  // Non-empty when the file is damaged after `datagrams` good datagrams: what is wrong. The
  // replay then ends where the damage starts.
  std::string damage;
};

// Reads the whole capture once. False, with `error` set (one line), when the file cannot be
// read, is not a capture, is damaged before its first datagram, or holds no lidar.
bool ScanCapture(const std::string& path, ReplayScan& scan, std::string& error);

// One emulated lidar per recorded lidar, in the scan's order, on `first_address` and the
// addresses after it. Model and serial number come from the recorded discovery replies; what
// the recording does not say comes from `named`, whose entries give a model and a serial for
// the recorded lidar at their address (the address in the capture, not the replay one). The
// recorded lidar-side point and IMU ports become the lidars' own. False, with `error` set, for
// a recorded lidar of no known model, a `named` address no recorded lidar has, or a bad
// first address.
bool ReplayLidars(const ReplayScan& scan, const std::string& first_address,
                  const std::vector<LidarSetup>& named, std::vector<LidarSetup>& out,
                  std::string& error);

// What a replay prints before it starts: a line per lidar (recorded address -> replay address,
// model, serial, point and IMU packets) and the recording's duration.
std::string ReplayReport(const ReplayScan& scan, const std::vector<LidarSetup>& lidars);

// The recorded data packets (point and IMU) of one recorded lidar inside the replay window, in
// capture order, one read ahead. A damaged tail ends the recording where it starts (ScanCapture
// has told of it). Used by one thread at a time.
class RecordedStream {
 public:
  // `origin_ns`: the capture's first time stamp, from which the window counts.
  RecordedStream(const ReplayOptions& options, uint32_t recorded_address, uint64_t origin_ns);
  ~RecordedStream();
  RecordedStream(const RecordedStream&) = delete;
  RecordedStream& operator=(const RecordedStream&) = delete;

  // Opens the capture (again) at the window's start; then next() is its first packet, if any.
  void Rewind();
  // The packet to send next, or null once the window or the recording is over (or before the
  // first Rewind).
  const capture::CapturedDatagram* next() const { return has_next_ ? &next_ : nullptr; }
  bool next_is_point() const { return next_is_point_; }
  // Moves on to the following packet.
  void Advance();

 private:
  const std::string path_;
  const uint32_t source_;
  const uint64_t from_ns_;
  const uint64_t to_ns_;  // UINT64_MAX: to the end
  std::unique_ptr<capture::CaptureReader> reader_;
  capture::CapturedDatagram next_;
  bool has_next_ = false;
  bool next_is_point_ = false;
};

}  // namespace kesto::lidar_sim

#endif  // KESTO_TOOLS_LIDAR_SIM_REPLAY_H_
