#include "internal_info_keys.h"

#include "model_table.h"

namespace kesto::lidar {

bool InternalInfoKeysOf(uint8_t dev_type, std::set<uint16_t>& keys) {
  const LidarModel* model = FindModel(dev_type);
  if (model == nullptr || model->internal_info_keys == nullptr ||
      model->internal_info_key_count == 0) {
    return false;
  }
  for (uint16_t i = 0; i < model->internal_info_key_count; ++i) {
    const uint16_t key = model->internal_info_keys[i];
    if (i > 0 && key == 0) break;  // the list ends early
    keys.insert(key);
  }
  return true;
}

}  // namespace kesto::lidar
