#ifndef KESTO_LIDAR_INTERNAL_INFO_KEYS_H_
#define KESTO_LIDAR_INTERNAL_INFO_KEYS_H_
// The keys an internal-info query asks a lidar for, per model: the model table's lists.
#include <cstdint>
#include <set>

namespace kesto::lidar {

// Fills `keys` with the list of `dev_type`, ascending; false for a type without one. Safe from
// any thread.
bool InternalInfoKeysOf(uint8_t dev_type, std::set<uint16_t>& keys);

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_INTERNAL_INFO_KEYS_H_
