#include "orbit_command_handler.h"

namespace kesto::lidar {

const ModelTraits kOrbitTraits = {
    kKestoLidarDevTypeOrbit,    56100, 56500, 56200, BuildUpdateOrbitLidarCfgRequest,
    "orbit_command_handler.cpp"};

}  // namespace kesto::lidar
