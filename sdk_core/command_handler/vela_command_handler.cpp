#include "vela_command_handler.h"

namespace kesto::lidar {

const ModelTraits kVelaTraits = {
    kKestoLidarDevTypeVela,    56000, 59000, 56000, BuildUpdateLidarCfgRequest,
    "vela_command_handler.cpp"};

}  // namespace kesto::lidar
