#include "vela_command_handler.h"

#include "table_traits.h"

namespace kesto::lidar {

constexpr ModelTraits kVelaTraits =
    TraitsFromTable(kKestoLidarDevTypeVela, "vela_command_handler.cpp");

}  // namespace kesto::lidar
