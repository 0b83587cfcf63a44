#include "orbit_command_handler.h"

#include "table_traits.h"

namespace kesto::lidar {

constexpr ModelTraits kOrbitTraits =
    TraitsFromTable(kKestoLidarDevTypeOrbit, "orbit_command_handler.cpp");

}  // namespace kesto::lidar
