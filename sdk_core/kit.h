#ifndef KESTO_LIDAR_KIT_H_
#define KESTO_LIDAR_KIT_H_

#include <memory>
#include <string>

#include "clock.h"
#include "data_handler.h"
#include "device_manager.h"
#include "general_command_handler.h"
#include "kesto_lidar_sdk.h"
#include "lidar_directory.h"
#include "lidar_setup.h"
#include "logger_manager.h"
#include "session_recorder.h"

namespace kesto::lidar {

// Everything one run of the kit needs, owned in one place: the data handler, the log capture,
// the lidar directory, the command machinery (model handlers and pending commands), the lidar
// set-up, the session recorder and the device manager with its threads. The start entry points create one and the
// stop destroys it; nothing of a run outlives it. Tests build a Kit, or any of its parts, on
// their own.
//
// Threads: construction, Start, Stop and destruction on the application thread; the parts say
// which of theirs run on the kit's threads.
class Kit {
 public:
  explicit Kit(GeneralCommandHandler::Clock clock = SteadyNow);
  // Stops the kit if it still runs, then destroys the parts in the reverse order of their
  // construction: the device manager (joining its IO threads) first, the data handler last.
  ~Kit();
  Kit(const Kit&) = delete;
  Kit& operator=(const Kit&) = delete;

  // From a configuration file: parse, check, then start the device manager. False (logged by
  // the part that failed) on any failure.
  bool StartFromConfigFile(const char* cfg_path);
  // On a host address (view mode). `log_cfg_info` may be null.
  bool StartOnHost(const char* host_ip, const KestoLidarLoggerCfgInfo* log_cfg_info);
  // The log capture first (its stop commands still leave through the device manager), then the
  // device manager: afterwards no kit thread calls into any part or any observer. Last the
  // recording, which then holds every datagram of the run that it did not drop.
  void Stop();

  DataHandler& data() { return data_; }
  LoggerManager& logger() { return logger_; }
  LidarDirectory& directory() { return directory_; }
  GeneralCommandHandler& commands() { return general_; }
  LidarSetup& setup() { return setup_; }
  DeviceManager& device_manager() { return device_manager_; }
  // Started, when wanted, before the kit starts, so the first discovery is recorded.
  SessionRecorder& recorder() { return recorder_; }

 private:
  DataHandler data_;
  LidarDirectory directory_;
  LoggerManager logger_;
  GeneralCommandHandler general_;
  LidarSetup setup_;
  SessionRecorder recorder_;
  DeviceManager device_manager_;  // last: destroyed, and its threads joined, first
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_KIT_H_
