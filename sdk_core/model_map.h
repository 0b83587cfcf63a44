#ifndef KESTO_LIDAR_MODEL_MAP_H_
#define KESTO_LIDAR_MODEL_MAP_H_

// Lidar model names as the configuration file spells its sections, their device-type codes, and
// what the kit knows of a model regardless of configuration.

#include <array>
#include <map>
#include <string>
#include <string_view>

#include "kesto_lidar_sdk.h"
#include "lidar_cfg.h"

namespace kesto::lidar {

struct LidarModel {
  std::string_view name;
  int dev_type;
};

// In the order the configuration parser reads the sections: all VELA entries come first.
inline constexpr std::array<LidarModel, 2> kLidarModels = {{
    {"VELA", kKestoLidarDevTypeVela},
    {"ORBIT", kKestoLidarDevTypeOrbit},
}};

// Model name to device-type code. Built during static initialisation and never changed, so it
// is read from any thread without a lock.
inline const std::map<std::string, int> kLidarModelMap = [] {
  std::map<std::string, int> map;
  for (const LidarModel& model : kLidarModels) map.emplace(model.name, model.dev_type);
  return map;
}();

// ORBIT lidars listen and send on fixed lidar-side ports; the checks force a configuration onto
// them and the request builders name them as the source ports of the streams.
inline constexpr LidarNetInfo kOrbitLidarPorts = {56100, 56200, 56300, 56400, 56500};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_MODEL_MAP_H_
