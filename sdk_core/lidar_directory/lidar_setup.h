#ifndef KESTO_LIDAR_LIDAR_SETUP_H_
#define KESTO_LIDAR_LIDAR_SETUP_H_

#include <map>
#include <mutex>
#include <cstdint>

#include "detection_data.h"
#include "general_command_handler.h"
#include "kesto_lidar_sdk.h"
#include "lidar_cfg.h"
#include "lidar_directory.h"
#include "observer_slot.h"

namespace kesto::lidar {

// The walk of a lidar's set-up, one way down: routing hands it each discovery reply, the lidar
// directory decides what the reply means, and this sends what the directory asks for through
// the command machinery. The answers come back as completions of those commands, which tell
// the directory and, where a step follows at once, take it. It owns the information-change
// observer and the state observer.
//
// Threads: OnDiscoveryPeriod runs on the detection thread; OnDiscoveryReply and the completions run on the IO threads; the observer setter on
// any thread. It holds no lock of its own; the directory's lock is never held while it sends.
class LidarSetup {
 public:
  LidarSetup(LidarDirectory& directory, GeneralCommandHandler& commands);
  LidarSetup(const LidarSetup&) = delete;
  LidarSetup& operator=(const LidarSetup&) = delete;

  // A decoded, successful discovery reply of a lidar. IO thread.
  void OnDiscoveryReply(uint32_t handle, const DetectionData& data);
  // The lidar's set-up has ended: the information-change observer is told, once per set-up.
  void KestoLidarInfoChange(uint32_t handle);
  // A discovery period begins: lidars silent for too long are lost. Detection thread.
  void OnDiscoveryPeriod();

  void SetInfoChangeObserver(KestoLidarInfoChangeObserver observer, void* client_data);
  void SetLidarStateObserver(KestoLidarStateObserver observer, void* client_data);

  // Completions; `client_data` is this set-up.
  static void QueryFwTypeCallback(kesto_status status, uint32_t handle,
                                  KestoLidarDiagInternalInfoResponse* response, void* client_data);
  static void InternalInfoCallback(kesto_status status, uint32_t handle,
                                   KestoLidarDiagInternalInfoResponse* response, void* client_data);

 private:
  void QueryFwType(uint32_t handle, uint8_t dev_type);
  void Configure(uint32_t handle, const SetupDecision& decision);
  void ConfigureView(const ViewLidarIpInfo& info);
  void OnConfigured(uint32_t handle, ConfigOutcome outcome);
  void AddViewLidar(uint32_t handle, const KestoLidarDiagInternalInfoResponse* response);

  LidarDirectory& directory_;
  GeneralCommandHandler& commands_;
  ObserverSlot<void(uint32_t, const KestoLidarIdentity*)> info_change_;
  ObserverSlot<void(uint32_t, int, const KestoLidarIdentity*)> state_change_;
  // Failed firmware-type answers before the count is reset, by lidar; the completions of several
  // IO threads reach it, each under the mutex for one step.
  int CountFwRetry(uint32_t handle);  // the count before this failure
  void ForgetFwRetries(uint32_t handle);
  std::mutex fw_retries_mutex_;
  std::map<uint32_t, int> fw_retries_;  // guarded by fw_retries_mutex_
};

}  // namespace kesto::lidar

#endif  // KESTO_LIDAR_LIDAR_SETUP_H_
