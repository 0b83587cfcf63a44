#ifndef KESTO_LIDAR_INTERNAL_INFO_KEYS_H_
#define KESTO_LIDAR_INTERNAL_INFO_KEYS_H_
// The keys an internal-info query asks a lidar for, per model, in ascending order.
#include <array>
#include <cstdint>
#include <set>

#include "kesto_lidar_sdk.h"

namespace kesto::lidar {

inline constexpr std::array<uint16_t, 27> kVelaInternalInfoKeys = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0006, 0x0007, 0x0009, 0x0012,
    0x0013, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x8000, 0x8001, 0x8002,
    0x8003, 0x8004, 0x8005, 0x8006, 0x800D, 0x800E, 0x800F, 0x8010, 0x8012};

inline constexpr std::array<uint16_t, 30> kOrbitInternalInfoKeys = {
    0x0000, 0x0001, 0x0004, 0x0005, 0x0006, 0x0007, 0x0012, 0x0015, 0x0016, 0x0017,
    0x0018, 0x0019, 0x001A, 0x001C, 0x8000, 0x8001, 0x8002, 0x8003, 0x8004, 0x8005,
    0x8006, 0x8007, 0x8008, 0x8009, 0x800A, 0x800B, 0x800C, 0x800E, 0x8010, 0x8011};

// Fills `keys` with the list of `dev_type`; false for a type without one.
inline bool InternalInfoKeysOf(uint8_t dev_type, std::set<uint16_t>& keys) {
  if (dev_type == kKestoLidarDevTypeVela) {
    keys.insert(kVelaInternalInfoKeys.begin(), kVelaInternalInfoKeys.end());
    return true;
  }
  if (dev_type == kKestoLidarDevTypeOrbit) {
    keys.insert(kOrbitInternalInfoKeys.begin(), kOrbitInternalInfoKeys.end());
    return true;
  }
  return false;
}

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_INTERNAL_INFO_KEYS_H_
