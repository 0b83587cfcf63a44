#include "kit.h"

#include <utility>

#include "params_check.h"
#include "parse_cfg_file.h"

namespace kesto::lidar {

Kit::Kit(GeneralCommandHandler::Clock clock)
    : logger_(&directory_),
      general_(&directory_, std::move(clock)),
      setup_(directory_, general_),
      device_manager_(data_, directory_, setup_, general_, logger_, &recorder_) {
  general_.AttachLink(&device_manager_);
}

Kit::~Kit() {
  Stop();
  // While every part still lives: the completions of the set-up's own commands reach it.
  general_.CompleteAllPending();
  // The device manager goes first, as members do: nothing sends through it after that.
  general_.AttachLink(nullptr);
}

bool Kit::StartFromConfigFile(const char* cfg_path) {
  std::shared_ptr<LidarCfgList> lidars_cfg;
  std::shared_ptr<LidarCfgList> custom_lidars_cfg;
  std::shared_ptr<KestoLidarLoggerCfg> lidar_logger_cfg;
  std::shared_ptr<KestoLidarSdkFrameworkCfg> sdk_framework_cfg;
  if (!ConfigFileParser(cfg_path).Parse(lidars_cfg, custom_lidars_cfg, lidar_logger_cfg,
                                        sdk_framework_cfg)) {
    return false;
  }
  if (!ConfigChecker(lidars_cfg, custom_lidars_cfg).Check()) return false;
  return device_manager_.Init(lidars_cfg, custom_lidars_cfg, lidar_logger_cfg, sdk_framework_cfg);
}

bool Kit::StartOnHost(const char* host_ip, const KestoLidarLoggerCfgInfo* log_cfg_info) {
  return device_manager_.Init(host_ip, log_cfg_info);
}

void Kit::Stop() {
  logger_.Uninit();
  device_manager_.Stop();
  recorder_.Stop();
}

}  // namespace kesto::lidar
