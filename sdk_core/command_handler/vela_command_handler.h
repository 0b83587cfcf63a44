#ifndef KESTO_LIDAR_VELA_COMMAND_HANDLER_H_
#define KESTO_LIDAR_VELA_COMMAND_HANDLER_H_

#include "model_command_handler.h"

namespace kesto::lidar {

// VELA lidars: commands to the model's command port, log commands to its log port, state pushes
// accepted only from its push source port (all from the VELA row of model_table.h), configured
// with BuildUpdateLidarCfgRequest.
extern const ModelTraits kVelaTraits;

class VelaCommandHandler : public ModelCommandHandler {
 public:
  explicit VelaCommandHandler(GeneralCommandHandler& general)
      : ModelCommandHandler(kVelaTraits, general) {}
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_VELA_COMMAND_HANDLER_H_
