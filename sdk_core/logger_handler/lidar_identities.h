#ifndef KESTO_LIDAR_LIDAR_IDENTITIES_H_
#define KESTO_LIDAR_LIDAR_IDENTITIES_H_
// What the log capture needs to know of the lidars: asked of the lidar directory, which owns
// that knowledge and sits above the capture in the link order. Tests implement it with a map.
#include <cstdint>
#include <string>
#include <vector>

namespace kesto::lidar {

class LidarIdentities {
 public:
  // The serial number of a lidar that has answered discovery, as the wire carried it (made
  // safe where it names a file); false for any other handle. Any thread.
  virtual bool SerialNumberOf(uint32_t handle, std::string& serial_number) const = 0;
  // Every lidar that has answered discovery. Any thread.
  virtual std::vector<uint32_t> DetectedLidars() const = 0;

 protected:
  ~LidarIdentities() = default;  // never deleted through this interface
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_LIDAR_IDENTITIES_H_
