#include "capture_load.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture_reader.h"
#include "packet_stream_layout.h"

namespace kesto::matlab {
namespace {

// Packets converted to StreamPackets at a time: a few hundred kilobytes, whatever the capture.
constexpr std::size_t kBatch = 256;

double SecondsAfter(std::uint64_t time_ns, std::uint64_t first_ns) {
  // Time stamps may step back; a packet before the first datagram is at a negative time.
  return time_ns >= first_ns ? static_cast<double>(time_ns - first_ns) / 1e9
                             : -static_cast<double>(first_ns - time_ns) / 1e9;
}

bool InWindow(const CaptureLoadOptions& options, double t) {
  return !options.has_window || (t >= options.window_begin && t <= options.window_end);
}

// Runs `fill` over the kept packets batch by batch, each batch's rows below the previous
// batch's: the row functions write a packet's rows at the matrix's column stride.
template <typename Rows, typename Fill>
void ForEachBatch(const CaptureLoad& load, Rows rows_of, Fill fill) {
  std::vector<StreamPacket> batch;
  batch.reserve(std::min(kBatch, load.packets.size()));
  std::size_t row = 0;
  for (std::size_t i = 0; i < load.packets.size(); i += kBatch) {
    const std::size_t n = std::min(kBatch, load.packets.size() - i);
    batch.resize(n);
    for (std::size_t k = 0; k < n; ++k) ToStreamPacket(load, load.packets[i + k], batch[k]);
    fill(batch, row);
    row += rows_of(CountStreamRows(batch));
  }
}

}  // namespace

void ToStreamPacket(const CaptureLoad& load, const KeptPacket& kept, StreamPacket& packet) {
  const capture::LidarInCapture* lidar = load.index.Find(kept.handle);
  packet.index = 0;
  packet.meta.handle = kept.handle;
  packet.meta.dev_type = lidar != nullptr ? lidar->dev_type : 0;
  packet.meta.data_type = kept.data_type;
  packet.meta.length = kept.length;
  packet.receive_time_ns = 0;
  std::memcpy(packet.bytes, load.arena.data() + kept.offset, kept.length);
}

void LoadCapture(const std::string& path, const CaptureLoadOptions& options, CaptureLoad& load) {
  load = CaptureLoad();
  // The reader would say the same, but a missing file deserves its own error identifier.
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    std::fclose(file);
  } else {
    load.fault = CaptureLoadFault::kCannotOpen;
    load.error = std::strerror(errno);
    return;
  }

  capture::CaptureReader reader = capture::CaptureReader::OpenFile(path);
  capture::CapturedDatagram datagram;
  for (;;) {
    const capture::ReadStatus status = reader.NextDatagram(datagram);
    if (status == capture::ReadStatus::kEnd) break;
    if (status == capture::ReadStatus::kError) {
      load.fault = load.index.datagrams() == 0 ? CaptureLoadFault::kNotCapture : CaptureLoadFault::kDamaged;
      load.error = reader.error();
      return;
    }
    const capture::DatagramKind kind = load.index.Add(datagram);
    if (kind != capture::DatagramKind::kPointData && kind != capture::DatagramKind::kImuData) continue;
    if (options.has_lidar && datagram.src_ip != options.lidar) continue;
    if (!InWindow(options, SecondsAfter(datagram.time_ns, load.index.first_ns()))) continue;
    KeptPacket kept;
    kept.handle = datagram.src_ip;
    kept.data_type = datagram.payload[capture::kDataTypeAt];
    kept.offset = load.arena.size();
    kept.length = static_cast<std::uint16_t>(
        std::min<std::size_t>(datagram.payload.size(), stream::kMaxPacketSize));
    load.arena.insert(load.arena.end(), datagram.payload.begin(), datagram.payload.begin() + kept.length);
    load.packets.push_back(kept);
    ++(kind == capture::DatagramKind::kPointData ? load.point_packets : load.imu_packets);
  }
  if (options.has_lidar && load.index.Find(options.lidar) == nullptr) {
    load.fault = CaptureLoadFault::kNoSuchLidar;
    load.error = "no lidar with this address in the capture";
  }
}

StreamRowCounts CountCaptureRows(const CaptureLoad& load) {
  StreamRowCounts total;
  ForEachBatch(
      load, [](const StreamRowCounts& rows) { return rows.points; },
      [&](const std::vector<StreamPacket>& batch, std::size_t) {
        const StreamRowCounts rows = CountStreamRows(batch);
        total.points += rows.points;
        total.imu += rows.imu;
      });
  return total;
}

void FillCapturePointRows(const CaptureLoad& load, double* matrix, std::size_t point_rows) {
  ForEachBatch(
      load, [](const StreamRowCounts& rows) { return rows.points; },
      [&](const std::vector<StreamPacket>& batch, std::size_t row) {
        FillStreamPointRows(batch, matrix + row, point_rows);
      });
}

void FillCaptureImuRows(const CaptureLoad& load, double* matrix, std::size_t imu_rows) {
  ForEachBatch(
      load, [](const StreamRowCounts& rows) { return rows.imu; },
      [&](const std::vector<StreamPacket>& batch, std::size_t row) {
        FillStreamImuRows(batch, matrix + row, imu_rows);
      });
}

}  // namespace kesto::matlab
