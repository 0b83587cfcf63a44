#ifndef KESTO_LIDAR_PARAMS_CHECK_H_
#define KESTO_LIDAR_PARAMS_CHECK_H_

#include <memory>

#include "lidar_cfg.h"

namespace kesto::lidar {

// Rejects configuration lists that cannot work and forces the fixed ORBIT lidar-side ports.
// Lives for one Check during start-up, on the application thread; it writes the corrected
// ports through the shared lists before anyone else reads them.
class ConfigChecker {
 public:
  ConfigChecker(std::shared_ptr<LidarCfgList> lidars_cfg,
                std::shared_ptr<LidarCfgList> custom_lidars_cfg)
      : lidars_cfg_(std::move(lidars_cfg)), custom_lidars_cfg_(std::move(custom_lidars_cfg)) {}

  // True when the lists may be used. Stops at the first failed rule, with its one log line.
  bool Check();

 private:
  bool CheckLidarIp();
  void CheckPort(uint8_t dev_type, LidarNetInfo& lidar_net_info);
  bool CheckLidarMulticastIp();

  std::shared_ptr<LidarCfgList> lidars_cfg_;
  std::shared_ptr<LidarCfgList> custom_lidars_cfg_;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_PARAMS_CHECK_H_
