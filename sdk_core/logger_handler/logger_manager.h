#ifndef KESTO_LIDAR_LOGGER_MANAGER_H_
#define KESTO_LIDAR_LOGGER_MANAGER_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "detection_data.h"
#include "kesto_lidar_sdk.h"
#include "lidar_cfg.h"
#include "lidar_identities.h"
#include "log_cleanup.h"
#include "log_file_push.h"
#include "logger_command_sender.h"
#include "logger_handler.h"
#include "protocol.h"

namespace kesto::lidar {

// Captures the log files the lidars push to the host's log port: answers the pushes that ask
// for a reply, hands each push to the LoggerHandler of its lidar (which writes it on its own
// thread), keeps "type_0" and "type_1" of the store under their size limits with a clean-up
// thread, and at the end asks every known lidar to stop its log stream.
//
// One per kit (the Kit owns it); tests build private ones.
//
// Threads:
//   - Init, Uninit: the application thread (kit start and stop), serialised by lifecycle_mutex_.
//   - Handler (and the three On... operations): the log channel's IO thread.
//   - StopLogger: any thread.
//   - the clean-up thread (CycleDelete) and one writer thread per LoggerHandler.
// maps_mutex_ guards the handlers, the save path and the capturing flag;
// it is never held while a command is sent or a writer is joined. wake_mutex_ guards the wake
// flag only; a clean-up pass runs without it, so a wake-up never waits for a disk scan.
class LoggerManager {
 public:
  // `lidars` (may be null: then no lidar is known) names the lidars whose pushes are taken and
  // who are told to stop at Uninit; it must outlive this capture.
  explicit LoggerManager(const LidarIdentities* lidars = nullptr);
  // Runs Uninit.
  ~LoggerManager();
  LoggerManager(const LoggerManager&) = delete;
  LoggerManager& operator=(const LoggerManager&) = delete;

  // Starts capture when `cfg` enables it with a cache size of 1 to 1,000,000,000 MB; otherwise
  // leaves capture off and still succeeds. False only when the store cannot be made. `sender`
  // carries the replies and stop commands and must outlive the capture (until Uninit). A
  // capture still running from an earlier Init is stopped first. Application thread.
  bool Init(std::shared_ptr<KestoLidarLoggerCfg> cfg, LoggerCommandSender* sender);
  // True while capture runs: the device manager opens log channels only then.
  bool IsEnabled() const { return enabled_.load(); }
  // One datagram from a lidar's log port. Log IO thread.
  void Handler(uint32_t handle, uint16_t port, const uint8_t* buf, uint32_t size);
  // Sends the stop command (0x0301) for `log_type`; the result of SendLoggerCommand, or -9
  // when there is no sender. Any thread.
  int32_t StopLogger(uint32_t handle, uint8_t log_type, KestoLidarLoggerCallback done,
                     void* client_data);
  // Stops capture: the clean-up thread (after one last pass), every writer, a stop command for
  // log type 0 to every detected lidar, then every hidden file of the store gets its finished
  // name. Returns the previous stopped flag: true when already stopped (nothing done).
  bool Uninit();

  // The store directory ("./" before the first Init) and the limits in force.
  std::string SavePath() const;
  LogStoreLimits Limits() const;

 private:
  bool InitLoggerSavePath(const std::string& path);
  void OnLoggerStart(uint32_t handle, const LogFilePush& push);
  void OnLoggerStopped(uint32_t handle, const LogFilePush& push);
  void OnLoggerTransfer(uint32_t handle, const LogFilePush& push);
  std::shared_ptr<LoggerHandler> FindHandler(uint32_t handle);
  void CycleDelete();
  void WakeCycleDelete();
  bool UninitLocked();

  const LidarIdentities* const lidars_;
  std::atomic<bool> enabled_{false};
  std::atomic<bool> running_{false};  // the clean-up thread's run flag
  std::atomic<bool> stopped_{false};
  std::atomic<LoggerCommandSender*> sender_{nullptr};
  const std::unique_ptr<Protocol> codec_;  // stateless, shared by every caller

  mutable std::mutex lifecycle_mutex_;
  LogStoreLimits limits_;                 // written by Init before the clean-up thread starts
  std::unique_ptr<std::thread> cleaner_;  // guarded by lifecycle_mutex_

  std::mutex wake_mutex_;
  std::condition_variable wake_cv_;
  bool wake_ = false;  // guarded by wake_mutex_

  mutable std::mutex maps_mutex_;
  std::string save_path_ = "./";                                   // guarded by maps_mutex_
  bool capturing_ = false;  // handlers may be made; guarded by maps_mutex_
  std::map<uint32_t, std::shared_ptr<LoggerHandler>> handlers_;   // guarded by maps_mutex_
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_LOGGER_MANAGER_H_
