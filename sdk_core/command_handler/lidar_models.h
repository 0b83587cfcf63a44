#ifndef KESTO_LIDAR_LIDAR_MODELS_H_
#define KESTO_LIDAR_LIDAR_MODELS_H_
// Which model a lidar is, for a command that names only its handle. The lidar directory
// implements it; the command machinery asks it and nothing else about a lidar.
#include <cstdint>

namespace kesto::lidar {

class LidarModels {
 public:
  // The device type of a lidar that has answered discovery; false for any other handle.
  // Safe from any thread.
  virtual bool ModelOf(uint32_t handle, uint8_t& dev_type) const = 0;

 protected:
  ~LidarModels() = default;  // never deleted through this interface
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_LIDAR_MODELS_H_
