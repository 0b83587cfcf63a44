#ifndef KESTO_LIDAR_PARSE_CFG_FILE_H_
#define KESTO_LIDAR_PARSE_CFG_FILE_H_

#include <memory>
#include <string>

#include "lidar_cfg.h"

namespace kesto::lidar {

// Reads the kit's JSON configuration file once, at start, on the application thread.
class ConfigFileParser {
 public:
  explicit ConfigFileParser(std::string path) : path_(std::move(path)) {}

  // Fills the four outputs, which it creates fresh once the JSON text has been read. False, with
  // the reason logged, when the file cannot be opened, is not JSON or breaks the schema; the
  // outputs are then incomplete and must be discarded. Never throws.
  bool Parse(std::shared_ptr<LidarCfgList>& lidars_cfg,
             std::shared_ptr<LidarCfgList>& custom_lidars_cfg,
             std::shared_ptr<KestoLidarLoggerCfg>& lidar_logger_cfg,
             std::shared_ptr<KestoLidarSdkFrameworkCfg>& sdk_framework_cfg);

 private:
  std::string path_;
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_PARSE_CFG_FILE_H_
