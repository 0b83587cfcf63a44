// The configuration file as the kit reads it at start: bytes written to a file, parsed, then
// checked, then turned into the requests the model handlers would send. None of it may fault.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "build_request.h"
#include "params_check.h"
#include "parse_cfg_file.h"

namespace {

// One file per fuzzing process, in the temporary directory.
const std::string& ConfigPath() {
  static const std::string path =
      (std::filesystem::temp_directory_path() /
       ("kesto_config_fuzz_" + std::to_string(std::random_device{}()) + ".json"))
          .string();
  return path;
}

void RemoveConfigFile() { std::remove(ConfigPath().c_str()); }

}  // namespace

// The path is built before the exit hook is registered, so the hook runs while it still exists.
// libFuzzer ends a bounded run through exit(), which runs the hook; after a finding it leaves
// through _Exit and the file stays beside the reproducer.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ConfigPath();
  if (std::atexit(RemoveConfigFile) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kesto::lidar;
  std::FILE* file = std::fopen(ConfigPath().c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  std::shared_ptr<LidarCfgList> lidars, custom;
  std::shared_ptr<KestoLidarLoggerCfg> logger;
  std::shared_ptr<KestoLidarSdkFrameworkCfg> sdk;
  if (!ConfigFileParser(ConfigPath()).Parse(lidars, custom, logger, sdk)) return 0;
  if (!lidars || !custom || !logger || !sdk) std::abort();  // a true result creates all four
  if (!ConfigChecker(lidars, custom).Check()) return 0;
  for (const LidarCfgList* list : {lidars.get(), custom.get()}) {
    for (const KestoLidarCfg& cfg : *list) {
      RequestBuffer buffer{};
      uint16_t length = 0;
      if (BuildUpdateLidarCfgRequest(cfg, buffer, length) && length > 28) std::abort();
      if (BuildUpdateOrbitLidarCfgRequest(cfg, buffer, length) && length != 40) std::abort();
    }
  }
  return 0;
}
