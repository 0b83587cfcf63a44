#ifndef KESTO_TOOLS_LIDAR_SIM_MODEL_PORTS_H_
#define KESTO_TOOLS_LIDAR_SIM_MODEL_PORTS_H_

// The emulated models and their lidar-side UDP ports, read from the kit's model table so that
// the emulator and the kit cannot disagree about a model. A VELA lidar answers discovery, takes
// commands and sends its state pushes on one port; an ORBIT lidar has one port per job.

#include <cstdint>
#include <string_view>

#include "model_table.h"

namespace kesto::lidar_sim {

// The emulated models; each value is the model's device type, the key of its table row.
enum class Model : uint8_t {
  kOrbit = kKestoLidarDevTypeOrbit,
  kVela = kKestoLidarDevTypeVela,
};

struct ModelPorts {
  uint16_t discovery;
  uint16_t command;
  uint16_t push;
  uint16_t point;
  uint16_t imu;
  uint16_t log;
};

// Every lidar answers discovery from this port, whatever its model.
inline constexpr uint16_t kDiscoveryPort = lidar::kDiscoveryPort;

constexpr const lidar::LidarModel& RowOf(Model model) {
  return *lidar::FindModel(static_cast<uint8_t>(model));
}

constexpr uint8_t DeviceType(Model model) { return RowOf(model).dev_type; }

constexpr ModelPorts PortsOf(Model model) {
  const lidar::LidarModel& row = RowOf(model);
  const lidar::LidarNetInfo& ports = row.lidar_ports;
  return ModelPorts{kDiscoveryPort,        ports.cmd_data_port, row.push_source_port,
                    ports.point_data_port, ports.imu_data_port, ports.log_data_port};
}

constexpr std::string_view ModelName(Model model) { return RowOf(model).name; }

// Both models have a row (RowOf of a missing one is no constant expression, so this fails to
// compile), and the emulator streams IMU data for both.
static_assert(RowOf(Model::kOrbit).has_imu && RowOf(Model::kVela).has_imu);

}  // namespace kesto::lidar_sim

#endif  // KESTO_TOOLS_LIDAR_SIM_MODEL_PORTS_H_
