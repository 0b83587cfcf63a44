#ifndef KESTO_TOOLS_LIDAR_SIM_MODEL_PORTS_H_
#define KESTO_TOOLS_LIDAR_SIM_MODEL_PORTS_H_

// The lidar-side UDP ports of each emulated model. A VELA lidar answers discovery, takes
// commands and sends its state pushes on one port; an ORBIT lidar has one port per job.

#include <cstdint>
#include <string_view>

namespace kesto::lidar_sim {

enum class Model : uint8_t { kOrbit = 9, kVela = 10 };

struct ModelPorts {
  uint16_t discovery;
  uint16_t command;
  uint16_t push;
  uint16_t point;
  uint16_t imu;
  uint16_t log;
};

// Every lidar answers discovery from this port, whatever its model.
inline constexpr uint16_t kDiscoveryPort = 56000;

constexpr ModelPorts PortsOf(Model model) {
  return model == Model::kOrbit ? ModelPorts{56000, 56100, 56200, 56300, 56400, 56500}
                                : ModelPorts{56000, 56000, 56000, 57000, 58000, 59000};
}

constexpr uint8_t DeviceType(Model model) { return static_cast<uint8_t>(model); }

constexpr std::string_view ModelName(Model model) {
  return model == Model::kOrbit ? "ORBIT" : "VELA";
}

}  // namespace kesto::lidar_sim

#endif  // KESTO_TOOLS_LIDAR_SIM_MODEL_PORTS_H_
