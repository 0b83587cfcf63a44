#include "replay.h"

#include <cmath>
#include <cstdio>

#include "capture_reader.h"
#include "emulated_lidar.h"
#include "handle_text.h"

namespace kesto::lidar_sim {

namespace {

bool ModelOf(uint8_t dev_type, Model& model) {
  for (Model m : {Model::kOrbit, Model::kVela}) {
    if (DeviceType(m) == dev_type) {
      model = m;
      return true;
    }
  }
  return false;
}

uint64_t WindowNs(double seconds) {
  return static_cast<uint64_t>(std::llround(seconds * 1e9));
}

}  // namespace

bool ScanCapture(const std::string& path, ReplayScan& scan, std::string& error) {
  capture::CaptureReader reader = capture::CaptureReader::OpenFile(path);
  capture::SessionIndex index;
  capture::CapturedDatagram datagram;
  capture::ReadStatus status;
  while ((status = reader.NextDatagram(datagram)) == capture::ReadStatus::kItem) index.Add(datagram);
  scan = ReplayScan{};
  scan.lidars = index.lidars();
  scan.datagrams = index.datagrams();
  scan.first_ns = index.first_ns();
  scan.last_ns = index.last_ns();
  if (status == capture::ReadStatus::kError) {
    if (scan.datagrams == 0) {
      error = path + ": not a readable capture: " + reader.error();
      return false;
    }
    scan.damage = reader.error();
  }
  if (scan.lidars.empty()) {
    error = path + ": no lidar in the capture (" + std::to_string(scan.datagrams) +
            " datagrams, none a discovery reply or a data packet)";
    return false;
  }
  return true;
}

bool ReplayLidars(const ReplayScan& scan, const std::string& first_address,
                  const std::vector<LidarSetup>& named, std::vector<LidarSetup>& out,
                  std::string& error) {
  std::vector<LidarSetup> lidars = MakeLidars(Model::kOrbit, static_cast<int>(scan.lidars.size()),
                                              first_address);
  if (lidars.size() != scan.lidars.size()) {
    error = "bad first address for the replayed lidars: " + first_address;
    return false;
  }
  for (const LidarSetup& given : named) {
    const uint32_t address = lidar::TextToHandle(given.address);
    bool found = false;
    for (const capture::LidarInCapture& recorded : scan.lidars) found = found || recorded.address == address;
    if (!found) {
      error = "no lidar " + given.address + " in the capture to name " + std::string(ModelName(given.model));
      return false;
    }
  }
  for (size_t i = 0; i < lidars.size(); ++i) {
    const capture::LidarInCapture& recorded = scan.lidars[i];
    LidarSetup& setup = lidars[i];
    const std::string recorded_text = lidar::HandleToText(recorded.address);
    const LidarSetup* given = nullptr;
    for (const LidarSetup& g : named) {
      if (lidar::TextToHandle(g.address) == recorded.address) given = &g;
    }
    // The recording's own discovery reply says best what the lidar was.
    if (!ModelOf(recorded.dev_type, setup.model)) {
      if (given == nullptr) {
        error = recorded.dev_type == 0
                    ? "the capture names no model for lidar " + recorded_text +
                          "; give it with --lidar MODEL@" + recorded_text + "[/SN]"
                    : "lidar " + recorded_text + " of the capture is of device type " +
                          std::to_string(recorded.dev_type) + ", which the emulator has not; give " +
                          "a model with --lidar MODEL@" + recorded_text + "[/SN]";
        return false;
      }
      setup.model = given->model;
    }
    setup.serial = !recorded.sn.empty() ? recorded.sn : given != nullptr ? given->serial : "";
    setup.point_port = recorded.point_port;
    setup.imu_port = recorded.imu_port;
    setup.recorded_address = recorded.address;
  }
  out = std::move(lidars);
  return true;
}

std::string ReplayReport(const ReplayScan& scan, const std::vector<LidarSetup>& lidars) {
  std::string text;
  char line[300];
  for (size_t i = 0; i < scan.lidars.size() && i < lidars.size(); ++i) {
    const capture::LidarInCapture& recorded = scan.lidars[i];
    const LidarSetup& setup = lidars[i];
    std::snprintf(line, sizeof line, "  %-15s -> %-15s %-5s %-16s point packets %llu, IMU packets %llu\n",
                  lidar::HandleToText(recorded.address).c_str(), setup.address.c_str(),
                  std::string(ModelName(setup.model)).c_str(),
                  setup.serial.empty() ? "(generated)" : setup.serial.c_str(),
                  static_cast<unsigned long long>(recorded.point_packets),
                  static_cast<unsigned long long>(recorded.imu_packets));
    text += line;
  }
  std::snprintf(line, sizeof line, "  %llu datagrams over %.3f s\n",
                static_cast<unsigned long long>(scan.datagrams),
                static_cast<double>(scan.last_ns - scan.first_ns) / 1e9);
  return std::to_string(scan.lidars.size()) + " lidar(s) in the capture:\n" + text + line;
}

RecordedStream::RecordedStream(const ReplayOptions& options, uint32_t recorded_address,
                               uint64_t origin_ns)
    : path_(options.path),
      source_(recorded_address),
      from_ns_(origin_ns + WindowNs(options.from_seconds)),
      to_ns_(options.to_seconds < 0 ? UINT64_MAX : origin_ns + WindowNs(options.to_seconds)) {}

RecordedStream::~RecordedStream() = default;

void RecordedStream::Rewind() {
  reader_ = std::make_unique<capture::CaptureReader>(capture::CaptureReader::OpenFile(path_));
  Advance();
}

void RecordedStream::Advance() {
  has_next_ = false;
  if (!reader_) return;
  while (reader_->NextDatagram(next_) == capture::ReadStatus::kItem) {
    if (next_.src_ip != source_ || next_.time_ns < from_ns_) continue;
    if (next_.time_ns > to_ns_) break;
    const capture::DatagramKind kind = capture::ClassifyPayload(next_.payload.data(), next_.payload.size());
    if (kind != capture::DatagramKind::kPointData && kind != capture::DatagramKind::kImuData) continue;
    has_next_ = true;
    next_is_point_ = kind == capture::DatagramKind::kPointData;
    return;
  }
  // The window's end, the file's end or its damage: nothing more this pass.
  reader_.reset();
}

}  // namespace kesto::lidar_sim
