#ifndef KESTO_LIDAR_ORBIT_COMMAND_HANDLER_H_
#define KESTO_LIDAR_ORBIT_COMMAND_HANDLER_H_

#include "model_command_handler.h"

namespace kesto::lidar {

// ORBIT lidars: commands to the model's command port, log commands to its log port, state pushes
// accepted only from its push source port (all from the ORBIT row of model_table.h), configured
// with BuildUpdateOrbitLidarCfgRequest.
extern const ModelTraits kOrbitTraits;

class OrbitCommandHandler : public ModelCommandHandler {
 public:
  explicit OrbitCommandHandler(GeneralCommandHandler& general)
      : ModelCommandHandler(kOrbitTraits, general) {}
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_ORBIT_COMMAND_HANDLER_H_
