#ifndef KESTO_LIDAR_MODEL_MAP_H_
#define KESTO_LIDAR_MODEL_MAP_H_

// Lidar model names as the configuration file spells its sections, and their device-type codes.

#include <array>
#include <map>
#include <string>
#include <string_view>

#include "kesto_lidar_sdk.h"

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

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_MODEL_MAP_H_
