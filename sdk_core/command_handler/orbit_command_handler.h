#ifndef KESTO_LIDAR_ORBIT_COMMAND_HANDLER_H_
#define KESTO_LIDAR_ORBIT_COMMAND_HANDLER_H_

#include "model_command_handler.h"

namespace kesto::lidar {

// ORBIT lidars (device type 9): commands to port 56100, log commands to 56500, state pushes
// from 56200, configured with BuildUpdateOrbitLidarCfgRequest.
extern const ModelTraits kOrbitTraits;

class OrbitCommandHandler : public ModelCommandHandler {
 public:
  explicit OrbitCommandHandler(GeneralCommandHandler& general)
      : ModelCommandHandler(kOrbitTraits, general) {}
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_ORBIT_COMMAND_HANDLER_H_
