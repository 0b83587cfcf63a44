#ifndef KESTO_LIDAR_MODEL_TABLE_H_
#define KESTO_LIDAR_MODEL_TABLE_H_

// Everything that differs between the lidar models, one row per model. No port number or
// device type of a model is written anywhere else: the kit, the bridge and the emulator all
// read this table. Adding a model means adding a row here, plus a request builder when its
// configuration request has another wire form.
//
// The table is constant and built at compile time, so it is read from any thread without a
// lock.

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "kesto_lidar_sdk.h"
#include "lidar_cfg.h"

namespace kesto::lidar {

// Every lidar answers discovery from this lidar-side port, and the host broadcasts its
// discovery requests to it, whatever the model.
inline constexpr uint16_t kDiscoveryPort = 56000;
// A host-side port on which every data channel also listens, for a lidar's debug point cloud.
inline constexpr uint16_t kDebugPointCloudPort = 44332;

// The wire form of a model's configuration request (the set-parameters payload that points a
// detected lidar at this host).
enum class CfgRequestForm : uint8_t {
  kPointImu,      // point-cloud and (where the model has one) IMU destination
  kPushPointImu,  // state-push, point-cloud and IMU destination; the host address must be valid
};

struct LidarModel {
  // The configuration file's section of the model; empty for a model without one.
  std::string_view name;
  uint8_t dev_type;
  // The lidar-side ports: the model's defaults, and for a model with fixed ports the only ones.
  LidarNetInfo lidar_ports;
  // The lidar's ports cannot be configured: the checks force `lidar_ports` onto its sections.
  bool fixed_ports;
  // The only lidar-side port a state push is accepted from.
  uint16_t push_source_port;
  // Whether the model streams IMU data (and its configuration request names an IMU entry).
  bool has_imu;
  CfgRequestForm cfg_request;
  // A host-side command port the kit opens for every lidar of the model beside the configured
  // ones (0: none).
  uint16_t fixed_host_cmd_port;
  // A lidar-side port of the model's firmware upgrade channel, routed to the command machinery
  // (0: none).
  uint16_t upgrade_port;
  // The keys an internal-info query asks a lidar of the model for, ascending; 0 ends the list
  // early (key 0 is always the first entry of a non-empty list).
  const uint16_t* internal_info_keys;
  uint16_t internal_info_key_count;
};

namespace model_table_detail {
inline constexpr std::array<uint16_t, 27> kVelaInfoKeys = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0006, 0x0007, 0x0009, 0x0012,
    0x0013, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x8000, 0x8001, 0x8002,
    0x8003, 0x8004, 0x8005, 0x8006, 0x800D, 0x800E, 0x800F, 0x8010, 0x8012};
inline constexpr std::array<uint16_t, 30> kOrbitInfoKeys = {
    0x0000, 0x0001, 0x0004, 0x0005, 0x0006, 0x0007, 0x0012, 0x0015, 0x0016, 0x0017,
    0x0018, 0x0019, 0x001A, 0x001C, 0x8000, 0x8001, 0x8002, 0x8003, 0x8004, 0x8005,
    0x8006, 0x8007, 0x8008, 0x8009, 0x800A, 0x800B, 0x800C, 0x800E, 0x8010, 0x8011};
}  // namespace model_table_detail

// Rows with a configuration section come first, in the order the configuration parser reads
// the sections: all VELA entries before the ORBIT ones.
inline constexpr std::array<LidarModel, 3> kLidarModels = {{
    {"VELA", kKestoLidarDevTypeVela,
     LidarNetInfo{kDiscoveryPort, kDiscoveryPort, 57000, 58000, 59000}, false, kDiscoveryPort,
     true, CfgRequestForm::kPointImu, 0, 0, model_table_detail::kVelaInfoKeys.data(),
     static_cast<uint16_t>(model_table_detail::kVelaInfoKeys.size())},
    {"ORBIT", kKestoLidarDevTypeOrbit, LidarNetInfo{56100, 56200, 56300, 56400, 56500}, true,
     56200, true, CfgRequestForm::kPushPointImu, 0, 0, model_table_detail::kOrbitInfoKeys.data(),
     static_cast<uint16_t>(model_table_detail::kOrbitInfoKeys.size())},
    // A lidar family without a configuration section: point data only, a fixed host-side
    // command port and a firmware upgrade channel.
    {"", kKestoLidarDevTypeUnnamed, LidarNetInfo{0, 0, 10000, 0, 1002}, false, 0, false,
     CfgRequestForm::kPointImu, 42867, 10001, nullptr, 0},
}};

// The row of a device type; null for a type the kit does not know.
constexpr const LidarModel* FindModel(uint8_t dev_type) {
  for (const LidarModel& model : kLidarModels) {
    if (model.dev_type == dev_type) return &model;
  }
  return nullptr;
}

// Whether `port` is the lidar-side log port of any model: log pushes are told apart by it
// before the lidar is known.
constexpr bool IsLogSourcePort(uint16_t port) {
  for (const LidarModel& model : kLidarModels) {
    if (port != 0 && model.lidar_ports.log_data_port == port) return true;
  }
  return false;
}

// Configuration section name to device-type code, for the models that have a section.
inline const std::map<std::string, int> kLidarModelMap = [] {
  std::map<std::string, int> map;
  for (const LidarModel& model : kLidarModels) {
    if (!model.name.empty()) map.emplace(model.name, model.dev_type);
  }
  return map;
}();

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_MODEL_TABLE_H_
