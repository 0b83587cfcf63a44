#ifndef KESTO_LIDAR_TABLE_TRAITS_H_
#define KESTO_LIDAR_TABLE_TRAITS_H_
// A model command handler's traits, read from the model's row of the model table, so that the
// handlers name no port or device type of their own. Constant expressions: the handlers'
// traits are defined constexpr, so they are set before any code runs.
#include <cstdint>

#include "build_request.h"
#include "model_command_handler.h"
#include "model_table.h"

namespace kesto::lidar {

// The request builder of a configuration-request form.
constexpr bool (*CfgRequestBuilderOf(CfgRequestForm form))(const KestoLidarCfg&, RequestBuffer&,
                                                           uint16_t&) {
  return form == CfgRequestForm::kPushPointImu ? BuildUpdateOrbitLidarCfgRequest
                                               : BuildUpdateLidarCfgRequest;
}

// The traits of the model `dev_type`, which must have a row (a missing one is no constant
// expression, so a handler of an unknown model does not compile).
constexpr ModelTraits TraitsFromTable(uint8_t dev_type, const char* log_file) {
  const LidarModel& model = *FindModel(dev_type);
  return ModelTraits{model.dev_type,
                     model.lidar_ports.cmd_data_port,
                     model.lidar_ports.log_data_port,
                     model.push_source_port,
                     CfgRequestBuilderOf(model.cfg_request),
                     log_file};
}

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_TABLE_TRAITS_H_
