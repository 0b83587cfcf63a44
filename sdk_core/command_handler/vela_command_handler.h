#ifndef KESTO_LIDAR_VELA_COMMAND_HANDLER_H_
#define KESTO_LIDAR_VELA_COMMAND_HANDLER_H_

#include "model_command_handler.h"

namespace kesto::lidar {

// VELA lidars (device type 10): commands to port 56000, log commands to 59000, state pushes
// from 56000, configured with BuildUpdateLidarCfgRequest.
extern const ModelTraits kVelaTraits;

class VelaCommandHandler : public ModelCommandHandler {
 public:
  explicit VelaCommandHandler(GeneralCommandHandler& general)
      : ModelCommandHandler(kVelaTraits, general) {}
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_VELA_COMMAND_HANDLER_H_
